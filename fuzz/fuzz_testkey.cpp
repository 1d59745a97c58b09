// The test-features key file with arbitrary contents: the gate opens for
// exactly the file whose digest it was given, and no content makes it
// crash or throw.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/Sha.h"
#include "fuzz_util.h"
#include "plat/MBuf.h"
#include "plat/TestFeatures.h"

namespace {

const char kKey[] = "fuzz test features key\n";

struct Setup {
  Setup()
  {
    dirs.push_back(plat::String(dir.path.c_str()));
    plat::MBuf<unsigned char> d;
    crypto::Sha::digest(256, sizeof(kKey) - 1, (const unsigned char*)kKey, d, false);
    FUZZ_CHECK(d.length() == 32);
    memcpy(digest, d.data(), 32);
    plat::setTestFeaturesDirsForTests(&dirs);
    plat::setTestFeaturesDigestForTests(digest);
  }
  FuzzTempDir dir{"testkey"};
  std::vector<plat::String> dirs;
  unsigned char digest[32];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  fuzzQuietLogs();
  static Setup setup;
  std::string path = setup.dir.path + "/TestFeaturesEnableKey";
  FILE* f = fopen(path.c_str(), "we");
  FUZZ_CHECK(f);
  FUZZ_CHECK(size == 0 || fwrite(data, 1, size, f) == size);
  fclose(f);
  plat::resetTestFeaturesGateForTests();
  bool expected = size == sizeof(kKey) - 1 && memcmp(data, kKey, size) == 0;
  FUZZ_CHECK(plat::isTestFeaturesEnabled() == expected);
  return 0;
}
