// Region boxes as plain lists, from our regions and from pixman's, and what
// translation must give at the edges of the 16-bit range (computed with
// pixman's 32-bit regions). Shared by the region tests and fuzz targets that
// compare with pixman; they link pixman themselves.
#pragma once

#include <vector>

#include <pixman.h>

#include "3rdparty/Xregion/Xregion.h"

namespace tltest {

struct RegionBox {
  int x1, y1, x2, y2;
  bool operator==(const RegionBox& o) const { return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2; }
};
using RegionBoxes = std::vector<RegionBox>;

inline RegionBoxes boxesOf(const Xregion::Region* r)
{
  RegionBoxes out;
  const Xregion::RgnRect* b = Xregion::regionRects(r);
  for (int64_t i = 0; i < Xregion::regionNumRects(r); i++)
    out.push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
  return out;
}

inline RegionBoxes boxesOf(pixman_region16_t* r)
{
  int n;
  pixman_box16_t* b = pixman_region_rectangles(r, &n);
  RegionBoxes out;
  for (int i = 0; i < n; i++)
    out.push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
  return out;
}

// The region's boxes moved by (dx, dy) and cut to -32768..32767.
inline RegionBoxes clippedMove(const Xregion::Region* r, int dx, int dy)
{
  std::vector<pixman_box32_t> moved;
  const Xregion::RgnRect* b = Xregion::regionRects(r);
  for (int64_t i = 0; i < Xregion::regionNumRects(r); i++)
    moved.push_back({b[i].x1 + dx, b[i].y1 + dy, b[i].x2 + dx, b[i].y2 + dy});
  pixman_region32_t p;
  pixman_region32_init_rects(&p, moved.data(), (int)moved.size());
  pixman_region32_intersect_rect(&p, &p, -32768, -32768, 65535, 65535);
  int n;
  pixman_box32_t* pb = pixman_region32_rectangles(&p, &n);
  RegionBoxes out;
  for (int i = 0; i < n; i++)
    out.push_back({pb[i].x1, pb[i].y1, pb[i].x2, pb[i].y2});
  pixman_region32_fini(&p);
  return out;
}

} // namespace tltest
