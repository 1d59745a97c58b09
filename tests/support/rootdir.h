// A scratch directory that only root can change, nor any directory above
// it: where tests that run as root build the trees a root process may
// trust (under /tmp nothing qualifies, /tmp being writable by all).
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace tltest {

class RootOnlyDir {
public:
  RootOnlyDir()
  {
    if (geteuid() != 0)
      return;
    for (const char* base : {"/run", "/var/lib", "/root"}) {
      if (!onlyRootCanChange(base))
        continue;
      std::string tmpl = std::string(base) + "/tlroot-XXXXXX";
      if (mkdtemp(&tmpl[0]) && chmod(tmpl.c_str(), 0755) == 0) {
        path_ = tmpl;
        return;
      }
    }
  }
  ~RootOnlyDir()
  {
    if (!path_.empty())
      nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
           16, FTW_DEPTH | FTW_PHYS);
  }
  RootOnlyDir(const RootOnlyDir&) = delete;
  RootOnlyDir& operator=(const RootOnlyDir&) = delete;

  // Empty when not root or when no such place was found.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  static bool onlyRootCanChange(const std::string& dir)
  {
    std::string p = dir;
    for (;;) {
      struct stat st;
      if (stat(p.c_str(), &st) != 0 || st.st_uid != 0 || (st.st_mode & 022))
        return false;
      if (p == "/")
        return true;
      size_t slash = p.rfind('/');
      p = slash == 0 ? "/" : p.substr(0, slash);
    }
  }

  std::string path_;
};

} // namespace tltest
