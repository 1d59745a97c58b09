// Area-averaging resampler: produces any rectangle of a source pixel
// buffer shown at another size, converting the pixel format on the way.
// Every destination pixel is the mean of the source area it covers,
// weighted by the exact overlap, in fixed-point arithmetic that rounds
// once per row and once per column. A kernel per pair of pixel layouts is
// chosen once per change of format or size, so the pixel loops test
// nothing. Channels wider than 8 bits have no kernel.
//
// The source and the colour maps are not owned. Loop thread only.
#pragma once

#include <stdint.h>

#include "plat/MBuf.h"
#include "rfb/PixBuffer.h"

namespace tlutil {

// The two sizes of a scaling: the source's and the whole scaled image's.
struct ScaleCoords {
  rfb::Point srcSz;
  rfb::Point dstSz;
};

// Where one call of a kernel reads and writes.
struct ScaleJob {
  rfb::Point size; // of the destination rectangle
  uint8_t* dst;
  int dstStride; // pixels
  const rfb::PixelFormat* dstFormat;
  rfb::ColourMap* dstColourMap;
  const uint8_t* src; // the first source pixel the area needs
  int srcStride;      // pixels
  const rfb::PixelFormat* srcFormat;
  rfb::ColourMap* srcColourMap;
  int64_t srcStartX, srcStartY; // virtual units of that source pixel
  int64_t dstStartX, dstStartY; // virtual units of the rectangle's corner
  const ScaleCoords* coords;
  uint32_t* accum; // four entries per destination column, all zero
};

using ScaleKernelFn = void (*)(const ScaleJob& job);

// A resampling routine and the name tests know it by ("copy", "rgb565",
// "same2", "alpha4", "into-alpha3", "from8-2", "generic1-4", ...).
struct ScaleKernel {
  const char* name;
  ScaleKernelFn fn;
};

// The kernel for a pair of formats at different sizes, or null (a channel
// wider than 8 bits or without bits, alpha the table has no kernel for).
// Pixel sizes other than 1 to 4 bytes are fatal.
const ScaleKernel* pickKernel(const rfb::PixelFormat& srcFormat, const rfb::PixelFormat& dstFormat);

class Scaler : public rfb::ImageGetter {
public:
  Scaler() = default;
  ~Scaler() override;
  Scaler(const Scaler&) = delete;
  Scaler& operator=(const Scaler&) = delete;

  // --- Setting up: assign dstSz (or the destination format), then update ---
  // With takeFormat the destination format and colour map become src's.
  void setSource(rfb::PixelBuffer* src, bool takeFormat);
  // Picks the kernel; does nothing without a source. A missing kernel is
  // reported by getImage.
  void update();

  // --- Output ---
  // r in scaled-image coordinates; outStride in pixels, 0 meaning r's
  // width. Throws plat::Exception when no kernel fits.
  void getImage(void* buf, const rfb::Rect& r, int outStride = 0) override;

  // The source pixels (from 0,0 of the source) that r of the scaled
  // image reads.
  rfb::Rect sourceArea(const rfb::Rect& r) const;

  const ScaleKernel* kernel() const { return kernel_; }
  rfb::PixelBuffer* source() const { return source_; }

  ScaleCoords coords_;
  rfb::PixelFormat dstFormat;
  rfb::ColourMap* dstColourMap = nullptr; // not owned

private:
  plat::MBuf<uint32_t> accum_;
  rfb::PixelBuffer* source_ = nullptr; // not owned
  const ScaleKernel* kernel_ = nullptr;
};

} // namespace tlutil
