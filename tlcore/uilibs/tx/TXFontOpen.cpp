// Apart from Xlib's internal header (kept to this unit), this is what
// XLoadQueryFont does, less its locale lookup, which never changes the
// outcome for a name whose charset fields are wildcards.
#include "tx/TXFontOpen.h"

#include <X11/Xlibint.h>
#include <string.h>

namespace tx {

XFontStruct* loadCoreFont(Display* dpy, const char* name)
{
  const size_t n = strlen(name);
  if (n > 0xFFFF)
    return nullptr;
  _XAsyncErrorState state;
  _XAsyncHandler handler;
  LockDisplay(dpy);
  // The open's BadName, should the server not know the name, is taken here
  // whoever reads it; the query then fails with a BadFont Xlib drops.
  state.min_sequence_number = state.max_sequence_number = NextRequest(dpy);
  state.error_code = BadName;
  state.major_opcode = X_OpenFont;
  state.minor_opcode = 0;
  state.last_error_received = 0;
  state.error_count = 0;
  handler.next = dpy->async_handlers;
  handler.handler = _XAsyncErrorHandler;
  handler.data = (XPointer)&state;
  dpy->async_handlers = &handler;
  xOpenFontReq* req;
  GetReq(OpenFont, req);
  req->nbytes = (CARD16)n;
  const Font id = req->fid = XAllocID(dpy);
  req->length += (CARD16)((n + 3) >> 2);
  Data(dpy, name, (long)n);
  UnlockDisplay(dpy);
  SyncHandle();
  XFontStruct* font = XQueryFont(dpy, id);
  LockDisplay(dpy);
  DeqAsyncHandler(dpy, &handler);
  UnlockDisplay(dpy);
  return font;
}

} // namespace tx
