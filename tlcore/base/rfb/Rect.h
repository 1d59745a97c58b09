// The two geometry values of every pixel buffer, region, widget and window:
// a point and a rectangle of signed 32-bit coordinates. A rectangle's
// top-left corner is inclusive, its bottom-right corner exclusive; it is
// empty when either extent is not positive. Plain values.
#pragma once

#include <stdint.h>

#include <algorithm>

namespace rfb {

struct Point {
  int x = 0;
  int y = 0;

  Point() = default;
  Point(int x_, int y_) : x(x_), y(y_) {}

  Point translate(const Point& d) const { return Point(x + d.x, y + d.y); }
  Point negate() const { return Point(-x, -y); }
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
  bool operator!=(const Point& o) const { return !(*this == o); }
};

struct Rect {
  Point topLeft;
  Point bottomRight;

  // Room for the printed form of any rectangle, NUL included.
  static constexpr int kPrintSize = 48;

  Rect() = default;
  Rect(const Point& tl, const Point& br) : topLeft(tl), bottomRight(br) {}
  Rect(int x1, int y1, int x2, int y2) : topLeft(x1, y1), bottomRight(x2, y2) {}

  int width() const { return bottomRight.x - topLeft.x; }
  int height() const { return bottomRight.y - topLeft.y; }
  // In 64 bits, so that no rectangle overflows it; 0 when empty.
  int64_t area() const { return isEmpty() ? 0 : (int64_t)width() * height(); }
  bool isEmpty() const { return topLeft.x >= bottomRight.x || topLeft.y >= bottomRight.y; }

  bool contains(const Point& p) const
  {
    return p.x >= topLeft.x && p.x < bottomRight.x && p.y >= topLeft.y && p.y < bottomRight.y;
  }
  // r lies wholly inside this rectangle.
  bool encloses(const Rect& r) const
  {
    return r.topLeft.x >= topLeft.x && r.topLeft.y >= topLeft.y && r.bottomRight.x <= bottomRight.x &&
           r.bottomRight.y <= bottomRight.y;
  }
  // The common part; empty (not necessarily all zero) when there is none.
  Rect intersect(const Rect& r) const
  {
    return Rect(std::max(topLeft.x, r.topLeft.x), std::max(topLeft.y, r.topLeft.y),
                std::min(bottomRight.x, r.bottomRight.x), std::min(bottomRight.y, r.bottomRight.y));
  }
  // The smallest rectangle holding both; an empty one adds nothing.
  Rect unionBoundary(const Rect& r) const
  {
    if (r.isEmpty())
      return *this;
    if (isEmpty())
      return r;
    return Rect(std::min(topLeft.x, r.topLeft.x), std::min(topLeft.y, r.topLeft.y),
                std::max(bottomRight.x, r.bottomRight.x), std::max(bottomRight.y, r.bottomRight.y));
  }
  Rect translate(const Point& d) const { return Rect(topLeft.translate(d), bottomRight.translate(d)); }

  bool operator==(const Rect& o) const { return topLeft == o.topLeft && bottomRight == o.bottomRight; }
  bool operator!=(const Rect& o) const { return !(*this == o); }

  // "%d,%d to %d,%d"; returns buf.
  const char* print(char (&buf)[kPrintSize]) const;
};

} // namespace rfb
