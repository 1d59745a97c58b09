#include "crypto/Sha256Ni.h"

#include "plat/Exception.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

namespace crypto {

namespace {

#define TL_SHA_TARGET __attribute__((target("sha,sse4.1")))

alignas(16) const uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// Rounds 4i to 4i+3. w[i % 4] holds their message words; the schedule of
// the words four groups ahead is advanced on the way (msg1 three groups
// ahead of its use, msg2 one group ahead).
template <int i>
TL_SHA_TARGET __attribute__((always_inline)) inline void rounds4(__m128i& abef, __m128i& cdgh,
                                                                 __m128i (&w)[4],
                                                                 const unsigned char* block,
                                                                 __m128i byteSwap)
{
  constexpr int cur = i % 4, next = (i + 1) % 4, prev = (i + 3) % 4;
  if constexpr (i < 4)
    w[cur] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)), byteSwap);
  __m128i msg = _mm_add_epi32(w[cur], _mm_load_si128(reinterpret_cast<const __m128i*>(&kK[4 * i])));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
  if constexpr (i >= 3 && i <= 14) {
    w[next] = _mm_add_epi32(w[next], _mm_alignr_epi8(w[cur], w[prev], 4));
    w[next] = _mm_sha256msg2_epu32(w[next], w[cur]);
  }
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(msg, 0x0e));
  if constexpr (i >= 1 && i <= 12)
    w[prev] = _mm_sha256msg1_epu32(w[prev], w[cur]);
}

template <size_t... I>
TL_SHA_TARGET __attribute__((always_inline)) inline void block64(__m128i& abef, __m128i& cdgh,
                                                                 const unsigned char* block,
                                                                 __m128i byteSwap,
                                                                 std::index_sequence<I...>)
{
  __m128i w[4];
  (rounds4<(int)I>(abef, cdgh, w, block, byteSwap), ...);
}

TL_SHA_TARGET void blocks(uint32_t state[8], const unsigned char* p, size_t n)
{
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The instructions keep the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);
  for (; n > 0; n--, p += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    block64(abef, cdgh, p, byteSwap, std::make_index_sequence<16>());
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xf0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

bool detect()
{
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1))
    return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

} // namespace

bool haveSha256Ni()
{
  static const bool have = detect();
  return have;
}

void sha256BlocksNi(uint32_t state[8], const unsigned char* p, size_t n)
{
  PLAT_ASSERT(haveSha256Ni());
  blocks(state, p, n);
}

} // namespace crypto

#else

namespace crypto {

bool haveSha256Ni()
{
  return false;
}

void sha256BlocksNi(uint32_t*, const unsigned char*, size_t)
{
  PLAT_ASSERT(haveSha256Ni());
}

} // namespace crypto

#endif
