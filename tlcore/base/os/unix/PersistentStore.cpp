#include "os/PersistentStore.h"

#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include "os/dirs.h"
#include "plat/File.h"
#include "plat/Path.h"
#include "rdr/FileOutStream.h"

namespace os {

PersistentStore& PersistentStore::getDefault()
{
  static PersistentStoreFile store(getPersistentStorePath(nullptr).get());
  return store;
}

PersistentStoreFile::PersistentStoreFile(const char* directory) : directory_(directory)
{
}

void PersistentStoreFile::setDirectory(const char* directory)
{
  if (plat::strCmpNull(directory_.get(), directory) != 0)
    directory_ = plat::String(directory);
}

const char* PersistentStoreFile::itemPath(const char* name)
{
  path_ = plat::format("%s%c%s", directory_.str(), '/', name);
  return path_.get();
}

bool PersistentStoreFile::read(const char* name, plat::MBuf<unsigned char>& out)
{
  out.clear();
  if (directory_.length() == 0)
    return false;
  try {
    plat::FilePtr file(itemPath(name), plat::FilePtr::kRead);
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
      return false;
    // readAll refuses an empty file, which is still an item.
    if (st.st_size == 0)
      return true;
    plat::MBuf<unsigned char> data = file.readAll(INT_MAX);
    data.setSecure(true);
    out.swap(data);
    return true;
  } catch (plat::Exception&) {
    out.clear();
    return false;
  }
}

void PersistentStoreFile::write(const char* name, const void* data, int length)
{
  if (directory_.length() == 0)
    throw plat::ExceptionFmt("No directory for the persistent store item %s", name);
  const char* path = itemPath(name);
  try {
    plat::mkDirWithParents(plat::dirName(path).get(), plat::DirMode::kPrivate);
  } catch (plat::Exception&) {
    // Shows as the failure to create the file itself.
  }
  rdr::TransactedFileOutStream out(path, plat::FilePtr::kPrivate);
  out.writeBytes(data, length);
  out.commit();
}

void PersistentStoreFile::remove(const char* name)
{
  if (directory_.length() == 0)
    return;
  if (!name || !*name) {
    // Removing what is not there is no failure.
    (void)plat::tryRmDir(directory_.get(), true);
    return;
  }
  (void)plat::tryFileRemove(itemPath(name));
  // Walk up the item's own directories, never the store's or above it.
  plat::String part(name);
  for (;;) {
    char* slash = strrchr(part.data(), '/');
    if (!slash)
      break;
    *slash = 0;
    if (strcmp(part.get(), ".") == 0 || !*part.get() ||
        !plat::tryRmDir(itemPath(part.get()), false))
      break;
  }
}

} // namespace os
