// The PNG decoder on arbitrary bytes: a file is refused with PngException
// (in the header or while its rows are read) or decodes into a buffer of
// its size, premultiplied or not.
#include <stdint.h>

#include "fuzz_util.h"
#include "tlutil/PngFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  try {
    tlutil::PngFile png((int)size, data, tlutil::PngFile::Premultiply::Yes, "fuzz");
    const rfb::Point s = png.getSize();
    // Keep memory bounded: 8192 x 8192 is allowed but too big to try here.
    if ((int64_t)s.x * s.y > (1 << 22))
      return 0;
    rfb::ManagedPixelBuffer buf(&png);
    FUZZ_CHECK(buf.rect.width() == s.x && buf.rect.height() == s.y);
  } catch (const tlutil::PngException&) {
  }
  return 0;
}
