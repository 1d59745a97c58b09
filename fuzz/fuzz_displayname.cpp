// The display number in an X display name taken from DISPLAY: never more
// than the digits after the first ':' say, and the default when they are
// not all digits.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "fuzz_util.h"
#include "tx/TXUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string name(reinterpret_cast<const char*>(data), size);
  name = name.c_str();
  const int number = tx::parseDisplayNumber(name.c_str(), -7);
  size_t colon = name.find(':');
  std::string digits = colon == std::string::npos ? "" : name.substr(colon + 1, name.find('.', colon) - colon - 1);
  if (number != -7)
    FUZZ_CHECK(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
               number == atoi(digits.c_str()));
  return 0;
}
