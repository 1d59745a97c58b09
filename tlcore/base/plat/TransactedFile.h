// A file written under a temporary name in the target's directory that
// replaces its target only when committed.
//
// The temporary file is created exclusively under a name of its own
// (path + ".tmp" + a unique suffix), so two writers of one target never
// share it and a leftover file is never reused. It takes the target's
// permissions (private ones when kPrivate is given). commit flushes, syncs
// and renames it over the target; without a commit the destructor removes
// it and the target is untouched. One thread at a time.
#pragma once

#include "plat/File.h"
#include "plat/String.h"

namespace plat {

class TransactedFile : public FilePtr {
public:
  // flags as for FilePtr::open (kPrivate: 0600 and private even when the
  // target is not). Open failures throw unless kNoThrow; then the holder is
  // empty and commit throws.
  TransactedFile(const char* path, int flags = 0);
  ~TransactedFile() override;

  // Throws "fflush", "fsync", "fclose" or "fileRename(%s,%s)". After a
  // failed rename a later commit tries the rename again; after a failed
  // write-out every commit throws. A second commit after success does nothing.
  void commit();

  const char* getPath() const { return path_.str(); }
  // Empty once committed.
  const char* getTmpPath() const { return tmpPath_.str(); }

private:
  void createTmp(int flags);
  [[noreturn]] void fail(const char* what, int err);

  String path_;
  String tmpPath_;
  // Set when the temporary file could not be made or written out; every
  // commit then throws failedWhat_ with failedErr_.
  bool broken_ = false;
  String failedWhat_;
  int failedErr_ = 0;
};

} // namespace plat
