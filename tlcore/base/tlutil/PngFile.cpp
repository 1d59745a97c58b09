#include "tlutil/PngFile.h"

#include <png.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "rfb/PixDraw.h"

namespace tlutil {

PngException::PngException(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("PngException");
}

// Plain data only: libpng's error jump crosses the functions that use it.
struct PngFile::Decoder {
  png_structp pp = nullptr;
  png_infop ip = nullptr;
  const uint8_t* data = nullptr;
  size_t length = 0;
  size_t pos = 0;
  char error[256] = "";

  ~Decoder() { png_destroy_read_struct(&pp, ip ? &ip : nullptr, nullptr); }
};

namespace {

void onError(png_structp pp, png_const_charp msg)
{
  auto* d = static_cast<PngFile::Decoder*>(png_get_error_ptr(pp));
  snprintf(d->error, sizeof d->error, "%s", msg ? msg : "");
  png_longjmp(pp, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp pp, png_bytep out, size_t n)
{
  auto* d = static_cast<PngFile::Decoder*>(png_get_io_ptr(pp));
  if (n > d->length - d->pos)
    png_error(pp, "Bad PNG data");
  memcpy(out, d->data + d->pos, n);
  d->pos += n;
}

// The header and the transformations to 8-bit BGRX or BGRA; false with
// the decoder's message after an error.
bool readHeader(PngFile::Decoder* d, png_uint_32* w, png_uint_32* h, int* colourType, int* passes)
{
  if (setjmp(png_jmpbuf(d->pp)))
    return false;
  png_set_user_limits(d->pp, PngFile::kMaxSide, PngFile::kMaxSide);
  // Every chunk's CRC is checked already; zlib's second sum over the
  // inflated rows took a sixth of the decoding time.
  png_set_option(d->pp, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_set_read_fn(d->pp, d, onRead);
  png_read_info(d->pp, d->ip);
  png_set_bgr(d->pp);
  png_set_expand(d->pp);
  png_set_strip_16(d->pp);
  png_set_gray_to_rgb(d->pp);
  png_set_filler(d->pp, 0, PNG_FILLER_AFTER);
  *passes = png_set_interlace_handling(d->pp);
  png_read_update_info(d->pp, d->ip);
  *w = png_get_image_width(d->pp, d->ip);
  *h = png_get_image_height(d->pp, d->ip);
  *colourType = png_get_color_type(d->pp, d->ip);
  return true;
}

// Every pass over every row; later passes fill in the rows of earlier ones.
bool readRows(PngFile::Decoder* d, uint8_t* first, size_t rowBytes, int height, int passes)
{
  if (setjmp(png_jmpbuf(d->pp)))
    return false;
  for (int pass = 0; pass < passes; pass++)
    for (int y = 0; y < height; y++)
      png_read_row(d->pp, first + rowBytes * (size_t)y, nullptr);
  return true;
}

// Premultiplies 32-bit pixels of 8-bit channels in host order in place,
// rounding as rfb::premultiply does; false for any other format.
bool premultiplyRows(uint8_t* first, int stride, int width, int height, const rfb::PixelFormat& pf)
{
  if (pf.bpp != 32 || !pf.isNativeEndian() || !pf.trueColour || pf.redMax != 255 || pf.greenMax != 255 ||
      pf.blueMax != 255 || pf.alphaMax != 255)
    return false;
  const int shifts[3] = {pf.redShift, pf.greenShift, pf.blueShift};
  for (int y = 0; y < height; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(first + (size_t)stride * 4 * (size_t)y);
    for (int x = 0; x < width; x++) {
      const uint32_t p = row[x];
      const uint32_t a = p >> pf.alphaShift & 255;
      if (a == 255)
        continue;
      // Transparent areas: every channel rounds to 0.
      if (a == 0) {
        row[x] = 0;
        continue;
      }
      uint32_t out = a << pf.alphaShift;
      for (int s : shifts)
        out |= ((p >> s & 255) * a + 127) / 255 << s;
      row[x] = out;
    }
  }
  return true;
}

} // namespace

PngFile::PngFile(int length, const uint8_t* data, Premultiply premultiply, const char* name)
    : dec_(new Decoder), name_(name ? name : "<unknown>"), premultiply_(premultiply)
{
  dec_->data = data;
  dec_->length = length > 0 ? (size_t)length : 0;
  png_structp pp = png_create_read_struct("1.6.37", dec_.get(), onError, onWarning);
  PLAT_ASSERT(pp);
  dec_->pp = pp;
  png_infop ip = png_create_info_struct(pp);
  PLAT_ASSERT(ip);
  dec_->ip = ip;
  png_uint_32 w = 0, h = 0;
  int colourType = 0;
  if (!readHeader(dec_.get(), &w, &h, &colourType, &passes_))
    throw PngException(0, "%s: %s", dec_->error, name_.str());
  if (w > (png_uint_32)kMaxSide || h > (png_uint_32)kMaxSide)
    throw PngException(0, "Image too large: %s", name_.str());
  width_ = (int)w;
  height_ = (int)h;
  if (colourType == PNG_COLOR_TYPE_RGB)
    format_ = rfb::xrgb8888Format();
  else if (colourType == PNG_COLOR_TYPE_RGB_ALPHA)
    format_ = rfb::argb8888Format();
  else
    throw PngException(0, "PNG color type %d not supported: %s", colourType, name_.str());
}

PngFile::~PngFile() = default;

void PngFile::getImage(rfb::WritablePixelBuffer* pb, rfb::Point pos)
{
  const rfb::PixelFormat& pf = format_;
  PLAT_ASSERT_TEXT(pb->format.equal(pf), "pb->getPf().equal(pf)");
  const rfb::Rect r(pos, pos.translate(rfb::Point(width_, height_)));
  int stride = 0;
  uint8_t* mem = pb->getPixelsRW(r, &stride);
  if (!mem)
    return;
  if (!readRows(dec_.get(), mem, (size_t)stride * 4, height_, passes_))
    throw PngException(0, "%s: %s", dec_->error, name_.str());
  if (premultiply_ == Premultiply::Yes && format_.alphaMax &&
      !premultiplyRows(mem, stride, width_, height_, format_))
    rfb::blendImage(*pb, pos, *pb, r, rfb::premultiply);
}

} // namespace tlutil
