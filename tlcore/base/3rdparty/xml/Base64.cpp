// Base64 for byte content in XML documents.

#include <stdlib.h>
#include <string.h>

#include "3rdparty/xml/XmlRecord.h"

namespace xml {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 0..63 digits, kSkip for the white space decoding ignores, kPad for '=',
// kBad for everything else.
enum : unsigned char { kSkip = 64, kPad = 65, kBad = 66 };

struct DecodeTable {
  unsigned char v[256];
  DecodeTable()
  {
    memset(v, kBad, sizeof v);
    for (int i = 0; i < 64; i++)
      v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    for (const char* c = " \t\r\n"; *c; c++)
      v[static_cast<unsigned char>(*c)] = kSkip;
    v[static_cast<unsigned char>('=')] = kPad;
  }
};

const unsigned char* decodeTable()
{
  static const DecodeTable t;
  return t.v;
}

void setError(XmlError* error, XmlError code)
{
  if (error)
    *error = code;
}

} // namespace

int XmlBase64::encodeLength(int n, bool formatted)
{
  if (n < 0)
    n = 0;
  return ((n - 1) / 3) * 4 + 5 + (formatted ? n / 54 : 0);
}

const char* XmlBase64::encode(const unsigned char* bytes, int n, bool formatted)
{
  if (n < 0 || (!bytes && n > 0))
    n = 0;
  char* out = static_cast<char*>(reserve(size_t(encodeLength(n, formatted))));
  char* p = out;
  int groups = 0;
  int i = 0;
  for (; i + 3 <= n; i += 3) {
    unsigned v = unsigned(bytes[i]) << 16 | unsigned(bytes[i + 1]) << 8 | bytes[i + 2];
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = kAlphabet[(v >> 6) & 63];
    *p++ = kAlphabet[v & 63];
    if (formatted && ++groups == 18) {
      *p++ = '\n';
      groups = 0;
    }
  }
  if (i < n) {
    unsigned v = unsigned(bytes[i]) << 16 | (i + 1 < n ? unsigned(bytes[i + 1]) << 8 : 0u);
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    *p++ = '=';
  }
  *p = 0;
  return out;
}

int XmlBase64::decodeLength(const char* text, XmlError* error)
{
  setError(error, kXmlNoError);
  if (!text)
    return 0;
  const unsigned char* table = decodeTable();
  int count = 0, pads = 0;
  for (const char* p = text; *p; p++) {
    unsigned char v = table[static_cast<unsigned char>(*p)];
    if (v == kBad) {
      setError(error, kXmlBase64BadChar);
      return 0;
    }
    if (v == kSkip)
      continue;
    count++;
    pads = v == kPad ? pads + 1 : 0;
  }
  if (count % 4)
    setError(error, kXmlBase64DataSize);
  return int((int64_t(count - pads) * 3) / 4);
}

bool XmlBase64::decode(const char* text, unsigned char* out, int outSize, XmlError* error,
                       int* written)
{
  setError(error, kXmlNoError);
  if (written)
    *written = 0;
  if (!text)
    return true;
  const unsigned char* table = decodeTable();
  int n = 0;
  unsigned group = 0;
  int digits = 0;
  bool padded = false;
  for (const char* p = text; *p; p++) {
    unsigned char v = table[static_cast<unsigned char>(*p)];
    if (v == kSkip)
      continue;
    if (v == kBad || (padded && v != kPad)) {
      setError(error, kXmlBase64BadChar);
      return false;
    }
    if (v == kPad) {
      padded = true;
      continue;
    }
    group = group << 6 | v;
    if (++digits < 4)
      continue;
    if (n + 3 > outSize) {
      setError(error, kXmlBase64BufferTooSmall);
      return false;
    }
    out[n++] = static_cast<unsigned char>(group >> 16);
    out[n++] = static_cast<unsigned char>(group >> 8);
    out[n++] = static_cast<unsigned char>(group);
    group = 0;
    digits = 0;
    if (written)
      *written = n;
  }
  if (digits) {
    // A final group of two or three digits carries one or two bytes;
    // without its padding the text was cut short.
    int bytes = digits - 1;
    if (n + bytes > outSize) {
      setError(error, kXmlBase64BufferTooSmall);
      return false;
    }
    group <<= 6 * (4 - digits);
    for (int k = 0; k < bytes; k++)
      out[n++] = static_cast<unsigned char>(group >> (16 - 8 * k));
    if (written)
      *written = n;
    if (!padded || digits == 1) {
      setError(error, kXmlBase64Truncated);
      return false;
    }
  }
  return true;
}

const unsigned char* XmlBase64::decode(const char* text, int* outLength, XmlError* error)
{
  XmlError e = kXmlNoError;
  int size = decodeLength(text, &e);
  if (e == kXmlBase64BadChar) {
    setError(error, e);
    return nullptr;
  }
  auto* out = static_cast<unsigned char*>(reserve(size_t(size) + 3));
  int n = 0;
  bool ok = decode(text, out, size + 3, &e, &n);
  setError(error, e);
  if (outLength)
    *outLength = n;
  return ok ? out : nullptr;
}

void* XmlBase64::reserve(size_t n)
{
  if (n > size_) {
    free(buf_);
    buf_ = xmlAlloc(n);
    size_ = n;
  }
  return buf_;
}

void XmlBase64::freeBuffer()
{
  free(buf_);
  buf_ = nullptr;
  size_ = 0;
}

} // namespace xml
