// Pixel formats as a display server reports them, used to translate and to
// composite: the first 16 bytes are the output format, the next 16 the
// source format, then an option byte, then pixels. Any pair of valid
// formats translates without reading or writing outside its buffers (the
// guard bytes after the output stay), and the scratch path equals getImage.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fuzz_util.h"
#include "orthcube.h"
#include "rdr/MemInStream.h"
#include "rfb/PixDraw.h"
#include "rfb/PixTranslate.h"

namespace {

class SmallPalette : public rfb::ColourMap {
public:
  void getColour(int i, int rgb[3]) override
  {
    rgb[0] = i * 16;
    rgb[1] = 255 - i * 16;
    rgb[2] = (i * 71) & 255;
  }
  int size() override { return 16; }
};

rfb::PixelFormat readFormat(const uint8_t* data)
{
  rdr::MemInStream in(data, 16);
  rfb::PixelFormat pf;
  pf.read(in);
  return pf;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 33)
    return 0;
  rfb::setColourCubeMaker(tltest::OrthCube::make);
  rfb::PixelFormat out = readFormat(data), in = readFormat(data + 16);
  int option = data[32] & 1;
  bool useVia = data[32] & 2;
  data += 33;
  size -= 33;
  if (!out.isValid() || !in.isValid())
    return 0;
  // Source formats are the program's own: colour-mapped ones are at most
  // 16 bits, wide ones in host order.
  if ((!in.trueColour && in.bpp > 16) || (!in.isNativeEndian() && (in.bpp > 16 || option)))
    return 0;

  SmallPalette palette;
  const rfb::Rect r(0, 0, 9, 4);
  rfb::ManagedPixelBuffer src(in, r, in.trueColour ? nullptr : &palette);
  for (int i = 0; i < src.capacity(); i++)
    src.data[i] = size ? data[i % size] : (uint8_t)i;

  rfb::TransPixelBuffer t(option);
  t.setPF(out);
  if (useVia)
    t.setViaPF(rfb::rgb222Format());
  t.setSource(&src);
  const size_t bytes = (size_t)(out.bpp / 8) * r.width() * r.height();
  std::vector<uint8_t> image(bytes + 16, 0xA5);
  t.getImage(image.data(), r, 0);
  for (size_t i = bytes; i < image.size(); i++)
    FUZZ_CHECK(image[i] == 0xA5);
  int stride = 0;
  const uint8_t* scratch = t.getPixelsR(r, &stride);
  FUZZ_CHECK(scratch && stride == r.width());
  FUZZ_CHECK(memcmp(scratch, image.data(), bytes) == 0);

  // The same formats composited both ways.
  rfb::ManagedPixelBuffer dst(out, r, out.trueColour ? nullptr : &palette);
  memset(dst.data, 0x3c, dst.capacity());
  rfb::blendImage(src, rfb::Point(1, 1), dst, rfb::Rect(-2, 0, 8, 5));
  rfb::blendImage(dst, rfb::Point(0, 0), src, r, rfb::blendHalfOver);
  return 0;
}
