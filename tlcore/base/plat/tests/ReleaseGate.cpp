// The test-features gate as a release build has it: TestFeatures.cpp compiled
// here without the test hooks and without the fixture digest. The program
// shows that no hook can change the digest and that the fixture key, found
// where the gate looks, is refused. Exits 0 when so.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <type_traits>

#include "os/AppInfo.h"
#include "os/dirs.h"
#include "plat/TestFeatures.h"

#ifdef TL_TEST_HOOKS
#error "this program must be compiled as a release build is"
#endif

// Chosen only when plat declares no setter of that name.
namespace plat {
struct NoHook {};
template <class... T>
NoHook setTestFeaturesDigestForTests(T...);
} // namespace plat

static_assert(std::is_same<decltype(plat::setTestFeaturesDigestForTests(
                               static_cast<const unsigned char*>(nullptr))),
                           plat::NoHook>::value,
              "a release build declares a setter of the test-features digest");

int main()
{
  if (memcmp(plat::getTestFeaturesDigest(), plat::getReleaseTestFeaturesDigest(), 32) != 0) {
    fprintf(stderr, "the gate does not carry the release digest\n");
    return 1;
  }
  char dir[] = "/tmp/tlreleasegateXXXXXX";
  if (!mkdtemp(dir))
    return 2;
  os::AppInfo::set("tfapp", nullptr, "tfcomp", nullptr, nullptr);
  os::setConfigDir(dir);
  std::string store = std::string(dir) + "/tfapp.d";
  mkdir(store.c_str(), 0700);
  std::string cmd = "cp " TL_TEST_SUPPORT_DIR "/TestFeaturesEnableKey " + store;
  bool copied = system(cmd.c_str()) == 0;
  bool enabled = plat::isTestFeaturesEnabled();
  cmd = std::string("rm -rf ") + dir;
  if (system(cmd.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", dir);
  if (!copied)
    return 2;
  if (enabled) {
    fprintf(stderr, "the release gate accepted the fixture key\n");
    return 1;
  }
  printf("release gate: digest fixed, fixture key refused\n");
  return 0;
}
