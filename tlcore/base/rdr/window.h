// Buffer compaction shared by the buffered streams.
#pragma once

#include <stdint.h>
#include <string.h>

namespace rdr {

// Moves the live bytes [keep, last) of a stream's buffer down to its start:
// keep becomes start, the stream's offset grows by the bytes dropped in
// front, and every other window pointer in moved follows the bytes. Returns
// how many bytes were dropped.
template <typename Ptr, typename... Moved>
ptrdiff_t slideToStart(uint8_t* start, Ptr& keep, Ptr last, int64_t& offset, Moved&... moved)
{
  ptrdiff_t dropped = keep - start;
  if (dropped == 0)
    return 0;
  memmove(start, keep, last - keep);
  offset += dropped;
  ((moved -= dropped), ...);
  keep = start;
  return dropped;
}

} // namespace rdr
