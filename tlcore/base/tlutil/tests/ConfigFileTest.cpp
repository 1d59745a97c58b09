#include "tlutil/ConfigFile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "osTestUtil.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "tlutil/ConfigStore.h"

using namespace plat;

namespace {

std::string slurp(const std::string& path)
{
  FilePtr f(path.c_str(), FilePtr::kRead);
  if (fileStreamSize(f) == 0)
    return "";
  MBuf<unsigned char> all = f.readAll(1 << 24);
  return std::string((const char*)all.data(), all.length());
}

std::string dump(const CaseInsensitiveStringMap& m)
{
  std::string s;
  for (const auto& e : m)
    s += std::string("[") + e.first.str() +
         (e.second.isNull() ? "]" : "]=[" + std::string(e.second.get()) + "]");
  return s;
}

TEST(ConfigFileTest, LinesAreTrimmedUnescapedAndSplit)
{
  struct Case {
    const char* line;
    const char* name;
    const char* value; // null: a bare name
  } cases[] = {
      {" \t name=a\\nb \t", "name", "a\nb"},
      {"Name = x", "Name ", " x"},
      {"Flag", "Flag", nullptr},
      {"  Flag  ", "Flag", nullptr},
      {"empty=", "empty", ""},
      {"x=a\\tb\\\\c", "x", "a\\tb\\c"}, // unknown escapes stay
      {"x=a\\", "x", "a\\"},             // a final backslash stays
      {"x=a\\r\\n  ", "x", "a\r\n"},     // escapes are never trimmed
      {"x=v\r", "x", "v"},               // CRLF line ends
      {"a=b=c", "a", "b=c"},
      {"\n", "", nullptr},
  };
  for (const Case& c : cases) {
    rdr::MemInStream in(c.line, (int)strlen(c.line));
    DString line;
    const char* value = readConfigLine(in, line);
    EXPECT_STREQ(line.get(), c.name) << c.line;
    if (c.value)
      EXPECT_STREQ(value, c.value) << c.line;
    else
      EXPECT_EQ(value, nullptr) << c.line;
  }
}

TEST(ConfigFileTest, ApplyingSetsKnownNamesOnly)
{
  Configuration cfg("T");
  StringParameter* name = cfg.addString("Name", "d", "default");
  BoolParameter* flag = cfg.addBool("Flag", "d", false);
  IntParameter* count = cfg.addInt("Count", "d", 1, plat::ParamLevel::kBasic, 0, 10);
  const char text[] = "Name = x\nFlag\nCount=99\nUnknown=1\n";
  rdr::MemInStream in(text, sizeof(text) - 1);
  applyConfigLines(in, cfg, kPriorityPreference);
  EXPECT_STREQ(name->getValue(), "default"); // "Name " is another name
  EXPECT_TRUE(flag->getValue());
  EXPECT_EQ(flag->getPriority(), kPriorityPreference);
  EXPECT_EQ(count->getValue(), 1); // out of range: ignored
}

TEST(ConfigFileTest, LineWithNulIsAnErrorAndNotApplied)
{
  Configuration cfg("T");
  BoolParameter* n = cfg.addBool("n", "d", false);
  StringParameter* a = cfg.addString("a", "d", "");
  const char text[] = "a=1\nn\0x=1\na=2\n";
  rdr::MemInStream in(text, sizeof(text) - 1);
  try {
    applyConfigLines(in, cfg, kPriorityPreference);
    ADD_FAILURE();
  } catch (Exception& e) {
    EXPECT_STREQ(e.str(), "Configuration line 2 holds a NUL byte");
  }
  EXPECT_FALSE(n->getValue());
  EXPECT_STREQ(a->getValue(), "1");

  rdr::MemInStream again(text, sizeof(text) - 1);
  CaseInsensitiveStringMap map;
  EXPECT_THROW(readConfigLines(again, map, nullptr), Exception);
  EXPECT_EQ(map.count(String("n")), 0u);
}

TEST(ConfigFileTest, RewriteKeepsOddLinesAsOneEntryEach)
{
  ostest::TempDir dir;
  std::string path = dir.write("f", "# comment\n\nb=2\n\nB=3\na=1\n# see C:\\new\n");
  CaseInsensitiveStringMap map;
  readConfigFileToMap(path.c_str(), map, nullptr);
  writeConfigFile(path.c_str(), map, 0);
  // The comment with an escape in it stays one line.
  EXPECT_EQ(slurp(path), "\n# comment\n# see C:\\new\na=1\nb=3\n");
}

TEST(ConfigFileTest, WriterRefusesEntriesTheReaderWouldChange)
{
  struct Case {
    const char* name;
    std::string value;
    bool nullValue;
    const char* error;
  } cases[] = {
      {"Password", "secret ", false,
       "The value of Password ends with a blank, which reading drops"},
      {"Password", "secret\t", false,
       "The value of Password ends with a blank, which reading drops"},
      {" Name", "x", false,
       "The configuration name \" Name\" begins with a blank, which reading drops"},
      {"Flag ", "", true,
       "The configuration name \"Flag \" ends with a blank, which reading drops"},
      {"a=b", "x", false, "The configuration name \"a=b\" contains \"=\""},
      {"Bad", "\xff", false, "The value of Bad is not valid UTF-8"},
      {"Big", std::string(kMaxConfigLine - 3, 'x'), false,
       "The configuration line of Big is longer than 262144 bytes"},
  };
  for (const Case& c : cases) {
    rdr::MemOutStream out;
    try {
      writeConfigLine(out, c.name, c.nullValue ? nullptr : c.value.c_str());
      ADD_FAILURE() << c.error;
    } catch (Exception& e) {
      EXPECT_STREQ(e.str(), c.error);
    }
    EXPECT_EQ(out.length(), 0);
  }
  // The longest line the reader takes is written and read back.
  std::string longest(kMaxConfigLine / 2 - 2, '\\'); // each written as two bytes
  rdr::MemOutStream out;
  writeConfigLine(out, "Big", longest.c_str());
  EXPECT_EQ(out.length(), kMaxConfigLine + 1);
  rdr::MemInStream in(out.data(), (int)out.length());
  DString line;
  EXPECT_EQ(readConfigLine(in, line), longest);
}

// Random entries through the writer and back through the reader: whatever
// the writer accepts comes back exactly, and it accepts most entries.
TEST(ConfigFileTest, WhatIsWrittenReadsBackUnchanged)
{
  const char* pieces[] = {"a", "Z",  "0",  " ", "\t",       "\\",  "r",   "n",
                          "=", "\r", "\n", "#", "\xc3\xa9", "\\n", "\\\\"};
  std::mt19937 rng(20240607);
  auto text = [&](int maxLen) {
    std::string s;
    int n = (int)(rng() % (maxLen + 1));
    for (int i = 0; i < n; i++)
      s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
    return s;
  };
  int accepted = 0;
  for (int round = 0; round < 200; round++) {
    CaseInsensitiveStringMap written;
    for (int i = 0; i < 8; i++) {
      std::string name = text(6);
      bool bare = rng() % 5 == 0;
      std::string value = text(12);
      const char* v = bare ? nullptr : value.c_str();
      try {
        checkConfigEntry(name.c_str(), v);
      } catch (Exception&) {
        continue;
      }
      if (written.count(String(name.c_str())))
        continue;
      written[String(name.c_str())] = String(v);
      accepted++;
    }
    rdr::MemOutStream out;
    writeConfigLines(out, written);
    rdr::MemInStream in(out.data(), (int)out.length());
    CaseInsensitiveStringMap read;
    readConfigLines(in, read, nullptr);
    ASSERT_EQ(dump(read), dump(written)) << "round " << round;
  }
  EXPECT_GT(accepted, 200 * 8 / 2);
}

TEST(ConfigFileTest, UpdateAndRemoveRewriteTheFile)
{
  ostest::TempDir dir;
  std::string path = dir / "user";
  updateConfigFile(path.c_str(), "Name", "a b", 0);
  EXPECT_EQ(slurp(path), "Name=a b\n");
  updateConfigFile(path.c_str(), "Flag", nullptr, 0);
  updateConfigFile(path.c_str(), "NAME", "c\nd", 0);
  EXPECT_EQ(slurp(path), "Flag\nName=c\\nd\n");
  removeConfigValue(path.c_str(), "name", 0);
  EXPECT_EQ(slurp(path), "Flag\n");

  std::string missing = dir / "none";
  removeConfigValue(missing.c_str(), "Name", 0);
  EXPECT_FALSE(fileExists(missing.c_str()));
}

TEST(ConfigFileTest, SaveChangesWritesOnlyWhenSomethingChanged)
{
  ostest::TempDir dir;
  std::string path = dir.write("user", "Name=x\nOldName=kept\n");
  Configuration cfg("T"), ref("T");
  StringParameter* name = cfg.addString("Name", "d", "");
  cfg.addString("Other", "d", "");
  ref.addString("Name", "d", "");
  ref.addString("Other", "d", "");
  ParameterAlias alias("Other");
  cfg.addAliasHandler("OldName", &alias);
  name->setParam("x", kPriorityPreference);

  struct stat before, after;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  saveConfigChanges(cfg, path.c_str(), ref, 0); // differs, but the file holds it
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(slurp(path), "Name=x\nOldName=kept\n");

  name->setParam("z", kPriorityPreference);
  saveConfigChanges(cfg, path.c_str(), ref, 0);
  // The alias became its target on the way.
  EXPECT_EQ(slurp(path), "Name=z\nOther=kept\n");
}

// The server's authentication scheme and its password are written as one
// change: a failure leaves both as they were.
TEST(ConfigFileTest, FailedWriteLeavesTheFileAsItWas)
{
  ostest::TempDir dir;
  const std::string original = "AuthScheme=old\nPassword=old\n";
  std::string path = dir.write("server", original);

  CaseInsensitiveStringMap refused;
  refused[String("AuthScheme")] = String("new");
  refused[String("Password")] = String("secret ");
  EXPECT_THROW(tlutil::writeConfigValues(path.c_str(), refused), Exception);
  EXPECT_EQ(slurp(path), original);

  // A commit that fails for want of space (a file size limit, which binds
  // root too): the first value alone would have fitted.
  int status = ostest::inChild([&]() {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    CaseInsensitiveStringMap values;
    values[String("AuthScheme")] = String("new");
    values[String("Password")] = String(std::string(4096, 'p').c_str());
    try {
      tlutil::writeConfigValues(path.c_str(), values);
    } catch (Exception&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp(path), original);
  EXPECT_EQ(ostest::run("ls -A " + dir.path()), "server"); // no temporary left
}

} // namespace
