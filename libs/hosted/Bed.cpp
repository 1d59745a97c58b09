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

void BedMap::set(const char* key, const BedValuePtr& value)
{
  for (Entry& e : entries_) {
    if (plat::strCmpNull(e.key.get(), key) == 0) {
      e.value = value;
      return;
    }
  }
  entries_.push_back(Entry{plat::String(key), value});
}

const BedMap::Entry* BedMap::find(const char* key) const
{
  for (const Entry& e : entries_)
    if (plat::strCmpNull(e.key.get(), key) == 0)
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
  auto it = index_.find(std::string_view(text, length));
  if (it != index_.end()) {
    writeUnsigned(0, it->second);
    return;
  }
  std::unique_ptr<char[]> copy(new char[length + 1]);
  memcpy(copy.get(), text, length);
  copy[length] = 0;
  index_.emplace(std::string_view(copy.get(), length), (uint32_t)texts_.size());
  texts_.push_back(std::move(copy));
  writeData(0, length, text);
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
void BedString::encode(BedWriter& w) const { w.writeString(text_.str()); }
void BedOpaque::encode(BedWriter& w) const { w.writeData(1, data_.length(), data_.data()); }

void BedMap::encode(BedWriter& w) const
{
  w.stream().writeU8(0xE0);
  w.writeSigned(1, 2 * (int64_t)entries_.size());
  for (const Entry& e : entries_) {
    w.writeString(e.key.str());
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
  // Reserved from the data actually seen, not from the count alone.
  size_t reserve = (size_t)std::min<int64_t>(count, 1024);
  if (type == 0) {
    if (count % 2)
      throw BedException("BED map bad length");
    BedValuePtr result(new BedMap);
    std::vector<BedMap::Entry>& entries = static_cast<BedMap&>(*result).entries_;
    entries.reserve(reserve / 2);
    // Small maps are searched in place; large ones through a set of views
    // of the entries' own keys (their buffers stay put as the vector grows).
    const bool useSet = count / 2 > 16;
    std::unordered_set<std::string_view> seen;
    for (int64_t i = 0; i < count / 2; i++) {
      BedValuePtr key = readValue();
      const BedString& k = key->asString();
      std::string_view kv(k.value(), k.length());
      bool duplicate = false;
      if (useSet) {
        duplicate = seen.count(kv) != 0;
      } else {
        for (const BedMap::Entry& e : entries)
          duplicate = duplicate || kv == e.key.str();
      }
      if (duplicate)
        throw BedException("BED decode error");
      BedValuePtr value = readValue();
      entries.push_back(BedMap::Entry{plat::String(k.value(), k.length()), std::move(value)});
      if (useSet)
        seen.insert(std::string_view(entries.back().key.str(), k.length()));
    }
    return result;
  }
  std::vector<BedValuePtr> children;
  children.reserve(reserve);
  for (int64_t i = 0; i < count; i++)
    children.push_back(readValue());
  if (type == 1) {
    BedSeq* seq = new BedSeq;
    BedValuePtr result(seq);
    seq->reserve(children.size());
    for (BedValuePtr& c : children)
      seq->append(c);
    return result;
  }
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
    // Read in place when the window holds the whole text.
    plat::MBuf<char> copy;
    const bool inWindow = in_->nUnread() >= len;
    const char* text = reinterpret_cast<const char*>(in_->getPtr());
    if (!inWindow) {
      copy.resize(len);
      in_->readBytes(copy.data(), len);
      text = copy.data();
    }
    // A NUL would cut the text short: refused, like invalid UTF-8.
    if (memchr(text, 0, len) || !plat::isValidUtf8(text, text + len))
      throw BedException("BED decode error");
    table_.push_back(plat::String(text, len));
    BedValuePtr result(new BedString(text, len));
    if (inWindow)
      in_->consume(len);
    return result;
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
  case 0: {
    if (v >= table_.size())
      throw BedException("BED decode error");
    const plat::String& s = table_[v];
    int len = s.length();
    // A repeat is two bytes on the wire but a whole text in memory: the
    // copy counts against the size limit.
    repeated_ += len;
    if (consumed() > max_)
      throw BedException("BED data too large");
    return BedValuePtr(new BedString(s.str(), len));
  }
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
