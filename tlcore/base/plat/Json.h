// JSON values, the strict parser and the writer.
//
// A document is a tree of values held through plat::JsonPtr handles: copies
// of a handle share the value, and the last one deletes it. Values are made
// with new and handed to a handle (or to JsonObject::set and
// JsonArray::append, which take ownership). Numbers are signed 64-bit
// integers; object keys are unique and keep their insertion order; strings
// are valid UTF-8 without U+0000. Nesting is limited to kMaxDepth levels
// below the top value, for parsing and for writing alike, and a tree built
// in code can never contain itself. Every error is a plat::JsonException
// (one plain plat::Exception, for checkLength).
//
// No locks: a tree and all of its handles belong to one thread at a time.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "plat/NonCopyable.h"
#include "plat/SharedHandle.h"
#include "plat/String.h"
#include "plat/Time.h"

#include "rdr/Forward.h"

namespace plat {

template <class T> using JsonPtr = SharedHandle<T>;

// The pool that values, keys and the containers' vectors come from: blocks
// of up to 256 bytes kept per thread for reuse and never handed back to the
// system (the system allocator serves larger ones, and all of them under
// AddressSanitizer, which must see every allocation). A block may be
// released on another thread than the one that took it.
void* jsonAllocate(size_t bytes);
void jsonRelease(void* p, size_t bytes);

template <class T> struct JsonAllocator {
  typedef T value_type;
  JsonAllocator() = default;
  template <class U> JsonAllocator(const JsonAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(jsonAllocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { jsonRelease(p, n * sizeof(T)); }
  template <class U> bool operator==(const JsonAllocator<U>&) const { return true; }
  template <class U> bool operator!=(const JsonAllocator<U>&) const { return false; }
};

class JsonNumber;
class JsonBool;
class JsonNull;
class JsonString;
class JsonObject;
class JsonArray;

class JsonException : public Exception {
public:
  // The code does not enter the text; every thrower passes 1.
  JsonException(int code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  // A failed checked conversion: "Unexpected JSON type", type "Json".
  explicit JsonException(int code);
};

class JsonValue : public NonCopyable {
public:
  enum Kind : uint8_t { kNumber, kBool, kNull, kString, kObject, kArray };

  // The deepest level a value may sit at below the top value (which is at 0).
  static constexpr int kMaxDepth = 32;

  // Checked conversions: each kind answers its own, the others throw
  // "Unexpected JSON type".
  virtual JsonNumber& asNumber();
  virtual JsonBool& asBool();
  virtual JsonNull& asNull();
  virtual JsonString& asString();
  virtual JsonObject& asObject();
  virtual JsonArray& asArray();

  // Appends the value in the standard layout, nested lines indented by
  // indent + 2 spaces per level; indent kCompact writes it without any
  // whitespace. A tree nested deeper than kMaxDepth is refused with
  // "Unsupported nesting" (part of it may have been written).
  static constexpr int kCompact = -1;
  virtual void write(rdr::TextWriter& out, int indent) const = 0;

  virtual ~JsonValue();

  // From the pool (see jsonAllocate): a document holds many small values.
  static void* operator new(size_t size) { return jsonAllocate(size); }
  static void operator delete(void* p, size_t size) { jsonRelease(p, size); }

  Kind kind() const { return kind_; }

  // --- Parsing ---------------------------------------------------------------
  // One value from the stream, which is left right after it. A non-null
  // content type is checked first. strictNumbers refuses fractions and
  // exponents ("Unsupported number"); without it they are kept as reals.
  static JsonPtr<JsonValue> parse(rdr::InStream& in, const char* contentType,
                                  bool strictNumbers = true);
  // One value making up the whole of the bytes (whitespace aside).
  static JsonPtr<JsonValue> parse(const void* data, int length, const char* contentType,
                                  bool strictNumbers = true);

  // --- Writing ---------------------------------------------------------------
  // The value written with indent (0, or kCompact), NUL-terminated,
  // new[]-allocated.
  char* toString(int indent = 0) const;
  // A deep copy (written out and parsed again).
  static JsonPtr<JsonValue> clone(const JsonValue& value);

protected:
  explicit JsonValue(Kind kind) : kind_(kind) {}

private:
  Kind kind_;
};

// Deep equality: same kinds, numbers, texts, members in the same order.
bool jsonEqual(const JsonValue& a, const JsonValue& b);

class JsonNumber : public JsonValue {
public:
  explicit JsonNumber(int64_t value) : JsonValue(kNumber), value_(value) {}

  JsonNumber& asNumber() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;

  // A real number (only from a parse without strict numbers) answers its
  // value rounded toward zero, saturated to the 64-bit range.
  int64_t value() const { return value_; }
  // Throws "Unexpected value: %lld out of range [%lld,%lld]".
  int64_t valueInRange(int64_t min, int64_t max) const;
  // Saturated to the 32-bit range.
  int intValue() const;

  bool isInteger() const { return !isReal_; }
  double realValue() const { return isReal_ ? real_ : static_cast<double>(value_); }

private:
  friend class JsonParser;
  // A number with a fraction or an exponent.
  static JsonNumber* makeReal(double real);

  int64_t value_;
  double real_ = 0;
  bool isReal_ = false;
};

class JsonBool : public JsonValue {
public:
  explicit JsonBool(bool value) : JsonValue(kBool), value_(value) {}

  JsonBool& asBool() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;

  bool value() const { return value_; }

private:
  bool value_;
};

class JsonNull : public JsonValue {
public:
  JsonNull() : JsonValue(kNull) {}

  JsonNull& asNull() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;
};

// The text is always valid UTF-8: invalid sequences in the text given are
// replaced by U+FFFD, so nothing is lost when it is written or cloned. A
// null text is kept as null and written as "".
class JsonString : public JsonValue, public String {
public:
  explicit JsonString(const char* text);

  JsonString& asString() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;

  // The text when it has at most max bytes; else a plat::Exception
  // "Unexpected value: string too long".
  const char* checkLength(int max) const;

private:
  friend class JsonParser;
  struct Adopt {};
  // Takes ownership of a valid new[]-allocated text.
  JsonString(Adopt, char* text) : JsonValue(kString), String(String::adopt(text)) {}
};

class JsonObject : public JsonValue {
public:
  // A key (an owned copy; may be null) and its value.
  class Member {
  public:
    // Takes a key made by allocKey or copyKey.
    Member(char* ownedKey, JsonPtr<JsonValue>&& value) : key(ownedKey), value(std::move(value)) {}
    Member(Member&& other) noexcept : key(other.key), value(std::move(other.value))
    {
      other.key = nullptr;
    }
    Member& operator=(Member&& other) noexcept;
    ~Member() { freeKey(key); }

    // Short keys share the values' pool.
    static char* allocKey(size_t bytes);
    static char* copyKey(const char* key);
    static void freeKey(char* key);

    char* key;
    JsonPtr<JsonValue> value;
  };
  typedef std::vector<Member, JsonAllocator<Member>> Members;
  typedef Members::iterator iterator;
  typedef Members::const_iterator const_iterator;

  JsonObject() : JsonValue(kObject) {}
  ~JsonObject() override;

  JsonObject& asObject() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;

  // --- Building ------------------------------------------------------------
  // Replaces the value of an existing key in place, else appends a member.
  // An empty handle, or a value that contains this object (which would make
  // a cycle), is refused with a JsonException. The check walks the
  // containers of the value, so building a deep chain from the bottom up
  // costs its depth squared.
  void set(const char* key, JsonPtr<JsonValue> value);
  // The same, taking ownership of a raw value; a refused value is deleted
  // (unless it is this object itself).
  void set(const char* key, JsonValue* value);
  // Removes the first member with that key; an absent key does nothing.
  void remove(const char* key);

  // --- Lookup (keys compared with strcmp; null matches only null) -----------
  iterator find(const char* key);
  const_iterator find(const char* key) const;
  // Throws "JSON object property '%s' not found".
  JsonPtr<JsonValue> get(const char* key) const;
  // An empty handle when absent.
  JsonPtr<JsonValue> tryGet(const char* key) const;
  // get, then the checked conversion.
  JsonPtr<JsonArray> getArray(const char* key) const;
  // An empty handle when absent or not an array; never throws.
  JsonPtr<JsonArray> tryGetArray(const char* key) const;

  iterator begin() { return members_.begin(); }
  iterator end() { return members_.end(); }
  const_iterator begin() const { return members_.begin(); }
  const_iterator end() const { return members_.end(); }
  int size() const { return static_cast<int>(members_.size()); }
  bool empty() const { return members_.empty(); }

private:
  friend class JsonParser;
  friend class JsonTreeReleaser;
  Members members_;
};

class JsonArray : public JsonValue {
public:
  typedef std::vector<JsonPtr<JsonValue>, JsonAllocator<JsonPtr<JsonValue>>> Elements;
  typedef Elements::const_iterator const_iterator;

  JsonArray() : JsonValue(kArray) {}
  ~JsonArray() override;

  JsonArray& asArray() override { return *this; }
  void write(rdr::TextWriter& out, int indent) const override;

  // --- Building ------------------------------------------------------------
  // Takes ownership of a raw value. As with JsonObject::set, a null value or
  // one that contains this array is refused (and a raw value deleted).
  void append(JsonValue* value);
  void append(JsonPtr<JsonValue> value);
  void appendStrings(const StringVector& list);
  void appendStrings(const StringSet& set);

  // --- Reading -------------------------------------------------------------
  // Throws "JSON array index %d not found".
  JsonPtr<JsonValue> get(int index) const;
  // Copies of the elements' texts; "Unexpected JSON type" at the first
  // element that is not a string.
  StringVector toStringVector() const;
  StringSet toStringSet() const;

  const_iterator begin() const { return elements_.begin(); }
  const_iterator end() const { return elements_.end(); }
  int size() const { return static_cast<int>(elements_.size()); }
  bool empty() const { return elements_.empty(); }

private:
  friend class JsonParser;
  friend class JsonTreeReleaser;
  Elements elements_;
};

// --- Conversions and typed readers ----------------------------------------------

// Handles of the derived type sharing the source's ring, after the checked
// conversion ("Unexpected JSON type").
JsonPtr<JsonObject> toJsonObject(const JsonPtr<JsonValue>& value);
JsonPtr<JsonArray> toJsonArray(const JsonPtr<JsonValue>& value);

// An ISO 8601 time string; "Unexpected JSON type" for anything else.
Time jsonToTime(JsonValue& value);
// A base64 string decoded; "Unexpected JSON type" for anything else.
MBuf<unsigned char> jsonToBytes(JsonValue& value);

// The bytes parsed and written back in the standard layout, for logging
// bodies; anything that fails gives "<not JSON-encoded data: %s>" with the
// error's message. Never throws for bad data.
void formatJson(String& out, const void* data, int length, const char* contentType,
                bool strictNumbers);

} // namespace plat
