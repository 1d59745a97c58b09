// A test driver of the automation channel: one connection to a program's
// "MuiComms" pipe that sends command lines and reads their replies. A reply
// is complete when what has come ends in an empty line and nothing more is
// waiting, which holds because the channel writes each reply in one go.
//
// A channel served by the test's own loop needs that loop turned while the
// driver waits: set pump. Throws std::runtime_error on failures, an end of
// stream included. Free of gtest; never linked into the program.
#pragma once

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "os/UnixIo.h"
#include "os/paths.h"
#include "plat/Time.h"

namespace tltest {

class MuiDriver {
public:
  // The channel's pipe of process pid, by the program's own path rule.
  static std::string pipePath(long long pid)
  {
    return os::makeNamedPipePath("MuiComms", nullptr, nullptr, pid, -1).str();
  }

  // Connects (non-blocking, so that a channel of this process can accept
  // it), waiting up to timeoutMs for the pipe to appear.
  explicit MuiDriver(const std::string& path, int timeoutMs = 10000) : timeoutMs(timeoutMs)
  {
    for (const plat::Time end = deadline(); fd_ < 0; wait()) {
      try {
        fd_ = os::UnixIo::connectUnix(path.c_str(), false, true);
      } catch (plat::Exception& e) {
        if (plat::getMonoTime() > end)
          throw std::runtime_error(std::string("MuiDriver: ") + e.str());
      }
    }
  }
  ~MuiDriver() { ::close(fd_); }
  MuiDriver(const MuiDriver&) = delete;
  MuiDriver& operator=(const MuiDriver&) = delete;

  // Sends bytes as they are.
  void send(const std::string& bytes)
  {
    for (size_t done = 0; done < bytes.size(); wait()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR)
        throw std::runtime_error("MuiDriver: send failed");
      done += n > 0 ? (size_t)n : 0;
    }
  }
  // Waits for the next reply and returns it without its closing empty line.
  std::string reply()
  {
    std::string got;
    for (const plat::Time end = deadline();; wait()) {
      char buf[65536];
      ssize_t n;
      while ((n = recv(fd_, buf, sizeof(buf), MSG_DONTWAIT)) > 0)
        got.append(buf, (size_t)n);
      if (got == "\n" || (got.size() >= 2 && got.compare(got.size() - 2, 2, "\n\n") == 0))
        return got.substr(0, got.size() - 1);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || n == 0 || plat::getMonoTime() > end)
        throw std::runtime_error("MuiDriver: no whole reply, got \"" + got + "\"");
    }
  }
  // Sends line and a line feed; returns the reply ("2\n" for "version").
  std::string command(const std::string& line)
  {
    send(line + "\n");
    return reply();
  }
  // Turned while waiting, for a channel in this process.
  std::function<void()> pump;
  int timeoutMs;

private:
  plat::Time deadline() const { return plat::getMonoTime() + (plat::Time)timeoutMs * plat::kTicksPerMilli; }
  void wait()
  {
    if (pump)
      pump();
    else
      poll(nullptr, 0, 5);
  }

  int fd_ = -1;
};

} // namespace tltest
