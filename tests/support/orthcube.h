// An orthogonal colour cube for tests of colour-mapped output: index
// (r x nG + g) x nB + b, each level k back to 8 bits as
// (k x 255 + (n - 1) / 2) / (n - 1). The X layer's tests reuse it.
#pragma once

#include <memory>

#include "rfb/ColourMap.h"

namespace tltest {

class OrthCube : public rfb::ColourMap {
public:
  OrthCube(int nR, int nG, int nB) : n_{nR, nG, nB} {}

  void getColour(int index, int rgb[3]) override
  {
    int level[3] = {index / (n_[2] * n_[1]), (index / n_[2]) % n_[1], index % n_[2]};
    for (int c = 0; c < 3; c++)
      rgb[c] = n_[c] > 1 ? (level[c] * 255 + (n_[c] - 1) / 2) / (n_[c] - 1) : 0;
  }
  int size() override { return n_[0] * n_[1] * n_[2]; }
  int lookup(const int rgb[3]) override
  {
    int k[3];
    for (int c = 0; c < 3; c++)
      k[c] = ((n_[c] - 1) * rgb[c] + 127) / 255;
    return (k[0] * n_[1] + k[1]) * n_[2] + k[2];
  }
  bool isOrthogonal() override { return true; }

  // For rfb::setColourCubeMaker.
  static std::unique_ptr<rfb::ColourMap> make(int levels) { return std::make_unique<OrthCube>(levels, levels, levels); }

private:
  int n_[3];
};

} // namespace tltest
