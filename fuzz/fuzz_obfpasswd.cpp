// Obfuscated passwords read from arbitrary stream bytes: no crash, a
// refused field is an exception, and a password that reads is written and
// read back unchanged.
#include <stdint.h>
#include <string.h>

#include "fuzz_util.h"
#include "plat/ObfPasswd.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

using namespace plat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  rdr::MemInStream in(data, (int)size);
  SecureString password;
  try {
    password = readObfPasswd(in);
  } catch (Exception&) {
    return 0;
  }
  // An empty text is written as an empty field, which reads as none.
  if (password.isNull() || !*password.get())
    return 0;
  rdr::MemOutStream out;
  try {
    writeObfPasswd(out, password.get());
  } catch (Exception&) {
    // A text with non-ASCII bytes gains a marker and may outgrow the field.
    return 0;
  }
  rdr::MemInStream back(out.data(), (int)out.length());
  SecureString again = readObfPasswd(back);
  FUZZ_CHECK(!again.isNull() && strcmp(again.get(), password.get()) == 0);
  return 0;
}
