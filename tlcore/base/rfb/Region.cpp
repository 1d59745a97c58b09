#include "rfb/Region.h"

#include <limits.h>
#include <string.h>

#include <utility>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

using namespace Xregion;

namespace rfb {

namespace {

int clamp16(int64_t v) { return (int)std::min<int64_t>(std::max<int64_t>(v, -32768), 32767); }

RgnRect makeBox(int x1, int y1, int x2, int y2) { return {(int16_t)x1, (int16_t)y1, (int16_t)x2, (int16_t)y2}; }

Rect toRect(const RgnRect& b) { return Rect(b.x1, b.y1, b.x2, b.y2); }

// The one-rectangle region of r, clamped to 16 bits.
void initRect(Xregion::Region* out, int64_t x1, int64_t y1, int64_t x2, int64_t y2)
{
  int cx1 = clamp16(x1), cy1 = clamp16(y1), cx2 = clamp16(x2), cy2 = clamp16(y2);
  if (cx1 >= cx2 || cy1 >= cy2) {
    regionInitEmpty(out, cx1, cy1);
    return;
  }
  out->extents = makeBox(cx1, cy1, cx2, cy2);
  out->data = nullptr;
}

// The rectangles joined among themselves by halving.
Region joinHalving(const Rect* rects, int count)
{
  if (count == 1)
    return Region(rects[0]);
  int half = count / 2;
  Region a = joinHalving(rects, half);
  Region b = joinHalving(rects + half, count - half);
  regionUnion(a.raw(), a.raw(), b.raw());
  return a;
}

} // namespace

Region::Region() { regionInitEmpty(&r_); }

Region::Region(const Rect& r)
{
  initRect(&r_, r.topLeft.x, r.topLeft.y, r.bottomRight.x, r.bottomRight.y);
}

Region::Region(const Region& other)
{
  r_.data = nullptr;
  regionCopy(&r_, &other.r_);
}

Region::Region(Region&& other) noexcept : r_(other.r_)
{
  regionInitEmpty(&other.r_);
}

Region& Region::operator=(const Region& other)
{
  regionCopy(&r_, &other.r_);
  return *this;
}

Region& Region::operator=(Region&& other) noexcept
{
  if (this != &other) {
    regionUninit(&r_);
    r_ = other.r_;
    regionInitEmpty(&other.r_);
  }
  return *this;
}

Region::~Region()
{
  regionUninit(&r_);
  r_.data = nullptr;
}

void Region::swap(Region& other) noexcept { std::swap(r_, other.r_); }

bool Region::assignUnion(const Region& other) { return regionUnion(&r_, &r_, &other.r_); }

bool Region::assignIntersect(const Region& other) { return regionIntersect(&r_, &r_, &other.r_); }

bool Region::assignSubtract(const Region& other) { return regionSubtract(&r_, &r_, &other.r_); }

void Region::translate(const Point& delta) { regionTranslate(&r_, delta.x, delta.y); }

bool Region::addRects(int count, const Rect* rects)
{
  if (count <= 0)
    return !isBroken();
  // Rectangles in scan order are appended; from the first that is not, the
  // rest are joined by halving. Either way the boxes are the same.
  Region joined;
  Appender appender(&joined.r_, Appender::kGrow);
  int i = 0;
  for (; i < count; i++) {
    Xregion::Region one;
    initRect(&one, rects[i].topLeft.x, rects[i].topLeft.y, rects[i].bottomRight.x, rects[i].bottomRight.y);
    if (regionIsEmpty(&one))
      continue;
    if (joined.isEmpty()) {
      joined.r_ = one;
      continue;
    }
    if (!appender.append(one.extents))
      break;
  }
  if (i < count) {
    Region rest = joinHalving(rects + i, count - i);
    regionUnion(&joined.r_, &joined.r_, &rest.r_);
  }
  if (isEmpty()) {
    *this = std::move(joined);
    return !isBroken();
  }
  return assignUnion(joined);
}

void Region::clear()
{
  regionUninit(&r_);
  regionInitEmpty(&r_);
}

void Region::setBoxes(const RgnRect* extents, int count, const RgnRect* boxes)
{
  if (count <= 0) {
    if (!r_.data || !r_.data->size) {
      r_.data = emptyData();
    } else {
      r_.data->numRects = 0;
    }
    r_.extents = *extents;
    r_.extents.x2 = r_.extents.x1;
    r_.extents.y2 = r_.extents.y1;
    return;
  }
  if (count == 1) {
    regionUninit(&r_);
    r_.data = nullptr;
    r_.extents = *extents;
    return;
  }
  if (!r_.data || r_.data->size < count) {
    regionUninit(&r_);
    r_.data = regionAllocData(count);
  }
  r_.extents = *extents;
  r_.data->numRects = count;
  memcpy(r_.data->rects(), boxes, (size_t)count * sizeof(RgnRect));
}

Rect Region::getBoundingRect() const
{
  if (isEmpty())
    return Rect();
  return toRect(r_.extents);
}

std::vector<Rect> Region::rects() const
{
  std::vector<Rect> out;
  int64_t n = regionNumRects(&r_);
  const RgnRect* b = regionRects(&r_);
  out.reserve((size_t)n);
  for (int64_t i = 0; i < n; i++)
    out.push_back(toRect(b[i]));
  return out;
}

bool Region::contains(const Point& p) const { return regionContainsPoint(&r_, p.x, p.y, nullptr); }

Overlap Region::containsRect(const Rect& r) const
{
  Xregion::Region box;
  initRect(&box, r.topLeft.x, r.topLeft.y, r.bottomRight.x, r.bottomRight.y);
  if (regionIsEmpty(&box))
    return kOverlapOut;
  return regionContainsRect(&r_, &box.extents);
}

Region Region::roundToGrid(const Point& step, const Point& origin) const
{
  PLAT_ASSERT(step.x != 0 && step.y != 0);
  int64_t sx = step.x < 0 ? -(int64_t)step.x : step.x;
  int64_t sy = step.y < 0 ? -(int64_t)step.y : step.y;
  auto down = [](int64_t v, int64_t o, int64_t s) {
    int64_t q = (v - o) / s, r = (v - o) % s;
    return o + (r < 0 ? q - 1 : q) * s;
  };
  auto up = [](int64_t v, int64_t o, int64_t s) {
    int64_t q = (v - o) / s, r = (v - o) % s;
    return o + (r > 0 ? q + 1 : q) * s;
  };

  int64_t n = regionNumRects(&r_);
  const RgnRect* b = regionRects(&r_);
  std::vector<Rect> rects;
  rects.reserve((size_t)n);
  for (int64_t i = 0; i < n; i++) {
    int64_t x1 = down(b[i].x1, origin.x, sx), y1 = down(b[i].y1, origin.y, sy);
    int64_t x2 = up(b[i].x2, origin.x, sx), y2 = up(b[i].y2, origin.y, sy);
    rects.push_back(Rect(clamp16(x1), clamp16(y1), clamp16(x2), clamp16(y2)));
  }
  Region out;
  out.addRects((int)rects.size(), rects.data());
  return out;
}

void Region::read(rdr::InStream& in, int& state)
{
  try {
    if (state == -1) {
      int count = in.readU16();
      RgnRect e;
      e.x1 = (int16_t)in.readU16();
      e.y1 = (int16_t)in.readU16();
      e.x2 = (int16_t)in.readU16();
      e.y2 = (int16_t)in.readU16();
      in.setCheckpoint();
      bool emptyExtents = e.x2 <= e.x1 || e.y2 <= e.y1;
      if (count < 2) {
        regionUninit(&r_);
        if (emptyExtents) {
          regionInitEmpty(&r_, e.x1, e.y1);
        } else {
          r_.extents = e;
          r_.data = nullptr;
        }
        return;
      }
      if (emptyExtents)
        throw plat::Exception("Bad region data");
      state = 0;
      if (!r_.data || r_.data->size < count) {
        regionUninit(&r_);
        r_.data = regionAllocData(count);
      }
      r_.extents = e;
      r_.data->numRects = count;
      memset(r_.data->rects(), 0, (size_t)count * sizeof(RgnRect));
    }
    RgnRect* boxes = r_.data->rects();
    while (state < r_.data->numRects) {
      RgnRect& b = boxes[state];
      b.x1 = (int16_t)in.readU16();
      b.y1 = (int16_t)in.readU16();
      b.x2 = (int16_t)in.readU16();
      b.y2 = (int16_t)in.readU16();
      in.setCheckpoint();
      state++;
    }
    state = -1;
    int64_t at;
    if (Xregion::regionBoxesFault(r_.extents, boxes, r_.data->numRects, &at))
      throw plat::Exception("Bad region data");
  } catch (rdr::BlockException&) {
    throw; // resumed by the next call
  } catch (...) {
    clear();
    state = -1;
    throw;
  }
}

void Region::write(rdr::OutStream& out) const
{
  int64_t n = regionNumRects(&r_);
  out.writeU16((uint16_t)n);
  auto box = [&](const RgnRect& b) {
    out.writeU16((uint16_t)b.x1);
    out.writeU16((uint16_t)b.y1);
    out.writeU16((uint16_t)b.x2);
    out.writeU16((uint16_t)b.y2);
  };
  box(r_.extents);
  if (n >= 2) {
    const RgnRect* b = regionRects(&r_);
    for (int64_t i = 0; i < n; i++)
      box(b[i]);
  }
}

void Region::debugPrint(plat::DString& out) const
{
  char buf[Rect::kPrintSize];
  int64_t n = regionNumRects(&r_);
  out.clear();
  out.appendf("num rects %3d extents %s\n", (int)n, toRect(r_.extents).print(buf));
  const RgnRect* b = regionRects(&r_);
  for (int64_t i = 0; i < n; i++)
    out.appendf("    rect %s\n", toRect(b[i]).print(buf));
}

// --- Tiles ----------------------------------------------------------------------

Region::TileIterator::TileIterator(const Region& region, int multipleOf, int maxArea)
  : box_(regionRects(&region.r_)), end_(box_ + regionNumRects(&region.r_)), maxArea_(maxArea),
    multipleOf_(multipleOf)
{
  // A smaller area would give tiles of width 0 and never end.
  PLAT_ASSERT(maxArea_ >= (int64_t)multipleOf * multipleOf);
  if (!done())
    startBox();
}

void Region::TileIterator::startBox()
{
  boxRect_ = toRect(*box_);
  pos_ = boxRect_.topLeft;
  if (boxRect_.area() < maxArea_) {
    tileSize_ = Point(boxRect_.width(), boxRect_.height());
    return;
  }
  int multipleOf = multipleOf_;
  PLAT_ASSERT(multipleOf > 0);
  int64_t w = maxArea_ / multipleOf_;
  w -= w % multipleOf_;
  int64_t h = multipleOf_;
  if (w > boxRect_.width()) {
    w = boxRect_.width();
    h = maxArea_ / w;
    h -= h % multipleOf_;
  }
  tileSize_ = Point((int)w, (int)std::min<int64_t>(h, INT_MAX));
}

Rect Region::TileIterator::tile() const
{
  Rect t(pos_.x, pos_.y, (int)std::min<int64_t>((int64_t)pos_.x + tileSize_.x, INT_MAX),
         (int)std::min<int64_t>((int64_t)pos_.y + tileSize_.y, INT_MAX));
  return t.intersect(boxRect_);
}

void Region::TileIterator::next()
{
  pos_.x += tileSize_.x;
  if (pos_.x < boxRect_.bottomRight.x)
    return;
  pos_.x = boxRect_.topLeft.x;
  if ((int64_t)pos_.y + tileSize_.y < boxRect_.bottomRight.y) {
    pos_.y += tileSize_.y;
    return;
  }
  if (++box_ != end_)
    startBox();
}

} // namespace rfb
