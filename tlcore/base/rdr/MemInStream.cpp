#include "rdr/MemInStream.h"

#include "rdr/Exception.h"

namespace rdr {

MemInStream::MemInStream(const void* data, int length)
{
  reset(data, length);
}

void MemInStream::reset(const void* data, int length)
{
  start = (const uint8_t*)data;
  ptr = checkpointPtr = start;
  end = start + (length > 0 ? length : 0);
  checkpointPos = 0;
}

bool MemInStream::overrun(int)
{
  throw EndOfStream("End of in-memory input stream");
}

} // namespace rdr
