/* The start-up benchmark's peer: a minimal Xlib program that opens a window
 * the size of the wizard's, white as its background, and once it is exposed
 * puts one image of it with the install button's blue face, as the program
 * paints. It runs until it is killed. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdint.h>
#include <stdlib.h>

enum { kWidth = 560, kHeight = 540 };
static const unsigned long kBlue = 0x286ed1;

int main(void)
{
  Display* d = XOpenDisplay(NULL);
  if (!d)
    return 1;
  const int screen = DefaultScreen(d);
  Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, kWidth, kHeight, 0, 0, 0xffffff);
  XStoreName(d, w, "xlib_first_paint");
  XSelectInput(d, w, ExposureMask);
  XMapWindow(d, w);
  GC gc = XCreateGC(d, w, 0, NULL);
  XImage* im = XCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap, 0, NULL,
                            kWidth, kHeight, 32, 0);
  if (!im || im->bits_per_pixel != 32)
    return 1;
  im->data = malloc((size_t)im->bytes_per_line * kHeight);
  for (int y = 0; y < kHeight; y++) {
    uint32_t* row = (uint32_t*)(im->data + y * im->bytes_per_line);
    for (int x = 0; x < kWidth; x++)
      row[x] = x >= 200 && x < 360 && y >= 311 && y < 343 ? kBlue : 0xffffff;
  }
  for (XEvent ev;;) {
    XNextEvent(d, &ev);
    if (ev.type == Expose && ev.xexpose.count == 0) {
      XPutImage(d, w, gc, im, 0, 0, 0, 0, kWidth, kHeight);
      XFlush(d);
    }
  }
}
