// Character-length tables of the document encodings and the encoding guess.

#include <string.h>

#include "3rdparty/xml/XmlRecord.h"

namespace xml {

namespace {

struct LengthTables {
  unsigned char utf8[256], legacy[256], shiftJis[256], gb2312[256], big5Gbk[256];

  LengthTables()
  {
    for (int b = 0; b < 256; b++) {
      legacy[b] = 1;
      // A stray continuation byte or an impossible lead byte stands alone.
      utf8[b] = b >= 0xF0 && b <= 0xF7 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC0 && b <= 0xDF ? 2 : 1;
      shiftJis[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
      gb2312[b] = b >= 0xA1 && b <= 0xF7 ? 2 : 1;
      big5Gbk[b] = b >= 0x81 && b <= 0xFE ? 2 : 1;
    }
  }
};

const LengthTables& tables()
{
  static const LengthTables t;
  return t;
}

// Structural UTF-8 check; a sequence cut by the end of the buffer passes,
// since callers look at a prefix of a file.
bool looksLikeUtf8(const unsigned char* p, const unsigned char* end)
{
  const unsigned char* len = tables().utf8;
  while (p < end) {
    unsigned char b = *p;
    if (b < 0x80) {
      p++;
      continue;
    }
    int n = len[b];
    if (n == 1)
      return false;
    for (int i = 1; i < n; i++) {
      if (p + i >= end)
        return true;
      if ((p[i] & 0xC0) != 0x80)
        return false;
    }
    p += n;
  }
  return true;
}

bool startsWithNoCase(const char* s, const char* end, const char* prefix)
{
  for (; *prefix; s++, prefix++) {
    if (s >= end)
      return false;
    char a = *s, b = *prefix;
    if (a >= 'A' && a <= 'Z')
      a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z')
      b = char(b - 'A' + 'a');
    if (a != b)
      return false;
  }
  return true;
}

bool isBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

const unsigned char* charLengthTable()
{
  const LengthTables& t = tables();
  switch (getEncoding()) {
  case kXmlEncodingUtf8:
    return t.utf8;
  case kXmlEncodingShiftJis:
    return t.shiftJis;
  case kXmlEncodingGb2312:
    return t.gb2312;
  case kXmlEncodingBig5:
  case kXmlEncodingGbk:
    return t.big5Gbk;
  default:
    return t.legacy;
  }
}

XmlEncoding guessEncoding(const void* buffer, size_t length, bool useDeclaration)
{
  if (!buffer || length < 25)
    return kXmlEncodingUnknown;
  auto* b = static_cast<const unsigned char*>(buffer);
  if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    return kXmlEncodingUtf8;
  XmlEncoding guess = looksLikeUtf8(b, b + length) ? kXmlEncodingUtf8 : kXmlEncodingLegacy;
  if (!useDeclaration)
    return guess;

  const char* s = static_cast<const char*>(buffer);
  const char* end = s + (length < 200 ? length : 200);
  static const char kWord[] = "encoding";
  const char* p = s;
  for (;; p++) {
    p = static_cast<const char*>(memmem(p, size_t(end - p), kWord, sizeof kWord - 1));
    if (!p)
      return guess;
    const char* q = p + sizeof kWord - 1;
    while (q < end && isBlank(*q))
      q++;
    if (q >= end || *q != '=')
      continue;
    q++;
    while (q < end && isBlank(*q))
      q++;
    if (q >= end || (*q != '"' && *q != '\''))
      continue;
    q++;
    if (startsWithNoCase(q, end, "utf-8") || startsWithNoCase(q, end, "utf8"))
      return guess;
    if (startsWithNoCase(q, end, "shiftjis") || startsWithNoCase(q, end, "shift-jis") ||
        startsWithNoCase(q, end, "sjis"))
      return kXmlEncodingShiftJis;
    if (startsWithNoCase(q, end, "gb2312"))
      return kXmlEncodingGb2312;
    if (startsWithNoCase(q, end, "big5"))
      return kXmlEncodingBig5;
    if (startsWithNoCase(q, end, "gbk"))
      return kXmlEncodingGbk;
    return kXmlEncodingLegacy;
  }
}

} // namespace xml
