// How one pixel value is laid out in memory: its size and byte order, and
// either the position and width of its red, green, blue and alpha fields
// (true colour) or an index into a colour map. A plain 16-byte value, copied
// by value; the constant formats below are built on first use and never
// change afterwards.
#pragma once

#include <stdint.h>

#include "rdr/Forward.h"

namespace rfb {

class ColourMap;

using Pixel = uint32_t;

struct PixelFormat {
  uint8_t bpp = 8;
  uint8_t depth = 8;
  bool bigEndian = false;
  bool trueColour = true;
  uint16_t redMax = 7;
  uint16_t greenMax = 7;
  uint16_t blueMax = 3;
  uint16_t alphaMax = 0;
  uint8_t redShift = 0;
  uint8_t greenShift = 3;
  uint8_t blueShift = 6;
  uint8_t alphaShift = 0;

  // Room for the printed form.
  static constexpr int kPrintSize = 128;

  PixelFormat() = default;
  PixelFormat(int bpp, int depth, bool bigEndian, bool trueColour, int redMax, int greenMax, int blueMax,
              int redShift, int greenShift, int blueShift, int alphaShift, int alphaMax);

  // --- Checks and comparisons -------------------------------------------------
  // Counts the set bits of each maximum (not its top bit).
  bool isValid() const;
  // Byte order does not matter at 8 bpp; colour-map formats ignore their
  // channel fields.
  bool equal(const PixelFormat& other) const;
  bool isByteAligned() const;
  // Stored in host (little-endian) order: 8 bits, or not big-endian.
  bool isNativeEndian() const { return bpp == 8 || !bigEndian; }

  // --- Changes -------------------------------------------------------------------
  // depth from the union of the channel fields (true colour only).
  void updateDepth();
  // The little-endian format for the same bytes in memory; false (and no
  // change) when the channels are not byte-aligned.
  bool makeLittleEndian();

  // --- Pixels ----------------------------------------------------------------------
  // Alpha is never set; a colour-map format asks cm (0 without one).
  Pixel pixelFromRGB(const int rgb[3], ColourMap* cm) const;

  // --- Text ------------------------------------------------------------------------
  // Appends the text form to the text already in buf, cut on a character
  // boundary.
  void print(char (&buf)[kPrintSize]) const;
  // From a short name ("rgb565", "BGR888", "pal8"). May change trueColour
  // of a text it then rejects.
  bool parse(const char* text);

  // --- Stream form (16 bytes) --------------------------------------------------------
  // Checks only alpha against the depth.
  void read(rdr::InStream& in);
  void write(rdr::OutStream& out) const;
};
static_assert(sizeof(PixelFormat) == 16, "a pixel format is a 16-byte value");

const PixelFormat& xrgb8888Format();
const PixelFormat& rgb888Format();
const PixelFormat& argb8888Format();
const PixelFormat& abgr8888Format();
const PixelFormat& rgb565Format();
const PixelFormat& rgb555Format();
const PixelFormat& rgb222Format();
const PixelFormat& rgb111Format();
const PixelFormat& pal8Format();

} // namespace rfb
