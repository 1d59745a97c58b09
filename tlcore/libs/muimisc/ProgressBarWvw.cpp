#include "muimisc/ProgressBarWvw.h"

#include <algorithm>

#include "plat/Colour.h"
#include "rfb/PixDraw.h"

namespace muimisc {

ProgressBarWvw::ProgressBarWvw(mui::MuContainer* parent, const char* name)
  : ProgressBar(parent, name),
    wstyle_(mui::MuiWvw::instance().getStyle()),
    custom_(this, wvw::WLayout::PointerRouting::ToSelf)
{
  custom_.setStyle(&wstyle_);
  setCommon(std::make_unique<mui::MuCommonWvw>(this, &custom_));
}

ProgressBarWvw::~ProgressBarWvw()
{
  setCommon(nullptr);
}

void ProgressBarWvw::paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb)
{
  const int w = widget->width(), h = widget->height();
  const int split = std::min(filled(), w);
  auto fill = [&](const rfb::Rect& r, const char* colour) {
    if (r.isEmpty())
      return;
    const plat::Colour c = plat::getColor(colour, plat::Colour{0, 0, 0});
    const int rgb[3] = {c.r, c.g, c.b};
    rfb::fillRect(pb, r, pb.format.pixelFromRGB(rgb, pb.colourMap));
  };
  fill(rfb::Rect(0, 0, split, h), fillColour());
  fill(rfb::Rect(split, 0, w, h), backgroundColour());
}

} // namespace muimisc
