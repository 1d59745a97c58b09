#include "tlOrbSetup/CloudCredentials.h"

#include <string.h>
#include <sys/stat.h>

#include "os/dirs.h"

namespace tlOrbSetup {

namespace {

constexpr const char* kCredentialsFile = "CloudCredentials.bed";

} // namespace

plat::String cloudCredentialsPath(const char* storePath)
{
  const char* dir = storePath ? storePath : "";
  size_t n = strlen(dir);
  return plat::format("%s%s%s", dir, n > 0 && dir[n - 1] == '/' ? "" : "/", kCredentialsFile);
}

bool hasCloudCredentials(const char* appName, bool)
{
  plat::String dir = os::getPersistentStorePath(appName);
  if (dir.isNull())
    return false;
  plat::String path = cloudCredentialsPath(dir.get());
  struct stat st;
  return stat(path.get(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tlOrbSetup
