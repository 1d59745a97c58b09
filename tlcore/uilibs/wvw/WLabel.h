// Labels: static text, wrapped or on one line, aligned in its rectangle,
// optionally selectable with the pointer and copied with Ctrl+C; the label
// whose text carries an "&" mnemonic marker; and the push button whose face
// is a centred label.
//
// Selection offsets count bytes of the concatenated display lines; a new
// text clears the selection. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "wvw/WButton.h"
#include "wvw/WEditMenu.h"

namespace wvw {

class WLabel : public Widget, public WEditMenu::Callback {
public:
  enum Align { kStart = 0, kCentre = 1, kEnd = 2 };

  explicit WLabel(const char* text, int hAlign = kStart);

  void setText(const char* text);
  const char* getText() const { return text_.get(); }
  // Drops the "&" markers ("&&" becomes "&").
  void stripMnemonic();
  void setAlignment(int hAlign, int vAlign);
  void setMargin(int margin);
  void setWrap(bool wrap);
  void setTransparent(bool transparent);
  void setUnderline(bool underline);
  void setSelectable(bool selectable);
  void selectAll();

  const std::vector<plat::String>& lines() const { return lines_; }
  int selectionStart() const;
  int selectionEnd() const;
  int totalLength() const { return totalLength_; }

  void menuAction(int action) override;
  // Made on the first context request (button index 2) of a selectable label.
  WEditMenu* editMenu() const { return editMenu_.get(); }
  virtual void splitLines();
  // A byte offset into the concatenated lines.
  virtual int charIndexAt(const rfb::Point& point);

  bool copy(Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool enabledChanged(Widget* source) override;
  bool resized(Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  void styleChanged() override;
  bool wantsFocus() override { return selectable_ && isEnabled() && isVisible(); }
  rfb::Point preferredSize() override;
  int preferredWidth(int height) override;
  int preferredHeight(int width) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

protected:
  // Where line i is drawn.
  int lineTop(int i) const;
  int lineLeft(int i) const;

  void clearSelection();
  // Moves a byte offset of text back to the start of the character it falls in.
  static int charStart(const char* text, int length, int offset);

  // The rich text (WRichText) lays out and selects over these itself.
  plat::String text_;
  std::vector<plat::String> lines_;
  int hAlign_;
  int vAlign_ = kCentre;
  int margin_ = 4;
  bool wrap_ = true;
  bool transparent_ = false;
  bool underline_ = false;
  bool selectable_ = false;
  bool selecting_ = false;
  int selAnchor_ = 0;
  int selLength_ = 0;
  int totalLength_ = 0;
  std::unique_ptr<WEditMenu> editMenu_;
};

class WLabelWithMnemonic : public WLabel {
public:
  explicit WLabelWithMnemonic(const char* text, int hAlign = kStart);

  // Strips the markers and records the marked character.
  void setText(const char* text);
  int getMnemonic() const { return mnemonic_; }
  int getMnemonicIndex() const { return mnemonicIndex_; }
  void setShowMnemonic(bool show) { showMnemonic_ = show; }

  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  int mnemonic_ = 0;
  int mnemonicIndex_ = -1;
  bool showMnemonic_ = true;
};

class WLabelButton : public WBevelButton {
public:
  static constexpr int kMinWidth = 60;

  explicit WLabelButton(const char* text);
  WLabel& label() { return label_; }
  rfb::Point preferredSize() override;

private:
  WLabel label_;
};

} // namespace wvw
