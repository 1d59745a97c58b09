// Start-up of the program to its first painted window: from exec until the
// install button's blue is read back from the window at its place, against
// xlib_first_paint (a standalone minimal Xlib program beside this file) that
// maps a window of the same size and puts the same blue there with one
// image, as the program paints. Each pair runs on an Xvfb of the
// benchmark's own, one without a window manager and one with openbox;
// repetitions of the four cases interleave, and each run starts with no
// window of the last one left. New windows are seen through the root's
// CreateNotify events and only their button face is read, so watching costs
// the server one small request each 250 us. The program's shutdown is not
// timed.
//
// Run as root, the benchmark gives itself a mount namespace with a tmpfs on
// /tmp first (as `unshare -m` would), so the program never meets another
// instance of root's through the machine's /tmp.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "xvfb.h"

namespace {

// A part of the install button's face that no text covers, in the
// wizard's 560 by 540 window (at 24 bits a pixel).
const int kFaceX = 206, kFaceY = 313, kFaceW = 12, kFaceH = 28;
const unsigned long kBlue = 0x286ed1;

double now()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Windows go and are not viewable yet while they are watched.
int ignoreErrors(Display*, XErrorEvent*)
{
  return 0;
}

// One server and a connection that watches the root's new children.
struct Server {
  explicit Server(bool wm)
  {
    if (wm)
      xvfb.startWm();
    d = XOpenDisplay(xvfb.display().c_str());
    if (d)
      XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  }
  ~Server()
  {
    if (d)
      XCloseDisplay(d);
  }

  // Takes the queued events: windows made and gone.
  void drain()
  {
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
      if (ev.type == CreateNotify)
        fresh.push_back(ev.xcreatewindow.window);
      else if (ev.type == DestroyNotify)
        fresh.erase(std::remove(fresh.begin(), fresh.end(), ev.xdestroywindow.window), fresh.end());
    }
  }

  // Whether a window made since the run began shows the blue face.
  bool painted()
  {
    drain();
    for (Window w : fresh) {
      XImage* im = XGetImage(d, w, kFaceX, kFaceY, kFaceW, kFaceH, AllPlanes, ZPixmap);
      if (!im)
        continue;
      bool blue = true;
      for (int y = 0; y < kFaceH && blue; y++)
        for (int x = 0; x < kFaceW && blue; x++)
          blue = XGetPixel(im, x, y) == kBlue;
      XDestroyImage(im);
      if (blue)
        return true;
    }
    return false;
  }

  // Waits (5 s at most) until no window of a run is left. A window that
  // the window manager took into its frame reports its end to the frame,
  // not here: it is asked for.
  bool cleared()
  {
    for (const double end = now() + 5; now() < end; usleep(1000)) {
      XSync(d, False);
      drain();
      fresh.erase(std::remove_if(fresh.begin(), fresh.end(),
                                 [this](Window w) {
                                   XWindowAttributes a;
                                   return !XGetWindowAttributes(d, w, &a);
                                 }),
                  fresh.end());
      if (fresh.empty())
        return true;
    }
    return false;
  }

  // Waits for the blue face, 10 s at most; blocks on the connection until
  // the first window exists.
  bool waitPainted()
  {
    for (const double end = now() + 10; now() < end;) {
      if (fresh.empty()) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        struct timeval tv = {0, 10000};
        XFlush(d);
        if (!XPending(d))
          select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
        drain();
        continue;
      }
      if (painted())
        return true;
      usleep(250);
    }
    return false;
  }

  tltest::Xvfb xvfb;
  Display* d = nullptr;
  std::vector<Window> fresh;
};

std::unique_ptr<Server> bare, managed;
std::string home;

// Each start moves the last log aside and lists the folder's old ones: a
// user's folder holds a few, not the hundreds of this benchmark's runs.
void dropOldLogs()
{
  tlbench::runQuiet({"/usr/bin/find", home, "-name", "*.log.*", "-delete"});
}

void timeToBlue(benchmark::State& state, Server& server, const std::vector<std::string>& args)
{
  if (!server.d) {
    state.SkipWithError("no display");
    return;
  }
  setenv("DISPLAY", server.xvfb.display().c_str(), 1);
  for (auto _ : state) {
    dropOldLogs();
    if (!server.cleared()) {
      state.SkipWithError("a window stays on the screen");
      break;
    }
    const double start = now();
    pid_t pid = tlbench::spawnQuiet(args);
    const bool ok = pid > 0 && server.waitPainted();
    state.SetIterationTime(now() - start);
    if (pid > 0) {
      kill(pid, SIGTERM);
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    if (!ok) {
      state.SkipWithError("no blue at the button's place");
      break;
    }
  }
}

std::vector<std::string> program()
{
  return {TL_PROGRAM, "-LogDir=" + home};
}

void BM_Program(benchmark::State& state) { timeToBlue(state, *bare, program()); }
void BM_XlibPeer(benchmark::State& state) { timeToBlue(state, *bare, {TL_XLIB_PEER}); }
void BM_ProgramOpenbox(benchmark::State& state) { timeToBlue(state, *managed, program()); }
void BM_XlibPeerOpenbox(benchmark::State& state) { timeToBlue(state, *managed, {TL_XLIB_PEER}); }

#define TL_STARTUP(fn) BENCHMARK(fn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(7)
TL_STARTUP(BM_Program);
TL_STARTUP(BM_XlibPeer);
TL_STARTUP(BM_ProgramOpenbox);
TL_STARTUP(BM_XlibPeerOpenbox);

// Root's runs get a /tmp of their own.
bool privateTmp()
{
  if (geteuid() != 0)
    return true;
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
    fprintf(stderr, "no private /tmp: %s\n", strerror(errno));
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char** argv)
{
  if (!privateTmp())
    return 1;
  char dir[] = "/tmp/tlbench-XXXXXX";
  if (!mkdtemp(dir))
    return 1;
  home = dir;
  setenv("HOME", dir, 1);
  XSetErrorHandler(ignoreErrors);
  bare = std::make_unique<Server>(false);
  managed = std::make_unique<Server>(true);
  tlbench::initialize(argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "start-up to the first painted window / minimal Xlib program",
                      "BM_Program/iterations:10/repeats:7/manual_time",
                      "BM_XlibPeer/iterations:10/repeats:7/manual_time", 2.0);
  tlbench::printRatio(reporter, "the same under openbox",
                      "BM_ProgramOpenbox/iterations:10/repeats:7/manual_time",
                      "BM_XlibPeerOpenbox/iterations:10/repeats:7/manual_time", 1.5);
  benchmark::Shutdown();
  managed.reset();
  bare.reset();
  std::string rm = "rm -rf " + home;
  return system(rm.c_str()) == 0 ? 0 : 1;
}
