#include "plat/encodings.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "plat/Exception.h"

namespace plat {

namespace {

const char kHexDigits[] = "0123456789abcdef";
const char kBase64Std[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBase64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Both alphabets in one table; kPad marks "=", kBad everything else.
constexpr signed char kBad = -1;
constexpr signed char kPad = -2;

struct Base64Table {
  signed char v[256];
  Base64Table()
  {
    memset(v, kBad, sizeof(v));
    for (int i = 0; i < 64; i++) {
      v[(unsigned char)kBase64Std[i]] = (signed char)i;
      v[(unsigned char)kBase64Url[i]] = (signed char)i;
    }
    v[(unsigned char)'='] = kPad;
  }
};
const Base64Table kBase64Dec;

inline bool isPercentKept(unsigned char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' ||
         c == '-' || c == '.' || c == '_';
}

// The text's length as an int, or -1 when it cannot be one.
int textLength(const char* text)
{
  size_t n = text ? strlen(text) : 0;
  return n > (size_t)INT_MAX ? -1 : (int)n;
}

} // namespace

// --- Hexadecimal -------------------------------------------------------------

String binToHex(int length, const unsigned char* data)
{
  if (length < 0 || !data)
    length = 0;
  char* out = new char[(size_t)length * 2 + 1];
  char* p = out;
  for (int i = 0; i < length; i++) {
    *p++ = kHexDigits[data[i] >> 4];
    *p++ = kHexDigits[data[i] & 15];
  }
  *p = 0;
  return String::adopt(out);
}

char hexDigit(int i)
{
  PLAT_CHECK(i >= 0 && i <= 15);
  return kHexDigits[i];
}

bool addHexDigit(char c, unsigned* acc)
{
  int v = hexValue((unsigned char)c);
  if (v < 0)
    return false;
  *acc = *acc * 16 + (unsigned)v;
  return true;
}

bool hexToBin(const char* text, MBuf<unsigned char>& out)
{
  int len = textLength(text);
  if (len < 0 || len % 2 != 0)
    return false;
  // Decoded into a buffer of the same secrecy, so a failure wipes what was
  // decoded and a success releases the old contents the way out would.
  MBuf<unsigned char> tmp(len / 2, out.isSecure());
  for (int i = 0; i < len / 2; i++) {
    int hi = hexValue((unsigned char)text[2 * i]);
    int lo = hexValue((unsigned char)text[2 * i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    tmp[i] = (unsigned char)(hi << 4 | lo);
  }
  out.swap(tmp);
  return true;
}

bool hexToBinFixed(const char* text, int count, unsigned char* out)
{
  if (!text)
    return count < 1;
  // The NUL is not a digit, so a short text stops before reading past it.
  for (int i = 0; i < count; i++) {
    int hi = hexValue((unsigned char)text[2 * i]);
    if (hi < 0)
      return false;
    int lo = hexValue((unsigned char)text[2 * i + 1]);
    if (lo < 0)
      return false;
    out[i] = (unsigned char)(hi << 4 | lo);
  }
  return true;
}

MBuf<unsigned char> hexToBinOrThrow(const char* text)
{
  MBuf<unsigned char> out;
  if (!hexToBin(text, out))
    throw Exception("Bad hex string");
  return out;
}

// --- Base64 --------------------------------------------------------------------

String binToBase64(int length, const unsigned char* data, bool urlSafe)
{
  if (length < 0 || !data)
    length = 0;
  const char* alphabet = urlSafe ? kBase64Url : kBase64Std;
  char* out = new char[((size_t)length + 2) / 3 * 4 + 1];
  char* p = out;
  int i = 0;
  for (; i + 3 <= length; i += 3) {
    unsigned v = (unsigned)data[i] << 16 | (unsigned)data[i + 1] << 8 | data[i + 2];
    *p++ = alphabet[v >> 18];
    *p++ = alphabet[(v >> 12) & 63];
    *p++ = alphabet[(v >> 6) & 63];
    *p++ = alphabet[v & 63];
  }
  int rest = length - i;
  if (rest > 0) {
    unsigned v = (unsigned)data[i] << 16 | (rest == 2 ? (unsigned)data[i + 1] << 8 : 0);
    *p++ = alphabet[v >> 18];
    *p++ = alphabet[(v >> 12) & 63];
    if (rest == 2)
      *p++ = alphabet[(v >> 6) & 63];
    if (!urlSafe) {
      *p++ = '=';
      if (rest == 1)
        *p++ = '=';
    }
  }
  *p = 0;
  return String::adopt(out);
}

bool base64Decode(const char* text, MBuf<unsigned char>& out)
{
  int len = textLength(text);
  if (len < 0 || len % 4 == 1)
    return false;

  // Where decoding stops: the first "=", which may only be followed by a
  // second one that completes its group, or the end of the text.
  int end = len;
  for (int i = 0; i < len; i++) {
    signed char v = kBase64Dec.v[(unsigned char)text[i]];
    if (v == kBad)
      return false;
    if (v != kPad)
      continue;
    int place = i % 4;
    if (place < 2)
      return false;
    bool ok = i + 1 == len || (place == 2 && i + 2 == len && text[i + 1] == '=');
    if (!ok)
      return false;
    end = i;
    break;
  }

  // rest is never 1: the length check and the "=" places rule it out.
  int full = end / 4, rest = end % 4;
  MBuf<unsigned char> tmp(full * 3 + (rest ? rest - 1 : 0), out.isSecure());
  unsigned char* p = tmp.data();
  const unsigned char* s = (const unsigned char*)text;
  for (int g = 0; g < full; g++, s += 4) {
    unsigned v = (unsigned)kBase64Dec.v[s[0]] << 18 | (unsigned)kBase64Dec.v[s[1]] << 12 |
                 (unsigned)kBase64Dec.v[s[2]] << 6 | (unsigned)kBase64Dec.v[s[3]];
    *p++ = (unsigned char)(v >> 16);
    *p++ = (unsigned char)(v >> 8);
    *p++ = (unsigned char)v;
  }
  if (rest > 0) {
    unsigned v = (unsigned)kBase64Dec.v[s[0]] << 18 | (unsigned)kBase64Dec.v[s[1]] << 12;
    if (rest == 3)
      v |= (unsigned)kBase64Dec.v[s[2]] << 6;
    *p++ = (unsigned char)(v >> 16);
    if (rest == 3)
      *p++ = (unsigned char)(v >> 8);
  }
  out.swap(tmp);
  return true;
}

// --- Percent encoding ----------------------------------------------------------

String percentEncode(const char* text, bool encodeNonAscii)
{
  if (!text)
    return String();
  size_t len = strlen(text);
  char* out = new char[len * 3 + 1];
  char* p = out;
  for (const unsigned char* s = (const unsigned char*)text; *s; s++) {
    if (isPercentKept(*s) || (*s >= 128 && !encodeNonAscii)) {
      *p++ = (char)*s;
    } else {
      *p++ = '%';
      *p++ = "0123456789ABCDEF"[*s >> 4];
      *p++ = "0123456789ABCDEF"[*s & 15];
    }
  }
  *p = 0;
  return String::adopt(out);
}

String percentDecode(const char* text, bool plusIsSpace)
{
  if (!text)
    return String();
  std::unique_ptr<char[]> out(new char[strlen(text) + 1]);
  char* p = out.get();
  for (const char* s = text; *s; s++) {
    if (*s == '%') {
      int hi = hexValue((unsigned char)s[1]);
      int lo = hi < 0 ? -1 : hexValue((unsigned char)s[2]);
      // "%00" would silently cut the value at the NUL.
      if (lo < 0 || (hi | lo) == 0)
        throw Exception("Bad percent encoding");
      *p++ = (char)(hi << 4 | lo);
      s += 2;
    } else if (*s == '+' && plusIsSpace) {
      *p++ = ' ';
    } else {
      *p++ = *s;
    }
  }
  *p = 0;
  return String::adopt(out.release());
}

// --- Debugging -------------------------------------------------------------------

void hexDump(const MBuf<unsigned char>& data, const char* firstPrefix, const char* nextPrefix)
{
  int len = data.length();
  for (int line = 0; line < len; line += 16) {
    const char* prefix = line == 0 ? firstPrefix : nextPrefix;
    if (prefix)
      fputs(prefix, stderr);
    else
      fprintf(stderr, "%04x ", line);
    // Missing bytes of a short last line are padded so the characters line up.
    char chars[17];
    int n = 0;
    for (int i = 0; i < 16; i++) {
      if (line + i < len) {
        unsigned char c = data[line + i];
        fprintf(stderr, "%02x ", c);
        chars[n++] = c >= 32 && c <= 126 ? (char)c : '.';
      } else {
        fputs("   ", stderr);
      }
      if (i % 4 == 3)
        fputc(' ', stderr);
    }
    chars[n] = 0;
    fprintf(stderr, "%s\n", chars);
  }
  fflush(stderr);
}

} // namespace plat
