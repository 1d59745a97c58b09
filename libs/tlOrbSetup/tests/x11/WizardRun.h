// What the program's tests under X share: the shared display with openbox,
// the program's store with the test features key, its window and its
// automation channel, the HTTPS stand-in serving a package, and the fake
// product's package.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "httpTestUtil.h"
#include "muiDriver.h"
#include "txtest.h"

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
  return commandOutput("DISPLAY=" + sharedXvfb().display() + " " + command);
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

// What the wizard's 560 by 540 window shows; blue is its main buttons'.
class WindowImage {
public:
  explicit WindowImage(Window w)
      : im_(XGetImage(tx::display(), w, 0, 0, 560, 540, AllPlanes, ZPixmap))
  {
  }
  ~WindowImage()
  {
    if (im_)
      XDestroyImage(im_);
  }
  WindowImage(const WindowImage&) = delete;
  WindowImage& operator=(const WindowImage&) = delete;

  explicit operator bool() const { return im_ != nullptr; }
  bool blue(int x, int y) const
  {
    const unsigned long p = XGetPixel(im_, x, y);
    return (p >> 16 & 0xff) < 60 && (p >> 8 & 0xff) < 130 && (p & 0xff) > 150;
  }

private:
  XImage* im_;
};

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
    response_ =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    half_ = response_.size() - body.size() / 2;
    server_.reset(new httptest::ScriptedServer({{"pkg", {response_}}}, cert_, ca_.path("dl.key")));
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
  std::string response_;
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
  FakeProduct(const FakeProduct&) = delete;
  FakeProduct& operator=(const FakeProduct&) = delete;

  static void purge() { commandOutput("dpkg --purge " + kName + " >/dev/null 2>&1; true"); }
  static bool installed()
  {
    int status;
    return has(runCommand("dpkg-query -W -f='${Status}' " + kName + " 2>/dev/null", &status),
               "install ok installed");
  }
  std::string deb() const { return work / (kName + ".deb"); }
  std::vector<std::string> seen() const { return lines(readWholeFile(record)); }

  TempDir work{"tlfakeproduct"};
  const std::string record = work / "record";
};

} // namespace tltest
