#include "os/program.h"

#include <errno.h>
#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "os/DirEnum.h"
#include "osTestUtil.h"
#include "plat/Exception.h"

namespace {

std::string resolved(const std::string& path)
{
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? buf : "";
}

// Sets PATH and the working directory for one test, restoring both.
class Environment {
public:
  Environment(const char* path, const std::string& cwd)
  {
    const char* old = getenv("PATH");
    hadPath_ = old != nullptr;
    oldPath_ = old ? old : "";
    char buf[PATH_MAX];
    oldCwd_ = getcwd(buf, sizeof(buf));
    setenv("PATH", path, 1);
    if (!cwd.empty()) {
      EXPECT_EQ(0, chdir(cwd.c_str()));
    }
  }
  ~Environment()
  {
    if (hadPath_)
      setenv("PATH", oldPath_.c_str(), 1);
    else
      unsetenv("PATH");
    EXPECT_EQ(0, chdir(oldCwd_.c_str()));
  }

private:
  bool hadPath_;
  std::string oldPath_, oldCwd_;
};

} // namespace

TEST(DirEnum, ListsEntriesWithFullPaths)
{
  ostest::TempDir dir;
  dir.write("a", "");
  dir.write("b", "");
  for (std::string prefix : {dir.path(), dir.path() + "/"}) {
    os::DirEnum entries(prefix.c_str());
    std::vector<std::string> names;
    while (const char* name = entries.next()) {
      names.push_back(name);
      EXPECT_EQ(dir / name, entries.getPath());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), names);
  }
  try {
    os::DirEnum missing((dir / "missing").c_str());
    FAIL();
  } catch (plat::SystemException& e) {
    EXPECT_THAT(e.str(), ::testing::StartsWith(("opendir(" + dir / "missing" + "): ").c_str()));
    EXPECT_EQ(ENOENT, e.getErr());
  }
}

TEST(Program, FindExecutable)
{
  ostest::TempDir dir;
  mkdir((dir / "a").c_str(), 0755);
  mkdir((dir / "b").c_str(), 0755);
  mkdir((dir / "a/foo").c_str(), 0755);
  dir.write("b/foo", "#!/bin/sh\nexit 0\n", 0755);
  dir.write("b/script", "#!/bin/sh\nexit 0\n", 0755);
  dir.write("b/plain", "text\n", 0644);
  dir.write("x", "#!/bin/sh\n", 0755);
  std::string a = dir / "a", b = dir / "b";
  std::string systemPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  struct Case {
    std::string path, cwd;
    std::string name;
    bool search;
    std::string expected; // "throw" for the '~' error
  } cases[] = {
      // A directory found first hides the program behind it.
      {a + ":" + b, "", "foo", true, ""},
      {b + ":" + a, "", "foo", true, b + "/foo"},
      {b, "", "script", true, b + "/script"},
      {b, "", "plain", true, ""},
      {b, "", b + "/plain", false, ""},
      {dir / "none" + ":~/bin:" + b, "", "foo", true, "throw"},
      {"", dir.path(), "./x", false, dir / "x"},
      {"", dir.path(), "x", false, ""},
      // Relative entries are skipped, however the working directory is set.
      {"b:" + a, dir.path(), "foo", true, ""},
      {"b::.", dir.path(), "foo", true, ""},
      {b, "", "missing", true, ""},
      {systemPath, "", "sh", true, resolved(ostest::run("command -v sh"))},
      {systemPath, "", "env", true, resolved(ostest::run("command -v env"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " in " + c.path);
    Environment env(c.path.c_str(), c.cwd);
    if (c.expected == "throw") {
      try {
        os::findExecutable(c.name.c_str(), c.search);
        ADD_FAILURE();
      } catch (plat::Exception& e) {
        EXPECT_STREQ("PATH contains invalid '~' character", e.str());
      }
      continue;
    }
    EXPECT_EQ(c.expected, os::findExecutable(c.name.c_str(), c.search).str());
  }
  EXPECT_TRUE(os::findExecutable(nullptr, true).isNull());
}

TEST(Program, OwnExecutableAndProgramsBesideIt)
{
  std::string own = resolved("/proc/self/exe");
  EXPECT_EQ(own, os::getOwnExecutable());
  EXPECT_EQ(own, os::getProgramFile().str());
  std::string copy = own;
  EXPECT_EQ(dirname(&copy[0]), std::string(os::getProgramDir().str()));
  copy = own;
  EXPECT_EQ(own, os::getProgramFile(basename(&copy[0])).str());
  EXPECT_TRUE(os::getProgramFile("no-such-program", os::kSearchPath).isNull());
  try {
    os::getProgramFile("no-such-program", os::kMustExist | os::kSearchPath);
    FAIL();
  } catch (plat::SystemException& e) {
    EXPECT_EQ(ENOENT, e.getErr());
    EXPECT_THAT(e.str(), ::testing::StartsWith("no-such-program does not exist or is not executable: "));
  }
}

TEST(Program, ElfInterpreter)
{
  ostest::TempDir dir;
  dir.write("script", "#!/bin/sh\necho hi\n", 0755);
  dir.write("text", "hello, this is not a program\n");
  dir.write("class3", std::string("\x7f" "ELF\x03\x01\x01", 7) + std::string(57, '\0'));
  dir.write("truncated", std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(13, '\0'));
  // A 32-bit header whose one program header names the interpreter.
  std::string elf32(52 + 32, '\0');
  memcpy(&elf32[0], "\x7f" "ELF\x01\x01\x01", 7);
  uint32_t phoff = 52, ptype = 3, offset = 84, size = 19;
  uint16_t phnum = 1;
  memcpy(&elf32[28], &phoff, 4);
  memcpy(&elf32[44], &phnum, 2);
  memcpy(&elf32[52], &ptype, 4);
  memcpy(&elf32[56], &offset, 4);
  memcpy(&elf32[68], &size, 4);
  elf32 += std::string("/lib/ld-linux.so.2\0", 19);
  dir.write("elf32", elf32);

  struct Case {
    std::string path;
    std::string expected; // "<null>", an interpreter, or "!" and the error text
  } cases[] = {
      {dir / "script", "!Not an ELF file"},
      {dir / "text", "!Not an ELF file"},
      {dir / "class3", "!Unknown ELF class"},
      {dir / "elf32", "/lib/ld-linux.so.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      plat::String interp = os::readElfInterpreter(c.path.c_str());
      EXPECT_EQ(c.expected, interp.isNull() ? "<null>" : interp.get());
    } catch (plat::Exception& e) {
      EXPECT_EQ(c.expected, std::string("!") + e.str());
    }
  }
  EXPECT_THROW(os::readElfInterpreter((dir / "truncated").c_str()), plat::Exception);
  EXPECT_THROW(os::readElfInterpreter((dir / "missing").c_str()), plat::Exception);

  // Real programs, dynamic and static, against readelf.
  for (std::string program : {std::string("/bin/sh"), std::string("/usr/bin/env"),
                              std::string("/sbin/ldconfig"), resolved("/proc/self/exe")}) {
    SCOPED_TRACE(program);
    std::string expected = ostest::run(
        "readelf -lW " + program + " | sed -n 's/.*Requesting program interpreter: \\(.*\\)]/\\1/p'");
    plat::String interp = os::readElfInterpreter(program.c_str());
    EXPECT_EQ(expected, interp.str());
    EXPECT_EQ(expected.empty(), interp.isNull());
  }
}

TEST(Program, SetuidRootExecutable)
{
  ostest::TempDir dir;
  std::string setuid = dir.write("setuid", "", 04755);
  dir.write("plain", "", 0755);
  dir.write("noexec", "", 04644);
  ASSERT_EQ(0, symlink(setuid.c_str(), (dir / "link").c_str()));
  bool root = geteuid() == 0;
  EXPECT_EQ(root, os::isSetuidRootExecutable(setuid.c_str()));
  EXPECT_FALSE(os::isSetuidRootExecutable((dir / "plain").c_str()));
  EXPECT_FALSE(os::isSetuidRootExecutable((dir / "noexec").c_str()));
  EXPECT_FALSE(os::isSetuidRootExecutable((dir / "link").c_str()));
  EXPECT_FALSE(os::isSetuidRootExecutable(nullptr));
}
