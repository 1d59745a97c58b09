// Owned NUL-terminated UTF-8 strings and the functions on plain character
// arrays that every layer uses.
//
// plat::String owns an array-new buffer or null; null and "" are distinct
// states, and most functions treat null as empty. plat::SecureString wipes
// its text before releasing it. None of these types is locked.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <vector>

namespace plat {

class DString;

// --- Functions on NUL-terminated character arrays ------------------------

// A new array-new copy of at most len bytes (stopping at a NUL); null for null.
char* strDup(const char* s, int len = -1);
// The same with malloc storage, for interfaces that release with free.
char* strDupMalloc(const char* s);
int strLen(const char* s);
// Length up to max bytes; negative max means unlimited.
int strnLen(const char* s, int max = -1);
// Copies at most size - 1 bytes and terminates; returns the source length.
int strCopy(char* target, const char* source, int size);
// strcmp by unsigned bytes; null sorts before every string.
int strCmpNull(const char* a, const char* b);
// Points slot at an array-new copy of value (null for null), deleting the
// old copy; nothing happens when they are equal. For process-wide slots that
// are never freed, so they stay readable during static destruction.
void strReplace(const char*& slot, const char* value);
bool strStartsWith(const char* s, const char* prefix);
bool strEndsWith(const char* s, const char* suffix);
bool strStartsWithNoCase(const char* s, const char* prefix);
bool strEndsWithNoCase(const char* s, const char* suffix);
const char* strCaseStr(const char* haystack, const char* needle);
bool strHasCharBefore(const char* s, const char* end, char c);
void strTrimLeft(char* s);
void strTrimRight(char* s);
bool strHasNonBlank(const char* s);
void strRemoveChars(char* s, const char* set);

// Tokenisers over a writable string through a cursor; each cuts the token in
// place and moves the cursor behind the separator (null after the last).
// With skipRepeats, runs of separators around a token are skipped.
char* strTok(char** cursor, char separator, bool skipRepeats = false);
// found (may be null) receives the separator that ended the token, or 0.
char* strTokAny(char** cursor, const char* separators, char* found, bool skipRepeats = false);
char* strTokStr(char** cursor, const char* separator, bool skipRepeats = false);
// Cuts at the last c and returns what follows it; the cursor keeps the head.
// Without c, returns the whole text and nulls the cursor.
char* strSplitLast(char** cursor, char c);

// 64-bit FNV-1a; bytes are sign-extended before the XOR (stored values rely
// on it).
uint64_t fnv1aHash(const char* s);

void secureZero(void* p, size_t n);
bool secureEqual(const void* a, const void* b, size_t n);
void secureCopy(void* target, const void* source, size_t n);

// --- Bounded formatting into fixed arrays ---------------------------------
// Each appends to the NUL-terminated text already in the array. Output that
// does not fit is cut, never leaving a partial UTF-8 sequence; the array is
// always NUL-terminated. A formatting error leaves the text as it was. None
// of them allocates.

char* strCatVFormat(char* buf, int size, const char* fmt, va_list ap)
    __attribute__((format(printf, 3, 0)));
char* strCatFormat(char* buf, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
char* strCat(char* buf, int size, const char* s, int len = -1);
// Only whole copies of the character are appended; a code point above
// U+10FFFF is written as U+FFFD.
char* strCatChar(char* buf, int size, unsigned codePoint, int count);

template <int N>
char* strCatFormat(char (&buf)[N], const char* fmt, ...) __attribute__((format(printf, 2, 3)));
template <int N> char* strCatFormat(char (&buf)[N], const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(buf, N, fmt, ap);
  va_end(ap);
  return buf;
}

template <int N>
char* strFormat(char (&buf)[N], const char* fmt, ...) __attribute__((format(printf, 2, 3)));
template <int N> char* strFormat(char (&buf)[N], const char* fmt, ...)
{
  buf[0] = 0;
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(buf, N, fmt, ap);
  va_end(ap);
  return buf;
}

// --- Owned strings ---------------------------------------------------------

namespace detail {

void freeText(char* buf);
// Wipes the text with zeros first.
void wipeAndFreeText(char* buf);

// The owned array-new buffer (or null) behind String and SecureString:
// copying, moving and replacing, with Free releasing the text dropped.
template <void (*Free)(char*)>
class OwnedText {
public:
  OwnedText() = default;
  OwnedText(const OwnedText& other) : buf_(strDup(other.buf_)) {}
  OwnedText(OwnedText&& other) noexcept : buf_(other.release()) {}
  OwnedText& operator=(const OwnedText& other)
  {
    if (this != &other)
      reset(strDup(other.buf_));
    return *this;
  }
  OwnedText& operator=(OwnedText&& other) noexcept
  {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ~OwnedText() { Free(buf_); }

  // Releases the held text, then takes ownership of an array-new buffer
  // (may be null).
  void reset(char* buf = nullptr)
  {
    if (buf == buf_)
      return;
    Free(buf_);
    buf_ = buf;
  }

  const char* get() const { return buf_; }
  // The text, or "" when null.
  const char* str() const { return buf_ ? buf_ : ""; }
  bool isNull() const { return buf_ == nullptr; }
  int length() const { return strLen(buf_); }

protected:
  explicit OwnedText(char* buf) : buf_(buf) {}
  // Gives up ownership of the buffer.
  char* release()
  {
    char* b = buf_;
    buf_ = nullptr;
    return b;
  }

  char* buf_ = nullptr;
};

} // namespace detail

class String : public detail::OwnedText<detail::freeText> {
public:
  String() = default;
  // A copy of at most len bytes of s (null stays null).
  explicit String(const char* s, int len = -1) : OwnedText(strDup(s, len)) {}

  // Takes ownership of an array-new buffer.
  static String adopt(char* buf);
  // Gives up ownership of the buffer.
  using OwnedText::release;

  char* data() { return buf_; }

  String& toUpper();
  String& toLower();
  String& toUpperAscii();
  String& toLowerAscii();
  // A new string with sep before every position i (0 < i < length) that is
  // a multiple of n.
  String insertEvery(char sep, int n) const;
};

bool operator==(const String& a, const String& b);
inline bool operator!=(const String& a, const String& b)
{
  return !(a == b);
}

// printf-style text as a String.
String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Passwords and tokens: the text is wiped with zeros whenever it is dropped.
class SecureString : public detail::OwnedText<detail::wipeAndFreeText> {
public:
  SecureString() = default;
  explicit SecureString(const char* s, int len = -1) : OwnedText(strDup(s, len)) {}

  // Wipes and frees the held text, then holds a copy of s (null stays null).
  void assign(const char* s, int len = -1);
};

// A vector of owned copies of strings.
class StringVector {
public:
  StringVector() = default;
  StringVector(const StringVector& other);
  StringVector& operator=(const StringVector& other);
  StringVector(StringVector&& other) noexcept;
  StringVector& operator=(StringVector&& other) noexcept;
  ~StringVector();

  void push_back(const char* s);
  void addUnique(const char* s);
  void clear();
  size_t size() const { return v_.size(); }
  bool empty() const { return v_.empty(); }
  const char* operator[](size_t i) const { return v_[i]; }
  // A null-terminated array of the elements, for exec-style interfaces.
  std::vector<char*> argv() const;

  std::vector<char*>::const_iterator begin() const { return v_.begin(); }
  std::vector<char*>::const_iterator end() const { return v_.end(); }

private:
  std::vector<char*> v_;
};

struct StringLess {
  bool operator()(const String& a, const String& b) const
  {
    return strCmpNull(a.get(), b.get()) < 0;
  }
};

// An ordered set of strings in byte order.
class StringSet : public std::set<String, StringLess> {
public:
  StringSet() = default;
  // The separator-separated elements of list, as they stand (empty ones
  // included); a null list gives an empty set.
  StringSet(const char* list, char separator);
};

// Appends the elements of [first, last) with sep before each element that
// follows a non-empty output.
DString& joinStrings(DString& out, StringSet::const_iterator first, StringSet::const_iterator last,
                     const char* sep);

// Re-flows the text in place at width columns, continuation lines indented.
void wordWrap(String& s, int width, int indent);

} // namespace plat
