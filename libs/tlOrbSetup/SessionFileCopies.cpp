#include "tlOrbSetup/SessionFileCopies.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypto/Sha.h"
#include "os/AppInfo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"

namespace tlOrbSetup {

namespace {

// A descriptor closed when it goes out of scope.
class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd()
  {
    if (fd_ >= 0)
      close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

plat::String folderPart(const plat::String& path)
{
  return plat::dirName(path.str());
}

// Opens name inside the folder dirFd without following a link; dirs and
// files alike must belong to user, folders writable by no one else.
int openOwned(int dirFd, const char* name, bool folder, uid_t user, const char* path)
{
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
  if (folder)
    flags |= O_DIRECTORY;
  struct stat st;
  int fd = os::openNoFollow(dirFd, name, flags, st, path);
  if (fd < 0)
    throw plat::ExceptionFmt(
        folder ? "%s is a symbolic link or not a folder" : "%s is a symbolic link", path);
  bool ok = st.st_uid == user &&
            (folder ? S_ISDIR(st.st_mode) && !(st.st_mode & 022) : S_ISREG(st.st_mode));
  if (!ok) {
    close(fd);
    throw plat::ExceptionFmt(folder ? "%s is not a private folder of user %u"
                                    : "%s is not a regular file of user %u",
                             path, (unsigned)user);
  }
  return fd;
}

void writeAll(int fd, const char* p, size_t n, const char* path)
{
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w < 0)
      throw plat::SystemExceptionFmt(errno, "write(%s)", path);
    p += w;
    n -= (size_t)w;
  }
}

} // namespace

SessionFileCopies::~SessionFileCopies()
{
  if (!dir_.isNull())
    (void)plat::tryRmDir(dir_.str(), true);
}

plat::String SessionFileCopies::copy(const char* path, const uint8_t (&sha256)[32])
{
  // The session directory's place, as the wizard makes it.
  plat::String given(path);
  if (!plat::isAbsolutePath(path) || plat::normalisePath(path) != given)
    throw plat::ExceptionFmt("%s is not a normalised absolute path", path);
  plat::String session = folderPart(given);
  plat::String installer = folderPart(session);
  plat::String userTmp = folderPart(installer);
  plat::String userTmpName =
      plat::format(".%s-%u", os::AppInfo::getPathComp(false), (unsigned)user_);
  if (plat::baseName(installer.str()) != plat::String("installer") ||
      plat::baseName(userTmp.str()) != userTmpName || session == installer)
    throw plat::ExceptionFmt("%s is not in a session folder of user %u", path, (unsigned)user_);

  // Opened from the temporary base down, never following a link.
  Fd base(open(folderPart(userTmp).str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (base.get() < 0)
    throw plat::SystemExceptionFmt(errno, "open(%s)", folderPart(userTmp).str());
  Fd userDir(openOwned(base.get(), userTmpName.str(), true, user_, userTmp.str()));
  Fd installerDir(openOwned(userDir.get(), "installer", true, user_, installer.str()));
  Fd sessionDir(openOwned(installerDir.get(), plat::baseName(session.str()).str(), true, user_,
                          session.str()));
  plat::String name = plat::baseName(path);
  Fd in(openOwned(sessionDir.get(), name.str(), false, user_, path));

  if (dir_.isNull()) {
    if (!plat::isAbsolutePath(parent_.str()))
      throw plat::ExceptionFmt("No folder for root's copies: '%s'", parent_.str());
    plat::checkTrustedAsRoot(parent_.str());
    std::string tmpl = std::string(parent_.str()) + "/copies-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
      throw plat::SystemExceptionFmt(errno, "mkdtemp(%s)", tmpl.c_str());
    dir_ = plat::String(tmpl.c_str());
  }
  plat::String copyPath = plat::format("%s/%s", dir_.str(), name.str());
  Fd out(plat::fileOpenFd(copyPath.str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
  // The digest is taken of the bytes written: nobody else can change them.
  crypto::Sha sha(256, false);
  try {
    std::vector<char> buf(1 << 20);
    for (;;) {
      ssize_t n = read(in.get(), buf.data(), buf.size());
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        throw plat::SystemExceptionFmt(errno, "read(%s)", path);
      if (n == 0)
        break;
      writeAll(out.get(), buf.data(), (size_t)n, copyPath.str());
      sha.update((int)n, buf.data());
    }
    unsigned char digest[32];
    sha.final(digest, sizeof(digest));
    if (memcmp(digest, sha256, sizeof(digest)) != 0)
      throw plat::ExceptionFmt("%s changed after the setup program saved it; it was not used",
                               path);
  } catch (plat::Exception&) {
    (void)plat::tryFileRemove(copyPath.str());
    throw;
  }
  return copyPath;
}

} // namespace tlOrbSetup
