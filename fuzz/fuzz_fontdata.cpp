// The bitmap font parser on arbitrary bytes, read raw when the first byte
// is even and through the gzip inflater when it is odd: a font is either
// refused with an exception or parsed, and then every glyph of its blocks
// (and text of the same bytes, valid UTF-8 or not) measures and draws
// inside a small buffer.
#include <stdint.h>

#include <memory>
#include <string>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/ZlibInStream.h"
#include "tlutil/Font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  const bool gzip = data[0] & 1;
  rdr::MemInStream mem(data + 1, (int)(size - 1));
  rdr::ZlibInStream zin(0, true);
  std::unique_ptr<tlutil::FontZarnBm> font;
  try {
    rdr::InStream* in = &mem;
    if (gzip) {
      zin.setUnderlying(&mem);
      zin.setRewindable(false);
      in = &zin;
    }
    font = std::make_unique<tlutil::FontZarnBm>(*in);
  } catch (const plat::Exception&) {
    return 0;
  }
  rfb::ManagedPixelBuffer buf(rfb::xrgb8888Format(), rfb::Rect(0, 0, 64, 32));
  for (int k = 0; k <= font->blockCount(); k++) {
    for (int c = 0; c < 128; c++) {
      const int cp = (int)(font->blockBase(k) + c);
      font->charWidth(cp);
      font->drawChar(buf, cp, rfb::Point(8, 4), 0xffffff);
    }
  }
  std::string text(reinterpret_cast<const char*>(data), size);
  font->drawTextInRect(buf, text.c_str(), buf.rect, 0x00ff00, 1, 1);
  font->drawTextEllipsized(buf, text.c_str(), buf.rect, 0x00ff00, 2, 0, text.c_str() + text.size());
  return 0;
}
