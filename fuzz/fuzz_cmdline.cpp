// Splitting arbitrary text into arguments: nothing may crash, and quoting
// the arguments again gives a command line that splits into the same ones.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "plat/Configuration.h"

using namespace plat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // The splitter reads up to the first NUL, as a C string would.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<String> args;
  splitCmdLine(args, text.c_str());

  DString cmd;
  for (const String& arg : args)
    appendQuotedArg(cmd, arg.str());
  std::vector<String> again;
  splitCmdLine(again, cmd.get());
  if (again.size() != args.size())
    abort();
  for (size_t i = 0; i < args.size(); i++) {
    if (again[i] != args[i])
      abort();
  }
  return 0;
}
