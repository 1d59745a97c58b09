// Colour cubes of colour-mapped displays: an orthogonal cube whose index
// follows from independent red, green and blue levels, and the cube the X
// layer allocates, whose entries are the X pixels of its colours. Plain
// values, used on the loop thread.
#pragma once

#include <vector>

#include "rfb/ColourMap.h"

namespace rfb {

// Index (r x nG + g) x nB + b; level k of n is (k x 255 + (n - 1) / 2) /
// (n - 1) in 8 bits.
class ColorCubeOrth : public ColourMap {
public:
  ColorCubeOrth(int nR, int nG, int nB) : nR_(nR), nG_(nG), nB_(nB) {}
  // An index outside the cube gives black.
  void getColour(int index, int rgb[3]) override;
  int size() override { return nR_ * nG_ * nB_; }
  int lookup(const int rgb[3]) override;
  bool isOrthogonal() override { return true; }

protected:
  int nR_, nG_, nB_;
};

// The same cube, each index standing for the pixel in the table (initially
// the index itself). Its colours are not asked for.
class ColorCubePlusTable : public ColorCubeOrth {
public:
  ColorCubePlusTable(int nR, int nG, int nB);
  void getColour(int index, int rgb[3]) override;
  int lookup(const int rgb[3]) override { return (int)table[ColorCubeOrth::lookup(rgb)]; }
  bool isOrthogonal() override { return false; }

  std::vector<unsigned long> table;
};

} // namespace rfb
