// The one-line edit field: UTF-8 text with a byte limit, a caret and a
// selection (byte offsets, always on character boundaries), keyboard
// editing with dead keys, pointer selection, copy and paste through the
// hosting window's clipboard, a filter that may refuse any change, a
// password mode and a placeholder; the field with completion from a list;
// and the filter for unsigned decimal numbers.
//
// Every change of the text ends with valueChanged(this); handlers may
// destroy the field from there. In password mode the text is never copied
// out, and its buffers are wiped when replaced and when the field goes; a
// sensitive field shows its text but wipes its buffers in the same way.
// The field reports every key as handled, does not blink its caret and
// sends no click time-outs. Loop thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plat/DString.h"
#include "rfb/DeadKeyUtil.h"
#include "wvw/WEditMenu.h"
#include "wvw/Widget.h"

namespace wvw {

class WEdit : public Widget, public WEditMenu::Callback {
public:
  class Filter {
  public:
    virtual ~Filter();
    // typedChar: the typed code point, 0 for deletions and pastes.
    virtual bool filter(WEdit* edit, const char* candidate, uint32_t typedChar) = 0;
  };
  enum class ContextMenu { No, Yes };
  enum class Caret { AtStart, AtEnd };

  WEdit(int maxLength, const char* initialText = nullptr, ContextMenu contextMenu = ContextMenu::Yes);
  ~WEdit() override;

  // --- Contents ---
  // Cut to maxLength on a character boundary; invalid UTF-8 is mended.
  void setText(const char* text, Caret caret = Caret::AtEnd);
  const char* getText() const { return text_.get(); }
  int length() const { return text_.length(); }
  void setMaxLength(int maxLength);
  int getMaxLength() const { return maxLength_; }
  // end -1: the end of the text. The caret goes to end.
  void setSelection(int start, int end);
  // Replaces the selection; false when the filter refused.
  bool insertText(const char* text, uint32_t typedChar);
  int getCaret() const { return caret_; }
  int getSelLength() const { return selLength_; }
  int selectionStart() const { return caret_ + std::min(selLength_, 0); }
  int selectionEnd() const { return caret_ + std::max(selLength_, 0); }

  // --- Settings ---
  void setPlaceholder(const char* text);
  void setPassword(bool password);
  bool isPassword() const { return password_; }
  void setSensitive(bool sensitive) { sensitive_ = sensitive; }
  void setFocusable(bool focusable) { focusable_ = focusable; }
  void setFilter(Filter* filter) { filter_ = filter; }
  void setAlignment(int hAlign, int vAlign);
  int getScrollX() const { return scrollX_; }
  WEditMenu* editMenu() const { return editMenu_.get(); }

  // --- Widget ---
  void menuAction(int action) override;
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool copy(Widget* source) override;
  bool paste(Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool enabledChanged(Widget* source) override;
  void styleChanged() override;
  bool timerExpired(plat::Timer*) override { return false; }
  bool wantsFocus() override { return focusable_ && isEnabled() && isVisible(); }
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

  // The text area: the field inset 6 left and right, 4 top and bottom.
  static constexpr int kInsetX = 6;
  static constexpr int kInsetY = 4;

protected:
  // One typed key (after dead-key processing).
  void processKey(uint32_t keysym);

private:
  void assignText(plat::DString&& text);
  void moveCaret(int to, bool extend);
  int nextChar(int i) const;
  int prevChar(int i) const;
  int wordLeft(int i) const;
  int wordRight(int i) const;
  // The byte offset nearest to x in widget coordinates.
  int offsetAt(int x);
  // The shown text's width up to a byte offset of the text, and of the
  // bytes [a, b).
  int widthTo(int offset) { return spanWidth(0, offset); }
  int spanWidth(int a, int b);
  // The text's width and the caret's offset, kept between paints: typing
  // updates them from the changed bytes only.
  int cachedTextWidth();
  int cachedCaretX();
  // Draws the shown string with byte anchor of it at pen x anchorX, only
  // the glyphs that reach into the area of width areaWidth.
  void drawVisible(rfb::WritablePixelBuffer& view, const char* shown, int anchor, int anchorX, int y, int areaWidth,
                   int selA, int selB, rfb::Pixel normal, rfb::Pixel selected, rfb::Pixel selectionBg);
  void wipe(plat::DString& s) const;

  plat::DString text_;
  plat::String placeholder_;
  rfb::DeadKeyUtil deadKeys_;
  int maxLength_;
  int caret_ = 0;
  int selLength_ = 0;
  int scrollX_ = 0;
  bool password_ = false;
  bool sensitive_ = false;
  bool focusable_ = true;
  bool dragging_ = false;
  bool contextMenu_;
  Filter* filter_ = nullptr;
  int hAlign_ = 0;
  int vAlign_ = 1;
  std::unique_ptr<WEditMenu> editMenu_;
  plat::Timer pressTimer_;
  rfb::Point lastPressRoot_;
  int dragAnchor_ = 0;
  uint64_t textGen_ = 0;
  struct Measures {
    uint64_t gen = ~0ull; // the text they belong to
    int width = 0;
    int caret = -1; // the caret caretX belongs to
    int caretX = 0;
  } measures_;
};

class WEditAutocomplete : public WEdit {
public:
  using WEdit::WEdit;

  enum class Case { Insensitive, Sensitive };
  // A string that is a prefix of an earlier one goes before it.
  void setCompletions(const std::vector<std::string>& completions, Case sensitivity);
  const std::vector<std::string>& completions() const { return completions_; }

  bool key(uint32_t keysym, bool down, Widget* source) override;

private:
  bool isPrefix(const std::string& prefix, const char* text) const;

  std::vector<std::string> completions_;
  bool caseSensitive_ = false;
};

// Admits the empty text and unsigned decimal numbers up to 2147483647.
class WEditUnsignedNumberFilter : public WEdit::Filter {
public:
  bool filter(WEdit* edit, const char* candidate, uint32_t typedChar) override;
};

} // namespace wvw
