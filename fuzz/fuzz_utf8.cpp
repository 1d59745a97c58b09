// Decoding, repair, alignment, escaping and Latin-1 conversion of arbitrary
// bytes: nothing may crash, and the repair must always yield valid text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "plat/utf8.h"

using namespace plat;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

bool isCont(char c)
{
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

void checkRepair(const char* z, const char* end, size_t zlen, bool zvalid, int maxBytes)
{
  String fixed = utf8Sanitise(z, end, -1);
  check(isValidUtf8(fixed.str()));
  if (zvalid)
    check(strcmp(fixed.str(), z) == 0);
  check(static_cast<size_t>(fixed.length()) <= 3 * zlen);

  String cut = utf8Sanitise(z, end, maxBytes);
  check(cut.length() <= maxBytes);
  check(isValidUtf8(cut.str()));
  check(strncmp(fixed.str(), cut.str(), cut.length()) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  const char* s = reinterpret_cast<const char*>(data);
  std::string text(s, size);
  const char* z = text.c_str(); // the same bytes, NUL-terminated
  size_t zlen = strlen(z);

  bool valid = isValidUtf8(s, s + size);
  bool zvalid = isValidUtf8(z);
  // The text before the first NUL is whole characters of a valid text.
  if (valid)
    check(zvalid);
  check(zvalid == isValidUtf8(z, z + zlen));

  int maxBytes = size ? data[0] % 16 : 0;
  checkRepair(z, nullptr, zlen, zvalid, maxBytes);
  checkRepair(z, z + size, zlen, zvalid, maxBytes);

  // Decoding always moves forward and never past the bound.
  for (const char* p = s; p < s + size;) {
    unsigned char c = *p++;
    if (c >= 0x80) {
      int cp = utf8DecodeRest(c, &p, static_cast<int>(s + size - p + 1));
      check(cp >= -1 && cp <= 0x10FFFF);
    }
    check(p <= s + size);
  }
  for (const char* p = z + zlen; p > z;) {
    const char* before = p;
    utf8Back(&p, z);
    check(p < before && p >= z);
  }

  // Aligned ranges stay inside the text and start and end on boundaries.
  int pos = size > 1 ? static_cast<int8_t>(data[1]) : 0;
  int len = size > 2 ? static_cast<int8_t>(data[2]) : -1;
  utf8AlignRange(z, &pos, &len);
  check(pos >= 0 && len >= 0 && static_cast<size_t>(pos + len) <= zlen);
  check(!isCont(z[pos]) && !isCont(z[pos + len]));

  // Escaped text is one line of valid text without control characters.
  String escaped = escapeControlChars(z, '~');
  check(static_cast<size_t>(escaped.length()) <= 4 * zlen);
  check(isValidUtf8(escaped.str()));
  for (const char* p = escaped.str(); *p; p++)
    check(static_cast<unsigned char>(*p) >= 32 && *p != 127);

  check(utf8DisplayWidth(s, s + size) >= 0);

  // Latin-1 out and back returns the original bytes.
  String utf8;
  int utf8Len = -1;
  latin1ToUtf8(utf8, reinterpret_cast<const unsigned char*>(z), -1, &utf8Len);
  check(isValidUtf8(utf8.str()) && utf8Len == utf8.length());
  String latin1;
  int latin1Len = -1;
  utf8ToLatin1(latin1, utf8.str(), utf8Len, &latin1Len);
  check(static_cast<size_t>(latin1Len) == zlen && strcmp(latin1.str(), z) == 0);
  MBuf<unsigned char> raw = utf8ToLatin1Buf(static_cast<int>(size), s);
  check(static_cast<size_t>(raw.length()) <= size);
  return 0;
}
