// Sets of pixels as banded rectangles with 16-bit coordinates, and the
// routines that combine them. rfb::Region wraps one Region; the window layer
// and the widgets reach the routines through it.
//
// A Region is a plain struct: `extents` is the bounding box and `data` says
// what it holds: null for the one rectangle `extents`, emptyData() for no
// pixel, brokenData() after an allocation failed (counts as empty), or a
// malloc'ed RegionData block owned by the region. The two shared blocks have
// size 0 and are never freed. Multi-box regions keep these rules:
//   1. boxes come in bands: every box of a band has the same y1 and y2;
//   2. bands are sorted by y1 and do not overlap; boxes of a band are sorted
//      by x1 and neither overlap nor touch;
//   3. two bands that touch vertically never have the same x ranges;
//   4. `extents` is exactly the bounding box of the boxes;
//   5. one box means no block, no box means the empty block.
// Every routine takes regions by pointer, and the destination may be a
// source. A false answer means the destination is broken. Not locked.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace Xregion {

// x1, y1 inclusive; x2, y2 exclusive.
struct RgnRect {
  int16_t x1, y1, x2, y2;
};

// A header followed by `size` boxes, of which the first `numRects` are used.
struct RegionData {
  int64_t size;
  int64_t numRects;

  RgnRect* rects() { return reinterpret_cast<RgnRect*>(this + 1); }
  const RgnRect* rects() const { return reinterpret_cast<const RgnRect*>(this + 1); }
};
static_assert(sizeof(RgnRect) == 8 && sizeof(RegionData) == 16, "the block layout is fixed");

struct Region {
  RgnRect extents;
  RegionData* data;
};

RegionData* emptyData();
RegionData* brokenData();

// --- Looking at a region ---------------------------------------------------
inline int64_t regionNumRects(const Region* r) { return r->data ? r->data->numRects : 1; }
inline const RgnRect* regionRects(const Region* r) { return r->data ? r->data->rects() : &r->extents; }
inline bool regionIsBroken(const Region* r) { return r->data == brokenData(); }
// No pixel; a broken region counts as empty.
inline bool regionIsEmpty(const Region* r) { return r->data && r->data->numRects == 0; }
// An empty region (empty block, x2, y2 = x1, y1).
inline void regionInitEmpty(Region* r, int x = 0, int y = 0)
{
  r->extents = {(int16_t)x, (int16_t)y, (int16_t)x, (int16_t)y};
  r->data = emptyData();
}

// --- Storage -----------------------------------------------------------------
// A block with room for n boxes; running out of memory is fatal ("p").
RegionData* regionAllocData(int64_t n);
// Frees the region's block unless it is null or shared; the caller then
// resets `data`.
void regionUninit(Region* region);
// Frees the block and marks the region broken (zero extents); false.
bool regionBreak(Region* region);
// Room for n more boxes: a request for one box grows the block by its
// present count (by 250 above 500 boxes). False when realloc failed: the
// region is then broken.
bool regionRectAlloc(Region* region, int64_t n);
bool regionCopy(Region* dst, const Region* src);
// Recomputes `extents` from the boxes.
void regionSetExtents(Region* region);

// --- Set operations ----------------------------------------------------------
// The boxes one band operation appends for the rows [y1, y2), from the
// overlapping bands [r1, r1End) of the first operand and [r2, r2End) of
// the second. False when the destination broke.
using BandOp = bool (*)(Region* dst, const RgnRect* r1, const RgnRect* r1End, const RgnRect* r2,
                        const RgnRect* r2End, int y1, int y2);
// Which parts without a counterpart in the other operand the sweep keeps.
enum Keep : unsigned { kKeepNone = 0, kKeepNonA = 1, kKeepNonB = 2, kKeepBoth = 3 };
// The band sweep shared by the three set operations; leaves `extents` to
// the caller.
bool regionOp(Region* dst, const Region* a, const Region* b, BandOp bandOp, Keep keep);

bool regionIntersect(Region* dst, const Region* a, const Region* b);
bool regionUnion(Region* dst, const Region* a, const Region* b);
bool regionSubtract(Region* dst, const Region* m, const Region* s);
// Joins boxes that come in scan order into a region without band sweeps:
// a box within or right of the last box of the last band, or below the
// region. Remembers where the last two bands start, so that appending
// many boxes in a row costs no search. The region is borrowed and must not
// be changed by other means while the appender is used.
class Appender {
public:
  // kFixedRoom: only into room the block already has (the in-place union);
  // kGrow: the block grows as needed.
  enum Growth { kFixedRoom, kGrow };

  Appender(Region* region, Growth growth) : region_(region), growth_(growth) {}
  // False, with the region unchanged, when b does not come after the
  // region in scan order or there is no room; also when the region is (or,
  // growing, became) broken.
  bool append(const RgnRect& b);

private:
  int64_t bandStart(int64_t& cached, int64_t boxIndex);

  Region* region_;
  Growth growth_;
  int64_t lastStart_ = -1; // where the last band starts; -1 when not known
  int64_t prevStart_ = -1; // the same for the band before it
};

// Moves the region; what leaves -32768..32767 is cut off.
void regionTranslate(Region* region, int dx, int dy);

// --- Tests -------------------------------------------------------------------
enum Overlap { kOverlapOut = 0, kOverlapIn = 1, kOverlapPart = 2 };
Overlap regionContainsRect(const Region* region, const RgnRect* box);
// True when (x, y) is in the region; *box (when not null) gets the box
// that holds it.
bool regionContainsPoint(const Region* region, int x, int y, RgnRect* box);
bool regionEqual(const Region* a, const Region* b);
// The first of rules 1 to 4 that n boxes (n >= 1) with these extents break,
// and the index of the box where it shows (-1 for the extents); null when
// they keep them all. For boxes from outside, and for checking results.
const char* regionBoxesFault(const RgnRect& extents, const RgnRect* b, int64_t n, int64_t* at);

#ifdef TL_TEST_HOOKS
// The allocator behind the blocks, replaceable in test builds so that a
// test can make realloc fail and count growth. Null restores the C
// library's calls.
struct AllocCalls {
  void* (*malloc)(size_t size);
  void* (*realloc)(void* p, size_t size);
  void (*free)(void* p);
};
void setAllocCallsForTest(const AllocCalls* calls);
#endif

} // namespace Xregion
