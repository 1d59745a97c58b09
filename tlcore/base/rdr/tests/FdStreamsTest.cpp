#include "rdr/FdInStream.h"
#include "rdr/FdOutStream.h"
#include "rdr/FileInStream.h"
#include "rdr/FileOutStream.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rdr/Exception.h"
#include "testutil.h"

namespace {

// Both ends close-on-exec; closes what is still open.
struct Pipe {
  int fds[2];
  Pipe() { os::pipeCloexec(fds); }
  ~Pipe()
  {
    closeEnd(0);
    closeEnd(1);
  }
  void closeEnd(int i)
  {
    if (fds[i] >= 0)
      close(fds[i]);
    fds[i] = -1;
  }
  int r() const { return fds[0]; }
  int w() const { return fds[1]; }
};

// Runs fn in a forked child that exits with 0; returns the child's pid.
template <typename Fn> pid_t inChild(Fn fn)
{
  pid_t pid = fork();
  if (pid == 0) {
    fn();
    _exit(0);
  }
  return pid;
}

void reap(pid_t pid)
{
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

int64_t elapsedMs(plat::Time since)
{
  return (plat::getMonoTime() - since) / plat::kTicksPerMilli;
}

class Calls : public rdr::FdOutStream::Callback {
public:
  void blocked(rdr::FdOutStream*, bool isBlocked) override { seen.push_back(isBlocked); }
  void writeShutDown(rdr::FdOutStream*) override {}
  std::vector<bool> seen;
};

tltest::CaptureDest capture("fdstreamtest", tltest::CaptureDest::kSourceText);

} // namespace

TEST(FdStreams, EndOfStreamFromAChild)
{
  Pipe p;
  pid_t pid = inChild([&] {
    if (write(p.w(), "hello", 5) != 5)
      _exit(1);
  });
  p.closeEnd(1);
  rdr::FdInStream in(p.r());
  char buf[5];
  in.readBytes(buf, 5);
  EXPECT_EQ("hello", std::string(buf, 5));
  try {
    in.readU8();
    ADD_FAILURE() << "no exception";
  } catch (rdr::EndOfStream& e) {
    EXPECT_STREQ("End of IO stream", e.str());
  }
  reap(pid);
}

TEST(FdStreams, TimedOutOnASilentPipe)
{
  for (bool blockingFd : {true, false}) {
    SCOPED_TRACE(blockingFd);
    Pipe p;
    os::setBlocking(p.r(), blockingFd);
    rdr::FdInStream in(p.r());
    in.setTimeout(100);
    plat::Time t0 = plat::getMonoTime();
    try {
      in.readU8();
      ADD_FAILURE() << "no exception";
    } catch (plat::TimedOut& e) {
      EXPECT_STREQ("Timed out", e.str());
    }
    EXPECT_GE(elapsedMs(t0), 100);
  }
}

TEST(FdStreams, NonBlockingEmptyReads)
{
  Pipe p;
  os::setBlocking(p.r(), false);
  rdr::FdInStream in(p.r());
  in.setNonBlocking(true);
  EXPECT_FALSE(in.check(false, 1));
  EXPECT_THROW(in.readU8(), rdr::BlockException);
  ASSERT_EQ(1, write(p.w(), "x", 1));
  EXPECT_TRUE(in.check(false, 1));
  EXPECT_EQ('x', in.readU8());
}

TEST(FdStreams, DevFullReportsItsWriteError)
{
  // Descriptor stream: the error of the write itself.
  {
    int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    rdr::FdOutStream out(fd);
    out.setOwnFd(true);
    out.writeBytes("abc", 3);
    try {
      out.flush();
      ADD_FAILURE() << "no exception";
    } catch (plat::SystemException& e) {
      EXPECT_EQ(ENOSPC, e.getErr());
      EXPECT_EQ(0, strncmp(e.str(), "write", 5)) << e.str();
    }
  }
  // File stream: small writes fail at close, large ones at once; a stream
  // destroyed without close can only log.
  struct Case {
    int bytes;
    bool close;
  } cases[] = {{10, true}, {100000, true}, {10, false}};
  plat::setLogOverride("FileOutStream:fdstreamtest:0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    capture.lines.clear();
    std::string data(c.bytes, 'x');
    bool threw = false;
    try {
      rdr::FileOutStream out("/dev/full");
      out.writeBytes(data.data(), c.bytes);
      if (c.close)
        out.close();
    } catch (plat::SystemException& e) {
      threw = true;
      EXPECT_EQ(ENOSPC, e.getErr());
    }
    EXPECT_EQ(c.close, threw);
    ASSERT_EQ(c.close ? 0u : 1u, capture.lines.size());
    if (!c.close) {
      EXPECT_EQ(0u, capture.lines[0].find("FileOutStream: Error writing file: fflush"))
          << capture.lines[0];
    }
  }
  plat::setLogOverride(nullptr);
}

TEST(FdStreams, DescriptorsFrom1024AreRefusedForWaiting)
{
  struct rlimit rl;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &rl));
  struct rlimit saved = rl;
  if (rl.rlim_cur < 1100) {
    rl.rlim_cur = rl.rlim_max < 2048 ? rl.rlim_max : 2048;
    if (rl.rlim_cur < 1100 || setrlimit(RLIMIT_NOFILE, &rl) != 0)
      GTEST_SKIP() << "cannot open descriptors above 1024";
  }
  Pipe p;
  int hiR = dup3(p.r(), 1030, O_CLOEXEC);
  int hiW = dup3(p.w(), 1031, O_CLOEXEC);
  ASSERT_EQ(1030, hiR);
  ASSERT_EQ(1031, hiW);
  os::setBlocking(hiR, false);
  os::setBlocking(hiW, false);
  {
    rdr::FdInStream in(hiR);
    rdr::FdOutStream out(hiW, 16384); // no growth: a full pipe waits
    try {
      in.readU8();
      ADD_FAILURE() << "read did not throw";
    } catch (plat::SystemException& e) {
      EXPECT_EQ(EMFILE, e.getErr());
      EXPECT_EQ(0, strncmp(e.str(), "select", 6)) << e.str();
    }
    std::string chunk(65536, 'x');
    try {
      for (int i = 0; i < 64; i++)
        out.writeBytes(chunk.data(), (int)chunk.size());
      ADD_FAILURE() << "write did not throw";
    } catch (plat::SystemException& e) {
      EXPECT_EQ(EMFILE, e.getErr());
      EXPECT_EQ(0, strncmp(e.str(), "select", 6)) << e.str();
    }
  }
  close(hiR);
  close(hiW);
  setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(FdStreams, BrokenConnectionSurfacesOnTheNextOperation)
{
  signal(SIGPIPE, SIG_IGN);
  for (bool throwErrors : {true, false}) {
    SCOPED_TRACE(throwErrors);
    int sv[2];
    os::socketPair(sv);
    pid_t pid = inChild([&] { close(sv[0]); });
    close(sv[1]);
    reap(pid); // the peer is gone
    rdr::FdInStream in(sv[0]);
    rdr::FdOutStream out(sv[0]);
    Calls calls;
    out.setCallback(&calls);
    out.setInStream(&in);
    out.setLazy(true);
    out.setThrowErrors(throwErrors);
    out.writeBytes("data", 4);
    if (throwErrors) {
      EXPECT_THROW(out.flush(), plat::SystemException);
    } else {
      out.flush(); // kept, and not taken for "would block"
      EXPECT_EQ(EPIPE, out.getWriteError());
      EXPECT_EQ(std::vector<bool>{false}, calls.seen);
      for (int op = 0; op < 2; op++) {
        try {
          if (op == 0)
            out.flush();
          else
            in.readU8();
          ADD_FAILURE() << "op " << op << " did not throw";
        } catch (plat::SystemException& e) {
          EXPECT_EQ(EPIPE, e.getErr()) << op;
        }
      }
    }
    close(sv[0]);
  }
}

TEST(FileStreams, TransactedWriteAndReadBack)
{
  char tmpl[] = "/tmp/rdrfile.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string dir = tmpl, target = dir + "/t.txt";
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit);
    {
      rdr::FileOutStream old(target.c_str());
      old.writeBytes("old\n", 4);
      old.close();
    }
    {
      rdr::TransactedFileOutStream out(target.c_str());
      out.writeBytes("ab\r\ncd", 6);
      if (commit)
        out.commit();
    }
    rdr::FileInStream in(target.c_str());
    plat::DString line;
    in.readLine(line);
    EXPECT_STREQ(commit ? "ab" : "old", line.get());
    if (commit) {
      in.readLine(line);
      EXPECT_STREQ("cd", line.get());
    }
    try {
      in.readLine(line);
      ADD_FAILURE() << "no exception";
    } catch (rdr::EndOfStream& e) {
      EXPECT_STREQ("End of file", e.str());
    }
    int entries = 0;
    DIR* d = opendir(dir.c_str());
    while (struct dirent* e = readdir(d))
      entries += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(1, entries); // no temporary file left
  }
  (void)plat::tryRmDir(dir.c_str(), true);
}
