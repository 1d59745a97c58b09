#include "plat/Path.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "testutil.h"

using namespace plat;

namespace {

// Runs the reference script on one case per line and returns its answers.
std::vector<std::string> reference(const char* mode, const std::vector<std::string>& cases)
{
  tltest::TempFile in(tltest::joinLines(cases), "path_test");
  std::string command = std::string("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/path_reference.py ") +
                        mode + " " + in.path();
  std::vector<std::string> out = tltest::commandLines(command);
  EXPECT_EQ(out.size(), cases.size()) << command;
  return out;
}

std::string str(const String& s)
{
  return s.isNull() ? "(null)" : s.get();
}

} // namespace

TEST(PathTest, NormaliseDirAndBaseMatchPython)
{
  static const char* const kComponents[] = {"", ".", "..", "a", "bb", "...", ".x", "..y"};
  std::mt19937 rng(110);
  std::vector<std::string> cases = {"", "/", "//", "///", "//a", "/..", "..", "."};
  for (int i = 0; i < 3000; i++) {
    std::string p = rng() % 3 == 0 ? "/" : "";
    for (int n = rng() % 7; n > 0; n--)
      p += std::string(kComponents[rng() % 8]) + (rng() % 4 == 0 ? "//" : "/");
    if (rng() % 2 && !p.empty())
      p.pop_back();
    cases.push_back(p);
  }
  std::vector<std::string> expected = reference("paths", cases);
  for (size_t i = 0; i < expected.size(); i++) {
    const char* p = cases[i].c_str();
    std::string got = str(normalisePath(p)) + "\t" + str(dirName(p)) + "\t" + str(baseName(p));
    EXPECT_EQ(got, expected[i]) << "path '" << p << "'";
  }
}

TEST(PathTest, Tables)
{
  struct {
    const char* path;
    const char* normalised;
    const char* dir;
  } paths[] = {
      {"/a//b/", "/a/b", "/a"}, {"./a", "a", "."},       {"a/..", ".", ".."},
      {"a/../..", "..", "../.."}, {"/../a", "/a", "/"},  {"a/b/../../../c", "../c", ".."},
      {"", ".", ".."},          {"//", "/", "/"},        {"a/./b/", "a/b", "a"},
      {nullptr, ".", ".."},     {"/a", "/a", "/"},       {"a/b/..", "a", "."},
  };
  for (const auto& t : paths) {
    EXPECT_EQ(str(normalisePath(t.path)), t.normalised) << t.path;
    EXPECT_EQ(str(dirName(t.path)), t.dir) << t.path;
  }

  struct {
    const char* path;
    const char* suffix;
    const char* base;
  } bases[] = {
      {"/", ".txt", "/"},          {"a/..", nullptr, "."},      {"../..", nullptr, "."},
      {".txt", ".txt", ".txt"},    {"d/a.TXT", ".txt", "a"},    {"d/a.txt/", ".txt", "a"},
      {"a.txt", ".doc", "a.txt"},  {"/x/y", nullptr, "y"},      {"/x/y", "", "y"},
  };
  for (const auto& t : bases)
    EXPECT_EQ(str(baseName(t.path, t.suffix)), t.base) << t.path << " " << t.suffix;

  EXPECT_TRUE(isAbsolutePath("/a"));
  EXPECT_FALSE(isAbsolutePath("a/"));
  EXPECT_FALSE(isAbsolutePath(nullptr));
  EXPECT_FALSE(isNotRootDir("/"));
  for (const char* notRoot : {"//", "", "/a", "."})
    EXPECT_TRUE(isNotRootDir(notRoot)) << notRoot;
  EXPECT_STREQ(skipSlashes("//a/"), "a/");
}

TEST(PathTest, SanitiseAndReservedNames)
{
  EXPECT_EQ(str(sanitiseFileName("a/b\x01\x1f\x7f c\xc3\xa9", '-')), "a-b--- c\xc3\xa9");
  EXPECT_TRUE(sanitiseFileName(nullptr, '-').isNull());

  struct {
    const char* name;
    int length;
  } names[] = {
      {"com1.txt", 4}, {"COM1", 4}, {"COM12", 0}, {"con", 3},   {"Con.a.b", 3}, {"console", 0},
      {"LPT9", 4},     {"lpt0", 0}, {"nul.", 3},  {"aux_", 0},  {"PRN", 3},     {"", 0},
      {nullptr, 0},    {"COM", 0},  {"xCON", 0},
  };
  for (const auto& t : names)
    EXPECT_EQ(isReservedDeviceName(t.name), t.length) << (t.name ? t.name : "(null)");
}

TEST(PathTest, ExpandEnvVars)
{
  setenv("TL_PATH_TEST", "env", 1);
  unsetenv("TL_PATH_MISSING");
  const char* home = getenv("HOME");
  EnvVarMap vars;
  vars[String("A")] = String("x");
  vars[String("TL_PATH_TEST")] = String("map");
  vars[String("$")] = String("dollar");

  struct {
    const char* text;
    bool useVars;
    bool useEnvironment;
    const char* expanded;
  } cases[] = {
      {"plain text", true, true, "plain text"},
      {"a$ b", true, true, "a b"},
      {"$", true, true, ""},
      {"$$HOME", true, true, "$HOME"},
      {"${}", true, true, "$"},
      {"${$}", true, false, "dollar"},
      {"<$A>$A_<${A}_>", true, false, "<x><x_>"},
      {"$TL_PATH_TEST/$TL_PATH_TEST", true, true, "map/map"},
      {"$TL_PATH_TEST", false, true, "env"},
      {"$TL_PATH_TEST", false, false, ""},
      {"[$TL_PATH_MISSING]", true, true, "[]"},
      {"$-x$", true, true, "-x"},
      {"${A", true, false, "x"},
  };
  for (const auto& t : cases)
    EXPECT_STREQ(expandEnvVars(t.text, t.useVars ? &vars : nullptr,
                               t.useEnvironment ? EnvExpand::kUseEnvironment : EnvExpand::kNone)
                     .get(),
                 t.expanded)
        << t.text;
  if (home) {
    EXPECT_STREQ(
        expandEnvVars("${HOME", nullptr, EnvExpand::kStrict | EnvExpand::kUseEnvironment).get(),
        home);
  }

  // Strict: a name found nowhere throws, the environment only counts when asked.
  EXPECT_STREQ(expandEnvVars("$A$TL_PATH_TEST", &vars, EnvExpand::kStrict).get(), "xmap");
  for (const char* bad : {"$TL_PATH_MISSING", "${HOME}"}) {
    try {
      expandEnvVars(bad, &vars,
                    EnvExpand::kStrict | (strcmp(bad, "${HOME}") != 0 ? EnvExpand::kUseEnvironment
                                                                      : EnvExpand::kNone));
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      std::string name = bad[1] == '{' ? "HOME" : "TL_PATH_MISSING";
      EXPECT_EQ(std::string(e.str()), "unknown environment variable: " + name);
    }
  }
}

TEST(PathTest, GlobMatchesPythonFnmatch)
{
  std::mt19937 rng(1106);
  static const char kPatternChars[] = "ab*?[A";
  static const char kTextChars[] = "abAB?[";
  std::vector<std::string> cases;
  for (int i = 0; i < 4000; i++) {
    std::string pattern, text;
    for (int n = rng() % 8; n > 0; n--)
      pattern += kPatternChars[rng() % 6];
    for (int n = rng() % 10; n > 0; n--)
      text += kTextChars[rng() % 6];
    cases.push_back(std::string(rng() % 2 ? "1" : "0") + "\t" + pattern + "\t" + text);
  }
  std::vector<std::string> expected = reference("glob", cases);
  for (size_t i = 0; i < expected.size(); i++) {
    std::string pattern = cases[i].substr(2, cases[i].find('\t', 2) - 2);
    std::string text = cases[i].substr(3 + pattern.size());
    bool got = globMatch(pattern.c_str(), text.c_str(), cases[i][0] == '1');
    EXPECT_EQ(got ? "1" : "0", expected[i]) << cases[i];
  }
}

TEST(PathTest, GlobTable)
{
  struct {
    const char* pattern;
    const char* text;
    bool caseSensitive;
    bool match;
  } cases[] = {
      {"a*c", "abbc", true, true},  {"A*", "abc", true, false}, {"A*", "abc", false, true},
      {"", "", true, true},         {"", "a", true, false},     {"*", "", true, true},
      {"a", "", true, false},       {"**", "x", true, true},    {"a*b*a", "ab", true, false},
      {"a*b*a", "aba", true, true}, {"?", "x", true, false},   {"log.*", "log.Net", true, true},
      {nullptr, "", true, true},    {"*x*", nullptr, true, false},
  };
  for (const auto& t : cases)
    EXPECT_EQ(globMatch(t.pattern, t.text, t.caseSensitive), t.match)
        << (t.pattern ? t.pattern : "(null)") << " " << (t.text ? t.text : "(null)");
}

// Backtracking matchers take time exponential (recursion) or quadratic
// (last-star restart) in these; ours is linear and answers at once.
TEST(PathTest, GlobPathologicalPatternsAreLinear)
{
  std::string text(1 << 20, 'a');
  std::string manyStars;
  for (int i = 0; i < 2000; i++)
    manyStars += "*a";
  EXPECT_FALSE(globMatch((manyStars + "*b").c_str(), text.c_str(), true));
  EXPECT_TRUE(globMatch((manyStars + "*").c_str(), text.c_str(), false));
  std::string longSegment = "*" + std::string(4000, 'a') + "b*";
  EXPECT_FALSE(globMatch(longSegment.c_str(), text.c_str(), false));
  text[text.size() / 2] = 'b';
  EXPECT_TRUE(globMatch(longSegment.c_str(), text.c_str(), true));
}

TEST(PathTest, MakeAbsolutePathResolvesLinksAfterLexicalSteps)
{
  char cwd[PATH_MAX];
  ASSERT_TRUE(getcwd(cwd, sizeof(cwd)));
  char dir[] = "/tmp/path_abs_XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string real = std::string(dir) + "/real";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink("real", (std::string(dir) + "/link").c_str()), 0);
  ASSERT_EQ(chdir(dir), 0);

  EXPECT_EQ(str(makeAbsolutePath("link")), real);
  // "link/.." is folded before the link is looked at.
  EXPECT_EQ(str(makeAbsolutePath("./link/../real/")), real);
  EXPECT_EQ(str(makeAbsolutePath((std::string(dir) + "//x/../link").c_str())), real);
  String out;
  makeAbsolutePath(out, "");
  EXPECT_EQ(str(out), dir);
  try {
    makeAbsolutePath("missing");
    ADD_FAILURE();
  } catch (const SystemException& e) {
    EXPECT_EQ(e.getErr(), ENOENT);
    EXPECT_EQ(strncmp(e.str(), "realpath(missing)", 17), 0) << e.str();
  }
  // A working directory ending in '/' gets no second one.
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_EQ(str(makeAbsolutePath("tmp")), "/tmp");

  ASSERT_EQ(chdir(cwd), 0);
  unlink((std::string(dir) + "/link").c_str());
  rmdir(real.c_str());
  rmdir(dir);
}

TEST(PathTest, StrErrorMatchesStrerror)
{
  char buf[256];
  char expected[256];
  // Numbers the system does not know (some gaps below 134 too) give false
  // and an empty text, where the GNU form makes up "Unknown error %d".
  for (int err = 1; err < 134; err++) {
    const char* text = strerror_r(err, expected, sizeof(expected));
    bool known = strncmp(text, "Unknown error", 13) != 0;
    EXPECT_EQ(strError(err, buf, sizeof(buf)), known) << err;
    EXPECT_STREQ(buf, known ? text : "") << err;
  }
  // So does a buffer too short for the whole text.
  struct {
    int err;
    int size;
  } failures[] = {{99999, 256}, {-1, 256}, {ENOENT, 4}, {ENOENT, 1}};
  for (const auto& t : failures) {
    memset(buf, 'x', sizeof(buf));
    EXPECT_FALSE(strError(t.err, buf, t.size)) << t.err;
    EXPECT_STREQ(buf, "") << t.err;
  }
  EXPECT_FALSE(strError(ENOENT, buf, 0));
  EXPECT_FALSE(strError(ENOENT, nullptr, 10));
}
