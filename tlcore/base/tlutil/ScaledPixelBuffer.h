// A read-only pixel buffer that shows another buffer at another size,
// resampled lazily: readers prepare the areas they read, and only those
// are scaled into the view's cache. A view of the same size and format as
// its source passes reads straight through and holds no cache.
//
// Also nine-slice drawing (a small image stretched to any rectangle with
// its corners kept sharp) and the drag threshold of a pressed pointer.
// The source is not owned and must outlive the view. Loop thread only.
#pragma once

#include "rfb/PixDraw.h"
#include "tlutil/Scaler.h"

namespace tlutil {

class ScaledPixelBuffer : public rfb::PixelBuffer {
public:
  enum class Prepare { Later, Now };

  // An empty view in the default format, then sized and given source
  // (with its format); Prepare::Now scales the whole view at once.
  ScaledPixelBuffer(rfb::PixelBuffer* source, const rfb::Point& size, Prepare when = Prepare::Later);
  ~ScaledPixelBuffer() override;

  // --- Set-up ---
  void setSize(const rfb::Point& size);
  // With takeFormat the view takes src's format and colour map. A view
  // without a cache (new, or a pass-through) takes src's size too.
  void setSource(rfb::PixelBuffer* src, bool takeFormat);
  void setFormat(const rfb::PixelFormat& pf, rfb::ColourMap* cm);

  // --- Reading ---
  // The area must have been prepared.
  const uint8_t* getPixelsR(const rfb::Rect& r, int* stride) override;
  // Prepares the source area first, so chains of views stay current.
  void prepareRegion(const rfb::Region& region) override;

  bool isPassThrough() const;

private:
  void resizeCache();

  rfb::PixelBuffer* source_ = nullptr; // not owned
  rfb::ManagedPixelBuffer cache_;
  Scaler scaler_;
};

// Draws image into target of dst: the corners unscaled, the edges
// stretched along one axis, the centre along both. insets are left, top,
// right, bottom in image pixels. Pieces without area on either side are
// skipped, and nothing lands outside target.
void drawNineSlice(const int insets[4], rfb::PixelBuffer* image, rfb::WritablePixelBuffer* dst,
                   const rfb::Rect& target, rfb::BlendFunc blend = rfb::blendOver);

// Tells when a pressed pointer has moved far enough to start a drag: more
// than (10 x ppmm + 4) / 8 pixels on either axis, reported once per start.
class DragThreshold {
public:
  void start(const rfb::Point& p);
  bool exceeded(const rfb::Point& p);

private:
  rfb::Point start_;
  bool started_ = false;
};

} // namespace tlutil
