#include "rdr/MemInStream.h"

#include "rdr/Exception.h"

namespace rdr {

MemInStream::MemInStream(const void* data, int length)
{
  reset(data, length);
}

void MemInStream::reset(const void* data, int length)
{
  start_ = (const uint8_t*)data;
  ptr_ = checkpointPtr_ = start_;
  end_ = start_ + (length > 0 ? length : 0);
  checkpointPos_ = 0;
}

bool MemInStream::overrun(int)
{
  throw EndOfStream("End of in-memory input stream");
}

} // namespace rdr
