#include "hosted/Bed.h"
#include "hosted/BedCoding.h"

namespace hosted {

using namespace bedcoding;

// --- Writing ------------------------------------------------------------------------

void BedWriter::writeSigned(int type, int64_t value)
{
  int w = signedWidth(value);
  writeItem(out_, w << 5 | type, w, (uint64_t)value);
}

void BedWriter::writeUnsigned(int type, uint64_t value)
{
  int w = unsignedWidth(value);
  writeItem(out_, w << 5 | type, w, value);
}

void BedWriter::writeString(const char* text, int length)
{
  if (!text)
    text = "";
  if (length < 0)
    length = (int)strlen(text);
  constexpr size_t kSeen = 1024;
  if (!seen_)
    seen_.reset(new Seen[kSeen]);
  Seen& seen = seen_[(reinterpret_cast<uintptr_t>(text) >> 4) % kSeen];
  if (seen.text == text && sameText(texts_[seen.index], text, (size_t)length)) {
    writeUnsigned(0, seen.index);
    return;
  }
  std::string_view view(text, length);
  uint32_t hash = hashText(text, (size_t)length);
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

namespace {

// A slot's tag: eight bits of the hash, never 0 (a free slot).
inline uint8_t slotTag(uint32_t hash) { return (uint8_t)(hash >> 24 | 1); }

} // namespace

int64_t BedWriter::find(std::string_view text, uint32_t hash) const
{
  if (tags_.empty())
    return -1;
  const size_t mask = tags_.size() - 1;
  const uint8_t tag = slotTag(hash);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (!tags_[i])
      return -1;
    if (tags_[i] == tag) {
      uint32_t index = indexes_[i];
      if (sameText(texts_[index], text.data(), text.size()))
        return index;
    }
  }
}

void BedWriter::insert(std::string_view text, uint32_t hash)
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

  if (texts_.size() * 2 > tags_.size()) {
    std::vector<uint8_t> tags(std::max<size_t>(64, tags_.size() * 2), 0);
    std::vector<uint32_t> indexes(tags.size());
    const size_t mask = tags.size() - 1;
    for (size_t t = 0; t < texts_.size(); t++) {
      size_t i = hashes_[t] & mask;
      while (tags[i])
        i = (i + 1) & mask;
      tags[i] = slotTag(hashes_[t]);
      indexes[i] = (uint32_t)t;
    }
    tags_.swap(tags);
    indexes_.swap(indexes);
    return;
  }
  const size_t mask = tags_.size() - 1;
  size_t i = hash & mask;
  while (tags_[i])
    i = (i + 1) & mask;
  tags_[i] = slotTag(hash);
  indexes_[i] = (uint32_t)(texts_.size() - 1);
}

void BedWriter::writeData(int type, int64_t length, const void* bytes)
{
  if (length < 0)
    throw BedException("BED value bad length");
  int w = length <= 255 ? 0 : length <= 65535 ? 1 : 2;
  writeItem(out_, 0x80 | w << 5 | type, w, (uint64_t)length);
  if (length == 0)
    return;
  if (out_.getEnd() - out_.getPtr() >= length) {
    memcpy(out_.getPtr(), bytes, (size_t)length);
    out_.setPtr(out_.getPtr() + length);
  } else {
    out_.writeBytes(bytes, (int)length);
  }
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
    if (e.key())
      w.writeString(e.key(), e.keyLength());
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

} // namespace hosted
