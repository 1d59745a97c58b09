// The one dispatcher every X event of the process passes through. It
// serves global handlers (every event), root handlers (events of the root
// window, each with the event mask it asks for) and the TXWindow that owns
// the event's window, applying the grab and modal rules on the way.
//
// Handlers are owned by whoever registers them and must be removed before
// they go. Lists are copied before each dispatch: a handler added during a
// dispatch sees only later events; one removed during a dispatch is not
// called again for the current event. Handlers may create and destroy
// windows and run nested loops (modal dialogs) while being called. Loop
// thread only.
#pragma once

#include <X11/Xlib.h>

namespace tx {

class TXEventHandler {
public:
  virtual ~TXEventHandler();
  // True when the handler consumed the event (where the caller cares).
  virtual bool handleEvent(XEvent* ev) = 0;
};

// --- Listeners ----------------------------------------------------------------
void addGlobalHandler(TXEventHandler* handler, bool add);
// Sets (or with add false removes) the handler's mask, then selects the
// union of all masks on the root.
void addRootHandler(TXEventHandler* handler, bool add, long mask = 0);

// --- The pump -------------------------------------------------------------------
// Dispatches every queued event; never blocks.
void processEvents();
void dispatchEvent(XEvent* ev);

// --- Queries --------------------------------------------------------------------
// A WM_PROTOCOLS client message asking to close the window.
bool isDeleteWindow(const XEvent* ev);
// True after a FocusIn, false after a FocusOut on any window of ours.
bool haveFocus();

// Registered by openDisplay: tracks the server time of CUT_BUFFER0 changes.
void registerCutBufferTracker();

} // namespace tx
