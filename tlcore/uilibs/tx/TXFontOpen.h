// Opening a core font without waiting for the server (TXUtil's font).
#pragma once

#include <X11/Xlib.h>

namespace tx {

// Sends the open of name and returns at once; an error the server answers
// with is taken, whichever call reads it.
void startFontOpen(Display* dpy, const char* name);
// Queries the font started; null when the server could not open it.
XFontStruct* finishFontOpen(Display* dpy);

} // namespace tx
