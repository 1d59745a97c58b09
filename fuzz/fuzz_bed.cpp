// BED decoding on arbitrary bytes: a refusal is a plat::Exception; a
// document that decodes encodes to bytes that decode and encode to the same
// bytes again (strict and loose), and the notation never fails.
#include <stdint.h>
#include <string.h>

#include "fuzz_util.h"
#include "hosted/Bed.h"
#include "rdr/MemOutStream.h"

using namespace hosted;

namespace {

std::string encoded(const BedValue& v)
{
  rdr::MemOutStream out;
  BedWriter w(out);
  v.encode(w);
  return std::string((const char*)out.data(), out.length());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  for (bool strict : {false, true}) {
    BedValuePtr v;
    try {
      BedReader r((int)size, data);
      v = decodeBed(r, strict ? kBedMediaType : nullptr, strict);
    } catch (plat::Exception&) {
      continue;
    }
    std::string once = encoded(*v);
    BedReader again((int)once.size(), once.data());
    BedValuePtr v2 = decodeBed(again, nullptr, strict);
    FUZZ_CHECK(encoded(*v2) == once);
    FUZZ_CHECK(encoded(*cloneBed(*v)) == once);
    plat::String text = v->toText();
    FUZZ_CHECK(!text.isNull());
  }
  plat::String text = formatBed((int)size, data, kBedMediaType);
  FUZZ_CHECK(!text.isNull());
  return 0;
}
