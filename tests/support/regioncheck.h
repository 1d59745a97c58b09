// The invariant checker every region test, fuzz target and peer comparison
// shares: the five rules a banded-rectangle region keeps, written apart from
// the code under test. Returns "" when they hold, else the first broken
// rule with the box index.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <string>

#include "3rdparty/Xregion/Xregion.h"

namespace tltest {

inline std::string regionInvariantError(const Xregion::Region* r)
{
  using Xregion::RgnRect;
  const RgnRect& e = r->extents;
  auto at = [](const char* what, int64_t i) { return std::string(what) + " at box " + std::to_string(i); };

  if (r->data == Xregion::brokenData()) {
    if (e.x1 || e.y1 || e.x2 || e.y2)
      return "broken region with non-zero extents";
    return "";
  }
  if (!r->data) {
    if (e.x1 >= e.x2 || e.y1 >= e.y2)
      return "rule 5: single-rectangle region with empty extents";
    return "";
  }
  int64_t n = r->data->numRects;
  if (n < 0 || (r->data->size && n > r->data->size))
    return "block count out of range";
  if (n == 0) {
    // setBoxes(0) may leave an owned block with no box.
    if (r->data != Xregion::emptyData() && !r->data->size)
      return "rule 5: empty region with a foreign size-0 block";
    if (e.x2 != e.x1 || e.y2 != e.y1)
      return "empty region whose extents are not a point";
    return "";
  }
  if (n == 1)
    return "rule 5: one box kept in a block";
  if (r->data == Xregion::emptyData())
    return "boxes in the shared empty block";

  const RgnRect* b = r->data->rects();
  int minX = b[0].x1, maxX = b[0].x2;
  int64_t prevStart = -1;
  for (int64_t start = 0; start < n;) {
    int64_t end = start + 1;
    while (end < n && b[end].y1 == b[start].y1)
      end++;
    for (int64_t i = start; i < end; i++) {
      if (b[i].x1 >= b[i].x2 || b[i].y1 >= b[i].y2)
        return at("empty box", i);
      if (b[i].y2 != b[start].y2)
        return at("rule 1: box rows differ within a band", i);
      if (i > start && b[i].x1 <= b[i - 1].x2)
        return at("rule 2: boxes of a band overlap, touch or are out of order", i);
      minX = std::min<int>(minX, b[i].x1);
      maxX = std::max<int>(maxX, b[i].x2);
    }
    if (prevStart >= 0) {
      if (b[start].y1 < b[prevStart].y2)
        return at("rule 2: bands overlap or are out of order", start);
      if (b[start].y1 == b[prevStart].y2 && end - start == start - prevStart) {
        bool same = true;
        for (int64_t k = 0; same && k < end - start; k++)
          same = b[prevStart + k].x1 == b[start + k].x1 && b[prevStart + k].x2 == b[start + k].x2;
        if (same)
          return at("rule 3: touching bands with equal x ranges", start);
      }
    }
    prevStart = start;
    start = end;
  }
  if (e.x1 != minX || e.x2 != maxX || e.y1 != b[0].y1 || e.y2 != b[n - 1].y2)
    return "rule 4: extents are not the bounding box";
  return "";
}

} // namespace tltest
