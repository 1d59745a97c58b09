// The X server of X tests and benchmarks: an Xvfb of its own on a free
// display (it reports the number through -displayfd), optionally without
// MIT-SHM, listening on TCP, at depth 24, 16 or 8 (8 is PseudoColor), with
// openbox on demand. Stopped by process id when the object goes. A program
// shares one server (sharedXvfb), whose options come from the environment
// its ctest entry sets, or is a running server that TL_X_DISPLAY names (a
// person's display, for a demonstration), which it leaves running. No Xvfb, or one that does not answer, throws:
// the test fails, it never skips. Free of gtest.
#pragma once

#include <X11/Xlib.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tltest {

struct XvfbOptions {
  int depth = 24;
  bool shm = true;
  bool tcp = false;
  std::string existing; // a running server's display, used as it is

  // TL_XVFB_DEPTH, TL_XVFB_SHM=0, TL_XVFB_TCP=1 and TL_X_DISPLAY.
  static XvfbOptions fromEnv()
  {
    XvfbOptions o;
    if (const char* d = getenv("TL_XVFB_DEPTH"))
      o.depth = atoi(d);
    o.shm = !getenv("TL_XVFB_SHM") || std::string(getenv("TL_XVFB_SHM")) != "0";
    o.tcp = getenv("TL_XVFB_TCP") && std::string(getenv("TL_XVFB_TCP")) == "1";
    if (const char* d = getenv("TL_X_DISPLAY"))
      o.existing = d;
    return o;
  }
};

class Xvfb {
public:
  explicit Xvfb(const XvfbOptions& o = XvfbOptions())
  {
    if (!o.existing.empty()) {
      display_ = o.existing;
      Display* d = XOpenDisplay(display_.c_str());
      if (!d)
        throw std::runtime_error("no X server answers on " + display_);
      number_ = atoi(display_.c_str() + display_.find(':') + 1);
      XCloseDisplay(d);
      return;
    }
    std::vector<std::string> args = {"Xvfb", "-displayfd", "", "-screen", "0",
                                     "1024x768x" + std::to_string(o.depth), "-noreset"};
    if (o.tcp)
      args.insert(args.end(), {"-listen", "tcp"});
    if (!o.shm)
      args.insert(args.end(), {"-extension", "MIT-SHM"});
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    args[2] = std::to_string(fds[1]);
    pid_ = start(args, fds[1]);
    close(fds[1]);
    std::string number = readLine(fds[0], 30000);
    close(fds[0]);
    if (number.empty()) {
      stop(pid_);
      throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    display_ = (o.tcp ? "127.0.0.1:" : ":") + number;
    number_ = atoi(number.c_str());
    Display* d = XOpenDisplay(display_.c_str());
    if (!d) {
      stop(pid_);
      throw std::runtime_error("Xvfb does not answer on " + display_);
    }
    XCloseDisplay(d);
  }
  ~Xvfb()
  {
    stopWm();
    stop(pid_);
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& display() const { return display_; }
  int number() const { return number_; }

  // Starts openbox and waits until it manages a probe window.
  void startWm()
  {
    if (wm_ > 0)
      return;
    wm_ = start({"openbox", "--sm-disable"}, -1);
    Display* d = XOpenDisplay(display_.c_str());
    Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    Atom wmState = XInternAtom(d, "WM_STATE", False);
    bool up = false;
    for (int i = 0; i < 400 && !up; i++) {
      XMapWindow(d, probe);
      Atom type;
      int format;
      unsigned long n, after;
      unsigned char* data = nullptr;
      XGetWindowProperty(d, probe, wmState, 0, 1, False, AnyPropertyType, &type, &format, &n, &after, &data);
      up = n > 0;
      if (data)
        XFree(data);
      if (!up)
        usleep(50000);
    }
    XCloseDisplay(d);
    if (!up)
      throw std::runtime_error("openbox did not start (is the openbox package installed?)");
  }
  void stopWm()
  {
    stop(wm_);
    wm_ = -1;
  }

private:
  // A child running args with DISPLAY set to ours; keepFd survives exec.
  pid_t start(const std::vector<std::string>& args, int keepFd)
  {
    pid_t pid = fork();
    if (pid == 0) {
      // Gone with the test, even when it aborts.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (keepFd >= 0)
        fcntl(keepFd, F_SETFD, 0);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      if (!display_.empty())
        setenv("DISPLAY", display_.c_str(), 1);
      std::vector<char*> argv;
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }
  static void stop(pid_t pid)
  {
    if (pid <= 0)
      return;
    kill(pid, SIGTERM);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  // Up to a newline, "" on end of file or after timeoutMs.
  static std::string readLine(int fd, int timeoutMs)
  {
    std::string s;
    char c;
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, timeoutMs) > 0 && read(fd, &c, 1) == 1) {
      if (c == '\n')
        return s;
      s += c;
    }
    return "";
  }

  pid_t pid_ = -1;
  pid_t wm_ = -1;
  std::string display_;
  int number_ = -1;
};

// The program's one server, started on first use and stopped at exit.
inline Xvfb& sharedXvfb()
{
  static Xvfb server(XvfbOptions::fromEnv());
  return server;
}

} // namespace tltest
