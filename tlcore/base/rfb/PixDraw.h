// Drawing into pixel buffers: fills, outlines, lines, rounded rectangles,
// one-bit bitmaps, alpha masks, gradients, row copies, rotation, scrolling
// and compositing with a blend function.
//
// Every function works in the destination's own format, clips its area to
// the destination's rect (doing nothing when that is empty), asks for the
// pixel memory once and never writes outside the rect. Strides count
// pixels (bytes for bit masks); a stride of 0 means the width of the
// rectangle given. Colours are red, green, blue (and alpha) of 0 to 255.
#pragma once

#include <stdint.h>

#include "rfb/PixBuffer.h"

namespace rfb {

class Region;

// --- Colour conversions ----------------------------------------------------------
// A colour-mapped pixel outside its map (or without one) reads as entry 0
// (black without a map).
void rgbaFromPixel(const PixelFormat& pf, Pixel pixel, int rgba[4], ColourMap* cm);
// As PixelFormat::pixelFromRGB, plus alpha at alphaShift. Channels are
// taken as 0..255 (values outside are clamped).
Pixel pixelFromRGBA(const PixelFormat& pf, const int rgba[4], ColourMap* cm);

// --- Blend functions: dst = src combined with dst ---------------------------
using BlendFunc = void (*)(const int src[4], int dst[4]);
// src + dst x (255 - src.a) / 255, the source premultiplied.
void blendOver(const int src[4], int dst[4]);
void blendCopy(const int src[4], int dst[4]);
void blendGreyCopy(const int src[4], int dst[4]);
void blendGreyOver(const int src[4], int dst[4]);
void premultiply(const int src[4], int dst[4]);
void unpremultiply(const int src[4], int dst[4]);
void blendHalfOver(const int src[4], int dst[4]);

// --- Fills and outlines ------------------------------------------------------------
// bytesPerPixel outside 1..4 writes nothing.
void fillRow(uint8_t* dst, Pixel p, int count, int bytesPerPixel);
void fillRect(WritablePixelBuffer& buf, const Rect& r, Pixel p);
// Four bands inside r, each clipped to the buffer but not to r.
void drawRectBorder(WritablePixelBuffer& buf, const Rect& r, Pixel p, int width);
// Leaves out the end point; from == to draws nothing.
void drawLine(WritablePixelBuffer& buf, const Point& from, const Point& to, Pixel p);
void drawRoundedRect(WritablePixelBuffer& buf, const Rect& r, int radius, Pixel p);
void xorRect(WritablePixelBuffer& buf, const Rect& r, Pixel value);
void fillVerticalGradient(WritablePixelBuffer& buf, const Rect& r, const int top[3], const int bottom[3]);

// --- Copies --------------------------------------------------------------------------
void copyRows(const uint8_t* src, uint8_t* dst, const Point& size, int bytesPerPixel, int srcStride, int dstStride);
// pixels hold r's image in the buffer's format; the part inside the buffer
// lands at the same coordinates.
void copyPixelsToRect(WritablePixelBuffer& buf, const Rect& r, const uint8_t* pixels, int stride);
// Each box of region (destination coordinates) in tiles of at most maxTile,
// read from src at tile + offset. maxTile must be positive on both axes.
void copyRegion(PixelBuffer* src, const Point& offset, WritablePixelBuffer& dst, const Region& region,
                const Point& maxTile);
// Turns the source clockwise by quarterTurns x 90 degrees into a
// destination of dstSize. srcStride 0 is the source's width.
void copyRotated(const uint8_t* src, uint8_t* dst, const Point& dstSize, int bytesPerPixel, int srcStride,
                 int dstStride, int quarterTurns);
// Pixel (x, y) of r gets the old pixel (x - delta.x, y - delta.y).
void scrollRect(WritablePixelBuffer& buf, const Rect& r, const Point& delta);
void scrollRegion(WritablePixelBuffer& buf, const Region& region, const Point& delta);

// --- Masks ---------------------------------------------------------------------------
// Bit n of a row is bit 7 - n % 8 of byte n / 8; pixel x uses bit
// bitOffset + (x - r.x1). A stride of 0 is (r's width + 7) / 8 bytes.
void drawBitmap(WritablePixelBuffer& buf, const Rect& r, Pixel p, const uint8_t* bits, int stride, int bitOffset);
void copyPixelsMasked(WritablePixelBuffer& buf, const Rect& r, const uint8_t* pixels, const uint8_t* mask,
                      int pixelStride, int maskStride, int bitOffset);
// The colour (premultiplied) through an 8-bit coverage mask.
void fillAlphaMask(WritablePixelBuffer& buf, const Rect& r, const int rgba[4], const uint8_t* alpha,
                   int alphaStride);

// --- Compositing -----------------------------------------------------------------------
// src's point srcOrigin lands on dstRect's top-left.
void blendImage(PixelBuffer& src, const Point& srcOrigin, WritablePixelBuffer& dst, const Rect& dstRect,
                BlendFunc blend = blendOver);

#ifdef TL_TEST_HOOKS
// Makes the hand-specialised paths (the xrgb8888 mask routines, OVER of
// 32-bit pixels with 8-bit channels, the four-at-a-time rearrangements of
// translation) step aside for the templates they must equal.
void setGenericPathsForTest(bool generic);
#endif

} // namespace rfb
