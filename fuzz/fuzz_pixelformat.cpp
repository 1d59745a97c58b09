// Pixel formats from outside bytes: the 16-byte stream form (as a peer
// sends it), then a short name. Reading again what was written gives the
// same format; printing stays within its buffer; a name that parses gives
// a valid format.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rfb/PixelFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 16)
    return 0;
  rdr::MemInStream in(data, 16);
  rfb::PixelFormat pf;
  pf.read(in);

  rdr::MemOutStream out;
  pf.write(out);
  FUZZ_CHECK(out.length() == 16);
  rdr::MemInStream back(out.data(), 16);
  rfb::PixelFormat again;
  again.read(back);
  FUZZ_CHECK(memcmp(&again, &pf, sizeof(pf)) == 0);

  char buf[rfb::PixelFormat::kPrintSize] = "";
  pf.print(buf);
  FUZZ_CHECK(strlen(buf) < sizeof(buf) && strncmp(buf, "depth ", 6) == 0);
  int rgb[3] = {data[0], data[1], data[2]};
  pf.pixelFromRGB(rgb, nullptr);
  pf.isValid();
  rfb::PixelFormat le = pf;
  if (le.makeLittleEndian())
    FUZZ_CHECK(!le.bigEndian);

  std::string name((const char*)data + 16, size - 16);
  rfb::PixelFormat parsed;
  if (parsed.parse(name.c_str()))
    FUZZ_CHECK(parsed.isValid());
  return 0;
}
