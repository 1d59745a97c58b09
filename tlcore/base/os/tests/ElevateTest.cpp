// The elevation command lines, worked out as the unprivileged test user
// with fake programs on a temporary PATH and the distribution files in a
// private /etc (a mount namespace); the su quoting against a real
// "/bin/sh -c"; an elevated launch through a fake terminal and sudo.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "childio.h"
#include "loc/Localize.h"
#include "os/LaunchProcess.h"
#include "os/elevate.h"
#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "testutil.h"

namespace {

using Words = std::vector<std::string>;

// Fakes record nothing here: only their presence on PATH counts. The
// terminals run the words after their "-e", "-x" or "--"; sudo and pkexec
// run their arguments, su its "-c" text.
const char kTerminal[] =
    "#!/bin/sh\nwhile [ $# -gt 0 ]; do case \"$1\" in -e|-x|--) shift; exec \"$@\";; esac; "
    "shift; done\nexit 1\n";
const char kRunArgs[] = "#!/bin/sh\nexec \"$@\"\n";
const char kSu[] = "#!/bin/sh\nexec /bin/sh -c \"$4\"\n";

class Fakes {
public:
  explicit Fakes(const Words& names)
  {
    for (const std::string& n : names) {
      bool terminal = n != "su" && n != "sudo" && n != "pkexec";
      dir_.write(n, terminal ? kTerminal : n == "su" ? kSu : kRunArgs, 0755);
    }
    chmod(dir_.path().c_str(), 0755); // for the test user
  }
  std::string path(const std::string& name) const { return dir_ / name; }
  const std::string& dir() const { return dir_.path(); }

private:
  tltest::TempDir dir_;
};

// The fakes as the system's program folder, the bus address and the locale
// for one call, restored afterwards.
class Scope {
public:
  Scope(const Fakes& fakes, bool bus, const char* locale)
  {
    os::setElevateProgramDirsForTest({plat::String(fakes.dir().c_str())});
    if (const char* b = getenv("DBUS_SESSION_BUS_ADDRESS"))
      oldBus_ = b;
    if (bus)
      setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    else
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    static bool init = [] {
      loc::Localize::instance()->init({});
      return true;
    }();
    (void)init;
    plat::Configuration::global().set("Locale", locale, plat::kPriorityPreference);
  }
  ~Scope()
  {
    os::setElevateProgramDirsForTest({});
    if (oldBus_.empty())
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
      setenv("DBUS_SESSION_BUS_ADDRESS", oldBus_.c_str(), 1);
    plat::Configuration::global().set("Locale", "en", plat::kPriorityPreference);
    os::ElevateCmd.setParam("", plat::kPriorityPreference);
    os::ElevateCmdSingleArg.setParam(false, plat::kPriorityPreference);
  }

private:
  std::string oldBus_;
};

const Words kProgram = {"/opt/s/setup", "-helper", "x y"};

// The rewritten command line, or the error text.
Words elevate(const char* title, const Words& in = kProgram)
{
  std::vector<plat::String> args;
  for (const std::string& a : in)
    args.emplace_back(a.c_str());
  try {
    os::getElevateProg(args, title);
  } catch (plat::Exception& e) {
    return {std::string("error: ") + e.str()};
  }
  Words out;
  for (const plat::String& a : args)
    out.push_back(a.str());
  return out;
}

std::string join(const Words& w)
{
  std::string s;
  for (const std::string& x : w)
    s += x + "|";
  return s;
}

// Who works out the command lines: the test user when running as root.
tltest::ChildUser unprivileged()
{
  return geteuid() == 0 ? tltest::ChildUser::kTestUser : tltest::ChildUser::kSame;
}

// elevate(title) joined, worked out by the unprivileged user in a child
// with the fakes as the system's programs; configure sets the parameters
// there.
std::string elevateUnprivileged(const Fakes& fakes, bool bus, const char* locale,
                                const char* title, const std::function<void()>& configure = {})
{
  return tltest::childReport(
      [&]() -> std::string {
        if (geteuid() == 0)
          return "ran as root";
        Scope scope(fakes, bus, locale);
        if (configure)
          configure();
        return join(elevate(title));
      },
      unprivileged());
}

const char kQuoted[] = "'/opt/s/setup' '-helper' 'x y'";

TEST(Elevate, CommandLines)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  struct Case {
    Words installed;
    bool bus;
    const char* locale;
    const char* title;
    Words expected; // "$" stands for the fakes' directory
  } cases[] = {
      {{"sudo", "su", "xterm"}, false, "en", "Setup",
       {"$/xterm", "-T", "Setup - sudo password required", "-e", "$/sudo", "/opt/s/setup",
        "-helper", "x y"}},
      {{"sudo", "xterm"}, false, "de", "Setup",
       {"$/xterm", "-T", "Setup - Kennwort für sudo erforderlich", "-e", "$/sudo", "/opt/s/setup",
        "-helper", "x y"}},
      {{"pkexec", "sudo", "xterm"}, true, "en", "Setup", {"$/pkexec", "/opt/s/setup", "-helper", "x y"}},
      {{"pkexec", "sudo", "lxterminal"}, false, "en", nullptr,
       {"$/lxterminal", "-t", "sudo", "-e", "$/sudo", "/opt/s/setup", "-helper", "x y"}},
      {{"su", "konsole"}, false, "en", nullptr,
       {"$/konsole", "--title", "su", "--nofork", "-e", "$/su", "-", "root", "-c", kQuoted}},
      {{"sudo", "xfce4-terminal", "gnome-terminal"}, false, "en", nullptr,
       {"$/xfce4-terminal", "-T", "sudo", "-x", "$/sudo", "/opt/s/setup", "-helper", "x y"}},
      {{"sudo", "gnome-terminal"}, false, "en", nullptr,
       {"$/gnome-terminal", "--title", "sudo", "--", "$/sudo", "/opt/s/setup", "-helper", "x y"}},
      {{"xterm"}, false, "en", nullptr, {"error: Elevation not supported: no su or sudo found"}},
      {{"sudo"}, false, "en", nullptr, {"error: Elevation not supported: no terminal found"}},
  };
  for (const Case& c : cases) {
    Fakes fakes(c.installed);
    Words expected;
    for (const std::string& e : c.expected)
      expected.push_back(e[0] == '$' ? fakes.dir() + e.substr(1) : e);
    EXPECT_EQ(join(expected), elevateUnprivileged(fakes, c.bus, c.locale, c.title))
        << join(c.installed);
  }
}

// The test user's own folder first on PATH (as ~/.local/bin is) with its
// own pkexec, su, sudo and xterm: neither the pkexec nor the terminal route
// takes anything from it, nor runs su or sudo by its bare name.
TEST(Elevate, UserPathNeverChosen)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  Fakes own({"pkexec", "su", "sudo", "xterm"});
  std::string got = tltest::childReport(
      [&] {
        setenv("PATH", (own.dir() + ":/usr/bin:/bin").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:", 1);
        loc::Localize::instance()->init({});
        std::string pkexecRoute = join(elevate("Setup"));
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        return "|" + pkexecRoute + join(elevate("Setup"));
      },
      unprivileged());
  EXPECT_EQ(std::string::npos, got.find(own.dir())) << got;
  EXPECT_EQ(std::string::npos, got.find("|sudo|")) << got;
  EXPECT_EQ(std::string::npos, got.find("|su|")) << got;
}

TEST(Elevate, ConfiguredCommand)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  Fakes fakes({"sudo", "xterm"});
  struct Case {
    const char* cmd;
    bool single;
    Words expected;
  } cases[] = {
      {"/usr/bin/xterm -e sudo", false,
       {"/usr/bin/xterm", "-e", "sudo", "/opt/s/setup", "-helper", "x y"}},
      {"\"/opt/my term\" -e", true, {"/opt/my term", "-e", kQuoted}},
      {"xterm -e sudo", false,
       {"error: ElevateCmd must start with an absolute program path: xterm -e sudo"}},
      {"  ", false, {"error: ElevateCmd must start with an absolute program path:   "}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(join(c.expected), elevateUnprivileged(fakes, true, "en", "Setup", [&] {
                os::ElevateCmd.setParam(c.cmd, plat::kPriorityPreference);
                os::ElevateCmdSingleArg.setParam(c.single, plat::kPriorityPreference);
              }))
        << c.cmd;
  }
}

// The distribution files in a private /etc: runs fn in a child with its own
// mount namespace and a tmpfs over /etc that holds only the given files,
// dropped to the test user once they are in place.
std::string withEtc(const std::vector<std::pair<std::string, std::string>>& files,
                    const std::function<std::string()>& fn)
{
  return tltest::childReport([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/etc", "tmpfs", 0, "mode=0755") != 0)
      return "no mount namespace";
    for (const auto& f : files)
      std::ofstream("/etc/" + f.first) << f.second;
    if (!tltest::dropToTestUser())
      return "still root";
    return fn();
  });
}

TEST(Elevate, DistributionFiles)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root for a mount namespace";
  TL_REQUIRE_TEST_USER();
  struct Case {
    std::vector<std::pair<std::string, std::string>> etc;
    Words installed;
    Words expected;
  } cases[] = {
      {{{"redhat-release", "Fedora release 39\n"}},
       {"su", "sudo", "xterm"},
       {"$/xterm", "-T", "su", "-e", "$/su", "-", "root", "-c", kQuoted}},
      {{}, {"su", "sudo", "xterm"}, {"$/xterm", "-T", "sudo", "-e", "$/sudo"}},
      {{{"os-release", "NAME=\"Ubuntu\"\nVERSION_ID=\"22.04\"\n"}},
       {"su", "gnome-terminal"},
       {"$/gnome-terminal", "--title", "su", "--disable-factory", "--", "$/su", "-", "root", "-c",
        kQuoted}},
  };
  for (const Case& c : cases) {
    Fakes fakes(c.installed);
    std::string got = withEtc(c.etc, [&] {
      Scope scope(fakes, false, "en");
      return join(elevate(nullptr));
    });
    Words expected;
    for (const std::string& e : c.expected)
      expected.push_back(e[0] == '$' ? fakes.dir() + e.substr(1) : e);
    std::string want = join(expected);
    if (c.expected.size() == 5) // sudo: the program follows as it is
      want += join(kProgram);
    EXPECT_EQ(want, got);
  }
}

TEST(Elevate, SuQuotingSurvivesTheShell)
{
  const std::vector<std::string> pieces = {"'", "\"", " ", "$", "`", "\\", "\n", "é", "a", "$(x)",
                                           "\t", "*", "''", "\\'", "b c"};
  std::mt19937 rng(23);
  for (int round = 0; round < 60; round++) {
    Words v(1 + rng() % 4);
    for (std::string& a : v)
      for (int n = rng() % 6; n > 0; n--)
        a += pieces[rng() % pieces.size()];
    std::vector<plat::String> args;
    for (const std::string& a : v)
      args.emplace_back(a.c_str());
    std::string out = tltest::commandOutput("printf '%s\\001' " +
                                            std::string(os::shellQuoteArgs(args).str()));
    Words back;
    size_t start = 0;
    for (size_t end; (end = out.find('\001', start)) != std::string::npos; start = end + 1)
      back.push_back(out.substr(start, end - start));
    EXPECT_EQ(v, back);
  }
  std::vector<plat::String> its{plat::String("it's")};
  EXPECT_STREQ("'it'\\''s'", os::shellQuoteArgs(its).str());
}

TEST(Elevate, LaunchThroughTerminalAndSudoAsTestUser)
{
  TL_REQUIRE_TEST_USER();
  Fakes fakes({"sudo", "xterm"});
  tltest::TempDir out;
  chmod(out.path().c_str(), 0777);
  std::string report = out / "report";
  std::string text = tltest::childReport(
      [&]() -> std::string {
        Scope scope(fakes, false, "en");
        os::LaunchProcess::Cfg cfg;
        for (const char* a : {"/bin/sh", "-c", "echo \"$0 $*\" > \"$1\"", "sh"})
          cfg.args.emplace_back(a);
        cfg.args.emplace_back(report.c_str());
        cfg.elevate = true;
        cfg.elevateTitle = plat::String("Setup");
        os::LaunchProcess l(cfg);
        l.start();
        int code = -1;
        l.wait(&code, -1);
        return std::to_string(code);
      },
      tltest::ChildUser::kTestUser);
  EXPECT_EQ("0", text);
  std::ifstream f(report);
  std::stringstream s;
  s << f.rdbuf();
  EXPECT_EQ("sh " + report + "\n", s.str());
}

} // namespace
