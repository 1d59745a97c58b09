// Named items kept as files in a per-application directory: the credential
// record, the bootstrap cache and the HTTP capture live in such stores.
//
// An item name may contain slashes; it names a file below the store
// directory. Items are written private to the user and replaced whole, so
// a reader sees either the old or the new content. A store object reuses
// its scratch path, so it serves one thread; the default store is made
// once, on first use, and lives until exit.
#pragma once

#include "plat/MBuf.h"
#include "plat/String.h"

namespace os {

class PersistentStore {
public:
  virtual ~PersistentStore() = default;

  // The item's bytes into out (emptied first, wiped when secure; secure
  // afterwards, since items hold credentials). False, with out empty, when
  // the item is missing or cannot be read.
  virtual bool read(const char* name, plat::MBuf<unsigned char>& out) = 0;
  // Replaces the item, creating missing directories; throws what the file
  // functions throw.
  virtual void write(const char* name, const void* data, int length) = 0;
  // Removes the item and the directories of its name that it leaves empty;
  // a null or empty name removes the whole store. Reports nothing.
  virtual void remove(const char* name) = 0;

  // The store of the application (getPersistentStorePath(null)).
  static PersistentStore& getDefault();
};

class PersistentStoreFile : public PersistentStore {
public:
  // A store on directory; a null or empty directory holds nothing and
  // refuses writes.
  explicit PersistentStoreFile(const char* directory);

  bool read(const char* name, plat::MBuf<unsigned char>& out) override;
  void write(const char* name, const void* data, int length) override;
  void remove(const char* name) override;

  const char* getDirectory() const { return directory_.str(); }
  void setDirectory(const char* directory);

private:
  const char* itemPath(const char* name);

  plat::String directory_;
  plat::String path_;
};

} // namespace os
