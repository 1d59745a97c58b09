// The invariant checker every region test, fuzz target and peer comparison
// shares: the five rules a banded-rectangle region keeps (the band rules
// through Xregion::regionBoxesFault, which also checks regions from peers).
// Returns "" when they hold, else the first broken rule with the box index.
#pragma once

#include <stdint.h>

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

  int64_t i;
  if (const char* fault = Xregion::regionBoxesFault(e, r->data->rects(), n, &i))
    return i < 0 ? fault : at(fault, i);
  return "";
}

} // namespace tltest
