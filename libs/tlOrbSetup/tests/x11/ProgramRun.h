// Runs the program as a real process: as the test user when the tests run
// as root, with HOME in a temporary directory owned by that user, standard
// output and error in files there, without a display unless the caller
// gives one (wizardDisplay). The log file is HOME's
// ".zarn/tlzarnconnectsetup.log". Also the steps the program's tests under
// X share.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "httpTestUtil.h"
#include "muiDriver.h"
#include "plat/Time.h"
#include "testuser.h"
#include "testutil.h"
#include "txtest.h"
#include "xvfb.h"

// Skips the test unless the test user may run the program through
// "sudo -n" (scripts/sudo-test-dropin.sh).
#define TL_REQUIRE_SUDO_DROPIN()                                                                   \
  do {                                                                                             \
    TL_REQUIRE_TEST_USER();                                                                        \
    if (::tltest::runAsTestUser(                                                                   \
            {"/bin/sh", "-c",                                                                      \
             std::string("/usr/bin/sudo -n -l ") + TL_PROGRAM + " >/dev/null 2>&1"}) != 0)         \
      GTEST_SKIP() << "needs the sudo drop-in that scripts/sudo-test-dropin.sh installs";          \
  } while (0)

namespace tltest {

inline std::string readWholeFile(const std::string& path)
{
  return readFileIfAny(path);
}

inline bool has(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

// Whether done() holds within the time, asked every 10 ms.
inline bool waitFor(const std::function<bool()>& done, int seconds = 60)
{
  const plat::Time end = plat::getMonoTime() + seconds * plat::kTicksPerSecond;
  while (!done() && plat::getMonoTime() < end)
    usleep(10000);
  return done();
}

// The environment entry that gives the wizard the program's shared Xvfb.
inline std::string wizardDisplay()
{
  return "DISPLAY=" + sharedXvfb().display();
}

// The user the program runs as: the test user under root, else ourselves.
inline const TestUser* programUser()
{
  return geteuid() == 0 ? testUser() : nullptr;
}

class ProgramRun {
public:
  struct Result {
    int status = -1; // exit status, or 100 + signal
    std::string out, err, log;
  };

  // Starts the program with args (no argv at all when args is {"(none)"}),
  // with extra "NAME=value" environment entries; prepare fills HOME first.
  explicit ProgramRun(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {},
                      const std::function<void(const std::string& home)>& prepare = nullptr)
      : home_("tlprog")
  {
    const TestUser* user = programUser();
    if (prepare)
      prepare(home_.path());
    if (user && system(("chown -R " + std::to_string(user->uid) + ":" + std::to_string(user->gid) +
                        " '" + home_.path() + "'")
                           .c_str()) != 0)
      return;
    std::string outPath = home_ / "stdout", errPath = home_ / "stderr";
    std::vector<char*> argv;
    if (args != std::vector<std::string>{"(none)"}) {
      argv.push_back(const_cast<char*>(TL_PROGRAM));
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(120);
      if (user && (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0))
        _exit(121);
      setenv("HOME", home_.path().c_str(), 1);
      unsetenv("ZARN_PROFILE");
      unsetenv("ZARN_CONFIG_PROFILE");
      unsetenv("ZARN_PROFILE_DIR");
      unsetenv("DISPLAY");
      for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
      execv(TL_PROGRAM, argv.data());
      _exit(122);
    }
  }
  ~ProgramRun()
  {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitChild(pid_);
    }
  }

  const std::string& home() const { return home_.path(); }
  std::string log() const { return readWholeFile(home_ / ".zarn/tlzarnconnectsetup.log"); }

  // Waits (60 s at most) until the log file holds text.
  bool waitForLog(const std::string& text) const
  {
    return waitFor([&] { return has(log(), text); });
  }
  // Waits for the wizard's window to be shown.
  bool waitShown() const { return waitForLog("SetupWindow: show"); }

  // Whether the program has ended; finish() still collects it.
  bool ended() const
  {
    siginfo_t info{};
    return pid_ <= 0 || (waitid(P_PID, (id_t)pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                         info.si_pid == pid_);
  }

  // Sends the signal (if any) and collects the result.
  Result finish(int signal = 0)
  {
    Result result;
    if (pid_ <= 0)
      return result;
    if (signal)
      kill(pid_, signal);
    result.status = waitChild(pid_);
    pid_ = -1;
    result.out = readWholeFile(home_ / "stdout");
    result.err = readWholeFile(home_ / "stderr");
    result.log = log();
    return result;
  }

private:
  TempDir home_;
  pid_t pid_ = -1;
};

// Runs the program to its end.
inline ProgramRun::Result runProgram(const std::vector<std::string>& args,
                                     const std::vector<std::string>& env = {})
{
  return ProgramRun(args, env).finish();
}

// A suite on the shared Xvfb under openbox, this process connected to it.
class WizardTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    sharedXvfb().startWm();
    openTestDisplay();
  }
};

// Runs a shell command on the shared display; what it printed.
inline std::string x(const std::string& command)
{
  return commandOutput(wizardDisplay() + " " + command);
}

// The text's lines without their newlines.
inline std::vector<std::string> lines(const std::string& text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

// What the program's store holds: the test features key, cloud credentials.
enum StoreFlags : unsigned { kTestFeatures = 1, kCredentials = 2 };

// The ProgramRun step that fills the store at HOME's dir as flags say.
inline std::function<void(const std::string&)> withStore(unsigned flags,
                                                         const std::string& dir = ".zarn/config.d")
{
  return [flags, dir](const std::string& home) {
    const std::string store = "cd '" + home + "/' && mkdir -p " + dir + " && cd " + dir;
    if (flags & kTestFeatures)
      commandOutput(store + " && mkdir -p tlzarnconnectsetup.d && cp " TL_TEST_SUPPORT_DIR
                            "/TestFeaturesEnableKey tlzarnconnectsetup.d/");
    if (flags & kCredentials)
      commandOutput(
          store + " && mkdir -p tlzarnconnect.d && echo x > tlzarnconnect.d/CloudCredentials.bed");
  };
}

// The program's automation channel, once its log names it; null when it
// never does.
inline std::unique_ptr<MuiDriver> connectMui(const ProgramRun& run)
{
  const std::string listening = "MuiComms: Listening on ";
  if (!run.waitForLog(listening))
    return nullptr;
  const std::string log = run.log();
  const size_t at = log.find(listening) + listening.size();
  return std::make_unique<MuiDriver>(log.substr(at, log.find('\n', at) - at));
}

// The wizard's window, once shown; 0 for none.
inline Window wizardWindow()
{
  return strtoul(
      x("xdotool search --sync --onlyvisible --name '^Tessaly Daziziz Setup$' | head -1").c_str(),
      nullptr, 0);
}

// What the window manager sends when the user closes the window.
inline void askToClose(Window w)
{
  Display* d = tx::display();
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XFlush(d);
}

// Which of the wizard's 560 by 540 pixels show its main buttons' blue, by
// row; none when the window cannot be read.
inline std::vector<std::vector<bool>> bluePixels(Window w)
{
  XImage* im = XGetImage(tx::display(), w, 0, 0, 560, 540, AllPlanes, ZPixmap);
  std::vector<std::vector<bool>> blue(im ? 540 : 0, std::vector<bool>(560));
  for (size_t y = 0; y < blue.size(); y++)
    for (int x = 0; x < 560; x++) {
      const unsigned long p = XGetPixel(im, x, (int)y);
      blue[y][x] = (p >> 16 & 0xff) < 60 && (p >> 8 & 0xff) < 130 && (p & 0xff) > 150;
    }
  if (im)
    XDestroyImage(im);
  return blue;
}

// The test CA and an HTTPS stand-in serving a package under "pkg". The
// CA's folder is open to all, so that the test user's program reads caPem.
class PackageServer {
public:
  explicit PackageServer(const std::string& body = "")
  {
    commandOutput("chmod -R a+rX '" + ca_.dir().path() + "'");
    if (!body.empty())
      serve(body);
  }
  // Serves body from now on, on a new port.
  void serve(const std::string& body)
  {
    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    half_ = response.size() - body.size() / 2;
    server_.reset(new httptest::ScriptedServer({{"pkg", {response}}}, cert_, ca_.path("dl.key")));
  }
  // The package's address: "hold" holds it after half the body, else mode
  // is the path ("pkg/whole").
  std::string uri(const std::string& mode, const std::string& name = "T.deb") const
  {
    return "https://localhost:" + std::to_string(server_->port()) + "/" +
           (mode == "hold" ? "pkg/hold-" + std::to_string(half_) : mode) + "/" + name;
  }
  std::string caPem() const { return ca_.path("ca.pem"); }
  httptest::ScriptedServer& server() { return *server_; }

private:
  httptest::TestCa ca_;
  const std::string cert_ = ca_.server("dl", "DNS:localhost");
  size_t half_ = 0;
  std::unique_ptr<httptest::ScriptedServer> server_;
};

// The fake product's package (make_fake_product.sh with args), its
// programs recording their calls; not installed before or after.
struct FakeProduct {
  static inline const std::string kName = "tlzarnconnect-testfake";

  explicit FakeProduct(const std::string& args = "")
  {
    chmod(work.path().c_str(), 0755);
    commandOutput(std::string(TL_TEST_DATA_DIR) + "/make_fake_product.sh " + work.path() + " " +
                  record + " " + args + " && touch " + record + " && chmod 666 " + record);
    purge();
  }
  ~FakeProduct() { purge(); }

  // Also after a package tool that was killed half-way.
  static void purge()
  {
    commandOutput("dpkg --purge --force-remove-reinstreq " + kName + " >/dev/null 2>&1; true");
  }
  // dpkg's status of the package ("install ok installed"), "" when it has none.
  static std::string status()
  {
    int exit;
    return runCommand("dpkg-query -W -f='${Status}' " + kName + " 2>/dev/null", &exit);
  }
  static bool installed() { return status() == "install ok installed"; }
  // Not even half-installed: dpkg knows nothing of it or only its name.
  static bool gone()
  {
    const std::string s = status();
    return s.empty() || (s.size() > 14 && s.compare(s.size() - 14, 14, " not-installed") == 0);
  }
  std::string deb() const { return work / (kName + ".deb"); }
  std::vector<std::string> seen() const { return lines(readWholeFile(record)); }
  // Switches what a stand-in does at a point, "fail.preinst" or
  // "kill.tlzarnserver-x11" for example (make_fake_product.sh).
  void set(const std::string& point, const std::string& value = "") const
  {
    commandOutput("echo '" + value + "' > '" + record + "." + point + "'");
  }
  void unset(const std::string& point) const { unlink((record + "." + point).c_str()); }

  TempDir work{"tlfakeproduct"};
  const std::string record = work / "record";
};

} // namespace tltest
