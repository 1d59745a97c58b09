#include "rfb/PixTranslate.h"

#include <string.h>

#include <type_traits>

#include "plat/Exception.h"
#include "rfb/PixDraw.h"
#include "rfb/PixMemory.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace rfb {

namespace {

ColourCubeMaker cubeMaker = nullptr;

uint32_t swapFor(uint32_t v, const PixelFormat& pf)
{
  if (!pf.bigEndian)
    return v;
  if (pf.bpp == 16)
    return (uint32_t)__builtin_bswap16((uint16_t)v);
  if (pf.bpp == 32)
    return __builtin_bswap32(v);
  return v;
}

// Table entries: 1, 2 or 4 bytes (24-bit outputs use 4).
template <int Bytes>
using EntryT = std::conditional_t<Bytes == 1, uint8_t, std::conditional_t<Bytes == 2, uint16_t, uint32_t>>;

int entryBytes(int bpp) { return bpp == 8 ? 1 : bpp == 16 ? 2 : 4; }

// --- Routines: one template each over a per-pixel load and store -----------

template <int InB, int OutB>
void oneTable(const void* table, const PixelFormat&, const void* in, int inStride, const PixelFormat&, void* out,
              int outStride, int width, int height)
{
  const auto* t = static_cast<const EntryT<OutB>*>(table);
  for (int y = 0; y < height; y++) {
    const uint8_t* s = static_cast<const uint8_t*>(in) + pixmem::offset(0, y, inStride, InB);
    uint8_t* d = static_cast<uint8_t*>(out) + pixmem::offset(0, y, outStride, OutB);
    for (int x = 0; x < width; x++)
      pixmem::store<OutB>(d + x * OutB, t[pixmem::load<InB>(s + x * InB)]);
  }
}

// Fixed555 takes the 5-5-5 shifts as constants; Cube ends with the
// cube-to-map table that follows the channel tables.
template <int InB, int OutB, bool Cube, bool Fixed555>
void channels(const void* table, const PixelFormat& inPF, const void* in, int inStride, const PixelFormat&,
              void* out, int outStride, int width, int height)
{
  using T = EntryT<OutB>;
  const T* red = static_cast<const T*>(table);
  const T* green = red + inPF.redMax + 1;
  const T* blue = green + inPF.greenMax + 1;
  const T* cube = blue + inPF.blueMax + 1;
  // A channel without bits may sit at shift 32; it reads entry 0 anyway.
  const int rs = Fixed555 ? 10 : inPF.redMax ? inPF.redShift : 0,
            gs = Fixed555 ? 5 : inPF.greenMax ? inPF.greenShift : 0,
            bs = Fixed555 ? 0 : inPF.blueMax ? inPF.blueShift : 0;
  const uint32_t rm = Fixed555 ? 31 : inPF.redMax, gm = Fixed555 ? 31 : inPF.greenMax,
                 bm = Fixed555 ? 31 : inPF.blueMax;
  for (int y = 0; y < height; y++) {
    const uint8_t* s = static_cast<const uint8_t*>(in) + pixmem::offset(0, y, inStride, InB);
    uint8_t* d = static_cast<uint8_t*>(out) + pixmem::offset(0, y, outStride, OutB);
    for (int x = 0; x < width; x++) {
      uint32_t p = pixmem::load<InB>(s + x * InB);
      uint32_t v = (uint32_t)red[(p >> rs) & rm] + green[(p >> gs) & gm] + blue[(p >> bs) & bm];
      if (Cube)
        v = cube[v];
      pixmem::store<OutB>(d + x * OutB, v);
    }
  }
}

// Byte rearrangements: output byte k is input byte Map[k] (4 = a zero byte).
template <int InB, int OutB, int M0, int M1, int M2, int M3>
void rearrangeRow(const uint8_t* s, uint8_t* d, int width)
{
  const int map[4] = {M0, M1, M2, M3};
  for (int x = 0; x < width; x++)
    for (int k = 0; k < OutB; k++)
      d[x * OutB + k] = map[k] == 4 ? 0 : s[x * InB + map[k]];
}

inline uint32_t load32(const uint8_t* p)
{
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

// Four pixels at a time through whole words (little-endian host). The
// bytes 2, 1, 0 of a word are its byte-reversed form shifted down.
inline uint32_t rev3(uint32_t p) { return __builtin_bswap32(p) >> 8; }

// Four pixels at a time. With SSE2: bytes reversed within each word, then
// the four 3-byte groups moved together; each 16-byte store reaches 4
// bytes into the next group's place, so the last group goes the word way.
void row32to24Fast(const uint8_t* s, uint8_t* d, int width)
{
  int x = 0;
#ifdef __SSE2__
  const __m128i ff = _mm_set1_epi32(0xff), ff00 = _mm_set1_epi32(0xff00);
  const __m128i lane1 = _mm_set_epi32(0, 0, -1, 0), lane2 = _mm_set_epi32(0, -1, 0, 0),
                lane3 = _mm_set_epi32(-1, 0, 0, 0), lane0 = _mm_set_epi32(0, 0, 0, -1);
  for (; x + 8 <= width; x += 4, s += 16, d += 12) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i r = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), ff), _mm_and_si128(v, ff00)),
                             _mm_slli_epi32(_mm_and_si128(v, ff), 16));
    __m128i out = _mm_or_si128(_mm_or_si128(_mm_and_si128(r, lane0), _mm_srli_si128(_mm_and_si128(r, lane1), 1)),
                               _mm_or_si128(_mm_srli_si128(_mm_and_si128(r, lane2), 2),
                                            _mm_srli_si128(_mm_and_si128(r, lane3), 3)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
  }
#endif
  for (; x + 4 <= width; x += 4, s += 16, d += 12) {
    uint32_t a = rev3(load32(s)), b = rev3(load32(s + 4)), c = rev3(load32(s + 8)), e = rev3(load32(s + 12));
    store32(d, a | b << 24);
    store32(d + 4, b >> 8 | c << 16);
    store32(d + 8, c >> 16 | e << 8);
  }
  rearrangeRow<4, 3, 2, 1, 0, 4>(s, d, width - x);
}

void row24to32Fast(const uint8_t* s, uint8_t* d, int width)
{
  int x = 0;
  for (; x + 4 <= width; x += 4, s += 12, d += 16) {
    uint32_t w0 = load32(s), w1 = load32(s + 4), w2 = load32(s + 8);
    uint32_t p0 = w0 & 0xffffff, p1 = (w0 >> 24 | w1 << 8) & 0xffffff, p2 = (w1 >> 16 | w2 << 16) & 0xffffff,
             p3 = w2 >> 8;
    store32(d, rev3(p0));
    store32(d + 4, rev3(p1));
    store32(d + 8, rev3(p2));
    store32(d + 12, rev3(p3));
  }
  rearrangeRow<3, 4, 2, 1, 0, 4>(s, d, width - x);
}

void rowSwap32Fast(const uint8_t* s, uint8_t* d, int width)
{
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    uint32_t p[4];
    memcpy(p, s + 4 * x, 16);
    for (uint32_t& v : p)
      v = (v & 0xff00ff00u) | (v >> 16 & 0xff) | (v & 0xff) << 16;
    memcpy(d + 4 * x, p, 16);
  }
  rearrangeRow<4, 4, 2, 1, 0, 3>(s + 4 * x, d + 4 * x, width - x);
}

using RowFn = void (*)(const uint8_t*, uint8_t*, int);

template <int InB, int OutB, RowFn Fast, RowFn Generic>
void rearrange(const void*, const PixelFormat&, const void* in, int inStride, const PixelFormat&, void* out,
               int outStride, int width, int height)
{
  RowFn row = pixmem::genericPaths ? Generic : Fast;
  for (int y = 0; y < height; y++)
    row(static_cast<const uint8_t*>(in) + pixmem::offset(0, y, inStride, InB),
        static_cast<uint8_t*>(out) + pixmem::offset(0, y, outStride, OutB), width);
}

const TransFn kRearrange32to24 = rearrange<4, 3, row32to24Fast, rearrangeRow<4, 3, 2, 1, 0, 4>>;
const TransFn kRearrange24to32 = rearrange<3, 4, row24to32Fast, rearrangeRow<3, 4, 2, 1, 0, 4>>;
const TransFn kSwap32 = rearrange<4, 4, rowSwap32Fast, rearrangeRow<4, 4, 2, 1, 0, 3>>;

int outIndex(int bpp) { return bpp == 8 ? 0 : bpp == 16 ? 1 : bpp == 24 ? 2 : 3; }

const TransFn kOneTable[2][4] = {
  {oneTable<1, 1>, oneTable<1, 2>, oneTable<1, 3>, oneTable<1, 4>},
  {oneTable<2, 1>, oneTable<2, 2>, oneTable<2, 3>, oneTable<2, 4>},
};

template <bool Cube>
TransFn channelRoutine(int inBpp, int outBpp)
{
  static const TransFn fns[3][4] = {
    {channels<2, 1, Cube, false>, channels<2, 2, Cube, false>, channels<2, 3, Cube, false>,
     channels<2, 4, Cube, false>},
    {channels<3, 1, Cube, false>, channels<3, 2, Cube, false>, channels<3, 3, Cube, false>,
     channels<3, 4, Cube, false>},
    {channels<4, 1, Cube, false>, channels<4, 2, Cube, false>, channels<4, 3, Cube, false>,
     channels<4, 4, Cube, false>},
  };
  return fns[inBpp / 8 - 2][outIndex(outBpp)];
}

template <bool Cube>
TransFn channel555Routine(int outBpp)
{
  static const TransFn fns[4] = {channels<2, 1, Cube, true>, channels<2, 2, Cube, true>,
                                 channels<2, 3, Cube, true>, channels<2, 4, Cube, true>};
  return fns[outIndex(outBpp)];
}

// Memory byte of a byte-aligned channel at shift s.
int byteOf(const PixelFormat& pf, int shift) { return pf.bigEndian ? pf.bpp / 8 - 1 - shift / 8 : shift / 8; }

bool full8(const PixelFormat& pf)
{
  return pf.trueColour && pf.isByteAligned() && pf.redMax == 255 && pf.greenMax == 255 && pf.blueMax == 255;
}

// Each colour channel of out sits at the byte that map() gives for in's.
template <typename Map>
bool channelsMoved(const PixelFormat& in, const PixelFormat& out, Map map)
{
  const int inShifts[3] = {in.redShift, in.greenShift, in.blueShift};
  const int outShifts[3] = {out.redShift, out.greenShift, out.blueShift};
  for (int c = 0; c < 3; c++) {
    int to = map(byteOf(in, inShifts[c]));
    if (to < 0 || to != byteOf(out, outShifts[c]))
      return false;
  }
  return true;
}

} // namespace

void setColourCubeMaker(ColourCubeMaker maker)
{
  cubeMaker = maker;
}

TransPixelBuffer::TransPixelBuffer(int option) : option_(option) {}

TransPixelBuffer::~TransPixelBuffer() = default;

void TransPixelBuffer::getImage(void* buf, const Rect& r, int outStride)
{
  if (!source_ || r.isEmpty())
    return;
  if (!translate_) {
    source_->getImage(buf, r, outStride);
    return;
  }
  int inStride = 0;
  const uint8_t* in = source_->getPixelsR(r, &inStride);
  translate_(table_.get(), inPF_, in, inStride ? inStride : r.width(), format, buf, outStride ? outStride : r.width(),
             r.width(), r.height());
}

ColourMap* TransPixelBuffer::getColourMap()
{
  if (userColourMap_)
    return userColourMap_;
  return getCubeOrSourceColourMap();
}

ColourMap* TransPixelBuffer::getCubeOrSourceColourMap()
{
  if (ownCube_)
    return ownCube_.get();
  return source_ ? source_->getColourMap() : nullptr;
}

const uint8_t* TransPixelBuffer::getPixelsR(const Rect& r, int* stride)
{
  if (!source_)
    return nullptr;
  if (!translate_)
    return source_->getPixelsR(r, stride);
  if (r.isEmpty())
    return nullptr;
  if (!scratch_)
    scratch_ = std::make_unique<ManagedPixelBuffer>();
  scratch_->setPF(format);
  scratch_->setSize(Point(r.width(), r.height()));
  getImage(scratch_->data, r, scratch_->stride);
  if (stride)
    *stride = scratch_->stride;
  return scratch_->data;
}

void TransPixelBuffer::prepareRegion(const Region& region)
{
  if (source_)
    source_->prepareRegion(region);
}

void TransPixelBuffer::setSource(PixelBuffer* src)
{
  if (!src) {
    source_ = nullptr;
    rect = Rect();
    return;
  }
  rect = src->rect;
  bool had = source_ != nullptr;
  source_ = src;
  if (had && src->format.equal(inPF_))
    return;
  inPF_ = src->format;
  setUpTranslation();
}

void TransPixelBuffer::setPF(const PixelFormat& pf)
{
  if (pf.equal(format))
    return;
  format = pf;
  if (source_)
    setUpTranslation();
}

void TransPixelBuffer::setColourMap(ColourMap* cm)
{
  userColourMap_ = cm;
  if (source_)
    setUpTranslation();
}

void TransPixelBuffer::setViaPF(const PixelFormat& pf)
{
  if (pf.trueColour)
    viaPF_ = std::make_unique<PixelFormat>(pf);
}

// --- Set-up ---------------------------------------------------------------------------

void TransPixelBuffer::setUpTranslation()
{
  const PixelFormat& inPF = inPF_;
  const PixelFormat& pf = format;
  PLAT_ASSERT(inPF.isValid());
  PLAT_ASSERT(pf.isValid());
  // Colour-mapped inputs wider than 16 bits are not provided for.
  PLAT_ASSERT(inPF.trueColour || inPF.bpp <= 16);
  setups_++;
  ownCube_.reset();
  table_.reset();
  translate_ = nullptr;
  routineName_ = "none";
  if (pf.trueColour)
    setUpTrueColour();
  else
    setUpColourMapped();
}

void TransPixelBuffer::setUpColourMapped()
{
  const PixelFormat& pf = format;
  if (!inPF_.trueColour) {
    if (inPF_.bpp == pf.bpp && !userColourMap_)
      return;
    buildOneTable();
    return;
  }
  int levels = 1;
  while ((levels + 1) * (levels + 1) * (levels + 1) <= (1 << std::min<int>(pf.depth, 24)))
    levels++;
  PLAT_ASSERT_FMT(cubeMaker, "no colour cube maker registered");
  ownCube_ = cubeMaker(levels);
  if (inPF_.bpp == 8 || (inPF_.bpp == 16 && !option_)) {
    buildOneTable();
    return;
  }
  ColourMap* cm = getColourMap();
  buildChannelTables(cm, cm->isOrthogonal() ? nullptr : cm);
}

void TransPixelBuffer::setUpTrueColour()
{
  const PixelFormat& in = inPF_;
  const PixelFormat& pf = format;
  bool viaShallow = viaPF_ && viaPF_->depth < pf.depth;
  if (in.equal(pf) && !viaShallow)
    return;
  if (!viaShallow && full8(in) && full8(pf)) {
    if (in.bpp == 32 && pf.bpp == 24 && pf.alphaMax == 0 &&
        channelsMoved(in, pf, [](int b) { return b == 3 ? -1 : 2 - b; })) {
      translate_ = kRearrange32to24;
      routineName_ = "rearrange 32->24";
      return;
    }
    if (in.bpp == 24 && pf.bpp == 32 && pf.alphaMax == 0 && channelsMoved(in, pf, [](int b) { return 2 - b; })) {
      translate_ = kRearrange24to32;
      routineName_ = "rearrange 24->32";
      return;
    }
    auto swap = [](int b) { return b == 3 ? 3 : 2 - b; };
    if (in.bpp == 32 && pf.bpp == 32 && in.alphaMax == pf.alphaMax && channelsMoved(in, pf, swap) &&
        (in.alphaMax == 0 || swap(byteOf(in, in.alphaShift)) == byteOf(pf, pf.alphaShift))) {
      translate_ = kSwap32;
      routineName_ = "swap 32";
      return;
    }
  }
  if (!in.trueColour || in.bpp == 8 || (in.bpp == 16 && !option_)) {
    buildOneTable();
    return;
  }
  buildChannelTables(nullptr, nullptr);
}

void TransPixelBuffer::buildOneTable()
{
  const PixelFormat& in = inPF_;
  const PixelFormat& pf = format;
  const int count = 1 << in.bpp;
  const int eb = entryBytes(pf.bpp);
  table_ = std::make_unique<uint8_t[]>((size_t)count * eb);
  ColourMap* outMap = getColourMap();
  ColourMap* inMap = source_->getColourMap();
  const PixelFormat* via = pf.trueColour ? viaPF_.get() : nullptr;
  for (int i = 0; i < count; i++) {
    int rgba[4] = {0, 0, 0, 255};
    if (in.trueColour) {
      rgbaFromPixel(in, (Pixel)i, rgba, nullptr);
    } else {
      uint32_t v = swapFor((uint32_t)i, in) & ((1u << in.depth) - 1);
      int n = inMap ? inMap->size() : 0;
      if (n > 0)
        inMap->getColour(v < (uint32_t)n ? (int)v : 0, rgba);
    }
    if (via)
      rgbaFromPixel(*via, via->pixelFromRGB(rgba, nullptr), rgba, nullptr);
    pixmem::storeAny(&table_[(size_t)i * eb], pf.pixelFromRGB(rgba, outMap), eb);
  }
  translate_ = kOneTable[in.bpp / 8 - 1][outIndex(pf.bpp)];
  static const char* const names[2][4] = {{"one table 8->8", "one table 8->16", "one table 8->24", "one table 8->32"},
                                          {"one table 16->8", "one table 16->16", "one table 16->24",
                                           "one table 16->32"}};
  routineName_ = names[in.bpp / 8 - 1][outIndex(pf.bpp)];
}

// cm: the colour map of a colour-mapped output (null for true colour);
// userMap: a non-orthogonal user map reached through the cube.
void TransPixelBuffer::buildChannelTables(ColourMap* cm, ColourMap* userMap)
{
  const PixelFormat& inPF = inPF_;
  const PixelFormat& pf = format;
  PLAT_ASSERT(inPF.isNativeEndian());
  ColourMap* orthCM = userMap ? ownCube_.get() : cm;
  if (cm)
    PLAT_ASSERT(orthCM->isOrthogonal());
  const int eb = entryBytes(pf.bpp);
  const int maxima[3] = {inPF.redMax, inPF.greenMax, inPF.blueMax};
  const int outMax[3] = {pf.redMax, pf.greenMax, pf.blueMax};
  const int outShift[3] = {pf.redShift, pf.greenShift, pf.blueShift};
  const int cubeSize = userMap ? orthCM->size() : 0;
  size_t count = (size_t)maxima[0] + maxima[1] + maxima[2] + 3 + cubeSize;
  table_ = std::make_unique<uint8_t[]>(count * eb);
  const PixelFormat* via = viaPF_.get();
  const int viaMax[3] = {via ? via->redMax : 0, via ? via->greenMax : 0, via ? via->blueMax : 0};
  size_t at = 0;
  for (int c = 0; c < 3; c++) {
    const int m = maxima[c];
    for (int v = 0; v <= m; v++, at++) {
      uint32_t entry = 0;
      if (cm) {
        int rgb[3] = {0, 0, 0};
        rgb[c] = m ? (v * 255 + m / 2) / m : 0;
        entry = (uint32_t)orthCM->lookup(rgb);
        if (!userMap)
          entry = swapFor(entry, pf);
      } else if (m) {
        const int M = outMax[c];
        uint32_t level;
        if (via) {
          const int V = viaMax[c];
          int64_t q = ((int64_t)V * v + m / 2) / m;
          level = V ? (uint32_t)((V / 2 + q * M) / V) : 0;
        } else {
          level = (uint32_t)(((int64_t)v * M + m / 2) / m);
        }
        entry = M ? swapFor(level << outShift[c], pf) : 0;
      }
      pixmem::storeAny(&table_[at * eb], entry, eb);
    }
  }
  for (int i = 0; i < cubeSize; i++, at++) {
    int rgb[3];
    orthCM->getColour(i, rgb);
    pixmem::storeAny(&table_[at * eb], swapFor((uint32_t)userMap->lookup(rgb), pf), eb);
  }
  bool is555 = inPF.bpp == 16 && inPF.redMax == 31 && inPF.greenMax == 31 && inPF.blueMax == 31 &&
               inPF.redShift == 10 && inPF.greenShift == 5 && inPF.blueShift == 0;
  if (userMap)
    translate_ = is555 ? channel555Routine<true>(pf.bpp) : channelRoutine<true>(inPF.bpp, pf.bpp);
  else
    translate_ = is555 ? channel555Routine<false>(pf.bpp) : channelRoutine<false>(inPF.bpp, pf.bpp);
  routineName_ = userMap ? (is555 ? "channels 555 via cube" : "channels via cube")
                         : (is555 ? "channels 555" : "channels");
}

} // namespace rfb
