#include "os/program.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/AppInfo.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"

namespace os {

namespace {

bool isExecutableFile(const char* path)
{
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

plat::String joinDir(const char* dir, const char* name)
{
  if (plat::strEndsWith(dir, "/"))
    return plat::format("%s%s", dir, name);
  return plat::format("%s%c%s", dir, '/', name);
}

void readFully(FILE* f, void* buf, int n)
{
  char* p = (char*)buf;
  while (n > 0) {
    int got = plat::fileRead(f, p, n);
    p += got;
    n -= got;
  }
}

template <typename T> T field(const unsigned char* p)
{
  T v;
  memcpy(&v, p, sizeof(v));
  return v;
}

} // namespace

plat::String findExecutable(const char* name, bool searchPath)
{
  if (!name || !*name)
    return plat::String();
  if (strchr(name, '/')) {
    if (!isExecutableFile(name))
      return plat::String();
    return plat::makeAbsolutePath(name);
  }
  const char* path = getenv("PATH");
  if (!searchPath || !path)
    return plat::String();
  plat::String copy(path);
  char* cursor = copy.data();
  while (char* entry = plat::strTok(&cursor, ':')) {
    if (entry[0] == '~')
      throw plat::Exception("PATH contains invalid '~' character");
    // An empty or relative entry names a place under the working directory,
    // which may be anybody's: not a place to take programs from.
    if (entry[0] != '/')
      continue;
    plat::String candidate = plat::format("%s/%s", entry, name);
    struct stat st;
    if (stat(candidate.get(), &st) != 0)
      continue;
    if (!isExecutableFile(candidate.get()))
      return plat::String();
    return plat::makeAbsolutePath(candidate.get());
  }
  return plat::String();
}

const char* getOwnExecutable()
{
  static const plat::String own = []() {
    try {
      // The kernel follows "/proc/self" itself: one read of the link, then
      // its absolute target resolved as realpath would go on with it,
      // instead of a walk through /proc.
      char target[4096];
      ssize_t n = ::readlink("/proc/self/exe", target, sizeof(target));
      if (n > 0 && n < (ssize_t)sizeof(target) && target[0] == '/') {
        target[n] = 0;
        return plat::realpath(target);
      }
      return plat::realpath("/proc/self/exe");
    } catch (plat::Exception&) {
      return plat::String();
    }
  }();
  return own.get();
}

plat::String getProgramFile(const char* name, unsigned lookup)
{
  const bool searchPath = lookup & kSearchPath;
  plat::String result;
  if (!name) {
    result = plat::String(getOwnExecutable());
  } else if (name[0] != '/') {
    if (const char* own = getOwnExecutable()) {
      plat::String candidate = joinDir(plat::dirName(own).get(), name);
      if (isExecutableFile(candidate.get()))
        result = candidate;
    }
    if (result.isNull())
      result = findExecutable(name, searchPath);
  } else {
    result = findExecutable(name, searchPath);
  }
  if (result.length() == 0 && (lookup & kMustExist))
    throw plat::SystemExceptionFmt(ENOENT, "%s does not exist or is not executable",
                                   name ? name : "<null>");
  return result;
}

plat::String getProgramDir(const char* name, unsigned lookup)
{
  plat::String file = getProgramFile(name, lookup);
  if (file.length() == 0)
    return plat::String();
  return plat::dirName(file.get());
}

plat::String getProgramPathCompDir()
{
  plat::String dir = getProgramDir();
  return joinDir(dir.str(), AppInfo::getPathComp(false));
}

plat::String readElfInterpreter(const char* path)
{
  plat::FilePtr file(path, plat::FilePtr::kRead);
  unsigned char header[64];
  readFully(file, header, 16);
  if (memcmp(header, "\x7f" "ELF", 4) != 0)
    throw plat::Exception("Not an ELF file");
  bool is64 = header[4] == 2;
  if (!is64 && header[4] != 1)
    throw plat::Exception("Unknown ELF class");
  readFully(file, header + 16, (is64 ? 64 : 52) - 16);
  uint64_t phOffset = is64 ? field<uint64_t>(header + 32) : field<uint32_t>(header + 28);
  int phCount = field<uint16_t>(header + (is64 ? 56 : 44));
  int phSize = is64 ? 56 : 32;
  if (phOffset > INT64_MAX - (uint64_t)phCount * phSize)
    throw plat::Exception("Bad ELF program header");
  for (int i = 0; i < phCount; i++) {
    unsigned char ph[56];
    plat::fileSeek(file, (int64_t)(phOffset + (uint64_t)i * phSize), SEEK_SET);
    readFully(file, ph, phSize);
    if (field<uint32_t>(ph) != 3) // PT_INTERP
      continue;
    uint64_t offset = is64 ? field<uint64_t>(ph + 8) : field<uint32_t>(ph + 4);
    uint64_t size = is64 ? field<uint64_t>(ph + 32) : field<uint32_t>(ph + 16);
    if (size == 0)
      return plat::String();
    // A loader path longer than any path the system accepts is damage.
    if (size > 4096 || offset > (uint64_t)INT64_MAX)
      throw plat::Exception("Bad ELF program header");
    char text[4097];
    plat::fileSeek(file, (int64_t)offset, SEEK_SET);
    readFully(file, text, (int)size);
    text[size] = 0;
    return plat::String(text);
  }
  return plat::String();
}

bool isSetuidRootExecutable(const char* path)
{
  struct stat st;
  return path && lstat(path, &st) == 0 && st.st_uid == 0 && (st.st_mode & S_ISUID) &&
         (st.st_mode & S_IXUSR);
}

} // namespace os
