// Named user-interface images: a base name ("statusError", "spinner03")
// resolves, at the display scale (`ppmm`) or an explicit size, to the
// plain PNG resource, its "@2x" variant or an exact-size variant, scaled
// when no variant fits; in dark mode a "_darkbg" variant comes first. A
// name may also be built in as premultiplied pixels (".pix"), which a
// premultiplied load copies instead of decoding the PNG.
// Decoded images (failures included, as empty buffers) are cached for the
// life of the process. Loop thread only; the cache has no lock.
#pragma once

#include <memory>

#include "plat/Exception.h"
#include "plat/SharedHandle.h"
#include "tlutil/PngFile.h"

namespace tlutil {

class NamedImageBadSize : public plat::Exception {
public:
  NamedImageBadSize(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

class NamedImageNotFound : public plat::Exception {
public:
  NamedImageNotFound(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

// What the name rule asks about candidate names.
class NamedImageFinder {
public:
  virtual ~NamedImageFinder();
  // Makes the image of name the candidate when it exists; a missing name
  // keeps the previous candidate.
  virtual bool tryName(const char* name) = 0;
  virtual rfb::Point naturalSize() = 0;
  virtual bool found() = 0;
};

// The name rule: on return the finder holds the chosen image and size the
// size to produce (0 x 0 asks for the display scale's).
void findNamedImage(NamedImageFinder& finder, const char* name, rfb::Point& size);

// Writes inner's image at another size through the scaler.
class ScaledImageLoader : public rfb::ImageLoader {
public:
  ScaledImageLoader(rfb::ImageLoader* inner, const rfb::Point& size) : inner_(inner), size_(size) {}
  rfb::Point getSize() override { return size_; }
  const rfb::PixelFormat& getPf() override { return inner_->getPf(); }
  void getImage(rfb::WritablePixelBuffer* dst, rfb::Point pos) override;

private:
  rfb::ImageLoader* inner_; // not owned
  rfb::Point size_;
};

// The named image as a loader of its resolved size.
class NamedImageLoader : public rfb::ImageLoader, public NamedImageFinder {
public:
  NamedImageLoader(const char* name, const rfb::Point& size, PngFile::Premultiply premultiply);
  ~NamedImageLoader() override;

  rfb::Point getSize() override { return size_; }
  const rfb::PixelFormat& getPf() override { return image_->getPf(); }
  void getImage(rfb::WritablePixelBuffer* dst, rfb::Point pos) override;

  bool tryName(const char* name) override;
  rfb::Point naturalSize() override { return image_ ? image_->getSize() : rfb::Point(); }
  bool found() override { return image_ != nullptr; }

private:
  rfb::Point size_;
  // A PNG, or premultiplied pixels when those are built in and asked for.
  std::unique_ptr<rfb::ImageLoader> image_;
  PngFile::Premultiply premultiply_;
};

// Sets buffer's format and size to the named image's and writes it there
// (premultiplied).
void loadNamedImage(rfb::ManagedPixelBuffer& buffer, const char* name, const rfb::Point& size);

class NamedImagePixelBuffer : public rfb::ManagedPixelBuffer {
public:
  enum class Log { Quiet, Errors };

  // Empty (0 x 0) when the image fails; a bad size is always logged, other
  // failures only with Log::Errors.
  NamedImagePixelBuffer(const char* name, const rfb::Point& size, Log log);

  // The cached buffer of that name and size (0 x 0: at the display scale),
  // made on first use.
  static plat::SharedHandle<NamedImagePixelBuffer> getCached(const char* name, const rfb::Point& size, Log log);
  // The "_darkbg" variant first in dark mode, quietly; else the plain name.
  static plat::SharedHandle<NamedImagePixelBuffer> get(const char* name, const rfb::Point& size = rfb::Point());

  const bool atDisplayScale;
};

} // namespace tlutil
