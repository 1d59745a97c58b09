#include "mui/MuLeafWvw.h"

#include <algorithm>

#include "rfb/PixDraw.h"

namespace mui {

// --- Image widget -----------------------------------------------------------

void WImageWvw::setNamed(const char* name, const rfb::Point& size)
{
  owned_.reset();
  named_ = name ? tlutil::NamedImagePixelBuffer::get(name, size) : plat::SharedHandle<tlutil::NamedImagePixelBuffer>();
  image_ = named_.get();
  repaint();
}

void WImageWvw::setBuffer(std::unique_ptr<rfb::PixelBuffer> image)
{
  named_ = plat::SharedHandle<tlutil::NamedImagePixelBuffer>();
  owned_ = std::move(image);
  image_ = owned_.get();
  repaint();
}

rfb::Point WImageWvw::preferredSize()
{
  return image_ ? rfb::Point(image_->rect.width(), image_->rect.height()) : rfb::Point();
}

void WImageWvw::paint(rfb::WritablePixelBuffer& pb)
{
  if (!image_ || image_->rect.isEmpty())
    return;
  const int iw = image_->rect.width(), ih = image_->rect.height();
  const rfb::Point at((width() - iw) / 2, (height() - ih) / 2);
  const rfb::Rect r(std::max(at.x, 0), std::max(at.y, 0), std::min(at.x + iw, width()), std::min(at.y + ih, height()));
  if (r.isEmpty())
    return;
  rfb::blendImage(*image_, image_->rect.topLeft.translate(rfb::Point(r.topLeft.x - at.x, r.topLeft.y - at.y)), pb, r,
                  isEnabled() ? rfb::blendOver : rfb::blendGreyOver);
}

} // namespace mui
