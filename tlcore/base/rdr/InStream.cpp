#include "rdr/InStream.h"

#include <limits.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "plat/utf8.h"
#include "rdr/Exception.h"

namespace rdr {

uint64_t StreamSerial::next()
{
  static std::atomic<uint64_t> last{0};
  return ++last;
}

InStream::~InStream() = default;

void InStream::setCheckpoint()
{
  checkpointPos_ = pos();
  checkpointPtr_ = ptr_;
}

void InStream::rewind()
{
  if (!rewindable_)
    throw plat::Exception("Attempt to rewind a non-rewindable stream");
  ptr_ = checkpointPtr_;
}

void InStream::reposition(int64_t position)
{
  if (position < checkpointPos_)
    throw plat::Exception("Can't reposition before checkpoint");
  rewind();
  skip(position - checkpointPos_);
}

bool InStream::atEnd()
{
  return false;
}

bool InStream::check(bool wait, int size)
{
  if (!rewindable_)
    setCheckpoint();
  bool refilled;
  try {
    refilled = overrun(size);
  } catch (BlockException&) {
    refilled = false;
  }
  if (refilled) {
    if (ptr_ < end_)
      return true;
    throw plat::Exception("InStream overrun: buffer size exceeded");
  }
  if (rewindable_)
    rewind();
  if (wait)
    throw BlockException();
  return false;
}

const uint8_t* InStream::getBytes(void* buf, int len)
{
  if (len <= 0)
    return (const uint8_t*)buf;
  if (end_ - ptr_ < len)
    check(true, len);
  if (end_ - ptr_ >= len) {
    const uint8_t* p = ptr_;
    ptr_ += len;
    return p;
  }
  readBytes(buf, len);
  return (const uint8_t*)buf;
}

void InStream::readBytes(void* buf, int len)
{
  uint8_t* out = (uint8_t*)buf;
  while (len > 0) {
    if (ptr_ >= end_)
      check(true, 1);
    int n = std::min(len, (int)(end_ - ptr_));
    memcpy(out, ptr_, n);
    ptr_ += n;
    out += n;
    len -= n;
  }
}

const uint8_t* InStream::getItems(void* buf, int itemSize, int* nItems)
{
  PLAT_ASSERT(*nItems > 0);
  if (end_ - ptr_ < itemSize)
    check(true, itemSize);
  int whole = (int)((end_ - ptr_) / itemSize);
  if (whole >= 1) {
    int n = std::min(*nItems, whole);
    const uint8_t* p = ptr_;
    ptr_ += (ptrdiff_t)n * itemSize;
    *nItems = n;
    return p;
  }
  readBytes(buf, itemSize);
  *nItems = 1;
  return (const uint8_t*)buf;
}

const uint8_t* InStream::getItemsNB(int itemSize, int* nItems, bool wait)
{
  PLAT_ASSERT(*nItems > 0);
  if (end_ - ptr_ < itemSize && !check(wait, itemSize))
    return nullptr;
  int whole = (int)((end_ - ptr_) / itemSize);
  if (whole < 1)
    return nullptr;
  int n = std::min(*nItems, whole);
  const uint8_t* p = ptr_;
  ptr_ += (ptrdiff_t)n * itemSize;
  *nItems = n;
  return p;
}

void InStream::skip(int64_t n)
{
  while (n > 0) {
    if (ptr_ >= end_)
      check(true, 1);
    int64_t k = std::min<int64_t>(n, end_ - ptr_);
    ptr_ += k;
    n -= k;
  }
}

plat::String InStream::readCounted(int len, bool fixUtf8)
{
  if (len < 0)
    len = 0;
  plat::String s = plat::String::adopt(new char[(size_t)len + 1]);
  readBytes(s.data(), len);
  s.data()[len] = 0;
  if (fixUtf8 && !plat::isValidUtf8(s.get())) {
    s = plat::utf8Sanitise(s.get(), nullptr, -1);
    if (s.isNull())
      s = plat::String("");
  }
  return s;
}

plat::String InStream::readString(int maxLen, bool fixUtf8)
{
  uint32_t len = readU32();
  // A length beyond what a String can hold is refused whatever the limit.
  if (len > (uint32_t)maxLen || len >= (uint32_t)INT_MAX)
    throw StringTooLongException();
  return readCounted((int)len, fixUtf8);
}

plat::String InStream::readFixedString(int len, bool fixUtf8)
{
  return readCounted(len, fixUtf8);
}

plat::String InStream::readShortString(bool fixUtf8)
{
  return readCounted(readU8(), fixUtf8);
}

plat::SecureString InStream::readSecureShortString(bool fixUtf8)
{
  char buf[256];
  int len = readU8();
  readBytes(buf, len);
  buf[len] = 0;
  plat::SecureString result;
  if (fixUtf8 && !plat::isValidUtf8(buf)) {
    plat::String fixed = plat::utf8Sanitise(buf, nullptr, -1);
    result.assign(fixed.str());
    if (!fixed.isNull())
      plat::secureZero(fixed.data(), fixed.length());
  } else {
    result.assign(buf, len);
  }
  plat::secureZero(buf, sizeof(buf));
  return result;
}

bool InStream::readLine(plat::DString& line, int maxLen, bool* sawNul, bool fixUtf8)
{
  if (maxLen == 0)
    maxLen = kDefaultMaxLine;
  if (sawNul)
    *sawNul = false;
  line.clear();
  if (maxLen < 0)
    throw StringTooLongException();
  std::string text;
  text.reserve(64);
  for (;;) {
    if (ptr_ >= end_) {
      try {
        check(true, 1);
      } catch (EndOfStream&) {
        if (text.empty())
          throw;
        break;
      } catch (EndOfMsg&) {
        if (text.empty())
          throw;
        break;
      }
    }
    // Scan the window in one go; the stream only refills between chunks.
    const uint8_t* p = ptr_;
    bool ended = false;
    while (p < end_) {
      uint8_t c = *p++;
      if (c == '\n') {
        ended = true;
        break;
      }
      if (c == '\r')
        continue;
      if (c == 0 && sawNul)
        *sawNul = true;
      text.push_back((char)c);
      if ((int64_t)text.size() > maxLen) {
        ptr_ = p;
        line.clear();
        throw StringTooLongException();
      }
    }
    ptr_ = p;
    if (ended)
      break;
  }
  char* buf = new char[text.size() + 1];
  memcpy(buf, text.data(), text.size());
  buf[text.size()] = 0;
  line.adoptBuf(buf, (int)text.size() + 1);
  if (fixUtf8)
    return !line.makeValidUtf8();
  return true;
}

uint32_t InStream::readU32Below(uint32_t n)
{
  if (n == 0)
    return readU32();
  uint32_t threshold = (0u - n) % n;
  uint32_t v = readU32();
  for (int i = 1; i < 9 && v < threshold; i++)
    v = readU32();
  return v % n;
}

int InStream::readBytesFindNul(void* buf, int len)
{
  uint8_t* out = (uint8_t*)buf;
  int found = -1;
  for (int i = 0; i < len; i++) {
    out[i] = readU8();
    if (out[i] == 0 && found < 0)
      found = i;
  }
  return found;
}

} // namespace rdr
