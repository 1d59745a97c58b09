#include "plat/LogDestFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "os/DirEnum.h"
#include "os/host.h"
#include "plat/Colour.h"
#include "plat/ConfigParameter.h"
#include "plat/Exception.h"
#include "plat/Path.h"
#include "plat/Time.h"
#include "plat/numbers.h"

namespace plat {

namespace {

BoolParameter compactLogParam("CompactLog",
                              "Whether to produce more compact logging lines for readability.  "
                              "Also produces times in local timezone instead of UTC",
                              false, ParamLevel::kAdvanced);
StringParameter logDirParam("LogDir", LocKey{"plat_param_logdir"}, "");
StringParameter logFileParam("LogFile", LocKey{"plat_param_logfile"}, "");
IntParameter logKeepDaysParam("LogKeepDays", LocKey{"plat_param_log_keep_days"}, 30,
                              ParamLevel::kBasic, nullptr, 0, INT_MAX);

// Rotated files are "<base>.<14 digits>" with "(n)" added on a collision.
constexpr int kMaxRotationCounter = 99;
constexpr int kStampDigits = 14;

// Made on first use and kept until exit, for lines logged during static
// destruction.
Mutex& headerMutex()
{
  static Mutex* m = new Mutex;
  return *m;
}
String& logFileHeader()
{
  static String* header = new String;
  return *header;
}

bool redirectsStderr = false;

LogDestFile* stderrDest = nullptr;
LogDestFile* fileDest = nullptr;

// Writes everything, retrying after signals and short writes.
void writeAll(int fd, const char* data, size_t len)
{
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
}

// 11 for errors up to 15 for debug: facility 1 (user) times 8 plus the
// syslog severities 3 (error) to 7 (debug).
int syslogPriority(int level)
{
  return 11 + (level >= 1) + (level >= 6) + (level >= 11) + (level >= 31);
}

const char* colourCode(int level)
{
  if (level < 6)
    return "31;1";
  if (level < 11)
    return "31";
  if (level < 31)
    return "36";
  return "0";
}

// Only the names rotation itself makes, so that other files that share the
// base name are never deleted.
bool isRotatedName(const char* name, const char* base)
{
  size_t n = strlen(base);
  if (strncmp(name, base, n) != 0 || name[n] != '.')
    return false;
  const char* p = name + n + 1;
  for (int i = 0; i < kStampDigits; i++, p++)
    if (*p < '0' || *p > '9')
      return false;
  if (!*p)
    return true;
  if (*p++ != '(')
    return false;
  const char* digits = p;
  while (*p >= '0' && *p <= '9')
    p++;
  return p > digits && p - digits <= 2 && p[0] == ')' && !p[1];
}

// now - days; a span beyond the clock's range keeps everything.
Time retentionCutoff(Time now, int days)
{
  Time span;
  if (__builtin_mul_overflow(static_cast<Time>(days), kTicksPerDay, &span))
    return INT64_MIN;
  return subTimeSat(now, span);
}

// Removes expired rotated files, then moves the current file aside under
// its modification time. Any failure ends the step; the file is then
// appended to.
void rotate(const char* path)
{
  try {
    String dir = dirName(path);
    String base = baseName(path);
    os::DirEnum entries(dir.str());
    Time cutoff = retentionCutoff(getTime(), logKeepDaysParam.getValue());
    while (const char* name = entries.next()) {
      if (isRotatedName(name, base.str()) && fileGetTime(entries.getPath()) < cutoff)
        (void)tryFileRemove(entries.getPath()); // retried at the next rotation
    }
    // lstat: a link (dangling or not) is moved aside too, never followed.
    struct stat st;
    if (::lstat(path, &st) < 0)
      return;
    struct tm tm;
    timeToTmLocal(&tm, unixSecondsToTime(st.st_mtime));
    String stem = format("%s.%04d%02d%02d%02d%02d%02d", base.str(), tm.tm_year + 1900,
                         tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    for (int n = 0; n <= kMaxRotationCounter; n++) {
      String name = n ? format("%s(%d)", stem.str(), n) : stem;
      String target = joinPath(dir.str(), name.str(), false);
      if (!fileExists(target.str())) {
        (void)tryFileRename(path, target.str()); // else the log goes on in place
        return;
      }
    }
  } catch (Exception&) {
  }
}

// Owners whose folders and files this process may write into.
bool trustedOwner(uid_t uid)
{
  return uid == geteuid() || uid == 0;
}

// Every existing directory along path: owned by this user or root, and
// writable by no one else unless sticky (so that nobody else can swap what
// lies below). Links are judged by their owner alone.
void checkFolderChain(const char* path)
{
  std::string prefix;
  const char* p = path;
  for (;;) {
    if (prefix.empty())
      prefix = "/";
    struct stat st;
    if (::lstat(prefix.c_str(), &st) < 0)
      checkSysCall(-1, "lstat(%s)", prefix.c_str());
    bool othersWrite = !S_ISLNK(st.st_mode) && (st.st_mode & 022) && !(st.st_mode & S_ISVTX);
    if (!trustedOwner(st.st_uid) || othersWrite)
      throw Exception(0, "Log folder %s can be changed by another user", prefix.c_str());
    while (*p == '/')
      p++;
    if (!*p)
      return;
    const char* end = strchrnul(p, '/');
    if (prefix.size() > 1)
      prefix += '/';
    prefix.append(p, end - p);
    p = end;
  }
}

// The log folder, opened after checking that no other user can write to it
// or to the way there.
int openLogFolder(const char* dir)
{
  String literal = dir[0] == '/' ? normalisePath(dir)
                                 : normalisePath(joinPath(getCwd().str(), dir, true).str());
  checkFolderChain(literal.str());
  String real = realpath(literal.str());
  checkFolderChain(real.str());
  int fd = ::open(real.str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  checkSysCall(fd, "open(%s)", real.str());
  struct stat st;
  if (::fstat(fd, &st) < 0 || !trustedOwner(st.st_uid) || (st.st_mode & 022)) {
    ::close(fd);
    throw Exception(0, "Log folder %s can be written by another user", real.str());
  }
  return fd;
}

// Opens (creating it 0600) the file name in the folder for appending: never
// through a link, and only a regular file of this user with no other name.
int openLogFileAt(int dirFd, const char* name, const char* path)
{
  int fd;
  do {
    fd = ::openat(dirFd, name,
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                  0600);
  } while (fd < 0 && errno == EINTR);
  checkSysCall(fd, "open(%s)", path);
  struct stat st;
  if (::fstat(fd, &st) < 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_nlink != 1) {
    ::close(fd);
    throw Exception(0, "Log file %s is not a regular file of this user", path);
  }
  fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
  return fd;
}

String configuredPath(int priority)
{
  String dir = priority < 0 ? String(logDirParam.getValue()) : logDirParam.getValueStr(priority);
  String file = priority < 0 ? String(logFileParam.getValue()) : logFileParam.getValueStr(priority);
  DString d = expandEnvVars(dir.str(), nullptr, EnvExpand::kStrict | EnvExpand::kUseEnvironment);
  DString f = expandEnvVars(file.str(), nullptr, EnvExpand::kStrict | EnvExpand::kUseEnvironment);
  return joinPath(d.get(), f.get(), true);
}

// Follows `LogDir` and `LogFile` while file logging is on.
class LogDestFileMgr : public ParameterChangedCallback {
public:
  explicit LogDestFileMgr(LogDestFile* dest) : dest_(dest)
  {
    logDirParam.addCallback(this);
    logFileParam.addCallback(this);
  }
  void parameterChanged(ConfigParameter*, int) override
  {
    if (on_)
      dest_->setPath(configuredPath(-1).str());
  }
  void setEnabled(bool on)
  {
    if (on == on_)
      return;
    if (on)
      dest_->setPath(configuredPath(-1).str());
    else
      dest_->setPath(nullptr);
    on_ = on;
  }

private:
  LogDestFile* dest_;
  bool on_ = false;
};

LogDestFileMgr* fileMgr = nullptr;

} // namespace

// --- LogDestFile -------------------------------------------------------------------

LogDestFile::LogDestFile(const char* name, const char* identity, FILE* stream)
    : LogDest(name), identity_(identity), host_(os::getShortHostName()), stream_(stream, false)
{
  stream_.setReportCloseErrors(false);
  colour_ = stream && terminalSupportsColour(fileno(stream));
}

LogDestFile::~LogDestFile()
{
  MutexLock lock(mutex_);
  closeFile();
}

bool LogDestFile::enabled()
{
  MutexLock lock(mutex_);
  return !path_.isNull() || stream_.get();
}

void LogDestFile::write(int level, const char* srcName, const char* text)
{
  MutexLock lock(mutex_);
  if (stopped_)
    return;
  if (!stream_.get() && !openFile())
    return;
  writeLine(level, srcName, text);
}

void LogDestFile::setPath(const char* path)
{
  MutexLock lock(mutex_);
  if (strCmpNull(path, path_.get()) == 0)
    return;
  closeFile();
  path_ = String(path);
  headerWritten_ = false;
}

String LogDestFile::getPath()
{
  MutexLock lock(mutex_);
  return path_;
}

void LogDestFile::setMaxSize(int64_t bytes)
{
  MutexLock lock(mutex_);
  maxSize_ = bytes;
  stopped_ = false;
}

void LogDestFile::setSizeListener(SizeListener* listener)
{
  MutexLock lock(mutex_);
  sizeListener_ = listener;
}

void LogDestFile::reopenIfMoved()
{
  MutexLock lock(mutex_);
  if (openPath_.isNull() || !stream_.get())
    return;
  try {
    if (fileIsSameAsFd(fileno(stream_.get()), openPath_.str()))
      return;
  } catch (Exception&) {
    return;
  }
  String path = openPath_;
  closeFile();
  headerWritten_ = false;
  try {
    openAt(path.str(), false);
  } catch (Exception&) {
    // The next write tries again, with the usual error reporting.
  }
}

bool LogDestFile::openFile()
{
  if (!path_.length())
    return false;
  char first[Exception::kMessageSize];
  try {
    openAt(path_.str(), true);
    return true;
  } catch (Exception& e) {
    e.formatDisplay(first);
  }
  fprintf(stderr, "Error opening log file: %s\n", first);
  if (logFileParam.getPriority() <= kPriorityDefault &&
      logDirParam.getPriority() <= kPriorityDefault)
    return false;
  try {
    String fallback = configuredPath(kPriorityDefault);
    fprintf(stderr, "Reverting to default log file %s\n", fallback.str());
    // path_ keeps the configured path, so that setting it again changes
    // nothing; reopenIfMoved follows the file actually written.
    openAt(fallback.str(), true);
  } catch (Exception& e) {
    char text[Exception::kMessageSize];
    fprintf(stderr, "Error opening default log file: %s\n", e.formatDisplay(text));
    return false;
  }
  writeLine(0, "LogDestFile: Error opening log file", first);
  return true;
}

void LogDestFile::openAt(const char* path, bool rotateFirst)
{
  if (!path || !*path)
    throw Exception("No log file path");
  String dir = dirName(path);
  mkDirWithParents(dir.str(), DirMode::kPrivate);
  int dirFd = openLogFolder(dir.str());
  int fd = -1;
  try {
    if (rotateFirst)
      rotate(path);
    // Appending: when the old file could not be moved aside, its lines stay.
    String name = baseName(path);
    fd = openLogFileAt(dirFd, name.str(), path);
  } catch (...) {
    ::close(dirFd);
    throw;
  }
  ::close(dirFd);
  FILE* fp = fdopen(fd, "a");
  if (!fp) {
    int err = errno;
    ::close(fd);
    throw SystemExceptionFmt(err, "fdopen(%s)", path);
  }
  stopped_ = false;
  stream_.reset(fp, true);
  openPath_ = String(path);
  headerWritten_ = false;
  if (redirectsStderr && this == fileDest)
    dup2(fileno(stream_.get()), 2);
}

void LogDestFile::closeFile()
{
  openPath_ = String();
  try {
    stream_.reset();
  } catch (Exception& e) {
    char text[Exception::kMessageSize];
    fprintf(stderr, "Error closing log file: %s\n", e.formatDisplay(text));
  }
}

void LogDestFile::writeLine(int level, const char* srcName, const char* text)
{
  DString line;
  if (!headerWritten_) {
    MutexLock lock(headerMutex());
    if (!logFileHeader().isNull()) {
      String header(logFileHeader());
      wordWrap(header, 79, 0);
      line.append(header.str());
      line.append("\n");
    }
    headerWritten_ = true;
  }
  if (colour_)
    line.appendf("\033[%sm", colourCode(level));

  Time now = getTime();
  struct tm tm;
  if (compactLogParam.getValue()) {
    timeToTmLocal(&tm, now);
    int millis = static_cast<int>((now / kTicksPerMilli) % 1000);
    line.appendf("%02d:%02d:%02d.%03d %s: %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, millis, srcName,
                 text);
  } else {
    timeText_.clear();
    formatTimeIso(timeText_, now, true);
    line.appendf("<%d> %s %s %s[%lld]: %s: %s\n", syslogPriority(level), timeText_.get(),
                 host_.str(), identity_.str(), static_cast<long long>(getpid()), srcName, text);
  }
  if (colour_)
    line.append("\033[0m");

  FILE* fp = stream_.get();
  fflush(fp);
  int fd = fileno(fp);
  writeAll(fd, line.get(), static_cast<size_t>(line.length()));

  if (maxSize_ > 0) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size >= maxSize_) {
      stopped_ = true;
      closeFile();
      if (sizeListener_)
        sizeListener_->logSizeLimitReached(this);
    }
  }
}

// --- Process-wide destinations ---------------------------------------------------------

void initStderrLogDest(const char* identity)
{
  if (!stderrDest)
    stderrDest = new LogDestFile("stderr", identity, stderr);
}

void initFileLogDest(const char* identity, bool open)
{
  if (fileDest)
    return;
  fileDest = new LogDestFile("file", identity, nullptr);
  fileMgr = new LogDestFileMgr(fileDest);
  if (open)
    fileMgr->setEnabled(true);
}

void setFileLogEnabled(bool on)
{
  if (fileMgr)
    fileMgr->setEnabled(on);
}

LogDestFile* getFileLogDest()
{
  return fileDest;
}

void setLogFileHeader(const char* text)
{
  MutexLock lock(headerMutex());
  logFileHeader() = String(text);
}

void setLogRedirectsStderr(bool on)
{
  redirectsStderr = on;
}

} // namespace plat
