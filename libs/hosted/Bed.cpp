#include "hosted/Bed.h"

#include <stdarg.h>
#include <string.h>

#include <unordered_set>

#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/OutStream.h"

namespace hosted {

const char* const kBedMediaType = "application/vnd.tessaly.bed";

plat::IntParameter maxBedSize("_MaxBedSize", "The most bytes one BED document may take", 16777216,
                              false, nullptr, 0, 2147483647);

namespace {

constexpr int kMaxDepth = 32;

// Smallest width code for a signed and an unsigned number.
int signedWidth(int64_t v)
{
  if (v >= -128 && v <= 127)
    return 0;
  if (v >= -32768 && v <= 32767)
    return 1;
  if (v >= INT32_MIN && v <= INT32_MAX)
    return 2;
  return 3;
}

int unsignedWidth(uint64_t v)
{
  if (v < 256)
    return 0;
  if (v < 65536)
    return 1;
  if (v <= 0xFFFFFFFFu)
    return 2;
  return 3;
}

void writeNumber(rdr::OutStream& out, int width, uint64_t v)
{
  switch (width) {
  case 0: out.writeU8((uint8_t)v); break;
  case 1: out.writeU16((uint16_t)v); break;
  case 2: out.writeU32((uint32_t)v); break;
  default: out.writeU64(v); break;
  }
}

uint64_t readNumber(rdr::InStream& in, int width)
{
  switch (width) {
  case 0: return in.readU8();
  case 1: return in.readU16();
  case 2: return in.readU32();
  default: return in.readU64();
  }
}

int64_t signExtend(uint64_t v, int width)
{
  switch (width) {
  case 0: return (int8_t)v;
  case 1: return (int16_t)v;
  case 2: return (int32_t)v;
  default: return (int64_t)v;
  }
}

// Packed time field layout (bit positions).
constexpr int kMsShift = 11, kSecShift = 21, kMinShift = 27, kHourShift = 33, kDayShift = 38,
              kMonShift = 43, kYearShift = 47;

uint64_t packTime(plat::Time ticks)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticks);
  int64_t ms = ticks / plat::kTicksPerMilli % 1000;
  if (ms < 0)
    ms += 1000;
  uint64_t year = (uint64_t)(tm.tm_year + 1900);
  return ((uint64_t)ms & 0x3FF) << kMsShift | ((uint64_t)tm.tm_sec & 0x3F) << kSecShift |
         ((uint64_t)tm.tm_min & 0x3F) << kMinShift | ((uint64_t)tm.tm_hour & 0x1F) << kHourShift |
         ((uint64_t)tm.tm_mday & 0x1F) << kDayShift |
         ((uint64_t)(tm.tm_mon + 1) & 0xF) << kMonShift | (year & 0x3FFF) << kYearShift;
}

plat::Time unpackTime(uint64_t v)
{
  if (v >> 61)
    throw BedException("BED decode error");
  int offset = (int)(v & 0x7FF);
  if (offset & 0x400)
    offset -= 0x800;
  int ms = (int)(v >> kMsShift & 0x3FF);
  int sec = (int)(v >> kSecShift & 0x3F);
  int min = (int)(v >> kMinShift & 0x3F);
  int hour = (int)(v >> kHourShift & 0x1F);
  int day = (int)(v >> kDayShift & 0x1F);
  int mon = (int)(v >> kMonShift & 0xF);
  int year = (int)(v >> kYearShift & 0x3FFF);
  plat::Time t;
  if (ms > 999 || !plat::isValidDateTime(year, mon, day, hour, min, sec) ||
      !plat::dateToTime(&t, year, mon, day, hour, min, sec))
    throw BedException("BED decode error");
  return t + ms * plat::kTicksPerMilli - (plat::Time)offset * 600000000;
}

// Raises the reader's depth for one value and restores it on the way out.
class DepthGuard {
public:
  explicit DepthGuard(int& depth) : depth_(depth)
  {
    if (depth_ >= kMaxDepth)
      throw BedException("Unsupported nesting");
    depth_++;
  }
  ~DepthGuard() { depth_--; }

private:
  int& depth_;
};

bool acceptedContentType(const char* type)
{
  static const char* const octet = "application/octet-stream";
  if (!strcmp(type, kBedMediaType) || !strcmp(type, octet))
    return true;
  plat::String copy(type);
  char* s = copy.data();
  size_t n = strlen(s);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (n && blank(s[n - 1]))
    s[--n] = 0;
  while (*s && blank(*s))
    s++;
  for (char* c = s; *c; c++)
    if (*c >= 'A' && *c <= 'Z')
      *c += 'a' - 'A';
  return !strcmp(s, kBedMediaType) || !strcmp(s, octet);
}

} // namespace

// --- Errors ----------------------------------------------------------------------

BedException::BedException(const char* message) : plat::Exception(message)
{
  setType("HostedBED");
}

BedException::BedException(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("HostedBED");
}

BedBadType::BedBadType() : BedException("Unexpected BED type") {}

// --- Values -----------------------------------------------------------------------

BedValue::~BedValue() = default;
BedInt& BedValue::asInt() { throw BedBadType(); }
BedBool& BedValue::asBool() { throw BedBadType(); }
BedTime& BedValue::asTime() { throw BedBadType(); }
BedString& BedValue::asString() { throw BedBadType(); }
BedOpaque& BedValue::asOpaque() { throw BedBadType(); }
BedMap& BedValue::asMap() { throw BedBadType(); }
BedSeq& BedValue::asSeq() { throw BedBadType(); }

plat::String BedValue::toText() const
{
  rdr::MemOutStream out;
  BedFormatter f(out);
  format(f, nullptr);
  plat::DString text;
  out.releaseString(text);
  return text.takeString();
}

BedValue& BedSeq::get(int index) const
{
  if (index < 0 || index >= size())
    throw BedException("BED index not found");
  return *elements_[index];
}

plat::StringSet BedSeq::toStringSet() const
{
  plat::StringSet set;
  for (const BedValuePtr& v : elements_)
    set.insert(plat::String(v->asString().value()));
  return set;
}

void BedSeq::appendStrings(const plat::StringSet& set)
{
  for (const plat::String& s : set)
    append(BedValuePtr(new BedString(s.str())));
}

const BedSeq& BedSeq::empty()
{
  static const BedSeq* e = new BedSeq;
  return *e;
}

BedString::BedString(const char* text, int length)
{
  if (!text)
    text = "";
  length_ = length < 0 ? (int)strlen(text) : length;
  text_ = static_cast<char*>(plat::jsonAllocate(length_ + 1));
  memcpy(text_, text, length_);
  text_[length_] = 0;
}

BedString::~BedString() { plat::jsonRelease(text_, length_ + 1); }

void BedMap::set(const char* key, const BedValuePtr& value)
{
  for (Entry& e : entries_) {
    if (plat::strCmpNull(e.key(), key) == 0) {
      e.value = value;
      return;
    }
  }
  entries_.push_back(Entry{plat::SharedHandle<BedString>(key ? new BedString(key) : nullptr), value});
}

const BedMap::Entry* BedMap::find(const char* key) const
{
  for (const Entry& e : entries_)
    if (plat::strCmpNull(e.key(), key) == 0)
      return &e;
  return nullptr;
}

BedValue& BedMap::get(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
  return *e->value;
}

const BedSeq& BedMap::getSeq(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    return BedSeq::empty();
  return e->value->asSeq();
}

BedValuePtr cloneBed(const BedValue& value)
{
  rdr::MemOutStream out;
  BedWriter w(out);
  value.encode(w);
  BedReader r((int)out.length(), out.data());
  return decodeBed(r, nullptr, false);
}

// --- Writing ------------------------------------------------------------------------

void BedWriter::writeSigned(int type, int64_t value)
{
  int w = signedWidth(value);
  out_.writeU8((uint8_t)(w << 5 | type));
  writeNumber(out_, w, (uint64_t)value);
}

void BedWriter::writeUnsigned(int type, uint64_t value)
{
  int w = unsignedWidth(value);
  out_.writeU8((uint8_t)(w << 5 | type));
  writeNumber(out_, w, value);
}

void BedWriter::writeString(const char* text, int length)
{
  if (!text)
    text = "";
  if (length < 0)
    length = (int)strlen(text);
  std::string_view view(text, length);
  constexpr size_t kSeen = 1024;
  if (!seen_)
    seen_.reset(new Seen[kSeen]);
  Seen& seen = seen_[(reinterpret_cast<uintptr_t>(text) >> 4) % kSeen];
  if (seen.text == text && texts_[seen.index] == view) {
    writeUnsigned(0, seen.index);
    return;
  }
  size_t hash = std::hash<std::string_view>()(view);
  int64_t index = find(view, hash);
  if (index >= 0) {
    writeUnsigned(0, (uint64_t)index);
    seen = Seen{text, (uint32_t)index};
    return;
  }
  writeData(0, length, text);
  insert(view, hash);
  seen = Seen{text, (uint32_t)(texts_.size() - 1)};
}

int64_t BedWriter::find(std::string_view text, size_t hash) const
{
  if (slots_.empty())
    return -1;
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    uint32_t slot = slots_[i];
    if (!slot)
      return -1;
    if (texts_[slot - 1] == text)
      return slot - 1;
  }
}

void BedWriter::insert(std::string_view text, size_t hash)
{
  // Copied into the current chunk (a new one when it is full), so the table
  // does not depend on the caller's text staying put.
  constexpr size_t kChunk = 64 * 1024;
  if (text.size() > chunkFree_) {
    size_t size = std::max(kChunk, text.size());
    chunks_.emplace_back(new char[size]);
    chunkNext_ = chunks_.back().get();
    chunkFree_ = size;
  }
  if (!text.empty())
    memcpy(chunkNext_, text.data(), text.size());
  texts_.push_back(std::string_view(chunkNext_, text.size()));
  hashes_.push_back(hash);
  chunkNext_ += text.size();
  chunkFree_ -= text.size();

  if (texts_.size() * 2 > slots_.size()) {
    std::vector<uint32_t> slots(std::max<size_t>(64, slots_.size() * 2), 0);
    size_t mask = slots.size() - 1;
    for (size_t t = 0; t < texts_.size(); t++) {
      size_t i = hashes_[t] & mask;
      while (slots[i])
        i = (i + 1) & mask;
      slots[i] = (uint32_t)t + 1;
    }
    slots_.swap(slots);
    return;
  }
  size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  while (slots_[i])
    i = (i + 1) & mask;
  slots_[i] = (uint32_t)texts_.size();
}

void BedWriter::writeData(int type, int64_t length, const void* bytes)
{
  if (length < 0)
    throw BedException("BED value bad length");
  int w = length <= 255 ? 0 : length <= 65535 ? 1 : 2;
  out_.writeU8((uint8_t)(0x80 | w << 5 | type));
  writeNumber(out_, w, (uint64_t)length);
  out_.writeBytes(bytes, (int)length);
}

void BedInt::encode(BedWriter& w) const { w.writeSigned(1, value_); }
void BedBool::encode(BedWriter& w) const { w.writeUnsigned(3, value_ ? 1 : 0); }
void BedTime::encode(BedWriter& w) const { w.writeUnsigned(2, packTime(ticks_)); }
void BedString::encode(BedWriter& w) const { w.writeString(text_, length_); }
void BedOpaque::encode(BedWriter& w) const { w.writeData(1, data_.length(), data_.data()); }

void BedMap::encode(BedWriter& w) const
{
  w.stream().writeU8(0xE0);
  w.writeSigned(1, 2 * (int64_t)entries_.size());
  for (const Entry& e : entries_) {
    if (e.keyText)
      w.writeString(e.keyText->value(), e.keyText->length());
    else
      w.writeString("", 0);
    e.value->encode(w);
  }
}

void BedSeq::encode(BedWriter& w) const
{
  w.stream().writeU8(0xE1);
  w.writeSigned(1, (int64_t)elements_.size());
  for (const BedValuePtr& v : elements_)
    v->encode(w);
}

void BedUnknown::encode(BedWriter& w) const
{
  if (type_ < 0) {
    w.stream().writeBytes(raw_.data(), raw_.length());
    return;
  }
  w.stream().writeU8((uint8_t)(0xE0 | type_));
  w.writeSigned(1, (int64_t)children_.size());
  for (const BedValuePtr& v : children_)
    v->encode(w);
}

// --- Reading ------------------------------------------------------------------------

BedReader::BedReader(int length, const void* bytes)
  : mem_(bytes, length), in_(&mem_), start_(0), max_(maxBedSize)
{
}

BedReader::BedReader(rdr::InStream& in)
  : mem_(nullptr, 0), in_(&in), start_(in.pos()), max_(maxBedSize)
{
}

BedValuePtr BedReader::readValue()
{
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  int header = in_->readU8();
  if (header >= 0xE0)
    return readComposite(header);
  if (header & 0x80)
    return readVariable(header);
  return readFixed(header);
}

BedValuePtr BedReader::readComposite(int header)
{
  int64_t count = readValue()->asInt().value();
  if ((uint64_t)count > 2147483646u || count * 8 >= max_ || count * 8 + consumed() >= max_)
    throw BedException("BED composite bad length");
  int type = header & 0x1F;
  // At most 1,024 slots up front: the rest grows with what is really read.
  size_t reserve = (size_t)std::min<int64_t>(count, 1024);
  if (type == 0) {
    if (count % 2)
      throw BedException("BED map bad length");
    BedValuePtr result(new BedMap);
    BedMap::Entries& entries = static_cast<BedMap&>(*result).entries_;
    entries.reserve(reserve / 2);
    // Small maps are searched in place; large ones through a set of views
    // of the entries' own keys (their buffers stay put as the vector grows).
    const bool useSet = count / 2 > 16;
    std::unordered_set<std::string_view> seen;
    for (int64_t i = 0; i < count / 2; i++) {
      plat::SharedHandle<BedString> key = readKey();
      std::string_view kv(key->value(), key->length());
      bool duplicate = false;
      if (useSet) {
        duplicate = seen.count(kv) != 0;
      } else {
        for (const BedMap::Entry& e : entries)
          duplicate = duplicate || kv == std::string_view(e.keyText->value(), e.keyText->length());
      }
      if (duplicate)
        throw BedException("BED decode error");
      entries.push_back(BedMap::Entry{std::move(key), BedValuePtr()});
      entries.back().value = readValue();
      if (useSet)
        seen.insert(kv);
    }
    return result;
  }
  if (type == 1) {
    BedSeq* seq = new BedSeq;
    BedValuePtr result(seq);
    seq->reserve(reserve);
    for (int64_t i = 0; i < count; i++)
      seq->append(readValue());
    return result;
  }
  std::vector<BedValuePtr> children;
  children.reserve(reserve);
  for (int64_t i = 0; i < count; i++)
    children.push_back(readValue());
  return BedValuePtr(new BedUnknown(type, std::move(children)));
}

BedValuePtr BedReader::readVariable(int header)
{
  int width = header >> 5 & 3;
  int type = header & 0x1F;
  uint64_t length = readNumber(*in_, width);
  if (length >= (uint64_t)max_ || (int64_t)length + consumed() >= max_)
    throw BedException("BED variable data too large");
  int len = (int)length;
  // Over its own bytes the reader knows what is left: a length past the end
  // is a truncation, found before anything is allocated.
  if (ownsBytes() && in_->nUnread() < len)
    throw rdr::EndOfStream("End of in-memory input stream");
  if (type == 0) {
    return readText(len);
  }
  if (type == 1) {
    plat::MBuf<unsigned char> data(len);
    in_->readBytes(data.data(), len);
    return BedValuePtr(new BedOpaque(std::move(data)));
  }
  int lenBytes = 1 << width;
  plat::MBuf<unsigned char> raw(1 + lenBytes + len);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < lenBytes; i++)
    raw[1 + i] = (unsigned char)(length >> (8 * (lenBytes - 1 - i)));
  in_->readBytes(raw.data() + 1 + lenBytes, len);
  return BedValuePtr(new BedUnknown(std::move(raw)));
}

BedValuePtr BedReader::readFixed(int header)
{
  int width = header >> 5 & 3;
  int type = header & 0x1F;
  uint64_t v = readNumber(*in_, width);
  switch (type) {
  case 1:
    return BedValuePtr(new BedInt(signExtend(v, width)));
  case 0:
    return repeat(v);
  case 2:
    if (width == 3)
      return BedValuePtr(new BedTime(unpackTime(v)));
    break;
  case 3:
    if (width == 0) {
      if (v > 1)
        throw BedException("BED decode error");
      return BedValuePtr(new BedBool(v == 1));
    }
    break;
  }
  int n = 1 << width;
  plat::MBuf<unsigned char> raw(1 + n);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < n; i++)
    raw[1 + i] = (unsigned char)(v >> (8 * (n - 1 - i)));
  return BedValuePtr(new BedUnknown(std::move(raw)));
}

plat::SharedHandle<BedString> BedReader::readText(int len)
{
  // In place when the window holds the whole text.
  const char* text = reinterpret_cast<const char*>(in_->getPtr());
  const bool inWindow = in_->nUnread() >= len;
  std::unique_ptr<char[]> copy;
  if (!inWindow) {
    copy.reset(new char[len]);
    in_->readBytes(copy.get(), len);
    text = copy.get();
  }
  // A NUL would cut the text short: refused, like invalid UTF-8.
  if (memchr(text, 0, len) || !plat::isValidUtf8(text, text + len))
    throw BedException("BED decode error");
  plat::SharedHandle<BedString> result(new BedString(text, len));
  if (inWindow)
    in_->consume(len);
  table_.push_back(result);
  return result;
}

plat::SharedHandle<BedString> BedReader::repeat(uint64_t index)
{
  if (index >= table_.size())
    throw BedException("BED decode error");
  const plat::SharedHandle<BedString>& s = table_[index];
  // Two bytes on the wire stand for a whole text: the text counts against
  // the size limit as if it had been copied.
  repeated_ += s->length();
  if (consumed() > max_)
    throw BedException("BED data too large");
  return s;
}

plat::SharedHandle<BedString> BedReader::readKey()
{
  const uint8_t* p = in_->getPtr();
  int header = p < in_->getEnd() ? *p : -1;
  int width = header >> 5 & 3;
  const bool text = header >= 0 && (header & 0x9F) == 0x80 && width < 3;
  const bool repeated = header >= 0 && (header & 0x9F) == 0x00;
  if (!text && !repeated) {
    BedValuePtr v = readValue();
    v->asString();
    return plat::sharedHandleCast<BedString>(v);
  }
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  in_->readU8();
  uint64_t n = readNumber(*in_, width);
  if (repeated)
    return repeat(n);
  if (n >= (uint64_t)max_ || (int64_t)n + consumed() >= max_)
    throw BedException("BED variable data too large");
  if (ownsBytes() && (uint64_t)in_->nUnread() < n)
    throw rdr::EndOfStream("End of in-memory input stream");
  return readText((int)n);
}

BedValuePtr decodeBed(BedReader& reader, const char* contentType, bool strict)
{
  if (contentType && !acceptedContentType(contentType))
    throw BedException("Unknown Content-Type");
  BedValuePtr root;
  try {
    root = reader.readValue();
  } catch (rdr::EndOfStream&) {
    throw BedException("Truncated BED");
  }
  if (strict) {
    root->asMap();
    if (reader.ownsBytes() && reader.stream().nUnread() > 0)
      throw BedException("Trailing bytes after BED");
  }
  return root;
}

BedSpan findBedKey(int length, const void* bytes, const char* key)
{
  const unsigned char* base = static_cast<const unsigned char*>(bytes);
  if (length < 1 || base[0] != 0xE0)
    throw BedException("BED data not a map");
  BedReader reader(length, bytes);
  rdr::InStream& in = reader.stream();
  try {
    in.readU8();
    int64_t count = reader.readValue()->asInt().value();
    if (count < 0 || count % 2)
      throw BedException("BED decode error");
    for (int64_t i = 0; i < count / 2; i++) {
      BedValuePtr k = reader.readValue();
      const BedString& ks = k->asString();
      int64_t start = in.pos();
      reader.readValue();
      if (key && !strcmp(ks.value(), key))
        return BedSpan{base + start, (int)(in.pos() - start)};
    }
  } catch (rdr::EndOfStream&) {
    throw BedException("Truncated BED");
  }
  throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
}

} // namespace hosted
