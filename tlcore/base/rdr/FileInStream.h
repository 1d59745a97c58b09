// Buffered input from a stdio stream held by a plat::FilePtr (owning by
// default).
//
// The stream is not rewindable: what has been read is dropped at the next
// refill. The end of the file throws EndOfStream "End of file". One thread
// at a time.
#pragma once

#include <stdio.h>

#include "plat/File.h"
#include "rdr/BufferedInStream.h"

namespace rdr {

class FileInStream : public BufferedInStream {
public:
  // Opens path for reading ("-" is the standard input); flags and errors as
  // plat::FilePtr::open. A null path leaves the stream unopened.
  explicit FileInStream(const char* path = nullptr, int flags = 0);
  FileInStream(FILE* fp, bool own);

  // Both start the buffer afresh.
  void open(const char* path, int flags = 0);
  void attach(FILE* fp, bool own);

  plat::FilePtr& getFile() { return file_; }

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override;

  plat::FilePtr file_;
};

} // namespace rdr
