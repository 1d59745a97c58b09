// Random bytes from the process-wide generator, as an endless input stream.
//
// The generator is an HMAC-DRBG (SP 800-90A, HMAC-SHA-256) seeded once per
// process from os::getEntropy and never reseeded. A RandomStream holds the
// generator's recursive lock from construction to destruction, so make one
// for a single draw and destroy it at once; a thread that holds one may
// make another, other threads wait in the constructor. Bytes are made in
// 16-byte blocks; whatever is left of the last block is wiped with the
// stream and never handed out again. Not rewindable.
#pragma once

#include <stddef.h>

#include "rdr/InStream.h"

namespace crypto {

class RandomStream : public rdr::InStream {
public:
  static constexpr int kBlockSize = 16;

  // Seeds the generator on first use; throws what the entropy source throws.
  RandomStream();
  ~RandomStream() override;
  RandomStream(const RandomStream&) = delete;
  RandomStream& operator=(const RandomStream&) = delete;

  int64_t pos() override { return 0; }
  // One new block; a single item above 16 bytes is refused ("item size
  // too large").
  bool overrun(int size) override;

#ifdef TL_TEST_HOOKS
  // Test hook: forgets the generator, so the next stream seeds it again
  // from the entropy source. No stream may be alive.
  static void resetForTest();
#endif

private:
  uint8_t block_[kBlockSize];
};

// The random callback handed to mbedtls. context is null or an
// rdr::InStream whose bytes are used first (until it ends); the rest comes
// from the generator. Returns 0, or -0x003C (entropy source failed) when a
// stream fails.
int mbedTlsRandom(void* context, unsigned char* out, size_t length);

} // namespace crypto
