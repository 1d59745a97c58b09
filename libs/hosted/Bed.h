// BED, the binary value format of the hosted services: the value tree, its
// encoding (BedWriter, BedReader, decodeBed, findBedKey) and its log
// notation (BedFormatter, formatBed).
//
// Every value is owned through BedValuePtr, the project's shared handle;
// maps and sequences hold handles to their children, so a tree goes with
// the last handle to its root. Callers take a value apart with the checked
// casts (asInt, asMap, ...), which throw BedBadType for the wrong kind.
// A reader belongs to one document and one thread; so does a writer, whose
// string table makes repeated texts two or three bytes long. A decoded tree
// lives in its reader's arena (see BedReader), whose chunk counts its values
// share: the values of one document, and its reader while it lasts, belong
// to one thread at a time.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hosted/Forward.h"
#include "plat/ConfigParameter.h"
#include "plat/Json.h"
#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "plat/SharedHandle.h"
#include "plat/String.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"
#include "rdr/TextWriter.h"

namespace hosted {

// "application/vnd.tessaly.bed".
extern const char* const kBedMediaType;
// `_MaxBedSize`: the most bytes one document may take.
extern plat::IntParameter maxBedSize;

// Every BED failure: type "HostedBED".
class BedException : public plat::Exception {
public:
  explicit BedException(const char* message);
  BedException(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

// A cast to the wrong kind: "Unexpected BED type".
class BedBadType : public BedException {
public:
  BedBadType();
};

class BedArena;

// Storage of the containers' vectors: from the arena of the reader running
// on this thread, else from the small-object pool (a word in front says
// which, so a decoded vector may grow or go after its reader).
void* bedAllocate(size_t bytes);
void bedRelease(void* p, size_t bytes);

template <class T> struct BedAllocator {
  typedef T value_type;
  BedAllocator() = default;
  template <class U> BedAllocator(const BedAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(bedAllocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { bedRelease(p, n * sizeof(T)); }
  template <class U> bool operator==(const BedAllocator<U>&) const { return true; }
  template <class U> bool operator!=(const BedAllocator<U>&) const { return false; }
};

class BedValue {
public:
  virtual ~BedValue();

  // --- Checked casts: each kind answers its own, the rest throw BedBadType
  virtual BedInt& asInt();
  virtual BedBool& asBool();
  virtual BedTime& asTime();
  virtual BedString& asString();
  virtual BedOpaque& asOpaque();
  virtual BedMap& asMap();
  virtual BedSeq& asSeq();
  const BedInt& asInt() const { return const_cast<BedValue*>(this)->asInt(); }
  const BedBool& asBool() const { return const_cast<BedValue*>(this)->asBool(); }
  const BedTime& asTime() const { return const_cast<BedValue*>(this)->asTime(); }
  const BedString& asString() const { return const_cast<BedValue*>(this)->asString(); }
  const BedOpaque& asOpaque() const { return const_cast<BedValue*>(this)->asOpaque(); }
  const BedMap& asMap() const { return const_cast<BedValue*>(this)->asMap(); }
  const BedSeq& asSeq() const { return const_cast<BedValue*>(this)->asSeq(); }

  // Appends the value's encoding.
  virtual void encode(BedWriter& writer) const = 0;
  // Renders the value; key is the map key it stands under, or null.
  virtual void format(BedFormatter& formatter, const char* key) const = 0;

  // The notation at indentation 0.
  plat::String toText() const;

  // From the small-object pool that JSON values use: a document holds many
  // small values.
  static void* operator new(size_t size) { return plat::jsonAllocate(size); }
  static void operator delete(void* p, size_t size) { plat::jsonRelease(p, size); }

protected:
  BedValue() = default;
  BedValue(const BedValue&) = delete;
  BedValue& operator=(const BedValue&) = delete;
};

class BedInt : public BedValue {
public:
  explicit BedInt(int64_t value) : value_(value) {}
  BedInt& asInt() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  int64_t value() const { return value_; }

private:
  int64_t value_;
};

class BedBool : public BedValue {
public:
  explicit BedBool(bool value) : value_(value) {}
  BedBool& asBool() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  bool value() const { return value_; }

private:
  bool value_;
};

// 100-ns ticks since 1601; the encoding keeps milliseconds.
class BedTime : public BedValue {
public:
  explicit BedTime(plat::Time ticks) : ticks_(ticks) {}
  BedTime& asTime() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  plat::Time value() const { return ticks_; }

private:
  plat::Time ticks_;
};

class BedString : public BedValue {
public:
  // A copy of the text.
  explicit BedString(const char* text, int length = -1);
  ~BedString() override;
  BedString& asString() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  const char* value() const { return text_; }
  int length() const { return length_; }

protected:
  // Over a NUL-terminated text placed by the caller (the reader's arena),
  // which outlives the value.
  struct Placed {};
  BedString(Placed, char* text, int length) : text_(text), length_(length), ownsText_(false) {}

private:
  // NUL-terminated, from the values' pool unless placed.
  char* text_;
  int length_;
  bool ownsText_ = true;
};

class BedOpaque : public BedValue {
public:
  BedOpaque(const void* data, int length, bool secure = false)
    : data_(static_cast<const unsigned char*>(data), length, secure)
  {
  }
  explicit BedOpaque(plat::MBuf<unsigned char>&& data) : data_(std::move(data)) {}
  BedOpaque& asOpaque() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  const plat::MBuf<unsigned char>& value() const { return data_; }
  int length() const { return data_.length(); }
  const unsigned char* data() const { return data_.data(); }

private:
  plat::MBuf<unsigned char> data_;
};

class BedSeq : public BedValue {
public:
  typedef std::vector<BedValuePtr, BedAllocator<BedValuePtr>> Elements;
  typedef Elements::const_iterator const_iterator;

  BedSeq() = default;
  BedSeq& asSeq() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;

  void append(const BedValuePtr& value) { elements_.push_back(value); }
  void append(BedValuePtr&& value) { elements_.push_back(std::move(value)); }
  void reserve(size_t n) { elements_.reserve(n); }
  // Throws "BED index not found" outside 0 .. size-1.
  BedValue& get(int index) const;
  int size() const { return (int)elements_.size(); }
  const_iterator begin() const { return elements_.begin(); }
  const_iterator end() const { return elements_.end(); }

  // The texts of the elements; BedBadType at a non-string.
  plat::StringSet toStringSet() const;
  void appendStrings(const plat::StringSet& set);

  // The process-wide empty sequence that getSeq answers for a missing key.
  static const BedSeq& empty();

private:
  friend class BedReader;
  Elements elements_;
};

class BedMap : public BedValue {
public:
  // Keys are immutable texts. A decoded document's maps share theirs (held
  // in its arena); a key set by a caller is the entry's own copy.
  class Entry {
  public:
    Entry() = default;
    Entry(Entry&& other) noexcept : value(std::move(other.value)), key_(other.key_)
    {
      other.key_ = nullptr;
    }
    Entry& operator=(Entry&& other) noexcept;
    ~Entry();

    const char* key() const { return key_; }
    int keyLength() const;

    BedValuePtr value;

  private:
    friend class BedMap;
    friend class BedReader;
    // NUL-terminated, behind a 32-bit word: the length, and in the top bit
    // whether the text lies in an arena.
    const char* key_ = nullptr;
  };
  typedef std::vector<Entry, BedAllocator<Entry>> Entries;
  typedef Entries::const_iterator const_iterator;

  BedMap() = default;
  BedMap& asMap() override { return *this; }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;

  // Replaces the value of an existing key in place, else appends.
  void set(const char* key, const BedValuePtr& value);
  // Null when absent; the first equal key wins (a null key matches only null).
  const Entry* find(const char* key) const;
  // Throws "BED key '%s' not found" when absent or empty.
  BedValue& get(const char* key) const;
  // asSeq of the value, or the empty sequence when absent.
  const BedSeq& getSeq(const char* key) const;

  int size() const { return (int)entries_.size(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

private:
  friend class BedReader;
  Entries entries_;
};

// A value of a type this side does not know, written back unchanged: raw
// bytes (header included) for fixed and variable values, children for a
// composite.
class BedUnknown : public BedValue {
public:
  // Raw form; type code -1.
  explicit BedUnknown(plat::MBuf<unsigned char>&& raw) : type_(-1), raw_(std::move(raw)) {}
  // Composite form.
  BedUnknown(int type, std::vector<BedValuePtr>&& children)
    : type_(type), children_(std::move(children))
  {
  }
  void encode(BedWriter& writer) const override;
  void format(BedFormatter& formatter, const char* key) const override;
  int type() const { return type_; }
  const std::vector<BedValuePtr>& children() const { return children_; }
  const plat::MBuf<unsigned char>& raw() const { return raw_; }

private:
  int type_;
  std::vector<BedValuePtr> children_;
  plat::MBuf<unsigned char> raw_;
};

// A deep copy, through the encoding.
BedValuePtr cloneBed(const BedValue& value);

// --- Encoding -------------------------------------------------------------------

// Writes one document to a borrowed stream.
class BedWriter {
public:
  explicit BedWriter(rdr::OutStream& out) : out_(out) {}
  BedWriter(const BedWriter&) = delete;
  BedWriter& operator=(const BedWriter&) = delete;

  // Header (width << 5 | type) and the number in the smallest width.
  void writeSigned(int type, int64_t value);
  void writeUnsigned(int type, uint64_t value);
  // A repeat index for a text written before in this document, else the
  // text in full.
  void writeString(const char* text, int length = -1);
  // Header (0x80 | width << 5 | type), length, bytes; a negative length is
  // "BED value bad length".
  void writeData(int type, int64_t length, const void* bytes);
  rdr::OutStream& stream() { return out_; }

private:
  // The index of a text written in full, or -1.
  int64_t find(std::string_view text, uint32_t hash) const;
  void insert(std::string_view text, uint32_t hash);

  rdr::OutStream& out_;
  // The string table: copies of the texts in chunks, and an open-addressing
  // index over them. Lookups of new texts, most of them, touch only the
  // tags (eight bits of the hash, 0 for a free slot).
  std::vector<std::string_view> texts_;
  std::vector<uint32_t> hashes_;
  std::vector<uint8_t> tags_;
  std::vector<uint32_t> indexes_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  // Texts of a decoded document are shared objects: the last index seen
  // for a text's address answers most lookups without hashing (checked
  // against the table, so a reused address costs only the check).
  struct Seen {
    const char* text = nullptr;
    uint32_t index = 0;
  };
  std::unique_ptr<Seen[]> seen_;
  char* chunkNext_ = nullptr;
  size_t chunkFree_ = 0;
};

// Reads one document from a byte range (its own memory stream) or from a
// borrowed stream, within `_MaxBedSize` as it was when the reader was made.
//
// The values it makes come from the reader's arena: chunks that are filled
// in order and freed when the last value in them goes (and the reader has
// moved on), so a decoded tree costs one bump per value and keeps its
// values together. A value kept from a large document keeps its chunk.
class BedReader {
public:
  BedReader(int length, const void* bytes);
  explicit BedReader(rdr::InStream& in);
  ~BedReader();
  BedReader(const BedReader&) = delete;
  BedReader& operator=(const BedReader&) = delete;

  BedValuePtr readValue();
  // True when the reader reads its own byte range.
  bool ownsBytes() const { return in_ == &mem_; }
  rdr::InStream& stream() { return *in_; }

  // Nesting already used by an enclosing rendering (see formatBed).
  void setDepth(int depth) { depth_ = depth; }

private:
  // Texts are immutable: repeats, keys and the table share them in the
  // arena, each holding the text's chunk.
  struct Text {
    const char* text;
    int length;
  };

  // Each reads one value into an empty slot.
  void read(BedValuePtr& slot);
  void readComposite(int header, BedValuePtr& slot);
  void readVariable(int header, BedValuePtr& slot);
  void readFixed(int header, BedValuePtr& slot);
  // A composite's count: an integer value one level down.
  int64_t readCount();
  // A map key: a string or a repeat read straight; anything else is what
  // read and asString make of it.
  void readKey(BedMap::Entry& entry);
  // A variable string whose header and length have been read, added to the
  // table; with a slot, also made a string value there.
  const Text& readText(int len, BedValuePtr* slot);
  const Text& repeat(uint64_t index);
  // Bytes taken so far, counting text copied by repeats.
  int64_t consumed()
  {
    return (ownsBytes() ? in_->getPtr() - bytes_ : in_->pos() - start_) + repeated_;
  }

  rdr::MemInStream mem_;
  rdr::InStream* in_;
  std::unique_ptr<BedArena> arena_;
  std::vector<Text> table_;
  int64_t start_;
  int64_t max_;
  int depth_ = 0;
  int64_t repeated_ = 0;
  // The start of the byte range read, or null.
  const uint8_t* bytes_ = nullptr;
};

// The root of a document. A non-null content type must be the BED media
// type or "application/octet-stream" (case and surrounding blanks aside);
// strict requires a map and, over a byte range, nothing after it.
BedValuePtr decodeBed(BedReader& reader, const char* contentType, bool strict);

// The encoded value stored under key in the top-level map, as it lies in
// bytes. Bytes that end early give the stream's rdr::EndOfStream.
struct BedSpan {
  const unsigned char* data;
  int length;
};
BedSpan findBedKey(int length, const void* bytes, const char* key);

// --- Notation ---------------------------------------------------------------------

class BedFormatter {
public:
  explicit BedFormatter(rdr::OutStream& out) : out_(&out) {}
  rdr::TextWriter& out() { return out_; }
  unsigned indent() const { return indent_; }

  // For the composites: children one level deeper, two spaces further in.
  void writeComposite(const char* open, const BedValuePtr* first, const BedValuePtr* last,
                      const char* close);
  void writeMap(const BedMap& map);
  void writeQuoted(const char* text);
  void writeNewline(unsigned indent);
  // Nested BED under "any/application-data": comment lines.
  void writeNested(const plat::MBuf<unsigned char>& bytes);

  // Levels of composites and nested renderings around the current value.
  int depth() const { return depth_; }
  void setDepth(int depth) { depth_ = depth; }

private:
  class Level;
  rdr::TextWriter out_;
  unsigned indent_ = 0;
  int depth_ = 0;
};

// The notation of a document, or "<not BED-encoded data: %s>" with the
// error's message.
plat::String formatBed(int length, const void* bytes, const char* contentType);

} // namespace hosted
