// The bootstrap cache reader over arbitrary "BootstrapCache.pkg" files,
// under the built-in vendor configuration: it never throws, and a file it
// does not keep is gone afterwards.
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "fuzz_hosted.h"
#include "fuzz_util.h"
#include "hosted/BootstrapCache.h"
#include "os/PersistentStore.h"
#include "plat/Exception.h"

using namespace hosted;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzQuietLogs();
  const VendorConfig& vendor = builtInVendorConfig();
  static std::string dir = [] {
    char path[] = "/tmp/fuzz_bootstrapcache_XXXXXX";
    return std::string(mkdtemp(path) ? path : "");
  }();
  static struct RemoveDir {
    ~RemoveDir() { rmdir(dir.c_str()); }
  } removeDir;
  if (dir.empty() || size > (1 << 20))
    return 0;
  os::PersistentStoreFile store(dir.c_str());
  try {
    store.write(BootstrapCache::kFileName, data, (int)size);
  } catch (const plat::Exception&) {
    // A machine that cannot write the file is no finding.
    return 0;
  }
  BootstrapCache cache(&store, vendor);
  std::string file = dir + "/" + BootstrapCache::kFileName;
  if (cache.config()) {
    FUZZ_CHECK(cache.config()->isSigned() && cache.sourceUrl());
  } else {
    FUZZ_CHECK(!cache.sourceUrl() && cache.expiryTime() == 0);
    FUZZ_CHECK(access(file.c_str(), F_OK) != 0);
  }
  store.remove(BootstrapCache::kFileName);
  return 0;
}
