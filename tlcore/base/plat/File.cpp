#include "plat/File.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "os/DirEnum.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/Path.h"
#include "plat/numbers.h"
#include "rdr/Exception.h"

namespace plat {

namespace {

LogSrc logFilePtr("FilePtr");

[[noreturn]] void throwErr(int err, const char* fmt, const char* path)
{
  throw SystemExceptionFmt(err, fmt, path);
}

bool isMissing(int err)
{
  return err == ENOENT || err == ENOTDIR;
}

int retryOpen(const char* path, int flags, int perms)
{
  int fd;
  do
    fd = ::open(path, flags | O_CLOEXEC, perms);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Removes the contents of the open directory dfd (which it consumes). Every
// step is relative to a descriptor opened without following links, so a
// directory swapped for a link meanwhile is never entered.
void removeContents(int dfd)
{
  DIR* dir = fdopendir(dfd);
  if (!dir) {
    ::close(dfd);
    return;
  }
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(dir);
    if (!e)
      break;
    const char* name = e->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
      continue;
    struct stat st;
    if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) < 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      int sub = openat(dfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0)
        removeContents(sub);
      unlinkat(dfd, name, AT_REMOVEDIR);
    } else {
      unlinkat(dfd, name, 0);
    }
  }
  closedir(dir);
}

} // namespace

// --- Directories -------------------------------------------------------------

bool mkDir(const char* path, DirMode mode)
{
  if (::mkdir(path, mode == DirMode::kShared ? 0777 : 0700) == 0)
    return true;
  int err = errno;
  struct stat st;
  if (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (mode == DirMode::kMakePrivate)
      fileMakePrivate(path);
    return false;
  }
  throwErr(err, "mkDir(%s)", path);
}

bool mkDirWithParents(const char* path, DirMode mode)
{
  try {
    return mkDir(path, mode);
  } catch (SystemException& e) {
    if (e.getErr() != ENOENT || !isNotRootDir(path))
      throw;
  }
  String parent = dirName(path);
  // A relative path runs out at "." or ".."; those exist or the error stands.
  if (strcmp(parent.str(), path) != 0)
    mkDirWithParents(parent.str(), mode == DirMode::kShared ? DirMode::kShared : DirMode::kPrivate);
  return mkDir(path, mode);
}

bool mkDirMatchParent(const char* path, bool priv)
{
  if (!mkDir(path, DirMode::kPrivate))
    return false;
  struct stat st;
  if (::stat(dirName(path).str(), &st) < 0)
    throw SystemException("mkDirMatchParent/stat", errno);
  if (::chown(path, st.st_uid, st.st_gid) < 0)
    throw SystemException("mkDirMatchParent/chown", errno);
  if (::chmod(path, st.st_mode & (priv ? 07700 : 07755)) < 0)
    throw SystemException("mkDirMatchParent/chmod", errno);
  return true;
}

bool isDir(const char* path)
{
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

void rmDir(const char* path, bool recursive)
{
  if (!tryRmDir(path, recursive))
    throwErr(errno, "rmDir(%s)", path);
}

bool tryRmDir(const char* path, bool recursive)
{
  if (recursive) {
    // O_NOFOLLOW: a link given as the directory is refused, not emptied.
    int dfd = retryOpen(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    if (dfd >= 0)
      removeContents(dfd);
  }
  return ::rmdir(path) == 0;
}

void chDir(const char* path)
{
  if (!tryChDir(path))
    throwErr(errno, "chDir(%s)", path);
}

bool tryChDir(const char* path)
{
  return ::chdir(path) == 0;
}

String getCwd()
{
  for (size_t size = 1024;; size *= 2) {
    std::unique_ptr<char[]> buf(new char[size]);
    if (::getcwd(buf.get(), size))
      return String(buf.get());
    if (errno != ERANGE)
      throw SystemException("getcwd", errno);
  }
}

String findFileInDirs(const std::vector<String>& dirs, const char* name)
{
  for (const String& dir : dirs) {
    String candidate = joinPath(dir.str(), name, false);
    struct stat st;
    if (::stat(candidate.str(), &st) == 0)
      return candidate;
  }
  return String();
}

String findFileInTree(const char* dir, const char* name)
{
  try {
    os::DirEnum dirEnum(dir);
    while (const char* entry = dirEnum.next()) {
      String full(dirEnum.getPath());
      struct stat st;
      // lstat: a link to a directory (a loop, "/") is not searched.
      if (::lstat(full.str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        String found = findFileInTree(full.str(), name);
        if (!found.isNull())
          return found;
      }
      if (strcmp(entry, name) == 0 && ::stat(full.str(), &st) == 0)
        return full;
    }
  } catch (Exception&) {
  }
  return String();
}

// --- Files by path -------------------------------------------------------------

bool fileExists(const char* path)
{
  struct stat st;
  if (::stat(path, &st) == 0)
    return true;
  if (isMissing(errno))
    return false;
  throwErr(errno, "fileExists(%s)", path);
}

bool pathExists(const char* path)
{
  struct stat st;
  return ::stat(path, &st) == 0;
}

int64_t fileGetSize(const char* path)
{
  struct stat st;
  if (::stat(path, &st) < 0)
    throwErr(errno, "fileGetSize(%s)", path);
  return st.st_size;
}

Time fileGetTime(const char* path)
{
  struct stat st;
  if (::stat(path, &st) < 0)
    throwErr(errno, "fileGetTime(%s)", path);
  return unixSecondsToTime(st.st_mtime);
}

void fileSetTime(const char* path, Time modified, Time accessed)
{
  struct timeval tv[2];
  tv[0] = timeToTimeval(accessed ? accessed : modified);
  tv[1] = timeToTimeval(modified);
  if (::utimes(path, tv) < 0)
    throwErr(errno, "fileSetTime(%s)", path);
}

FILE* fileOpen(const char* path, int openFlags, const char* stdioMode, int perms)
{
  int fd = retryOpen(path, openFlags, perms);
  if (fd < 0)
    return nullptr;
  FILE* fp = fdopen(fd, stdioMode);
  if (!fp) {
    int err = errno;
    ::close(fd);
    errno = err;
  }
  return fp;
}

int fileOpenFd(const char* path, int flags, int perms)
{
  int fd = retryOpen(path, flags, perms);
  if (fd < 0)
    throwErr(errno, "fileOpenFd(%s)", path);
  return fd;
}

int tryFileOpenFd(const char* path, int flags, int perms)
{
  return retryOpen(path, flags, perms);
}

void fileRemove(const char* path)
{
  if (::remove(path) < 0)
    throwErr(errno, "fileRemove(%s)", path);
}

bool tryFileRemove(const char* path)
{
  return ::remove(path) == 0;
}

void fileRename(const char* from, const char* to)
{
  if (::rename(from, to) < 0)
    throw SystemExceptionFmt(errno, "fileRename(%s,%s)", from, to);
}

bool tryFileRename(const char* from, const char* to)
{
  return ::rename(from, to) == 0;
}

void fileMakePrivate(const char* path)
{
  fileMakePrivate(-1, path);
}

void fileMakePrivate(FILE* fp, const char* path)
{
  fileMakePrivate(fp ? fileno(fp) : -1, path);
}

void fileMakePrivate(int fd, const char* path)
{
  struct stat st;
  uid_t euid = geteuid();
  if (fd >= 0) {
    if (::fstat(fd, &st) < 0)
      throw SystemException("fileMakePrivate/fstat", errno);
    if (st.st_uid != euid && ::fchown(fd, euid, (gid_t)-1) < 0)
      throw SystemException("fileMakePrivate/fchown", errno);
    if ((st.st_mode & 077) && ::fchmod(fd, st.st_mode & 07700) < 0)
      throw SystemException("fileMakePrivate/fchmod", errno);
    return;
  }
  if (::stat(path, &st) < 0)
    throwErr(errno, "fileMakePrivate/stat(%s)", path);
  if (st.st_uid != euid && ::chown(path, euid, (gid_t)-1) < 0)
    throwErr(errno, "fileMakePrivate/chown(%s)", path);
  if ((st.st_mode & 077) && ::chmod(path, st.st_mode & 07700) < 0)
    throwErr(errno, "fileMakePrivate/chmod(%s)", path);
}

void fileMakeSticky(const char* path)
{
  struct stat st;
  if (::stat(path, &st) < 0)
    throwErr(errno, "fileMakeSticky/stat(%s)", path);
  if (!(st.st_mode & S_ISVTX) && ::chmod(path, (st.st_mode & 07777) | S_ISVTX) < 0)
    throwErr(errno, "fileMakeSticky/chmod(%s)", path);
}

bool fileCopyPerms(const char* path, int fd)
{
  struct stat st;
  if (::stat(path, &st) < 0) {
    if (isMissing(errno))
      return false;
    throwErr(errno, "fileCopyPerms/stat(%s)", path);
  }
  if (::fchmod(fd, st.st_mode & 07777) < 0)
    throw SystemException("fileCopyPerms/fchmod", errno);
  return true;
}

bool fileCopyPerms(const char* path, FILE* fp)
{
  return fileCopyPerms(path, fileno(fp));
}

bool fileIsSameAsFd(int fd, const char* path)
{
  struct stat fst, pst;
  if (::fstat(fd, &fst) < 0)
    throw SystemException("fileIsSameAsFd/fstat", errno);
  if (::stat(path, &pst) < 0) {
    if (isMissing(errno))
      return false;
    throwErr(errno, "fileIsSameAsFd/stat(%s)", path);
  }
  return fst.st_dev == pst.st_dev && fst.st_ino == pst.st_ino;
}

String makeUniqueFileName(const char* dir, const char* name, const char* before, const char* after,
                          int max)
{
  String clean = sanitiseFileName(name, '-');
  const char* text = clean.str();
  const char* dot = strrchr(text, '.');
  std::string stem = dot ? std::string(text, dot - text) : std::string(text);
  std::string base = std::string(dir ? dir : "") + "/" + stem;
  for (int n = 0; n <= max; n++) {
    std::string candidate = base;
    if (n > 0)
      candidate += std::string(before ? before : "") + std::to_string(n) + (after ? after : "");
    if (dot)
      candidate += dot;
    if (!fileExists(candidate.c_str()))
      return String(candidate.c_str());
  }
  throw Exception("Too many files with same name");
}

String realpath(const char* requested, const char* path, int depth)
{
  PLAT_ASSERT(path[0] == '/');
  if (depth >= 21)
    throwErr(ELOOP, "realpath(%s)", requested);
  std::string prefix;
  const char* p = path;
  for (;;) {
    while (*p == '/')
      p++;
    if (!*p)
      return String(path);
    const char* end = strchr(p, '/');
    if (!end)
      end = p + strlen(p);
    prefix += '/';
    prefix.append(p, end - p);
    p = end;
    while (*p == '/')
      p++;

    struct stat st;
    if (::lstat(prefix.c_str(), &st) < 0)
      throwErr(errno, "realpath(%s)", requested);
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = ::readlink(prefix.c_str(), target, sizeof(target));
      if (n < 0)
        throwErr(errno, "realpath(%s)", requested);
      if (n >= (ssize_t)sizeof(target))
        throwErr(EIO, "realpath(%s)", requested);
      target[n] = 0;
      std::string linkDir = prefix.substr(0, prefix.rfind('/'));
      std::string next = joinPath(linkDir.empty() ? "/" : linkDir.c_str(), target, true).str();
      if (*p)
        next += std::string("/") + p;
      return realpath(requested, normalisePath(next.c_str()).str(), depth + 1);
    }
    if (*p && !S_ISDIR(st.st_mode))
      throwErr(ENOTDIR, "realpath(%s)", requested);
  }
}

namespace {

// The first component of a path that checkSecurePath refuses, and why.
struct PathProblem {
  enum Kind { kNone, kStat, kLstat, kPermissions } kind = kNone;
  std::string prefix;
  int err = 0;

  // Calls fn with the exception that checkSecurePath throws for it.
  template <class Fn> void withException(Fn fn) const
  {
    if (kind == kPermissions)
      fn(Exception(0, "%s: permissions are not restrictive enough", prefix.c_str()));
    else
      fn(SystemExceptionFmt(err, kind == kStat ? "stat(%s)" : "lstat(%s)", prefix.c_str()));
  }
  String text() const
  {
    String out;
    withException([&](const Exception& e) { out = String(e.str()); });
    return out;
  }
};

// checkSecurePath without exceptions: the verdicts of the installation's
// paths are made at every start.
PathProblem securePathProblem(const char* path, const std::set<uid_t>& trusted)
{
  PLAT_ASSERT(path[0] == '/');
  PathProblem problem;
  auto check = [&](std::string prefix) {
    struct stat st, lst;
    if (::stat(prefix.c_str(), &st) < 0)
      problem.kind = PathProblem::kStat;
    else if (::lstat(prefix.c_str(), &lst) < 0)
      problem.kind = PathProblem::kLstat;
    else if (!trusted.count(st.st_uid) || !trusted.count(lst.st_uid) || (st.st_mode & 022))
      problem.kind = PathProblem::kPermissions;
    else
      return true;
    problem.err = errno;
    problem.prefix = std::move(prefix);
    return false;
  };
  if (!check("/"))
    return problem;
  for (const char* slash = strchr(path + 1, '/'); slash; slash = strchr(slash + 1, '/'))
    if (!check(std::string(path, slash - path)))
      return problem;
  check(path);
  return problem;
}

} // namespace

void checkSecurePath(const char* path, const std::set<uid_t>& trusted)
{
  PathProblem problem = securePathProblem(path, trusted);
  if (problem.kind != PathProblem::kNone)
    problem.withException([](auto&& e) { throw e; });
}

namespace {

// The path checkTrustedAsRoot judges: path normalised, or its nearest
// existing ancestor when it is missing.
String trustJudgedPath(const char* path)
{
  String literal = normalisePath(path);
  if (literal.str()[0] != '/')
    throw Exception(0, "%s is not an absolute path", path);
  // A missing path is judged by its nearest existing ancestor: when only
  // root can write there, nobody else can create the rest. Whatever lstat
  // finds is judged itself, a dangling link too.
  struct stat st;
  while (isNotRootDir(literal.str()) && ::lstat(literal.str(), &st) != 0)
    literal = dirName(literal.str());
  return literal;
}

PathProblem judgedProblem(const String& literal)
{
  PathProblem problem = securePathProblem(literal.str(), {0});
  if (problem.kind != PathProblem::kNone)
    return problem;
  String resolved = realpath(literal.str());
  // Without links on the way it is the path just checked.
  if (resolved != literal)
    problem = securePathProblem(resolved.str(), {0});
  return problem;
}

void checkJudgedTrusted(const String& literal)
{
  PathProblem problem = judgedProblem(literal);
  if (problem.kind != PathProblem::kNone)
    problem.withException([](auto&& e) { throw e; });
}

} // namespace

void checkTrustedAsRoot(const char* path)
{
  if (::geteuid() != 0)
    return;
  checkJudgedTrusted(trustJudgedPath(path));
}

bool isInstallPathTrusted(const char* path, String& why)
{
  if (::geteuid() != 0)
    return true;
  struct Verdict {
    bool trusted;
    String why;
  };
  static Mutex* mutex = new Mutex;
  static auto* verdicts = new std::map<std::string, Verdict>;
  MutexLock lock(*mutex);
  auto it = verdicts->find(path);
  if (it == verdicts->end()) {
    Verdict v{true, String()};
    try {
      // Missing paths below one folder share its verdict.
      String judged = trustJudgedPath(path);
      auto known = verdicts->find(judged.str());
      if (known != verdicts->end()) {
        v = known->second;
      } else {
        try {
          PathProblem problem = judgedProblem(judged);
          if (problem.kind != PathProblem::kNone)
            v = Verdict{false, problem.text()};
        } catch (Exception& e) {
          v = Verdict{false, String(e.str())};
        }
        verdicts->emplace(judged.str(), v);
      }
    } catch (Exception& e) {
      v = Verdict{false, String(e.str())};
    }
    it = verdicts->emplace(path, std::move(v)).first;
  }
  if (!it->second.trusted)
    why = it->second.why;
  return it->second.trusted;
}

String resolveSecurePath(const char* path, const char* expectedTarget)
{
  PLAT_ASSERT(path[0] == '/');
  if (expectedTarget && !fileExists(path))
    throw Exception(0, "%s must be created and point to %s", path, expectedTarget);
  String resolved = makeAbsolutePath(path);
  checkSecurePath(resolved.str(), {0});
  return resolved;
}

void checkSysCall(int result, const char* fmt, ...)
{
  if (result >= 0)
    return;
  int err = errno;
  char text[Exception::kMessageSize] = "";
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(text, sizeof(text), fmt, ap);
  va_end(ap);
  throw SystemExceptionFmt(err, "%s", text);
}

String joinPath(const char* dir, const char* name, bool absoluteWins)
{
  if (!name)
    name = "";
  if (absoluteWins && name[0] == '/')
    return String(name);
  if (!dir)
    dir = "";
  std::string out = dir;
  if (!strEndsWith(dir, "/"))
    out += '/';
  out += name;
  return String(out.c_str());
}

// --- Open streams --------------------------------------------------------------

int fileRead(FILE* fp, void* buf, int n)
{
  size_t got = fread(buf, 1, n > 0 ? n : 0, fp);
  if (got > 0)
    return (int)got;
  if (feof(fp))
    throw rdr::EndOfStream("End of file");
  throw StdlibException("reading from file failed");
}

void fileTruncate(FILE* fp, int64_t length)
{
  int r;
  do
    r = ::ftruncate(fileno(fp), length);
  while (r < 0 && errno == EINTR);
  if (r < 0)
    throw SystemException("fileTruncate()", errno);
}

int64_t fileTell(FILE* fp)
{
  off_t pos = ftello(fp);
  if (pos < 0)
    throw SystemException("fileTell", errno);
  return pos;
}

void fileSeek(FILE* fp, int64_t offset, int whence)
{
  if (fseeko(fp, offset, whence) < 0)
    throw SystemException("fileSeek", errno);
}

int64_t tryFileTell(FILE* fp)
{
  return ftello(fp);
}

bool tryFileSeek(FILE* fp, int64_t offset, int whence)
{
  return fseeko(fp, offset, whence) == 0;
}

int64_t fileStreamSize(FILE* fp)
{
  int64_t pos = fileTell(fp);
  fileSeek(fp, 0, SEEK_END);
  int64_t size = fileTell(fp);
  fileSeek(fp, pos, SEEK_SET);
  return size;
}

bool fileLock(FILE* fp, bool wait)
{
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  int r;
  do
    r = fcntl(fileno(fp), wait ? F_SETLKW : F_SETLK, &fl);
  while (r < 0 && errno == EINTR);
  if (r == 0)
    return true;
  if (errno == EAGAIN || errno == EACCES)
    return false;
  throw SystemException("fileLock", errno);
}

void fileUnlock(FILE* fp)
{
  struct flock fl = {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  if (fcntl(fileno(fp), F_SETLK, &fl) < 0)
    throw SystemException("fileUnlock", errno);
}

// --- FilePtr ---------------------------------------------------------------------

FilePtr::FilePtr(const char* path, int mode, int flags)
{
  open(path, mode, flags);
}

FilePtr::~FilePtr()
{
  try {
    reset(nullptr, true);
  } catch (Exception& e) {
    if (reportCloseErrors_)
      logFilePtr.error("%s", e.str());
  }
}

void FilePtr::open(const char* path, int mode, int flags)
{
  PLAT_ASSERT(mode >= kRead && mode <= kUpdate);
  reset(nullptr, true);
  if (strcmp(path, "-") == 0) {
    if (mode == kUpdate)
      throw Exception("Invalid mode for stdin/stdout");
    reset(mode == kRead ? stdin : stdout, false);
    return;
  }
  int openFlags;
  const char* stdioMode;
  if (mode == kRead) {
    openFlags = O_RDONLY;
    stdioMode = "r";
  } else if (mode == kWrite) {
    bool append = flags & kAppend;
    openFlags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
    stdioMode = append ? "a" : "w";
  } else if (flags & kTruncate) {
    openFlags = O_RDWR | O_CREAT | O_TRUNC;
    stdioMode = "w+";
  } else {
    openFlags = O_RDWR | ((flags & kCreate) ? O_CREAT : 0);
    stdioMode = "r+";
  }
  FILE* fp = fileOpen(path, openFlags, stdioMode, (flags & kPrivate) ? 0600 : 0664);
  if (!fp && !(flags & kNoThrow))
    throw SystemExceptionFmt(errno, "Error opening \"%s\"", path);
  reset(fp, true);
}

void FilePtr::reset(FILE* fp, bool owns)
{
  FILE* old = fp_;
  bool closeOld = owns_ && old;
  fp_ = fp;
  owns_ = owns;
  if (closeOld && fclose(old) != 0)
    throw StdlibException("fclose");
}

void FilePtr::flush()
{
  if (fflush(fp_) != 0)
    throw StdlibException("fflush");
}

bool FilePtr::readLine(DString& out)
{
  out.reserve(64);
  out.clear();
  // Byte by byte, so that a signal (EINTR on a pipe) loses nothing and NUL
  // bytes cannot cut the line short.
  std::string line;
  bool any = false;
  flockfile(fp_);
  for (;;) {
    int c = getc_unlocked(fp_);
    if (c == EOF) {
      if (ferror_unlocked(fp_)) {
        int err = errno;
        clearerr_unlocked(fp_);
        if (err == EINTR)
          continue;
        funlockfile(fp_);
        throw SystemException("Error reading from file", err);
      }
      break;
    }
    any = true;
    if (c == '\n')
      break;
    if (c == 0)
      line += "\xEF\xBF\xBD"; // NUL cannot be held in the text: U+FFFD
    else
      line += (char)c;
  }
  funlockfile(fp_);
  out.append(line.data(), (int)line.size());
  out.makeValidUtf8();
  return any;
}

MBuf<unsigned char> FilePtr::readAll(int maxSize)
{
  int64_t size = fileStreamSize(fp_);
  if (size > maxSize)
    throw Exception(0, "Error: file is too large (%lld > %d)", (long long)size, maxSize);
  MBuf<unsigned char> buf((int)size);
  // The stream may yield less than its size (a position past the start, a
  // file cut meanwhile): the result holds only what was read.
  int got = 0;
  errno = 0; // an empty file is no system error
  while (got < (int)size) {
    size_t n = fread(buf.data() + got, 1, (int)size - got, fp_);
    got += (int)n;
    if (n == 0) {
      if (ferror(fp_) && errno == EINTR) {
        clearerr(fp_);
        continue;
      }
      if (ferror(fp_))
        got = 0;
      break;
    }
  }
  if (got == 0)
    throw StdlibException("Reading from file failed");
  buf.resize(got);
  return buf;
}

} // namespace plat
