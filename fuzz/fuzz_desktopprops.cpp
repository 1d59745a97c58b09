// A window-manager or desktop property that desktop detection reads, as
// Xlib hands it over, without an X server: the first byte gives the format
// (8, 16, 32 or none) and whether the type is the one asked for, the rest
// are the bytes (format-32 items become longs). Read as a check window or
// a process id, and as WM_CLASS.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "ui/DesktopEnvironment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static const int formats[4] = {8, 16, 32, 0};
  if (size < 1)
    return 0;
  const int format = formats[data[0] & 3];
  const Atom type = data[0] & 4 ? XA_ATOM : XA_WINDOW;
  std::vector<unsigned char> bytes(data + 1, data + size);
  bytes.reserve(1); // data() is never null, as Xlib's never is
  std::vector<long> longs(bytes.size() / 4);
  for (size_t i = 0; i < longs.size(); i++)
    longs[i] = (long)(bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 | (uint32_t)bytes[4 * i + 3] << 24);
  const unsigned long items = format ? bytes.size() / (format / 8) : 0;
  const unsigned char* read = format == 32 ? (const unsigned char*)longs.data() : bytes.data();
  unsigned long value = 0;
  const bool ok = tx::firstCardinal(type, format, items, items ? read : nullptr, XA_WINDOW, &value);
  FUZZ_CHECK(ok == (type == XA_WINDOW && format == 32 && items >= 1) && (!ok || value == (unsigned long)longs[0]));
  // The class part after the instance's NUL never counts.
  const int kind = ui::DesktopEnvironment::kindOfClass((const char*)bytes.data(), bytes.size());
  std::string withClass((const char*)bytes.data(), strnlen((const char*)bytes.data(), bytes.size()));
  withClass.append("\0x", 2);
  FUZZ_CHECK(ui::DesktopEnvironment::kindName(kind) &&
             kind == ui::DesktopEnvironment::kindOfClass(withClass.data(), withClass.size()));
  return 0;
}
