// An exclusive lock file that holds a process id (or other text), and the
// test whether another process holds one.
//
// A LockFile in lock mode that got the lock owns the descriptor and deletes
// its file when destroyed; one that was refused holds nothing. In test mode
// the object only looks: it holds a descriptor exactly when another live
// process holds the lock, and never deletes anything. One thread at a time.
#pragma once

#include "plat/String.h"

namespace os {

class LockFile {
public:
  // How a LockFile opens its file: lock mode unless kTestOnly; with
  // kPrivate a created file is 0600, else 0644.
  enum Flags : unsigned { kLock = 0, kTestOnly = 1 << 0, kPrivate = 1 << 1 };

  // Lock mode: opens or creates the file (0600 when private, else 0644) and takes the lock without
  // waiting; when it gets it, the file's contents become `contents`. Test mode: opens the existing
  // file read-only and tests the lock; a missing file is "not locked". A lock held elsewhere never
  // throws; other failures throw plat::SystemException
  // ("open(%s)", "fchmod", "lockf"). No link is followed, and nothing is
  // written unless the file is a regular file of this user with one name
  // that stays at the path (plat::Exception otherwise).
  LockFile(const char* path, const char* contents, unsigned flags);
  // Lock mode with "%ld\n" of the own process id, not private.
  explicit LockFile(const char* path);
  // When it holds the lock, removes the file it locked (not another file
  // that has replaced it at the path meanwhile) and closes the descriptor.
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Lock mode: we hold the lock. Test mode: another process holds it.
  bool isLocked() const { return fd_ >= 0; }
  int getFd() const { return fd_; }
  // Closes the descriptor (so the lock goes) without removing the file.
  void release();

private:
  int fd_ = -1;
  // Kept only in lock mode, for the removal.
  plat::String path_;
};

} // namespace os
