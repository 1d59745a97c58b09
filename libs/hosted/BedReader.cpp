#include "hosted/Bed.h"

#include <unordered_set>

#include "hosted/BedArena.h"
#include "hosted/BedCoding.h"
#include "rdr/Exception.h"

namespace hosted {

using namespace bedcoding;
using namespace bedarena;

// --- Reading ------------------------------------------------------------------------

BedReader::BedReader(int length, const void* bytes)
  : mem_(bytes, length), in_(&mem_), arena_(new BedArena), start_(0), max_(maxBedSize),
    bytes_(mem_.getPtr())
{
}

BedReader::BedReader(rdr::InStream& in)
  : mem_(nullptr, 0), in_(&in), arena_(new BedArena), start_(in.pos()), max_(maxBedSize)
{
}

BedReader::~BedReader()
{
  for (const Text& t : table_)
    BedArena::drop(t.text);
}

BedValuePtr BedReader::readValue()
{
  ArenaScope scope(arena_.get());
  BedValuePtr value;
  read(value);
  return value;
}

void BedReader::read(BedValuePtr& slot)
{
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  // Integers are the commonest values: read straight from the window when
  // it holds nine bytes (only 1 + width of them are taken).
  const uint8_t* p = in_->getPtr();
  if (in_->getEnd() - p >= 9 && (p[0] & 0x9F) == 0x01) {
    const int n = 1 << (p[0] >> 5);
    uint64_t w;
    memcpy(&w, p + 1, 8);
    const int64_t v = (int64_t)__builtin_bswap64(w) >> (64 - 8 * n);
    in_->consume(1 + n);
    slot.reset(new (*arena_) InArena<BedInt>(v));
    return;
  }
  int header = in_->readU8();
  if (header >= 0xE0)
    readComposite(header, slot);
  else if (header & 0x80)
    readVariable(header, slot);
  else
    readFixed(header, slot);
}

int64_t BedReader::readCount()
{
  // Nearly always a one-byte integer.
  const uint8_t* p = in_->getPtr();
  if (in_->getEnd() - p >= 2 && p[0] == 0x01 && depth_ < kMaxDepth &&
      consumed() < max_) {
    in_->consume(2);
    return (int8_t)p[1];
  }
  BedValuePtr count;
  read(count);
  return count->asInt().value();
}

void BedReader::readComposite(int header, BedValuePtr& slot)
{
  int64_t count = readCount();
  if ((uint64_t)count > 2147483646u || count * 8 >= max_ || count * 8 + consumed() >= max_)
    throw BedException("BED composite bad length");
  int type = header & 0x1F;
  // At most 1,024 slots up front: the rest grows with what is really read.
  size_t reserve = (size_t)std::min<int64_t>(count, 1024);
  if (type == 0) {
    if (count % 2)
      throw BedException("BED map bad length");
    BedMap* map = new (*arena_) InArena<BedMap>();
    slot.reset(map);
    BedMap::Entries& entries = map->entries_;
    entries.reserve(reserve / 2);
    // Small maps are searched in place; large ones through a set of views
    // of the entries' own keys (their texts stay put as the vector grows).
    constexpr int64_t kSmall = 16;
    const bool useSet = count / 2 > kSmall;
    std::unordered_set<std::string_view> seen;
    Text small[kSmall];
    for (int64_t i = 0; i < count / 2; i++) {
      BedMap::Entry& entry = entries.emplace_back();
      readKey(entry);
      const Text key{entry.key_, entry.keyLength()};
      bool duplicate = false;
      if (useSet) {
        duplicate = !seen.insert(std::string_view(key.text, key.length)).second;
      } else {
        for (int64_t j = 0; j < i; j++)
          duplicate |= sameKey(small[j].text, small[j].length, key.text, key.length);
        small[i] = key;
      }
      if (duplicate)
        throw BedException("BED decode error");
      read(entry.value);
    }
    return;
  }
  if (type == 1) {
    BedSeq* seq = new (*arena_) InArena<BedSeq>();
    slot.reset(seq);
    BedSeq::Elements& elements = seq->elements_;
    elements.reserve(reserve);
    for (int64_t i = 0; i < count; i++) {
      elements.emplace_back();
      read(elements.back());
    }
    return;
  }
  std::vector<BedValuePtr> children;
  children.reserve(reserve);
  for (int64_t i = 0; i < count; i++) {
    children.emplace_back();
    read(children.back());
  }
  slot.reset(new BedUnknown(type, std::move(children)));
}

void BedReader::readVariable(int header, BedValuePtr& slot)
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
    readText(len, &slot);
    return;
  }
  if (type == 1) {
    plat::MBuf<unsigned char> data(len);
    in_->readBytes(data.data(), len);
    slot.reset(new BedOpaque(std::move(data)));
    return;
  }
  int lenBytes = 1 << width;
  plat::MBuf<unsigned char> raw(1 + lenBytes + len);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < lenBytes; i++)
    raw[1 + i] = (unsigned char)(length >> (8 * (lenBytes - 1 - i)));
  in_->readBytes(raw.data() + 1 + lenBytes, len);
  slot.reset(new BedUnknown(std::move(raw)));
}

void BedReader::readFixed(int header, BedValuePtr& slot)
{
  int width = header >> 5 & 3;
  int type = header & 0x1F;
  uint64_t v = readNumber(*in_, width);
  switch (type) {
  case 1:
    slot.reset(new (*arena_) InArena<BedInt>(signExtend(v, width)));
    return;
  case 0: {
    const Text& t = repeat(v);
    slot.reset(ArenaString::share(*arena_, t.text, t.length));
    return;
  }
  case 2:
    if (width == 3) {
      slot.reset(new (*arena_) InArena<BedTime>(unpackTime(v)));
      return;
    }
    break;
  case 3:
    if (width == 0) {
      if (v > 1)
        throw BedException("BED decode error");
      slot.reset(new (*arena_) InArena<BedBool>(v == 1));
      return;
    }
    break;
  }
  int n = 1 << width;
  plat::MBuf<unsigned char> raw(1 + n);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < n; i++)
    raw[1 + i] = (unsigned char)(v >> (8 * (n - 1 - i)));
  slot.reset(new BedUnknown(std::move(raw)));
}

const BedReader::Text& BedReader::readText(int len, BedValuePtr* slot)
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
  if (!isCleanText(text, len))
    throw BedException("BED decode error");
  // Room first, so that nothing made below is lost to a failed push.
  if (table_.size() == table_.capacity())
    table_.reserve(std::max<size_t>(64, 2 * table_.capacity()));
  const char* placed;
  if (slot) {
    BedString* s = ArenaString::make(*arena_, text, len);
    slot->reset(s);
    placed = s->value();
  } else {
    placed = placeText(arena_->allocate(kTextHeader + (size_t)len + 1), text, len, kInArena);
  }
  if (slot)
    BedArena::hold(placed);
  Text& entry = table_.emplace_back();
  entry.text = placed;
  entry.length = len;
  if (inWindow)
    in_->consume(len);
  return entry;
}

const BedReader::Text& BedReader::repeat(uint64_t index)
{
  if (index >= table_.size())
    throw BedException("BED decode error");
  const Text& t = table_[index];
  // Two bytes on the wire stand for a whole text: the text counts against
  // the size limit as if it had been copied.
  repeated_ += t.length;
  if (consumed() > max_)
    throw BedException("BED data too large");
  return t;
}

void BedReader::readKey(BedMap::Entry& entry)
{
  const uint8_t* p = in_->getPtr();
  // Most keys repeat one of the first 256 texts.
  if (in_->getEnd() - p >= 2 && p[0] == 0x00 && p[1] < table_.size() && depth_ < kMaxDepth &&
      consumed() < max_) {
    in_->consume(2);
    entry.key_ = repeat(p[1]).text;
    BedArena::hold(entry.key_);
    return;
  }
  int header = p < in_->getEnd() ? *p : -1;
  int width = header >> 5 & 3;
  const bool text = header >= 0 && (header & 0x9F) == 0x80 && width < 3;
  const bool repeated = header >= 0 && (header & 0x9F) == 0x00;
  if (!text && !repeated) {
    // Every string header is one of the two above: this throws.
    BedValuePtr v;
    read(v);
    const BedString& s = v->asString();
    entry.key_ = ownKey(s.value(), s.length());
    return;
  }
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  in_->readU8();
  uint64_t n = readNumber(*in_, width);
  if (repeated) {
    entry.key_ = repeat(n).text;
    BedArena::hold(entry.key_);
    return;
  }
  if (n >= (uint64_t)max_ || (int64_t)n + consumed() >= max_)
    throw BedException("BED variable data too large");
  if (ownsBytes() && (uint64_t)in_->nUnread() < n)
    throw rdr::EndOfStream("End of in-memory input stream");
  entry.key_ = readText((int)n, nullptr).text;
  BedArena::hold(entry.key_);
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
  throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
}


} // namespace hosted
