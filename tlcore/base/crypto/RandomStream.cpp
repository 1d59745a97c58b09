#include "crypto/RandomStream.h"

#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "crypto/Hmac.h"
#include "os/entropy.h"
#include "plat/Exception.h"
#include "plat/String.h"

namespace crypto {

namespace {

constexpr int kSeedSize = 32;

// The process-wide HMAC-DRBG. K and V are touched only by the holder of
// lock. The lock is statically initialised and never destroyed, so a
// stream made by a thread still running at exit finds it intact.
struct Generator {
  uint8_t k[32];
  uint8_t v[32];
  // One HMAC object for every step: drawing allocates nothing.
  Hmac* hmac;
};

Generator gen;
pthread_mutex_t lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::atomic<bool> instantiated{false};
std::atomic<pid_t> seededPid{0};
std::mutex instantiateMutex;

void hmacStep(uint8_t out[32], const uint8_t* v, int sep, const uint8_t* data)
{
  Hmac& h = *gen.hmac;
  h.setKey(32, gen.k);
  h.update(32, v);
  if (sep >= 0) {
    uint8_t b = static_cast<uint8_t>(sep);
    h.update(1, &b);
  }
  if (data)
    h.update(kSeedSize, data);
  h.final(out, 32);
}

// SP 800-90A HMAC_DRBG_Update; data is absent or kSeedSize bytes.
void update(const uint8_t* data)
{
  hmacStep(gen.k, gen.v, 0x00, data);
  hmacStep(gen.v, gen.v, -1, nullptr);
  if (!data)
    return;
  hmacStep(gen.k, gen.v, 0x01, data);
  hmacStep(gen.v, gen.v, -1, nullptr);
}

// Seeds the generator on first use, and reseeds it (SP 800-90A: an update
// with fresh entropy) in a process forked from a seeded one, which would
// otherwise repeat its parent's output.
void ensureInstantiated()
{
  pid_t pid = getpid();
  if (instantiated.load(std::memory_order_acquire) &&
      seededPid.load(std::memory_order_relaxed) == pid)
    return;
  std::lock_guard<std::mutex> once(instantiateMutex);
  bool reseed = instantiated.load(std::memory_order_relaxed);
  if (reseed && seededPid.load(std::memory_order_relaxed) == pid)
    return;
  // A failing entropy source leaves the generator as it was; the next use
  // tries again.
  uint8_t seed[kSeedSize];
  os::getEntropy(seed, kSeedSize);
  pthread_mutex_lock(&lock);
  if (!reseed) {
    memset(gen.k, 0x00, sizeof(gen.k));
    memset(gen.v, 0x01, sizeof(gen.v));
  }
  if (!gen.hmac)
    gen.hmac = new Hmac(256, 32, gen.k);
  update(seed);
  plat::secureZero(seed, sizeof(seed));
  pthread_mutex_unlock(&lock);
  seededPid.store(pid, std::memory_order_relaxed);
  instantiated.store(true, std::memory_order_release);
}

} // namespace

RandomStream::RandomStream()
{
  ensureInstantiated();
  pthread_mutex_lock(&lock);
  setRewindable(false);
  try {
    overrun(kBlockSize);
  } catch (...) {
    pthread_mutex_unlock(&lock);
    throw;
  }
}

RandomStream::~RandomStream()
{
  plat::secureZero(block_, sizeof(block_));
  pthread_mutex_unlock(&lock);
}

bool RandomStream::overrun(int size)
{
  if (size > kBlockSize)
    throw plat::Exception("item size too large");
  ptr_ = end_ = checkpointPtr_ = block_;
  ensureInstantiated();
  // The caller's thread holds the lock since the constructor.
  hmacStep(gen.v, gen.v, -1, nullptr);
  memcpy(block_, gen.v, kBlockSize);
  update(nullptr);
  end_ = block_ + kBlockSize;
  return true;
}

#ifdef TL_TEST_HOOKS
void RandomStream::resetForTest()
{
  std::lock_guard<std::mutex> once(instantiateMutex);
  pthread_mutex_lock(&lock);
  instantiated.store(false);
  plat::secureZero(gen.k, sizeof(gen.k));
  plat::secureZero(gen.v, sizeof(gen.v));
  pthread_mutex_unlock(&lock);
}
#endif

} // namespace crypto
