#include "tx/ColorCube.h"

#include <memory>

#include "plat/Exception.h"
#include "rfb/PixTranslate.h"

namespace rfb {

static int level8(int k, int n) { return n > 1 ? (k * 255 + (n - 1) / 2) / (n - 1) : 0; }
static int levelOf(int c, int n) { return ((n - 1) * c + 127) / 255; }

void ColorCubeOrth::getColour(int index, int rgb[3])
{
  if (index < 0 || index >= size()) {
    rgb[0] = rgb[1] = rgb[2] = 0;
    return;
  }
  rgb[0] = level8(index / (nB_ * nG_), nR_);
  rgb[1] = level8((index / nB_) % nG_, nG_);
  rgb[2] = level8(index % nB_, nB_);
}

int ColorCubeOrth::lookup(const int rgb[3])
{
  return (levelOf(rgb[0], nR_) * nG_ + levelOf(rgb[1], nG_)) * nB_ + levelOf(rgb[2], nB_);
}

ColorCubePlusTable::ColorCubePlusTable(int nR, int nG, int nB) : ColorCubeOrth(nR, nG, nB), table(size())
{
  for (size_t i = 0; i < table.size(); i++)
    table[i] = i;
}

void ColorCubePlusTable::getColour(int, int[3])
{
  PLAT_ASSERT(false);
}

// Translations to colour-mapped output go through orthogonal cubes.
[[maybe_unused]] static const bool cubeMakerSet = [] {
  setColourCubeMaker([](int levels) -> std::unique_ptr<ColourMap> {
    return std::make_unique<ColorCubeOrth>(levels, levels, levels);
  });
  return true;
}();

} // namespace rfb
