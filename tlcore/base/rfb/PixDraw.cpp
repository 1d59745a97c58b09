#include "rfb/PixDraw.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "plat/Exception.h"
#include "rfb/PixMemory.h"
#include "rfb/Region.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace rfb {

namespace pixmem {
bool genericPaths = false;
}

#ifdef TL_TEST_HOOKS
void setGenericPathsForTest(bool generic)
{
  pixmem::genericPaths = generic;
}
#endif

namespace {

inline int div255(int x) { return (x + 127) / 255; }
inline int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

using pixmem::swapBytes;

inline int scaleUp(int c, int max) { return max ? (c * 255 + max / 2) / max : 0; }
inline int scaleDown(int c, int max) { return (c * max + 127) / 255; }

// One format's way between pixels and RGBA, prepared once per call. A
// channel without bits may sit at shift 32 (isValid allows it): its shift
// is taken as 0, which reads and writes nothing all the same.
struct Codec {
  explicit Codec(const PixelFormat& f, ColourMap* map) : pf(f), cm(map)
  {
    swap = pf.bigEndian && (pf.bpp == 16 || pf.bpp == 32);
    all255 = pf.redMax == 255 && pf.greenMax == 255 && pf.blueMax == 255;
    const int maxima[4] = {pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax};
    const int shifts[4] = {pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift};
    for (int c = 0; c < 4; c++) {
      max[c] = (uint32_t)maxima[c];
      shift[c] = maxima[c] ? shifts[c] : 0;
    }
  }

  void toRGBA(uint32_t p, int rgba[4]) const
  {
    if (swap)
      p = swapBytes(p, pf.bpp);
    if (!pf.trueColour) {
      int n = cm ? cm->size() : 0;
      if (n < 1) {
        rgba[0] = rgba[1] = rgba[2] = 0;
      } else {
        cm->getColour(p < (uint32_t)n ? (int)p : 0, rgba);
      }
      rgba[3] = 255;
      return;
    }
    for (int c = 0; c < 3; c++) {
      int v = (int)((p >> shift[c]) & max[c]);
      rgba[c] = all255 ? v : scaleUp(v, (int)max[c]);
    }
    int a = (int)((p >> shift[3]) & max[3]);
    rgba[3] = max[3] == 0 ? 255 : max[3] == 255 ? a : scaleUp(a, (int)max[3]);
  }

  uint32_t fromRGBA(const int in[4]) const
  {
    int c[3] = {clamp255(in[0]), clamp255(in[1]), clamp255(in[2])};
    int a = clamp255(in[3]);
    uint32_t p;
    if (!pf.trueColour) {
      p = cm ? (uint32_t)cm->lookup(c) : 0;
    } else {
      p = 0;
      for (int k = 0; k < 3; k++)
        p |= (uint32_t)(all255 ? c[k] : scaleDown(c[k], (int)max[k])) << shift[k];
      if (max[3])
        p |= (uint32_t)(max[3] == 255 ? a : scaleDown(a, (int)max[3])) << shift[3];
    }
    return swap ? swapBytes(p, pf.bpp) : p;
  }

  const PixelFormat& pf;
  ColourMap* cm;
  bool swap;
  bool all255;
  uint32_t max[4];
  int shift[4];
};

bool knownSize(int bpp) { return bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

// The destination's clipped area and its memory, asked for once; false
// when there is nothing to draw (an empty area or a pixel size that no
// routine handles).
struct Target {
  Target(WritablePixelBuffer& buf, const Rect& r) : clip(clipRect(r, buf.rect)), bytes(buf.bytesPerPixel())
  {
    if (!clip.isEmpty() && knownSize(buf.format.bpp))
      data = buf.getPixelsRW(clip, &stride);
  }
  explicit operator bool() const { return data != nullptr; }
  // Pixel (x, y) in buffer coordinates.
  uint8_t* at(int x, int y) const
  {
    return data + pixmem::offset(x - clip.topLeft.x, y - clip.topLeft.y, stride, bytes);
  }

  Rect clip;
  int bytes;
  uint8_t* data = nullptr;
  int stride = 0;
};

inline bool bitSet(const uint8_t* row, int n) { return (row[n / 8] >> (7 - n % 8)) & 1; }

} // namespace

void rgbaFromPixel(const PixelFormat& pf, Pixel pixel, int rgba[4], ColourMap* cm)
{
  Codec(pf, cm).toRGBA(pixel, rgba);
}

Pixel pixelFromRGBA(const PixelFormat& pf, const int rgba[4], ColourMap* cm)
{
  return Codec(pf, cm).fromRGBA(rgba);
}

// --- Blend functions ------------------------------------------------------------------

void blendOver(const int src[4], int dst[4])
{
  int k = 255 - src[3];
  for (int i = 0; i < 4; i++)
    dst[i] = src[i] + div255(dst[i] * k);
}

void blendCopy(const int src[4], int dst[4])
{
  memcpy(dst, src, 4 * sizeof(int));
}

namespace {
inline int greyOf(const int c[4]) { return (19661 * c[0] + 38666 * c[1] + 7209 * c[2]) >> 16; }
} // namespace

void blendGreyCopy(const int src[4], int dst[4])
{
  int g = greyOf(src);
  dst[0] = dst[1] = dst[2] = g;
  dst[3] = src[3];
}

void blendGreyOver(const int src[4], int dst[4])
{
  int g = greyOf(src);
  int grey[4] = {g, g, g, src[3]};
  blendOver(grey, dst);
}

void premultiply(const int src[4], int dst[4])
{
  for (int i = 0; i < 3; i++)
    dst[i] = div255(src[i] * src[3]);
  dst[3] = src[3];
}

void unpremultiply(const int src[4], int dst[4])
{
  int a = src[3];
  for (int i = 0; i < 3; i++)
    dst[i] = a ? (src[i] * 255 + a / 2) / a : 0;
  dst[3] = a;
}

void blendHalfOver(const int src[4], int dst[4])
{
  int half[4];
  for (int i = 0; i < 4; i++)
    half[i] = div255(src[i] * 127);
  blendOver(half, dst);
}

// --- Fills and outlines ---------------------------------------------------------------

void fillRow(uint8_t* dst, Pixel p, int count, int bytesPerPixel)
{
  if (count <= 0 || bytesPerPixel < 1 || bytesPerPixel > 4)
    return;
  const size_t total = (size_t)count * bytesPerPixel;
  // A pixel whose bytes are all alike (8 bits always) is a byte fill.
  const uint32_t mask = bytesPerPixel == 4 ? 0xffffffffu : (1u << 8 * bytesPerPixel) - 1;
  if ((p & mask) == ((p & 0xff) * 0x01010101u & mask)) {
    memset(dst, (int)(p & 0xff), total);
    return;
  }
  // One pixel, then copies of what is already there, doubling.
  pixmem::storeAny(dst, p, bytesPerPixel);
  size_t done = bytesPerPixel;
  while (done < total) {
    size_t n = std::min(done, total - done);
    memcpy(dst + done, dst, n);
    done += n;
  }
}

void fillRect(WritablePixelBuffer& buf, const Rect& r, Pixel p)
{
  Target t(buf, r);
  if (!t)
    return;
  fillRow(t.data, p, t.clip.width(), t.bytes);
  // Later rows copy the first.
  for (int y = t.clip.topLeft.y + 1; y < t.clip.bottomRight.y; y++)
    memcpy(t.at(t.clip.topLeft.x, y), t.data, (size_t)t.clip.width() * t.bytes);
}

void drawRectBorder(WritablePixelBuffer& buf, const Rect& r, Pixel p, int width)
{
  if (width <= 0)
    return;
  const Point& tl = r.topLeft;
  const Point& br = r.bottomRight;
  fillRect(buf, Rect(tl.x, tl.y, br.x, tl.y + width), p);
  fillRect(buf, Rect(tl.x, tl.y, tl.x + width, br.y), p);
  fillRect(buf, Rect(tl.x, br.y - width, br.x, br.y), p);
  fillRect(buf, Rect(br.x - width, tl.y, br.x, br.y), p);
}

namespace {

// Plots single points inside a clipped area of a buffer.
class Plotter {
public:
  Plotter(WritablePixelBuffer& buf, const Rect& r) : t_(buf, r) {}
  bool ok() const { return bool(t_); }
  void plot(int x, int y, Pixel p)
  {
    if (t_.clip.contains(Point(x, y)))
      pixmem::storeAny(t_.at(x, y), p, t_.bytes);
  }

private:
  Target t_;
};

} // namespace

void drawLine(WritablePixelBuffer& buf, const Point& from, const Point& to, Pixel p)
{
  Rect box(std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x) + 1, std::max(from.y, to.y) + 1);
  Plotter plot(buf, box);
  if (!plot.ok())
    return;
  int dx = abs(to.x - from.x), dy = abs(to.y - from.y);
  int sx = to.x > from.x ? 1 : -1, sy = to.y > from.y ? 1 : -1;
  int n = std::max(dx, dy);
  bool xMajor = dx >= dy;
  int major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  int err = 2 * minor - major;
  int x = from.x, y = from.y;
  for (int i = 0; i < n; i++) {
    plot.plot(x, y, p);
    if (err < 0) {
      err += 2 * minor;
      if (xMajor)
        x += sx;
      else
        y += sy;
    } else {
      err += 2 * (minor - major);
      x += sx;
      y += sy;
    }
  }
}

void drawRoundedRect(WritablePixelBuffer& buf, const Rect& rect, int radius, Pixel p)
{
  if (clipRect(rect, buf.rect).isEmpty())
    return;
  int x1 = rect.topLeft.x, y1 = rect.topLeft.y, x2 = rect.bottomRight.x, y2 = rect.bottomRight.y;
  int r = std::max(0, std::min({radius, rect.width() / 2, rect.height() / 2}));
  int e = r >= 2 ? 1 : 0;
  drawLine(buf, Point(x1 + r, y1), Point(x2 - 1 - r + e, y1), p);
  drawLine(buf, Point(x2 - 1, y1 + r), Point(x2 - 1, y2 - 1 - r + e), p);
  drawLine(buf, Point(x2 - 1 - r, y2 - 1), Point(x1 + r - e, y2 - 1), p);
  drawLine(buf, Point(x1, y2 - 1 - r), Point(x1, y1 + r - e), p);
  if (r < 2)
    return;
  Plotter plot(buf, rect);
  if (!plot.ok())
    return;
  int L = x1 + r, R = x2 - 1 - r, T = y1 + r, B = y2 - 1 - r;
  int j = r, d = 1 - r, i = 0;
  for (;;) {
    bool moved = false;
    if (d >= 0) {
      j--;
      moved = true;
    }
    int k = i + 1;
    const Point pts[8] = {{L - k, T - j}, {L - j, T - k}, {R + j, T - k}, {R + k, T - j},
                          {R + j, B + k}, {R + k, B + j}, {L - j, B + k}, {L - k, B + j}};
    for (const Point& q : pts)
      plot.plot(q.x, q.y, p);
    d += 2 * i + 3 - (moved ? 2 * j : 0);
    i++;
    if (i >= j)
      break;
  }
}

void xorRect(WritablePixelBuffer& buf, const Rect& r, Pixel value)
{
  Target t(buf, r);
  if (!t)
    return;
  for (int y = t.clip.topLeft.y; y < t.clip.bottomRight.y; y++)
    for (int x = t.clip.topLeft.x; x < t.clip.bottomRight.x; x++)
      pixmem::storeAny(t.at(x, y), pixmem::loadAny(t.at(x, y), t.bytes) ^ value, t.bytes);
}

void fillVerticalGradient(WritablePixelBuffer& buf, const Rect& r, const int top[3], const int bottom[3])
{
  Target dst(buf, r);
  if (!dst)
    return;
  int d = r.height() - 1;
  for (int y = dst.clip.topLeft.y; y < dst.clip.bottomRight.y; y++) {
    int t = y - r.topLeft.y;
    int rgb[3];
    for (int k = 0; k < 3; k++)
      rgb[k] = d ? top[k] + (int)(((int64_t)(bottom[k] - top[k]) * t + d / 2) / d) : top[k];
    fillRow(dst.at(dst.clip.topLeft.x, y), buf.format.pixelFromRGB(rgb, buf.colourMap), dst.clip.width(), dst.bytes);
  }
}

// --- Copies -----------------------------------------------------------------------------

namespace {

// A row whose destination starts less than 256 bytes after its source,
// modulo 4 KiB, makes the library's vector copy wait on stores that only
// look as if they fed its loads (page-aligned buffers of one stride do that
// on every row); a plain in-order loop does not. Overlapping rows keep
// memmove.
void copyRow(uint8_t* dst, const uint8_t* src, size_t n)
{
#ifdef __SSE2__
  if ((((uintptr_t)dst - (uintptr_t)src) & 4095) < 256 &&
      ((uintptr_t)dst >= (uintptr_t)src + n || (uintptr_t)src >= (uintptr_t)dst + n)) {
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
      __m128i a = _mm_loadu_si128((const __m128i*)(src + i));
      __m128i b = _mm_loadu_si128((const __m128i*)(src + i + 16));
      __m128i c = _mm_loadu_si128((const __m128i*)(src + i + 32));
      __m128i d = _mm_loadu_si128((const __m128i*)(src + i + 48));
      _mm_storeu_si128((__m128i*)(dst + i), a);
      _mm_storeu_si128((__m128i*)(dst + i + 16), b);
      _mm_storeu_si128((__m128i*)(dst + i + 32), c);
      _mm_storeu_si128((__m128i*)(dst + i + 48), d);
    }
    memcpy(dst + i, src + i, n - i);
    return;
  }
#endif
  memmove(dst, src, n);
}

} // namespace

void copyRows(const uint8_t* src, uint8_t* dst, const Point& size, int bytesPerPixel, int srcStride, int dstStride)
{
  if (size.x <= 0 || size.y <= 0)
    return;
  if (!srcStride)
    srcStride = size.x;
  if (!dstStride)
    dstStride = size.x;
  size_t rowBytes = (size_t)size.x * bytesPerPixel;
  if (srcStride == size.x && dstStride == size.x) {
    memmove(dst, src, rowBytes * size.y);
    return;
  }
  for (int y = 0; y < size.y; y++)
    copyRow(dst + pixmem::offset(0, y, dstStride, bytesPerPixel),
            src + pixmem::offset(0, y, srcStride, bytesPerPixel), rowBytes);
}

void copyPixelsToRect(WritablePixelBuffer& buf, const Rect& r, const uint8_t* pixels, int stride)
{
  Target t(buf, r);
  if (!t)
    return;
  if (!stride)
    stride = r.width();
  const Rect& c = t.clip;
  const uint8_t* s = pixels + pixmem::offset(c.topLeft.x - r.topLeft.x, c.topLeft.y - r.topLeft.y, stride, t.bytes);
  copyRows(s, t.data, Point(c.width(), c.height()), t.bytes, stride, t.stride);
}

void copyRegion(PixelBuffer* src, const Point& offset, WritablePixelBuffer& dst, const Region& region,
                const Point& maxTile)
{
  PLAT_ASSERT(maxTile.x > 0 && maxTile.y > 0);
  for (const Rect& box : region.rects()) {
    for (int y = box.topLeft.y; y < box.bottomRight.y; y += std::min(maxTile.y, box.bottomRight.y - y)) {
      for (int x = box.topLeft.x; x < box.bottomRight.x; x += std::min(maxTile.x, box.bottomRight.x - x)) {
        Rect tile(x, y, std::min(x + maxTile.x, box.bottomRight.x), std::min(y + maxTile.y, box.bottomRight.y));
        int stride = 0;
        const uint8_t* pixels = src->getPixelsR(tile.translate(offset), &stride);
        copyPixelsToRect(dst, tile, pixels, stride);
      }
    }
  }
}

namespace {

template <int Bytes>
void rotate(const uint8_t* src, uint8_t* dst, int w, int h, int srcStride, int dstStride, int q)
{
  for (int r = 0; r < h; r++) {
    uint8_t* row = dst + pixmem::offset(0, r, dstStride, Bytes);
    // From the row's last pixel backwards.
    for (int c = w - 1; c >= 0; c--) {
      int i, j;
      if (q == 1) {
        i = r;
        j = w - 1 - c;
      } else if (q == 2) {
        i = w - 1 - c;
        j = h - 1 - r;
      } else {
        i = h - 1 - r;
        j = c;
      }
      memcpy(row + c * Bytes, src + pixmem::offset(i, j, srcStride, Bytes), Bytes);
    }
  }
}

} // namespace

void copyRotated(const uint8_t* src, uint8_t* dst, const Point& dstSize, int bytesPerPixel, int srcStride,
                 int dstStride, int quarterTurns)
{
  int q = ((quarterTurns % 4) + 4) % 4;
  if (q == 0) {
    copyRows(src, dst, dstSize, bytesPerPixel, srcStride, dstStride);
    return;
  }
  int w = dstSize.x, h = dstSize.y;
  if (w <= 0 || h <= 0)
    return;
  if (!srcStride)
    srcStride = q == 2 ? w : h;
  if (!dstStride)
    dstStride = w;
  switch (bytesPerPixel) {
  case 1: rotate<1>(src, dst, w, h, srcStride, dstStride, q); break;
  case 2: rotate<2>(src, dst, w, h, srcStride, dstStride, q); break;
  case 3: rotate<3>(src, dst, w, h, srcStride, dstStride, q); break;
  case 4: rotate<4>(src, dst, w, h, srcStride, dstStride, q); break;
  default: break;
  }
}

void scrollRect(WritablePixelBuffer& buf, const Rect& r, const Point& delta)
{
  Rect to = clipRect(clipRect(r, buf.rect), buf.rect.translate(delta));
  if (to.isEmpty())
    return;
  Rect from = to.translate(delta.negate());
  Rect both = to.unionBoundary(from);
  int stride;
  uint8_t* base = buf.getPixelsRW(both, &stride);
  int bytes = buf.bytesPerPixel();
  auto at = [&](const Point& p) {
    return base + pixmem::offset(p.x - both.topLeft.x, p.y - both.topLeft.y, stride, bytes);
  };
  size_t rowBytes = (size_t)to.width() * bytes;
  int h = to.height();
  for (int k = 0; k < h; k++) {
    int y = delta.y > 0 ? h - 1 - k : k;
    memmove(at(Point(to.topLeft.x, to.topLeft.y + y)), at(Point(from.topLeft.x, from.topLeft.y + y)), rowBytes);
  }
}

void scrollRegion(WritablePixelBuffer& buf, const Region& region, const Point& delta)
{
  std::vector<Rect> boxes = region.rects();
  // Bands keep their boxes together; visit bands and boxes so that no
  // source pixel is overwritten before it is read.
  size_t start = 0;
  std::vector<std::pair<size_t, size_t>> bands;
  while (start < boxes.size()) {
    size_t end = start + 1;
    while (end < boxes.size() && boxes[end].topLeft.y == boxes[start].topLeft.y)
      end++;
    bands.emplace_back(start, end);
    start = end;
  }
  if (delta.y > 0)
    std::reverse(bands.begin(), bands.end());
  for (const auto& band : bands) {
    for (size_t k = band.first; k < band.second; k++) {
      size_t i = delta.x > 0 ? band.second - 1 - (k - band.first) : k;
      scrollRect(buf, boxes[i], delta);
    }
  }
}

// --- Masks --------------------------------------------------------------------------------

namespace {

// Calls fn(x, y, pixel address) for each pixel of r's clipped area whose
// mask bit is set.
template <typename Fn>
void forSetBits(WritablePixelBuffer& buf, const Rect& r, const uint8_t* mask, int stride, int bitOffset, Fn fn)
{
  Target t(buf, r);
  if (!t)
    return;
  if (!stride)
    stride = (r.width() + 7) / 8;
  for (int y = t.clip.topLeft.y; y < t.clip.bottomRight.y; y++) {
    const uint8_t* row = mask + (ptrdiff_t)(y - r.topLeft.y) * stride;
    for (int x = t.clip.topLeft.x; x < t.clip.bottomRight.x; x++)
      if (bitSet(row, bitOffset + (x - r.topLeft.x)))
        fn(x, y, t.at(x, y), t.bytes);
  }
}

} // namespace

void drawBitmap(WritablePixelBuffer& buf, const Rect& r, Pixel p, const uint8_t* bits, int stride, int bitOffset)
{
  forSetBits(buf, r, bits, stride, bitOffset,
             [p](int, int, uint8_t* at, int bytes) { pixmem::storeAny(at, p, bytes); });
}

void copyPixelsMasked(WritablePixelBuffer& buf, const Rect& r, const uint8_t* pixels, const uint8_t* mask,
                      int pixelStride, int maskStride, int bitOffset)
{
  if (!pixelStride)
    pixelStride = r.width();
  forSetBits(buf, r, mask, maskStride, bitOffset, [&](int x, int y, uint8_t* at, int bytes) {
    memcpy(at, pixels + pixmem::offset(x - r.topLeft.x, y - r.topLeft.y, pixelStride, bytes), bytes);
  });
}

namespace {

struct MaskJob {
  uint8_t* dst;
  int dstStride;
  const uint8_t* alpha;
  int alphaStride;
  int w, h;
  const int* rgba;
};

template <int Bytes>
void maskRoutine(const MaskJob& j, const Codec& codec)
{
  const int a = j.rgba[3];
  for (int y = 0; y < j.h; y++) {
    uint8_t* row = j.dst + pixmem::offset(0, y, j.dstStride, Bytes);
    const uint8_t* m = j.alpha + (ptrdiff_t)y * j.alphaStride;
    for (int x = 0; x < j.w; x++) {
      int mv = m[x];
      int d[4];
      codec.toRGBA(pixmem::load<Bytes>(row + x * Bytes), d);
      int k = 255 - div255(mv * a);
      int out[4];
      for (int c = 0; c < 3; c++)
        out[c] = div255(mv * j.rgba[c] + k * d[c]);
      out[3] = div255(mv * a + k * d[3]);
      pixmem::store<Bytes>(row + x * Bytes, codec.fromRGBA(out));
    }
  }
}

// xrgb8888: channels straight from the bytes, alpha dropped.
template <bool Opaque>
void maskXrgb(const MaskJob& j)
{
  const int a = Opaque ? 255 : j.rgba[3];
  const int r = clamp255(j.rgba[0]), g = clamp255(j.rgba[1]), b = clamp255(j.rgba[2]);
  for (int y = 0; y < j.h; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(j.dst + pixmem::offset(0, y, j.dstStride, 4));
    const uint8_t* m = j.alpha + (ptrdiff_t)y * j.alphaStride;
    for (int x = 0; x < j.w; x++) {
      int mv = m[x];
      uint32_t p;
      memcpy(&p, row + x, 4);
      int k = Opaque ? 255 - mv : 255 - div255(mv * a);
      int nr = div255(mv * r + k * (int)((p >> 16) & 255));
      int ng = div255(mv * g + k * (int)((p >> 8) & 255));
      int nb = div255(mv * b + k * (int)(p & 255));
      p = (uint32_t)std::min(nr, 255) << 16 | (uint32_t)std::min(ng, 255) << 8 | (uint32_t)std::min(nb, 255);
      memcpy(row + x, &p, 4);
    }
  }
}

bool isXrgb8888(const PixelFormat& pf)
{
  const PixelFormat& x = xrgb8888Format();
  return pf.equal(x) && pf.alphaMax == 0;
}

} // namespace

void fillAlphaMask(WritablePixelBuffer& buf, const Rect& r, const int rgba[4], const uint8_t* alpha, int alphaStride)
{
  Target t(buf, r);
  if (!t)
    return;
  if (!alphaStride)
    alphaStride = r.width();
  const Rect& c = t.clip;
  MaskJob job{t.data, t.stride,
              alpha + pixmem::offset(c.topLeft.x - r.topLeft.x, c.topLeft.y - r.topLeft.y, alphaStride, 1), alphaStride,
              c.width(), c.height(), rgba};
  if (isXrgb8888(buf.format) && !pixmem::genericPaths) {
    if (rgba[3] == 255)
      maskXrgb<true>(job);
    else
      maskXrgb<false>(job);
    return;
  }
  Codec codec(buf.format, buf.getColourMap());
  switch (buf.format.bpp) {
  case 8: maskRoutine<1>(job, codec); break;
  case 16: maskRoutine<2>(job, codec); break;
  case 24: maskRoutine<3>(job, codec); break;
  default: maskRoutine<4>(job, codec); break;
  }
}

// --- Compositing -------------------------------------------------------------------------

namespace {

struct BlendJob {
  const uint8_t* src;
  int srcStride;
  uint8_t* dst;
  int dstStride;
  int w, h;
};

struct RuntimeBlend {
  BlendFunc f;
  void operator()(const int s[4], int d[4]) const { f(s, d); }
};
struct InlineOver {
  void operator()(const int s[4], int d[4]) const
  {
    int k = 255 - s[3];
    d[0] = s[0] + div255(d[0] * k);
    d[1] = s[1] + div255(d[1] * k);
    d[2] = s[2] + div255(d[2] * k);
    d[3] = s[3] + div255(d[3] * k);
  }
};

template <int DB, int SB, typename Blend>
void blendRoutine(const BlendJob& j, const Codec& sc, const Codec& dc, Blend blend)
{
  for (int y = 0; y < j.h; y++) {
    const uint8_t* s = j.src + pixmem::offset(0, y, j.srcStride, SB);
    uint8_t* d = j.dst + pixmem::offset(0, y, j.dstStride, DB);
    for (int x = 0; x < j.w; x++) {
      int sp[4], dp[4];
      sc.toRGBA(pixmem::load<SB>(s + x * SB), sp);
      dc.toRGBA(pixmem::load<DB>(d + x * DB), dp);
      blend(sp, dp);
      pixmem::store<DB>(d + x * DB, dc.fromRGBA(dp));
    }
  }
}

// OVER of 32-bit pixels with 8-bit channels at the same bytes in both
// formats and alpha in the remaining byte: two channels at a time in the
// halves of a word, with the template's rounding and saturation.
bool overFastApplies(const PixelFormat& s, const PixelFormat& d)
{
  auto plain = [](const PixelFormat& f) {
    return f.trueColour && f.bpp == 32 && !f.bigEndian && f.isByteAligned() && f.redMax == 255 &&
           f.greenMax == 255 && f.blueMax == 255;
  };
  if (!plain(s) || !plain(d) || s.alphaMax != 255 || (d.alphaMax != 0 && d.alphaMax != 255))
    return false;
  if (s.redShift != d.redShift || s.greenShift != d.greenShift || s.blueShift != d.blueShift)
    return false;
  int used = (1 << s.redShift / 8) | (1 << s.greenShift / 8) | (1 << s.blueShift / 8);
  return used != 15 && !(used & (1 << s.alphaShift / 8)) && (!d.alphaMax || d.alphaShift == s.alphaShift);
}

inline uint32_t mulLanes(uint32_t x, uint32_t k)
{
  uint32_t t = (x & 0x00ff00ffu) * k + 0x00800080u;
  return ((t >> 8 & 0x00ff00ffu) + t) >> 8 & 0x00ff00ffu;
}

inline uint32_t addLanesSaturated(uint32_t a, uint32_t b)
{
  uint32_t t = a + b;
  t |= 0x01000100u - (t >> 8 & 0x00010001u);
  return t & 0x00ff00ffu;
}

// Scalar form of one pixel; keep holds the bits the destination writes.
inline uint32_t overPixel(uint32_t sp, uint32_t dp, int as, uint32_t opaque, uint32_t keep)
{
  dp |= opaque;
  uint32_t k = 255 - (sp >> as & 0xff);
  uint32_t lo = addLanesSaturated(sp & 0x00ff00ffu, mulLanes(dp, k));
  uint32_t hi = addLanesSaturated(sp >> 8 & 0x00ff00ffu, mulLanes(dp >> 8, k));
  return (lo | hi << 8) & keep;
}

#ifdef __SSE2__
// Four pixels at a time in 16-bit lanes; AlphaByte is the alpha's byte.
template <int AlphaByte>
void overRowSse2(const uint8_t* s, uint8_t* d, int w, uint32_t opaque, uint32_t keep)
{
  const __m128i zero = _mm_setzero_si128(), ff = _mm_set1_epi16(0xff), half = _mm_set1_epi16(0x80);
  const __m128i opaqueV = _mm_set1_epi32((int)opaque), keepV = _mm_set1_epi32((int)keep);
  auto mul = [&](__m128i dv, __m128i sv) {
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sv, AlphaByte * 0x55), AlphaByte * 0x55);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(dv, _mm_sub_epi16(ff, a)), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
    __m128i dv = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x)), opaqueV);
    __m128i lo = mul(_mm_unpacklo_epi8(dv, zero), _mm_unpacklo_epi8(sv, zero));
    __m128i hi = mul(_mm_unpackhi_epi8(dv, zero), _mm_unpackhi_epi8(sv, zero));
    __m128i out = _mm_and_si128(_mm_adds_epu8(sv, _mm_packus_epi16(lo, hi)), keepV);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), out);
  }
  for (; x < w; x++) {
    uint32_t sp, dp;
    memcpy(&sp, s + 4 * x, 4);
    memcpy(&dp, d + 4 * x, 4);
    dp = overPixel(sp, dp, AlphaByte * 8, opaque, keep);
    memcpy(d + 4 * x, &dp, 4);
  }
}
#endif

void overFast(const BlendJob& j, const PixelFormat& s, const PixelFormat& d)
{
  const int as = s.alphaShift;
  // The template writes alpha only where the destination has it, and
  // reads a destination without alpha as opaque.
  uint32_t keep = 0xffu << d.redShift | 0xffu << d.greenShift | 0xffu << d.blueShift;
  if (d.alphaMax)
    keep |= 0xffu << d.alphaShift;
  const uint32_t opaque = d.alphaMax ? 0 : 0xffu << as;
  for (int y = 0; y < j.h; y++) {
    const uint8_t* sr = j.src + pixmem::offset(0, y, j.srcStride, 4);
    uint8_t* dr = j.dst + pixmem::offset(0, y, j.dstStride, 4);
#ifdef __SSE2__
    switch (as) {
    case 0: overRowSse2<0>(sr, dr, j.w, opaque, keep); continue;
    case 8: overRowSse2<1>(sr, dr, j.w, opaque, keep); continue;
    case 16: overRowSse2<2>(sr, dr, j.w, opaque, keep); continue;
    default: overRowSse2<3>(sr, dr, j.w, opaque, keep); continue;
    }
#endif
    for (int x = 0; x < j.w; x++) {
      uint32_t sp, dp;
      memcpy(&sp, sr + 4 * x, 4);
      memcpy(&dp, dr + 4 * x, 4);
      dp = overPixel(sp, dp, as, opaque, keep);
      memcpy(dr + 4 * x, &dp, 4);
    }
  }
}

template <int DB, int SB>
void blendSized(const BlendJob& j, const Codec& sc, const Codec& dc, BlendFunc f)
{
  if (f == blendOver)
    blendRoutine<DB, SB>(j, sc, dc, InlineOver());
  else
    blendRoutine<DB, SB>(j, sc, dc, RuntimeBlend{f});
}

template <int DB>
void blendDst(const BlendJob& j, const Codec& sc, const Codec& dc, BlendFunc f)
{
  switch (sc.pf.bpp) {
  case 8: blendSized<DB, 1>(j, sc, dc, f); break;
  case 16: blendSized<DB, 2>(j, sc, dc, f); break;
  case 24: blendSized<DB, 3>(j, sc, dc, f); break;
  default: blendSized<DB, 4>(j, sc, dc, f); break;
  }
}

} // namespace

void blendImage(PixelBuffer& src, const Point& srcOrigin, WritablePixelBuffer& dst, const Rect& dstRect,
                BlendFunc blend)
{
  Point shift(dstRect.topLeft.x - srcOrigin.x, dstRect.topLeft.y - srcOrigin.y);
  Rect a = clipRect(clipRect(dstRect, dst.rect), src.rect.translate(shift));
  if (a.isEmpty() || !knownSize(dst.format.bpp) || !knownSize(src.format.bpp))
    return;
  Rect from = a.translate(shift.negate());
  if (blend == blendCopy || (blend == blendOver && src.format.alphaMax == 0)) {
    if (src.format.equal(dst.format)) {
      int stride = 0;
      const uint8_t* pixels = src.getPixelsR(from, &stride);
      copyPixelsToRect(dst, a, pixels, stride);
      return;
    }
    blend = blendCopy;
  }
  BlendJob job;
  job.src = src.getPixelsR(from, &job.srcStride);
  job.dst = dst.getPixelsRW(a, &job.dstStride);
  job.w = a.width();
  job.h = a.height();
  if (!job.srcStride)
    job.srcStride = a.width();
  if (blend == blendOver && !pixmem::genericPaths && overFastApplies(src.format, dst.format)) {
    overFast(job, src.format, dst.format);
    return;
  }
  Codec sc(src.format, src.getColourMap()), dc(dst.format, dst.getColourMap());
  switch (dst.format.bpp) {
  case 8: blendDst<1>(job, sc, dc, blend); break;
  case 16: blendDst<2>(job, sc, dc, blend); break;
  case 24: blendDst<3>(job, sc, dc, blend); break;
  default: blendDst<4>(job, sc, dc, blend); break;
  }
}

} // namespace rfb
