// A test driver of the automation channel: one connection to a program's
// "MuiComms" pipe that sends command lines and reads their replies. A reply
// is complete when what has come ends in an empty line and nothing more is
// waiting, which holds because the channel writes each reply in one go.
//
// A channel served by the test's own loop needs that loop turned while the
// driver waits: set pump. Throws std::runtime_error on failures. Free of
// gtest; never linked into the program.
#pragma once

#include <functional>
#include <string>

namespace tltest {

class MuiDriver {
public:
  // The pipe of the channel of process pid of application app (null: this
  // process's application name), by the program's own path rule.
  static std::string pipePath(long long pid, const char* app = nullptr);

  // Connects, waiting up to timeoutMs for the pipe to appear.
  explicit MuiDriver(const std::string& path, int timeoutMs = 10000);
  ~MuiDriver();
  MuiDriver(const MuiDriver&) = delete;
  MuiDriver& operator=(const MuiDriver&) = delete;

  // Sends line and a line feed; returns the reply without its closing empty
  // line ("2\n" for "version").
  std::string command(const std::string& line);
  // Sends bytes as they are.
  void send(const std::string& bytes);
  // Waits for the next reply.
  std::string reply();
  void close();

  // Turned while waiting, for a channel in this process.
  std::function<void()> pump;
  int timeoutMs = 10000;

private:
  // Appends what is waiting; the count, or -1 at the end of the stream.
  int readSome(std::string& into);
  // Turns the pump, or sleeps a moment.
  void wait();

  int fd_ = -1;
};

} // namespace tltest
