#include "rfb/ColourMap.h"

#include <stdint.h>

namespace rfb {

ColourMap::~ColourMap() = default;

int ColourMap::lookup(const int rgb[3])
{
  int n = size();
  if (n < 1)
    return 0;
  int best = 0;
  int64_t bestDist = 2147483647;
  for (int i = 0; i < n; i++) {
    int c[3];
    getColour(i, c);
    int64_t dist = 0;
    for (int k = 0; k < 3; k++)
      dist += (int64_t)(c[k] - rgb[k]) * (c[k] - rgb[k]);
    if (dist < bestDist) {
      bestDist = dist;
      best = i;
    }
  }
  return best;
}

void ColourMapRW::copyFrom(ColourMap& other)
{
  for (int i = 0; i < other.size(); i++) {
    int rgb[3] = {0, 0, 0};
    other.getColour(i, rgb);
    setColour(i, rgb);
  }
}

} // namespace rfb
