// Opening a core font (TXUtil's font).
#pragma once

#include <X11/Xlib.h>

namespace tx {

// Opens and queries name; null when the server could not open it. The
// server's BadName for an unknown name reaches no error handler.
XFontStruct* loadCoreFont(Display* dpy, const char* name);

} // namespace tx
