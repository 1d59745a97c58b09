// The string-file reader over arbitrary bytes: nothing may crash or hang,
// and no empty key or text is ever stored.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "loc/Localize.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  loc::Localize* l = loc::Localize::instance();
  try {
    rdr::MemInStream in(data, (int)size);
    l->parseStrings(in, "fuzz.po", "fz");
  } catch (plat::Exception&) {
    // An over-long line ends the file, as for any place.
  }
  for (const auto& kv : l->getTexts("fz"))
    if (kv.first.empty() || kv.second.empty())
      abort();

  std::string line(reinterpret_cast<const char*>(data), size);
  plat::DString out;
  try {
    loc::parsePoString(line.c_str(), out);
  } catch (plat::Exception&) {
  }
  return 0;
}
