// The widget back-ends of the button kinds: a push button painted by a
// custom widget (bevel, images for its pointer states, label, drop arrow)
// and a labelled check box. Each owns the widgets that show it.
// Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "mui/MuButtons.h"
#include "mui/MuLeafWvw.h"
#include "wvw/WLabelWidget.h"

namespace mui {

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

} // namespace mui
