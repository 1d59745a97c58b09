// The parent's reader of the exec error record on arbitrary bytes: it never
// reads past them, a record's text is at most 255 bytes and lies inside the
// input, and a record written back from what was read reads the same.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "os/LaunchProcess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // An exact-size copy, so that a read past the end is an ASan report.
  std::vector<uint8_t> input(data, data + size);
  os::ExecError error;
  os::ExecErrorRead r = os::parseExecError(input.data(), input.size(), error);
  if (r == os::ExecErrorRead::kNone && size != 0)
    abort();
  if (r != os::ExecErrorRead::kRecord)
    return 0;
  size_t n = strlen(error.text);
  if (n > 255 || 5 + n > size || memcmp(error.text, data + 5, n) != 0)
    abort();
  uint8_t again[260];
  size_t len = os::formatExecError(again, error.err, error.text);
  os::ExecError second;
  if (os::parseExecError(again, len, second) != os::ExecErrorRead::kRecord ||
      second.err != error.err || strcmp(second.text, error.text) != 0)
    abort();
  return 0;
}
