// What the widget back-ends of the leaf kinds share: LeafWvw, the base
// that holds the element's copy of the back-end style and the flag that
// keeps a setter's widget call from raising kChanged, and the image widget
// that buttons and images show. The image widget owns pixels it is given
// and shares named images through the image cache. Loop thread only.
#pragma once

#include <memory>

#include "mui/MuiWvw.h"
#include "wvw/WSmallControls.h"

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

} // namespace mui
