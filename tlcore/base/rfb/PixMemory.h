// Loading and storing one pixel of 1 to 4 bytes: 16 and 32 bits in host
// order, 24 bits as three bytes low first. Shared by the buffers, the
// drawing routines and the translation routines, which are templates over
// these.
#pragma once

#include <stdint.h>
#include <string.h>

namespace rfb {
namespace pixmem {

template <int Bytes>
inline uint32_t load(const uint8_t* p)
{
  if constexpr (Bytes == 1) {
    return *p;
  } else if constexpr (Bytes == 2) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
  } else if constexpr (Bytes == 3) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
  } else {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
  }
}

template <int Bytes>
inline void store(uint8_t* p, uint32_t v)
{
  if constexpr (Bytes == 1) {
    *p = (uint8_t)v;
  } else if constexpr (Bytes == 2) {
    uint16_t w = (uint16_t)v;
    memcpy(p, &w, 2);
  } else if constexpr (Bytes == 3) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
  } else {
    memcpy(p, &v, 4);
  }
}

// The same for a size known only at run time; other sizes read 0 and
// write nothing.
inline uint32_t loadAny(const uint8_t* p, int bytes)
{
  switch (bytes) {
  case 1: return load<1>(p);
  case 2: return load<2>(p);
  case 3: return load<3>(p);
  case 4: return load<4>(p);
  default: return 0;
  }
}

inline void storeAny(uint8_t* p, uint32_t v, int bytes)
{
  switch (bytes) {
  case 1: store<1>(p, v); break;
  case 2: store<2>(p, v); break;
  case 3: store<3>(p, v); break;
  case 4: store<4>(p, v); break;
  default: break;
  }
}

// Byte offset of pixel (x, y) from the start of memory with the given
// stride (pixels), in the width of a pointer.
inline ptrdiff_t offset(int x, int y, int stride, int bytes)
{
  return ((ptrdiff_t)y * stride + x) * bytes;
}

// True while a test has the hand-specialised paths step aside.
extern bool genericPaths;

} // namespace pixmem
} // namespace rfb
