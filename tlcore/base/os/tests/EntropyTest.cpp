// os::getEntropy through each of its paths, with the system calls replaced.
#include "os/entropy.h"

#include <errno.h>
#include <fcntl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"

namespace {

// One scripted kernel: which calls exist and what they do.
struct Kernel {
  bool haveGetrandom;
  int getrandomChunk; // most bytes one getrandom call returns; 0 = all
  int urandomErr; // errno for open("/dev/urandom"), 0 = opens
  int randomErr;
  std::vector<int> reads; // successive read results: > 0 bytes, 0 EOF, < 0 -errno
};
// What getEntropy did with it.
struct Script {
  Kernel k;
  std::vector<std::string> opened;
  int opens = 0;
  int closes = 0;
  size_t readAt = 0;
  int openFlags = 0;
};
Script* gScript;
const int kFd = 42;

long scriptGetrandom(void* buf, size_t len, unsigned flags)
{
  EXPECT_EQ(flags, 0u);
  if (!gScript->k.haveGetrandom) {
    errno = ENOSYS;
    return -1;
  }
  if (gScript->k.getrandomChunk && len > static_cast<size_t>(gScript->k.getrandomChunk))
    len = gScript->k.getrandomChunk;
  memset(buf, 0x11, len);
  return static_cast<long>(len);
}
int scriptOpen(const char* path, int flags)
{
  gScript->opened.push_back(path);
  gScript->openFlags = flags;
  int err = strcmp(path, "/dev/urandom") == 0 ? gScript->k.urandomErr : gScript->k.randomErr;
  if (err) {
    errno = err;
    return -1;
  }
  gScript->opens++;
  return kFd;
}
ssize_t scriptRead(int fd, void* buf, size_t len)
{
  EXPECT_EQ(fd, kFd);
  if (gScript->readAt >= gScript->k.reads.size()) {
    memset(buf, 0x22, len);
    return static_cast<ssize_t>(len);
  }
  int r = gScript->k.reads[gScript->readAt++];
  if (r < 0) {
    errno = -r;
    return -1;
  }
  size_t n = std::min(len, static_cast<size_t>(r));
  memset(buf, 0x22, n);
  return static_cast<ssize_t>(n);
}
int scriptClose(int fd)
{
  EXPECT_EQ(fd, kFd);
  gScript->closes++;
  return 0;
}
const os::EntropyCalls kScripted = {scriptGetrandom, scriptOpen, scriptRead, scriptClose};

struct Case {
  const char* name;
  Kernel kernel;
  int length;
  const char* error;           // null: success
  std::vector<std::string> opened;
  unsigned char fill;          // expected byte on success
};

} // namespace

TEST(Entropy, EachPath)
{
  const std::vector<Case> cases = {
      {"getrandom", {true, 0, 0, 0, {}}, 32, nullptr, {}, 0x11},
      // Large requests may come back short when a signal arrives.
      {"getrandom in pieces", {true, 100, 0, 0, {}}, 1000, nullptr, {}, 0x11},
      {"getrandom, length 0", {true, 0, 0, 0, {}}, 0, nullptr, {}, 0},
      {"urandom", {false, 0, 0, 0, {}}, 32, nullptr, {"/dev/urandom"}, 0x22},
      {"urandom, length 0", {false, 0, 0, 0, {}}, 0, nullptr, {"/dev/urandom"}, 0},
      {"short and interrupted reads", {false, 0, 0, 0, {5, -EINTR, 1, 7}}, 32, nullptr,
       {"/dev/urandom"}, 0x22},
      {"random when urandom is missing", {false, 0, ENOENT, 0, {}}, 32, nullptr,
       {"/dev/urandom", "/dev/random"}, 0x22},
      {"no device", {false, 0, ENOENT, ENOENT, {}}, 32, "/dev/random not supported",
       {"/dev/urandom", "/dev/random"}, 0},
      {"urandom refused", {false, 0, EACCES, 0, {}}, 32,
       "open(/dev/urandom): Permission denied (13)", {"/dev/urandom"}, 0},
      {"random refused", {false, 0, ENOENT, EACCES, {}}, 32,
       "open(/dev/random): Permission denied (13)", {"/dev/urandom", "/dev/random"}, 0},
      {"read error", {false, 0, 0, 0, {4, -EIO}}, 32, "read(random): Input/output error (5)",
       {"/dev/urandom"}, 0},
      {"end of file", {false, 0, 0, 0, {4, 0}}, 32, "no bytes from read(random)",
       {"/dev/urandom"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    s.k = c.kernel;
    gScript = &s;
    os::setEntropyCallsForTest(&kScripted);
    std::vector<unsigned char> buf(c.length + 1, 0xee);
    std::string error;
    try {
      os::getEntropy(buf.data(), c.length);
    } catch (plat::Exception& e) {
      error = e.str();
    }
    os::setEntropyCallsForTest(nullptr);
    EXPECT_EQ(error, c.error ? c.error : "");
    EXPECT_EQ(s.opened, c.opened);
    // Every descriptor opened is closed, on success and failure alike.
    EXPECT_EQ(s.closes, s.opens);
    if (!s.opened.empty()) {
      EXPECT_EQ(s.openFlags, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (!c.error) {
      for (int i = 0; i < c.length; i++)
        ASSERT_EQ(buf[i], c.fill) << i;
      EXPECT_EQ(buf[c.length], 0xee); // nothing past the length
    }
  }
}

TEST(Entropy, SystemSourceFillsBuffers)
{
  unsigned char a[64] = {}, b[64] = {};
  os::getEntropy(a, sizeof(a));
  os::getEntropy(b, sizeof(b));
  EXPECT_NE(memcmp(a, b, sizeof(a)), 0);
}
