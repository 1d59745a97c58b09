#include "os/DirEnum.h"

#include <errno.h>
#include <string.h>

#include "plat/Exception.h"

namespace os {

DirEnum::DirEnum(const char* path)
{
  if (!path)
    throw plat::SystemExceptionFmt(EINVAL, "opendir(%s)", "<null>");
  // glibc opens the directory close-on-exec.
  dir_ = opendir(path);
  if (!dir_)
    throw plat::StdlibException("opendir(%s)", path);
  path_.append(path);
  if (!plat::strEndsWith(path_.get(), "/"))
    path_.append("/");
  dirLen_ = path_.length();
}

DirEnum::~DirEnum()
{
  closedir(dir_);
}

const char* DirEnum::next()
{
  for (;;) {
    errno = 0;
    entry_ = readdir(dir_);
    if (!entry_) {
      if (errno != 0)
        throw plat::SystemException("readdir", errno);
      path_.truncate(dirLen_);
      return nullptr;
    }
    const char* name = entry_->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
      continue;
    path_.truncate(dirLen_);
    path_.append(name);
    return name;
  }
}

} // namespace os
