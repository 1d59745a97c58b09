// The widget back-ends of the leaf kinds: each class derives from its kind,
// owns the widgets that show it and its copy of the back-end style, and
// hears its widgets through the input-handler chain. Only user input raises
// kChanged: every setter holds the setting flag around the widget call.
// Loop thread only.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "mui/MuLeaves.h"
#include "mui/MuiWvw.h"
#include "plat/Markup.h"
#include "wvw/WLabelWidget.h"
#include "wvw/WRichText.h"
#include "wvw/WSlider.h"

namespace mui {

// An image widget that shows a named image or a pixel buffer of its own
// (owned or borrowed), centred, greyed while disabled.
class WImageWvw : public wvw::Widget {
public:
  // A null name removes the image; a zero size is the display's scale.
  void setNamed(const char* name, const rfb::Point& size);
  void setBuffer(std::unique_ptr<rfb::PixelBuffer> image);
  rfb::PixelBuffer* image() const { return image_; }

  rfb::Point preferredSize() override;
  bool wantsFocus() override { return false; }
  bool enabledChanged(wvw::Widget*) override
  {
    repaint();
    return false;
  }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  rfb::PixelBuffer* image_ = nullptr;
  plat::SharedHandle<tlutil::NamedImagePixelBuffer> named_;
  std::unique_ptr<rfb::PixelBuffer> owned_;
};

// The part every leaf back-end shares: the style copy and the setting flag.
class LeafWvw : public wvw::WInputHandler {
protected:
  explicit LeafWvw() : wstyle_(MuiWvw::instance().getStyle()) {}
  // Sets the flag for the life of the guard, restoring the old value.
  class Setting {
  public:
    explicit Setting(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~Setting() { flag_ = old_; }

  private:
    bool& flag_;
    bool old_;
  };
  wvw::WStyle wstyle_;
  bool setting_ = false;
};

class MuButtonWvw : public MuButton, public LeafWvw, public wvw::WCustom::Callback {
public:
  enum PointerState : uint32_t { kHover = 1, kPressed = 2 };
  enum StyleFlags : uint32_t { kDropArrow = 1, kNoFocus = 2, kFaceOnHover = 4, kCompact = 8 };

  MuButtonWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
              uint32_t alignment);
  ~MuButtonWvw() override;

  void setLabel(const char* label) override;
  void setImage(const char* name, const Size& size, int state, bool keepName) override;
  void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image, int state) override;
  void setImageSizes(const Size& topLeft, const Size& bottomRight) override;
  void stateChanged() override;
  void styleChanged() override;
  bool mouseEvent(const tlutil::MouseEvent& event) override;

  // --- The custom widget ---
  void paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb) override;
  rfb::Point preferredSize(wvw::WCustom* widget) override;
  bool wantsFocus(wvw::WCustom* widget) override;
  bool key(uint32_t keysym, bool down, wvw::Widget* source) override;
  bool focusChanged(bool backward, wvw::Widget* source) override;
  bool resized(wvw::Widget* source) override;

  uint32_t pointerState() const { return pointer_; }
  wvw::WCustom& widget() { return custom_; }

private:
  // The image shown now: pressed falls back to hover, hover to normal.
  rfb::PixelBuffer* currentImage() const;
  void layOut();
  rfb::Point contentSize();
  void setPointer(uint32_t state);

  wvw::WCustom custom_;
  WImageWvw images_[3];
  wvw::WLabel label_;
  wvw::WArrow arrow_;
  uint32_t pointer_ = 0;
};

class MuCheckWvw : public MuCheck, public LeafWvw {
public:
  MuCheckWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer,
             const char* styleName = nullptr);
  ~MuCheckWvw() override;

  void setLabel(const char* label) override;
  void setChecked(bool checked) override;
  bool isChecked() const override;
  void setIndeterminate() override;
  bool isIndeterminate() const override;
  void setLabelWidth(int labelRule, int widgetRule) override { box_->setSizes(labelRule, widgetRule); }
  int labelWidth() const override { return box_->checkBox().preferredWidth(0); }
  bool valueChanged(wvw::Widget* source) override;

  wvw::WLabelCheckBox& widget() { return *box_; }

private:
  std::unique_ptr<wvw::WLabelCheckBox> box_;
};

class MuChoiceWvw : public MuChoice, public LeafWvw {
public:
  enum Flags : uint32_t { kEditable = 1, kAutocomplete = 2 };

  MuChoiceWvw(MuContainer* parent, const char* name, const char* label, uint32_t flags = kEditable);
  ~MuChoiceWvw() override;

  // Indices are the items' ids.
  void select(int index) override;
  int selectedIndex() const override;
  void setText(const char* text) override;
  plat::String text() const override;
  void insertItem(int index, const char* text) override;
  void removeItem(int index) override;
  void clearItems() override;
  plat::DString getItems() const override;
  void setLabelWidth(int labelRule, int widgetRule) override { choice_.setSizes(labelRule, widgetRule); }
  int labelWidth() const override { return const_cast<wvw::WLabelChoice&>(choice_).choice().preferredWidth(0); }
  bool valueChanged(wvw::Widget* source) override;

  wvw::WLabelChoice& widget() { return choice_; }

private:
  wvw::WLabelChoice choice_;
  std::map<int, std::string> labels_;
  uint32_t flags_;
};

class MuEditWvw : public MuEdit, public LeafWvw, public wvw::WEdit::Filter {
public:
  MuEditWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  ~MuEditWvw() override;

  void setText(const char* text) override;
  plat::String getText() const override;
  plat::SecureString getSecret() const override;
  void setSensitive(bool sensitive) override;
  void setHint(const char* hint) override;
  void setSelection(int start, int length) override;
  int getSelection(int* length) const override;
  void setFocus() override;
  void styleChanged() override;
  void setLabelWidth(int labelRule, int widgetRule) override { edit_.setSizes(labelRule, widgetRule); }
  int labelWidth() const override { return const_cast<wvw::WLabelEdit&>(edit_).edit().preferredWidth(0); }
  // Stored only.
  void setExtra(int32_t a, int32_t b) { extra_[0] = a, extra_[1] = b; }

  bool valueChanged(wvw::Widget* source) override;
  bool filter(wvw::WEdit* edit, const char* candidate, uint32_t typedChar) override;

  wvw::WLabelEdit& widget() { return edit_; }

private:
  wvw::WLabelEdit edit_;
  wvw::WStyle entryStyle_;
  plat::String hint_;
  int32_t extra_[2] = {0, 0};
};

class MuImageWvw : public MuImage, public LeafWvw {
public:
  MuImageWvw(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  ~MuImageWvw() override;

  void setImage(const char* name, const Size& size) override;
  void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image) override;
  Size imageSize() const override;

private:
  WImageWvw image_;
};

// Two grey lines across (etched) or one colour over the whole area.
class WLineWvw : public wvw::Widget {
public:
  WLineWvw(bool horizontal, bool etched, const MuElement* element)
    : horizontal_(horizontal), etched_(etched), element_(element)
  {
  }
  rfb::Point preferredSize() override { return rfb::Point(2, 2); }
  bool wantsFocus() override { return false; }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  bool horizontal_;
  bool etched_;
  const MuElement* element_;
};

class MuLineWvw : public MuLine, public LeafWvw {
public:
  MuLineWvw(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  ~MuLineWvw() override;
  void styleChanged() override { line_.repaint(); }

private:
  WLineWvw line_;
};

class MuSliderWvw : public MuSlider, public LeafWvw {
public:
  enum Direction : uint32_t { kHorizontal = 0, kVertical = 1 };
  MuSliderWvw(MuContainer* parent, const char* name, uint32_t direction);
  ~MuSliderWvw() override;

  void setValue(int value) override;
  int value() const override;
  void setRange(int minimum, int maximum) override;
  int minimum() const override { return min_; }
  int maximum() const override;
  bool valueChanged(wvw::Widget* source) override;

  wvw::WDiscreteSlider& widget() { return slider_; }

private:
  bool vertical() const { return direction_ == kVertical; }
  int range() const { return vertical() ? slider_.getRange().y : slider_.getRange().x; }
  int position() const { return vertical() ? slider_.getValue().y : slider_.getValue().x; }

  wvw::WDiscreteSlider slider_;
  int min_ = 0;
};

class MuStaticWvw : public MuStatic, public LeafWvw {
public:
  MuStaticWvw(MuContainer* parent, const char* name, const char* text, uint32_t type);
  ~MuStaticWvw() override;

  void setText(const char* text, bool bold, bool singleLine) override;
  void setSize(const Size& size) override;
  void styleChanged() override;
  // Both measured once per text (layouts ask often; parsing is dear).
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  bool resized(wvw::Widget* source) override;

  wvw::WRichText& widget() { return text_; }

private:
  plat::DString markup(int width) const;
  // Sets the markup when it changed.
  void rebuild();

  wvw::WRichText text_;
  int builtWidth_ = -1;
  mutable int naturalWidth_ = -1;
  mutable rfb::Point heightFor_{-1, 0};
};

class MuTextWvw : public MuText, public LeafWvw, public plat::Markup::LinkCallback {
public:
  MuTextWvw(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
            uint32_t flag);
  ~MuTextWvw() override;

  void setMarkup(const char* markup) override;
  void styleChanged() override;
  bool linkActivated(const char* href) override;

  wvw::WRichText& widget() { return text_; }

private:
  wvw::WRichText text_;
};

class MuSuperboxWvw : public MuSuperbox, public LeafWvw {
public:
  MuSuperboxWvw(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler, int popupHeight);
  ~MuSuperboxWvw() override;

  plat::String getText() const override;
  void setText(const char* text) override;
  void setHint(const char* hint) override;
  rfb::Rect fieldRect() const override;
  bool key(uint32_t keysym, bool down, wvw::Widget* source) override;
  bool valueChanged(wvw::Widget* source) override;

  wvw::WLabelEdit& widget() { return edit_; }

private:
  wvw::WLabelEdit edit_;
  plat::String hint_;
};

} // namespace mui
