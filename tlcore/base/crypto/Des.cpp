#include "crypto/Des.h"

#include <string.h>

namespace crypto {

namespace {

// The published tables (FIPS 46-3); bit positions count from 1 at the most
// significant end.
const uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

const uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                        2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

const uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

const uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                          23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                          41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                          44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

const uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

const uint8_t kSbox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// out bit i (from the top of an n-bit value) = in bit table[i] of an
// m-bit value.
uint64_t permute(uint64_t in, int inBits, const uint8_t* table, int outBits)
{
  uint64_t out = 0;
  for (int i = 0; i < outBits; i++)
    out = (out << 1) | ((in >> (inBits - table[i])) & 1);
  return out;
}

inline uint32_t rotl(uint32_t x, int n)
{
  return (x << n) | (x >> (32 - n));
}

// Derived once: the S-boxes merged with P, and the initial and final
// permutations as one lookup per byte.
struct Tables {
  uint32_t sp[8][64];
  uint64_t ip[8][256];
  uint64_t fp[8][256];

  Tables()
  {
    for (int j = 0; j < 8; j++) {
      for (int x = 0; x < 64; x++) {
        int row = ((x >> 4) & 2) | (x & 1);
        int col = (x >> 1) & 15;
        uint64_t s = static_cast<uint64_t>(kSbox[j][row * 16 + col]) << (28 - 4 * j);
        sp[j][x] = static_cast<uint32_t>(permute(s, 32, kP, 32));
      }
    }
    uint8_t fpTable[64];
    for (int i = 0; i < 64; i++)
      fpTable[kIp[i] - 1] = static_cast<uint8_t>(i + 1);
    for (int b = 0; b < 8; b++) {
      for (int v = 0; v < 256; v++) {
        uint64_t in = static_cast<uint64_t>(v) << (56 - 8 * b);
        ip[b][v] = permute(in, 64, kIp, 64);
        fp[b][v] = permute(in, 64, fpTable, 64);
      }
    }
  }
};

const Tables& tables()
{
  static const Tables t;
  return t;
}

inline uint64_t bytePermute(const uint64_t (&t)[8][256], uint64_t x)
{
  uint64_t out = 0;
  for (int b = 0; b < 8; b++)
    out |= t[b][(x >> (56 - 8 * b)) & 0xff];
  return out;
}

// Fills the 16 subkeys in encryption order: per round two words of four
// 6-bit S-box key groups, one group per byte.
void makeSubkeys(uint32_t* schedule, const uint8_t key[8])
{
  // Key bit n of a byte is mask 1 << n: the standard numbering reversed.
  uint64_t k = 0;
  for (int i = 0; i < 64; i++)
    k = (k << 1) | ((key[i / 8] >> (i % 8)) & 1);
  uint64_t cd = permute(k, 64, kPc1, 56);
  uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0fffffff;
  uint32_t d = static_cast<uint32_t>(cd) & 0x0fffffff;
  for (int r = 0; r < 16; r++) {
    for (int s = 0; s < kShifts[r]; s++) {
      c = ((c << 1) | (c >> 27)) & 0x0fffffff;
      d = ((d << 1) | (d >> 27)) & 0x0fffffff;
    }
    uint64_t sub = permute((static_cast<uint64_t>(c) << 28) | d, 56, kPc2, 48);
    uint32_t w[2] = {0, 0};
    for (int j = 0; j < 8; j++)
      w[j / 4] |= static_cast<uint32_t>((sub >> (42 - 6 * j)) & 0x3f) << (8 * (j % 4));
    schedule[2 * r] = w[0];
    schedule[2 * r + 1] = w[1];
  }
}

} // namespace

void Des::clearSchedule(uint32_t schedule[kScheduleWords])
{
  memset(schedule, 0, kScheduleBytes);
}

void Des::setKeyEncrypt(uint32_t schedule[kScheduleWords], const uint8_t key[8])
{
  clearSchedule(schedule);
  makeSubkeys(schedule, key);
}

void Des::setKeyDecrypt(uint32_t schedule[kScheduleWords], const uint8_t key[8])
{
  clearSchedule(schedule);
  uint32_t enc[32];
  makeSubkeys(enc, key);
  for (int r = 0; r < 16; r++) {
    schedule[2 * r] = enc[2 * (15 - r)];
    schedule[2 * r + 1] = enc[2 * (15 - r) + 1];
  }
  memset(enc, 0, sizeof(enc));
}

void Des::saveSchedule(const uint32_t schedule[kScheduleWords], uint8_t out[kScheduleBytes])
{
  memcpy(out, schedule, kScheduleBytes);
}

void Des::loadSchedule(uint32_t schedule[kScheduleWords], const uint8_t in[kScheduleBytes])
{
  memcpy(schedule, in, kScheduleBytes);
}

void Des::cryptBlock(const uint32_t schedule[kScheduleWords], const uint8_t in[8], uint8_t out[8])
{
  const Tables& t = tables();
  uint64_t block = 0;
  for (int i = 0; i < 8; i++)
    block = (block << 8) | in[i];
  block = bytePermute(t.ip, block);
  uint32_t l = static_cast<uint32_t>(block >> 32);
  uint32_t r = static_cast<uint32_t>(block);
  for (int round = 0; round < 16; round++) {
    uint32_t k0 = schedule[2 * round];
    uint32_t k1 = schedule[2 * round + 1];
    // S-box j reads the expansion bits r[4j-4 .. 4j+1] (mod 32): R rotated
    // so that they land in the low six bits.
    uint32_t f = t.sp[0][(rotl(r, 5) ^ k0) & 0x3f] | t.sp[1][(rotl(r, 9) ^ (k0 >> 8)) & 0x3f] |
                 t.sp[2][(rotl(r, 13) ^ (k0 >> 16)) & 0x3f] |
                 t.sp[3][(rotl(r, 17) ^ (k0 >> 24)) & 0x3f] | t.sp[4][(rotl(r, 21) ^ k1) & 0x3f] |
                 t.sp[5][(rotl(r, 25) ^ (k1 >> 8)) & 0x3f] |
                 t.sp[6][(rotl(r, 29) ^ (k1 >> 16)) & 0x3f] |
                 t.sp[7][(rotl(r, 1) ^ (k1 >> 24)) & 0x3f];
    uint32_t next = l ^ f;
    l = r;
    r = next;
  }
  block = bytePermute(t.fp, (static_cast<uint64_t>(r) << 32) | l);
  for (int i = 7; i >= 0; i--) {
    out[i] = static_cast<uint8_t>(block);
    block >>= 8;
  }
}

} // namespace crypto
