#include "tlutil/Scaler.h"

#include <algorithm>
#include <vector>

#include "plat/Exception.h"
#include "rfb/PixDraw.h"
#include "rfb/PixMemory.h"

namespace tlutil {

using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;
namespace pixmem = rfb::pixmem;

namespace {

using pixmem::swapBytes;

// --- Channel readers: a source pixel to N channel values of 0..255 ---

// The stored channel values, unscaled (same-format kernels).
template <int N>
struct RawRead {
  static constexpr int kChannels = N;
  RawRead(const PixelFormat& pf, rfb::ColourMap*)
      : shift{pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift},
        max{pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax}
  {
  }
  void read(uint32_t p, int32_t c[4]) const
  {
    for (int k = 0; k < N; k++)
      c[k] = (int32_t)((p >> shift[k]) & max[k]);
  }
  uint32_t shift[4];
  uint32_t max[4];
};

// Red, green, blue and alpha widened to 0..255; alpha 255 without one,
// colour-mapped pixels through their map.
template <int N>
struct RgbRead {
  static constexpr int kChannels = N;
  RgbRead(const PixelFormat& pf, rfb::ColourMap* cm) : pf_(pf), cm_(cm), raw_(pf, cm)
  {
    swap_ = pf.bigEndian && (pf.bpp == 16 || pf.bpp == 32);
    all255_ = pf.redMax == 255 && pf.greenMax == 255 && pf.blueMax == 255;
    mapSize_ = cm ? cm->size() : 0;
  }
  static int32_t widen(int32_t c, int32_t max) { return max ? (c * 255 + max / 2) / max : 0; }
  void read(uint32_t p, int32_t c[4]) const
  {
    if (swap_)
      p = swapBytes(p, pf_.bpp);
    if (!pf_.trueColour) {
      int rgb[3] = {0, 0, 0};
      if (mapSize_ > 0)
        cm_->getColour(p < (uint32_t)mapSize_ ? (int)p : 0, rgb);
      c[0] = rgb[0], c[1] = rgb[1], c[2] = rgb[2];
      if (N == 4)
        c[3] = 255;
      return;
    }
    raw_.read(p, c);
    if (!all255_)
      for (int k = 0; k < 3; k++)
        c[k] = widen(c[k], (int32_t)raw_.max[k]);
    if (N == 4)
      c[3] = pf_.alphaMax == 0 ? 255 : pf_.alphaMax == 255 ? c[3] : widen(c[3], pf_.alphaMax);
  }
  const PixelFormat& pf_;
  rfb::ColourMap* cm_;
  RawRead<4> raw_;
  bool swap_;
  bool all255_;
  int mapSize_;
};

// --- Pixel writers: N channel values to a destination pixel ---

template <int N>
struct RawWrite {
  RawWrite(const PixelFormat& pf, rfb::ColourMap*) : shift{pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift} {}
  uint32_t write(const int32_t c[4]) const
  {
    uint32_t p = 0;
    for (int k = 0; k < N; k++)
      p |= (uint32_t)c[k] << shift[k];
    return p;
  }
  uint32_t shift[4];
};

// Narrowed from 0..255 to each channel's maximum, alpha included.
struct AlphaWrite {
  AlphaWrite(const PixelFormat& pf, rfb::ColourMap*)
      : shift{pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift},
        max{pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax}
  {
  }
  uint32_t write(const int32_t c[4]) const
  {
    uint32_t p = 0;
    for (int k = 0; k < 4; k++)
      p |= (((uint32_t)c[k] * max[k] + 127) / 255) << shift[k];
    return p;
  }
  uint32_t shift[4];
  uint32_t max[4];
};

// The destination format's own conversion (colour maps, byte order).
struct RgbWrite {
  RgbWrite(const PixelFormat& pf, rfb::ColourMap* cm) : pf_(pf), cm_(cm) {}
  uint32_t write(const int32_t c[4]) const
  {
    const int rgb[3] = {c[0], c[1], c[2]};
    return pf_.pixelFromRGB(rgb, cm_);
  }
  const PixelFormat& pf_;
  rfb::ColourMap* cm_;
};

// Which source columns each destination column of a job covers, and by how
// much: the same for every source row, so worked out once per job.
struct ColumnSpans {
  explicit ColumnSpans(const ScaleJob& j)
  {
    const int32_t srcW = j.coords->srcSz.x, dstW = j.coords->dstSz.x;
    const int64_t firstCol = j.srcStartX / dstW;
    first.resize((size_t)j.size.x);
    count.resize((size_t)j.size.x);
    for (int x = 0; x < j.size.x; x++) {
      const int64_t dx0 = j.dstStartX + (int64_t)x * srcW, dx1 = dx0 + srcW;
      const size_t before = overlap.size();
      int64_t sx = dx0 / dstW;
      first[x] = (int32_t)(sx - firstCol);
      for (; sx * dstW < dx1; sx++) {
        const int64_t sx0 = sx * dstW;
        overlap.push_back((int32_t)(std::min(sx0 + dstW, dx1) - std::max(sx0, dx0)));
      }
      count[x] = (int32_t)(overlap.size() - before);
    }
  }
  std::vector<int32_t> first, count, overlap;
};

// The box filter over the virtual grid: a source pixel is dstW x dstH
// units, a destination pixel srcW x srcH. Tag only tells apart kernels
// that share a body.
template <int SB, int DB, class Read, class Write, int Tag = 0>
void boxKernel(const ScaleJob& j)
{
  constexpr int N = Read::kChannels;
  const Read rd(*j.srcFormat, j.srcColourMap);
  const Write wr(*j.dstFormat, j.dstColourMap);
  const int32_t srcW = j.coords->srcSz.x, srcH = j.coords->srcSz.y;
  const int32_t dstH = j.coords->dstSz.y;
  const int32_t rx = (1 << 23) / srcW, ry = (1 << 23) / srcH;
  const int64_t firstRow = j.srcStartY / dstH;
  const ColumnSpans cols(j);
  uint32_t* acc = j.accum;

  for (int y = 0; y < j.size.y; y++) {
    const int64_t dy0 = j.dstStartY + (int64_t)y * srcH, dy1 = dy0 + srcH;
    for (int64_t sy = dy0 / dstH; sy * dstH < dy1; sy++) {
      const int64_t sy0 = sy * dstH;
      const int32_t overlapY = (int32_t)(std::min(sy0 + dstH, dy1) - std::max(sy0, dy0));
      const uint8_t* row = j.src + pixmem::offset(0, (int)(sy - firstRow), j.srcStride, SB);
      const int32_t* overlapX = cols.overlap.data();
      for (int x = 0; x < j.size.x; x++) {
        const uint8_t* p = row + (int64_t)cols.first[x] * SB;
        int32_t sum[4] = {0, 0, 0, 0};
        for (int n = cols.count[x]; n > 0; n--, p += SB) {
          int32_t c[4];
          rd.read(pixmem::load<SB>(p), c);
          for (int k = 0; k < N; k++)
            sum[k] += c[k] * *overlapX;
          overlapX++;
        }
        for (int k = 0; k < N; k++)
          acc[x * 4 + k] += (uint32_t)((((sum[k] + srcW / 2) * rx) >> 23) * overlapY);
      }
    }
    uint8_t* out = j.dst + pixmem::offset(0, y, j.dstStride, DB);
    for (int x = 0; x < j.size.x; x++) {
      int32_t c[4] = {0, 0, 0, 0};
      for (int k = 0; k < N; k++) {
        c[k] = (((int32_t)acc[x * 4 + k] + srcH / 2) * ry) >> 23;
        acc[x * 4 + k] = 0;
      }
      pixmem::store<DB>(out + x * DB, wr.write(c));
    }
  }
}

void copyKernel(const ScaleJob& j)
{
  rfb::copyRows(j.src, j.dst, j.size, j.srcFormat->bpp / 8, j.srcStride, j.dstStride);
}

const ScaleKernel kCopy = {"copy", copyKernel};
const ScaleKernel kRgb222 = {"rgb222", boxKernel<1, 1, RawRead<3>, RawWrite<3>, 1>};
const ScaleKernel kRgb565 = {"rgb565", boxKernel<2, 2, RawRead<3>, RawWrite<3>, 1>};
const ScaleKernel kXrgb8888 = {"xrgb8888", boxKernel<4, 4, RawRead<3>, RawWrite<3>, 1>};
const ScaleKernel kSame[4] = {{"same1", boxKernel<1, 1, RawRead<3>, RawWrite<3>>},
                              {"same2", boxKernel<2, 2, RawRead<3>, RawWrite<3>>},
                              {"same3", boxKernel<3, 3, RawRead<3>, RawWrite<3>>},
                              {"same4", boxKernel<4, 4, RawRead<3>, RawWrite<3>>}};
const ScaleKernel kSameAlpha[4] = {{nullptr, nullptr},
                                   {"alpha2", boxKernel<2, 2, RawRead<4>, RawWrite<4>>},
                                   {nullptr, nullptr},
                                   {"alpha4", boxKernel<4, 4, RawRead<4>, RawWrite<4>>}};
const ScaleKernel kIntoAlpha[4] = {{"into-alpha1", boxKernel<1, 4, RgbRead<4>, AlphaWrite>},
                                   {"into-alpha2", boxKernel<2, 4, RgbRead<4>, AlphaWrite>},
                                   {"into-alpha3", boxKernel<3, 4, RgbRead<4>, AlphaWrite>},
                                   {"into-alpha4", boxKernel<4, 4, RgbRead<4>, AlphaWrite>}};
const ScaleKernel kFrom8[4] = {{nullptr, nullptr},
                               {"from8-2", boxKernel<1, 2, RgbRead<3>, RgbWrite, 1>},
                               {nullptr, nullptr},
                               {"from8-4", boxKernel<1, 4, RgbRead<3>, RgbWrite, 1>}};

#define TL_GENERIC_ROW(s)                                                                                     \
  {{"generic" #s "-1", boxKernel<s, 1, RgbRead<3>, RgbWrite>},                                                \
   {"generic" #s "-2", boxKernel<s, 2, RgbRead<3>, RgbWrite>},                                                \
   {"generic" #s "-3", boxKernel<s, 3, RgbRead<3>, RgbWrite>},                                                \
   {"generic" #s "-4", boxKernel<s, 4, RgbRead<3>, RgbWrite>}}
const ScaleKernel kGeneric[4][4] = {TL_GENERIC_ROW(1), TL_GENERIC_ROW(2), TL_GENERIC_ROW(3), TL_GENERIC_ROW(4)};
#undef TL_GENERIC_ROW

const ScaleKernel* orNull(const ScaleKernel& k) { return k.fn ? &k : nullptr; }

// Sums hold channel x overlap in 32 bits, so a channel may hold at most
// 255; a channel without bits would divide by 0 when widened.
bool channelsFit(const PixelFormat& pf)
{
  if (!pf.trueColour)
    return true;
  for (int max : {pf.redMax, pf.greenMax, pf.blueMax})
    if (max < 1 || max > 255)
      return false;
  return pf.alphaMax <= 255;
}

bool hasAlpha(const PixelFormat& pf) { return pf.trueColour && pf.alphaMax != 0; }

void printPair(const PixelFormat& a, const PixelFormat& b, char (&sa)[PixelFormat::kPrintSize],
               char (&sb)[PixelFormat::kPrintSize])
{
  sa[0] = sb[0] = 0;
  a.print(sa);
  b.print(sb);
}

} // namespace

const ScaleKernel* pickKernel(const PixelFormat& srcFormat, const PixelFormat& dstFormat)
{
  const int srcIdx = srcFormat.bpp / 8 - 1;
  const int dstIdx = dstFormat.bpp / 8 - 1;
  PLAT_ASSERT(srcIdx >= 0 && srcIdx <= 3 && dstIdx >= 0 && dstIdx <= 3);
  if (!channelsFit(srcFormat) || !channelsFit(dstFormat))
    return nullptr;
  const bool wideBigEndian = (srcFormat.bigEndian && srcFormat.bpp > 8) || (dstFormat.bigEndian && dstFormat.bpp > 8);
  if (dstFormat.trueColour && !wideBigEndian) {
    if (srcFormat.equal(dstFormat)) {
      if (dstFormat.equal(rfb::rgb222Format()))
        return &kRgb222;
      if (dstFormat.equal(rfb::rgb565Format()))
        return &kRgb565;
      if (dstFormat.equal(rfb::xrgb8888Format()))
        return &kXrgb8888;
      return dstFormat.alphaMax ? orNull(kSameAlpha[dstIdx]) : &kSame[dstIdx];
    }
    if (dstFormat.alphaMax && dstFormat.bpp == 32)
      return &kIntoAlpha[srcIdx];
  }
  if (hasAlpha(srcFormat) || hasAlpha(dstFormat))
    return nullptr;
  if (srcFormat.bpp == 8 && (dstFormat.bpp == 8 || !dstFormat.bigEndian) && kFrom8[dstIdx].fn)
    return &kFrom8[dstIdx];
  return &kGeneric[srcIdx][dstIdx];
}

Scaler::~Scaler() = default;

void Scaler::setSource(rfb::PixelBuffer* src, bool takeFormat)
{
  source_ = src;
  coords_.srcSz = Point(src->rect.width(), src->rect.height());
  if (takeFormat) {
    dstFormat = src->format;
    dstColourMap = src->getColourMap();
  }
  update();
}

void Scaler::update()
{
  if (!source_)
    return;
  if (dstFormat.equal(source_->format) && coords_.dstSz == coords_.srcSz) {
    kernel_ = &kCopy;
    return;
  }
  // A grown row starts cleared; kernels leave every entry at 0.
  const int entries = std::max(coords_.dstSz.x, 0) * 4;
  if (accum_.length() < entries) {
    accum_.resize(entries);
    std::fill(accum_.data(), accum_.data() + entries, 0u);
  }
  kernel_ = pickKernel(source_->format, dstFormat);
}

Rect Scaler::sourceArea(const Rect& r) const
{
  const int64_t srcW = coords_.srcSz.x, srcH = coords_.srcSz.y;
  const int64_t dstW = coords_.dstSz.x, dstH = coords_.dstSz.y;
  int64_t sx0 = r.topLeft.x * srcW / dstW, sy0 = r.topLeft.y * srcH / dstH;
  int64_t sx1 = sx0, sy1 = sy0;
  if (r.topLeft.x * srcW < r.bottomRight.x * srcW && r.topLeft.y * srcH < r.bottomRight.y * srcH) {
    sx1 = (r.bottomRight.x * srcW + dstW - 1) / dstW;
    sy1 = (r.bottomRight.y * srcH + dstH - 1) / dstH;
  }
  return Rect((int)sx0, (int)sy0, (int)sx1, (int)sy1);
}

void Scaler::getImage(void* buf, const Rect& r, int outStride)
{
  if (r.isEmpty())
    return;
  if (!kernel_) {
    if (!source_)
      throw plat::Exception("Scaler error: no source");
    char sf[PixelFormat::kPrintSize], df[PixelFormat::kPrintSize];
    printPair(source_->format, dstFormat, sf, df);
    throw plat::Exception(0, "Scaler error: %s to %s", sf, df);
  }
  PLAT_ASSERT(coords_.srcSz.x > 0 && coords_.srcSz.y > 0 && coords_.dstSz.x > 0 && coords_.dstSz.y > 0);
  const Rect area = sourceArea(r);
  ScaleJob job;
  job.size = Point(r.width(), r.height());
  job.dst = static_cast<uint8_t*>(buf);
  job.dstStride = outStride ? outStride : r.width();
  job.dstFormat = &dstFormat;
  job.dstColourMap = dstColourMap;
  job.src = source_->getPixelsR(area.translate(source_->rect.topLeft), &job.srcStride);
  job.srcFormat = &source_->format;
  job.srcColourMap = source_->getColourMap();
  job.srcStartX = (int64_t)area.topLeft.x * coords_.dstSz.x;
  job.srcStartY = (int64_t)area.topLeft.y * coords_.dstSz.y;
  job.dstStartX = (int64_t)r.topLeft.x * coords_.srcSz.x;
  job.dstStartY = (int64_t)r.topLeft.y * coords_.srcSz.y;
  job.coords = &coords_;
  job.accum = accum_.data();
  kernel_->fn(job);
}

} // namespace tlutil
