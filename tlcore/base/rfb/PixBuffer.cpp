#include "rfb/PixBuffer.h"

#include <string.h>

#include <memory>

#include "plat/Exception.h"
#include "rfb/PixDraw.h"
#include "rfb/PixMemory.h"
#include "rfb/Region.h"

namespace rfb {

namespace {

bool fits16(int v) { return v >= -32768 && v <= 32767; }

[[noreturn]] void outOfBounds(const char* what, const Rect& asked, const Rect& own, const char* file, int line)
{
  char a[Rect::kPrintSize], b[Rect::kPrintSize];
  PLAT_FAIL_AT_FMT("rect.encloses(r)", file, line, "%s out of bounds: %s outside %s", what,
                   asked.print(a), own.print(b));
}

} // namespace

Rect clipRect(const Rect& r, const Rect& bounds)
{
  Rect c = r.intersect(bounds);
  if (c.bottomRight.x < c.topLeft.x)
    c.bottomRight.x = c.topLeft.x;
  if (c.bottomRight.y < c.topLeft.y)
    c.bottomRight.y = c.topLeft.y;
  return c;
}

ImageGetter::~ImageGetter() = default;
ImageLoader::~ImageLoader() = default;
PixelBuffer::~PixelBuffer() = default;

void PixelBuffer::getImage(void* buf, const Rect& r, int outStride)
{
  int bytes = bytesPerPixel();
  int rowBytes = r.width() * bytes;
  int height = r.height();
  if (r.isEmpty() || (int64_t)height * rowBytes == 0)
    return;
  int inStride = 0;
  const uint8_t* in = getPixelsR(r, &inStride);
  if (!inStride)
    inStride = r.width();
  if (!outStride)
    outStride = r.width();
  auto* out = static_cast<uint8_t*>(buf);
  for (int y = 0; y < height; y++)
    memcpy(out + pixmem::offset(0, y, outStride, bytes), in + pixmem::offset(0, y, inStride, bytes), rowBytes);
}

void PixelBuffer::prepareRegion(const Region&) {}

void PixelBuffer::prepare()
{
  prepareRegion(Region(rect));
}

// --- FullFramePixelBuffer ---------------------------------------------------------

FullFramePixelBuffer::FullFramePixelBuffer(const PixelFormat& pf, const Rect& r, ColourMap* cm, uint8_t* d, int s)
    : data(d), stride(s ? s : r.width())
{
  format = pf;
  rect = r;
  colourMap = cm;
}

FullFramePixelBuffer::FullFramePixelBuffer(WritablePixelBuffer& parent, const Rect& r)
{
  format = parent.format;
  colourMap = parent.colourMap;
  Rect clipped = clipRect(r, parent.rect);
  data = parent.getPixelsRW(clipped, &stride);
  rect = clipped.translate(r.topLeft.negate());
}

uint8_t* FullFramePixelBuffer::getPixelsRW(const Rect& r, int* strideOut)
{
  if (strideOut)
    *strideOut = stride;
  if (r.isEmpty())
    return nullptr;
  if (!rect.encloses(r))
    outOfBounds("getPixelsRW", r, rect, __FILE__, __LINE__);
  return data + pixmem::offset(r.topLeft.x - rect.topLeft.x, r.topLeft.y - rect.topLeft.y, stride, bytesPerPixel());
}

Pixel FullFramePixelBuffer::getPixel(const Point& p) const
{
  int bytes = format.bpp / 8;
  if (format.bpp % 8)
    return 0;
  return pixmem::loadAny(data + pixmem::offset(p.x - rect.topLeft.x, p.y - rect.topLeft.y, stride, bytes), bytes);
}

void FullFramePixelBuffer::setPixel(const Point& p, Pixel pixel)
{
  int bytes = format.bpp / 8;
  if (format.bpp % 8)
    return;
  pixmem::storeAny(data + pixmem::offset(p.x - rect.topLeft.x, p.y - rect.topLeft.y, stride, bytes), pixel, bytes);
}

// --- ManagedPixelBuffer -----------------------------------------------------------

ManagedPixelBuffer::ManagedPixelBuffer(const PixelFormat& pf, const Rect& r, ColourMap* cm)
{
  format = pf;
  rect = r;
  colourMap = cm;
  checkMemory();
}

ManagedPixelBuffer::ManagedPixelBuffer(ImageLoader* loader)
{
  if (!loader)
    return;
  format = loader->getPf();
  setSize(loader->getSize());
  try {
    loader->getImage(this, rect.topLeft);
  } catch (...) {
    // No destructor runs for a constructor that throws.
    freeData();
    throw;
  }
}

ManagedPixelBuffer::~ManagedPixelBuffer()
{
  freeData();
}

void ManagedPixelBuffer::freeData()
{
  delete[] data;
  data = nullptr;
  capacity_ = 0;
}

int64_t ManagedPixelBuffer::sizeBytes() const
{
  return rect.isEmpty() ? 0 : (int64_t)(format.bpp / 8) * rect.width() * rect.height();
}

void ManagedPixelBuffer::checkMemory()
{
  stride = rect.width();
  int64_t size = sizeBytes();
  if (size == 0) {
    freeData();
    return;
  }
  if (size <= capacity_)
    return;
  PLAT_ASSERT_TEXT(fits16(rect.topLeft.x) && fits16(rect.topLeft.y) && fits16(rect.bottomRight.x) &&
                       fits16(rect.bottomRight.y),
                   "Rect(RgnRect(rect)) == rect");
  // 16-bit coordinates still allow far more than an int of bytes.
  PLAT_ASSERT_TEXT_FMT(size <= kMaxCapacity, "sizeBytes() <= kMaxCapacity", "%lld bytes",
                       (long long)size);
  auto fresh = std::make_unique<uint8_t[]>((size_t)size);
  freeData();
  data = fresh.release();
  capacity_ = (int)size;
}

void ManagedPixelBuffer::setPF(const PixelFormat& pf)
{
  if (pf.equal(format))
    return;
  format = pf;
  checkMemory();
  if (data)
    memset(data, 0, (size_t)capacity_);
}

void ManagedPixelBuffer::setSize(const Point& size)
{
  if (size.x == rect.width() && size.y == rect.height())
    return;
  // The memory itself is kept when it is large enough, so the old pixels
  // go aside first.
  Rect oldRect = rect;
  int oldStride = stride;
  std::unique_ptr<uint8_t[]> old;
  if (preserveOnResize && data) {
    size_t n = (size_t)sizeBytes();
    old = std::make_unique<uint8_t[]>(n);
    memcpy(old.get(), data, n);
  }
  rect.bottomRight = rect.topLeft.translate(size);
  checkMemory();
  if (data)
    memset(data, 0, (size_t)capacity_);
  if (old)
    copyPixelsToRect(*this, oldRect, old.get(), oldStride);
}

std::unique_ptr<uint8_t[]> ManagedPixelBuffer::takeData()
{
  std::unique_ptr<uint8_t[]> d(data);
  data = nullptr;
  rect.bottomRight = rect.topLeft;
  stride = 0;
  capacity_ = 0;
  return d;
}

void ManagedPixelBuffer::setData(std::unique_ptr<uint8_t[]> owned, int capacity)
{
  PLAT_ASSERT_TEXT_FMT(capacity >= sizeBytes(), "capacity_ >= sizeBytes()", "%d bytes for %lld",
                       capacity, (long long)sizeBytes());
  freeData();
  data = owned.release();
  capacity_ = capacity;
  stride = rect.width();
}

void ManagedPixelBuffer::setData(std::unique_ptr<uint8_t[]> bytes, int capacity, const Rect& r)
{
  rect = r;
  setData(std::move(bytes), capacity);
}

// --- SubPixelBuffer ---------------------------------------------------------------

SubPixelBuffer::SubPixelBuffer(PixelBuffer& source, const Rect& r, bool originAtRect)
    : source_(&source), offset_(originAtRect ? r.topLeft : Point())
{
  format = source.format;
  colourMap = source.colourMap;
  rect = clipRect(r, source.rect).translate(offset_.negate());
}

const uint8_t* SubPixelBuffer::getPixelsR(const Rect& r, int* stride)
{
  if (r.isEmpty())
    return nullptr;
  if (!rect.encloses(r))
    outOfBounds("getPixelsR", r, rect, __FILE__, __LINE__);
  return source_->getPixelsR(r.translate(offset_), stride);
}

} // namespace rfb
