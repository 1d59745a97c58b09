#include "tlutil/ScaledPixelBuffer.h"

#include <stdlib.h>

#include <algorithm>

#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "rfb/Region.h"

namespace tlutil {

using rfb::Point;
using rfb::Rect;

ScaledPixelBuffer::ScaledPixelBuffer(rfb::PixelBuffer* source, const Point& size, Prepare when)
{
  setSize(size);
  setSource(source, true);
  if (when == Prepare::Now)
    prepare();
}

ScaledPixelBuffer::~ScaledPixelBuffer() = default;

bool ScaledPixelBuffer::isPassThrough() const
{
  return source_ && rect.width() == source_->rect.width() && rect.height() == source_->rect.height() &&
         format.equal(source_->format);
}

void ScaledPixelBuffer::setSize(const Point& size)
{
  rect.bottomRight = rect.topLeft.translate(size);
  scaler_.coords_.dstSz = size;
  scaler_.update();
  resizeCache();
}

void ScaledPixelBuffer::setSource(rfb::PixelBuffer* src, bool takeFormat)
{
  const bool noCache = cache_.rect.isEmpty();
  source_ = src;
  colourMap = src->getColourMap();
  scaler_.setSource(src, takeFormat);
  if (takeFormat)
    setFormat(src->format, src->getColourMap());
  if (noCache)
    setSize(Point(src->rect.width(), src->rect.height()));
  else
    resizeCache();
}

void ScaledPixelBuffer::setFormat(const rfb::PixelFormat& pf, rfb::ColourMap* cm)
{
  format = pf;
  colourMap = cm;
  scaler_.dstFormat = pf;
  scaler_.dstColourMap = cm;
  scaler_.update();
  cache_.setPF(pf);
  cache_.setColourMap(cm);
  resizeCache();
}

void ScaledPixelBuffer::resizeCache()
{
  const Point size(rect.width(), rect.height());
  if (isPassThrough() || (!source_ && size == scaler_.coords_.srcSz))
    cache_.setSize(Point(0, 0));
  else
    cache_.setSize(size);
}

const uint8_t* ScaledPixelBuffer::getPixelsR(const Rect& r, int* stride)
{
  rfb::PixelBuffer* pb = source_;
  PLAT_ASSERT(pb);
  if (isPassThrough())
    return pb->getPixelsR(r.translate(rect.topLeft.negate()).translate(pb->rect.topLeft), stride);
  return cache_.getPixelsRW(r.translate(rect.topLeft.negate()), stride);
}

void ScaledPixelBuffer::prepareRegion(const rfb::Region& region)
{
  if (region.isEmpty() || !source_)
    return;
  const Rect scaled = region.getBoundingRect().intersect(rect).translate(rect.topLeft.negate());
  if (scaled.isEmpty())
    return;
  const auto clamp16 = [](int v) { return std::min(std::max(v, -32768), 32767); };
  const Rect from = scaler_.sourceArea(scaled).translate(source_->rect.topLeft);
  source_->prepareRegion(rfb::Region(Rect(clamp16(from.topLeft.x), clamp16(from.topLeft.y),
                                          clamp16(from.bottomRight.x), clamp16(from.bottomRight.y))));
  if (isPassThrough())
    return;
  int stride = 0;
  uint8_t* mem = cache_.getPixelsRW(scaled, &stride);
  scaler_.getImage(mem, scaled, stride);
}

void drawNineSlice(const int insets[4], rfb::PixelBuffer* image, rfb::WritablePixelBuffer* dst, const Rect& target,
                   rfb::BlendFunc blend)
{
  const Rect& im = image->rect;
  if (im.isEmpty())
    return;
  const int l = insets[0], t = insets[1], r = insets[2], b = insets[3];
  const Rect& tg = target;
  // Corners, unscaled and kept inside the target.
  const Rect srcCorners[4] = {Rect(im.topLeft.x, im.topLeft.y, im.topLeft.x + l, im.topLeft.y + t),
                              Rect(im.bottomRight.x - r, im.topLeft.y, im.bottomRight.x, im.topLeft.y + t),
                              Rect(im.topLeft.x, im.bottomRight.y - b, im.topLeft.x + l, im.bottomRight.y),
                              Rect(im.bottomRight.x - r, im.bottomRight.y - b, im.bottomRight.x, im.bottomRight.y)};
  const Rect dstCorners[4] = {Rect(tg.topLeft.x, tg.topLeft.y, tg.topLeft.x + l, tg.topLeft.y + t),
                              Rect(tg.bottomRight.x - r, tg.topLeft.y, tg.bottomRight.x, tg.topLeft.y + t),
                              Rect(tg.topLeft.x, tg.bottomRight.y - b, tg.topLeft.x + l, tg.bottomRight.y),
                              Rect(tg.bottomRight.x - r, tg.bottomRight.y - b, tg.bottomRight.x, tg.bottomRight.y)};
  for (int i = 0; i < 4; i++) {
    const Rect to = dstCorners[i].intersect(tg);
    if (to.isEmpty() || srcCorners[i].isEmpty())
      continue;
    const Point origin(srcCorners[i].topLeft.x + (to.topLeft.x - dstCorners[i].topLeft.x),
                       srcCorners[i].topLeft.y + (to.topLeft.y - dstCorners[i].topLeft.y));
    rfb::blendImage(*image, origin, *dst, to, blend);
  }
  // Edges (top, bottom, left, right), then the centre, each scaled.
  const int ix1 = im.topLeft.x + l, iy1 = im.topLeft.y + t, ix2 = im.bottomRight.x - r, iy2 = im.bottomRight.y - b;
  const int tx1 = tg.topLeft.x + l, ty1 = tg.topLeft.y + t, tx2 = tg.bottomRight.x - r, ty2 = tg.bottomRight.y - b;
  const Rect pieces[5][2] = {
      {Rect(ix1, im.topLeft.y, ix2, iy1), Rect(tx1, tg.topLeft.y, tx2, ty1)},
      {Rect(ix1, iy2, ix2, im.bottomRight.y), Rect(tx1, ty2, tx2, tg.bottomRight.y)},
      {Rect(im.topLeft.x, iy1, ix1, iy2), Rect(tg.topLeft.x, ty1, tx1, ty2)},
      {Rect(ix2, iy1, im.bottomRight.x, iy2), Rect(tx2, ty1, tg.bottomRight.x, ty2)},
      {Rect(ix1, iy1, ix2, iy2), Rect(tx1, ty1, tx2, ty2)},
  };
  for (const auto& piece : pieces) {
    if (piece[0].isEmpty() || piece[1].isEmpty())
      continue;
    rfb::SubPixelBuffer part(*image, piece[0], true);
    ScaledPixelBuffer scaled(&part, Point(piece[1].width(), piece[1].height()), ScaledPixelBuffer::Prepare::Now);
    rfb::blendImage(scaled, scaled.rect.topLeft, *dst, piece[1], blend);
  }
}

void DragThreshold::start(const Point& p)
{
  start_ = p;
  started_ = false;
}

bool DragThreshold::exceeded(const Point& p)
{
  if (started_)
    return false;
  const int threshold = (10 * (int)plat::ppmm + 4) / 8;
  if (abs(p.x - start_.x) > threshold || abs(p.y - start_.y) > threshold) {
    started_ = true;
    return true;
  }
  return false;
}

} // namespace tlutil
