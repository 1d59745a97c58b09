// A pixel buffer that can be put on an X window. Widgets draw into it in
// any pixel format; it keeps an XImage in the server's native format, in
// System V shared memory when MIT-SHM allows, and translates on each put
// when the two formats differ. On a colour-mapped (8-bit) display it
// allocates a colour cube of ColorCubeSize levels and maps colours through
// it.
//
// The image owns its XImage, its shared segment (detached from the server
// before it goes), the colour cube, the translator and its buffer; a colour
// map given to setColourMap is borrowed. Loop thread only, after
// openDisplay.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <memory>

#include "plat/SharedMem.h"
#include "rfb/PixBuffer.h"
#include "rfb/PixTranslate.h"
#include "tx/ColorCube.h"

namespace tx {

class TXImage : public rfb::ConfigurablePixelBuffer {
public:
  // Whether the image may live in shared memory.
  enum class Shm { IfAvailable, Never };

  // Visual and depth 0 are the screen's defaults. The requested format
  // starts as the native one. A size whose bytes do not fit 32 bits throws
  // plat::Exception, here and in setSize (which then keeps the image).
  TXImage(const rfb::Point& size, Visual* visual = nullptr, int depth = 0, Shm shm = Shm::IfAvailable);
  ~TXImage() override;

  // --- The pixel buffer ---
  void setPF(const rfb::PixelFormat& pf) override;
  // Keeps the pixels of the area the old and new sizes share.
  void setSize(const rfb::Point& size) override;
  // Null: for a colour-mapped format, a 6 x 6 x 6 cube of the image's own.
  void setColourMap(rfb::ColourMap* cm) override;

  // --- On screen ---
  // Puts r of the image at r + offset on the window (the layer's GC when
  // gc is null). Shared-memory puts ask for no completion event.
  void put(Window win, const rfb::Rect& r, const rfb::Point& offset = rfb::Point(0, 0), GC gc = nullptr);

  const rfb::PixelFormat& nativeFormat() const { return native_; }
  bool isShared() const { return shm_ != nullptr; }
  // The shared segment's id, -1 without one.
  int shmId() const { return shm_ ? shm_->getId() : -1; }

private:
  void createXImage();
  void destroyXImage();
  int imBytesPerLine() const { return stride_ * native_.bpp / 8; }
  // Points the buffer at the XImage or at the translator's input.
  void configure();
  void copyOverlap(const uint8_t* old, int oldStride, const rfb::Rect& oldRect);

  Visual* visual_;
  int depth_;
  Shm shmPolicy_;
  rfb::PixelFormat native_;
  XImage* xim_ = nullptr;
  // Pixels per XImage row.
  int stride_ = 0;
  std::unique_ptr<rfb::ColorCubePlusTable> cube_;
  std::unique_ptr<plat::SharedMemSysV> shm_;
  XShmSegmentInfo shmInfo_{};
  std::unique_ptr<uint8_t[]> plain_;
  std::unique_ptr<rfb::TransPixelBuffer> translator_;
  std::unique_ptr<uint8_t[]> intermediate_;
  rfb::ColourMap* userMap_ = nullptr;
  rfb::ColorCubeOrth ownMap_{6, 6, 6};
};

} // namespace tx
