// Text in bitmap fonts: the font interface every widget measures and draws
// with, the one-bit proportional font read from a built-in resource, the
// layout helpers (line splitting with word wrap, aligned and shortened
// drawing, hit-testing) and the choice of font by display scale.
//
// Text is UTF-8; an end pointer of null means up to the NUL, and a NUL
// always ends the text. Fonts live in a process-wide cache until exit, so
// regular(), bold() and forStyle() hand out plain pointers. Loop thread
// only; the cache has no lock.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "plat/SharedHandle.h"
#include "plat/String.h"
#include "rfb/PixBuffer.h"

namespace rdr {
class InStream;
}

namespace tlutil {

// What a style asks of a font.
struct FontSpec {
  int size = 120;
  int weight = 400;
};

class Font {
public:
  virtual ~Font();

  // --- Drawing (colour is a pixel of dst's format) ---
  virtual void drawChar(rfb::WritablePixelBuffer& dst, int codePoint, const rfb::Point& pen, rfb::Pixel colour) = 0;
  virtual void drawText(rfb::WritablePixelBuffer& dst, const char* text, const rfb::Point& pen, rfb::Pixel colour,
                        const char* end = nullptr);
  // Aligns (0 left/top, 1 centre, 2 right/bottom) the wrapped block in r;
  // returns the block's rectangle.
  virtual rfb::Rect drawTextInRect(rfb::WritablePixelBuffer& dst, const char* text, const rfb::Rect& r,
                                   rfb::Pixel colour, int hAlign, int vAlign);
  // One line, shortened with "…" when wider than r.
  virtual void drawTextEllipsized(rfb::WritablePixelBuffer& dst, const char* text, const rfb::Rect& r,
                                  rfb::Pixel colour, int hAlign, int vAlign, const char* end = nullptr);

  // --- Measuring ---
  virtual int charWidth(int codePoint) = 0;
  virtual int textWidth(const char* text, const char* end = nullptr);
  // The first character after which less than nothing of width is left.
  virtual const char* fitText(const char* text, int width, const char* end = nullptr);
  // The character boundary nearest to x.
  virtual const char* charIndexAt(int x, const char* text, const char* end = nullptr);

  // Appends a copy of each line to lines (owned by the caller's vector) and
  // returns the widest line's width. maxWidth <= 0 breaks only at LF.
  enum class Newline { Drop, Keep };
  enum class WordBreak { Never, AtOverflow };
  int splitLines(const char* text, int maxWidth, std::vector<plat::String>& lines, Newline newline = Newline::Drop,
                 WordBreak words = WordBreak::Never);
  // Null when the text fits in width (which becomes its width); otherwise
  // the text cut to fit with "…" appended, and width the result's width.
  plat::String ellipsize(int& width, const char* text, const char* end = nullptr);

  // --- Choosing fonts ---
  static Font* regular(int size);
  static Font* bold(int size);
  static Font* forStyle(const FontSpec& spec);
  // Loads a built-in font once per process.
  static plat::SharedHandle<Font> byName(const char* name);

  int lineHeight = 0;
  int ascent = 0;

protected:
  // Decodes one code point at *p (bounded by end) and moves past it; -1 for
  // an invalid sequence, 0 at the end.
  static int next(const char** p, const char* end);
};

// The one-bit bitmap font of the built-in resources ("%s.gz").
class FontZarnBm : public Font {
public:
  // Parses the uncompressed font format; "Bad font data" or the stream's
  // own end-of-stream error.
  explicit FontZarnBm(rdr::InStream& in);
  ~FontZarnBm() override;
  // "Failed to read font %s: %s" on any failure.
  static FontZarnBm* fromResource(const char* name);

  void drawChar(rfb::WritablePixelBuffer& dst, int codePoint, const rfb::Point& pen, rfb::Pixel colour) override;
  int charWidth(int codePoint) override;

  static constexpr uint32_t kMagic = 0x7CCF0C72;
  static constexpr int kMaxBlocks = 1023;
  static constexpr int64_t kMaxBitmap = 0x400000;

  struct Glyph {
    uint32_t bitmapOffset;
    uint16_t advance;
    int8_t xOffset;
    int8_t yOffset;
    uint8_t width;
    uint8_t height;
  };
  const Glyph& glyph(int codePoint) const;
  int blockCount() const { return (int)blockBase_.size() - 2; }
  uint32_t blockBase(int k) const { return blockBase_[k]; }

private:
  std::vector<uint32_t> blockBase_;
  std::vector<Glyph> glyphs_;
  std::vector<uint8_t> bitmap_;
};

} // namespace tlutil
