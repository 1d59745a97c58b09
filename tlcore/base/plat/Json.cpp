// JSON value tree: construction, editing, lookup, typed readers, the release
// of deep trees and the pool the nodes come from. The parser and the writer
// are in JsonParse.cpp and JsonWrite.cpp.
#include "plat/Json.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <unordered_set>

#include "plat/encodings.h"
#include "plat/utf8.h"

namespace plat {

// --- Exceptions --------------------------------------------------------------

JsonException::JsonException(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("JsonException");
}

JsonException::JsonException(int)
{
  setMessage("Unexpected JSON type");
  setType("Json");
}

// --- Base ----------------------------------------------------------------------

JsonNumber& JsonValue::asNumber()
{
  throw JsonException(1);
}
JsonBool& JsonValue::asBool()
{
  throw JsonException(1);
}
JsonNull& JsonValue::asNull()
{
  throw JsonException(1);
}
JsonString& JsonValue::asString()
{
  throw JsonException(1);
}
JsonObject& JsonValue::asObject()
{
  throw JsonException(1);
}
JsonArray& JsonValue::asArray()
{
  throw JsonException(1);
}

JsonValue::~JsonValue() = default;

// --- Node pool -------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define PLAT_JSON_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLAT_JSON_POOL 0
#endif
#endif
#ifndef PLAT_JSON_POOL
#define PLAT_JSON_POOL 1
#endif

#if PLAT_JSON_POOL
namespace {

// Blocks of 16 to 256 bytes in steps of 16, carved from 64 KiB slabs. Each thread
// keeps its own free lists; a thread that ends hands its lists to a shared
// spare list that other threads draw from. Slabs are kept for reuse, never
// returned to the system.
class NodePool {
public:
  static constexpr size_t kGranule = 16;
  static constexpr size_t kClasses = 16;
  static constexpr size_t kMaxSize = kGranule * kClasses;

  struct Block {
    Block* next;
  };

  static void* allocate(size_t size)
  {
    size_t cls = (size - 1) / kGranule;
    Block* b = freeLists[cls];
    if (!b)
      b = refill(cls);
    freeLists[cls] = b->next;
    return b;
  }

  static void release(void* p, size_t size)
  {
    size_t cls = (size - 1) / kGranule;
    Block* b = static_cast<Block*>(p);
    b->next = freeLists[cls];
    freeLists[cls] = b;
  }

private:
  // Plain data, so the hot paths need no per-thread construction check.
  static thread_local Block* freeLists[kClasses];

  // Made on a thread's first refill; at the thread's end it hands the
  // thread's lists to the shared spares.
  struct ThreadExit {
    ~ThreadExit()
    {
      Shared& s = shared();
      std::lock_guard<std::mutex> lock(s.mutex);
      for (size_t cls = 0; cls < kClasses; cls++) {
        while (Block* b = freeLists[cls]) {
          freeLists[cls] = b->next;
          b->next = s.spare[cls];
          s.spare[cls] = b;
        }
      }
    }
  };

  struct Shared {
    std::mutex mutex;
    Block* spare[kClasses] = {};
    Block* slabs = nullptr; // keeps every slab reachable
  };

  static Shared& shared()
  {
    // Never destroyed: threads may still end after static destruction.
    static Shared* s = new Shared();
    return *s;
  }

  static Block* refill(size_t cls)
  {
    static thread_local ThreadExit registered;
    (void)registered;
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.spare[cls]) {
      freeLists[cls] = s.spare[cls];
      s.spare[cls] = nullptr;
      return freeLists[cls];
    }
    const size_t slabSize = 64 * 1024;
    const size_t blockSize = (cls + 1) * kGranule;
    char* slab = static_cast<char*>(::operator new(slabSize));
    Block* header = reinterpret_cast<Block*>(slab);
    header->next = s.slabs;
    s.slabs = header;
    // The first granule holds the slab link; the list runs upwards.
    Block* list = nullptr;
    for (size_t i = (slabSize - kGranule) / blockSize; i-- > 0;) {
      Block* b = reinterpret_cast<Block*>(slab + kGranule + i * blockSize);
      b->next = list;
      list = b;
    }
    freeLists[cls] = list;
    return list;
  }
};

thread_local NodePool::Block* NodePool::freeLists[NodePool::kClasses];

} // namespace
#endif

void* jsonAllocate(size_t bytes)
{
#if PLAT_JSON_POOL
  if (bytes - 1 < NodePool::kMaxSize)
    return NodePool::allocate(bytes);
#endif
  return ::operator new(bytes);
}

void jsonRelease(void* p, size_t bytes)
{
#if PLAT_JSON_POOL
  if (bytes - 1 < NodePool::kMaxSize) {
    NodePool::release(p, bytes);
    return;
  }
#else
  (void)bytes;
#endif
  ::operator delete(p);
}

char* JsonObject::Member::allocKey(size_t bytes)
{
  return static_cast<char*>(jsonAllocate(bytes));
}

char* JsonObject::Member::copyKey(const char* key)
{
  if (!key)
    return nullptr;
  size_t bytes = strlen(key) + 1;
  char* copy = allocKey(bytes);
  memcpy(copy, key, bytes);
  return copy;
}

void JsonObject::Member::freeKey(char* key)
{
  if (key)
    jsonRelease(key, strlen(key) + 1);
}

bool jsonEqual(const JsonValue& a, const JsonValue& b)
{
  if (a.kind() != b.kind())
    return false;
  switch (a.kind()) {
  case JsonValue::kNumber: {
    const JsonNumber& x = static_cast<const JsonNumber&>(a);
    const JsonNumber& y = static_cast<const JsonNumber&>(b);
    if (x.isInteger() != y.isInteger())
      return false;
    return x.isInteger() ? x.value() == y.value() : x.realValue() == y.realValue();
  }
  case JsonValue::kBool:
    return static_cast<const JsonBool&>(a).value() == static_cast<const JsonBool&>(b).value();
  case JsonValue::kNull:
    return true;
  case JsonValue::kString:
    return strcmp(static_cast<const JsonString&>(a).str(),
                  static_cast<const JsonString&>(b).str()) == 0;
  case JsonValue::kObject: {
    const JsonObject& x = static_cast<const JsonObject&>(a);
    const JsonObject& y = static_cast<const JsonObject&>(b);
    if (x.size() != y.size())
      return false;
    for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
      if (strCmpNull(i->key, j->key) != 0 || !jsonEqual(*i->value, *j->value))
        return false;
    }
    return true;
  }
  case JsonValue::kArray: {
    const JsonArray& x = static_cast<const JsonArray&>(a);
    const JsonArray& y = static_cast<const JsonArray&>(b);
    if (x.size() != y.size())
      return false;
    for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
      if (!jsonEqual(**i, **j))
        return false;
    }
    return true;
  }
  }
  return false;
}

// --- Scalars -----------------------------------------------------------------

JsonNumber* JsonNumber::makeReal(double real)
{
  // Rounded toward zero and saturated, for readers that want an integer.
  int64_t whole;
  if (real >= 9223372036854775807.0)
    whole = INT64_MAX;
  else if (real <= -9223372036854775808.0)
    whole = INT64_MIN;
  else
    whole = static_cast<int64_t>(real);
  JsonNumber* n = new JsonNumber(whole);
  n->real_ = real;
  n->isReal_ = true;
  return n;
}

int64_t JsonNumber::valueInRange(int64_t min, int64_t max) const
{
  if (value_ < min || value_ > max)
    throw JsonException(1, "Unexpected value: %lld out of range [%lld,%lld]", (long long)value_,
                        (long long)min, (long long)max);
  return value_;
}

int JsonNumber::intValue() const
{
  if (value_ > INT_MAX)
    return INT_MAX;
  if (value_ <= INT_MIN)
    return INT_MIN;
  return static_cast<int>(value_);
}

JsonString::JsonString(const char* text) : JsonValue(kString)
{
  // Repaired here rather than cut short when written: the writer and clone
  // would otherwise drop everything after the first bad sequence.
  if (text && !isValidUtf8(text))
    String::operator=(utf8Sanitise(text, nullptr, -1));
  else
    String::operator=(String(text));
}

const char* JsonString::checkLength(int max) const
{
  if (length() > max)
    throw Exception("Unexpected value: string too long");
  return str();
}

// --- Releasing deep trees ------------------------------------------------------

// Destructors of containers recurse as usual down to a modest depth; below
// that, containers hand the children they alone own to a work list instead,
// so a tree of any depth built in code is freed without deep recursion
// while ordinary trees are freed without the list's allocations.
class JsonTreeReleaser {
public:
  static void release(JsonValue& v)
  {
    static thread_local int depth = 0;
    if (depth < kRecursionLimit) {
      depth++;
      clearChildren(v);
      depth--;
      return;
    }
    std::vector<JsonPtr<JsonValue>> work;
    takeChildren(v, work);
    while (!work.empty()) {
      JsonPtr<JsonValue> h = std::move(work.back());
      work.pop_back();
      takeChildren(*h, work);
      // h now holds a container whose children have left; it goes here.
    }
  }

private:
  static constexpr int kRecursionLimit = 64;

  static void clearChildren(JsonValue& v)
  {
    if (v.kind() == JsonValue::kObject)
      static_cast<JsonObject&>(v).members_.clear();
    else
      static_cast<JsonArray&>(v).elements_.clear();
  }

  static void takeChildren(JsonValue& v, std::vector<JsonPtr<JsonValue>>& work)
  {
    if (v.kind() == JsonValue::kObject) {
      auto& members = static_cast<JsonObject&>(v).members_;
      for (auto& m : members) {
        if (isContainer(m.value))
          work.push_back(std::move(m.value));
      }
    } else if (v.kind() == JsonValue::kArray) {
      auto& elements = static_cast<JsonArray&>(v).elements_;
      for (auto& e : elements) {
        if (isContainer(e))
          work.push_back(std::move(e));
      }
    }
  }

  // Only containers we alone hold and that have children need the list.
  static bool isContainer(const JsonPtr<JsonValue>& h)
  {
    if (!h.unique())
      return false;
    if (h->kind() == JsonValue::kObject)
      return !static_cast<JsonObject&>(*h).members_.empty();
    if (h->kind() == JsonValue::kArray)
      return !static_cast<JsonArray&>(*h).elements_.empty();
    return false;
  }
};

// --- Cycle check -----------------------------------------------------------------

namespace {

// Whether target can be reached from root. Nodes with a single holder can be
// reached along one path only, so only shared ones need remembering (which
// keeps a tree with shared subtrees from being walked exponentially often).
bool contains(const JsonValue& root, const JsonValue* target)
{
  if (root.kind() != JsonValue::kObject && root.kind() != JsonValue::kArray)
    return false;
  std::vector<const JsonValue*> todo{&root};
  std::unordered_set<const JsonValue*> seen;
  auto visit = [&](const JsonPtr<JsonValue>& h) {
    const JsonValue* v = h.get();
    if (v->kind() != JsonValue::kObject && v->kind() != JsonValue::kArray)
      return;
    if (!h.unique() && !seen.insert(v).second)
      return;
    todo.push_back(v);
  };
  while (!todo.empty()) {
    const JsonValue* v = todo.back();
    todo.pop_back();
    if (v == target)
      return true;
    if (v->kind() == JsonValue::kObject) {
      for (const auto& m : static_cast<const JsonObject&>(*v))
        visit(m.value);
    } else {
      for (const auto& e : static_cast<const JsonArray&>(*v))
        visit(e);
    }
  }
  return false;
}

void checkInsertable(const JsonValue* container, const JsonValue* value)
{
  if (!value)
    throw JsonException(1, "Empty JSON value");
  if (contains(*value, container))
    throw JsonException(1, "JSON value would contain itself");
}

bool keyEqual(const char* a, const char* b)
{
  if (!a || !b)
    return a == b;
  return strcmp(a, b) == 0;
}

} // namespace

// --- Objects -----------------------------------------------------------------------

JsonObject::Member& JsonObject::Member::operator=(Member&& other) noexcept
{
  if (this != &other) {
    freeKey(key);
    key = other.key;
    other.key = nullptr;
    value = std::move(other.value);
  }
  return *this;
}

JsonObject::~JsonObject()
{
  JsonTreeReleaser::release(*this);
}

void JsonObject::set(const char* key, JsonPtr<JsonValue> value)
{
  checkInsertable(this, value.get());
  iterator it = find(key);
  if (it != members_.end()) {
    it->value = std::move(value);
    return;
  }
  members_.emplace_back(Member::copyKey(key), std::move(value));
}

void JsonObject::set(const char* key, JsonValue* value)
{
  // This object itself is owned elsewhere and must not be freed here; any
  // other raw value is owned before the checks, so a refused one is freed.
  if (value == this)
    throw JsonException(1, "JSON value would contain itself");
  set(key, JsonPtr<JsonValue>(value));
}

void JsonObject::remove(const char* key)
{
  iterator it = find(key);
  if (it != members_.end())
    members_.erase(it);
}

JsonObject::iterator JsonObject::find(const char* key)
{
  for (iterator it = members_.begin(); it != members_.end(); ++it) {
    if (keyEqual(it->key, key))
      return it;
  }
  return members_.end();
}

JsonObject::const_iterator JsonObject::find(const char* key) const
{
  return const_cast<JsonObject*>(this)->find(key);
}

JsonPtr<JsonValue> JsonObject::get(const char* key) const
{
  const_iterator it = find(key);
  if (it == members_.end())
    throw JsonException(1, "JSON object property '%s' not found", key ? key : "(null)");
  return it->value;
}

JsonPtr<JsonValue> JsonObject::tryGet(const char* key) const
{
  const_iterator it = find(key);
  return it == members_.end() ? JsonPtr<JsonValue>() : it->value;
}

JsonPtr<JsonArray> JsonObject::getArray(const char* key) const
{
  return toJsonArray(get(key));
}

JsonPtr<JsonArray> JsonObject::tryGetArray(const char* key) const
{
  const_iterator it = find(key);
  if (it == members_.end() || it->value->kind() != kArray)
    return JsonPtr<JsonArray>();
  return sharedHandleCast<JsonArray>(it->value);
}

// --- Arrays --------------------------------------------------------------------------

JsonArray::~JsonArray()
{
  JsonTreeReleaser::release(*this);
}

void JsonArray::append(JsonValue* value)
{
  if (value == this)
    throw JsonException(1, "JSON value would contain itself");
  append(JsonPtr<JsonValue>(value));
}

void JsonArray::append(JsonPtr<JsonValue> value)
{
  checkInsertable(this, value.get());
  elements_.push_back(std::move(value));
}

void JsonArray::appendStrings(const StringVector& list)
{
  for (const char* s : list)
    elements_.emplace_back(new JsonString(s));
}

void JsonArray::appendStrings(const StringSet& set)
{
  for (const String& s : set)
    elements_.emplace_back(new JsonString(s.get()));
}

JsonPtr<JsonValue> JsonArray::get(int index) const
{
  if (index < 0 || index >= size())
    throw JsonException(1, "JSON array index %d not found", index);
  return elements_[index];
}

StringVector JsonArray::toStringVector() const
{
  StringVector out;
  for (const auto& e : elements_)
    out.push_back(e->asString().get());
  return out;
}

StringSet JsonArray::toStringSet() const
{
  StringSet out;
  for (const auto& e : elements_)
    out.insert(String(e->asString().get()));
  return out;
}

// --- Conversions and typed readers ------------------------------------------------------

JsonPtr<JsonObject> toJsonObject(const JsonPtr<JsonValue>& value)
{
  if (!value)
    throw JsonException(1);
  return JsonPtr<JsonObject>(value, &value->asObject());
}

JsonPtr<JsonArray> toJsonArray(const JsonPtr<JsonValue>& value)
{
  if (!value)
    throw JsonException(1);
  return JsonPtr<JsonArray>(value, &value->asArray());
}

Time jsonToTime(JsonValue& value)
{
  Time t;
  if (!parseIsoTime(&t, value.asString().str()))
    throw JsonException(1);
  return t;
}

MBuf<unsigned char> jsonToBytes(JsonValue& value)
{
  MBuf<unsigned char> out;
  if (!base64Decode(value.asString().str(), out))
    throw JsonException(1);
  return out;
}

} // namespace plat
