// The command line, the help listing and the parameter log of
// plat::Configuration, with the English texts through the localisation
// engine.
#include <limits.h>
#include <stdio.h>
#include <strings.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loc/Localize.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "testutil.h"

using namespace plat;

namespace {

// The texts the command line uses, as the catalogue gives them.
const char* const kTexts[][2] = {
    {"plat_bad_argument", "Bad argument '%S'."},
    {"plat_run_with_help", "Run with -help for usage."},
    {"plat_configuration_global_params", "Global parameters"},
    {"plat_configuration_help_default", "default"},
    {"plat_configuration_log_names_title", "Log names:"},
    {"plat_configuration_log_dests_title", "Log destinations:"},
    {"plat_configuration_param_usage",
     "Parameters can be turned on with -<param> or off with -<param>=0\n"
     "Values can be specified as -<param> <value>\n"
     "Other valid forms are <param>=<value> -<param>=<value> --<param>=<value>\n"
     "Names are case-insensitive.  Valid parameters are listed below."},
};

// The localisation engine installs itself as the source of the texts; the
// catalogue's English texts are registered here.
class CommandLineTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    static bool registered = false;
    if (!registered) {
      for (const auto& t : kTexts)
        loc::Localize::instance()->addString("en", t[0], t[1]);
      loc::Localize::instance()->init({});
      registered = true;
    }
  }
};

// A writable argv over the given words.
struct Argv {
  explicit Argv(std::vector<std::string> words) : words(std::move(words))
  {
    for (std::string& w : this->words)
      ptrs.push_back(&w[0]);
    ptrs.push_back(nullptr);
  }
  char** get() { return ptrs.data(); }
  std::vector<std::string> words;
  std::vector<char*> ptrs;
};

struct UsageRecorder : Configuration::UsageCallback {
  void usage(int m, Configuration&) override { modes.push_back(m); }
  std::vector<int> modes;
};

std::string capture(const std::function<void(FILE*)>& fn)
{
  FILE* f = tmpfile();
  fn(f);
  return tltest::readAndClose(f);
}

TEST_F(CommandLineTest, AcceptedFormsAndWhereParsingStops)
{
  struct Case {
    std::vector<std::string> args;
    size_t stop; // index of the first argument left
    const char *logDir, *compactLog, *keepDays;
  };
  const Case cases[] = {
      {{"-LogDir", "/p"}, 2, "/p", "0", "30"},
      {{"-CompactLog", "0"}, 1, "", "1", "30"},
      {{"CompactLog=0"}, 1, "", "0", "30"},
      {{"-CompactLog=0"}, 1, "", "0", "30"},
      {{"--CompactLog=0"}, 1, "", "0", "30"},
      {{"--LogDir", "/p"}, 0, "", "0", "30"},
      {{"--compactlog", "logkeepdays=7"}, 2, "", "1", "7"},
      {{"-LOGKEEPDAYS", "9", "-logdir=/a=b"}, 3, "/a=b", "0", "9"},
      {{"LogDir"}, 0, "", "0", "30"},
      {{"-LogKeepDays", "x"}, 0, "", "0", "30"},
      {{"-Nope=1", "-CompactLog"}, 0, "", "0", "30"},
      {{"-", "x"}, 0, "", "0", "30"},
  };
  for (const Case& c : cases) {
    Configuration cfg("Test");
    cfg.addString("LogDir", "d", "");
    cfg.addBool("CompactLog", "d", false);
    cfg.addInt("LogKeepDays", "d", 30, ParamLevel::kBasic, 0, INT_MAX);
    Argv argv(c.args);
    char** cursor = argv.get();
    EXPECT_TRUE(cfg.parseArgs(&cursor));
    std::string where = c.args[0];
    EXPECT_EQ(cursor - argv.get(), (long)c.stop) << where;
    EXPECT_STREQ(cfg.get("LogDir").getValueStr().str(), c.logDir) << where;
    EXPECT_STREQ(cfg.get("CompactLog").getValueStr().str(), c.compactLog) << where;
    EXPECT_STREQ(cfg.get("LogKeepDays").getValueStr().str(), c.keepDays) << where;
  }
}

TEST_F(CommandLineTest, LeftoverArgumentIsBadCmdLineArg)
{
  struct Case {
    std::vector<std::string> args;
    bool withUsage;
    const char* message; // null: no exception
  };
  const Case cases[] = {
      {{"-CompactLog", "0"}, false, "Bad argument '0'."},
      {{"-CompactLog", "0"}, true, "Bad argument '0'.  Run with -help for usage."},
      {{"--LogDir", "/p"}, false, "Bad argument '--LogDir'."},
      // A callback that returns leaves the help word to the exception.
      {{"-help"}, true, "Bad argument '-help'.  Run with -help for usage."},
      {{"-CompactLog", "CompactLog=0"}, true, nullptr},
      {{}, true, nullptr},
  };
  for (const Case& c : cases) {
    Configuration cfg("Test");
    cfg.addString("LogDir", "d", "");
    cfg.addBool("CompactLog", "d", false);
    UsageRecorder usage;
    Argv argv(c.args);
    try {
      cfg.parseCmdLine(argv.get(), c.withUsage ? &usage : nullptr);
      EXPECT_EQ(c.message, nullptr);
    } catch (const Exception& e) {
      ASSERT_NE(c.message, nullptr) << e.str();
      EXPECT_STREQ(e.getType(), "BadCmdLineArg");
      EXPECT_STREQ(e.str(), c.message);
    }
  }
}

TEST_F(CommandLineTest, HelpWordsCallUsageWithTheirMode)
{
  struct Case {
    std::vector<std::string> args;
    int mode; // -1: no call
  };
  const Case cases[] = {
      {{"-help"}, 0},          {{"/?"}, 0},
      {{"--HELP", "all"}, 1},  {{"-h", "xml"}, 2},
      {{"-help", "other"}, 0}, {{"-LogDir", "/x", "-Help", "ALL"}, 1},
      {{"help"}, -1},          {{"-?"}, -1},
  };
  for (const Case& c : cases) {
    Configuration cfg("Test");
    cfg.addString("LogDir", "d", "");
    UsageRecorder usage;
    Argv argv(c.args);
    char** cursor = argv.get();
    EXPECT_EQ(cfg.parseArgs(&cursor, &usage), c.mode < 0) << c.args[0];
    EXPECT_EQ(usage.modes, c.mode < 0 ? std::vector<int>{} : std::vector<int>{c.mode}) << c.args[0];

    // Without a callback a help word just stops the parsing.
    cursor = argv.get();
    EXPECT_TRUE(cfg.parseArgs(&cursor, nullptr));
  }
}

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const
  {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

// A store over a map, as a configuration file would be.
struct MapStore : NameValueStore {
  bool get(const char* name, String& value) override
  {
    auto it = values.find(name);
    if (it == values.end())
      return false;
    value = String(it->second.c_str());
    return true;
  }
  void set(const char* name, const char* value) override { values[name] = value; }
  void remove(const char* name) override { values.erase(name); }
  std::map<std::string, std::string, CaseLess> values;
};

TEST_F(CommandLineTest, AliasesReachChildConfigurations)
{
  Configuration root("Root"), child("Child");
  root.addChild(&child);
  StringParameter* dir = child.addString("LogDir", "d", "");
  StringParameter* file = child.addString("LogFile", "d", "");
  ParameterAlias alias("Dir", *dir, &root);
  alias.addTarget("LogFile");

  Argv argv({"-dir=/a"});
  char** cursor = argv.get();
  EXPECT_TRUE(root.parseArgs(&cursor));
  EXPECT_STREQ(dir->getValue(), "/a");
  EXPECT_STREQ(file->getValue(), "/a");
  Argv twoArgs({"-DIR", "/b"});
  root.parseCmdLine(twoArgs.get());
  EXPECT_STREQ(dir->getValue(), "/b");

  // A stored alias becomes its targets, without overriding one it holds.
  MapStore store;
  store.values = {{"dir", "/c"}, {"LogFile", "/keep"}};
  root.migrateAliases(store);
  EXPECT_EQ(store.values,
            (std::map<std::string, std::string, CaseLess>{{"LogDir", "/c"}, {"LogFile", "/keep"}}));
}

TEST_F(CommandLineTest, HelpLayout)
{
  Configuration demo("Demo"), sub("Sub", "plat_configuration_global_params");
  demo.addChild(&sub);
  demo.addString("alpha", "Short one.", "x");
  demo.addString("Edge", "Short one.", "abcdefg"); // 23 + 17 columns reach 40
  demo.addInt("Zeta", "A longer description that has to wrap onto a second line.", 5);
  demo.addInt("_secret", "Hidden.", 1);
  demo.addBool("Adv", "Advanced flag.", true, ParamLevel::kAdvanced);
  const unsigned char key[] = {1, 2};
  demo.addBinary("Key", "Secret bytes.", 2, key);
  sub.addBool("b", "Flag.", false);

  const std::string basic = "Demo Parameters:\n"
                            "  alpha    - Short one. (default=x)\n"
                            "  Edge     - Short one.\n"
                            "             (default=abcdefg)\n"
                            "  Zeta     - A longer description that\n"
                            "             has to wrap onto a second\n"
                            "             line. (default=5)\n"
                            "Global parameters:\n"
                            "  b        - Flag. (default=0)\n";
  const std::string all = "Demo Parameters:\n"
                          "  Adv      - Advanced flag. (default=1)\n"
                          "  alpha    - Short one. (default=x)\n"
                          "  Edge     - Short one.\n"
                          "             (default=abcdefg)\n"
                          "  Key      - Secret bytes.\n"
                          "  Zeta     - A longer description that\n"
                          "             has to wrap onto a second\n"
                          "             line. (default=5)\n"
                          "Global parameters:\n"
                          "  b        - Flag. (default=0)\n";
  EXPECT_EQ(capture([&](FILE* f) {
              Configuration::printHelp(demo, Configuration::kHelpValues, f, 40, 8);
            }),
            basic);
  EXPECT_EQ(capture([&](FILE* f) {
              Configuration::printHelp(
                  demo, Configuration::kHelpAdvanced | Configuration::kHelpValues, f, 40, 8);
            }),
            all);
}

TEST_F(CommandLineTest, UsagePrinterOutput)
{
  Configuration cfg("Prog");
  cfg.addInt("Level", "How much.", 3);
  const std::string usage =
      "Parameters can be turned on with -<param> or off with -<param>=0\n"
      "Values can be specified as -<param> <value>\n"
      "Other valid forms are <param>=<value> -<param>=<value> --<param>=<value>\n"
      "Names are case-insensitive.  Valid parameters are listed below.\n\n";
  const std::string help = "Prog Parameters:\n"
                           "  Level          - How much. (default=3)\n";

  UsagePrinter printer("Prog 1.2.3 (r45)",
                       [](Configuration& c, FILE* out) { fprintf(out, "<%s/>\n", c.getName()); });
  EXPECT_EQ(capture([&](FILE* f) { printer.print(0, cfg, f); }),
            "Prog 1.2.3 (r45)\n\n" + usage + help);
  std::string longHelp = capture([&](FILE* f) { printer.print(1, cfg, f); });
  EXPECT_EQ(longHelp.rfind("Prog 1.2.3 (r45)\n\n" + usage + help + "\nLog names:\n", 0), 0u);
  EXPECT_NE(longHelp.find("Configuration"), std::string::npos);
  EXPECT_NE(longHelp.find("\nLog destinations:\n"), std::string::npos);
  EXPECT_EQ(capture([&](FILE* f) { printer.print(2, cfg, f); }), "<Prog/>\n");

  Argv argv({"-help"});
  EXPECT_EXIT(cfg.parseCmdLine(argv.get(), &printer), ::testing::ExitedWithCode(1), "");
}

// The platform core's display-scale parameters are in "Global" with their
// bounds, and only the advanced help lists them.
TEST_F(CommandLineTest, DisplayScaleParameters)
{
  struct Case {
    const char* arg;
    bool accepted;
    const char* name;
    const char* value;
  } cases[] = {
      {"-ppmm=8", true, "ppmm", "8"},           {"-PPMM=32", true, "ppmm", "32"},
      {"-ppmm=33", false, "ppmm", "4"},         {"-ppmm=0", false, "ppmm", "4"},
      {"-TextSizeFactor=1", true, "TextSizeFactor", "1"},
      {"--textsizefactor=1000", true, "TextSizeFactor", "1000"},
      {"-TextSizeFactor=1001", false, "TextSizeFactor", "100"},
  };
  Configuration& global = Configuration::global();
  for (const Case& c : cases) {
    EXPECT_EQ(c.accepted, global.setFromArg(c.arg, kPriorityPreference)) << c.arg;
    EXPECT_STREQ(c.value, global.get(c.name).getValueStr().str()) << c.arg;
    global.get(c.name).resetValues(false);
  }
  EXPECT_EQ(4, ppmm.getValue());

  auto help = [&](bool advanced) {
    return capture([&](FILE* f) {
      Configuration::printHelp(
          global, (advanced ? Configuration::kHelpAdvanced : 0u) | Configuration::kHelpValues, f,
          79, 14);
    });
  };
  const char* lines[] = {
      "\n  ppmm           - Physical units per mm (default=4)\n",
      "\n  TextSizeFactor - Factor for text size on this system, normal being 100\n"
      "                   (default=100)\n",
  };
  for (const char* line : lines) {
    EXPECT_NE(std::string::npos, help(true).find(line)) << line;
    EXPECT_EQ(std::string::npos, help(false).find(line)) << line;
  }
}

TEST_F(CommandLineTest, ParameterLogIsSortedAndLeavesOutHiddenNames)
{
  static tltest::CaptureDest dest("CmdLineTestCapture", tltest::CaptureDest::kLevelSourceText);
  Configuration cfg("LogCfg"), child("Child");
  cfg.logChanges = child.logChanges = false;
  cfg.addChild(&child);
  cfg.addInt("aDefault", "d", 1);
  cfg.addInt("Bpref", "d", 0)->setParam("2", kPriorityPreference);
  StringParameter* cpol = cfg.addString("cpol", "d", "");
  cpol->setParam("q", kPriorityPreference);
  cpol->setParam("p", kPriorityPolicy);
  cfg.addString("Dpol", "d", "")->setParam("d", kPriorityPolicy);
  cfg.addInt("e20", "d", 0)->setParam("7", 20);
  cfg.addInt("_hid", "d", 0)->setParam("3", kPriorityPreference);
  const unsigned char key[] = {1};
  cfg.addBinary("Bytes", "d", 1, key)->setParam("0102", kPriorityPreference);
  child.addBool("zChild", "d", false);

  dest.lines.clear();
  setLogOverride("Configuration:CmdLineTestCapture:110");
  cfg.logParameters();
  setLogOverride(nullptr);
  EXPECT_EQ(dest.lines, (std::vector<std::string>{
                            "30 Configuration: cpol=p (Policy overriding preference)",
                            "30 Configuration: Dpol=d (Policy)",
                            "30 Configuration: e20=7 (Priority 20)",
                            "30 Configuration: Bpref=2 (Preference)",
                            "30 Configuration: Bytes=<binary> (Preference)",
                            "100 Configuration: aDefault=1 (Default)",
                            "100 Configuration: zChild=0 (Default)",
                        }));
}

TEST_F(CommandLineTest, SecretsAreHiddenInEveryLog)
{
  static tltest::CaptureDest dest("CmdLineSecretCapture", tltest::CaptureDest::kLevelSourceText);
  Configuration cfg("SecretCfg");
  cfg.addString("ProxyPassword", "d", "");
  cfg.addString("Marked", "d", "", ParamLevel::kBasic, "secret");
  cfg.addString("Name", "d", "");
  cfg.addInt("PasswordHashRounds", "d", 1);
  cfg.addInt("Pin", "d", 0, ParamLevel::kBasic, INT_MIN, INT_MAX, "secret");
  const unsigned char none[] = {0};
  cfg.addBinary("ServerKey", "d", 1, none);

  dest.clear();
  setLogOverride("Configuration:CmdLineSecretCapture:110,ConfigParameter:CmdLineSecretCapture:110");
  Argv argv({"-ProxyPassword=s3cret1", "Marked=s3cret2", "-Name", "visible",
             "--PasswordHashRounds=7", "-Pin", "4242", "ServerKey=5eC3e7"});
  cfg.parseCmdLine(argv.get());
  cfg.get("ProxyPassword").unset(kPriorityPreference, false);
  cfg.logParameters();
  setLogOverride(nullptr);
  const std::vector<std::string> expected = {
      "100 ConfigParameter: set ProxyPassword(string) to <hidden>, priority 10",
      "100 ConfigParameter: set Marked(string) to <hidden>, priority 10",
      "100 ConfigParameter: set Name(string) to visible, priority 10",
      "100 ConfigParameter: set PasswordHashRounds(int) to 7, priority 10",
      "100 ConfigParameter: set Pin(int) to <hidden>, priority 10",
      "100 ConfigParameter: set ServerKey(binary) to <binary>, priority 10",
      "100 ConfigParameter: unset ProxyPassword(string) priority 10, now <hidden>, priority 0",
      "30 Configuration: Marked=<hidden> (Preference)",
      "30 Configuration: Name=visible (Preference)",
      "30 Configuration: PasswordHashRounds=7 (Preference)",
      "30 Configuration: Pin=<hidden> (Preference)",
      "30 Configuration: ServerKey=<binary> (Preference)",
      "100 Configuration: ProxyPassword=<hidden> (Default)",
  };
  EXPECT_EQ(dest.lines, expected);

  // Arguments that are not taken show no secret either.
  const std::pair<const char*, const char*> refused[] = {
      {"-Pin=s3cret", "Bad argument '-Pin=<hidden>'."},
      {"--SessionToken=s3cret", "Bad argument '--SessionToken=<hidden>'."},
      {"Name2=shown", "Bad argument 'Name2=shown'."},
  };
  for (const auto& r : refused) {
    Argv bad({r.first});
    try {
      cfg.parseCmdLine(bad.get());
      ADD_FAILURE() << r.first;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.str(), r.second);
    }
  }
}

TEST(SplitCmdLineTest, Examples)
{
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"a \"b c\"", {"a", "b c"}},      {"\"x\\\"y\"", {"x\"y"}},
      {" \t a\t\tb  ", {"a", "b"}},     {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},     {"a\\\\b c\\", {"a\\\\b", "c\\"}},
      {"a\\\\\"b c\"", {"a\\b c"}},     {"a\\\\\\\"b", {"a\\\"b"}},
      {"ab\"c d\"ef", {"abc def"}},     {"\"open end", {"open end"}},
      {"line\nbreak", {"line\nbreak"}}, {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<String> out{String("stale")};
    splitCmdLine(out, c.line);
    std::vector<std::string> got;
    for (const String& s : out)
      got.push_back(s.str());
    EXPECT_EQ(got, c.args) << c.line;
  }
}

// Quoting then splitting gives any argument vector back.
TEST(SplitCmdLineTest, QuotedArgumentsRoundTrip)
{
  const char* const pieces[] = {"a", "Z", " ", "\t", "\"", "\\", "\\\\", "\n", "\xc3\xa9", "="};
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; round++) {
    std::vector<std::string> args(rng() % 6);
    for (std::string& arg : args) {
      for (size_t n = rng() % 7; n > 0; n--)
        arg += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
    }
    DString cmd;
    for (const std::string& arg : args)
      appendQuotedArg(cmd, arg.c_str());
    std::vector<String> out;
    splitCmdLine(out, cmd.get());
    std::vector<std::string> got;
    for (const String& s : out)
      got.push_back(s.str());
    ASSERT_EQ(got, args) << cmd.get();
  }
}

} // namespace
