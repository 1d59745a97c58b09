#include "tlutil/NamedImage.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>

#include "plat/Colour.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "plat/Resource.h"
#include "tlutil/Scaler.h"

namespace tlutil {

using rfb::Point;
using rfb::Rect;

namespace {

plat::LogSrc vlog("NamedImagePixelBuffer");

// (x + 4) / 8, halves away from zero.
int round8(int x) { return x >= 0 ? (x + 4) / 8 : (x - 4) / 8; }

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// A built-in image kept as its premultiplied argb8888 pixels, row by row,
// after "TLPX" and its width and height: copied rather than decoded.
class PixImage : public rfb::ImageLoader {
public:
  PixImage(const plat::BuiltInResource& r, const char* name)
  {
    const uint8_t* p = static_cast<const uint8_t*>(r.data);
    uint32_t w = 0, h = 0;
    if (r.size >= 12 && memcmp(p, "TLPX", 4) == 0) {
      w = le32(p + 4);
      h = le32(p + 8);
    }
    if (w == 0 || h == 0 || w > (uint32_t)PngFile::kMaxSide || h > (uint32_t)PngFile::kMaxSide ||
        r.size != 12 + (size_t)w * h * 4)
      throw PngException(0, "Bad pixel resource: %s", name);
    size_ = Point((int)w, (int)h);
    pixels_ = p + 12;
  }
  Point getSize() override { return size_; }
  const rfb::PixelFormat& getPf() override { return rfb::argb8888Format(); }
  void getImage(rfb::WritablePixelBuffer* dst, Point pos) override
  {
    PLAT_ASSERT_TEXT(dst->format.equal(getPf()), "dst->format.equal(getPf())");
    int stride = 0;
    uint8_t* mem = dst->getPixelsRW(Rect(pos, pos.translate(size_)), &stride);
    if (!mem)
      return;
    const size_t row = (size_t)size_.x * 4;
    for (int y = 0; y < size_.y; y++)
      memcpy(mem + (size_t)y * stride * 4, pixels_ + y * row, row);
  }

private:
  Point size_;
  const uint8_t* pixels_;
};

} // namespace

NamedImageBadSize::NamedImageBadSize(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("NamedImageBadSize");
}

NamedImageNotFound::NamedImageNotFound(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("NamedImageNotFound");
}

NamedImageFinder::~NamedImageFinder() = default;

void findNamedImage(NamedImageFinder& finder, const char* name, Point& size)
{
  const int s = plat::ppmm;
  char buf[512];
  if (size.x == 0 && size.y == 0) {
    Point plain;
    if (finder.tryName(name)) {
      plain = finder.naturalSize();
      size = Point(round8(plain.x * 2 * s), round8(plain.y * 2 * s));
      if (s == 4)
        return;
    }
    snprintf(buf, sizeof buf, "%s@2x", name);
    if (finder.tryName(buf)) {
      const Point n2 = finder.naturalSize();
      const Point s2(round8(n2.x * s), round8(n2.y * s));
      if (!(size == Point()) && size != s2)
        throw NamedImageBadSize(0, "Badly sized image '%s': @2x/@1x images differ", name);
      size = s2;
      if (s == 8)
        return;
    }
    if (size == Point())
      throw NamedImageNotFound(0, "Bad image name '%s'", name);
  }
  snprintf(buf, sizeof buf, "%s%dx%d", name, size.x, size.y);
  if (finder.tryName(buf)) {
    if (finder.naturalSize() != size)
      throw NamedImageBadSize(0, "Badly sized image '%s%dx%d'", name, size.x, size.y);
    return;
  }
  if (finder.tryName(name) && size.x <= finder.naturalSize().x)
    return;
  snprintf(buf, sizeof buf, "%s@2x", name);
  finder.tryName(buf);
  if (finder.found())
    return;
  throw NamedImageNotFound(0, "Bad image name '%s'", name);
}

void ScaledImageLoader::getImage(rfb::WritablePixelBuffer* pb, Point pos)
{
  rfb::ImageLoader* il = inner_;
  if (il->getSize() == size_) {
    il->getImage(pb, pos);
    return;
  }
  PLAT_ASSERT_TEXT(pb->format.equal(il->getPf()), "pb->getPf().equal(il->getPf())");
  rfb::ManagedPixelBuffer decoded(il);
  Scaler scaler;
  scaler.coords_.dstSz = size_;
  scaler.setSource(&decoded, true);
  const Rect r(pos, pos.translate(size_));
  int stride = 0;
  uint8_t* mem = pb->getPixelsRW(r, &stride);
  scaler.getImage(mem, Rect(Point(), size_), stride);
}

NamedImageLoader::NamedImageLoader(const char* name, const Point& size, PngFile::Premultiply premultiply)
    : size_(size), premultiply_(premultiply)
{
  findNamedImage(*this, name, size_);
}

NamedImageLoader::~NamedImageLoader() = default;

bool NamedImageLoader::tryName(const char* name)
{
  char res[512];
  if (premultiply_ == PngFile::Premultiply::Yes) {
    snprintf(res, sizeof res, "%s.pix", name);
    plat::BuiltInResource r = plat::findBuiltInResource(res);
    if (r.data) {
      image_ = std::make_unique<PixImage>(r, name);
      return true;
    }
  }
  snprintf(res, sizeof res, "%s.png", name);
  plat::BuiltInResource r = plat::findBuiltInResource(res);
  if (!r.data)
    return false;
  image_ = std::make_unique<PngFile>((int)r.size, static_cast<const uint8_t*>(r.data), premultiply_, name);
  return true;
}

void NamedImageLoader::getImage(rfb::WritablePixelBuffer* dst, Point pos)
{
  if (image_->getSize() == size_) {
    image_->getImage(dst, pos);
    return;
  }
  ScaledImageLoader scaled(image_.get(), size_);
  scaled.getImage(dst, pos);
}

void loadNamedImage(rfb::ManagedPixelBuffer& buffer, const char* name, const Point& size)
{
  NamedImageLoader loader(name, size, PngFile::Premultiply::Yes);
  buffer.setPF(loader.getPf());
  buffer.setSize(loader.getSize());
  loader.getImage(&buffer, Point());
}

NamedImagePixelBuffer::NamedImagePixelBuffer(const char* name, const Point& size, Log log)
    : atDisplayScale(size == Point())
{
  if (!name || !*name)
    return;
  char text[plat::Exception::kMessageSize];
  try {
    loadNamedImage(*this, name, size);
  } catch (const NamedImageBadSize& e) {
    vlog.error("%s", e.formatDisplay(text));
    setSize(Point());
  } catch (const plat::Exception& e) {
    if (log == Log::Errors)
      vlog.info("%s", e.formatDisplay(text));
    setSize(Point());
  }
}

namespace {

// std::string orders its bytes as strcmp does.
std::multimap<std::string, plat::SharedHandle<NamedImagePixelBuffer>>& imageCache()
{
  static std::multimap<std::string, plat::SharedHandle<NamedImagePixelBuffer>> cache;
  return cache;
}

} // namespace

plat::SharedHandle<NamedImagePixelBuffer> NamedImagePixelBuffer::getCached(const char* name, const Point& size,
                                                                           Log log)
{
  auto& cache = imageCache();
  const std::string key = name ? name : "";
  auto range = cache.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    NamedImagePixelBuffer* b = it->second.get();
    // Display-scale entries answer only 0 x 0; 0 x 0 also finds failed ones.
    if ((size == Point() && b->atDisplayScale) ||
        (!b->atDisplayScale && b->rect.width() == size.x && b->rect.height() == size.y))
      return it->second;
  }
  plat::SharedHandle<NamedImagePixelBuffer> made(new NamedImagePixelBuffer(name, size, log));
  cache.emplace(key, made);
  return made;
}

plat::SharedHandle<NamedImagePixelBuffer> NamedImagePixelBuffer::get(const char* name, const Point& size)
{
  if (plat::isDarkMode()) {
    std::string dark = std::string(name ? name : "") + "_darkbg";
    auto h = getCached(dark.c_str(), size, Log::Quiet);
    if (h->rect.width() || h->rect.height())
      return h;
  }
  return getCached(name, size, Log::Errors);
}

} // namespace tlutil
