// PNG images from memory: a loader that decodes a PNG file's bytes into a
// pixel buffer as xrgb8888 (RGB) or argb8888 (with alpha), optionally
// premultiplied. Every colour type and bit depth is expanded; interlaced
// images are decoded whole. The bytes are not owned and must outlive the
// loader. Loop thread only.
#pragma once

#include <memory>

#include "plat/Exception.h"
#include "plat/String.h"
#include "rfb/PixBuffer.h"

namespace tlutil {

class PngException : public plat::Exception {
public:
  PngException(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

class PngFile : public rfb::ImageLoader {
public:
  // Larger images are refused before anything is allocated for them.
  static constexpr int kMaxSide = 8192;

  enum class Premultiply { No, Yes };

  // Reads the header at once; PngException on bad data or an unsupported
  // colour type. name (null: "<unknown>") appears in messages.
  PngFile(int length, const uint8_t* data, Premultiply premultiply, const char* name);
  ~PngFile() override;

  rfb::Point getSize() override { return rfb::Point(width_, height_); }
  const rfb::PixelFormat& getPf() override { return format_; }
  // dst's format must equal getPf(); the image lands at pos.
  void getImage(rfb::WritablePixelBuffer* dst, rfb::Point pos) override;

  struct Decoder; // libpng's state, behind the error jump

private:
  std::unique_ptr<Decoder> dec_;
  rfb::PixelFormat format_;
  int width_ = 0;
  int height_ = 0;
  int passes_ = 1;
  plat::String name_;
  Premultiply premultiply_;
};

} // namespace tlutil
