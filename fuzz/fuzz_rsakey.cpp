// The RSA readers on arbitrary bytes arriving in arbitrary pieces: the
// public (both exponent forms) and private interchange forms, and the
// framed verify and decrypt readers of a 512-bit key. Byte 0 picks the
// reader, byte 1 the piece sizes. A reader answers "not yet", completes,
// or throws a plat::Exception; rdr::BlockException never gets out, and a
// complete read always had every byte it needed.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "crypto/RsaKey.h"
#include "fuzz_util.h"
#include "plat/Configuration.h"
#include "rdr/Exception.h"
#include "rdr/MemOutStream.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

struct Done : crypto::RsaPrivateKey::GenerateCallback {
  void rsaKeyGenerated(crypto::RsaPrivateKey*) override {}
};

crypto::RsaPrivateKey& framedKey()
{
  static crypto::RsaPrivateKey* key = [] {
    plat::Configuration::global().get("RsaModulusBits").setParam("512", 30);
    static Done done;
    auto* k = new crypto::RsaPrivateKey;
    k->generate(&done, crypto::RsaPrivateKey::Generation::Synchronous);
    return k;
  }();
  return *key;
}

crypto::RsaPublicKey& framedPublic()
{
  static crypto::RsaPublicKey* key = [] {
    rdr::MemOutStream out;
    framedKey().write(out);
    TrickleInStream in(std::string((const char*)out.data(), out.length()));
    in.arrive(out.length());
    auto* k = new crypto::RsaPublicKey;
    FUZZ_CHECK(k->read(in, crypto::RsaExponent::Fixed));
    return k;
  }();
  return *key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 2)
    return 0;
  int mode = data[0] % 6;
  int piece = data[1] % 8 + 1;
  std::string bytes((const char*)data + 2, size - 2);
  TrickleInStream in(bytes, false);
  crypto::RsaPublicKey pub;
  crypto::RsaPrivateKey priv;
  plat::MBuf<unsigned char> out;
  for (;;) {
    in.arrive(piece);
    bool complete = false;
    try {
      switch (mode) {
      case 0:
        complete = pub.read(in, crypto::RsaExponent::Fixed);
        break;
      case 1:
        complete = pub.read(in, crypto::RsaExponent::Variable);
        break;
      case 2:
        complete = priv.read(in);
        break;
      case 3:
        complete = framedPublic().readAndVerifyPss(in, 3, "abc", 256, crypto::PssSalt::AnyLength);
        break;
      case 4:
        complete = framedPublic().readAndDecryptPublic(in, out);
        break;
      default:
        complete = framedKey().readAndDecryptPkcs1v15(in, out, 16);
        break;
      }
    } catch (rdr::BlockException&) {
      FUZZ_CHECK(!"BlockException escaped");
    } catch (plat::Exception&) {
      return 0;
    }
    if (complete) {
      if (mode == 5)
        FUZZ_CHECK(out.length() == 16);
      try {
        // Whatever was read must survive use.
        rdr::MemOutStream sink;
        if (mode <= 1 && pub.bits() > 0)
          pub.encryptPkcs1v15(sink, 1, "x");
        if (mode == 2 && priv.bits() > 0) {
          priv.write(sink);
          priv.check();
        }
      } catch (plat::Exception&) {
      }
      return 0;
    }
    if (in.allArrived())
      return 0;
  }
}
