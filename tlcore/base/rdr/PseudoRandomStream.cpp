#include "rdr/PseudoRandomStream.h"

namespace rdr {

void PseudoRandomStream::Pcg32::seed(uint64_t initState, uint64_t sequence)
{
  state = 0;
  inc = sequence | 1;
  next();
  state += initState;
  next();
}

// XSH-RR: 64-bit state, 32-bit output.
uint32_t PseudoRandomStream::Pcg32::next()
{
  uint64_t old = state;
  state = old * 6364136223846793005ULL + (inc | 1);
  uint32_t xorshifted = (uint32_t)(((old >> 45) ^ (old >> 27)));
  uint32_t rot = (uint32_t)(old >> 59);
  return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
}

PseudoRandomStream::PseudoRandomStream(uint64_t seed, bool fixedSequences)
{
  for (int i = 0; i < 2; i++) {
    uint64_t seq = fixedSequences ? 2 * i + 1 : (uint64_t)(uintptr_t)&gen_[i];
    gen_[i].seed(seed, seq);
  }
  ptr_ = end_ = checkpointPtr_ = out_;
  rewindable_ = false;
}

bool PseudoRandomStream::overrun(int size)
{
  offset_ += ptr_ - out_;
  ptr_ = end_ = out_;
  if (size > (int)sizeof(out_))
    return true;
  for (int i = 0; i < 2; i++) {
    uint32_t v = gen_[i].next();
    for (int b = 0; b < 4; b++)
      out_[4 * i + b] = (uint8_t)(v >> (8 * b));
  }
  end_ = out_ + sizeof(out_);
  return true;
}

} // namespace rdr
