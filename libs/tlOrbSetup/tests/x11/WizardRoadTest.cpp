// The wizard's road as a user takes it, on the shared X server under
// openbox: the program runs as the test user with test features, downloads
// the package from the HTTPS stand-in, reaches the admin helper through
// "sudo -n", opens the sign-in address with the real xdg-open (which hands
// it to a recording browser named by BROWSER) and registers its URI scheme
// with the real desktop tools; the test gives callback URIs to the real
// xdg-open, which starts the program's own "-uri" mode from that
// registration. The automation channel presses what a user would press.
//
// With TL_ROAD_PICTURES naming a folder, the whole road writes its page
// pictures there (else into the screenshot folder); it prints each page's
// name as it shows either way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "authStandIn.h"
#include "ctrlcommsFake.h"
#include "httpTestUtil.h"
#include "muiDriver.h"
#include "plat/encodings.h"
#include "product/addresses.h"
#include "rootdir.h"
#include "svr/Encryption.h"
#include "txtest.h"

namespace {

using tltest::has;
using tltest::readWholeFile;

const char* const kPages[] = {"initial",    "download", "install",      "signInChoose", "signingIn",
                              "applyToken", "settings", "simpleLaunch", "error"};
const std::string kScheme = product::kUriScheme;
const std::string kFake = "tlzarnconnect-testfake";

std::vector<std::string> lines(const std::string& text)
{
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    out.push_back(text.substr(at, nl - at));
    at = nl == std::string::npos ? text.size() : nl + 1;
  }
  return out;
}

// What a stand-in saw, one line each, for the run command to show.
void show(const char* who, const std::vector<std::string>& seen)
{
  for (const std::string& l : seen)
    printf("%s: %s\n", who, l.c_str());
  fflush(stdout);
}

bool waitFor(const std::function<bool()>& done, int seconds = 60)
{
  const plat::Time end = plat::getMonoTime() + seconds * plat::kTicksPerSecond;
  while (!done() && plat::getMonoTime() < end)
    usleep(20000);
  return done();
}

std::string x(const std::string& command)
{
  return tltest::commandOutput("DISPLAY=" + tltest::sharedXvfb().display() + " " + command);
}

// The window the window manager calls active, 0 for none.
Window activeWindow()
{
  std::string out = x("xprop -root _NET_ACTIVE_WINDOW 2>/dev/null");
  size_t at = out.find("# ");
  return at == std::string::npos ? 0 : strtoul(out.c_str() + at + 2, nullptr, 0);
}

// The tools the program finds: the recording browser, the CA of the HTTPS
// stand-in, and empty system data and configuration folders, so that
// xdg-open sees no desktop's own handlers.
struct Tools {
  explicit Tools(const httptest::TestCa& ca)
  {
    dir.write("browser", "#!/bin/sh\necho \"$@\" >> \"$HOME/opened\"\n", 0755);
    mkdir((dir / "share").c_str(), 0755);
    mkdir((dir / "etc").c_str(), 0755);
    tltest::commandOutput("cp '" + ca.path("ca.pem") + "' " + dir.path() + " && chmod -R a+rX " +
                          dir.path());
  }
  // What both the program and xdg-open run with.
  std::vector<std::string> env(const std::string& profile) const
  {
    return {tltest::wizardDisplay(),          "PATH=/usr/bin:/bin",
            "BROWSER=" + dir / "browser",     "XDG_DATA_DIRS=" + dir / "share",
            "XDG_CONFIG_DIRS=" + dir / "etc", "ZARN_PROFILE=" + profile};
  }
  tltest::TempDir dir{"tlroadtools"};
};

// One run of the wizard, the test features key in its profile and its log
// in HOME's ".zarn", pictures of each page as it shows.
class Wizard {
public:
  // Pictures are named "<pictures>-<n>-<page>"; TL_ROAD_PICTURES takes
  // those of the "road".
  Wizard(const char* pictures, const Tools& tools, const std::string& orbUri,
         const std::vector<std::string>& extra)
      : pictures_(pictures), env_(tools.env("roadtest" + std::to_string(getpid()))),
        profile_("roadtest" + std::to_string(getpid())),
        run_(args(tools, orbUri, extra), env_, [&](const std::string& home) {
          tltest::commandOutput(
              "cd '" + home + "' && d=.zarn/profiles/" + profile_ +
              "/config.d/tlzarnconnectsetup.d && mkdir -p $d && cp " TL_TEST_SUPPORT_DIR
              "/TestFeaturesEnableKey $d/");
        })
  {
    if (!run_.waitForLog("MuiComms: Listening on "))
      return;
    std::string log = run_.log();
    size_t at = log.find("MuiComms: Listening on ") + 23;
    mui_.reset(new tltest::MuiDriver(log.substr(at, log.find('\n', at) - at)));
    std::string id =
        x("xdotool search --sync --onlyvisible --name '^Tessaly Daziziz Setup$' | head -1");
    window_ = strtoul(id.c_str(), nullptr, 0);
  }

  // Root's side of the profile (the helper's) goes with the run.
  ~Wizard()
  {
    run_.finish(SIGKILL);
    tltest::commandOutput("rm -rf /root/.zarn/profiles/" + profile_);
  }

  bool up() const { return mui_ && window_; }
  tltest::ProgramRun& run() { return run_; }
  Window window() const { return window_; }
  const std::string& profile() const { return profile_; }
  std::string command(const std::string& line) { return mui_->command(line); }
  bool click(const std::string& path) { return command("click SetupDlg." + path) == "1\n"; }
  std::string opened() const { return readWholeFile(run_.home() + "/opened"); }
  std::string desktopFile() const
  {
    return run_.home() + "/.local/share/applications/" + kScheme + ".desktop";
  }

  // The page on show; a new one is named on standard output and pictured.
  std::string page()
  {
    std::string shown = current();
    if (!shown.empty() && shown != last_) {
      last_ = shown;
      seen_.push_back(shown);
      picture(shown);
    }
    return shown;
  }
  // Waits until the page has shown since the last wait (it may have gone
  // again).
  bool waitPage(const std::string& name, int seconds = 60)
  {
    bool found = false;
    auto shown = [&] {
      page();
      for (size_t i = mark_; i < seen_.size() && !found; i++)
        if (seen_[i] == name)
          found = true, mark_ = i + 1;
      return found;
    };
    return waitFor([&] { return shown() || run_.ended(); }, seconds) && found;
  }
  // The callback URI given to the real xdg-open, as the test user would.
  void xdgOpen(const std::string& uri)
  {
    const tltest::TestUser* u = tltest::testUser();
    std::string cmd = "setpriv --reuid=" + std::to_string(u->uid) +
                      " --regid=" + std::to_string(u->gid) +
                      " --clear-groups -- env -i HOME=" + run_.home();
    for (const std::string& e : env_)
      cmd += " '" + e + "'";
    tltest::commandOutput(cmd + " /usr/bin/xdg-open '" + uri + "'");
  }

  // The picture of the page on show, taken once it has been painted; not
  // kept when the page went before it was taken.
  void picture(const std::string& name)
  {
    pictured_++;
    printf("Page: %s\n", name.c_str());
    fflush(stdout);
    usleep(pictured_ == 1 ? 500000 : 30000);
    if (current() != name.substr(0, name.find('-'))) {
      printf("(the %s page went before its picture was taken)\n", name.c_str());
      return;
    }
    const char* dir = getenv("TL_ROAD_PICTURES");
    char n[8];
    snprintf(n, sizeof n, "%02d-", pictured_);
    std::string file =
        (dir && *dir && pictures_ == "road" ? std::string(dir) + "/" : pictures_ + "-") + n + name;
    EXPECT_TRUE(tltest::screenshot(window_, 560, 540, file)) << file;
  }

private:
  static std::vector<std::string> args(const Tools& tools, const std::string& orbUri,
                                       std::vector<std::string> extra)
  {
    extra.insert(extra.begin(),
                 {"-Locale=en", "-_OrbUri=" + orbUri, "-_CertsPem=" + tools.dir / "ca.pem",
                  "-ElevateCmd=/usr/bin/sudo -n", "-LogDir=$HOME/.zarn"});
    return extra;
  }
  // Asked from the last page seen on: the next is usually at most a few
  // pages further.
  std::string current()
  {
    const size_t n = sizeof kPages / sizeof *kPages;
    size_t from = std::find(kPages, kPages + n, last_) - kPages;
    for (size_t i = 0; i < n; i++) {
      const char* name = kPages[(from + i) % n];
      if (has(command(std::string("state SetupDlg.") + name), "shown 1\n"))
        return name;
    }
    return "";
  }
  std::string pictures_;
  std::vector<std::string> env_;
  std::string profile_;
  tltest::ProgramRun run_;
  std::unique_ptr<tltest::MuiDriver> mui_;
  Window window_ = 0;
  std::string last_;
  std::vector<std::string> seen_; // pages in the order shown
  size_t mark_ = 0;
  int pictured_ = 0;
};

class WizardRoad : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    tltest::sharedXvfb().startWm();
    tltest::openTestDisplay();
  }
  void SetUp() override
  {
    TL_REQUIRE_TEST_USER();
    if (tltest::runAsTestUser(
            {"/bin/sh", "-c",
             std::string("/usr/bin/sudo -n -l ") + TL_PROGRAM + " >/dev/null 2>&1"}) != 0)
      GTEST_SKIP() << "needs the sudo drop-in that scripts/sudo-test-dropin.sh installs";
    cert_ = ca_.server("dl", "DNS:localhost");
  }

  httptest::TestCa ca_;
  std::string cert_;
  Tools tools_{ca_};
};

// The state value of an opened sign-in address, after checking the rest.
std::string checkAddress(const std::string& address, const std::string& path)
{
  const std::string start = std::string(product::kPortal) + path + "?state=";
  EXPECT_EQ(start, address.substr(0, start.size())) << address;
  EXPECT_EQ(start.size() + 11 + 10, address.size()) << address;
  EXPECT_EQ("&version=8", address.substr(start.size() + 11)) << address;
  return address.substr(start.size(), 11);
}

// A dry-run install leads to the sign-in pages: the time-out, the two
// addresses with one state, the scheme registered once, refused URIs.
TEST_F(WizardRoad, SignInPagesAndRefusedUris)
{
  httptest::ScriptedServer server({{"pkg", {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody"}}},
                                  cert_, ca_.path("dl.key"));
  const std::string uri = "https://localhost:" + std::to_string(server.port()) + "/pkg/whole/T.deb";
  auto toChoice = [&](Wizard& w) {
    ASSERT_TRUE(w.up()) << w.run().log();
    ASSERT_TRUE(w.click("initial.install"));
    ASSERT_TRUE(w.waitPage("signInChoose")) << w.run().log();
  };
  {
    SCOPED_TRACE("no time to sign in");
    Wizard w("timeout", tools_, uri, {"-_NoInstall=1", "-_SignInTimeoutSecs=0"});
    toChoice(w);
    ASSERT_TRUE(w.click("signInChoose.trial.btn"));
    EXPECT_TRUE(waitFor([&] { return has(w.run().log(), "Signing in/up timed out"); }))
        << w.run().log();
    EXPECT_EQ("signInChoose", w.page());
    w.picture("signInChoose-timedOut");
    // A callback with no signing-in page on show.
    const std::string late = kScheme + "://install?state=x&server=s&viewer=v";
    w.xdgOpen(late);
    EXPECT_TRUE(w.run().waitForLog("Error handling URI '" + late +
                                   "': URI received when not showing SigningInPage\n"));
    w.command("close SetupDlg");
    EXPECT_EQ(0, w.run().finish().status);
  }
  Wizard w("signin", tools_, uri, {"-_NoInstall=1"});
  toChoice(w);
  ASSERT_TRUE(w.click("signInChoose.trial.btn"));
  ASSERT_TRUE(w.waitPage("signingIn"));
  ASSERT_TRUE(waitFor([&] { return lines(w.opened()).size() == 1; })) << w.run().log();
  const std::string state = checkAddress(lines(w.opened())[0], "/auth/sign_up/software_trial");
  EXPECT_EQ("[Desktop Entry]\nType=Application\nName=Tessaly Daziziz Setup\nExec=" TL_PROGRAM
            " -uri %u\n"
            "MimeType=x-scheme-handler/" +
                kScheme + ";\nNoDisplay=true\n",
            readWholeFile(w.desktopFile()));
  ASSERT_TRUE(w.click("signingIn.goback"));
  ASSERT_TRUE(w.waitPage("signInChoose"));
  ASSERT_TRUE(w.click("signInChoose.signIn.btn"));
  ASSERT_TRUE(w.waitPage("signingIn"));
  ASSERT_TRUE(waitFor([&] { return lines(w.opened()).size() == 2; }));
  EXPECT_EQ(state, checkAddress(lines(w.opened())[1], "/auth/download_first"));
  // Registered once.
  const std::string log = w.run().log(), mime = "Launching /usr/bin/xdg-mime default " + kScheme;
  EXPECT_NE(std::string::npos, log.find(mime));
  EXPECT_EQ(log.find(mime), log.rfind(mime));

  // Refused while the page waits.
  const std::string base = kScheme + "://";
  const struct {
    std::string uri, error;
  } refused[] = {
      {base + "Install?state=" + state + "&server=s&viewer=v", "Bad URI endpoint"},
      {base + "install?state=" + state + "x&server=s&viewer=v", "Bad signingInState"},
      {base + "install?server=s&viewer=v", "Bad signingInState"},
      {base + "install?state=" + state + "&server=s", "Missing param"},
      {base + "install?state=" + state + "&server=&viewer=v", "Missing param"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.uri);
    w.xdgOpen(c.uri);
    EXPECT_TRUE(w.run().waitForLog("Error handling URI '" + c.uri + "': " + c.error + "\n"));
    EXPECT_EQ("signingIn", w.page());
  }
  w.command("close SetupDlg");
  tltest::ProgramRun::Result r = w.run().finish();
  EXPECT_EQ(0, r.status) << r.err;
}

// The whole road: the fake .deb installed for real, sign-up, the callback
// through xdg-open, tokens redeemed at the hosted stand-in, the settings
// sent through the helper and the product launched.
TEST_F(WizardRoad, DownloadInstallSignInSettingsLaunch)
{
  tltest::RootOnlyDir data;
  ASSERT_FALSE(data.path().empty());
  tltest::TempDir work("wizroad");
  chmod(work.path().c_str(), 0755);
  const std::string record = work / "record";
  tltest::commandOutput(std::string(TL_TEST_DATA_DIR) + "/make_fake_product.sh " + work.path() +
                        " " + record + " && touch " + record + " && chmod 666 " + record);
  // The package goes whatever happens.
  struct Purge {
    Purge() { purge(); }
    ~Purge() { purge(); }
    static void purge()
    {
      tltest::commandOutput("dpkg --purge " + kFake + " >/dev/null 2>&1; true");
    }
  } purge;
  // The hosted stand-in, and its cloud configuration beside the program,
  // where the program finds its data (the program's other tests, which
  // would find it too, hold the same lock).
  const std::string keys = TL_BOOTSTRAP_KEYS;
  httptest::AuthStandIn standin(2, data.path(), keys + "/ca.pem");
  httptest::serveBootstrapDocument(standin, keys, standin.url(1));
  const std::string programDir =
      std::string(TL_PROGRAM).substr(0, std::string(TL_PROGRAM).rfind('/'));
  const std::string config = programDir + "/CloudConfig.pkg";
  tltest::commandOutput("install -m 644 " + data / "CloudConfig.pkg " + config);
  struct Remove {
    std::string path;
    ~Remove() { unlink(path.c_str()); }
  } removeConfig{config};
  httptest::Answer vwr, svr;
  vwr.body = R"({"type":"viewer-session","value":"VWR"})";
  svr.body = R"({"type":"server-join","value":"SVR"})";
  vwr.headers = svr.headers = {{"Content-Type", "application/json"}};
  vwr.delayMs = 1500; // so that a person sees the page that waits for it
  standin.push(1, vwr);
  standin.push(1, svr);

  const std::string deb = tltest::readFile(work / (kFake + ".deb"));
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(deb.size()) + "\r\n\r\n";
  httptest::ScriptedServer server({{"pkg", {head + deb}}}, cert_, ca_.path("dl.key"));
  // Held half-way, so that the download page shows its progress.
  const std::string uri = "https://localhost:" + std::to_string(server.port()) + "/pkg/hold-" +
                          std::to_string(head.size() + deb.size() / 2) + "/" + kFake + ".deb";
  const std::string pipeDir = "/tmp/.zarn-zarnservice";
  mkdir(pipeDir.c_str(), 0700);
  tltest::FakeServer ctrl(pipeDir + "/tlzarnserver-x11.CtrlComms", {});

  Wizard w("road", tools_, uri, {});
  ASSERT_TRUE(w.up()) << w.run().log();
  const std::string rootProfile = "/root/.zarn/profiles/" + w.profile();
  EXPECT_EQ("initial", w.page());
  ASSERT_TRUE(w.click("initial.install"));
  ASSERT_TRUE(w.waitPage("download"));
  EXPECT_TRUE(waitFor([&] { return w.command("listitems SetupDlg.download.progress") == "50%\n"; }))
      << w.command("listitems SetupDlg.download.progress");
  w.picture("download-half");
  server.release();
  ASSERT_TRUE(w.waitPage("install"));
  ASSERT_TRUE(w.waitPage("signInChoose", 120)) << w.run().log();
  EXPECT_EQ("tlzarnservice start tlzarnserver-x11-serviced\n", readWholeFile(record));
  ASSERT_TRUE(w.click("signInChoose.trial.btn"));
  ASSERT_TRUE(w.waitPage("signingIn"));
  ASSERT_TRUE(waitFor([&] { return !w.opened().empty(); }));
  const std::string state = checkAddress(lines(w.opened())[0], "/auth/sign_up/software_trial");
  show("Browser stand-in opened", lines(w.opened()));

  // Another window is active when the browser calls back.
  Display* d = tx::display();
  Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 900, 650, 100, 100, 0, 0, 0);
  XMapWindow(d, other);
  XSync(d, False);
  x("xdotool windowactivate --sync " + std::to_string(other));
  ASSERT_TRUE(waitFor([&] { return activeWindow() == other; }, 10));
  const std::string callback =
      kScheme + "://install?state=" + state + "&server=ticket-s&viewer=ticket-v";
  show("Given to xdg-open", {callback});
  w.xdgOpen(callback);
  EXPECT_TRUE(waitFor([&] { return activeWindow() == w.window(); }, 10));
  XDestroyWindow(d, other);
  XSync(d, False);
  ASSERT_TRUE(w.waitPage("settings")) << w.run().log();
  std::vector<std::string> tickets;
  for (httptest::Received& r : standin.requests())
    if (r.node == 1) {
      r.body.erase(std::remove_if(r.body.begin(), r.body.end(), isspace), r.body.end());
      tickets.push_back(r.method + " " + r.path + " " + r.body);
    }
  EXPECT_EQ((std::vector<std::string>{
                "POST /authentication/1.1/tickets/redeem {\"ticket\":\"ticket-v\"}",
                "POST /authentication/1.1/tickets/redeem {\"ticket\":\"ticket-s\"}"}),
            tickets);

  // The device password, typed twice; both boxes stay ticked.
  for (const char* field : {"pwd1", "pwd2"})
    EXPECT_EQ("1\n",
              w.command(std::string("settext SetupDlg.settings.") + field + ".hidden s3cret-pw"));
  w.picture("settings-filled");
  ASSERT_TRUE(w.click("settings.launch"));
  ASSERT_TRUE(w.run().waitForLog("SetupDlg: Exiting")) << w.run().log();
  tltest::ProgramRun::Result r = w.run().finish();
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(has(r.log, "SetupDlg: Launching\n")) << r.log;

  // What the stand-ins saw: the service, the join and the viewer with
  // their tokens, the settings in name order with a hash of the password.
  ASSERT_TRUE(waitFor([&] { return lines(readWholeFile(record)).size() >= 5; }));
  std::vector<std::string> seen = lines(readWholeFile(record));
  const std::string viewer = "tlzarnconnect -signInToken ";
  ASSERT_EQ(5u, seen.size());
  EXPECT_EQ("tlzarnserver-x11 -service -joincloud", seen[1].substr(0, seen[1].rfind(' ')));
  EXPECT_EQ("token SVR", seen[2]);
  EXPECT_EQ(viewer, seen[3].substr(0, viewer.size()));
  EXPECT_EQ("token VWR", seen[4]);
  unlink(seen[3].substr(viewer.size()).c_str());
  const std::vector<std::string> ctrlSeen = ctrl.messages();
  EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), ctrlSeen);
  std::vector<std::string> settings =
      lines(readWholeFile(rootProfile + "/config.d/tlzarnserver-x11"));
  ASSERT_EQ(4u, settings.size()) << tltest::joinLines(settings);
  EXPECT_EQ((std::vector<std::string>{"Authentication=ZarnAuth", "EnableAnalytics=1",
                                      "EnableAutoUpdateChecks=1"}),
            std::vector<std::string>(settings.begin(), settings.begin() + 3));
  plat::MBuf<unsigned char> stored;
  plat::hexToBin(settings[3].substr(9).c_str(), stored);
  EXPECT_EQ("Password=", settings[3].substr(0, 9));
  EXPECT_TRUE(svr::checkPassword("s3cret-pw", stored, nullptr));
  EXPECT_FALSE(svr::checkPassword("s3cret-pX", stored, nullptr));
  EXPECT_EQ("EnableAnalytics=1\n", readWholeFile(w.run().home() + "/.zarn/profiles/" + w.profile() +
                                                 "/config.d/zarnviewer"));
  std::vector<std::string> said;
  for (const std::string& l : lines(r.log))
    if (has(l, "SetupDlg: "))
      said.push_back(l.substr(l.find("SetupDlg: ") + 10));
  said.push_back("exit status " + std::to_string(r.status));
  show("Wizard", said);
  show("Authentication stand-in", tickets);
  show("Product programs", seen);
  show("Control channel stand-in", ctrlSeen);
  show("Server settings", settings);
}

} // namespace
