// Loopback helpers shared by the TCP, pool and wrapper tests: loop running
// with a time limit, and a small line server on the loop ("ping" answers
// "pong"; "ping+extra" answers "pong" followed by bytes nobody asked for).
#pragma once

#include <dirent.h>
#include <string.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "io/FdListener.h"
#include "io/FdSelectManager.h"
#include "io/IpInfo.h"
#include "io/TcpIo.h"
#include "loopback.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"
#include "testutil.h"

namespace nettest {

using tltest::CaptureDest;
using tltest::countFds;

// Runs the loop until done() holds; false when limitMs passed first.
inline bool runUntil(io::FdSelectManager& mgr, const std::function<bool()>& done,
                     int limitMs = 15000)
{
  plat::Time end = plat::getMonoTime() + (plat::Time)limitMs * plat::kTicksPerMilli;
  while (!done()) {
    if (plat::getMonoTime() > end)
      return false;
    mgr.processOnce(50);
  }
  return true;
}

// A few passes, for work queued on the next pass (deferred deletes,
// shutdowns) to finish.
inline void settle(io::FdSelectManager& mgr)
{
  for (int i = 0; i < 5; i++)
    mgr.processOnce(0);
}

// A stream socket on the loopback address of family (port chosen by the
// system), listening with the given backlog unless it is negative: then
// it is only bound, and connects to it are refused.
inline int loopbackSocket(int family, int backlog, int* port, int fixedPort = 0)
{
  int fd = os::bindSocket(io::IpInfo(fixedPort, true, family), SOCK_STREAM, false);
  if (backlog >= 0)
    listen(fd, backlog);
  *port = io::IpInfo(fd, true).port();
  return fd;
}

using tlnet::freePort;

// Whether something accepts connections on 127.0.0.1:port within limitMs.
inline bool waitForPort(int port, int limitMs)
{
  for (int waited = 0;; waited += 50) {
    if (tlnet::listening(port))
      return true;
    if (waited >= limitMs)
      return false;
    plat::sleepMs(50);
  }
}

// A port refused on both 127.0.0.1 and ::1: bound there, never listening.
struct RefusedPort {
  RefusedPort()
  {
    for (int tries = 0; tries < 20 && fd6 < 0; tries++) {
      if (fd4 >= 0)
        close(fd4);
      fd4 = loopbackSocket(AF_INET, -1, &port);
      try {
        int p6;
        fd6 = loopbackSocket(AF_INET6, -1, &p6, port);
      } catch (plat::Exception&) {
      }
    }
  }
  ~RefusedPort()
  {
    close(fd4);
    close(fd6);
  }
  int port = 0;
  int fd4 = -1;
  int fd6 = -1;
};

// The line server's side of one connection.
class ServerConn;
using ServerConns = std::map<io::Io*, ServerConn*>;

class ServerConn : public io::IoHandler {
public:
  ServerConn(io::Io* io, ServerConns* live) : io(io), live(live)
  {
    (*live)[io] = this;
    io->setHandler(this, true);
  }
  void dataAvailable(io::Io* c) override
  {
    while (c->in()->check(false, 1)) {
      char ch = (char)c->in()->readU8();
      c->in()->setCheckpoint();
      if (ch != '\n') {
        line += ch;
        continue;
      }
      const char* reply = line == "ping+extra" ? "pong\nEXTRA" : "pong\n";
      c->out()->writeBytes(reply, (int)strlen(reply));
      c->out()->flush();
      line.clear();
    }
  }
  void writable(io::Io*) override {}
  void closed(io::Io* c) override
  {
    live->erase(c);
    delete this;
  }

  io::Io* io;
  ServerConns* live;
  std::string line;
};

class LineServer : public io::FdListener, public io::IoAcceptor {
public:
  explicit LineServer(int family) : FdListener(-1)
  {
    installFd(loopbackSocket(family, 16, &port));
    setAcceptor(this);
  }
  ~LineServer() override
  {
    setAcceptor(nullptr);
    for (auto& c : live) {
      c.first->shutdown(io::Shutdown::kDrop);
      delete c.second;
    }
  }
  io::IoPtr acceptConnection() override
  {
    int fd = os::acceptSocket(getFd());
    return io::IoPtr(fd < 0 ? nullptr : new io::TcpIo(fd, io::TcpIoFlags::kOwnFd));
  }
  void ioAccept(io::IoPtr c) override
  {
    accepted++;
    new ServerConn(c.release(), &live);
  }

  int port = 0;
  int accepted = 0;
  ServerConns live;
};

// Collects a connector's report.
class Result : public io::IoConnected {
public:
  void connected(io::IoConnector*, io::IoPtr c) override
  {
    reports++;
    io.reset(c.release());
  }
  void failed(io::IoConnector*, const plat::Exception& e) override
  {
    reports++;
    error = e.str();
    const plat::SystemException* se = dynamic_cast<const plat::SystemException*>(&e);
    err = se ? se->getErr() : 0;
  }
  int reports = 0;
  io::IoPtr io{nullptr, io::Shutdown::kDrop};
  std::string error;
  int err = 0;
};

} // namespace nettest
