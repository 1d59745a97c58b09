#include "rfb/PixelFormat.h"

#include <stdarg.h>
#include <stdio.h>
#include <strings.h>

#include "plat/String.h"
#include "plat/numbers.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"
#include "rfb/ColourMap.h"

namespace rfb {

namespace {

int bitCount(uint32_t v) { return __builtin_popcount(v); }

// One channel of a compact print form: its maximum and shift.
struct Field {
  unsigned max;
  int shift;
};

// The fields listed top to bottom, the lowest at shift 0, each as wide as
// the gap up to the next one and the top one ending at depth. Fills bits.
bool fieldsStack(const Field* f, int n, int depth, int* bits)
{
  int top = depth;
  for (int i = 0; i < n; i++) {
    int width = top - f[i].shift;
    if (width <= 0 || width > 16 || f[i].max != (1u << width) - 1)
      return false;
    bits[i] = width;
    top = f[i].shift;
  }
  return top == 0;
}

} // namespace

PixelFormat::PixelFormat(int bpp_, int depth_, bool bigEndian_, bool trueColour_, int redMax_, int greenMax_,
                         int blueMax_, int redShift_, int greenShift_, int blueShift_, int alphaShift_,
                         int alphaMax_)
  : bpp((uint8_t)bpp_), depth((uint8_t)depth_), bigEndian(bigEndian_), trueColour(trueColour_),
    redMax((uint16_t)redMax_), greenMax((uint16_t)greenMax_), blueMax((uint16_t)blueMax_),
    alphaMax((uint16_t)alphaMax_), redShift((uint8_t)redShift_), greenShift((uint8_t)greenShift_),
    blueShift((uint8_t)blueShift_), alphaShift((uint8_t)alphaShift_)
{
}

bool PixelFormat::isValid() const
{
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return false;
  if (depth < 1 || depth > bpp)
    return false;
  if (!trueColour)
    return depth <= 8;
  if (bitCount(redMax) + redShift > bpp || bitCount(greenMax) + greenShift > bpp ||
      bitCount(blueMax) + blueShift > bpp)
    return false;
  if (alphaMax)
    return bitCount(alphaMax) + alphaShift <= bpp;
  return alphaShift <= bpp;
}

bool PixelFormat::equal(const PixelFormat& o) const
{
  if (bpp != o.bpp || depth != o.depth || trueColour != o.trueColour)
    return false;
  if (bpp != 8 && bigEndian != o.bigEndian)
    return false;
  if (!trueColour)
    return true;
  return redMax == o.redMax && greenMax == o.greenMax && blueMax == o.blueMax && alphaMax == o.alphaMax &&
         redShift == o.redShift && greenShift == o.greenShift && blueShift == o.blueShift &&
         alphaShift == o.alphaShift;
}

bool PixelFormat::isByteAligned() const
{
  return redMax <= 255 && greenMax <= 255 && blueMax <= 255 && alphaMax <= 255 && redShift % 8 == 0 &&
         greenShift % 8 == 0 && blueShift % 8 == 0 && alphaShift % 8 == 0;
}

void PixelFormat::updateDepth()
{
  if (!trueColour)
    return;
  // Shifts can reach 255: widen before shifting.
  auto field = [](unsigned max, int shift) -> uint64_t { return shift < 48 ? (uint64_t)max << shift : 0; };
  uint64_t all = field(redMax, redShift) | field(greenMax, greenShift) | field(blueMax, blueShift) |
                 field(alphaMax, alphaShift);
  depth = (uint8_t)__builtin_popcountll(all);
}

bool PixelFormat::makeLittleEndian()
{
  if (!bigEndian)
    return true;
  if (bpp == 8) {
    bigEndian = false;
    return true;
  }
  if (!isByteAligned())
    return false;
  int top = bpp - 8;
  redShift = (uint8_t)(top - redShift);
  greenShift = (uint8_t)(top - greenShift);
  blueShift = (uint8_t)(top - blueShift);
  if (alphaMax)
    alphaShift = (uint8_t)(top - alphaShift);
  bigEndian = false;
  return true;
}

Pixel PixelFormat::pixelFromRGB(const int rgb[3], ColourMap* cm) const
{
  Pixel p;
  if (trueColour) {
    uint32_t r = (uint32_t)rgb[0], g = (uint32_t)rgb[1], b = (uint32_t)rgb[2];
    if (redMax != 255 || greenMax != 255 || blueMax != 255) {
      r = (r * redMax + 127) / 255;
      g = (g * greenMax + 127) / 255;
      b = (b * blueMax + 127) / 255;
    }
    // Shifts beyond the pixel are a broken format; keep the shift defined.
    p = (r << (redShift & 31)) | (g << (greenShift & 31)) | (b << (blueShift & 31));
  } else {
    p = cm ? (Pixel)cm->lookup(rgb) : 0;
  }
  if (bigEndian) {
    if (bpp == 16)
      p = (p & 0xffff0000u) | __builtin_bswap16((uint16_t)p);
    else if (bpp == 32)
      p = __builtin_bswap32(p);
  }
  return p;
}

namespace {

// snprintf at *n within buf, adding what was written, while there is room.
__attribute__((format(printf, 3, 4))) void appendf(char (&buf)[PixelFormat::kPrintSize], int* n,
                                                   const char* fmt, ...)
{
  if (*n >= (int)sizeof(buf))
    return;
  va_list ap;
  va_start(ap, fmt);
  *n += vsnprintf(buf + *n, sizeof(buf) - *n, fmt, ap);
  va_end(ap);
}

} // namespace

void PixelFormat::print(char (&buf)[kPrintSize]) const
{
  char tmp[kPrintSize] = "";
  int n = snprintf(tmp, sizeof(tmp), "depth %d (%d bpp)", depth, bpp);
  if (bpp != 8)
    appendf(tmp, &n, " %s-endian", bigEndian ? "big" : "little");
  if (!trueColour) {
    appendf(tmp, &n, " colour-map");
    plat::strCat(buf, kPrintSize, tmp);
    return;
  }

  Field r = {redMax, redShift}, g = {greenMax, greenShift}, b = {blueMax, blueShift}, a = {alphaMax, alphaShift};
  int bits[4];
  const Field rgb[] = {r, g, b}, rgba[] = {r, g, b, a}, argb[] = {a, r, g, b};
  const Field bgr[] = {b, g, r}, bgra[] = {b, g, r, a}, abgr[] = {a, b, g, r};
  if (!alphaMax && fieldsStack(rgb, 3, depth, bits))
    appendf(tmp, &n, " rgb%d%d%d", bits[0], bits[1], bits[2]);
  else if (fieldsStack(rgba, 4, depth, bits))
    appendf(tmp, &n, " rgba%d%d%d%d", bits[0], bits[1], bits[2], bits[3]);
  else if (fieldsStack(argb, 4, depth, bits))
    appendf(tmp, &n, " argb%d%d%d%d", bits[0], bits[1], bits[2], bits[3]);
  else if (!alphaMax && fieldsStack(bgr, 3, depth, bits))
    appendf(tmp, &n, " bgr%d%d%d", bits[0], bits[1], bits[2]);
  else if (fieldsStack(bgra, 4, depth, bits))
    appendf(tmp, &n, " bgra%d%d%d%d", bits[0], bits[1], bits[2], bits[3]);
  else if (fieldsStack(abgr, 4, depth, bits))
    appendf(tmp, &n, " abgr%d%d%d%d", bits[0], bits[1], bits[2], bits[3]);
  else {
    appendf(tmp, &n, " rgb max %d,%d,%d shift %d,%d,%d", redMax, greenMax, blueMax, redShift,
            greenShift, blueShift);
    if (alphaMax)
      appendf(tmp, &n, " alpha max %d shift %d", alphaMax, alphaShift);
  }
  plat::strCat(buf, kPrintSize, tmp);
}

bool PixelFormat::parse(const char* text)
{
  trueColour = strncasecmp(text, "pal", 3) != 0;
  if (!trueColour) {
    int n;
    const char* p = text + 3;
    if (!plat::strToInt(&n, &p, 10) || n < 1 || n > 8)
      return false;
    bpp = 8;
    depth = (uint8_t)n;
    bigEndian = false;
    return true;
  }

  bool isRgb = strncasecmp(text, "rgb", 3) == 0;
  if (!isRgb && strncasecmp(text, "bgr", 3) != 0)
    return false;
  int d[3];
  for (int i = 0; i < 3; i++) {
    char c = text[3 + i];
    if (c < '1' || c > '9')
      return false;
    d[i] = c - '0';
  }
  if (text[6])
    return false;

  depth = (uint8_t)(d[0] + d[1] + d[2]);
  bpp = depth <= 8 ? 8 : depth <= 16 ? 16 : 32;
  bigEndian = false;
  uint16_t topMax = (uint16_t)((1 << d[0]) - 1), midMax = (uint16_t)((1 << d[1]) - 1);
  uint16_t lowMax = (uint16_t)((1 << d[2]) - 1);
  greenMax = midMax;
  greenShift = (uint8_t)d[2];
  if (isRgb) {
    redMax = topMax;
    redShift = (uint8_t)(d[1] + d[2]);
    blueMax = lowMax;
    blueShift = 0;
  } else {
    blueMax = topMax;
    blueShift = (uint8_t)(d[1] + d[2]);
    redMax = lowMax;
    redShift = 0;
  }
  return true;
}

void PixelFormat::read(rdr::InStream& in)
{
  bpp = in.readU8();
  depth = in.readU8();
  bigEndian = in.readU8() != 0;
  trueColour = in.readU8() != 0;
  redMax = in.readU16();
  greenMax = in.readU16();
  blueMax = in.readU16();
  redShift = in.readU8();
  greenShift = in.readU8();
  blueShift = in.readU8();
  alphaShift = in.readU8();
  alphaMax = in.readU16();

  // A peer that sends no alpha may leave junk in its fields.
  if (bitCount(redMax) + bitCount(greenMax) + bitCount(blueMax) + bitCount(alphaMax) != depth) {
    alphaMax = 0;
    alphaShift = 0;
  } else if (!alphaMax) {
    alphaShift = 0;
  }
}

void PixelFormat::write(rdr::OutStream& out) const
{
  out.writeU8(bpp);
  out.writeU8(depth);
  out.writeU8(bigEndian ? 1 : 0);
  out.writeU8(trueColour ? 1 : 0);
  out.writeU16(redMax);
  out.writeU16(greenMax);
  out.writeU16(blueMax);
  out.writeU8(redShift);
  out.writeU8(greenShift);
  out.writeU8(blueShift);
  out.writeU8(alphaShift);
  out.writeU16(alphaMax);
}

// --- Constant formats ---------------------------------------------------------

const PixelFormat& xrgb8888Format()
{
  static const PixelFormat f(32, 24, false, true, 255, 255, 255, 16, 8, 0, 0, 0);
  return f;
}

const PixelFormat& rgb888Format()
{
  static const PixelFormat f(32, 24, false, true, 255, 255, 255, 0, 8, 16, 0, 0);
  return f;
}

const PixelFormat& argb8888Format()
{
  static const PixelFormat f(32, 32, false, true, 255, 255, 255, 16, 8, 0, 24, 255);
  return f;
}

const PixelFormat& abgr8888Format()
{
  static const PixelFormat f(32, 32, false, true, 255, 255, 255, 0, 8, 16, 24, 255);
  return f;
}

const PixelFormat& rgb565Format()
{
  static const PixelFormat f(16, 16, false, true, 31, 63, 31, 11, 5, 0, 0, 0);
  return f;
}

const PixelFormat& rgb555Format()
{
  static const PixelFormat f(16, 15, false, true, 31, 31, 31, 10, 5, 0, 0, 0);
  return f;
}

const PixelFormat& rgb222Format()
{
  static const PixelFormat f(8, 6, false, true, 3, 3, 3, 4, 2, 0, 0, 0);
  return f;
}

const PixelFormat& rgb111Format()
{
  static const PixelFormat f(8, 3, false, true, 1, 1, 1, 2, 1, 0, 0, 0);
  return f;
}

const PixelFormat& pal8Format()
{
  static const PixelFormat f(8, 8, false, false, 0, 0, 0, 0, 0, 0, 0, 0);
  return f;
}

} // namespace rfb
