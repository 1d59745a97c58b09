// A thin throwing layer over the POSIX file system, and plat::FilePtr, the
// owning holder of a stdio stream.
//
// Most operations come in pairs: a throwing form whose message is the
// operation's name with the path in parentheses ("mkDir(%s)") and which
// carries the errno of the failing call (plat::SystemExceptionFmt), and a
// try-form that returns a success flag. Private state is created with mode
// 0700 (directories) or 0600 (files). Every descriptor opened here is
// close-on-exec from birth. Nothing here keeps state; FilePtr belongs to one
// thread at a time.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include <set>
#include <vector>

#include "plat/DString.h"
#include "plat/MBuf.h"
#include "plat/String.h"
#include "plat/Time.h"

namespace plat {

// --- Directories -------------------------------------------------------------

// The mode of a directory that mkDir makes: kShared 0777 (the umask
// applies), kPrivate 0700; kMakePrivate is kPrivate that also makes a
// directory already there private.
enum class DirMode { kShared, kPrivate, kMakePrivate };

// Creates the directory as mode says and returns true, or returns false when
// a directory is already there. Other failures throw "mkDir(%s)" with the
// errno of mkdir.
bool mkDir(const char* path, DirMode mode);
// mkDir, creating missing parents with the same mode; only the last directory
// is made private when it is there already.
bool mkDirWithParents(const char* path, DirMode mode);
// A private new directory that then takes its parent's owner, group and mode
// (without group and other bits when priv, else without their write bits).
// False when it existed already.
bool mkDirMatchParent(const char* path, bool priv);
bool isDir(const char* path);
// With recursive, the contents go first; symbolic links (the path itself
// included) are removed or refused, never followed.
void rmDir(const char* path, bool recursive);
[[nodiscard]] bool tryRmDir(const char* path, bool recursive);
void chDir(const char* path);
[[nodiscard]] bool tryChDir(const char* path);
// The current working directory; throws "getcwd".
String getCwd();

// The first dir/name that exists; null when none does.
String findFileInDirs(const std::vector<String>& dirs, const char* name);
// Depth-first search below dir for an entry called name; null when none is
// found or a directory cannot be listed. Symbolic links to directories are
// not descended into.
String findFileInTree(const char* dir, const char* name);

// --- Files by path -------------------------------------------------------------

// stat succeeds; false for ENOENT and ENOTDIR, other errors throw.
bool fileExists(const char* path);
// stat succeeds; never throws.
bool pathExists(const char* path);
int64_t fileGetSize(const char* path);
// The modification time in whole seconds.
Time fileGetTime(const char* path);
// accessed 0 means the same as modified.
void fileSetTime(const char* path, Time modified, Time accessed = 0);

// open (with O_CLOEXEC) then fdopen; null with errno set on failure.
FILE* fileOpen(const char* path, int openFlags, const char* stdioMode, int perms);
int fileOpenFd(const char* path, int flags, int perms = 0);
// -1 with errno set on failure.
[[nodiscard]] int tryFileOpenFd(const char* path, int flags, int perms = 0);

void fileRemove(const char* path);
[[nodiscard]] bool tryFileRemove(const char* path);
void fileRename(const char* from, const char* to);
[[nodiscard]] bool tryFileRename(const char* from, const char* to);

// Makes the object owned by the effective user and drops every group and
// other permission bit. The stream's or descriptor's object is used when one
// is given (fd -1 or a null stream means by path).
void fileMakePrivate(const char* path);
void fileMakePrivate(FILE* fp, const char* path);
void fileMakePrivate(int fd, const char* path);
void fileMakeSticky(const char* path);
// Gives the open file the mode of path; false when path does not exist.
bool fileCopyPerms(const char* path, int fd);
bool fileCopyPerms(const char* path, FILE* fp);
// Same device and inode; false when path does not exist.
bool fileIsSameAsFd(int fd, const char* path);

// The first of dir/name, dir/stem<before>1<after>.ext, ... (up to max) that
// does not exist; throws "Too many files with same name".
String makeUniqueFileName(const char* dir, const char* name, const char* before, const char* after,
                          int max);

// Resolves the symbolic links of an absolute, normalised path; the last
// component must exist. requested is the path named in every error
// ("realpath(%s)"); depth counts nested resolutions (at most 20).
String realpath(const char* requested, const char* path, int depth = 0);
inline String realpath(const char* path)
{
  return realpath(path, path, 0);
}

// Throws "%s: permissions are not restrictive enough" unless "/", every
// leading directory and the path itself are owned by a trusted user (stat and
// lstat) and writable by neither group nor others.
void checkSecurePath(const char* path, const std::set<uid_t>& trusted);
// For a process whose effective user is root (nothing otherwise): throws as
// checkSecurePath unless the path, with and without its links resolved, and
// every directory above it belong to root and are writable by no one else.
// A missing path is judged by its nearest existing ancestor.
void checkTrustedAsRoot(const char* path);
// checkTrustedAsRoot for a path of the program's own installation: false,
// with the reason in why, where a root process must not trust it. Only root
// can change such a verdict (the first component that fails, or every one
// that passes, can be changed by root alone), so each path's is kept for
// the process.
bool isInstallPathTrusted(const char* path, String& why);
// The path with its links resolved, checked as above with root as the only
// trusted owner. With expectedTarget, a missing path throws
// "%s must be created and point to %s".
String resolveSecurePath(const char* path, const char* expectedTarget);

// Throws plat::SystemExceptionFmt (text, errno) when result is negative.
void checkSysCall(int result, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// dir/name (one '/'); name alone when absoluteWins and it is absolute.
String joinPath(const char* dir, const char* name, bool absoluteWins);

// --- Open streams --------------------------------------------------------------

// A positive count; end of file throws an "EndOfStream" exception "End of
// file", other failures "reading from file failed".
int fileRead(FILE* fp, void* buf, int n);
void fileTruncate(FILE* fp, int64_t length);
int64_t fileTell(FILE* fp);
void fileSeek(FILE* fp, int64_t offset, int whence);
[[nodiscard]] int64_t tryFileTell(FILE* fp);
[[nodiscard]] bool tryFileSeek(FILE* fp, int64_t offset, int whence);
// The size of the whole stream; the position is kept.
int64_t fileStreamSize(FILE* fp);
// An exclusive record lock on the whole file; false when another process
// holds one (only possible without wait).
[[nodiscard]] bool fileLock(FILE* fp, bool wait);
void fileUnlock(FILE* fp);

// Owns (or borrows) a stdio stream and closes an owned one when dropped.
// Not copyable; one thread at a time. The path "-" stands for standard input
// (read) or output (write), which are borrowed, never closed.
class FilePtr {
public:
  enum Mode { kRead = 0, kWrite = 1, kUpdate = 2 };
  enum Flags {
    kAppend = 1,
    kCreate = 2,
    kTruncate = 4,
    kPrivate = 16, // new files get 0600 instead of 0664
    kNoThrow = 32, // a failed open leaves the holder empty
  };

  FilePtr() = default;
  explicit FilePtr(FILE* fp, bool owns = true) : owns_(owns), fp_(fp) {}
  FilePtr(const char* path, int mode, int flags = 0);
  FilePtr(const FilePtr&) = delete;
  FilePtr& operator=(const FilePtr&) = delete;
  // Close errors are logged (when reportCloseErrors), never thrown.
  virtual ~FilePtr();

  // Throws "Error opening \"%s\"" (errno) unless kNoThrow.
  void open(const char* path, int mode, int flags = 0);
  // Closes an owned stream, then holds fp; a failed close throws "fclose"
  // after fp is stored.
  void reset(FILE* fp = nullptr, bool owns = true);
  void flush();

  // The next line without its '\n', made valid UTF-8; false at end of file.
  bool readLine(DString& out);
  // Everything from the current position to the end; a file larger than
  // maxSize throws "Error: file is too large (%lld > %d)", reading nothing
  // throws "Reading from file failed".
  MBuf<unsigned char> readAll(int maxSize);

  FILE* get() const { return fp_; }
  operator FILE*() const { return fp_; }
  bool owns() const { return owns_; }
  void setReportCloseErrors(bool report) { reportCloseErrors_ = report; }

private:
  bool owns_ = false;
  bool reportCloseErrors_ = true;
  FILE* fp_ = nullptr;
};

} // namespace plat
