// Shows another pixel buffer in a different pixel format. The translation
// is prepared once per pair of formats (lookup tables and a conversion
// routine) and applied rectangle by rectangle on demand.
//
// The source and a user colour map are borrowed; the tables, the colour
// cube made for colour-mapped output and the scratch buffer are owned.
// Colour cubes come from the maker that the X layer registers (tests
// register their own).
#pragma once

#include <stdint.h>

#include <memory>

#include "rfb/PixBuffer.h"

namespace rfb {

// Conversion routines; strides in pixels.
using TransFn = void (*)(const void* table, const PixelFormat& inPF, const void* in, int inStride,
                         const PixelFormat& outPF, void* out, int outStride, int width, int height);

// Makes an orthogonal colour cube of levels x levels x levels.
using ColourCubeMaker = std::unique_ptr<ColourMap> (*)(int levels);
void setColourCubeMaker(ColourCubeMaker maker);

class TransPixelBuffer : public PixelBuffer {
public:
  // option set: 16-bit inputs use channel tables instead of one table.
  explicit TransPixelBuffer(int option = 0);
  ~TransPixelBuffer() override;

  void getImage(void* buf, const Rect& r, int outStride = 0) override;
  ColourMap* getColourMap() override;
  // The source's own memory without a translation; else the scratch
  // buffer's, which grows to the largest rectangle asked for.
  const uint8_t* getPixelsR(const Rect& r, int* stride) override;
  void prepareRegion(const Region& region) override;

  // Null empties the rect. The tables are rebuilt only when the source's
  // format differs from the one they were built for.
  void setSource(PixelBuffer* src);
  void setPF(const PixelFormat& pf);
  void setColourMap(ColourMap* cm);
  ColourMap* getCubeOrSourceColourMap();
  // A true-colour format whose precision every colour is first reduced
  // to; taken at the next set-up, for true-colour output only.
  void setViaPF(const PixelFormat& pf);

#ifdef TL_TEST_HOOKS
  // The routine chosen ("none" without a translation) and the number of
  // set-ups so far.
  const char* routineNameForTest() const { return routineName_; }
  int setupsForTest() const { return setups_; }
  ManagedPixelBuffer* scratchForTest() const { return scratch_.get(); }
#endif

private:
  void setUpTranslation();
  void setUpColourMapped();
  void setUpTrueColour();
  void buildOneTable();
  void buildChannelTables(ColourMap* cm, ColourMap* userMap);

  int option_;
  PixelBuffer* source_ = nullptr;
  PixelFormat inPF_;
  std::unique_ptr<uint8_t[]> table_;
  TransFn translate_ = nullptr;
  std::unique_ptr<ColourMap> ownCube_;
  ColourMap* userColourMap_ = nullptr;
  std::unique_ptr<ManagedPixelBuffer> scratch_;
  std::unique_ptr<PixelFormat> viaPF_;
  const char* routineName_ = "none";
  int setups_ = 0;
};

} // namespace rfb
