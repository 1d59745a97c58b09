#include "os/host.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "os/env.h"
#include "os/shellAssignment.h"
#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/FileInStream.h"
#include "osTestUtil.h"

using ostest::run;

// Exported, so that the stack trace can name it.
__attribute__((noinline)) void distinctiveCallerForBacktrace(std::vector<plat::String>& out)
{
  os::getBacktrace(out);
  asm volatile("" ::: "memory");
}

TEST(Host, ShortHostNameMatchesUname)
{
  std::string full = run("uname -n");
  ASSERT_FALSE(full.empty());
  std::string expected = full.substr(0, full.find('.'));
  EXPECT_EQ(expected, os::getShortHostName().str());
}

TEST(Host, BacktraceStartsAtTheCaller)
{
  std::vector<plat::String> frames;
  distinctiveCallerForBacktrace(frames);
  ASSERT_GE(frames.size(), 2u);
  ASSERT_LE(frames.size(), 61u);
  EXPECT_THAT(frames[0].str(), ::testing::StartsWith(" 1 "));
  EXPECT_THAT(frames[0].str(), ::testing::HasSubstr("distinctiveCallerForBacktrace"));
  for (size_t i = 0; i < frames.size(); i++) {
    char prefix[8];
    snprintf(prefix, sizeof(prefix), "%2d ", int(i + 1));
    EXPECT_THAT(frames[i].str(), ::testing::StartsWith(prefix));
  }
}

TEST(Host, OsVersionIsTheKernelReleaseCutAtTheFirstDash)
{
  std::string release = run("uname -r");
  ASSERT_FALSE(release.empty());
  plat::String version;
  os::getOsVersion(version);
  EXPECT_EQ("Linux " + release.substr(0, release.find('-')), version.str());
  char arch[32];
  os::getArchName(arch);
  if (run("uname -m") == "x86_64") {
    EXPECT_STREQ("amd64", arch);
  }
}

TEST(Host, ShellAssignmentLines)
{
  struct Case {
    const char* line;
    const char* key;
    const char* value; // null: no value
  } cases[] = {
      {"NAME=\"Debian GNU/Linux\"", "NAME", "Debian GNU/Linux"},
      {"NAME='x", "NAME", nullptr},
      {"NAME=x", "NAME", "x"},
      {"no assignment", "no assignment", nullptr},
      {"A='it\\'s'", "A", "it\\'s"},                 // single quotes: verbatim
      {"A=\"a\\\"b\\$c\\\\d\\`e\\'f\\ng\"", "A", "a\"b$c\\d`e'f\\ng"},
      {"A=\"", "A", nullptr},                        // a lone quote
      {"A=''", "A", ""},
      {"A=\"x'", "A", nullptr},                      // quotes must match
      {"A=\"abc\\\"", "A", nullptr},                 // the closing quote is escaped
      {"A=b=c", "A", "b=c"},
      {"A=", "A", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    char line[128];
    snprintf(line, sizeof(line), "%s", c.line);
    const char* value = os::parseShellAssignment(line);
    if (strchr(c.line, '=')) {
      EXPECT_STREQ(c.key, line);
    }
    if (c.value)
      EXPECT_STREQ(c.value, value);
    else
      EXPECT_EQ(nullptr, value);
  }
}

// /etc made in a scratch directory.
class OsFiles : public ::testing::Test {
protected:
  void SetUp() override
  {
    mkdir((dir_ / "etc").c_str(), 0755);
    os::setOsFilesRootForTest(dir_.path().c_str());
  }
  void TearDown() override { os::setOsFilesRootForTest(nullptr); }
  void file(const char* name, const char* text) { dir_.write(std::string("etc/") + name, text); }
  std::string description()
  {
    plat::String out;
    os::getOsDescription(out);
    return out.isNull() ? "<null>" : out.get();
  }

  ostest::TempDir dir_;
};

TEST_F(OsFiles, Description)
{
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, const char*>> files;
    const char* expected;
  } cases[] = {
      {"os-release", {{"os-release", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"}},
       "Debian GNU/Linux 12"},
      {"the last assignment wins",
       {{"os-release", "NAME=A\nVERSION_ID=1\nNAME='B'\n"}}, "B 1"},
      {"NAME without VERSION_ID falls through to lsb-release",
       {{"os-release", "NAME=\"Arch Linux\"\nID=arch\n"},
        {"lsb-release", "DISTRIB_ID=Ubuntu\nDISTRIB_RELEASE=22.04\n"}},
       "Ubuntu 22.04"},
      {"a CentOS-style release file",
       {{"centos-release", "CentOS Linux release 7.9.2009 (Core)\n"}}, "CentOS Linux 7.9.2009"},
      {"a debian_version file", {{"debian_version", "12.1\n"}}, "Debian 12.1"},
      {"an entry starting with release is ignored",
       {{"release-centos", "CentOS Linux release 7.9.2009 (Core)\n"}}, "<null>"},
      {"an unknown distribution is ignored", {{"foo-release", "Foo release 1\n"}}, "<null>"},
      {"a name stopped by a parenthesis", {{"redhat-release", "Red Hat (Enterprise)\n"}},
       "Red Hat"},
      {"a version file starting with a blank", {{"debian_version", " 12.1\n"}}, "<null>"},
      {"nothing", {}, "<null>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ostest::TempDir root;
    mkdir((root / "etc").c_str(), 0755);
    for (auto& f : c.files)
      root.write(std::string("etc/") + f.first, f.second);
    os::setOsFilesRootForTest(root.path().c_str());
    EXPECT_EQ(c.expected, description());
  }
}

// The release files' reader against the stream reader's lines: line ends,
// a last line without one, lines across the reader's buffer, NUL bytes and
// a line beyond the stream's limit (which fails the file).
TEST_F(OsFiles, ReleaseKeysReadAsStreamLines)
{
  auto peer = [](const std::string& path) {
    std::string name = "-", version = "-";
    try {
      rdr::FileInStream in(path.c_str());
      plat::DString line;
      for (;;) {
        const char* value = os::parseShellAssignment(in, line);
        if (value && strcmp(line.get(), "N") == 0)
          name = value;
        else if (value && strcmp(line.get(), "V") == 0)
          version = value;
      }
    } catch (rdr::EndOfStream&) {
      return name == "-" || version == "-" ? std::string("<none>") : name + " " + version;
    } catch (plat::Exception&) {
    }
    return std::string("<none>");
  };
  const std::string pieces[] = {"N=a\n", "V='1 2'\r\n", "\r", "N=\"b\\\"c\"", "V=3", "\n", "X", "=",
                                std::string(4090, 'x'), "\n\n", std::string("N=\0z\n", 5)};
  std::string longLine(rdr::InStream::kDefaultMaxLine + 1, 'y');
  srand(7);
  for (int i = 0; i < 300; i++) {
    std::string text;
    for (int n = rand() % 12; n > 0; n--)
      text += pieces[rand() % (sizeof(pieces) / sizeof(pieces[0]))];
    if (i % 50 == 1)
      text += "N=n\nV=v\n" + longLine;
    std::string path = dir_ / "etc/release";
    FILE* f = fopen(path.c_str(), "we");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    plat::String out;
    bool ok = os::readReleaseKeys(out, path.c_str(), "N", "V");
    EXPECT_EQ(peer(path), ok ? out.get() : "<none>") << i;
  }
}

TEST_F(OsFiles, DebianLike)
{
  struct Case {
    const char* osRelease; // null: no file
    bool expected;
  } cases[] = {
      {"ID=ubuntu\nID_LIKE=\"ubuntu Debian\"\n", true},
      {"ID=notdebianish\n", true},
      {"ID=fedora\nID_LIKE=\"rhel centos\"\nNAME=debian\n", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.osRelease ? c.osRelease : "<no file>");
    unlink((dir_ / "etc/os-release").c_str());
    if (c.osRelease)
      file("os-release", c.osRelease);
    EXPECT_EQ(c.expected, os::isDebianLike());
  }
}

TEST(Env, SetUnsetAndBlank)
{
  os::setEnv("OS_TEST_VAR", "value");
  EXPECT_STREQ("value", getenv("OS_TEST_VAR"));
  {
    os::EnvBlanker blank("OS_TEST_VAR");
    EXPECT_STREQ("", getenv("OS_TEST_VAR"));
  }
  EXPECT_STREQ("value", getenv("OS_TEST_VAR"));
  {
    // A variable given a new value meanwhile keeps it.
    os::EnvBlanker blank("OS_TEST_VAR");
    os::setEnv("OS_TEST_VAR", "other");
  }
  EXPECT_STREQ("other", getenv("OS_TEST_VAR"));
  os::unsetEnv("OS_TEST_VAR");
  EXPECT_EQ(nullptr, getenv("OS_TEST_VAR"));
  EXPECT_THROW(os::setEnv("A=B", "x"), plat::SystemException);
  EXPECT_EQ(0, ostest::inChild([] {
              os::clearEnv();
              return getenv("PATH") == nullptr ? 0 : 1;
            }));
}
