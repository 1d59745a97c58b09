// Selection data another client answers with, through the conversions of a
// paste and a later copy: the first byte chooses Latin-1 (STRING) or UTF-8
// (UTF8_STRING) and wiping, the rest is the property's bytes, handed over
// by length with no NUL after them. The text is valid UTF-8 up to its one
// NUL; Latin-1 comes back as the same bytes through the explicit-length
// path; valid UTF-8 stays as it was.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "plat/utf8.h"
#include "tx/TXUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > (1 << 20))
    return 0;
  const bool latin1 = data[0] & 1;
  std::vector<unsigned char> bytes(data + 1, data + size);
  bytes.reserve(1); // data() is never null, as Xlib's never is
  const std::string upToNul(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
  plat::MBuf<char> text;
  tx::selectionText(latin1, bytes.data(), (int)bytes.size(), text, data[0] & 2);
  FUZZ_CHECK(strlen(text.data()) + 1 == (size_t)text.length() && plat::isValidUtf8(text.data()));
  plat::MBuf<unsigned char> back = plat::utf8ToLatin1Buf(text.length() - 1, text.data());
  FUZZ_CHECK(!latin1 || std::string(back.data(), back.data() + back.length()) == upToNul);
  FUZZ_CHECK(latin1 || !plat::isValidUtf8(upToNul.c_str()) || upToNul == text.data());
  return 0;
}
