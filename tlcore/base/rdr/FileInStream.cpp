#include "rdr/FileInStream.h"

namespace rdr {

FileInStream::FileInStream(const char* path, int flags)
{
  rewindable_ = false;
  if (path)
    open(path, flags);
}

FileInStream::FileInStream(FILE* fp, bool own)
{
  rewindable_ = false;
  attach(fp, own);
}

void FileInStream::open(const char* path, int flags)
{
  reset();
  file_.open(path, plat::FilePtr::kRead, flags);
}

void FileInStream::attach(FILE* fp, bool own)
{
  reset();
  file_.reset(fp, own);
}

int FileInStream::fillBuffer(uint8_t* buf, int maxLen)
{
  if (!file_.get())
    throw plat::Exception("FileInStream: no file open");
  return plat::fileRead(file_.get(), buf, maxLen);
}

} // namespace rdr
