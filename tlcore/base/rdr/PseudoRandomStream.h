// Reproducible pseudo-random bytes from two PCG32 generators seeded from one
// 64-bit value. Each refill makes an 8-byte window: the first generator's
// output then the second's, least significant byte first; a read that does
// not fit in what is left of the window drops the rest. Reads of up to 8
// bytes at a time are served (readU32Below for uniform numbers); larger
// single requests fail with "InStream overrun: buffer size exceeded". Not
// rewindable; not locked.
#pragma once

#include <stdint.h>

#include "rdr/InStream.h"

namespace rdr {

class PseudoRandomStream : public InStream {
public:
  // fixedSequences: increments 1 and 3, so equal seeds give equal bytes;
  // otherwise each generator's increment comes from its own address.
  PseudoRandomStream(uint64_t seed, bool fixedSequences);
  PseudoRandomStream(const PseudoRandomStream&) = delete;
  PseudoRandomStream& operator=(const PseudoRandomStream&) = delete;

  int64_t pos() override { return offset_ + (ptr_ - out_); }
  bool overrun(int size) override;

private:
  struct Pcg32 {
    uint64_t state;
    uint64_t inc;
    void seed(uint64_t initState, uint64_t sequence);
    uint32_t next();
  };

  int64_t offset_ = 0;
  uint8_t out_[8];
  Pcg32 gen_[2];
};

} // namespace rdr
