#include "3rdparty/Xregion/Xregion.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "plat/Exception.h"

namespace Xregion {

namespace {

RegionData emptyBlock = {0, 0};
RegionData brokenBlock = {0, 0};

constexpr int kMin16 = -32768;
constexpr int kMax16 = 32767;

#ifdef TL_TEST_HOOKS
const AllocCalls* allocCalls = nullptr;
void* blockMalloc(size_t n) { return allocCalls ? allocCalls->malloc(n) : malloc(n); }
void* blockRealloc(void* p, size_t n) { return allocCalls ? allocCalls->realloc(p, n) : realloc(p, n); }
void blockFree(void* p) { allocCalls ? allocCalls->free(p) : free(p); }
#else
inline void* blockMalloc(size_t n) { return malloc(n); }
inline void* blockRealloc(void* p, size_t n) { return realloc(p, n); }
inline void blockFree(void* p) { free(p); }
#endif

inline size_t blockBytes(int64_t n) { return sizeof(RegionData) + (size_t)n * sizeof(RgnRect); }

inline RgnRect makeBox(int x1, int y1, int x2, int y2)
{
  return {(int16_t)x1, (int16_t)y1, (int16_t)x2, (int16_t)y2};
}

inline void freeData(Region* r)
{
  if (r->data && r->data->size)
    blockFree(r->data);
}

inline bool extentsOverlap(const RgnRect& a, const RgnRect& b)
{
  return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2;
}

inline bool encloses(const RgnRect& outer, const RgnRect& inner)
{
  return outer.x1 <= inner.x1 && outer.x2 >= inner.x2 && outer.y1 <= inner.y1 && outer.y2 >= inner.y2;
}

// Appends one box to a region that has a block (regionOp's destination).
inline bool appendBox(Region* r, int x1, int y1, int x2, int y2)
{
  if (r->data->numRects >= r->data->size && !regionRectAlloc(r, 1))
    return false;
  r->data->rects()[r->data->numRects++] = makeBox(x1, y1, x2, y2);
  return true;
}

// Merges the band starting at curStart (the last one) into the band at
// prevStart when they touch and have the same x ranges. Returns where the
// last band now starts.
int64_t coalesce(Region* r, int64_t prevStart, int64_t curStart)
{
  int64_t n = curStart - prevStart;
  if (n == 0 || r->data->numRects - curStart != n)
    return curStart;
  RgnRect* prev = r->data->rects() + prevStart;
  RgnRect* cur = r->data->rects() + curStart;
  if (prev->y2 != cur->y1)
    return curStart;
  for (int64_t i = 0; i < n; i++) {
    if (prev[i].x1 != cur[i].x1 || prev[i].x2 != cur[i].x2)
      return curStart;
  }
  for (int64_t i = 0; i < n; i++)
    prev[i].y2 = cur->y2;
  r->data->numRects -= n;
  return prevStart;
}

// Appends the x ranges of [r, rEnd) for the rows [y1, y2).
bool appendBand(Region* dst, const RgnRect* r, const RgnRect* rEnd, int y1, int y2)
{
  for (; r != rEnd; r++) {
    if (!appendBox(dst, r->x1, y1, r->x2, y2))
      return false;
  }
  return true;
}

inline const RgnRect* bandEnd(const RgnRect* r, const RgnRect* end)
{
  const RgnRect* e = r;
  while (e != end && e->y1 == r->y1)
    ++e;
  return e;
}

bool intersectBand(Region* dst, const RgnRect* r1, const RgnRect* r1End, const RgnRect* r2,
                   const RgnRect* r2End, int y1, int y2)
{
  do {
    int x1 = std::max(r1->x1, r2->x1);
    int x2 = std::min(r1->x2, r2->x2);
    if (x1 < x2 && !appendBox(dst, x1, y1, x2, y2))
      return false;
    if (r1->x2 == x2)
      r1++;
    if (r2->x2 == x2)
      r2++;
  } while (r1 != r1End && r2 != r2End);
  return true;
}

bool unionBand(Region* dst, const RgnRect* r1, const RgnRect* r1End, const RgnRect* r2,
               const RgnRect* r2End, int y1, int y2)
{
  int x1, x2;
  // On equal x1 the box of the second operand comes first.
  auto next = [&]() -> const RgnRect* {
    if (r2 == r2End || (r1 != r1End && r1->x1 < r2->x1))
      return r1++;
    return r2++;
  };
  const RgnRect* b = next();
  x1 = b->x1;
  x2 = b->x2;
  while (r1 != r1End || r2 != r2End) {
    b = next();
    if (b->x1 <= x2) {
      if (b->x2 > x2)
        x2 = b->x2;
    } else {
      if (!appendBox(dst, x1, y1, x2, y2))
        return false;
      x1 = b->x1;
      x2 = b->x2;
    }
  }
  return appendBox(dst, x1, y1, x2, y2);
}

bool subtractBand(Region* dst, const RgnRect* m, const RgnRect* mEnd, const RgnRect* s,
                  const RgnRect* sEnd, int y1, int y2)
{
  int x1 = m->x1;
  auto nextM = [&]() {
    if (++m != mEnd)
      x1 = m->x1;
  };
  do {
    if (s->x2 <= x1) {
      s++; // wholly left of what is left of the m box
    } else if (s->x1 <= x1) {
      x1 = s->x2; // covers the start
      if (x1 >= m->x2)
        nextM();
      else
        s++;
    } else if (s->x1 < m->x2) {
      if (!appendBox(dst, x1, y1, s->x1, y2))
        return false;
      x1 = s->x2;
      if (x1 >= m->x2)
        nextM();
      else
        s++;
    } else {
      if (m->x2 > x1 && !appendBox(dst, x1, y1, m->x2, y2))
        return false;
      nextM();
    }
  } while (m != mEnd && s != sEnd);
  while (m != mEnd) {
    if (!appendBox(dst, x1, y1, m->x2, y2))
      return false;
    nextM();
  }
  return true;
}

// Merges every band into the one before it when they touch and have the
// same x ranges; returns the new count.
int64_t coalesceBands(RgnRect* boxes, int64_t n)
{
  int64_t out = 0, prevStart = -1, curStart = 0;
  for (int64_t i = 0; i < n;) {
    int64_t j = i;
    while (j < n && boxes[j].y1 == boxes[i].y1)
      j++;
    int64_t m = j - i;
    bool merge = prevStart >= 0 && curStart - prevStart == m && boxes[prevStart].y2 == boxes[i].y1;
    for (int64_t k = 0; merge && k < m; k++)
      merge = boxes[prevStart + k].x1 == boxes[i + k].x1 && boxes[prevStart + k].x2 == boxes[i + k].x2;
    if (merge) {
      for (int64_t k = 0; k < m; k++)
        boxes[prevStart + k].y2 = boxes[i].y2;
    } else {
      memmove(boxes + out, boxes + i, (size_t)m * sizeof(RgnRect));
      prevStart = out;
      out += m;
      curStart = out;
    }
    i = j;
  }
  return out;
}

} // namespace

RegionData* emptyData() { return &emptyBlock; }
RegionData* brokenData() { return &brokenBlock; }

#ifdef TL_TEST_HOOKS
void setAllocCallsForTest(const AllocCalls* calls) { allocCalls = calls; }
#endif

RegionData* regionAllocData(int64_t n)
{
  if (n < 1)
    n = 1;
  RegionData* p = (RegionData*)blockMalloc(blockBytes(n));
  PLAT_ASSERT(p);
  p->size = n;
  p->numRects = 0;
  return p;
}

void regionUninit(Region* region) { freeData(region); }

bool regionBreak(Region* region)
{
  freeData(region);
  region->extents = makeBox(0, 0, 0, 0);
  region->data = brokenData();
  return false;
}

bool regionRectAlloc(Region* region, int64_t n)
{
  if (!region->data) {
    region->data = regionAllocData(n + 1);
    region->data->numRects = 1;
    region->data->rects()[0] = region->extents;
    return true;
  }
  if (!region->data->size) {
    region->data = regionAllocData(n);
    return true;
  }
  int64_t used = region->data->numRects;
  int64_t growth = n;
  if (n == 1)
    growth = std::max<int64_t>(1, used > 500 ? 250 : used);
  int64_t size = used + growth;
  RegionData* p = (RegionData*)blockRealloc(region->data, blockBytes(size));
  if (!p)
    return regionBreak(region);
  p->size = size;
  region->data = p;
  return true;
}

bool regionCopy(Region* dst, const Region* src)
{
  if (dst == src)
    return !regionIsBroken(dst);
  dst->extents = src->extents;
  if (!src->data || !src->data->size) {
    freeData(dst);
    dst->data = src->data;
    return !regionIsBroken(dst);
  }
  int64_t n = src->data->numRects;
  if (!dst->data || dst->data->size < n) {
    freeData(dst);
    if (n == 0) {
      dst->data = emptyData();
      return true;
    }
    dst->data = regionAllocData(n);
  }
  dst->data->numRects = n;
  memmove(dst->data->rects(), src->data->rects(), (size_t)n * sizeof(RgnRect));
  return true;
}

void regionSetExtents(Region* region)
{
  if (!region->data)
    return;
  const RgnRect* b = region->data->rects();
  int64_t n = region->data->numRects;
  if (n == 0) { // the shared blocks, or a block left without boxes
    region->extents.x2 = region->extents.x1;
    region->extents.y2 = region->extents.y1;
    return;
  }
  RgnRect e = makeBox(b[0].x1, b[0].y1, b[n - 1].x2, b[n - 1].y2);
  for (int64_t i = 0; i < n; i++) {
    e.x1 = std::min(e.x1, b[i].x1);
    e.x2 = std::max(e.x2, b[i].x2);
  }
  region->extents = e;
}

bool regionOp(Region* dst, const Region* a, const Region* b, BandOp bandOp, Keep keep)
{
  if (regionIsBroken(a) || regionIsBroken(b))
    return regionBreak(dst);

  const RgnRect* r1 = regionRects(a);
  const RgnRect* r1End = r1 + regionNumRects(a);
  const RgnRect* r2 = regionRects(b);
  const RgnRect* r2End = r2 + regionNumRects(b);
  int64_t want = std::max(r1End - r1, r2End - r2) * 2;

  // A source that is the destination is read from its old block.
  RegionData* oldData = nullptr;
  if ((dst == a || dst == b) && dst->data && dst->data->numRects > 0) {
    oldData = dst->data;
    dst->data = emptyData();
  } else if (!dst->data) {
    dst->data = emptyData();
  } else if (dst->data->size) {
    dst->data->numRects = 0;
  }

  bool ok = true;
  if (want > dst->data->size)
    ok = regionRectAlloc(dst, want);

  int ybot = (r1 != r1End && r2 != r2End) ? std::min(r1->y1, r2->y1) : kMin16;
  int64_t prevBand = 0;
  auto appendNon = [&](const RgnRect* r, const RgnRect* rEnd, int top, int bot) {
    if (top >= bot)
      return true;
    int64_t curBand = dst->data->numRects;
    if (!appendBand(dst, r, rEnd, top, bot))
      return false;
    prevBand = coalesce(dst, prevBand, curBand);
    return true;
  };

  while (ok && r1 != r1End && r2 != r2End) {
    const RgnRect* r1BandEnd = bandEnd(r1, r1End);
    const RgnRect* r2BandEnd = bandEnd(r2, r2End);
    int ytop;
    if (r1->y1 < r2->y1) {
      if ((keep & kKeepNonA) &&
          !appendNon(r1, r1BandEnd, std::max<int>(r1->y1, ybot), std::min(r1->y2, r2->y1))) {
        ok = false;
        break;
      }
      ytop = r2->y1;
    } else if (r2->y1 < r1->y1) {
      if ((keep & kKeepNonB) &&
          !appendNon(r2, r2BandEnd, std::max<int>(r2->y1, ybot), std::min(r1->y1, r2->y2))) {
        ok = false;
        break;
      }
      ytop = r1->y1;
    } else {
      ytop = r1->y1;
    }
    ybot = std::min(r1->y2, r2->y2);
    if (ybot > ytop) {
      int64_t curBand = dst->data->numRects;
      if (!bandOp(dst, r1, r1BandEnd, r2, r2BandEnd, ytop, ybot)) {
        ok = false;
        break;
      }
      prevBand = coalesce(dst, prevBand, curBand);
    }
    if (r1->y2 == ybot)
      r1 = r1BandEnd;
    if (r2->y2 == ybot)
      r2 = r2BandEnd;
  }

  // What is left of one operand, when it is kept.
  auto appendRest = [&](const RgnRect* r, const RgnRect* rEnd) {
    const RgnRect* rBandEnd = bandEnd(r, rEnd);
    if (!appendNon(r, rBandEnd, std::max<int>(r->y1, ybot), r->y2))
      return false;
    for (r = rBandEnd; r != rEnd; r++) {
      if (!appendBox(dst, r->x1, r->y1, r->x2, r->y2))
        return false;
    }
    return true;
  };
  if (ok && r1 != r1End && (keep & kKeepNonA))
    ok = appendRest(r1, r1End);
  else if (ok && r2 != r2End && (keep & kKeepNonB))
    ok = appendRest(r2, r2End);

  if (oldData && oldData->size)
    blockFree(oldData);
  if (!ok)
    return false; // dst is broken already

  int64_t n = dst->data->numRects;
  if (n == 1) {
    dst->extents = dst->data->rects()[0];
    freeData(dst);
    dst->data = nullptr;
  } else if (n == 0) {
    freeData(dst);
    dst->data = emptyData();
  } else if (dst->data->size > 50 && n * 2 < dst->data->size) {
    if (RegionData* p = (RegionData*)blockRealloc(dst->data, blockBytes(n))) {
      p->size = n;
      dst->data = p;
    }
  }
  return true;
}

bool regionIntersect(Region* dst, const Region* a, const Region* b)
{
  if (regionIsEmpty(a) || regionIsEmpty(b) || !extentsOverlap(a->extents, b->extents)) {
    if (regionIsBroken(a) || regionIsBroken(b))
      return regionBreak(dst);
    freeData(dst);
    dst->extents.x2 = dst->extents.x1;
    dst->extents.y2 = dst->extents.y1;
    dst->data = emptyData();
    return true;
  }
  if (!a->data && !b->data) {
    dst->extents = makeBox(std::max(a->extents.x1, b->extents.x1), std::max(a->extents.y1, b->extents.y1),
                           std::min(a->extents.x2, b->extents.x2), std::min(a->extents.y2, b->extents.y2));
    freeData(dst);
    dst->data = nullptr;
    return true;
  }
  if (!a->data && encloses(a->extents, b->extents))
    return regionCopy(dst, b);
  if ((!b->data && encloses(b->extents, a->extents)) || a == b)
    return regionCopy(dst, a);
  if (!regionOp(dst, a, b, intersectBand, kKeepNone))
    return false;
  regionSetExtents(dst);
  return true;
}

namespace {

// Where the band holding box i starts; bands are sorted by y1.
int64_t bandStartOf(const RgnRect* boxes, int64_t i)
{
  int16_t y1 = boxes[i].y1;
  return std::partition_point(boxes, boxes + i, [y1](const RgnRect& r) { return r.y1 < y1; }) - boxes;
}

} // namespace

bool regionUnion(Region* dst, const Region* a, const Region* b)
{
  if (a == b)
    return regionCopy(dst, a);
  if (regionIsBroken(a) || regionIsBroken(b))
    return regionBreak(dst);
  if (regionIsEmpty(a))
    return dst == b ? true : regionCopy(dst, b);
  if (regionIsEmpty(b))
    return dst == a ? true : regionCopy(dst, a);
  if (!a->data && encloses(a->extents, b->extents))
    return dst == a ? true : regionCopy(dst, a);
  if (!b->data && encloses(b->extents, a->extents))
    return dst == b ? true : regionCopy(dst, b);

  if (dst == a && !b->data && Appender(dst, Appender::kFixedRoom).append(b->extents))
    return true;

  RgnRect e = makeBox(std::min(a->extents.x1, b->extents.x1), std::min(a->extents.y1, b->extents.y1),
                      std::max(a->extents.x2, b->extents.x2), std::max(a->extents.y2, b->extents.y2));
  if (!regionOp(dst, a, b, unionBand, kKeepBoth))
    return false;
  dst->extents = e;
  return true;
}

int64_t Appender::bandStart(int64_t& cached, int64_t boxIndex)
{
  if (cached < 0)
    cached = bandStartOf(region_->data->rects(), boxIndex);
  return cached;
}

bool Appender::append(const RgnRect& b)
{
  Region* r = region_;
  RgnRect& e = r->extents;
  if (regionIsBroken(r))
    return false;
  if (!r->data) {
    // One rectangle: b joins it when they share rows or columns and meet.
    if (e.y1 == b.y1 && e.y2 == b.y2 && e.x1 <= b.x2 && b.x1 <= e.x2) {
      e.x1 = std::min(e.x1, b.x1);
      e.x2 = std::max(e.x2, b.x2);
      return true;
    }
    if (e.x1 == b.x1 && e.x2 == b.x2 && e.y1 <= b.y2 && b.y1 <= e.y2) {
      e.y1 = std::min(e.y1, b.y1);
      e.y2 = std::max(e.y2, b.y2);
      return true;
    }
    bool after = (b.y1 == e.y1 && b.y2 == e.y2 && b.x1 > e.x2) || b.y1 >= e.y2;
    if (growth_ == kFixedRoom || !after)
      return false;
    if (!regionRectAlloc(r, 1))
      return false;
    lastStart_ = 0;
    prevStart_ = -1;
  } else if (r->data->numRects == 0) {
    if (growth_ == kFixedRoom)
      return false;
    freeData(r);
    e = b;
    r->data = nullptr;
    return true;
  }

  int64_t n = r->data->numRects;
  const RgnRect* last = r->data->rects() + n - 1;
  bool newBand = false, widened = false;
  if (b.y1 == last->y1 && b.y2 == last->y2) {
    for (const RgnRect* p = last; p >= r->data->rects() && p->y1 == b.y1 && p->x2 >= b.x1; p--) {
      if (p->x1 <= b.x1 && p->x2 >= b.x2)
        return true; // already covered
    }
    if (b.x1 < last->x1)
      return false;
    bandStart(lastStart_, n - 1);
    if (b.x1 <= last->x2) {
      r->data->rects()[n - 1].x2 = std::max(last->x2, b.x2);
      widened = true;
    }
  } else if (b.y1 >= last->y2) {
    newBand = true;
  } else {
    return false;
  }
  if (!widened) {
    if (r->data->size <= n && (growth_ == kFixedRoom || !regionRectAlloc(r, 1)))
      return false;
    r->data->rects()[r->data->numRects++] = b;
    if (newBand) {
      prevStart_ = bandStart(lastStart_, n - 1);
      lastStart_ = n;
    }
  }

  RegionData* d = r->data;
  RgnRect* boxes = d->rects();
  // Fix-up: extents, then the last band against the one before it.
  e.x1 = std::min(e.x1, b.x1);
  e.x2 = std::max(e.x2, b.x2);
  e.y2 = b.y2;
  n = d->numRects;
  int64_t start = lastStart_;
  if (start > 0 && boxes[start - 1].y2 == boxes[start].y1 && boxes[start - 1].x2 == boxes[n - 1].x2) {
    int64_t prev = bandStart(prevStart_, start - 1);
    if (coalesce(r, prev, start) == prev) {
      lastStart_ = prev;
      prevStart_ = -1;
    }
  }
  if (d->numRects == 1) {
    e = boxes[0];
    freeData(r);
    r->data = nullptr;
    lastStart_ = prevStart_ = -1;
  }
  return true;
}

bool regionSubtract(Region* dst, const Region* m, const Region* s)
{
  if (regionIsEmpty(m) || regionIsEmpty(s) || !extentsOverlap(m->extents, s->extents)) {
    if (regionIsBroken(s))
      return regionBreak(dst);
    return regionCopy(dst, m);
  }
  if (m == s) {
    freeData(dst);
    dst->extents.x2 = dst->extents.x1;
    dst->extents.y2 = dst->extents.y1;
    dst->data = emptyData();
    return true;
  }
  if (!regionOp(dst, m, s, subtractBand, kKeepNonA))
    return false;
  regionSetExtents(dst);
  return true;
}

void regionTranslate(Region* region, int dx, int dy)
{
  if (regionIsBroken(region))
    return;
  RgnRect& e = region->extents;
  int x1 = e.x1 + dx, y1 = e.y1 + dy, x2 = e.x2 + dx, y2 = e.y2 + dy;
  int64_t n = regionNumRects(region);
  RgnRect* boxes = region->data ? region->data->rects() : &region->extents;

  if (x1 >= kMin16 && y1 >= kMin16 && x2 <= kMax16 && y2 <= kMax16) {
    e = makeBox(x1, y1, x2, y2);
    if (region->data) {
      for (int64_t i = 0; i < n; i++)
        boxes[i] = makeBox(boxes[i].x1 + dx, boxes[i].y1 + dy, boxes[i].x2 + dx, boxes[i].y2 + dy);
    }
    return;
  }
  if (x2 < kMin16 || y2 < kMin16 || x1 > kMax16 || y1 > kMax16) {
    freeData(region);
    regionInitEmpty(region, x1, y1); // cut to 16 bits
    return;
  }

  // Partly outside: clamp each box, drop those left without pixels, and
  // merge bands that clamping made equal.
  auto clamp16 = [](int v) { return std::min(std::max(v, kMin16), kMax16); };
  int64_t out = 0;
  for (int64_t i = 0; i < n; i++) {
    int bx1 = clamp16(boxes[i].x1 + dx), bx2 = clamp16(boxes[i].x2 + dx);
    int by1 = clamp16(boxes[i].y1 + dy), by2 = clamp16(boxes[i].y2 + dy);
    if (bx1 < bx2 && by1 < by2)
      boxes[out++] = makeBox(bx1, by1, bx2, by2);
  }
  out = coalesceBands(boxes, out);

  if (out == 0) {
    freeData(region);
    regionInitEmpty(region, clamp16(x1), clamp16(y1));
  } else if (out == 1) {
    e = boxes[0];
    freeData(region);
    region->data = nullptr;
  } else {
    region->data->numRects = out;
    regionSetExtents(region);
  }
}

Overlap regionContainsRect(const Region* region, const RgnRect* box)
{
  int64_t n = regionNumRects(region);
  if (n == 0 || !extentsOverlap(region->extents, *box))
    return kOverlapOut;
  if (n == 1)
    return encloses(region->extents, *box) ? kOverlapIn : kOverlapPart;

  bool partIn = false, partOut = false;
  int x = box->x1, y = box->y1; // rows above y are known
  const RgnRect* r = regionRects(region);
  const RgnRect* rEnd = r + n;
  for (; r != rEnd; r++) {
    if (r->y2 <= y)
      continue; // a band above the rows still to look at
    if (r->y1 > y) {
      partOut = true; // rows of the box that no band covers
      if (partIn || r->y1 >= box->y2)
        break;
      y = r->y1;
    }
    if (r->x2 <= x)
      continue;
    if (r->x1 > x) {
      partOut = true;
      if (partIn)
        break;
    }
    if (r->x1 < box->x2) {
      partIn = true;
      if (partOut)
        break;
    }
    if (r->x2 >= box->x2) {
      y = r->y2; // this band covers the box's width
      if (y >= box->y2)
        break;
    } else {
      // Boxes of a band never touch, so the rest of the width is not covered.
      partOut = true;
      break;
    }
  }
  if (!partIn)
    return kOverlapOut;
  return (partOut || y < box->y2) ? kOverlapPart : kOverlapIn;
}

bool regionContainsPoint(const Region* region, int x, int y, RgnRect* box)
{
  int64_t n = regionNumRects(region);
  const RgnRect& e = region->extents;
  if (n == 0 || x < e.x1 || x >= e.x2 || y < e.y1 || y >= e.y2)
    return false;
  const RgnRect* r = regionRects(region);
  for (int64_t i = 0; i < n; i++, r++) {
    if (r->y2 <= y)
      continue;
    if (r->y1 > y || r->x1 > x)
      return false;
    if (r->x2 > x) {
      if (box)
        *box = *r;
      return true;
    }
  }
  return false;
}

bool regionEqual(const Region* a, const Region* b)
{
  const RgnRect& ea = a->extents;
  const RgnRect& eb = b->extents;
  if (ea.x1 != eb.x1 || ea.y1 != eb.y1 || ea.x2 != eb.x2 || ea.y2 != eb.y2)
    return false;
  int64_t n = regionNumRects(a);
  if (n != regionNumRects(b))
    return false;
  const RgnRect* ra = regionRects(a);
  const RgnRect* rb = regionRects(b);
  for (int64_t i = 0; i < n; i++) {
    if (ra[i].x1 != rb[i].x1 || ra[i].y1 != rb[i].y1 || ra[i].x2 != rb[i].x2 || ra[i].y2 != rb[i].y2)
      return false;
  }
  return true;
}

// --- Checking boxes ------------------------------------------------------------

const char* regionBoxesFault(const RgnRect& extents, const RgnRect* b, int64_t n, int64_t* at)
{
  int minX = b[0].x1, maxX = b[0].x2;
  int64_t prevStart = -1;
  for (int64_t start = 0; start < n;) {
    int64_t end = start + 1;
    while (end < n && b[end].y1 == b[start].y1)
      end++;
    for (int64_t i = start; i < end; i++) {
      *at = i;
      if (b[i].x1 >= b[i].x2 || b[i].y1 >= b[i].y2)
        return "empty box";
      if (b[i].y2 != b[start].y2)
        return "rule 1: box rows differ within a band";
      if (i > start && b[i].x1 <= b[i - 1].x2)
        return "rule 2: boxes of a band overlap, touch or are out of order";
      minX = std::min<int>(minX, b[i].x1);
      maxX = std::max<int>(maxX, b[i].x2);
    }
    *at = start;
    if (prevStart >= 0) {
      if (b[start].y1 < b[prevStart].y2)
        return "rule 2: bands overlap or are out of order";
      bool same = b[start].y1 == b[prevStart].y2 && end - start == start - prevStart;
      for (int64_t k = 0; same && k < end - start; k++)
        same = b[prevStart + k].x1 == b[start + k].x1 && b[prevStart + k].x2 == b[start + k].x2;
      if (same)
        return "rule 3: touching bands with equal x ranges";
    }
    prevStart = start;
    start = end;
  }
  *at = -1;
  if (extents.x1 != minX || extents.x2 != maxX || extents.y1 != b[0].y1 ||
      extents.y2 != b[n - 1].y2)
    return "rule 4: extents are not the bounding box";
  return nullptr;
}

} // namespace Xregion
