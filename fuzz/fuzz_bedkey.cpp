// findBedKey on arbitrary bytes with the key taken from the first bytes: a
// refusal is a BedException or the stream's end, and a span found lies
// inside the bytes.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "hosted/Bed.h"
#include "rdr/Exception.h"

using namespace hosted;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > (1 << 20))
    return 0;
  size_t keyLen = data[0] % 16;
  if (keyLen + 1 > size)
    return 0;
  std::string key((const char*)data + 1, keyLen);
  const uint8_t* doc = data + 1 + keyLen;
  int len = (int)(size - 1 - keyLen);
  BedSpan s;
  try {
    s = findBedKey(len, doc, key.c_str());
  } catch (BedException&) {
    return 0;
  } catch (rdr::EndOfStream&) {
    return 0;
  }
  FUZZ_CHECK(s.data >= doc && s.length > 0 && s.data + s.length <= doc + len);
  return 0;
}
