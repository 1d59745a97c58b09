// Every decoder on arbitrary text, every encoder on arbitrary bytes: nothing
// may crash; decode(encode(x)) == x; a failed decode leaves its output alone;
// encoding what a decode produced gives the canonical text, which decodes to
// the same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "plat/Exception.h"
#include "plat/encodings.h"

using namespace plat;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

using Buf = MBuf<unsigned char>;

bool same(const Buf& a, const unsigned char* b, int n)
{
  return a.length() == n && (n == 0 || memcmp(a.data(), b, n) == 0);
}

Buf sentinel()
{
  const unsigned char s[] = {0xde, 0xad};
  return Buf(s, 2, true);
}

bool untouched(const Buf& out)
{
  const unsigned char s[] = {0xde, 0xad};
  return same(out, s, 2) && out.isSecure();
}

void checkHex(const char* z)
{
  Buf out = sentinel();
  if (!hexToBin(z, out)) {
    check(untouched(out));
    return;
  }
  String canon = binToHex(out.length(), out.data());
  check(strcasecmp(canon.str(), z) == 0);
  unsigned char fixed[64];
  int n = out.length() < 64 ? out.length() : 64;
  check(hexToBinFixed(z, n, fixed) && (n == 0 || memcmp(fixed, out.data(), n) == 0));
}

void checkBase64(const char* z)
{
  Buf out = sentinel();
  if (!base64Decode(z, out)) {
    check(untouched(out));
    return;
  }
  check(out.isSecure());
  for (bool url : {false, true}) {
    String canon = binToBase64(out.length(), out.data(), url);
    Buf again;
    check(base64Decode(canon.str(), again) && same(again, out.data(), out.length()));
    check(strlen(canon.str()) <= strlen(z) + 2);
  }
}

void checkPercent(const char* z, size_t zlen)
{
  for (bool plus : {false, true}) {
    String dec;
    try {
      dec = percentDecode(z, plus);
    } catch (const Exception& e) {
      check(strcmp(e.str(), "Bad percent encoding") == 0);
      continue;
    }
    // Each escape is three characters for one byte; a NUL from "%00" would
    // show as a shorter result.
    size_t escapes = 0;
    for (const char* p = z; (p = strchr(p, '%')); p += 3)
      escapes++;
    check(strlen(dec.str()) == zlen - 2 * escapes);
    for (bool nonAscii : {false, true})
      check(strcmp(percentDecode(percentEncode(dec.str(), nonAscii).str(), false).str(),
                    dec.str()) == 0);
  }
}

void checkEncoders(const uint8_t* data, int n, const char* z)
{
  Buf out;
  check(hexToBin(binToHex(n, data).str(), out) && same(out, data, n));
  for (bool url : {false, true})
    check(base64Decode(binToBase64(n, data, url).str(), out) && same(out, data, n));
  for (bool nonAscii : {false, true})
    check(strcmp(percentDecode(percentEncode(z, nonAscii).str(), true).str(), z) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 16))
    return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  const char* z = text.c_str(); // up to the first NUL
  checkHex(z);
  checkBase64(z);
  checkPercent(z, strlen(z));
  checkEncoders(data, (int)size, z);
  return 0;
}
