// The elliptic-curve readers on arbitrary bytes: public and private forms
// arriving in pieces (never waiting, never letting rdr::BlockException
// out), and signatures checked against a fixed key. Byte 0 picks the curve
// and the reader, byte 1 the piece sizes.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "crypto/EcKey.h"
#include "fuzz_util.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/tests/TrickleInStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 2)
    return 0;
  crypto::EcKey::Curve curve = (crypto::EcKey::Curve)(data[0] % 6);
  int reader = data[0] / 6 % 3;
  int piece = data[1] % 8 + 1;
  std::string bytes((const char*)data + 2, size - 2);
  crypto::EcKey key(curve);
  if (reader == 2) {
    if (curve <= crypto::EcKey::Curve448)
      return 0;
    key.generate();
    rdr::MemInStream in(bytes.data(), (int)bytes.size());
    try {
      key.verify(in, 3, "abc", 256);
    } catch (plat::Exception&) {
    }
    return 0;
  }
  TrickleInStream in(bytes, false);
  for (;;) {
    in.arrive(piece);
    bool complete = false;
    try {
      complete = reader == 0 ? key.readPublic(in) : key.readPrivate(in);
    } catch (rdr::BlockException&) {
      FUZZ_CHECK(!"BlockException escaped");
    } catch (plat::Exception&) {
      return 0;
    }
    if (complete) {
      rdr::MemOutStream out;
      key.writePublic(out);
      if (reader == 1)
        key.writePrivate(out);
      try {
        if (curve <= crypto::EcKey::Curve448) {
          crypto::EcKey other(curve);
          other.generate();
          other.sharedSecret(key);
        } else if (reader == 1) {
          key.sign(out, 3, "abc", 256);
        }
      } catch (plat::Exception&) {
      }
      return 0;
    }
    if (in.allArrived())
      return 0;
  }
}
