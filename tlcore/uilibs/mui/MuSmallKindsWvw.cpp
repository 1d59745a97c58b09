#include "mui/MuSmallKindsWvw.h"

#include "plat/Colour.h"
#include "rfb/PixDraw.h"

namespace mui {

namespace {

void fillRgb(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, const plat::Colour& c)
{
  const int rgb[3] = {c.r, c.g, c.b};
  rfb::fillRect(pb, r, pb.format.pixelFromRGB(rgb, pb.colourMap));
}

} // namespace

// --- Image ------------------------------------------------------------------

MuImageWvw::MuImageWvw(MuContainer* parent, const char* name, const char* imageName, const Size& size)
  : MuImage(parent, name, imageName, size)
{
  image_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &image_));
  if (imageName)
    image_.setNamed(imageName, size);
}

MuImageWvw::~MuImageWvw()
{
  setCommon(nullptr);
}

void MuImageWvw::setImage(const char* name, const Size& size)
{
  MuImage::setImage(name, size);
  image_.setNamed(name, size);
}

void MuImageWvw::setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image)
{
  MuImage::setImageBuffer(nullptr);
  image_.setBuffer(std::move(image));
}

Size MuImageWvw::imageSize() const
{
  rfb::PixelBuffer* image = image_.image();
  return image ? Size(image->rect.width(), image->rect.height()) : Size();
}

// --- Line -------------------------------------------------------------------

void WLineWvw::paint(rfb::WritablePixelBuffer& pb)
{
  if (!etched_) {
    const plat::Colour c = plat::getColorWithFallback(element_->effectiveStyle().color.get(), "contentText");
    fillRgb(pb, rfb::Rect(0, 0, width(), height()), c);
    return;
  }
  const wvw::WStyle* s = getStyle();
  const rfb::Rect first = horizontal_ ? rfb::Rect(0, 0, width(), 1) : rfb::Rect(0, 0, 1, height());
  const rfb::Rect second = horizontal_ ? rfb::Rect(0, 1, width(), 2) : rfb::Rect(1, 0, 2, height());
  fillRgb(pb, first, s->bevelFrame);
  fillRgb(pb, second, s->bevelLight);
}

MuLineWvw::MuLineWvw(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
  : MuLine(parent, name, horizontal, etched, thickness), line_(horizontal, etched, this)
{
  line_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &line_));
}

MuLineWvw::~MuLineWvw()
{
  setCommon(nullptr);
}

} // namespace mui
