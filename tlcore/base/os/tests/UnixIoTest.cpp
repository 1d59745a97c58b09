// Unix-socket connections against real listening sockets.
#include "os/UnixIo.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "plat/Exception.h"

namespace {

// A listening socket bound to path (removed again when destroyed).
struct Listener {
  explicit Listener(const std::string& path, bool listening = true) : path(path)
  {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.data(), path.size());
    EXPECT_EQ(0, bind(fd, (struct sockaddr*)&addr, sizeof(addr))) << strerror(errno);
    if (listening) {
      EXPECT_EQ(0, listen(fd, 4));
    }
  }
  ~Listener()
  {
    if (fd >= 0)
      close(fd);
    unlink(path.c_str());
  }
  std::string path;
  int fd;
};

class UnixIoTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/uioXXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override { rmdir(dir.c_str()); }
  // dir/ followed by 'p' characters up to a total length of len bytes.
  std::string pathOfLength(size_t len)
  {
    return dir + "/" + std::string(len - dir.size() - 1, 'p');
  }
  std::string dir;
};

int connectError(const char* path)
{
  try {
    close(os::UnixIo::connectUnix(path, os::UnixIo::kStream));
    return 0;
  } catch (plat::SystemException& e) {
    EXPECT_TRUE(strncmp(e.str(), "connect", 7) == 0 || strncmp(e.str(), "UnixIo", 6) == 0)
        << e.str();
    return e.getErr();
  }
}

TEST_F(UnixIoTest, ConnectAndServerProbe)
{
  std::string live = dir + "/live", stale = dir + "/stale", missing = dir + "/missing";
  Listener server(live);
  // A socket file whose owner is gone.
  Listener gone(stale, false);
  close(gone.fd);
  gone.fd = -1;
  Listener longest(pathOfLength(107));

  struct Case {
    std::string path;
    int err;
    bool running;
  };
  const Case cases[] = {
      {live, 0, true},
      {missing, ENOENT, false},
      {stale, ECONNREFUSED, false},
      {longest.path, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.err, connectError(c.path.c_str()));
    EXPECT_EQ(c.running, os::UnixIo::isServerRunning(c.path.c_str()));
  }

  // One byte more is refused before any socket is made.
  int probe = dup(0);
  close(probe);
  EXPECT_EQ(ENAMETOOLONG, connectError(pathOfLength(108).c_str()));
  int next = dup(0);
  EXPECT_EQ(probe, next);
  close(next);
}

TEST_F(UnixIoTest, NamesAndPeerChecksOfBothSides)
{
  std::string path = dir + "/x y%";
  Listener server(path);
  os::UnixIo* client = new os::UnixIo(path.c_str(), -1);
  os::UnixIo* accepted =
      new os::UnixIo(nullptr, accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC));
  std::string uid = std::to_string(getuid());

  EXPECT_EQ("<unix-client-" + path + "-uid-" + uid + ">", client->displayName());
  EXPECT_EQ("<unix-server-anon-uid-" + uid + ">", accepted->displayName());
  EXPECT_EQ("[unix:" + dir + "/x y%25]", client->peerEndpoint());
  EXPECT_STREQ("", accepted->peerEndpoint());
  EXPECT_EQ(1u, client->flags().count(plat::String("secureTransport")));

  for (os::UnixIo* io : {client, accepted}) {
    EXPECT_EQ(getuid(), io->getPeerEuid());
    EXPECT_NO_THROW(os::namedPipeCredCheck(io, getuid()));
    try {
      os::namedPipeCredCheck(io, getuid() + 1);
      ADD_FAILURE() << "no uid mismatch";
    } catch (plat::Exception& e) {
      EXPECT_STREQ("namedPipeCredCheck: uid mismatch", e.str());
    }
    io->shutdown(io::Shutdown::kDrop);
  }
}

} // namespace
