// The random stream's HMAC-DRBG against an SP 800-90A reference written in
// Python, fed with injected entropy; its locking; and the mbedtls callback.
#include "crypto/RandomStream.h"

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cryptoTestUtil.h"

#include "os/entropy.h"
#include "testutil.h"
#include "rdr/MemInStream.h"

using crypto::RandomStream;

namespace {

unsigned char gSeed[32];
bool gNoEntropy = false;

long fakeGetrandom(void* buf, size_t len, unsigned)
{
  if (gNoEntropy) {
    errno = ENOSYS;
    return -1;
  }
  EXPECT_EQ(len, sizeof(gSeed));
  memcpy(buf, gSeed, std::min(len, sizeof(gSeed)));
  return static_cast<long>(len);
}
int noOpen(const char*, int)
{
  errno = ENOENT;
  return -1;
}
ssize_t noRead(int, void*, size_t)
{
  errno = EIO;
  return -1;
}
int noClose(int)
{
  return 0;
}
const os::EntropyCalls kFake = {fakeGetrandom, noOpen, noRead, noClose};

using cryptotest::hex;

// What fresh streams return for each draw size, one stream per draw.
std::vector<std::string> reference(const std::vector<int>& draws)
{
  std::string request = hex(gSeed, sizeof(gSeed));
  for (int n : draws)
    request += " " + std::to_string(n);
  std::vector<std::string> out = cryptotest::split(
      cryptotest::run("echo '" + request + "' | /usr/bin/python3 " TL_TEST_SUPPORT_DIR
                      "/crypto_drbg.py"),
      " \n");
  EXPECT_EQ(out.size(), draws.size());
  out.resize(draws.size());
  return out;
}

std::string draw(int n)
{
  RandomStream s;
  std::vector<unsigned char> b(n);
  s.readBytes(b.data(), n);
  return hex(b.data(), n);
}

class RandomStreamTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    gNoEntropy = false;
    RandomStream::resetForTest();
    os::setEntropyCallsForTest(&kFake);
  }
  void TearDown() override
  {
    os::setEntropyCallsForTest(nullptr);
    RandomStream::resetForTest();
  }
  void seed(unsigned s)
  {
    std::mt19937 rng(s);
    for (unsigned char& c : gSeed)
      c = static_cast<unsigned char>(rng());
    RandomStream::resetForTest();
  }
};

} // namespace

TEST_F(RandomStreamTest, MatchesHmacDrbgReference)
{
  // One stream per draw: its first block is made when it is built, and the
  // rest of its last block is dropped with it.
  const std::vector<std::vector<int>> plans = {
      {16, 40, 0, 1, 17},
      {1, 1, 1, 32, 33, 100},
      {1000, 15, 16, 48},
  };
  for (unsigned s = 1; s <= 3; s++) {
    for (const std::vector<int>& plan : plans) {
      seed(s);
      std::vector<std::string> want = reference(plan);
      for (size_t i = 0; i < plan.size() && i < want.size(); i++)
        EXPECT_EQ(draw(plan[i]), want[i]) << "seed " << s << " draw " << i;
    }
  }
}

TEST_F(RandomStreamTest, ItemsAboveOneBlockAreRefused)
{
  seed(1);
  RandomStream s;
  unsigned char buf[17];
  s.getBytes(buf, 16);
  try {
    s.getBytes(buf, 17);
    FAIL() << "17-byte item accepted";
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "item size too large");
  }
  EXPECT_THROW(s.rewind(), plat::Exception);
}

TEST_F(RandomStreamTest, HolderMayNestOthersWait)
{
  seed(2);
  std::atomic<bool> otherDone{false};
  std::thread other;
  {
    RandomStream outer;
    {
      RandomStream inner; // same thread: no deadlock
      inner.readU32();
    }
    other = std::thread([&] {
      RandomStream s;
      otherDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(otherDone.load());
  }
  other.join();
  EXPECT_TRUE(otherDone.load());
}

TEST_F(RandomStreamTest, ConcurrentDrawsGetWholeBlocks)
{
  seed(3);
  const int kPerThread = 200;
  // Each draw is two blocks; between threads they may come in any order,
  // but never interleaved within a draw.
  std::vector<std::string> got[2];
  std::thread threads[2];
  for (int t = 0; t < 2; t++)
    threads[t] = std::thread([&got, t] {
      for (int i = 0; i < kPerThread; i++)
        got[t].push_back(draw(32));
    });
  for (std::thread& t : threads)
    t.join();
  std::vector<std::string> all = got[0];
  all.insert(all.end(), got[1].begin(), got[1].end());
  std::vector<std::string> want = reference(std::vector<int>(2 * kPerThread, 32));
  std::sort(all.begin(), all.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(all, want);
}

TEST_F(RandomStreamTest, MbedTlsRandomUsesContextThenGenerator)
{
  seed(4);
  std::string want = reference({22})[0];
  unsigned char supplied[10];
  for (int i = 0; i < 10; i++)
    supplied[i] = static_cast<unsigned char>(0xa0 + i);
  rdr::MemInStream context(supplied, sizeof(supplied));
  unsigned char out[32];
  ASSERT_EQ(crypto::mbedTlsRandom(&context, out, sizeof(out)), 0);
  EXPECT_EQ(hex(out, 10), hex(supplied, 10));
  EXPECT_EQ(hex(out + 10, 22), want);
  EXPECT_EQ(crypto::mbedTlsRandom(nullptr, out, 0), 0);
}

TEST_F(RandomStreamTest, EntropyFailureIsReportedAndRetried)
{
  seed(5);
  gNoEntropy = true; // no getrandom and no device
  try {
    RandomStream s;
    FAIL() << "stream built without entropy";
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "/dev/random not supported");
  }
  unsigned char out[8];
  EXPECT_EQ(crypto::mbedTlsRandom(nullptr, out, sizeof(out)), -0x003C);
  // The generator was left unseeded: the next use seeds it afresh.
  gNoEntropy = false;
  EXPECT_EQ(draw(8), reference({8})[0]);
}

// A forked child reseeds: its first bytes are not the parent's next ones.
TEST_F(RandomStreamTest, ForkedChildReseeds)
{
  os::setEntropyCallsForTest(nullptr);
  draw(16);
  int fds[2];
  ASSERT_EQ(0, pipe2(fds, O_CLOEXEC));
  int status = tltest::inChild([&] {
    std::string mine = draw(16);
    return write(fds[1], mine.data(), mine.size()) == (ssize_t)mine.size() ? 0 : 1;
  });
  close(fds[1]);
  ASSERT_EQ(0, status);
  char buf[64];
  ssize_t n = read(fds[0], buf, sizeof(buf));
  close(fds[0]);
  ASSERT_EQ(32, n);
  EXPECT_NE(std::string(buf, n), draw(16));
}
