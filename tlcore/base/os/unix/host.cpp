#include "os/host.h"

#include <execinfo.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace os {

plat::String getShortHostName()
{
  char name[257];
  if (gethostname(name, sizeof(name)) != 0)
    name[0] = 0;
  name[sizeof(name) - 1] = 0;
  if (char* dot = strchr(name, '.'))
    *dot = 0;
  return plat::String(name);
}

__attribute__((noinline)) void getBacktrace(std::vector<plat::String>& out)
{
  void* frames[62];
  int n = backtrace(frames, 62);
  if (n < 2)
    return;
  // Our own frame is the first; an instrumented build may put an interceptor
  // frame before it, so start at the frame of our caller when it is found.
  int first = 1;
  void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
  for (int i = 1; i < n && i < 4; i++) {
    if (frames[i] == caller) {
      first = i;
      break;
    }
  }
  char** symbols = backtrace_symbols(frames, n);
  for (int i = first; i < n; i++)
    out.push_back(plat::format("%2d %s", i - first + 1, symbols ? symbols[i] : "?"));
  free(symbols);
}

} // namespace os
