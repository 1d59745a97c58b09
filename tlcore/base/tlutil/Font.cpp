#include "tlutil/Font.h"

#include <string.h>

#include <map>
#include <string>

#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/Resource.h"
#include "plat/utf8.h"
#include "rdr/MemInStream.h"
#include "rdr/ZlibInStream.h"
#include "rfb/PixDraw.h"

namespace tlutil {

using rfb::Point;
using rfb::Rect;

namespace {

constexpr int kEllipsis = 0x2026;
constexpr int kUnlimited = 0x7fffffff;

bool isWhite(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

Font::~Font() = default;

int Font::next(const char** p, const char* end)
{
  if ((end && *p >= end) || **p == 0)
    return 0;
  int lead = (unsigned char)*(*p)++;
  if (lead < 0x80)
    return lead;
  int available = end ? (int)std::min<ptrdiff_t>(4, end - *p + 1) : 4;
  return plat::utf8DecodeRest(lead, p, available);
}

void Font::drawText(rfb::WritablePixelBuffer& dst, const char* text, const Point& pen, rfb::Pixel colour,
                    const char* end)
{
  Point at = pen;
  for (const char* p = text; p;) {
    int c = next(&p, end);
    if (c == 0)
      break;
    drawChar(dst, c, at, colour);
    at.x += charWidth(c);
  }
}

int Font::textWidth(const char* text, const char* end)
{
  int w = 0;
  for (const char* p = text; p;) {
    int c = next(&p, end);
    if (c == 0)
      break;
    w += charWidth(c);
  }
  return w;
}

const char* Font::fitText(const char* text, int width, const char* end)
{
  const char* p = text;
  for (;;) {
    const char* start = p;
    int c = next(&p, end);
    if (c == 0)
      return start;
    width -= charWidth(c);
    if (width < 0)
      return start;
  }
}

const char* Font::charIndexAt(int x, const char* text, const char* end)
{
  const char* p = text;
  for (;;) {
    const char* start = p;
    int c = next(&p, end);
    if (c == 0)
      return start;
    int w = charWidth(c);
    if (x < w)
      return x <= w / 2 ? start : p;
    x -= w;
  }
}

int Font::splitLines(const char* text, int maxWidth, std::vector<plat::String>& lines, Newline newline,
                     WordBreak words)
{
  if (!text)
    return 0;
  const int limit = maxWidth > 0 ? maxWidth : kUnlimited;
  const char* lineStart = text;
  const char* breakAt = nullptr;
  int width = 0, breakWidth = 0, widest = 0;
  bool afterWhite = false;
  auto finish = [&](const char* from, const char* to, int w) {
    lines.emplace_back(from, (int)(to - from));
    widest = std::max(widest, w);
  };
  for (const char* p = text;;) {
    const char* at = p;
    int c = next(&p, nullptr);
    if (c == 0) {
      finish(lineStart, at, width);
      break;
    }
    int w = c == '\n' ? 0 : charWidth(c);
    if (breakAt && width + w > limit) {
      finish(lineStart, breakAt, breakWidth);
      lineStart = breakAt;
      width -= breakWidth;
      breakAt = nullptr;
    }
    if (c == '\n') {
      finish(lineStart, newline == Newline::Keep ? p : at, width);
      lineStart = p;
      width = 0;
      breakAt = nullptr;
      afterWhite = false;
      continue;
    }
    if (words == WordBreak::AtOverflow && width + w > limit && at > lineStart) {
      finish(lineStart, at, width);
      lineStart = at;
      width = 0;
      breakAt = nullptr;
    }
    if (isWhite(c)) {
      afterWhite = true;
    } else if (afterWhite) {
      breakAt = at;
      breakWidth = width;
      afterWhite = false;
    }
    width += w;
  }
  return widest;
}

Rect Font::drawTextInRect(rfb::WritablePixelBuffer& dst, const char* text, const Rect& r, rfb::Pixel colour,
                          int hAlign, int vAlign)
{
  std::vector<plat::String> lines;
  const int widest = splitLines(text, r.width(), lines);
  const int blockHeight = (int)lines.size() * lineHeight;
  const int x0 = r.topLeft.x + ((r.width() - widest) * hAlign) / 2;
  const int y0 = r.topLeft.y + ((r.height() - blockHeight) * vAlign) / 2;
  int y = y0;
  for (const auto& line : lines) {
    const int w = textWidth(line.str());
    drawText(dst, line.str(), Point(x0 + ((widest - w) * hAlign) / 2, y), colour);
    y += lineHeight;
  }
  return Rect(x0, y0, x0 + widest, y0 + blockHeight);
}

plat::String Font::ellipsize(int& width, const char* text, const char* end)
{
  const int w = textWidth(text, end);
  if (w <= width) {
    width = w;
    return plat::String();
  }
  const char* cut = fitText(text, width - charWidth(kEllipsis), end);
  std::string s(text, (size_t)(cut - text));
  s += "\xE2\x80\xA6";
  plat::String out(s.c_str());
  width = textWidth(out.str());
  return out;
}

void Font::drawTextEllipsized(rfb::WritablePixelBuffer& dst, const char* text, const Rect& r, rfb::Pixel colour,
                              int hAlign, int vAlign, const char* end)
{
  int width = r.width();
  plat::String shortened = ellipsize(width, text, end);
  const Point pen(r.topLeft.x + ((r.width() - width) * hAlign) / 2,
                  r.topLeft.y + ((r.height() - lineHeight) * vAlign) / 2);
  if (!shortened.isNull())
    drawText(dst, shortened.str(), pen, colour);
  else
    drawText(dst, text, pen, colour, end);
}

// --- Choosing fonts ---------------------------------------------------------------------

namespace {

// The first font of names that loads; the last one's failure propagates.
Font* firstOf(std::initializer_list<const char*> names)
{
  size_t tried = 0;
  for (const char* n : names) {
    try {
      return Font::byName(n).get();
    } catch (const plat::Exception&) {
      if (++tried == names.size())
        throw;
    }
  }
  return nullptr;
}

// std::string orders its bytes as strcmp does.
std::map<std::string, plat::SharedHandle<Font>>& fontCache()
{
  static std::map<std::string, plat::SharedHandle<Font>> cache;
  return cache;
}

} // namespace

Font* Font::regular(int size)
{
  const int s = size * (int)plat::ppmm;
  if (s >= 960)
    return firstOf({"helv21", "helv16", "helv15"});
  if (s >= 484)
    return firstOf({"helv16", "helv15"});
  return firstOf({"helv15"});
}

Font* Font::bold(int size)
{
  const int s = size * (int)plat::ppmm;
  if (s >= 960)
    return firstOf({"helvB21", "helvB16", "helvB15", "helv15"});
  if (s >= 484)
    return firstOf({"helvB16", "helvB15", "helv15"});
  return firstOf({"helvB15", "helv15"});
}

Font* Font::forStyle(const FontSpec& spec)
{
  return spec.weight < 550 ? regular(spec.size) : bold(spec.size);
}

plat::SharedHandle<Font> Font::byName(const char* name)
{
  auto& cache = fontCache();
  const std::string key = name ? name : "";
  auto it = cache.find(key);
  if (it != cache.end())
    return it->second;
  plat::SharedHandle<Font> font(FontZarnBm::fromResource(name));
  cache.emplace(key, font);
  return font;
}

// --- The bitmap font --------------------------------------------------------------------

FontZarnBm::FontZarnBm(rdr::InStream& in)
{
  if (in.readU32() != kMagic)
    throw plat::Exception("Bad font data");
  ascent = in.readU16();
  lineHeight = ascent + in.readU16();
  const int n = in.readU16();
  if (n > kMaxBlocks)
    throw plat::Exception("Bad font data");
  blockBase_.push_back(0);
  for (int k = 0; k < n; k++)
    blockBase_.push_back(in.readU32());
  blockBase_.push_back(0xFFFFFFFFu);
  glyphs_.resize((size_t)(n + 1) * 128);
  int64_t bitmapLen = 0;
  for (Glyph& g : glyphs_) {
    g.bitmapOffset = in.readU32();
    g.advance = in.readU16();
    g.xOffset = (int8_t)in.readU8();
    g.yOffset = (int8_t)in.readU8();
    g.width = in.readU8();
    g.height = in.readU8();
    // In 64 bits, so no record wraps the length under the limit.
    bitmapLen = std::max(bitmapLen, (int64_t)g.bitmapOffset + (int64_t)((g.width + 7) / 8) * g.height);
  }
  if (bitmapLen > kMaxBitmap)
    throw plat::Exception("Bad font data");
  bitmap_.resize((size_t)bitmapLen);
  if (bitmapLen)
    in.readBytes(bitmap_.data(), (int)bitmapLen);
}

FontZarnBm::~FontZarnBm() = default;

FontZarnBm* FontZarnBm::fromResource(const char* name)
{
  try {
    char resName[256];
    snprintf(resName, sizeof resName, "%s.gz", name ? name : "");
    plat::BuiltInResource r = plat::findBuiltInResource(resName);
    if (!r.data)
      throw plat::Exception("resource not found");
    rdr::MemInStream mem(r.data, (int)r.size);
    rdr::ZlibInStream zin(0, true);
    zin.setUnderlying(&mem);
    zin.setRewindable(false); // read once, straight through
    return new FontZarnBm(zin);
  } catch (const plat::Exception& e) {
    throw plat::Exception(0, "Failed to read font %s: %s", name ? name : "(null)", e.str());
  }
}

const FontZarnBm::Glyph& FontZarnBm::glyph(int c) const
{
  // An invalid sequence (-1) and anything negative is glyph 0.
  if (c < 0)
    return glyphs_[0];
  if (c < 128)
    return glyphs_[c];
  const uint32_t base = (uint32_t)c & ~127u;
  for (size_t k = 1; blockBase_[k] != 0xFFFFFFFFu; k++)
    if (blockBase_[k] == base)
      return glyphs_[k * 128 + (c & 127)];
  return glyphs_[0];
}

void FontZarnBm::drawChar(rfb::WritablePixelBuffer& dst, int codePoint, const Point& pen, rfb::Pixel colour)
{
  const Glyph& g = glyph(codePoint);
  if (!g.width || !g.height)
    return;
  rfb::drawBitmap(dst, Rect(pen.x + g.xOffset, pen.y + g.yOffset, pen.x + g.xOffset + g.width,
                            pen.y + g.yOffset + g.height),
                  colour, bitmap_.data() + g.bitmapOffset, 0, 0);
}

int FontZarnBm::charWidth(int codePoint) { return glyph(codePoint).advance; }

} // namespace tlutil
