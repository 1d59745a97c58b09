#include "tlOrbSetup/InstallCommand.h"

#include <string.h>

#include "io/Endpoint.h"
#include "os/program.h"
#include "plat/Exception.h"

namespace tlOrbSetup {

namespace {

#ifdef TL_TEST_HOOKS
bool (*toolCheckForTest)(const char*) = nullptr;
#endif

bool toolPresent(const char* path)
{
#ifdef TL_TEST_HOOKS
  if (toolCheckForTest)
    return toolCheckForTest(path);
#endif
  return !os::findExecutable(path, true).isNull();
}

bool endsWith(const char* text, const char* suffix)
{
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

} // namespace

#ifdef TL_TEST_HOOKS
void setToolCheckForTest(bool (*present)(const char* path))
{
  toolCheckForTest = present;
}
#endif

std::vector<plat::String> installCommandFor(const char* path)
{
  struct Row {
    const char* suffix;
    const char* tool;
    const char* args[2];
  };
  static const Row rows[] = {
      {".deb", "/usr/bin/dpkg", {"-i", nullptr}},
      {".rpm", "/usr/bin/yum", {"localinstall", "-y"}},
      {".rpm", "/usr/bin/zypper", {"in", "-y"}},
      {".rpm", "/usr/bin/rpm", {"-U", nullptr}},
  };
  std::vector<plat::String> command;
  for (const Row& row : rows) {
    if (!endsWith(path, row.suffix) || !toolPresent(row.tool))
      continue;
    command.emplace_back(row.tool);
    for (const char* arg : row.args)
      if (arg)
        command.emplace_back(arg);
    command.emplace_back(path);
    break;
  }
  return command;
}

plat::String packageFileName(const char* uri)
{
  io::EndpointUri parsed(uri);
  const char* path = parsed.path.str();
  const char* slash = strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (!*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
    throw plat::ExceptionFmt("Bad package URI %s", uri);
  return plat::String(name);
}

} // namespace tlOrbSetup
