#include "rdr/FileOutStream.h"

#include <errno.h>

#include "plat/Exception.h"
#include "plat/Log.h"

namespace rdr {

namespace {

plat::LogSrc vlog("FileOutStream");

} // namespace

FileOutStream::FileOutStream(const char* path, int flags)
{
  if (path)
    open(path, flags);
}

FileOutStream::FileOutStream(FILE* fp, bool own)
{
  attach(fp, own);
}

FileOutStream::~FileOutStream()
{
  if (!file.get())
    return;
  if (writeFailed) {
    // The caller has seen the error already; do not write again.
    discardBuffer();
    file.setReportCloseErrors(false);
    return;
  }
  // Last resort: whoever cared about the data called close() and saw this.
  try {
    close();
  } catch (plat::Exception& e) {
    vlog.error("Error writing file: %s", e.str());
  }
}

void FileOutStream::open(const char* path, int flags)
{
  close();
  file.open(path, plat::FilePtr::kWrite, flags);
  writeFailed = false;
}

void FileOutStream::attach(FILE* fp, bool own)
{
  close();
  file.reset(fp, own);
  writeFailed = false;
}

void FileOutStream::detach()
{
  discardBuffer();
  file.reset(nullptr, false);
}

void FileOutStream::close()
{
  if (!file.get()) {
    discardBuffer();
    return;
  }
  try {
    flushBuffer(true);
    file.flush();
  } catch (plat::Exception&) {
    // The file is let go all the same; its close error would only repeat
    // the first one.
    discardBuffer();
    try {
      file.reset();
    } catch (plat::Exception&) {
    }
    throw;
  }
  file.reset(); // "fclose" when closing fails
}

int FileOutStream::writeOut(const uint8_t* data, int len, bool)
{
  if (!file.get())
    throw plat::Exception("FileOutStream: no file open");
  // Byte counts, so that a write cut short by a signal goes on where it
  // stopped.
  int done = 0;
  while (done < len) {
    done += (int)fwrite(data + done, 1, len - done, file.get());
    if (done < len) {
      if (ferror(file.get()) && errno == EINTR) {
        clearerr(file.get());
        continue;
      }
      writeFailed = true;
      throw plat::StdlibException("writing to file failed");
    }
  }
  return len;
}

TransactedFileOutStream::TransactedFileOutStream(const char* path, int flags) : temp(path, flags)
{
  attach(temp.get(), false);
}

TransactedFileOutStream::~TransactedFileOutStream()
{
  detach();
}

void TransactedFileOutStream::commit()
{
  flushBuffer(true);
  detach();
  temp.commit();
}

} // namespace rdr
