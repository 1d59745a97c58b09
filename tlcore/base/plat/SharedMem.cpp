#include "plat/SharedMem.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "os/AppInfo.h"
#include "os/DirEnum.h"
#include "os/LockFile.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace plat {

namespace {

LogSrc vlogSysV("SharedMemSysV");
LogSrc vlogPosix("SharedMemPosix");

std::atomic<uint64_t> nextSerial{0};
bool sysVCleaned = false;
bool posixCleaned = false;

constexpr int kMaxNameLength = 1024;

String markerDir(const char* kind)
{
  return format("%s/shm/%s", os::getTmpPath(nullptr).get(), kind);
}

bool parseSegmentId(const char* s, int* id)
{
  long long v = 0;
  if (!*s)
    return false;
  for (; *s; s++) {
    if (*s < '0' || *s > '9')
      return false;
    v = v * 10 + (*s - '0');
    if (v > INT32_MAX)
      return false;
  }
  *id = (int)v;
  return true;
}

// A zombie still counts as alive: its parent has yet to learn its fate.
bool processGone(pid_t pid)
{
  return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

// "<path component>-<pid>-<serial>", the names this application gives its
// POSIX objects (without the leading '/').
bool isOwnObjectName(const char* name)
{
  const char* comp = os::AppInfo::getPathComp(false);
  size_t n = strlen(comp);
  if (strncmp(name, comp, n) != 0 || name[n] != '-')
    return false;
  const char* p = name + n + 1;
  for (int part = 0; part < 2; part++) {
    const char* start = p;
    while (*p >= '0' && *p <= '9')
      p++;
    if (p == start || (part == 0 && *p++ != '-'))
      return false;
  }
  return *p == 0;
}

void cleanSysV()
{
  try {
    String dir = markerDir("SysV");
    os::DirEnum entries(dir.get());
    while (const char* name = entries.next()) {
      int id;
      if (!parseSegmentId(name, &id))
        continue;
      struct shmid_ds ds;
      bool exists = shmctl(id, IPC_STAT, &ds) == 0;
      // A creator that still lives may be between making its segment and
      // attaching it: only a segment nobody maps and whose creator is gone
      // is stale.
      if (exists && (ds.shm_nattch != 0 || !processGone(ds.shm_cpid)))
        continue;
      vlogSysV.status("Cleaning old shared memory %d", id);
      if (exists && ds.shm_perm.cuid == geteuid())
        shmctl(id, IPC_RMID, nullptr);
      unlink(entries.getPath());
    }
  } catch (const Exception&) {
  }
}

void cleanPosix()
{
  try {
    String dir = markerDir("Posix");
    os::DirEnum entries(dir.get());
    while (const char* name = entries.next()) {
      if (!isOwnObjectName(name))
        continue;
      // Taking the lock rather than testing it keeps a creator from taking
      // this name while its object goes; the lock's end removes the marker.
      os::LockFile lock(entries.getPath(), "", os::LockFile::kPrivate);
      if (!lock.isLocked())
        continue;
      vlogPosix.status("Cleaning old shared memory %s", name);
      shm_unlink(format("/%s", name).get());
    }
  } catch (const Exception&) {
  }
}

} // namespace

// --- SharedMem ---------------------------------------------------------------

SharedMem::SharedMem(uint32_t size) : size_(size), serial_(nextSerial++)
{
}

SharedMem::~SharedMem() = default;

std::unique_ptr<SharedMem> SharedMem::create(uint32_t size)
{
  return std::make_unique<SharedMemPosix>(size);
}

std::unique_ptr<SharedMem> SharedMem::receive(rdr::InStream& is)
{
  int kind = is.readU8();
  if (kind == 1)
    return std::make_unique<SharedMemSysV>(is);
  if (kind == 0)
    return std::make_unique<SharedMemPosix>(is);
  throw Exception("Unsupported memory type received");
}

#ifdef TL_TEST_HOOKS
void SharedMem::resetStaleCleaningForTests()
{
  sysVCleaned = false;
  posixCleaned = false;
}
#endif

// --- SharedMemSysV -----------------------------------------------------------

SharedMemSysV::SharedMemSysV(uint32_t size, const struct ipc_perm* perm) : SharedMem(size)
{
  if (!sysVCleaned) {
    sysVCleaned = true;
    cleanSysV();
  }
  int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0)
    throw SystemExceptionFmt(errno, "shmget(%d) failed", (int)size);
  vlogSysV.debug("Create %d size %#x", id, size);
  id_ = ownedId_ = id;
  try {
    // Attached before the marker exists, so a cleaner never finds a marked
    // segment of ours that nobody maps.
    attach();
    String dir = markerDir("SysV");
    mkDirWithParents(dir.get(), DirMode::kMakePrivate);
    String path = format("%s/%d", dir.get(), id);
    close(fileOpenFd(path.get(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    markerPath_ = path;
    if (perm) {
      struct shmid_ds ds;
      if (shmctl(id, IPC_STAT, &ds) != 0)
        throw SystemException("shmctl(IPC_STAT)", errno);
      ds.shm_perm.uid = perm->uid;
      ds.shm_perm.gid = perm->gid;
      ds.shm_perm.mode = perm->mode;
      if (shmctl(id, IPC_SET, &ds) != 0)
        throw SystemException("shmctl(IPC_SET)", errno);
    }
  } catch (...) {
    release();
    throw;
  }
}

SharedMemSysV::SharedMemSysV(rdr::InStream& is) : SharedMem(is.readU32())
{
  id_ = (int32_t)is.readU32();
  if (id_ == -1)
    throw ExceptionFmt("Bad SharedMemSysV id %d", id_);
  vlogSysV.info("Receive %d size %#x", id_, size_);
  try {
    attach();
  } catch (...) {
    release();
    throw;
  }
}

SharedMemSysV::~SharedMemSysV()
{
  release();
}

void SharedMemSysV::attach()
{
  void* p = shmat(id_, nullptr, 0);
  if (p == (void*)-1)
    throw SystemException("shmat failed", errno);
  addr_ = data_ = p;
  vlogSysV.debug("Attached %d = %p", id_, p);
  // The size comes from the peer: the segment must really be that large.
  struct shmid_ds ds;
  if (shmctl(id_, IPC_STAT, &ds) != 0)
    throw SystemException("shmctl(IPC_STAT)", errno);
  if (ds.shm_segsz < size_)
    throw Exception("invalid shared memory size");
}

void SharedMemSysV::release()
{
  if (!markerPath_.isNull()) {
    unlink(markerPath_.get());
    markerPath_ = String();
  }
  if (addr_) {
    vlogSysV.debug("Detaching %p", addr_);
    shmdt(addr_);
    addr_ = data_ = nullptr;
  }
  if (ownedId_ >= 0) {
    vlogSysV.debug("Removing %d", ownedId_);
    shmctl(ownedId_, IPC_RMID, nullptr);
    ownedId_ = -1;
  }
}

void SharedMemSysV::serialize(rdr::OutStream& os)
{
  vlogSysV.info("sending %d size %#x", id_, size_);
  os.writeU8(1);
  os.writeU32(size_);
  os.writeU32((uint32_t)id_);
}

// --- SharedMemPosix ----------------------------------------------------------

SharedMemPosix::SharedMemPosix(uint32_t size) : SharedMem(size)
{
  name_ = format("/%s-%ld-%lld", os::AppInfo::getPathComp(false), (long)getpid(),
                 (long long)serial_);
  if (!posixCleaned) {
    posixCleaned = true;
    cleanPosix();
  }
  vlogPosix.info("Create %s size %#x", name_.get(), size);
  try {
    // The marker is locked before the object exists: a cleaner that gets
    // the lock can then never unlink a live object of that name.
    String dir = markerDir("Posix");
    mkDirWithParents(dir.get(), DirMode::kMakePrivate);
    String path = format("%s%s", dir.get(), name_.get());
    String pid = format("%ld\n", (long)getpid());
    // A cleaner holds a marker's lock only while it removes it.
    for (int attempt = 0; !marker_; attempt++) {
      marker_ = std::make_unique<os::LockFile>(path.get(), pid.get(), os::LockFile::kPrivate);
      if (!marker_->isLocked()) {
        marker_.reset();
        if (attempt == 500)
          throw ExceptionFmt("Cannot lock %s", path.get());
        usleep(10000);
      }
    }
    open(true);
    map();
  } catch (...) {
    release();
    throw;
  }
}

SharedMemPosix::SharedMemPosix(rdr::InStream& is) : SharedMem(is.readU32())
{
  name_ = is.readString(kMaxNameLength, true);
  isFile_ = is.readU8() != 0;
  offset_ = is.readU64();
  vlogPosix.info("Receive %s size %#x pos %#llx isFile %d", name_.str(), size_,
                 (unsigned long long)offset_, isFile_ ? 1 : 0);
  // A peer must not make us map (and write to) any file or object we can
  // open: only our own objects are shared this way.
  if (isFile_)
    throw ExceptionFmt("Refusing shared memory file %s", name_.str());
  if (name_.str()[0] != '/' || !isOwnObjectName(name_.str() + 1))
    throw ExceptionFmt("Refusing shared memory %s", name_.str());
  try {
    open(false);
    map();
  } catch (...) {
    release();
    throw;
  }
}

SharedMemPosix::SharedMemPosix(const char* path, uint64_t offset, uint32_t size)
    : SharedMem(size), name_(path), isFile_(true), offset_(offset)
{
  vlogPosix.info("Open file %s size %#x pos %#llx", name_.str(), size_,
                 (unsigned long long)offset_);
  try {
    open(false);
    map();
  } catch (...) {
    release();
    throw;
  }
}

SharedMemPosix::~SharedMemPosix()
{
  release();
}

void SharedMemPosix::open(bool create)
{
  PLAT_ASSERT(!isFile_ || !create);
  if (isFile_)
    fd_ = ::open(name_.str(), O_RDWR | O_SYNC | O_CLOEXEC);
  else
    fd_ = shm_open(name_.str(), O_RDWR | (create ? O_CREAT | O_EXCL : 0), 0600);
  if (fd_ < 0)
    throw SystemException("open/shm_open failed", errno);
  if (create) {
    unlinkName_ = name_;
    if (ftruncate(fd_, size_) != 0)
      throw SystemExceptionFmt(errno, "ftruncate(%d) failed", (int)size_);
    return;
  }
  struct stat st;
  if (fstat(fd_, &st) != 0)
    throw SystemException("fstat", errno);
  if (!isFile_ && st.st_uid != geteuid())
    throw ExceptionFmt("Refusing shared memory %s of another user", name_.str());
  // Touching a mapped page past the end of the object raises SIGBUS.
  uint64_t objectSize = st.st_size > 0 ? (uint64_t)st.st_size : 0;
  if (offset_ > objectSize || size_ > objectSize - offset_)
    throw ExceptionFmt("Shared memory %s is too small (%#llx < %#llx + %#x)", name_.str(),
                       (unsigned long long)objectSize, (unsigned long long)offset_, size_);
}

void SharedMemPosix::map()
{
  uint64_t page = (uint64_t)sysconf(_SC_PAGESIZE);
  pageOffset_ = offset_ % page;
  void* p = mmap(nullptr, size_ + pageOffset_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                 (off_t)(offset_ - pageOffset_));
  if (p == MAP_FAILED)
    throw SystemException("mmap failed", errno);
  data_ = (char*)p + pageOffset_;
  vlogPosix.info("Map %s = %p", name_.str(), data_);
}

void SharedMemPosix::release()
{
  if (data_) {
    vlogPosix.info("Unmap %s %p", name_.str(), data_);
    if (munmap((char*)data_ - pageOffset_, size_ + pageOffset_) != 0)
      vlogPosix.error("%s", SystemException("munmap", errno).str());
    data_ = nullptr;
  }
  if (!unlinkName_.isNull()) {
    shm_unlink(unlinkName_.get());
    unlinkName_ = String();
  }
  marker_.reset();
  if (fd_ >= 0 && ownsFd_)
    close(fd_);
  fd_ = -1;
}

void SharedMemPosix::serialize(rdr::OutStream& os)
{
  os.writeU8(0);
  os.writeU32(size_);
  os.writeString(name_.str());
  os.writeU8(isFile_ ? 1 : 0);
  os.writeU64(offset_);
}

} // namespace plat
