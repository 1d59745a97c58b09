#include "os/LockFile.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "osTestUtil.h"
#include "plat/Exception.h"
#include "testuser.h"

namespace {

std::string contents(const std::string& path)
{
  std::string out;
  if (FILE* f = fopen(path.c_str(), "re")) {
    char buf[256];
    size_t n = fread(buf, 1, sizeof(buf), f);
    out.assign(buf, n);
    fclose(f);
  }
  return out;
}

bool exists(const std::string& path)
{
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Whether a fresh process would be refused the lock.
bool heldElsewhere(const std::string& path)
{
  return ostest::inChild([&] {
           os::LockFile lock(path.c_str(), "probe\n", os::LockFile::kLock);
           bool taken = lock.isLocked();
           lock.release();
           return taken ? 0 : 1;
         }) == 1;
}

// A child process that holds the lock until the object is destroyed.
class OtherHolder {
public:
  explicit OtherHolder(const std::string& path)
  {
    int ready[2];
    EXPECT_EQ(0, pipe(ready));
    EXPECT_EQ(0, pipe(release_));
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release_[1]);
      {
        os::LockFile lock(path.c_str());
        char c = lock.isLocked() ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        (void)!read(release_[0], &c, 1);
      }
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    char c = 0;
    EXPECT_EQ(1, read(ready[0], &c, 1));
    EXPECT_EQ('y', c);
    close(ready[0]);
  }
  ~OtherHolder()
  {
    close(release_[1]);
    int status;
    waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }

private:
  int release_[2];
  pid_t pid_;
};

} // namespace

TEST(LockFile, TakenRefusedAndTested)
{
  enum Holder { kNone, kOtherProcess, kThisProcess };
  struct Case {
    Holder holder;
    bool testOnly;
    bool expectLocked;
  } cases[] = {
      {kNone, false, true},         {kNone, true, false},
      {kOtherProcess, false, false}, {kOtherProcess, true, true},
      // Locks belong to the open file, so our own lock counts as held and
      // a test of it does not drop it.
      {kThisProcess, false, false}, {kThisProcess, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "holder " << c.holder << " testOnly " << c.testOnly);
    ostest::TempDir dir;
    std::string path = dir / "lock";
    std::unique_ptr<OtherHolder> other;
    std::unique_ptr<os::LockFile> own;
    std::string held;
    if (c.holder == kOtherProcess) {
      other.reset(new OtherHolder(path));
      held = std::to_string(other->pid()) + "\n";
    } else if (c.holder == kThisProcess) {
      own.reset(new os::LockFile(path.c_str(), "own\n", os::LockFile::kPrivate));
      ASSERT_TRUE(own->isLocked());
      held = "own\n";
    }
    {
      os::LockFile lock(path.c_str(), "mine\n",
                        c.testOnly ? os::LockFile::kTestOnly : os::LockFile::kLock);
      EXPECT_EQ(c.expectLocked, lock.isLocked());
      if (c.holder == kNone && !c.testOnly) {
        EXPECT_EQ("mine\n", contents(path));
        EXPECT_TRUE(heldElsewhere(path));
      }
    }
    if (c.holder == kNone) {
      // The holder's destructor removed its file; a test never creates one.
      EXPECT_FALSE(exists(path));
    } else {
      // The holder keeps its lock and its file, contents untouched.
      EXPECT_EQ(held, contents(path));
      EXPECT_TRUE(heldElsewhere(path));
    }
  }
}

TEST(LockFile, ModesAndContents)
{
  ostest::TempDir dir;
  std::string path = dir / "pid";
  {
    os::LockFile lock(path.c_str());
    ASSERT_TRUE(lock.isLocked());
    EXPECT_EQ(std::to_string(getpid()) + "\n", contents(path));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    // A process that held the lock and died leaves a stale file that the
    // next one takes over.
    lock.release();
  }
  EXPECT_TRUE(exists(path));
  {
    os::LockFile lock(path.c_str(), "x", os::LockFile::kPrivate);
    ASSERT_TRUE(lock.isLocked());
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ("x", contents(path));
  }
  EXPECT_FALSE(exists(path));
  EXPECT_THROW(os::LockFile((dir / "missing/lock").c_str(), "", os::LockFile::kLock),
               plat::SystemException);
}

TEST(LockFile, DestructorLeavesAReplacedFileAlone)
{
  ostest::TempDir dir;
  std::string path = dir / "lock";
  {
    os::LockFile lock(path.c_str());
    ASSERT_TRUE(lock.isLocked());
    dir.write("new", "someone else\n");
    ASSERT_EQ(0, rename((dir / "new").c_str(), path.c_str()));
  }
  EXPECT_EQ("someone else\n", contents(path));
}

// As root in a directory another user owns, that user's links and files at
// the lock path are refused and nothing they point to is touched.
TEST(LockFile, RootRefusesWhatAnotherUserPlants)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  ostest::TempDir dir;
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0711));
  std::string userDir = dir / "user";
  ASSERT_EQ(0, mkdir(userDir.c_str(), 0755));
  ASSERT_EQ(0, chown(userDir.c_str(), user.uid, user.gid));
  std::string victim = dir.write("victim", "secret\n", 0600);
  std::string lock = userDir + "/lock";
  std::string created = dir / "created";
  struct Case {
    const char* name;
    std::function<int()> plant;
    std::string untouched;
    std::string text;
  } cases[] = {
      {"link to a root file", [&] { return symlink(victim.c_str(), lock.c_str()); }, victim,
       "secret\n"},
      {"dangling link", [&] { return symlink(created.c_str(), lock.c_str()); }, created, ""},
      {"the user's file",
       [&] {
         int fd = open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
         return fd >= 0 && write(fd, "mine\n", 5) == 5 && close(fd) == 0 ? 0 : 1;
       },
       lock, "mine\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(lock.c_str());
    ASSERT_EQ(0, tltest::forkAsTestUser(c.plant));
    struct stat before = {};
    lstat(c.untouched.c_str(), &before);
    EXPECT_THROW(os::LockFile(lock.c_str()), plat::Exception);
    EXPECT_EQ(c.text, contents(c.untouched));
    struct stat after = {};
    lstat(c.untouched.c_str(), &after);
    EXPECT_EQ(before.st_mode, after.st_mode);
    EXPECT_EQ(before.st_uid, after.st_uid);
  }
}
