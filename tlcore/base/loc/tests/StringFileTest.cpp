#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LocTestUtil.h"
#include "loc/Localize.h"
#include "plat/Resource.h"
#include "rdr/FileInStream.h"
#include "rdr/MemInStream.h"
#include "testutil.h"

using loctest::capture;
using Texts = std::map<std::string, std::string>;

namespace {

struct Registrar {
  Registrar() { loc::Localize::instance()->addString("tskeep", "t_keep", "Built-in"); }
} registrar;

Texts parse(const std::string& data, const char* locale)
{
  rdr::MemInStream in(data.data(), (int)data.size());
  loc::Localize::instance()->parseStrings(in, "t.po", locale);
  return loc::Localize::instance()->getTexts(locale);
}

void writeFile(const std::string& path, const std::string& data)
{
  std::ofstream(path, std::ios::binary) << data;
}

std::string fromHex(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back((char)strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

using tltest::TempDir;

} // namespace

TEST(StringFileTest, EntriesAndErrors)
{
  struct Case {
    std::string data;
    std::vector<std::string> log;
    Texts texts;
  } cases[] = {
      {"msgid \"a\"\nmsgstr \"A\"\n", {}, {{"a", "A"}}},
      // The header entry is never stored.
      {"msgid \"\"\nmsgstr \"Project: x\\n\"\n\nmsgid \"k\"\nmsgstr \"v\"", {}, {{"k", "v"}}},
      {"msgid \"e\"\nmsgstr \"\\t\\n\\a\\b\\f\\r\\v\\\\\\\"\\'\\?\"\n", {}, {{"e", "\t\n\a\b\f\r\v\\\"'?"}}},
      {"msgid \"z\"\nmsgstr \"a\\zb\"\n\nmsgid \"ok\"\nmsgstr \"OK\"\n",
       {"0 t.po:2 Invalid escape code"}, {{"ok", "OK"}}},
      {"msgid \"z\"\nmsgstr \"abc\\\n", {"0 t.po:2 Invalid escape at end"}, {}},
      {"msgid \"z\"\nmsgstr \"abc\n", {"0 t.po:2 Missing terminator"}, {}},
      {"msgid \"z\"\nmsgstr \"abc\" \n", {"0 t.po:2 Junk following string data"}, {}},
      {"msgid \"z\"\nmsgstr x\"abc\"\n", {"0 t.po:2 Junk preceding string data"}, {}},
      {"msgid \"k\"\n\nmsgid \"k2\"\nmsgstr \"v2\"\n", {"0 t.po:2 Expected msgstr"}, {{"k2", "v2"}}},
      {"msgid \"k\"\nmsgid \"k2\"\nmsgstr \"v2\"\n", {"0 t.po:2 Expected msgstr"}, {{"k2", "v2"}}},
      {"msgstr \"x\"\n\"more\"\n\nmsgid \"a\"\nmsgstr \"A\"\n", {"0 t.po:1 Expected msgid"}, {{"a", "A"}}},
      {"foo\n\nmsgid\n\nmsgid \"a\"\nmsgstr \"A\"\nmsgstr \"B\"\n\"B2\"\n\nmsgid \"b\"\nmsgstr \"B\"\n",
       {"0 t.po:1 Bad command or string", "0 t.po:3 Bad command or string",
        "0 t.po:7 Bad command or string"},
       {{"b", "B"}}},
      // Entries need no empty line between them.
      {"msgid \"a\"\nmsgstr \"A\"\nmsgid \"b\"\nmsgstr \"B\"\n\"more\"\n", {},
       {{"a", "A"}, {"b", "Bmore"}}},
      // A broken entry never lends its text to a neighbour.
      {"msgid \"a\"\nmsgstr \"A\"\n\nmsgid \"b\"\n\"bad\\q\"\nmsgstr \"B\"\n\"B2\"\n\nmsgid \"c\"\nmsgstr \"C\"\n",
       {"0 t.po:5 Invalid escape code"}, {{"a", "A"}, {"c", "C"}}},
      {"msgid \"a\"\nmsgstr \"A\"\n\"x\\q\"\nmsgid \"b\"\nmsgstr \"B\"\n",
       {"0 t.po:3 Invalid escape code"}, {{"b", "B"}}},
      {"msgid \"e\"\nmsgstr \"\"\n", {}, {}},
      {"msgid \"u\"\nmsgstr \"\xff\"\n", {"0 t.po:2 Bad UTF-8 (u) for 'LOCALE' locale"},
       {{"u", "\xef\xbf\xbd"}}},
      {"msgid \"c\"\r\nmsgstr \"C\"\r\n", {}, {{"c", "C"}}},
      {"\"junk\"\n\nmsgid \"a\"\nmsgstr \"A\"", {}, {{"a", "A"}}},
      {"msgid \"a\"\n# c\nmsgstr \"A\"\n#x\n\"A2\"\n", {}, {{"a", "AA2"}}},
  };
  int n = 0;
  for (Case& c : cases) {
    std::string locale = "tscase" + std::string(1, (char)('a' + n++));
    for (std::string& l : c.log)
      if (size_t p = l.find("LOCALE"); p != std::string::npos)
        l.replace(p, 6, locale);
    loctest::CaptureScope scope(0);
    EXPECT_EQ(c.texts, parse(c.data, locale.c_str())) << c.data;
    EXPECT_EQ(c.log, capture().take()) << c.data;
  }
}

TEST(StringFileTest, EmptyTextKeepsBuiltIn)
{
  Texts texts = parse("msgid \"t_keep\"\nmsgstr \"\"\n\nmsgid \"t_other\"\nmsgstr \"\"\n", "tskeep");
  EXPECT_EQ(Texts({{"t_keep", "Built-in"}}), texts);
}

TEST(StringFileTest, DirectoryFiles)
{
  TempDir dir;
  const char* entry = "msgid \"t_f\"\nmsgstr \"F\"\n";
  for (const char* name : {"tsfile", "ts-f", "tsa1", "ts_ok"})
    writeFile(dir.path() + "/strings." + name + ".po", entry);
  writeFile(dir.path() + "/strings.tslong.po",
            std::string(entry) + "\nmsgid \"t_g\"\nmsgstr \"" + std::string(300000, 'x') + "\"\n");
  struct Case {
    const char* locale;
    bool loaded;
    const char* log;
  } cases[] = {
      {"tsfile", true, "30 Loaded strings from DIR/strings.tsfile.po"},
      {"ts_ok", true, "30 Loaded strings from DIR/strings.ts_ok.po"},
      {"ts-f", false, nullptr},
      {"tsa1", false, nullptr},
      {"../tsfile", false, nullptr},
      {"", false, nullptr},
      {"tsnone", false, nullptr},
      {"tslong", false,
       "0 Error loading strings from DIR/strings.tslong.po: String exceeds maximum length"},
  };
  for (const Case& c : cases) {
    loctest::CaptureScope scope(30);
    EXPECT_EQ(c.loaded, loc::Localize::instance()->loadStringsFile(dir.path().c_str(), c.locale))
        << c.locale;
    std::vector<std::string> want;
    if (c.log) {
      std::string l = c.log;
      l.replace(l.find("DIR"), 3, dir.path());
      want.push_back(l);
    }
    EXPECT_EQ(want, capture().take()) << c.locale;
    Texts texts = loc::Localize::instance()->getTexts(c.locale);
    EXPECT_EQ(c.loaded || !strcmp(c.locale, "tslong") ? 1u : 0u, texts.size()) << c.locale;
  }
}

TEST(StringFileTest, DirectoryFileOverridesBuiltInResource)
{
  static const char resource[] = "msgid \"t_r1\"\nmsgstr \"res1\"\n\nmsgid \"t_r2\"\nmsgstr \"res2\"\n";
  plat::addBuiltInResource("strings.tsres.po", sizeof(resource) - 1, resource);
  TempDir dir;
  writeFile(dir.path() + "/strings.tsres.po", "msgid \"t_r2\"\nmsgstr \"dir2\"\n");

  loctest::setLocale("en");
  loctest::CaptureScope scope(30);
  loc::Localize::instance()->setStringsDirs({plat::String(dir.path().c_str())});
  loc::LocaleSetter setter("tsres");
  EXPECT_STREQ("res1", loc::translate("t_r1", nullptr, 0, false));
  EXPECT_STREQ("dir2", loc::translate("t_r2", nullptr, 0, false));
  EXPECT_THAT(capture().take(),
              ::testing::IsSupersetOf(std::vector<std::string>{
                  "30 Loaded strings from built-in resource strings.tsres.po",
                  "30 Loaded strings from " + dir.path() + "/strings.tsres.po"}));
}

// Well-formed files give the same key-to-text map as GNU msgfmt and the
// gettext module read from them.
TEST(StringFileTest, SameTextsAsGettext)
{
  TempDir dir;
  const int count = 200;
  int status = 0;
  loctest::run("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/loc_po_peer.py " + dir.path() + " " +
                   std::to_string(count) + " 1",
               &status);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "msgfmt is not installed";
  ASSERT_EQ(0, status);

  loctest::CaptureScope scope(0);
  for (int i = 0; i < count; i++) {
    std::string base = dir.path() + "/case" + std::to_string(i);
    Texts want;
    std::ifstream map(base + ".map");
    std::string k, v;
    while (map >> k >> v)
      want[fromHex(k)] = fromHex(v);
    std::string locale = "tspeer";
    for (int j = i; j; j /= 26)
      locale.push_back((char)('a' + j % 26));
    rdr::FileInStream in((base + ".po").c_str());
    loc::Localize::instance()->parseStrings(in, "peer", locale.c_str());
    EXPECT_EQ(want, loc::Localize::instance()->getTexts(locale.c_str())) << base << ".po";
  }
  EXPECT_EQ(std::vector<std::string>(), capture().take());
}
