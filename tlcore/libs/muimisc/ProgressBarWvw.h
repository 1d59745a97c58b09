// The widget back-end of the progress bar: a custom widget painted in the
// bar's two colours. Loop thread only.
#pragma once

#include "mui/MuiWvw.h"
#include "muimisc/ProgressBar.h"
#include "wvw/WSmallControls.h"

namespace muimisc {

class ProgressBarWvw : public ProgressBar, public wvw::WCustom::Callback {
public:
  ProgressBarWvw(mui::MuContainer* parent, const char* name);
  ~ProgressBarWvw() override;

  void paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb) override;
  rfb::Point preferredSize(wvw::WCustom*) override
  {
    return rfb::Point(preferredWidth(-1), preferredHeight(-1));
  }
  bool wantsFocus(wvw::WCustom*) override { return false; }

  wvw::WCustom& widget() { return custom_; }

private:
  wvw::WStyle wstyle_;
  wvw::WCustom custom_;
};

} // namespace muimisc
