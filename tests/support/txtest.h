// Helpers of tests on the X layer: the program's display opened on its own
// Xvfb, the event loop pumped until something holds or a peer command
// ends, and PNG screenshots of what a person would see.
#pragma once

#include <poll.h>

#include <functional>
#include <string>

#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "plat/Time.h"
#include "plat/Timer.h"
#include "testutil.h"
#include "tx/TXEvents.h"
#include "tx/TXUtil.h"
#include "xvfb.h"

namespace tltest {

// With an application identity (shared memory and window classes need one).
inline void openTestDisplay()
{
  if (!os::AppInfo::isComplete())
    os::AppInfo::set("tltest", "Tessaly", "tltest", nullptr, nullptr);
  tx::openDisplay(sharedXvfb().display().c_str());
}

// Dispatches X events, then waits with wait(), until done() holds or
// timeoutMs passed; done()'s last answer.
inline bool runUntil(const std::function<bool()>& done, int timeoutMs, const std::function<void()>& wait)
{
  const plat::Time end = plat::getMonoTime() + timeoutMs * plat::kTicksPerMilli;
  for (;;) {
    tx::processEvents();
    if (done())
      return true;
    if (plat::getMonoTime() > end)
      return false;
    wait();
  }
}

// X events only.
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
  return runUntil(done, timeoutMs, [] {
    pollfd p = {ConnectionNumber(tx::display()), POLLIN, 0};
    poll(&p, 1, 20);
  });
}

// X events, and the thread's timers and descriptors too.
inline bool loopUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
  return runUntil(done, timeoutMs, [] { os::AppLoop::selectManager().processOnce(5); });
}
inline void loopFor(int ms) { loopUntil([] { return false; }, ms); }

// Runs fn ms after at() is called (from a dialog's show hook: inside its
// modal run).
struct Later : plat::Timer::Callback {
  std::function<void()> fn;
  plat::Timer timer{this};
  void at(int ms, std::function<void()> f)
  {
    fn = std::move(f);
    timer.start(ms);
  }
  bool timerExpired(plat::Timer*) override
  {
    fn();
    return false;
  }
};

// Runs a shell command while dispatching X events (so that it can talk to
// our windows); its standard output. *status gets its exit code.
inline std::string pumpCommand(const std::string& command, int* status = nullptr)
{
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    return "";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string s;
  char buf[4096];
  for (bool open = true; open;) {
    tx::processEvents();
    XFlush(tx::display());
    pollfd p[2] = {{out[0], POLLIN, 0}, {ConnectionNumber(tx::display()), POLLIN, 0}};
    poll(p, 2, 100);
    if (p[0].revents) {
      ssize_t n = read(out[0], buf, sizeof(buf));
      open = n > 0;
      if (n > 0)
        s.append(buf, (size_t)n);
    }
  }
  close(out[0]);
  int code = waitChild(pid);
  if (status)
    *status = code;
  return s;
}

// The drawable's pixels as TL_SCREENSHOT_DIR/<name>.png (<name>.png when
// name is an absolute path); false when that fails.
inline bool screenshot(Drawable d, int w, int h, const std::string& name)
{
  Display* dpy = tx::display();
  XImage* im = XGetImage(dpy, d, 0, 0, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
  if (!im)
    return false;
  Visual* v = DefaultVisual(dpy, DefaultScreen(dpy));
  std::string rgb;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      XColor c;
      c.pixel = XGetPixel(im, x, y);
      if (v->c_class == TrueColor) {
        unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
        for (unsigned long m : masks)
          rgb += (char)((c.pixel & m) / (m & -m) * 255 / (m / (m & -m)));
      } else {
        XQueryColor(dpy, tx::colormap(), &c);
        rgb += {(char)(c.red >> 8), (char)(c.green >> 8), (char)(c.blue >> 8)};
      }
    }
  XDestroyImage(im);
  mkdir(TL_SCREENSHOT_DIR, 0755);
  TempFile raw(rgb, "tlshot");
  std::string png = (name[0] == '/' ? name : std::string(TL_SCREENSHOT_DIR) + "/" + name) + ".png";
  int status;
  runCommand("/usr/bin/python3 -c 'import sys; from PIL import Image; Image.frombytes(\"RGB\", (" +
                 std::to_string(w) + "," + std::to_string(h) + "), open(sys.argv[1], \"rb\").read()).save(sys.argv[2])' " +
                 raw.path() + " " + png,
             &status);
  return status == 0;
}

} // namespace tltest
