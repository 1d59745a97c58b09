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
  if (!file_.get())
    return;
  if (writeFailed_) {
    // The caller has seen the error already; do not write again.
    discardBuffer();
    file_.setReportCloseErrors(false);
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
  file_.open(path, plat::FilePtr::kWrite, flags);
  writeFailed_ = false;
}

void FileOutStream::attach(FILE* fp, bool own)
{
  close();
  file_.reset(fp, own);
  writeFailed_ = false;
}

void FileOutStream::detach()
{
  discardBuffer();
  file_.reset(nullptr, false);
}

void FileOutStream::close()
{
  if (!file_.get()) {
    discardBuffer();
    return;
  }
  try {
    flushBuffer(true);
    file_.flush();
  } catch (plat::Exception&) {
    // The file is let go all the same; its close error would only repeat
    // the first one.
    discardBuffer();
    try {
      file_.reset();
    } catch (plat::Exception&) {
    }
    throw;
  }
  file_.reset(); // "fclose" when closing fails
}

int FileOutStream::writeOut(const uint8_t* data, int len, bool)
{
  if (!file_.get())
    throw plat::Exception("FileOutStream: no file open");
  // Byte counts, so that a write cut short by a signal goes on where it
  // stopped.
  int done = 0;
  while (done < len) {
    done += (int)fwrite(data + done, 1, len - done, file_.get());
    if (done < len) {
      if (ferror(file_.get()) && errno == EINTR) {
        clearerr(file_.get());
        continue;
      }
      writeFailed_ = true;
      throw plat::StdlibException("writing to file failed");
    }
  }
  return len;
}

TransactedFileOutStream::TransactedFileOutStream(const char* path, int flags) : temp_(path, flags)
{
  attach(temp_.get(), false);
}

TransactedFileOutStream::~TransactedFileOutStream()
{
  detach();
}

void TransactedFileOutStream::commit()
{
  flushBuffer(true);
  detach();
  temp_.commit();
}

} // namespace rdr
