#include "plat/TestFeatures.h"

#include <string.h>

#include "crypto/Sha.h"
#include "os/dirs.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/MBuf.h"
#include "plat/encodings.h"

namespace plat {

namespace {

LogSrc vlog("TestFeaturesEnableKey");

constexpr int kDigestBytes = 32;
// A key file is small; anything larger is not one of ours.
constexpr int kMaxKeyFileSize = 1025;

struct Digest {
  unsigned char bytes[kDigestBytes];
};

constexpr bool isDigestHex(const char* hex)
{
  for (int i = 0; i < 2 * kDigestBytes; i++)
    if (hexValue(hex[i]) < 0)
      return false;
  return hex[2 * kDigestBytes] == 0;
}

constexpr Digest parseDigest(const char* hex)
{
  Digest d{};
  for (int i = 0; i < kDigestBytes; i++)
    d.bytes[i] = (unsigned char)(hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1]));
  return d;
}

constexpr const char kReleaseHex[] =
    "5e0c7a91d2b84f36a1c09e7d4b2f8a6310d5c7e9f2a4b6083c1e5d7f9a0b2c4d";
static_assert(isDigestHex(kReleaseHex), "release digest must be 64 hex digits");
constexpr Digest kReleaseDigest = parseDigest(kReleaseHex);

// A test build accepts the digest of the fixture key file instead.
#ifdef TL_TEST_FEATURES_DIGEST
static_assert(isDigestHex(TL_TEST_FEATURES_DIGEST),
              "TL_TEST_FEATURES_DIGEST must be 64 hex digits");
constexpr Digest kBuiltInDigest = parseDigest(TL_TEST_FEATURES_DIGEST);
#else
constexpr Digest kBuiltInDigest = kReleaseDigest;
#endif

bool gateRun = false;
bool enabled = false;
#ifdef TL_TEST_HOOKS
const std::vector<String>* dirsOverride = nullptr;
const unsigned char* digestOverride = nullptr;
#endif

std::vector<String> candidateDirs()
{
#ifdef TL_TEST_HOOKS
  if (dirsOverride)
    return *dirsOverride;
#endif
  std::vector<String> dirs;
  os::getDataSearchDirs(dirs);
  String store = os::getPersistentStorePath(nullptr);
  if (!store.isNull())
    dirs.push_back(std::move(store));
  return dirs;
}

bool keyFileMatches(const char* path)
{
  FilePtr file(path, FilePtr::kRead);
  MBuf<unsigned char> contents = file.readAll(kMaxKeyFileSize);
  MBuf<unsigned char> digest;
  crypto::Sha::digest(256, contents.length(), contents.data(), digest, false);
  return digest.length() == kDigestBytes &&
         memcmp(digest.data(), getTestFeaturesDigest(), kDigestBytes) == 0;
}

} // namespace

bool isTestFeaturesEnabled()
{
  if (gateRun)
    return enabled;
  // Set first: a call made while the gate is still deciding gets false.
  gateRun = true;
  String path;
  try {
    path = findFileInDirs(candidateDirs(), "TestFeaturesEnableKey");
    if (!path.isNull())
      enabled = keyFileMatches(path.get());
  } catch (const Exception& e) {
    char text[Exception::kMessageSize];
    vlog.info("Error reading '%s': %s", path.str(), e.formatDisplay(text));
    enabled = false;
  }
  vlog.info("Enabled %d", enabled ? 1 : 0);
  return enabled;
}

const unsigned char* getTestFeaturesDigest()
{
#ifdef TL_TEST_HOOKS
  if (digestOverride)
    return digestOverride;
#endif
  return kBuiltInDigest.bytes;
}

const unsigned char* getReleaseTestFeaturesDigest()
{
  return kReleaseDigest.bytes;
}

#ifdef TL_TEST_HOOKS
void resetTestFeaturesGateForTests()
{
  gateRun = false;
  enabled = false;
}

void setTestFeaturesDirsForTests(const std::vector<String>* dirs)
{
  dirsOverride = dirs;
}

void setTestFeaturesDigestForTests(const unsigned char* digest)
{
  digestOverride = digest;
}
#endif

} // namespace plat
