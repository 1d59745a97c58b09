#include "ui/DesktopEnvironment.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <string>

#include "os/process.h"
#include "plat/Log.h"
#include "tx/TXWindow.h"

namespace ui {

static plat::LogSrc vlog("DesktopEnvironment");

namespace {

const char* const kNames[DesktopEnvironment::kKindCount] = {
  "None", "TWM-compatible", "CDE", "MWM", "Enlightenment", "FVWM", "XFCE", "LXDE", "GNOME Classic",
  "GNOME Shell", "MATE", "Cinnamon", "Unity", "Unity 2D", "KDE Classic", "KDE Plasma",
};

// The instance part of WM_CLASS to the desktop it belongs to.
const std::map<std::string, int>& classTable()
{
  static const std::map<std::string, int> table = {
    {"dtwm", 2},           {"mwm", 3},
    {"E", 4},              {"fvwm", 5},
    {"xfwm4", 6},          {"xfce4-session", 6},
    {"lxsession", 7},      {"lxpanel", 7},
    {"gnome-session", 8},  {"gnome-panel", 8},
    {"gnome-shell", 9},    {"mate-session", 10},
    {"cinnamon", 11},      {"unity-window-decorator", 12},
    {"unity-panel-service", 12}, {"unity-2d-panel", 13},
    {"unity-2d-shell", 13}, {"unity-2d-launcher", 13},
    {"kwin", 14},          {"plasma-desktop", 15},
  };
  return table;
}

// DBUS_SESSION_BUS_ADDRESS of the process that owns the window, or null.
plat::String busAddress(Window w)
{
  unsigned long pid = 0;
  if (!tx::getCardinalProperty(w, tx::xa::NET_WM_PID(), XA_CARDINAL, &pid))
    return plat::String();
  os::ProcessInfo info((long)pid);
  info.readEnviron();
  auto found = info.getEnviron().find(plat::String("DBUS_SESSION_BUS_ADDRESS"));
  return found == info.getEnviron().end() ? plat::String() : plat::String(found->second.get());
}

} // namespace

DesktopEnvironment::DesktopEnvironment(Callback* callback) : callback_(callback), timer_(this), watcher_(this)
{
  classTable();
  if (!tx::display())
    return;
  tx::addRootHandler(this, true, PropertyChangeMask);
  redetect(1);
}

DesktopEnvironment::~DesktopEnvironment()
{
  if (tx::display())
    tx::addRootHandler(this, false);
  watcher_.stop();
  timer_.stop();
}

const char* DesktopEnvironment::kindName(int kind) { return kind >= 0 && kind < kKindCount ? kNames[kind] : nullptr; }

void DesktopEnvironment::redetect(int count)
{
  countdown_ = count;
  timer_.start(0);
}

bool DesktopEnvironment::timerExpired(plat::Timer*)
{
  const bool wasImmediate = timer_.getInterval() == 0;
  detect();
  if (wasImmediate)
    timer_.start(1000);
  return countdown_-- > 1;
}

void DesktopEnvironment::detect()
{
  const int previous = kind_;
  Window check = tx::wmCheckWindow();
  if (check != watcher_.watched() && !watcher_.watch(check)) {
    // Gone between reading and watching it: no destruction will come.
    vlog.info("Window Manager exited (watched window gone)");
    check = 0;
    reportPending_ = true;
    // And once more a second later, as after a watched exit.
    countdown_ = std::max(countdown_, 2);
  }
  kind_ = kNone;
  // An address belongs to the desktop found now, not to an earlier one.
  dbus_ = plat::String();
  bool running = check != 0;
  if (!running) {
    XWindowAttributes attrs;
    running = XGetWindowAttributes(tx::display(), tx::rootWindow(), &attrs) &&
              (attrs.all_event_masks & SubstructureRedirectMask);
  }
  if (running) {
    tx::enumWindows(this, 0, true);
    if (kind_ == kNone)
      kind_ = kTwm;
  }
  if (reportPending_ || kind_ != previous) {
    vlog.status("Detected %s", kindName(kind_));
    if (dbus_.get())
      vlog.status("DBus address: %s", dbus_.get());
    reportPending_ = false;
    if (callback_)
      callback_->desktopChanged();
  }
}

int DesktopEnvironment::kindOfClass(const char* data, size_t n)
{
  auto found = classTable().find(std::string(data, strnlen(data, n)));
  return found == classTable().end() ? kNone : found->second;
}

bool DesktopEnvironment::window(Window w)
{
  // Longer than any instance name of the table.
  tx::PropertyData cls(w, XA_WM_CLASS, XA_STRING, false, 16);
  if (!cls.valid() || cls.format != 8)
    return true;
  const int kind = kindOfClass(reinterpret_cast<const char*>(cls.data), cls.items);
  if (kind != kNone && kind >= kind_) {
    kind_ = kind;
    dbus_ = busAddress(w);
  }
  return true;
}

void DesktopEnvironment::windowDestroyed(Window)
{
  vlog.info("Window Manager exited (watched window gone)");
  kind_ = kNone;
  // The next detection finds "None" again, which is still news.
  reportPending_ = true;
  redetect(1);
}

bool DesktopEnvironment::handleEvent(XEvent* ev)
{
  if (tx::isWMChangeEvent(ev))
    redetect(5);
  return false;
}

} // namespace ui
