// A set of pixels: the damaged and clipped areas of widgets and windows.
//
// A value class over one Xregion::Region (banded rectangles with 16-bit
// coordinates), which it owns: copies are independent, a moved-from region
// is empty. Rectangles that enter a region are clamped to -32768..32767, so
// regions and rectangles agree only inside that range. A region that could
// not grow is broken; it counts as empty and every operation on it answers
// false. Not locked: one thread at a time.
#pragma once

#include <stdint.h>

#include <vector>

#include "3rdparty/Xregion/Xregion.h"
#include "rdr/Forward.h"
#include "rfb/Rect.h"

namespace plat {
class DString;
}

namespace rfb {

class Region {
public:
  Region();
  explicit Region(const Rect& r);
  Region(const Region& other);
  Region(Region&& other) noexcept;
  Region& operator=(const Region& other);
  Region& operator=(Region&& other) noexcept;
  ~Region();
  void swap(Region& other) noexcept;

  // --- Set operations, with this region as the destination ------------------
  // False when the result is broken.
  bool assignUnion(const Region& other);
  bool assignUnion(const Rect& r) { return assignUnion(Region(r)); }
  bool assignIntersect(const Region& other);
  bool assignIntersect(const Rect& r) { return assignIntersect(Region(r)); }
  bool assignSubtract(const Region& other);
  bool assignSubtract(const Rect& r) { return assignSubtract(Region(r)); }
  void translate(const Point& delta);
  // Joins count rectangles, first among themselves: those in scan order by
  // appending, the rest by halving; count 0 changes nothing.
  bool addRects(int count, const Rect* rects);
  void clear();
  // Boxes that already obey the band rules.
  void setBoxes(const Xregion::RgnRect* extents, int count, const Xregion::RgnRect* boxes);

  // --- Questions ---------------------------------------------------------------
  bool isEmpty() const { return Xregion::regionNumRects(&r_) == 0; }
  bool isBroken() const { return Xregion::regionIsBroken(&r_); }
  int numRects() const { return (int)Xregion::regionNumRects(&r_); }
  Rect getBoundingRect() const;
  // The boxes as rectangles: bands from top to bottom, left to right.
  std::vector<Rect> rects() const;
  bool contains(const Point& p) const;
  Xregion::Overlap containsRect(const Rect& r) const;
  bool equals(const Region& other) const { return Xregion::regionEqual(&r_, &other.r_); }
  // The structure itself, for callers of the Xregion routines.
  const Xregion::Region* raw() const { return &r_; }
  Xregion::Region* raw() { return &r_; }

  // Every rectangle widened outward to the grid origin + k x step (a true
  // floor and ceiling); a zero step is fatal.
  Region roundToGrid(const Point& step, const Point& origin) const;

  // --- Stream form ---------------------------------------------------------------
  // state starts at -1 and is kept by the caller between calls: a stream
  // that runs dry throws its blocking exception, and a later call with the
  // same state continues. Boxes that break the band rules throw
  // plat::Exception "Bad region data" and leave the region empty.
  void read(rdr::InStream& in, int& state);
  void write(rdr::OutStream& out) const;

  // "num rects %3d extents %s\n", then "    rect %s\n" per box.
  void debugPrint(plat::DString& out) const;

  // Cuts the region into tiles: whole boxes below maxArea pixels, larger
  // boxes into tiles of at most maxArea pixels whose heights are multiples
  // of multipleOf. maxArea below multipleOf squared is fatal. The region
  // must outlive the iterator and not change meanwhile.
  class TileIterator {
  public:
    TileIterator(const Region& region, int multipleOf, int maxArea);
    bool done() const { return box_ == end_; }
    Rect tile() const;
    void next();

  private:
    void startBox();

    const Xregion::RgnRect* box_;
    const Xregion::RgnRect* end_;
    int64_t maxArea_;
    int multipleOf_;
    Rect boxRect_;
    Point pos_;
    Point tileSize_;
  };

private:
  Xregion::Region r_;
};

} // namespace rfb
