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
  for (const long long deadline = nowMs() + timeoutMs; fd_ < 0; usleep(10000)) {
    try {
      // Non-blocking, so that a channel of this process can accept it.
      fd_ = os::UnixIo::connectUnix(path.c_str(), false, true);
    } catch (plat::Exception& e) {
      if (nowMs() > deadline)
        throw std::runtime_error(std::string("MuiDriver: ") + e.str());
    }
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

void MuiDriver::wait()
{
  if (pump)
    pump();
  else
    poll(nullptr, 0, 5);
}

void MuiDriver::send(const std::string& bytes)
{
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      throw std::runtime_error("MuiDriver: send failed");
    done += n > 0 ? (size_t)n : 0;
    if (n <= 0)
      wait();
  }
}

int MuiDriver::readSome(std::string& into)
{
  char buf[65536];
  ssize_t n = recv(fd_, buf, sizeof(buf), MSG_DONTWAIT);
  if (n > 0)
    into.append(buf, (size_t)n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return 0;
  return n > 0 ? (int)n : -1;
}

std::string MuiDriver::reply()
{
  std::string got;
  for (const long long deadline = nowMs() + timeoutMs;;) {
    const int n = readSome(got);
    const bool ended = got == "\n" || (got.size() >= 2 && got.compare(got.size() - 2, 2, "\n\n") == 0);
    if (n > 0)
      continue;
    if (ended)
      return got.substr(0, got.size() - 1);
    if (n < 0 || nowMs() > deadline)
      throw std::runtime_error("MuiDriver: no whole reply, got \"" + got + "\"");
    wait();
  }
}

std::string MuiDriver::command(const std::string& line)
{
  send(line + "\n");
  return reply();
}

} // namespace tltest
