// Listing of one directory's entries, with each entry's full path.
//
// The enumerator owns its open directory stream and closes it when
// destroyed. The names it returns and the full path stay valid until the
// next call of next(). One thread at a time.
#pragma once

#include <dirent.h>

#include "plat/DString.h"

namespace os {

class DirEnum {
public:
  // Throws plat::SystemException "opendir(%s)" when the directory cannot be
  // opened.
  explicit DirEnum(const char* path);
  ~DirEnum();
  DirEnum(const DirEnum&) = delete;
  DirEnum& operator=(const DirEnum&) = delete;

  // The next entry's name, "." and ".." left out; null at the end. A read
  // error throws plat::SystemException "readdir". Entries come in the
  // order the file system gives them.
  const char* next();

  // The directory path, '/' and the current entry's name.
  const char* getPath() const { return path_.get(); }
  // The current entry as the system gave it (null before the first next()).
  const struct dirent* getEntry() const { return entry_; }

private:
  DIR* dir_;
  struct dirent* entry_ = nullptr;
  plat::DString path_;
  int dirLen_;
};

} // namespace os
