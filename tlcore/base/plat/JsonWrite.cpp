// The JSON writer: one indented layout for every document, or the same
// without any whitespace (the compact form).
//
// The writer fills the output stream's window through a cached pointer pair
// and asks the stream for room only when the window is short.
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "plat/Json.h"
#include "plat/JsonScan.h"
#include "plat/utf8.h"
#include "rdr/MemOutStream.h"
#include "rdr/TextWriter.h"

namespace plat {

namespace {

const char kHex[] = "0123456789ABCDEF";

class JsonWriter {
public:
  explicit JsonWriter(rdr::OutStream& os) : os_(os), p_(os.getPtr()), e_(os.getEnd()) {}

  // Hands the position back and leaves the uncounted NUL of TextWriter.
  void finish(rdr::TextWriter& out)
  {
    os_.setPtr(p_);
    out.write("", 0);
  }

  // depth: the value's level below the top value written.
  void value(const JsonValue& v, int indent, int depth)
  {
    if (depth > JsonValue::kMaxDepth)
      throw JsonException(1, "Unsupported nesting");
    switch (v.kind()) {
    case JsonValue::kNumber:
      number(static_cast<const JsonNumber&>(v));
      break;
    case JsonValue::kBool:
      if (static_cast<const JsonBool&>(v).value())
        bytes("true", 4);
      else
        bytes("false", 5);
      break;
    case JsonValue::kNull:
      bytes("null", 4);
      break;
    case JsonValue::kString:
      string(static_cast<const JsonString&>(v).get());
      break;
    case JsonValue::kObject:
      object(static_cast<const JsonObject&>(v), indent, depth);
      break;
    case JsonValue::kArray:
      array(static_cast<const JsonArray&>(v), indent, depth);
      break;
    }
  }

  void number(const JsonNumber& n)
  {
    if (!n.isInteger()) {
      real(n.realValue());
      return;
    }
    room(20);
    int64_t v = n.value();
    uint64_t u = (uint64_t)v;
    if (v < 0) {
      *p_++ = '-';
      u = 0 - u;
    }
    char digits[20];
    int k = 0;
    do {
      digits[k++] = (char)('0' + u % 10);
      u /= 10;
    } while (u);
    while (k)
      *p_++ = (uint8_t)digits[--k];
  }

  // The shortest digits that read back as the same double, always with a
  // fraction or an exponent so that it stays a real number. The parser
  // takes no sign after the exponent letter, so small values are written
  // out in full ("0.0025"); it takes no integer part beyond 64 bits, so
  // values from 1e18 up are written as "2.5e40".
  void real(double d)
  {
    static constexpr int kLongestWhole = 18; // digits, below 2^63
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    char buf[40];
    for (int precision = 15; precision <= 17; precision++) {
      snprintf(buf, sizeof(buf), "%.*e", precision - 1, d);
      // A thread locale may use a decimal comma.
      for (char* c = buf; *c; c++) {
        if (*c == ',')
          *c = '.';
      }
      if (strtod_l(buf, nullptr, cLocale) == d || precision == 17)
        break;
    }
    // buf is [-]d.ddde<sign>xx.
    const char* p = buf;
    std::string out;
    if (*p == '-')
      out += *p++;
    std::string digits;
    for (; *p != 'e'; p++)
      if (*p != '.')
        digits += *p;
    int exp = atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0')
      digits.pop_back();
    int n = (int)digits.size();
    if (exp < 0) {
      out += "0." + std::string(-exp - 1, '0') + digits;
    } else if (exp < kLongestWhole) {
      if (n <= exp + 1)
        out += digits + std::string(exp + 1 - n, '0') + ".0";
      else
        out += digits.substr(0, exp + 1) + "." + digits.substr(exp + 1);
    } else {
      out += digits.substr(0, 1) + "." + (n > 1 ? digits.substr(1) : "0") + "e" +
             std::to_string(exp);
    }
    bytes(out.data(), (int)out.size());
  }

  void object(const JsonObject& o, int indent, int depth)
  {
    if (o.empty()) {
      bytes("{}", 2);
      return;
    }
    byte('{');
    bool first = true;
    for (const auto& m : o) {
      if (!first)
        byte(',');
      first = false;
      newline(inner(indent));
      string(m.key);
      byte(':');
      value(*m.value, inner(indent), depth + 1);
    }
    newline(indent);
    byte('}');
  }

  void array(const JsonArray& a, int indent, int depth)
  {
    if (a.empty()) {
      bytes("[]", 2);
      return;
    }
    byte('[');
    bool first = true;
    for (const auto& e : a) {
      if (!first)
        byte(',');
      first = false;
      newline(inner(indent));
      value(*e, inner(indent), depth + 1);
    }
    newline(indent);
    byte(']');
  }

  void string(const char* s)
  {
    byte('"');
    if (s) {
      const uint8_t* q = (const uint8_t*)s;
      const uint8_t* end = q + strlen(s);
      const uint8_t* run = q;
      for (;;) {
        q = jsonSkipRun<true>(q, end);
        if (q == end)
          break;
        // Whole characters of two and three bytes are copied with the run.
        int n = *q >= 0x80 ? jsonValidSequence(q, end) : 0;
        if (n == 2 || n == 3) {
          q += n;
          continue;
        }
        bytes(run, (int)(q - run));
        q = special(q, end, n);
        run = q;
      }
      bytes(run, (int)(q - run));
    }
    byte('"');
  }

private:
  // One character that is not copied as it stands (n: the length of a valid
  // multibyte character there, else 0); returns what follows it.
  const uint8_t* special(const uint8_t* q, const uint8_t* end, int n)
  {
    unsigned c = *q;
    room(12);
    switch (c) {
    case '"':
    case '\\':
      p_[0] = '\\';
      p_[1] = (uint8_t)c;
      p_ += 2;
      return q + 1;
    case '\t':
      p_[0] = '\\';
      p_[1] = 't';
      p_ += 2;
      return q + 1;
    case '\n':
      p_[0] = '\\';
      p_[1] = 'n';
      p_ += 2;
      return q + 1;
    case '\r':
      p_[0] = '\\';
      p_[1] = 'r';
      p_ += 2;
      return q + 1;
    }
    if (c < 0x80) {
      escape(c);
      return q + 1;
    }
    if (n == 4) {
      unsigned cp = (c & 0x07) << 18 | (q[1] & 0x3Fu) << 12 | (q[2] & 0x3Fu) << 6 | (q[3] & 0x3Fu);
      escape(((cp - 0x10000) >> 10) | 0xD800);
      escape((cp & 0x3FF) | 0xDC00);
      return q + 4;
    }
    // Only text changed behind the value's back can be invalid here; it is
    // repaired as the constructor does rather than cut short.
    const char* cursor = (const char*)q + 1;
    utf8DecodeRest((int)c, &cursor, (int)(end - q));
    bytes("\xEF\xBF\xBD", 3);
    return (const uint8_t*)cursor;
  }

  // "\uXXXX" in upper-case hex; room for it has been made.
  void escape(unsigned u)
  {
    room(6);
    p_[0] = '\\';
    p_[1] = 'u';
    p_[2] = (uint8_t)kHex[(u >> 12) & 15];
    p_[3] = (uint8_t)kHex[(u >> 8) & 15];
    p_[4] = (uint8_t)kHex[(u >> 4) & 15];
    p_[5] = (uint8_t)kHex[u & 15];
    p_ += 6;
  }

  // The indent of a container's members; the compact form has none.
  static int inner(int indent) { return indent < 0 ? indent : indent + 2; }

  void newline(int indent)
  {
    if (indent < 0)
      return;
    if (indent < 256) {
      room(indent + 1);
      *p_++ = '\n';
      memset(p_, ' ', (size_t)indent);
      p_ += indent;
      return;
    }
    room(1);
    *p_++ = '\n';
    while (indent > 0) {
      room(1);
      int n = (int)(e_ - p_) < indent ? (int)(e_ - p_) : indent;
      memset(p_, ' ', (size_t)n);
      p_ += n;
      indent -= n;
    }
  }

  void byte(uint8_t c)
  {
    room(1);
    *p_++ = c;
  }

  void bytes(const void* data, int len)
  {
    const uint8_t* d = (const uint8_t*)data;
    if (e_ - p_ >= len) {
      memcpy(p_, d, (size_t)len);
      p_ += len;
      return;
    }
    while (len > 0) {
      room(1);
      int n = (int)(e_ - p_) < len ? (int)(e_ - p_) : len;
      memcpy(p_, d, (size_t)n);
      p_ += n;
      d += n;
      len -= n;
    }
  }

  void room(int n)
  {
    if (e_ - p_ < n) {
      os_.setPtr(p_);
      os_.overrun(n, 1);
      p_ = os_.getPtr();
      e_ = os_.getEnd();
    }
  }

  rdr::OutStream& os_;
  uint8_t* p_;
  uint8_t* e_;
};

void writeValue(const JsonValue& v, rdr::TextWriter& out, int indent)
{
  JsonWriter w(*out.getStream());
  w.value(v, indent, 0);
  w.finish(out);
}

} // namespace

void JsonNumber::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

void JsonBool::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

void JsonNull::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

void JsonString::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

void JsonObject::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

void JsonArray::write(rdr::TextWriter& out, int indent) const
{
  writeValue(*this, out, indent);
}

char* JsonValue::toString(int indent) const
{
  rdr::MemOutStream os;
  rdr::TextWriter out(&os);
  write(out, indent);
  os.nulTerminate();
  return (char*)os.releaseData();
}

JsonPtr<JsonValue> JsonValue::clone(const JsonValue& value)
{
  // Real numbers can only come from a lax parse, so the copy is read back
  // laxly; for integer-only trees it is the same as the strict parse.
  std::unique_ptr<char[]> text(value.toString());
  return parse(text.get(), (int)strlen(text.get()), nullptr, false);
}

} // namespace plat
