// Byte scanning shared by the JSON parser and writer (internal): skipping
// the runs of a string that need no attention, sixteen bytes at a time
// where the processor allows, and checking one multibyte character.
#pragma once

#include <stdint.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace plat {

// Skips bytes that are neither the quote, the backslash, a control
// character (below 0x20, and 0x7F when withDel) nor part of a multibyte
// character; returns the first other byte, or e.
template <bool withDel> inline const uint8_t* jsonSkipRun(const uint8_t* p, const uint8_t* e)
{
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i space = _mm_set1_epi8(0x20);
  while (e - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Compared as signed bytes, 0x80 and above are below the space too.
    __m128i stop =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                     _mm_cmplt_epi8(v, space));
    if (withDel)
      stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, del));
    int mask = _mm_movemask_epi8(stop);
    if (mask)
      return p + __builtin_ctz((unsigned)mask);
    p += 16;
  }
#endif
  while (p < e && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\' && !(withDel && *p == 0x7F))
    p++;
  return p;
}

// What the parser copies as it stands.
inline const uint8_t* jsonSkipPlain(const uint8_t* p, const uint8_t* e)
{
  return jsonSkipRun<false>(p, e);
}

// The length of the valid character that starts at p (a byte of 0x80 or
// more) when it lies whole before e, else 0. Valid as plat::isValidUtf8 has
// it: no over-long forms, surrogates, non-characters or values past
// U+10FFFF.
inline int jsonValidSequence(const uint8_t* p, const uint8_t* e)
{
  unsigned c = p[0];
  auto cont = [](uint8_t b) { return (b & 0xC0) == 0x80; };
  if (c < 0xC2)
    return 0;
  if (c < 0xE0)
    return e - p >= 2 && cont(p[1]) ? 2 : 0;
  if (c < 0xF0) {
    if (e - p < 3 || !cont(p[1]) || !cont(p[2]))
      return 0;
    unsigned cp = (c & 0x0F) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
        (cp & 0xFFFE) == 0xFFFE)
      return 0;
    return 3;
  }
  if (c < 0xF5) {
    if (e - p < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3]))
      return 0;
    unsigned cp = (c & 0x07) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    if (cp < 0x10000 || cp > 0x10FFFF || (cp & 0xFFFE) == 0xFFFE)
      return 0;
    return 4;
  }
  return 0;
}

} // namespace plat
