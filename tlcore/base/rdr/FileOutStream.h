// Buffered output to a stdio stream held by a plat::FilePtr, and its
// transacted form, which replaces its target only on commit.
//
// The buffer never grows: a full buffer is written out with fwrite.
// close() writes out the buffer, flushes and closes the file and throws on
// any failure, so a writer that cares about its data calls it; the
// destructor does the same but can only log what fails. One thread at a
// time.
#pragma once

#include <stdio.h>

#include "plat/File.h"
#include "plat/TransactedFile.h"
#include "rdr/BufferedOutStream.h"

namespace rdr {

class FileOutStream : public BufferedNBOutStream {
public:
  // Opens path for writing ("-" is the standard output); flags and errors as
  // plat::FilePtr::open. A null path leaves the stream unopened.
  explicit FileOutStream(const char* path = nullptr, int flags = 0);
  FileOutStream(FILE* fp, bool own);
  ~FileOutStream() override;

  // Both close a file attached before (as close() does).
  void open(const char* path, int flags = 0);
  void attach(FILE* fp, bool own);
  // Writes out the buffer, flushes and closes (an unowned stream is only
  // flushed and let go). Throws "writing to file failed", "fflush" or
  // "fclose"; the file is let go even then.
  void close();

  plat::FilePtr& getFile() { return file_; }

protected:
  int writeOut(const uint8_t* data, int len, bool wait) override;
  // Lets the file go without writing the buffer or closing it.
  void detach();

  plat::FilePtr file_;

private:
  bool writeFailed_ = false; // a write error was thrown to the caller
};

// Writes a temporary file beside the target; commit moves it over the
// target, and without a commit the target is untouched and the temporary
// file removed.
class TransactedFileOutStream : public FileOutStream {
public:
  // flags as for plat::TransactedFile.
  explicit TransactedFileOutStream(const char* path, int flags = 0);
  ~TransactedFileOutStream() override;

  // Writes out the buffer, then the transacted file's commit (flush, sync,
  // close, rename); its errors are thrown.
  void commit();

  const char* getTmpPath() const { return temp_.getTmpPath(); }

private:
  plat::TransactedFile temp_;
};

} // namespace rdr
