#include "tlOrbSetup/SessionDir.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "crypto/RandomStream.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/encodings.h"

namespace tlOrbSetup {

namespace {

plat::String joinDir(const plat::String& dir, const char* name)
{
  int n = dir.length();
  if (n > 0 && dir.str()[n - 1] == '/')
    return plat::format("%s%s", dir.str(), name);
  return plat::format("%s/%s", dir.str(), name);
}

const plat::String& sessionName()
{
  static plat::String name;
  if (name.isNull())
    name = randomToken(false);
  return name;
}

} // namespace

plat::String randomToken(bool base64)
{
  unsigned char bytes[8];
  {
    crypto::RandomStream random;
    random.readBytes(bytes, sizeof(bytes));
  }
  plat::String token = base64 ? plat::binToBase64(sizeof(bytes), bytes, true)
                              : plat::binToHex(sizeof(bytes), bytes);
  explicit_bzero(bytes, sizeof(bytes));
  return token;
}

plat::String getInstallerDir()
{
  return joinDir(os::getTmpPath(nullptr), "installer");
}

plat::String getInstallerSessionDir()
{
  plat::String dir = joinDir(getInstallerDir(), sessionName().str());
  plat::mkDirWithParents(dir.str(), plat::DirMode::kMakePrivate);
  return dir;
}

plat::String writeSessionFile(const char* name, size_t length, const void* bytes)
{
  const char* slash = strrchr(name, '/');
  const char* base = slash ? slash + 1 : name;
  plat::String dir = getInstallerSessionDir();
  plat::String path = plat::makeUniqueFileName(dir.str(), base, "(", ")", 99);
  int fd = plat::fileOpenFd(path.str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  auto fail = [&](int err, const char* call) {
    close(fd);
    (void)plat::tryFileRemove(path.str());
    throw plat::SystemExceptionFmt(err, "%s(%s)", call, path.str());
  };
  // Blocks reserved at once: the one large write below need not allocate
  // them page by page, and a full disk fails before anything is written.
  // File systems without it are simply written.
  while (length > 0 && fallocate(fd, 0, 0, (off_t)length) != 0) {
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)
      fail(errno, "fallocate");
    if (errno != EINTR)
      break;
  }
  const char* p = static_cast<const char*>(bytes);
  size_t left = length;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      fail(errno, "write");
    p += n;
    left -= (size_t)n;
  }
  if (close(fd) != 0 && errno != EINTR)
    throw plat::SystemExceptionFmt(errno, "close(%s)", path.str());
  return path;
}

} // namespace tlOrbSetup
