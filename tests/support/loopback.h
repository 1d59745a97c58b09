// Loopback helpers shared by the tests and the benchmarks (plain POSIX, no
// test framework): a free port for a peer program to listen on, whether
// something listens on a port, and peer programs (proxies, web servers)
// started quietly (their output readable if asked) and stopped when their
// holder goes.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace tlnet {

inline sockaddr_in loopbackAddress(int port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port of 127.0.0.1 free a moment ago, for a peer program to listen on.
inline int freePort()
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopbackAddress(0);
  socklen_t len = sizeof(a);
  int port = 0;
  if (bind(fd, (sockaddr*)&a, sizeof(a)) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool listening(int port)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopbackAddress(port);
  bool ok = connect(fd, (sockaddr*)&a, sizeof(a)) == 0;
  close(fd);
  return ok;
}

// Starts args with standard error discarded and standard output discarded
// or, given out, on a pipe whose read end (the caller's to close) goes in
// *out; the pid, or -1.
inline pid_t spawnQuiet(std::vector<std::string> args, int* out = nullptr)
{
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int fds[2] = {-1, -1};
  if (out && pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out)
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (out) {
    close(fds[1]);
    if (pid < 0)
      close(fds[0]);
    else
      *out = fds[0];
  }
  return pid;
}

// Runs args to the end with output discarded; its exit status, or -1.
inline int runQuiet(std::vector<std::string> args)
{
  pid_t pid = spawnQuiet(std::move(args));
  int status;
  if (pid < 0 || waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where a peer's standard output goes.
enum class PeerOutput { kDiscard, kPipe };

// A peer program (a proxy, a web server) running until destroyed (SIGTERM,
// SIGKILL after 10 s, then reaped); ready() once it accepts connections on
// every port given. With PeerOutput::kPipe its standard output is read with readLine().
class Peer {
public:
  Peer(std::vector<std::string> args, std::vector<int> ports,
       PeerOutput output = PeerOutput::kDiscard)
      : pid_(spawnQuiet(std::move(args), output == PeerOutput::kPipe ? &out_ : nullptr))
  {
    for (int i = 0; i < 400 && pid_ > 0 && !ok_; i++) {
      ok_ = true;
      for (int port : ports)
        ok_ = ok_ && listening(port);
      if (!ok_)
        usleep(25000);
    }
  }
  ~Peer()
  {
    if (out_ >= 0)
      close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      bool reaped = false;
      for (int i = 0; i < 1000 && !(reaped = waitpid(pid_, nullptr, WNOHANG) != 0); i++)
        usleep(10000);
      if (!reaped) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  bool ready() const { return ok_; }
  // The next line of its standard output without the newline; "" at the
  // end (or without PeerOutput::kPipe).
  std::string readLine()
  {
    std::string line;
    char ch;
    while (out_ >= 0 && read(out_, &ch, 1) == 1 && ch != '\n')
      line += ch;
    return line;
  }

private:
  int out_ = -1; // before pid_: the spawn fills it
  pid_t pid_;
  bool ok_ = false;
};

} // namespace tlnet
