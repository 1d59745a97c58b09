#include "rdr/FileInStream.h"

namespace rdr {

FileInStream::FileInStream(const char* path, int flags)
{
  rewindable = false;
  if (path)
    open(path, flags);
}

FileInStream::FileInStream(FILE* fp, bool own)
{
  rewindable = false;
  attach(fp, own);
}

void FileInStream::open(const char* path, int flags)
{
  reset();
  file.open(path, plat::FilePtr::kRead, flags);
}

void FileInStream::attach(FILE* fp, bool own)
{
  reset();
  file.reset(fp, own);
}

int FileInStream::fillBuffer(uint8_t* buf, int maxLen)
{
  if (!file.get())
    throw plat::Exception("FileInStream: no file open");
  return plat::fileRead(file.get(), buf, maxLen);
}

} // namespace rdr
