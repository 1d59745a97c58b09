// Memory that can be handed to another process.
//
// The creator serialises a description of the block into a stream; the
// receiver builds the same kind of object from it (SharedMem::receive) and
// maps the same memory. SharedMemSysV is a System V segment (what the X
// server's shared-memory extension needs); SharedMemPosix is a POSIX
// shared-memory object or a region of an ordinary file.
//
// Each creator leaves a marker in a per-user directory for as long as the
// block lives, so that blocks left behind by a crashed process are removed
// by the next process that creates one. A creator removes its block when it
// is destroyed; a receiver only unmaps. Received descriptions are checked
// before anything is mapped: a POSIX description must name one of our own
// objects (never an ordinary file) and the region must lie inside it.
//
// Objects are used by one thread; the once-per-process clean-up runs on the
// first creation.
#pragma once

#include <stdint.h>
#include <sys/ipc.h>

#include <memory>

#include "plat/String.h"
#include "rdr/Forward.h"

namespace os {
class LockFile;
}

namespace plat {

class SharedMem {
public:
  // A new POSIX object of size bytes.
  static std::unique_ptr<SharedMem> create(uint32_t size);
  // The block a peer described; throws "Unsupported memory type received"
  // for an unknown kind, and the kinds' own errors.
  static std::unique_ptr<SharedMem> receive(rdr::InStream& is);

  virtual ~SharedMem();
  SharedMem(const SharedMem&) = delete;
  SharedMem& operator=(const SharedMem&) = delete;

  virtual void serialize(rdr::OutStream& os) = 0;

  void* getData() const { return data_; }
  uint32_t getSize() const { return size_; }
  uint64_t getSerial() const { return serial_; }

#ifdef TL_TEST_HOOKS
  // --- Test hooks
  // The next creation of each kind cleans up stale blocks again.
  static void resetStaleCleaningForTests();
#endif

protected:
  explicit SharedMem(uint32_t size);

  void* data_ = nullptr;
  uint32_t size_;
  uint64_t serial_;
};

class SharedMemSysV : public SharedMem {
public:
  // Creates and attaches a new segment (mode 0600); perm, when given,
  // supplies the owner, group and mode to set on it.
  explicit SharedMemSysV(uint32_t size, const struct ipc_perm* perm = nullptr);
  // Attaches the segment a peer described (after its kind byte); the
  // segment stays the peer's to remove.
  explicit SharedMemSysV(rdr::InStream& is);
  ~SharedMemSysV() override;

  void serialize(rdr::OutStream& os) override;
  int getId() const { return id_; }

private:
  void attach();
  // Detaches and, when this object owns the segment, removes it.
  void release();

  int id_ = -1;
  int ownedId_ = -1;
  String markerPath_;
  void* addr_ = nullptr;
};

class SharedMemPosix : public SharedMem {
public:
  // Creates a new POSIX object.
  explicit SharedMemPosix(uint32_t size);
  // Opens the object a peer described (after its kind byte). Refuses ordinary
  // files, names not made by this application, objects of another user and
  // regions that do not fit the object.
  explicit SharedMemPosix(rdr::InStream& is);
  // Maps size bytes of an ordinary file at offset (any offset: the mapping
  // starts at its page and the data pointer at the offset).
  SharedMemPosix(const char* path, uint64_t offset, uint32_t size);
  ~SharedMemPosix() override;

  void serialize(rdr::OutStream& os) override;
  const char* getName() const { return name_.get(); }

private:
  void open(bool create);
  void map();
  void release();

  String name_;
  bool isFile_ = false;
  uint64_t offset_ = 0;
  uint64_t pageOffset_ = 0;
  int fd_ = -1;
  bool ownsFd_ = true;
  std::unique_ptr<os::LockFile> marker_;
  String unlinkName_;
};

} // namespace plat
