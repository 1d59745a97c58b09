// The edit field on arbitrary input: a script of typed keysyms, clipboard
// texts pasted in (any bytes) and pointer drags. Whatever arrives, the text
// stays valid UTF-8 within the limit, free of control characters, and the
// caret and selection stay on character boundaries inside it.
#include <stdint.h>

#include <string>

#include "fuzz_util.h"
#include "plat/utf8.h"
#include "wvw/WEdit.h"
#include "wvwhost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  const int maxLength = data[0] % 64;
  tltest::WvwHost host(rfb::Point(120, 24));
  wvw::WEdit edit(maxLength);
  host.setContent(&edit);
  edit.setFocus();
  size_t i = 1;
  while (i < size) {
    const uint8_t op = data[i++];
    if (op & 0x80)
      host.hold(op & 0x40 ? 0xFFE3 : 0xFFE1); // Ctrl or Shift for this step
    switch (op % 4) {
    case 0: { // a keysym of up to 3 bytes
      uint32_t k = 0;
      for (int b = 0; b < 3 && i < size; b++)
        k = (k << 8) | data[i++];
      host.typeKey(k | (op & 0x20 ? 0xFF00 : 0));
      break;
    }
    case 1: { // a clipboard text
      const size_t n = i < size ? data[i++] % 32 : 0;
      host.clipboard.assign((const char*)data + i, std::min(n, size - i));
      i += std::min(n, size - i);
      edit.paste(&edit);
      break;
    }
    case 2: { // a drag
      const int x0 = i < size ? data[i++] : 0, x1 = i < size ? data[i++] : 0;
      host.press(x0 % 130 - 5, 10);
      host.pointer(x1 % 130 - 5, 10, 1);
      host.release(x1 % 130 - 5, 10);
      break;
    }
    default:
      host.paint();
      break;
    }
    host.releaseAll();
    const std::string t = edit.getText();
    FUZZ_CHECK(plat::isValidUtf8(t.c_str()));
    FUZZ_CHECK((int)t.size() <= maxLength);
    for (char c : t)
      FUZZ_CHECK((unsigned char)c >= 32 && c != 127);
    for (int off : {edit.getCaret(), edit.getCaret() + edit.getSelLength()}) {
      FUZZ_CHECK(off >= 0 && off <= (int)t.size());
      FUZZ_CHECK(off == (int)t.size() || ((unsigned char)t[off] & 0xC0) != 0x80);
    }
  }
  return 0;
}
