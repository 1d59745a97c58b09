#include "muiDriver.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>

#include "os/UnixIo.h"
#include "os/paths.h"
#include "plat/Exception.h"

namespace tltest {

namespace {

long long nowMs()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

} // namespace

std::string MuiDriver::pipePath(long long pid, const char* app)
{
  return os::makeNamedPipePath("MuiComms", nullptr, app, pid, -1).str();
}

MuiDriver::MuiDriver(const std::string& path, int timeoutMs) : timeoutMs(timeoutMs)
{
  const long long deadline = nowMs() + timeoutMs;
  for (;;) {
    try {
      // Non-blocking, so that a channel in this process can accept it.
      fd_ = os::UnixIo::connectUnix(path.c_str(), false, true);
      return;
    } catch (plat::Exception& e) {
      if (nowMs() > deadline)
        throw std::runtime_error(std::string("MuiDriver: ") + e.str());
    }
    if (pump)
      pump();
    else
      usleep(10000);
  }
}

MuiDriver::~MuiDriver()
{
  close();
}

void MuiDriver::close()
{
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

void MuiDriver::send(const std::string& bytes)
{
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (pump)
        pump();
      else
        poll(nullptr, 0, 1);
      continue;
    }
    if (n <= 0)
      throw std::runtime_error("MuiDriver: send failed");
    done += (size_t)n;
  }
}

bool MuiDriver::readSome(std::string& into, int waitMs, bool* eof)
{
  struct pollfd p = {fd_, POLLIN, 0};
  int r = poll(&p, 1, waitMs);
  if (r <= 0)
    return false;
  char buf[65536];
  ssize_t n = recv(fd_, buf, sizeof(buf), MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    *eof = true;
    return false;
  }
  if (n < 0)
    return false;
  into.append(buf, (size_t)n);
  return true;
}

std::string MuiDriver::reply()
{
  const long long deadline = nowMs() + timeoutMs;
  std::string got;
  bool eof = false;
  for (;;) {
    const bool ended = got == "\n" || (got.size() >= 2 && got.compare(got.size() - 2, 2, "\n\n") == 0);
    if (readSome(got, ended || pump ? 0 : 10, &eof))
      continue;
    if (ended)
      return got.substr(0, got.size() - 1);
    if (eof)
      throw std::runtime_error("MuiDriver: connection closed after \"" + got + "\"");
    if (nowMs() > deadline)
      throw std::runtime_error("MuiDriver: no whole reply, got \"" + got + "\"");
    if (pump)
      pump();
  }
}

std::string MuiDriver::command(const std::string& line)
{
  send(line + "\n");
  return reply();
}

bool MuiDriver::closedByPeer(int waitMs)
{
  const long long deadline = nowMs() + waitMs;
  std::string ignored;
  bool eof = false;
  while (!eof && nowMs() <= deadline) {
    if (!readSome(ignored, pump ? 0 : 10, &eof) && pump)
      pump();
  }
  return eof;
}

} // namespace tltest
