// The core font opened in two halves: the open request goes out with the
// display's first requests and the font is queried when first needed, so
// the server looks the name up and reads the font while the program builds
// its windows. Apart from Xlib's internal header (kept to this unit), it is
// what XLoadQueryFont does, less its locale lookup, which never changes
// the outcome for a name whose charset fields are wildcards.
#include "tx/TXFontOpen.h"

#include <X11/Xlibint.h>
#include <string.h>

namespace tx {

namespace {

// One open at a time: the display's.
struct Pending {
  Font id = 0;
  bool active = false;
  _XAsyncErrorState state;
  _XAsyncHandler handler;
};

Pending pending;

} // namespace

void startFontOpen(Display* dpy, const char* name)
{
  Pending& p = pending;
  const size_t n = strlen(name);
  if (p.active || n > 0xFFFF)
    return;
  LockDisplay(dpy);
  // The open's BadName, should the server not know the name, is taken here
  // whoever reads it; the query then fails with a BadFont Xlib drops.
  p.state.min_sequence_number = p.state.max_sequence_number = NextRequest(dpy);
  p.state.error_code = BadName;
  p.state.major_opcode = X_OpenFont;
  p.state.minor_opcode = 0;
  p.state.last_error_received = 0;
  p.state.error_count = 0;
  p.handler.next = dpy->async_handlers;
  p.handler.handler = _XAsyncErrorHandler;
  p.handler.data = (XPointer)&p.state;
  dpy->async_handlers = &p.handler;
  // XLoadFont's request, without the locale lookup XLoadFont makes first.
  xOpenFontReq* req;
  GetReq(OpenFont, req);
  req->nbytes = (CARD16)n;
  req->fid = p.id = XAllocID(dpy);
  req->length += (CARD16)((n + 3) >> 2);
  Data(dpy, name, (long)n);
  UnlockDisplay(dpy);
  SyncHandle();
  p.active = true;
  XFlush(dpy);
}

XFontStruct* finishFontOpen(Display* dpy)
{
  Pending& p = pending;
  if (!p.active)
    return nullptr;
  XFontStruct* font = XQueryFont(dpy, p.id);
  LockDisplay(dpy);
  DeqAsyncHandler(dpy, &p.handler);
  UnlockDisplay(dpy);
  p.active = false;
  return font;
}

} // namespace tx
