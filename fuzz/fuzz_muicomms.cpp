// The automation channel's line handler over arbitrary bytes, against the
// fixed sample tree on the fake back-end (made anew for each input). It may
// not crash; every reply is valid UTF-8 and ends with an empty line.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "mui/MuiComms.h"
#include "muiFake.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  tltest::SampleTree tree;
  rdr::MemInStream in(data, size);
  rdr::MemOutStream out;
  plat::DString line;
  try {
    mui::MuiComms::serve(in, out, line);
  } catch (rdr::EndOfStream&) {
  } catch (rdr::StringTooLongException&) {
  }
  out.nulTerminate();
  const char* text = (const char*)out.data();
  const size_t length = strlen(text);
  if (!plat::isValidUtf8(text) || (length && text[length - 1] != '\n'))
    abort();
  return 0;
}
