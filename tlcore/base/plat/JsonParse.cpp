// The JSON parser and the content-type check.
//
// The parser reads straight from the stream's window through a cached
// pointer pair and goes back to the stream only when the window is empty,
// so the common byte costs a compare and a load. The stream's ptr is brought
// up to date before every refill, error and return.
#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "plat/Json.h"
#include "plat/JsonScan.h"
#include "plat/encodings.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"

namespace plat {

namespace {

// Bytes that end a plain run inside a string: the quote, the backslash and
// the control characters.
struct StopTable {
  bool stop[256];
  constexpr StopTable() : stop()
  {
    for (int c = 0; c < 0x20; c++)
      stop[c] = true;
    stop[(unsigned char)'"'] = true;
    stop[(unsigned char)'\\'] = true;
  }
};
constexpr StopTable kStringStop;

// Objects up to this size are checked for duplicate keys by a scan; larger
// ones index their keys as they are read, so parsing stays linear.
constexpr size_t kKeyScanLimit = 16;

} // namespace

class JsonParser {
public:
  JsonParser(rdr::InStream& in, bool strictNumbers)
      : in_(in), p_(in.getPtr()), e_(in.getEnd()), strict_(strictNumbers)
  {
  }

  // The whole of the input must be one value when ownStream is set.
  JsonPtr<JsonValue> parseTop(bool ownStream)
  {
    JsonPtr<JsonValue> v;
    try {
      v.reset(parseValue(0));
    } catch (rdr::EndOfStream&) {
      fail("Truncated JSON");
    } catch (rdr::EndOfMsg&) {
      fail("Truncated JSON");
    }
    if (ownStream) {
      while (p_ < e_ && isBlank(*p_))
        p_++;
      if (p_ < e_)
        fail("Trailing bytes after JSON");
    }
    sync();
    return v;
  }

private:
  [[noreturn]] void fail(const char* message)
  {
    sync();
    throw JsonException(1, "%s at line %d", message, line_);
  }

  void sync()
  {
    if (p_ >= in_.getPtr() && p_ <= in_.getEnd())
      in_.setPtr(p_);
  }

  // Throws EndOfStream (or BlockException) when no byte can come.
  void refill()
  {
    sync();
    in_.check(true, 1);
    p_ = in_.getPtr();
    e_ = in_.getEnd();
  }

  // False at the end of the input instead of throwing.
  bool refillOrEnd()
  {
    sync();
    if (in_.atEnd())
      return false;
    try {
      refill();
    } catch (rdr::EndOfStream&) {
      return false;
    } catch (rdr::EndOfMsg&) {
      return false;
    }
    return true;
  }

  int peek()
  {
    if (p_ == e_)
      refill();
    return *p_;
  }

  int next()
  {
    if (p_ == e_)
      refill();
    return *p_++;
  }

  static bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  void skipBlanks()
  {
    for (;;) {
      while (p_ < e_) {
        uint8_t c = *p_;
        if (c == ' ' || c == '\t' || c == '\r') {
          p_++;
        } else if (c == '\n') {
          line_++;
          p_++;
        } else {
          return;
        }
      }
      refill();
    }
  }

  // A new value; everything it holds is owned by it or by the stacks.
  JsonValue* parseValue(int depth)
  {
    if (depth > JsonValue::kMaxDepth)
      fail("Unsupported nesting");
    skipBlanks();
    switch (*p_) {
    case '[':
      return parseArray(depth);
    case '{':
      return parseObject(depth);
    case '"': {
      std::unique_ptr<char[]> text(parseText());
      JsonValue* v = new JsonString(JsonString::Adopt(), text.get());
      text.release();
      return v;
    }
    case 't':
    case 'f':
    case 'n':
      return parseLiteral();
    default:
      return parseNumber();
    }
  }

  JsonValue* parseLiteral()
  {
    char word[6] = {};
    int n = *p_ == 'f' ? 5 : 4;
    if (e_ - p_ >= n) {
      memcpy(word, p_, n);
      p_ += n;
    } else {
      for (int i = 0; i < n; i++)
        word[i] = (char)next();
    }
    if (n == 4 && memcmp(word, "true", 4) == 0)
      return new JsonBool(true);
    if (n == 4 && memcmp(word, "null", 4) == 0)
      return new JsonNull();
    if (n == 5 && memcmp(word, "false", 5) == 0)
      return new JsonBool(false);
    fail("Bad value");
  }

  JsonValue* parseNumber()
  {
    bool negative = false;
    if (*p_ == '-') {
      negative = true;
      p_++;
      if (p_ == e_ && !refillOrEnd())
        fail("Bad value");
    }
    int c = *p_;
    if (c < '0' || c > '9')
      fail("Bad value");
    p_++;
    if (c == '0' && negative) {
      // "-0" is refused; without strict numbers "-0.5" is a real number
      // like any other.
      if (strict_ || (p_ == e_ && !refillOrEnd()) || (*p_ != '.' && *p_ != 'e' && *p_ != 'E'))
        fail("Bad value");
      return parseReal(0, true);
    }
    uint64_t value = (uint64_t)(c - '0');
    if (c != '0') {
      const uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
      for (;;) {
        if (p_ == e_ && !refillOrEnd())
          return makeInteger(value, negative);
        c = *p_;
        if (c < '0' || c > '9')
          break;
        unsigned d = (unsigned)(c - '0');
        if (value > 922337203685477580ULL || value * 10 > limit - d)
          fail("Unsupported number");
        value = value * 10 + d;
        p_++;
      }
    } else if (p_ == e_ && !refillOrEnd()) {
      return makeInteger(value, negative);
    }
    c = *p_;
    if (c == '.' || c == 'e' || c == 'E') {
      if (strict_)
        fail("Unsupported number");
      return parseReal(value, negative);
    }
    return makeInteger(value, negative);
  }

  static JsonValue* makeInteger(uint64_t value, bool negative)
  {
    return new JsonNumber(negative ? (int64_t)(0 - value) : (int64_t)value);
  }

  // The fraction and exponent of a number whose integer part has been read;
  // the value is kept as a double. A sign after the exponent letter is not
  // part of the number, so the exponent is never negative.
  JsonValue* parseReal(uint64_t whole, bool negative)
  {
    std::string text = negative ? "-" : "";
    text += std::to_string(whole);
    auto digits = [&]() {
      size_t before = text.size();
      while ((p_ < e_ || refillOrEnd()) && *p_ >= '0' && *p_ <= '9')
        text += (char)*p_++;
      if (text.size() == before)
        fail("Bad value");
    };
    if (*p_ == '.') {
      text += (char)*p_++;
      digits();
    }
    if ((p_ < e_ || refillOrEnd()) && (*p_ == 'e' || *p_ == 'E')) {
      text += (char)*p_++;
      digits();
    }
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    char* stop = nullptr;
    double real = strtod_l(text.c_str(), &stop, cLocale);
    if (!isfinite(real))
      fail("Unsupported number");
    return JsonNumber::makeReal(real);
  }

  // A string at p_ (which must be a quote) as a valid text, new[]-allocated
  // or, for a key, made by allocKey.
  char* parseText(bool key = false)
  {
    if (peek() != '"')
      fail("Bad string");
    p_++;
    const uint8_t* start = p_;
    // Plain runs and whole valid characters; anything else (an escape, a
    // character cut by the window's end, a bad byte) is left to the slow
    // path, which checks the whole text at the closing quote.
    for (;;) {
      p_ = jsonSkipPlain(p_, e_);
      if (p_ == e_ || *p_ < 0x80)
        break;
      int n = jsonValidSequence(p_, e_);
      if (!n)
        break;
      p_ += n;
    }
    if (p_ < e_ && *p_ == '"') {
      size_t n = (size_t)(p_ - start);
      p_++;
      return copyText((const char*)start, n, key);
    }
    scratch_.assign((const char*)start, (size_t)(p_ - start));
    return parseTextSlow(key);
  }

  static char* copyText(const char* s, size_t n, bool key)
  {
    char* text = key ? JsonObject::Member::allocKey(n + 1) : new char[n + 1];
    memcpy(text, s, n);
    text[n] = 0;
    return text;
  }

  // The rest of a string that holds escapes or spans windows.
  char* parseTextSlow(bool key)
  {
    for (;;) {
      const uint8_t* run = p_;
      while (p_ < e_ && !kStringStop.stop[*p_])
        p_++;
      scratch_.append((const char*)run, (size_t)(p_ - run));
      int c = next();
      if (!kStringStop.stop[c]) {
        // The run reached the end of a window.
        scratch_ += (char)c;
        continue;
      }
      if (c == '"')
        break;
      if (c == '\\')
        parseEscape();
      else if (c == 0)
        fail("Unsupported string");
      else
        fail("Bad string");
    }
    if (!isValidUtf8(scratch_.data(), scratch_.data() + scratch_.size()))
      fail("Bad string");
    return copyText(scratch_.data(), scratch_.size(), key);
  }

  void parseEscape()
  {
    int c = next();
    switch (c) {
    case '"':
    case '\\':
    case '/':
      scratch_ += (char)c;
      return;
    case 'b':
      scratch_ += '\b';
      return;
    case 'f':
      scratch_ += '\f';
      return;
    case 'n':
      scratch_ += '\n';
      return;
    case 'r':
      scratch_ += '\r';
      return;
    case 't':
      scratch_ += '\t';
      return;
    case 'u':
      break;
    default:
      fail("Bad string");
    }
    unsigned cp = readHex4();
    if (cp == 0)
      fail("Unsupported string");
    if (cp >= 0xDC00 && cp <= 0xDFFF)
      fail("Illegal low surrogate");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (next() != '\\' || next() != 'u')
        fail("Unterminated surrogate pair");
      unsigned low = readHex4();
      if (low < 0xDC00 || low > 0xDFFF)
        fail("Unterminated surrogate pair");
      cp = ((cp & 0x3FF) << 10) + (low & 0x3FF) + 0x10000;
    }
    char buf[4];
    char* w = buf;
    utf8Encode(cp, &w);
    scratch_.append(buf, (size_t)(w - buf));
  }

  unsigned readHex4()
  {
    unsigned v = 0;
    for (int i = 0; i < 4; i++) {
      int h = hexValue(next());
      if (h < 0)
        fail("Bad string hex escape");
      v = v << 4 | (unsigned)h;
    }
    return v;
  }

  // Elements and members collect on stacks shared by all levels and move
  // into their container once it is complete, so each container allocates
  // its vector once, at its final size.
  JsonValue* parseArray(int depth)
  {
    p_++;
    skipBlanks();
    if (*p_ == ']') {
      p_++;
      return new JsonArray();
    }
    size_t mark = elementStack_.size();
    for (;;) {
      JsonPtr<JsonValue> v(parseValue(depth + 1));
      elementStack_.push_back(std::move(v));
      skipBlanks();
      int c = *p_++;
      if (c == ']')
        break;
      if (c != ',')
        fail("Bad array");
    }
    JsonArray* array = new JsonArray();
    auto& elements = array->elements_;
    elements.reserve(elementStack_.size() - mark);
    for (size_t i = mark; i < elementStack_.size(); i++)
      elements.push_back(std::move(elementStack_[i]));
    elementStack_.resize(mark);
    return array;
  }

  JsonValue* parseObject(int depth)
  {
    if (next() != '{')
      fail("Bad object");
    skipBlanks();
    if (*p_ == '}') {
      p_++;
      return new JsonObject();
    }
    size_t mark = memberStack_.size();
    std::unique_ptr<KeyIndex> index;
    for (;;) {
      memberStack_.emplace_back(nullptr, JsonPtr<JsonValue>());
      memberStack_.back().key = parseText(true);
      skipBlanks();
      if (*p_++ != ':')
        fail("Bad object");
      if (isDuplicate(mark, index))
        fail("Unsupported object");
      size_t at = memberStack_.size() - 1;
      JsonPtr<JsonValue> v(parseValue(depth + 1));
      memberStack_[at].value = std::move(v);
      skipBlanks();
      int c = *p_++;
      if (c == '}')
        break;
      if (c != ',')
        fail("Bad object");
      skipBlanks();
    }
    JsonObject* object = new JsonObject();
    auto& members = object->members_;
    members.reserve(memberStack_.size() - mark);
    for (size_t i = mark; i < memberStack_.size(); i++)
      members.push_back(std::move(memberStack_[i]));
    memberStack_.erase(memberStack_.begin() + (ptrdiff_t)mark, memberStack_.end());
    return object;
  }

  typedef std::unordered_set<std::string_view> KeyIndex;

  // Whether the last member's key repeats an earlier one of the object that
  // starts at mark.
  bool isDuplicate(size_t mark, std::unique_ptr<KeyIndex>& index)
  {
    const char* key = memberStack_.back().key;
    size_t last = memberStack_.size() - 1;
    if (!index) {
      for (size_t i = mark; i < last; i++) {
        const char* other = memberStack_[i].key;
        if (other[0] == key[0] && strcmp(other, key) == 0)
          return true;
      }
      if (last - mark + 1 < kKeyScanLimit)
        return false;
      // Keys are owned by their members and never move, so views of them
      // stay valid while the stack grows.
      index.reset(new KeyIndex());
      index->reserve(2 * kKeyScanLimit);
      for (size_t i = mark; i <= last; i++)
        index->insert(memberStack_[i].key);
      return false;
    }
    return !index->insert(key).second;
  }

  rdr::InStream& in_;
  const uint8_t* p_;
  const uint8_t* e_;
  int line_ = 0;
  bool strict_;
  std::string scratch_;
  std::vector<JsonPtr<JsonValue>> elementStack_;
  std::vector<JsonObject::Member> memberStack_;
};

namespace {

// "application/json", optionally with the parameter "charset=utf-8"; both
// parts compared without case and with blanks trimmed.
bool isJsonContentType(const char* type)
{
  if (strcmp(type, "application/json") == 0)
    return true;
  auto clean = [](const char* s, const char* end) {
    String part(s, (int)(end - s));
    part.toLowerAscii();
    strTrimLeft(part.data());
    strTrimRight(part.data());
    return part;
  };
  const char* semi = strchr(type, ';');
  String media = clean(type, semi ? semi : type + strlen(type));
  if (strcmp(media.str(), "application/json") != 0)
    return false;
  if (!semi)
    return true;
  String param = clean(semi + 1, semi + 1 + strlen(semi + 1));
  return strcmp(param.str(), "charset=utf-8") == 0;
}

} // namespace

JsonPtr<JsonValue> JsonValue::parse(rdr::InStream& in, const char* contentType, bool strictNumbers)
{
  if (contentType && !isJsonContentType(contentType))
    throw JsonException(1, "Unknown Content-Type '%s'", contentType);
  return JsonParser(in, strictNumbers).parseTop(false);
}

JsonPtr<JsonValue> JsonValue::parse(const void* data, int length, const char* contentType,
                                    bool strictNumbers)
{
  if (contentType && !isJsonContentType(contentType))
    throw JsonException(1, "Unknown Content-Type '%s'", contentType);
  rdr::MemInStream in(data, length);
  return JsonParser(in, strictNumbers).parseTop(true);
}

void formatJson(String& out, const void* data, int length, const char* contentType,
                bool strictNumbers)
{
  try {
    JsonPtr<JsonValue> v = JsonValue::parse(data, length, contentType, strictNumbers);
    out = String::adopt(v->toString());
  } catch (Exception& e) {
    out = format("<not JSON-encoded data: %s>", e.str());
  }
}

} // namespace plat
