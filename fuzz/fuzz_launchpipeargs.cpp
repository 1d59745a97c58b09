// The launched child's option parsing on arbitrary argument vectors (the
// input split at NUL bytes; "-fork" is stubbed): every input ends in a
// parsed pipe name or a plain error, the cursor stays inside the vector,
// and a hash is as long as half its digits.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "os/LaunchPipe.h"
#include "plat/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  static bool stubbed = [] {
    os::LaunchedProcessPipe::setForkForTest([] {});
    return true;
  }();
  (void)stubbed;
  std::vector<std::string> words;
  std::string cur;
  for (size_t i = 0; i < size; i++) {
    if (data[i] == 0) {
      words.push_back(cur);
      cur.clear();
    } else {
      cur += (char)data[i];
    }
  }
  if (!cur.empty())
    words.push_back(cur);
  std::vector<char*> argv;
  for (std::string& w : words)
    argv.push_back(&w[0]);
  argv.push_back(nullptr);
  char** cursor = argv.data();
  os::LaunchedProcessPipe::Args args;
  try {
    os::LaunchedProcessPipe::parseArgs(args, cursor, size % 3);
  } catch (plat::Exception&) {
    return 0;
  }
  if (cursor < argv.data() || cursor > argv.data() + words.size() || args.pipeName.isNull() ||
      args.pipeName.get()[0] == '-')
    abort();
  return 0;
}
