#include "tx/TXImage.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/Log.h"
#include "tx/TXContext.h"
#include "tx/TXUtil.h"

namespace tx {

extern plat::IntParameter colorCubeSize;

static plat::LogSrc vlog("TXImage");

// An image's bytes (and the shared segment that holds them) are counted in
// 32 bits: larger sizes are refused, as windows refuse theirs. Rows are
// padded by at most 31 pixels of at most 4 bytes.
static void checkSize(const rfb::Point& size)
{
  if ((uint64_t)(std::max(size.x, 0) + 31) * (uint64_t)std::max(size.y, 0) * 4 > UINT32_MAX)
    throw plat::Exception(1, "Image size %dx%d too large", size.x, size.y);
}

TXImage::TXImage(const rfb::Point& size, Visual* visual, int depth, Shm shm)
  : visual_(visual ? visual : DefaultVisual(display(), DefaultScreen(display()))),
    depth_(depth ? depth : DefaultDepth(display(), DefaultScreen(display()))), shmPolicy_(shm)
{
  checkSize(size);
  native_ = nativePixelFormat(visual_, depth_);
  static bool logged = false;
  if (!logged) {
    logged = true;
    char text[rfb::PixelFormat::kPrintSize] = "";
    native_.print(text);
    vlog.info("Native pixel format %s", text);
  }
  if (!native_.trueColour) {
    const int n = colorCubeSize;
    cube_ = std::make_unique<rfb::ColorCubePlusTable>(n, n, n);
    std::vector<XColor> colours(cube_->size());
    for (int r = 0; r < n; r++)
      for (int g = 0; g < n; g++)
        for (int b = 0; b < n; b++) {
          XColor& c = colours[(r * n + g) * n + b];
          auto level16 = [n](int k) { return (unsigned short)((k * 255 + (n - 1) / 2) / (n - 1) * 257); };
          c.red = level16(r);
          c.green = level16(g);
          c.blue = level16(b);
          c.flags = DoRed | DoGreen | DoBlue;
        }
    allocColours(colours.data(), (int)colours.size());
    for (size_t i = 0; i < colours.size(); i++)
      cube_->table[i] = colours[i].pixel;
  }
  rect = rfb::Rect(0, 0, std::max(size.x, 0), std::max(size.y, 0));
  createXImage();
  format = native_;
  configure();
}

TXImage::~TXImage()
{
  translator_.reset();
  destroyXImage();
}

// --- The XImage ------------------------------------------------------------------------

void TXImage::createXImage()
{
  Display* dpy = display();
  int pad = 32;
  const int bpp = getPixmapFormat(depth_, &pad);
  const int w = std::max(rect.width(), 1), h = std::max(rect.height(), 1);
  stride_ = imageStride(w, bpp, pad);
  const size_t bytes = (size_t)h * imBytesPerLine();
  if (shmPolicy_ == Shm::IfAvailable) {
    try {
      if (!XShmQueryExtension(dpy))
        throw plat::Exception("The MIT-SHM extension is not available");
      shm_ = std::make_unique<plat::SharedMemSysV>((uint32_t)bytes);
      shmAttach(&shmInfo_, shm_->getId(), static_cast<char*>(shm_->getData()));
      XImage* xim = shmCreateImage(visual_, depth_, &shmInfo_, stride_, h);
      if (!xim) {
        shmDetach(&shmInfo_);
        throw plat::Exception("XShmCreateImage failed");
      }
      xim_ = xim;
      PLAT_ASSERT(xim->bytes_per_line == imBytesPerLine());
      vlog.info("Using shared memory XImage");
      return;
    } catch (plat::Exception& e) {
      char text[plat::Exception::kMessageSize];
      vlog.status("%s", e.formatDisplay(text));
      shm_.reset();
    }
  }
  plain_ = std::make_unique<uint8_t[]>(bytes);
  xim_ = XCreateImage(dpy, visual_, (unsigned)depth_, ZPixmap, 0, reinterpret_cast<char*>(plain_.get()),
                      (unsigned)stride_, (unsigned)h, pad, imBytesPerLine());
  vlog.info("Using non-shm XImage");
}

void TXImage::destroyXImage()
{
  if (!xim_)
    return;
  if (shm_)
    shmDetach(&shmInfo_);
  xim_->data = nullptr;
  XDestroyImage(xim_);
  xim_ = nullptr;
  shm_.reset();
  plain_.reset();
}

// --- The pixel buffer ------------------------------------------------------------------

void TXImage::configure()
{
  translator_.reset();
  intermediate_.reset();
  colourMap = format.trueColour ? nullptr : userMap_ ? userMap_ : &ownMap_;
  if (format.equal(native_) && native_.trueColour) {
    data = reinterpret_cast<uint8_t*>(xim_->data);
    stride = stride_;
    return;
  }
  const size_t bytes = (size_t)std::max(rect.width(), 1) * std::max(rect.height(), 1) * bytesPerPixel();
  intermediate_ = std::make_unique<uint8_t[]>(bytes);
  memset(intermediate_.get(), 0, bytes);
  data = intermediate_.get();
  stride = rect.width();
  translator_ = std::make_unique<rfb::TransPixelBuffer>();
  translator_->setPF(native_);
  translator_->setColourMap(cube_.get());
  translator_->setSource(this);
}

void TXImage::setPF(const rfb::PixelFormat& pf)
{
  if (pf.equal(format))
    return;
  format = pf;
  configure();
}

void TXImage::setColourMap(rfb::ColourMap* cm)
{
  userMap_ = cm;
  colourMap = format.trueColour ? nullptr : cm ? cm : &ownMap_;
  if (translator_)
    translator_->setColourMap(cube_.get());
}

void TXImage::copyOverlap(const uint8_t* old, int oldStride, const rfb::Rect& oldRect)
{
  const int bpp = bytesPerPixel();
  const int w = std::min(oldRect.width(), rect.width()), h = std::min(oldRect.height(), rect.height());
  for (int y = 0; y < h; y++)
    memcpy(data + (size_t)y * stride * bpp, old + (size_t)y * oldStride * bpp, (size_t)w * bpp);
}

void TXImage::setSize(const rfb::Point& size)
{
  const rfb::Rect newRect(0, 0, std::max(size.x, 0), std::max(size.y, 0));
  if (newRect.width() == rect.width() && newRect.height() == rect.height())
    return;
  checkSize(size);
  const rfb::Rect oldRect = rect;
  const int oldStride = stride;
  std::unique_ptr<uint8_t[]> old;
  if (translator_) {
    old = std::move(intermediate_);
  } else {
    const size_t bytes = (size_t)std::max(oldRect.height(), 1) * imBytesPerLine();
    old = std::make_unique<uint8_t[]>(bytes);
    memcpy(old.get(), xim_->data, bytes);
  }
  translator_.reset();
  destroyXImage();
  rect = newRect;
  createXImage();
  configure();
  copyOverlap(old.get(), oldStride, oldRect);
}

// --- On screen -------------------------------------------------------------------------

void TXImage::put(Window win, const rfb::Rect& r, const rfb::Point& offset, GC gc)
{
  const rfb::Rect clipped = rfb::clipRect(r, rect);
  if (clipped.isEmpty())
    return;
  const int x = clipped.topLeft.x, y = clipped.topLeft.y, w = clipped.width(), h = clipped.height();
  if (translator_) {
    uint8_t* out = reinterpret_cast<uint8_t*>(xim_->data) + (size_t)y * imBytesPerLine() + (size_t)x * native_.bpp / 8;
    translator_->getImage(out, clipped, stride_);
  }
  if (!gc)
    gc = defaultGC();
  if (shm_)
    XShmPutImage(display(), win, gc, xim_, x, y, x + offset.x, y + offset.y, (unsigned)w, (unsigned)h, False);
  else
    XPutImage(display(), win, gc, xim_, x, y, x + offset.x, y + offset.y, (unsigned)w, (unsigned)h);
  imagePut();
}

} // namespace tx
