#include "plat/SharedMem.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "os/AppInfo.h"
#include "os/LockFile.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

using plat::SharedMem;
using plat::SharedMemPosix;
using plat::SharedMemSysV;

namespace {

using Maker = std::function<std::unique_ptr<SharedMem>()>;

std::unique_ptr<SharedMem> makeSysV()
{
  return std::make_unique<SharedMemSysV>(8192);
}
std::unique_ptr<SharedMem> makePosix()
{
  return SharedMem::create(8192);
}

std::string describe(SharedMem& mem)
{
  rdr::MemOutStream out;
  mem.serialize(out);
  return std::string((const char*)out.data(), (size_t)out.length());
}

std::unique_ptr<SharedMem> receive(const std::string& desc)
{
  rdr::MemInStream in(desc.data(), (int)desc.size());
  return SharedMem::receive(in);
}

// The System V id or the POSIX name a description carries.
struct Described {
  bool sysV;
  int id;
  std::string name;
};
Described parse(const std::string& desc)
{
  rdr::MemInStream in(desc.data(), (int)desc.size());
  Described d{in.readU8() == 1, -1, ""};
  in.readU32();
  if (d.sysV)
    d.id = (int)in.readU32();
  else
    d.name = in.readString(1024).str();
  return d;
}

bool exists(const Described& d)
{
  if (d.sysV) {
    struct shmid_ds ds;
    return shmctl(d.id, IPC_STAT, &ds) == 0;
  }
  int fd = shm_open(d.name.c_str(), O_RDONLY, 0);
  if (fd >= 0)
    close(fd);
  return fd >= 0;
}

// Children end with _exit, running no destructors, so they leave behind
// what they created.
using tltest::inChild;
using tltest::spawn;
using tltest::waitChild;

class SharedMemTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    os::AppInfo::set("shmtest", nullptr, "tlshm", nullptr, nullptr);
    char tmpl[] = "/tmp/shmtest-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    tmp_ = tmpl;
    os::setTmpDirForTest(tmp_.c_str());
    SharedMem::resetStaleCleaningForTests();
  }
  void TearDown() override
  {
    os::setTmpDirForTest(nullptr);
    (void)plat::tryRmDir(tmp_.c_str(), true);
  }
  std::string marker(const Described& d)
  {
    std::string dir = tmp_ + "/.tlshm-" + std::to_string(geteuid()) + "/shm/";
    return d.sysV ? dir + "SysV/" + std::to_string(d.id) : dir + "Posix" + d.name;
  }

  std::string tmp_;
};

TEST_F(SharedMemTest, SharedBetweenProcesses)
{
  // A file whose bytes tell their position; mapped at an offset inside a page.
  std::string file = tmp_ + "/region";
  {
    std::string contents(20000, 0);
    for (size_t i = 0; i < contents.size(); i++)
      contents[i] = (char)(i % 251);
    plat::FilePtr f(file.c_str(), plat::FilePtr::kWrite, plat::FilePtr::kCreate);
    fwrite(contents.data(), 1, contents.size(), f);
  }
  auto openFile = [&] { return std::make_unique<SharedMemPosix>(file.c_str(), 5000, 8192); };
  struct Case {
    const char* name;
    Maker make;
    std::function<std::unique_ptr<SharedMem>(const std::string&)> open;
  } cases[] = {
      {"SysV", makeSysV, receive},
      {"Posix", makePosix, receive},
      {"file", openFile, [&](const std::string&) { return openFile(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<SharedMem> mem = c.make();
    char* data = (char*)mem->getData();
    ASSERT_NE(nullptr, data);
    if (c.name == std::string("file")) {
      EXPECT_EQ((char)(5000 % 251), data[0]);
    }
    strcpy(data, "from parent");
    std::string desc = describe(*mem);
    EXPECT_EQ(0, inChild([&] {
      std::unique_ptr<SharedMem> other = c.open(desc);
      char* d = (char*)other->getData();
      if (other->getSize() != 8192 || strcmp(d, "from parent") != 0)
        return 1;
      strcpy(d + 8000, "from child");
      return 0;
    }));
    EXPECT_STREQ("from child", data + 8000);
  }
}

TEST_F(SharedMemTest, NextCreatorCleansUpAfterDeadCreators)
{
  for (bool sysV : {true, false}) {
    for (bool creatorAlive : {false, true}) {
      SCOPED_TRACE(std::string(sysV ? "SysV" : "Posix") + (creatorAlive ? " alive" : " dead"));
      SharedMem::resetStaleCleaningForTests();
      int toParent[2], toChild[2];
      ASSERT_EQ(0, pipe(toParent));
      ASSERT_EQ(0, pipe(toChild));
      pid_t pid = spawn([&] {
        std::unique_ptr<SharedMem> mem = sysV ? makeSysV() : makePosix();
        std::string desc = describe(*mem);
        (void)!write(toParent[1], desc.data(), desc.size());
        if (!creatorAlive)
          _exit(0);
        char go;
        (void)!read(toChild[0], &go, 1);
        mem.reset();
        return 0;
      });
      close(toParent[1]);
      close(toChild[0]);
      char buf[256];
      ssize_t n = read(toParent[0], buf, sizeof(buf));
      close(toParent[0]);
      ASSERT_GT(n, 0);
      Described d = parse(std::string(buf, n));
      if (!creatorAlive) {
        EXPECT_EQ(0, waitChild(pid));
      }
      ASSERT_TRUE(exists(d));
      ASSERT_TRUE(plat::pathExists(marker(d).c_str()));

      std::unique_ptr<SharedMem> next = sysV ? makeSysV() : makePosix();
      EXPECT_EQ(creatorAlive, exists(d));
      EXPECT_EQ(creatorAlive, plat::pathExists(marker(d).c_str()));
      if (creatorAlive) {
        (void)!write(toChild[1], "g", 1);
        EXPECT_EQ(0, waitChild(pid));
        EXPECT_FALSE(exists(d));
        EXPECT_FALSE(plat::pathExists(marker(d).c_str()));
      }
      close(toChild[1]);
    }
  }
}

// A segment that its live creator has made but not yet attached carries a
// marker only after attaching; one marked anyway must still be left alone.
TEST_F(SharedMemTest, UnattachedSegmentOfLiveCreatorIsKept)
{
  int id = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
  ASSERT_GE(id, 0);
  Described d{true, id, ""};
  std::string path = marker(d);
  plat::mkDirWithParents(plat::dirName(path.c_str()).get(), plat::DirMode::kMakePrivate);
  close(open(path.c_str(), O_WRONLY | O_CREAT, 0600));
  std::unique_ptr<SharedMem> next = makeSysV();
  EXPECT_TRUE(exists(d));
  shmctl(id, IPC_RMID, nullptr);
}

// A cleaner holds the marker's lock while it unlinks the object of that
// name, so a creator takes the lock before its object exists and waits for
// a cleaner that has it.
TEST_F(SharedMemTest, PosixCreatorLocksBeforeTheObjectExists)
{
  uint64_t serial = SharedMem::create(4096)->getSerial() + 1;
  Described d{false, -1, "/tlshm-" + std::to_string(getpid()) + "-" + std::to_string(serial)};
  auto cleaner = std::make_unique<os::LockFile>(marker(d).c_str(), "", os::LockFile::kPrivate);
  ASSERT_TRUE(cleaner->isLocked());
  std::unique_ptr<SharedMem> mem;
  std::thread creator([&] { mem = SharedMem::create(4096); });
  usleep(200000);
  EXPECT_FALSE(exists(d));
  cleaner.reset();
  creator.join();
  ASSERT_TRUE(mem);
  EXPECT_EQ(d.name, parse(describe(*mem)).name);
  EXPECT_TRUE(exists(d));
  EXPECT_TRUE(
      os::LockFile(marker(d).c_str(), nullptr, os::LockFile::kTestOnly | os::LockFile::kPrivate)
          .isLocked());
}

// One process creates blocks while another keeps cleaning: no block may
// vanish (or lose its marker) while its creator holds it.
TEST_F(SharedMemTest, LiveBlocksSurviveConcurrentCleaning)
{
  for (Maker make : {Maker(makeSysV), Maker(makePosix)}) {
    int stop[2];
    ASSERT_EQ(0, pipe(stop));
    pid_t cleaner = spawn([&] {
      close(stop[1]);
      struct pollfd p = {stop[0], POLLIN, 0};
      for (int i = 0; i < 1000000 && poll(&p, 1, 0) == 0; i++) {
        SharedMem::resetStaleCleaningForTests();
        make();
      }
      return 0;
    });
    close(stop[0]);
    int lost = 0;
    for (int i = 0; i < 300; i++) {
      std::unique_ptr<SharedMem> mem = make();
      Described d = parse(describe(*mem));
      if (!exists(d) || !plat::pathExists(marker(d).c_str()))
        lost++;
    }
    close(stop[1]);
    EXPECT_EQ(0, waitChild(cleaner));
    EXPECT_EQ(0, lost);
  }
}

TEST_F(SharedMemTest, RefusesBadDescriptions)
{
  std::unique_ptr<SharedMem> sysV = std::make_unique<SharedMemSysV>(4096);
  std::unique_ptr<SharedMem> posix = SharedMem::create(4096);
  std::string name = parse(describe(*posix)).name;
  int id = parse(describe(*sysV)).id;
  std::string file = tmp_ + "/plain";
  close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_EQ(0, truncate(file.c_str(), 8192));

  auto sysVDesc = [](uint32_t size, int32_t segment) {
    rdr::MemOutStream out;
    out.writeU8(1);
    out.writeU32(size);
    out.writeU32((uint32_t)segment);
    return std::string((const char*)out.data(), (size_t)out.length());
  };
  auto posixDesc = [](uint32_t size, const std::string& n, bool isFile, uint64_t offset) {
    rdr::MemOutStream out;
    out.writeU8(0);
    out.writeU32(size);
    out.writeString(n.c_str());
    out.writeU8(isFile);
    out.writeU64(offset);
    return std::string((const char*)out.data(), (size_t)out.length());
  };
  struct Case {
    const char* name;
    std::string desc;
    std::string error;
  } cases[] = {
      {"kind 2", "\x02", "Unsupported memory type received"},
      {"SysV id -1", sysVDesc(4096, -1), "Bad SharedMemSysV id -1"},
      {"SysV larger than segment", sysVDesc(8192, id), "invalid shared memory size"},
      {"size past the end", posixDesc(8192, name, false, 0), "is too small"},
      {"offset past the end", posixDesc(1, name, false, 4096), "is too small"},
      {"offset wraps", posixDesc(4096, name, false, ~(uint64_t)0 - 100), "is too small"},
      {"file", posixDesc(4096, file, true, 0), "Refusing shared memory file " + file},
      {"other application", posixDesc(4096, "/other-1-2", false, 0),
       "Refusing shared memory /other-1-2"},
      {"no slash", posixDesc(4096, name.substr(1), false, 0), "Refusing shared memory"},
      {"trailing text", posixDesc(4096, name + "x", false, 0), "Refusing shared memory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      receive(c.desc);
      ADD_FAILURE() << "accepted";
    } catch (const plat::Exception& e) {
      EXPECT_NE(std::string::npos, std::string(e.str()).find(c.error)) << e.str();
    }
  }
}

} // namespace
