// The layer's process-wide state in one object: the connection and its
// shared resources, the listener lists of the dispatcher, and the tables
// of windows, grabs, modal windows and selection owners. Made on first use
// and never freed (the display is never closed), so nothing here depends
// on the order of static destruction. For the layer's own sources only.
#pragma once

#include <X11/Xlib.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "plat/Log.h"
#include "plat/Timer.h"
#include "tx/Forward.h"

namespace tx {

// A copy of a listener list being consumed by a dispatch; removals reach
// every dispatch in progress (dispatches nest through modal loops).
template <typename T> struct InProgress {
  std::vector<T> pending;
};

struct DisplayContext {
  Display* dpy = nullptr;
  Window root = 0;
  Colormap cmap = 0;
  unsigned long greys[6] = {};
  GC gc = nullptr;
  XFontStruct* font = nullptr;
  // Runs finishOpenDisplay after the first image put.
  std::unique_ptr<plat::Timer> fontTimer;
  int pointerButtons = 0;
  Time lastServerTime = 0;

  // Atom names by atom.
  std::unordered_map<Atom, std::string> atomNames;
  // The hidden window of getServerTime.
  TXWindow* timeWindow = nullptr;

  ErrorCatcher* catcher = nullptr;

  // Dispatcher.
  std::vector<TXEventHandler*> globalHandlers;
  std::vector<InProgress<TXEventHandler*>*> globalDispatches;
  std::map<TXEventHandler*, long> rootHandlers;
  std::vector<std::set<TXEventHandler*>*> rootDispatches;
  bool focus = false;

  // Windows.
  std::unordered_map<Window, TXWindow*> windows;
  std::vector<TXWindow*> grabList;
  std::vector<TXWindow*> modalList;
  TXWindow* pointerOwner = nullptr;
  TXWindow* keyboardOwner = nullptr;
  std::map<Atom, TXWindow*> selectionOwners;
  std::string appClass;
  std::vector<long> defaultIcon;
};

DisplayContext& ctx();

extern plat::LogSrc vlogWindow;

// Recomputes the pointer and keyboard grab owners and grabs or ungrabs.
void recomputeGrabs();
// Called by every image put: the first schedules finishOpenDisplay.
void imagePut();

} // namespace tx
