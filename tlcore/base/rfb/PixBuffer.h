// Pixel buffers: rectangles of pixels in one PixelFormat, in memory laid
// out row by row from the top. A row holds `stride` pixels of bpp/8 bytes;
// buffer coordinates need not start at 0,0. 24-bit pixels are stored low
// byte first, 16- and 32-bit pixels in host order.
//
// Views (FullFramePixelBuffer over a parent, SubPixelBuffer) share their
// source's memory and do not own it; ManagedPixelBuffer owns its memory.
// Asking for pixels outside a buffer's rect is a fatal assertion. Used on
// the loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "rfb/ColourMap.h"
#include "rfb/PixelFormat.h"
#include "rfb/Rect.h"

namespace rfb {

class Region;
class WritablePixelBuffer;

// Anything that can copy a rectangle of its image into caller memory.
class ImageGetter {
public:
  virtual ~ImageGetter();
  // outStride in pixels; 0 means r's width.
  virtual void getImage(void* buf, const Rect& r, int outStride = 0) = 0;
};

// What a ManagedPixelBuffer can be loaded from (PNG files, scaled images).
class ImageLoader {
public:
  virtual ~ImageLoader();
  virtual Point getSize() = 0;
  virtual const PixelFormat& getPf() = 0;
  virtual void getImage(WritablePixelBuffer* dst, Point pos) = 0;
};

class PixelBuffer : public ImageGetter {
public:
  PixelBuffer() = default;
  PixelBuffer(const PixelFormat& pf, const Rect& r, ColourMap* cm) : format(pf), rect(r), colourMap(cm) {}
  ~PixelBuffer() override;
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  // Copies height rows of r through getPixelsR.
  void getImage(void* buf, const Rect& r, int outStride = 0) override;
  virtual ColourMap* getColourMap() { return colourMap; }
  // r's top-left pixel and, through stride (pixels), the stride of the
  // memory it lies in; null for an empty r.
  virtual const uint8_t* getPixelsR(const Rect& r, int* stride) = 0;
  // Brings the region's pixels up to date before they are read; buffers
  // that show another buffer pass it on.
  virtual void prepareRegion(const Region& region);
  // Answered with 0 by every buffer.
  virtual int query() { return 0; }

  // prepareRegion of the whole rect (clamped to 16-bit coordinates).
  void prepare();

  int bytesPerPixel() const { return format.bpp / 8; }

  PixelFormat format;
  Rect rect;
  ColourMap* colourMap = nullptr; // not owned
};

class WritablePixelBuffer : public PixelBuffer {
public:
  using PixelBuffer::PixelBuffer;
  const uint8_t* getPixelsR(const Rect& r, int* stride) override { return getPixelsRW(r, stride); }
  virtual uint8_t* getPixelsRW(const Rect& r, int* stride) = 0;
};

// Pixels in one block of memory, which this class does not own.
class FullFramePixelBuffer : public WritablePixelBuffer {
public:
  // A stride of 0 means the rect's width.
  FullFramePixelBuffer(const PixelFormat& pf, const Rect& r, ColourMap* cm, uint8_t* data, int stride);
  // A view of r over parent's memory: r clipped to the parent's rect, with
  // r's top-left at 0,0. Nothing is copied; parent must outlive the view.
  FullFramePixelBuffer(WritablePixelBuffer& parent, const Rect& r);

  // Stores the stride first, even for an empty r (which gives null
  // unchecked); any other r outside rect is fatal.
  uint8_t* getPixelsRW(const Rect& r, int* stride) override;

  // No bounds check; a bpp other than 8, 16, 24, 32 reads 0, writes nothing.
  Pixel getPixel(const Point& p) const;
  void setPixel(const Point& p, Pixel pixel);

  uint8_t* data = nullptr; // not owned here
  int stride = 0;          // pixels

protected:
  FullFramePixelBuffer() = default;
};

// A full-frame buffer whose format, size and colour map can change.
class ConfigurablePixelBuffer : public FullFramePixelBuffer {
public:
  virtual void setPF(const PixelFormat& pf) = 0;
  virtual void setSize(const Point& size) = 0;
  virtual void setColourMap(ColourMap* cm) = 0;

  // setSize keeps the overlapping part of the old image when set.
  bool preserveOnResize = false;

protected:
  ConfigurablePixelBuffer() = default;
};

// Owns its memory (array new/delete). The memory never shrinks except to
// nothing, and holds at most kMaxCapacity bytes: a larger buffer is fatal.
class ManagedPixelBuffer : public ConfigurablePixelBuffer {
public:
  static constexpr int64_t kMaxCapacity = 0x7fffffff;

  // Memory for r is allocated but not cleared.
  ManagedPixelBuffer(const PixelFormat& pf, const Rect& r, ColourMap* cm = nullptr);
  // Empty with a null loader; else takes the loader's format and size and
  // has it write its image.
  explicit ManagedPixelBuffer(ImageLoader* loader = nullptr);
  ~ManagedPixelBuffer() override;

  // Changes clear every byte of memory; equal formats change nothing.
  void setPF(const PixelFormat& pf) override;
  // Another size clears the pixels unless preserveOnResize is set.
  void setSize(const Point& size) override;
  void setColourMap(ColourMap* cm) override { colourMap = cm; }

  // Hands the memory to the caller; the buffer is left empty.
  std::unique_ptr<uint8_t[]> takeData();
  // Takes memory of capacity bytes, which must cover the buffer (fatal
  // otherwise); the stride becomes the width.
  void setData(std::unique_ptr<uint8_t[]> bytes, int capacity);
  void setData(std::unique_ptr<uint8_t[]> bytes, int capacity, const Rect& r);

  int capacity() const { return capacity_; }
  // (bpp/8) x width x height, in 64 bits.
  int64_t sizeBytes() const;

private:
  void checkMemory();
  void freeData();

  int capacity_ = 0;
};

// A read-only view of a rectangle of another buffer (not owned).
class SubPixelBuffer : public PixelBuffer {
public:
  // The view's origin is r's top-left when originAtRect is set, else the
  // source's origin.
  SubPixelBuffer(PixelBuffer& source, const Rect& r, bool originAtRect);
  const uint8_t* getPixelsR(const Rect& r, int* stride) override;

private:
  PixelBuffer* source_;
  Point offset_;
};

// r cut to bounds; an edge that would pass the opposite one stops there.
Rect clipRect(const Rect& r, const Rect& bounds);

} // namespace rfb
