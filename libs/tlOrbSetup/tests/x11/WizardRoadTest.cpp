// The wizard's road as a user takes it, on the shared X server under
// openbox: the program runs as the test user with test features, downloads
// the package from the HTTPS stand-in, reaches the admin helper through
// "sudo -n", opens the sign-in address with the real xdg-open (which hands
// it to a recording browser named by BROWSER) and registers its URI scheme
// with the real desktop tools; the test gives callback URIs to the real
// xdg-open, which starts the program's own "-uri" mode from that
// registration. The automation channel presses what a user would press.
// The error roads are one table: what the user does, what the stand-ins do
// (the package's scripts and the product's programs, the hosted and the
// control channel's stand-ins), the page the user ends on with its text and
// output button, and a window that closes with status 0.
//
// With TL_ROAD_PICTURES naming a folder, the whole road writes its page
// pictures there (else into the screenshot folder); it prints each page's
// name as it shows either way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "authStandIn.h"
#include "ctrlcommsFake.h"
#include "plat/Regex.h"
#include "plat/encodings.h"
#include "product/addresses.h"
#include "rootdir.h"
#include "svr/Encryption.h"

namespace {

using tltest::askToClose;
using tltest::FakeProduct;
using tltest::has;
using tltest::lines;
using tltest::readWholeFile;
using tltest::waitFor;
using tltest::x;

const char* const kPages[] = {"initial",    "download", "install",      "signInChoose", "signingIn",
                              "applyToken", "settings", "simpleLaunch", "error"};
const std::string kScheme = product::kUriScheme;

// What a stand-in saw, one line each, for the run command to show.
void show(const char* who, const std::vector<std::string>& seen)
{
  for (const std::string& l : seen)
    printf("%s: %s\n", who, l.c_str());
  fflush(stdout);
}

// The window the window manager calls active, 0 for none.
Window activeWindow()
{
  std::string out = x("xprop -root _NET_ACTIVE_WINDOW 2>/dev/null");
  size_t at = out.find("# ");
  return at == std::string::npos ? 0 : strtoul(out.c_str() + at + 2, nullptr, 0);
}

// The tools the program finds: the recording browser, and empty system
// data and configuration folders, so that xdg-open sees no desktop's own
// handlers.
struct Tools {
  Tools()
  {
    dir.write("browser", "#!/bin/sh\necho \"$@\" >> \"$HOME/opened\"\n", 0755);
    // Elevation held until HOME's gate opens; its end is kept there.
    dir.write("elevate",
              "#!/bin/sh\ni=0\nwhile [ ! -e \"$HOME/elevate.go\" ] && [ $i -lt 1200 ]; do\n"
              "  sleep 0.05; i=$((i + 1))\ndone\n\"$@\"\necho $? > \"$HOME/elevated\"\n",
              0755);
    mkdir((dir / "share").c_str(), 0755);
    mkdir((dir / "etc").c_str(), 0755);
    chmod(dir.path().c_str(), 0755);
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
  // The store holds the test features key, and cloud credentials (then no
  // sign-in) as store says.
  Wizard(const char* pictures, const Tools& tools, const tltest::PackageServer& pkg,
         const std::string& orbUri, const std::vector<std::string>& extra,
         unsigned store = tltest::kTestFeatures)
      : pictures_(pictures), env_(tools.env("roadtest" + std::to_string(getpid()))),
        profile_("roadtest" + std::to_string(getpid())),
        run_(args(pkg, orbUri, extra), env_,
             tltest::withStore(store, ".zarn/profiles/" + profile_ + "/config.d"))
  {
    mui_ = tltest::connectMui(run_);
    if (mui_)
      window_ = tltest::wizardWindow();
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
  std::string command(const std::string& line) { return mui_->command(line); }
  bool click(const std::string& path) { return command("click SetupDlg." + path) == "1\n"; }
  // A command answered only later (it runs a modal box).
  void send(const std::string& line) { mui_->send(line + "\n"); }
  std::string reply() { return mui_->reply(); }
  std::string opened() const { return readWholeFile(run_.home() + "/opened"); }
  // The server's settings as the helper stored them, and the viewer's file.
  std::vector<std::string> serverSettings() const
  {
    return lines(readWholeFile("/root/.zarn/profiles/" + profile_ + "/config.d/tlzarnserver-x11"));
  }
  std::string viewerSettings() const
  {
    return readWholeFile(run_.home() + "/.zarn/profiles/" + profile_ + "/config.d/zarnviewer");
  }
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
  static std::vector<std::string> args(const tltest::PackageServer& pkg, const std::string& orbUri,
                                       std::vector<std::string> extra)
  {
    extra.insert(extra.begin(), {"-Locale=en", "-_OrbUri=" + orbUri, "-_CertsPem=" + pkg.caPem(),
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

class WizardRoad : public tltest::WizardTest {
protected:
  void SetUp() override { TL_REQUIRE_SUDO_DROPIN(); }
  // The URI of a four-byte package for dry runs, served while the test runs.
  std::string dryRunPackage()
  {
    pkg_.serve("body");
    return pkg_.uri("pkg/whole");
  }

  tltest::PackageServer pkg_;
  Tools tools_;
};

// The server's control pipe, where the stand-in listens.
std::string controlPipe()
{
  const std::string dir = "/tmp/.zarn-zarnservice";
  mkdir(dir.c_str(), 0700);
  return dir + "/tlzarnserver-x11.CtrlComms";
}

// The dialog's lines of a log.
std::vector<std::string> said(const std::string& log)
{
  std::vector<std::string> out;
  for (const std::string& l : lines(log))
    if (has(l, "SetupDlg: "))
      out.push_back(l.substr(l.find("SetupDlg: ") + 10));
  return out;
}

// The middle of the window's lowest blue run down the middle column, in
// "x y" for xdotool: the page button at the bottom of a page; empty when
// nothing there is blue.
std::string pageButton(Window w)
{
  const std::vector<std::vector<bool>> blue = tltest::bluePixels(w);
  int y = 539;
  while (y > 0 && !blue[y][280])
    y--;
  int top = y;
  while (top > 0 && blue[top - 1][280])
    top--;
  return y > 0 ? "280 " + std::to_string((top + y) / 2) : "";
}

// The state value of an opened sign-in address, after checking the rest.
std::string checkAddress(const std::string& address, const std::string& path)
{
  const std::string start = std::string(product::kPortal) + path + "?state=";
  EXPECT_EQ(start, address.substr(0, start.size())) << address;
  EXPECT_EQ(start.size() + 11 + 10, address.size()) << address;
  EXPECT_EQ("&version=8", address.substr(start.size() + 11)) << address;
  return address.substr(start.size(), 11);
}

// From the sign-in choice, the sign-up: the state of the address the
// browser stand-in was given.
std::string signUp(Wizard& w)
{
  EXPECT_TRUE(w.waitPage("signInChoose", 120)) << w.run().log();
  EXPECT_TRUE(w.click("signInChoose.trial.btn"));
  EXPECT_TRUE(w.waitPage("signingIn"));
  EXPECT_TRUE(waitFor([&] { return !w.opened().empty(); }));
  return w.opened().empty() ? ""
                            : checkAddress(lines(w.opened())[0], "/auth/sign_up/software_trial");
}

// The browser's callback with both tickets.
std::string callback(const std::string& state)
{
  return kScheme + "://install?state=" + state + "&server=ticket-s&viewer=ticket-v";
}

// The hosted stand-in with its answers to the viewer's and the server's
// tickets, and its cloud configuration beside the program, where the
// program finds its data (the program's other tests, which would find it
// too, hold the same lock).
struct Hosted {
  // The viewer's token after delayMs; refused: a hosted error instead.
  explicit Hosted(int delayMs = 0, bool refused = false)
  {
    EXPECT_FALSE(data.path().empty());
    httptest::serveBootstrapDocument(standin, keys, standin.url(1));
    tltest::commandOutput("install -m 644 " + data / "CloudConfig.pkg " + config);
    httptest::Answer vwr, svr;
    vwr.body = R"({"type":"viewer-session","value":"VWR"})";
    svr.body = R"({"type":"server-join","value":"SVR"})";
    vwr.headers = svr.headers = {{"Content-Type", "application/json"}};
    vwr.delayMs = delayMs;
    if (refused) {
      vwr.status = 403;
      vwr.reason = "Forbidden";
      vwr.body = R"({"errors":[{"code":"TicketExpired"}]})";
    }
    standin.push(1, vwr);
    standin.push(1, svr);
  }
  ~Hosted() { unlink(config.c_str()); }

  const std::string keys = TL_BOOTSTRAP_KEYS;
  tltest::RootOnlyDir data;
  httptest::AuthStandIn standin{2, data.path(), keys + "/ca.pem"};
  const std::string config =
      std::string(TL_PROGRAM).substr(0, std::string(TL_PROGRAM).rfind('/')) + "/CloudConfig.pkg";
};

// A dry-run install leads to the sign-in pages: the time-out, the two
// addresses with one state, the scheme registered once, refused URIs.
TEST_F(WizardRoad, SignInPagesAndRefusedUris)
{
  const std::string uri = dryRunPackage();
  auto toChoice = [&](Wizard& w) {
    ASSERT_TRUE(w.up()) << w.run().log();
    ASSERT_TRUE(w.click("initial.install"));
    ASSERT_TRUE(w.waitPage("signInChoose")) << w.run().log();
  };
  {
    SCOPED_TRACE("no time to sign in");
    Wizard w("timeout", tools_, pkg_, uri, {"-_NoInstall=1", "-_SignInTimeoutSecs=0"});
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
  Wizard w("signin", tools_, pkg_, uri, {"-_NoInstall=1"});
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
  FakeProduct product;
  Hosted hosted(1500); // so that a person sees the page that waits for the token

  pkg_.serve(tltest::readFile(product.deb()));
  tltest::FakeServer ctrl(controlPipe(), {});

  // Held half-way, so that the download page shows its progress.
  Wizard w("road", tools_, pkg_, pkg_.uri("hold", FakeProduct::kName + ".deb"), {});
  ASSERT_TRUE(w.up()) << w.run().log();
  EXPECT_EQ("initial", w.page());
  ASSERT_TRUE(w.click("initial.install"));
  ASSERT_TRUE(w.waitPage("download"));
  EXPECT_TRUE(waitFor([&] { return w.command("listitems SetupDlg.download.progress") == "50%\n"; }))
      << w.command("listitems SetupDlg.download.progress");
  w.picture("download-half");
  pkg_.server().release();
  ASSERT_TRUE(w.waitPage("install"));
  const std::string state = signUp(w);
  ASSERT_NE("", state);
  EXPECT_EQ("tlzarnservice start tlzarnserver-x11-serviced\n", readWholeFile(product.record));
  show("Browser stand-in opened", lines(w.opened()));

  // Another window is active when the browser calls back.
  Display* d = tx::display();
  Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 900, 650, 100, 100, 0, 0, 0);
  XMapWindow(d, other);
  XSync(d, False);
  x("xdotool windowactivate --sync " + std::to_string(other));
  ASSERT_TRUE(waitFor([&] { return activeWindow() == other; }, 10));
  show("Given to xdg-open", {callback(state)});
  w.xdgOpen(callback(state));
  EXPECT_TRUE(waitFor([&] { return activeWindow() == w.window(); }, 10));
  XDestroyWindow(d, other);
  XSync(d, False);
  ASSERT_TRUE(w.waitPage("settings")) << w.run().log();
  std::vector<std::string> tickets;
  for (httptest::Received& r : hosted.standin.requests())
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
  ASSERT_TRUE(waitFor([&] { return product.seen().size() >= 5; }));
  std::vector<std::string> seen = product.seen();
  const std::string viewer = "tlzarnconnect -signInToken ";
  ASSERT_EQ(5u, seen.size());
  EXPECT_EQ("tlzarnserver-x11 -service -joincloud", seen[1].substr(0, seen[1].rfind(' ')));
  EXPECT_EQ("token SVR", seen[2]);
  EXPECT_EQ(viewer, seen[3].substr(0, viewer.size()));
  EXPECT_EQ("token VWR", seen[4]);
  unlink(seen[3].substr(viewer.size()).c_str());
  const std::vector<std::string> ctrlSeen = ctrl.messages();
  EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), ctrlSeen);
  std::vector<std::string> settings = w.serverSettings();
  ASSERT_EQ(4u, settings.size()) << tltest::joinLines(settings);
  EXPECT_EQ((std::vector<std::string>{"Authentication=ZarnAuth", "EnableAnalytics=1",
                                      "EnableAutoUpdateChecks=1"}),
            std::vector<std::string>(settings.begin(), settings.begin() + 3));
  plat::MBuf<unsigned char> stored;
  plat::hexToBin(settings[3].substr(9).c_str(), stored);
  EXPECT_EQ("Password=", settings[3].substr(0, 9));
  EXPECT_TRUE(svr::checkPassword("s3cret-pw", stored, nullptr));
  EXPECT_FALSE(svr::checkPassword("s3cret-pX", stored, nullptr));
  EXPECT_EQ("EnableAnalytics=1\n", w.viewerSettings());
  std::vector<std::string> wizard = said(r.log);
  wizard.push_back("exit status " + std::to_string(r.status));
  show("Wizard", wizard);
  show("Authentication stand-in", tickets);
  show("Product programs", seen);
  show("Control channel stand-in", ctrlSeen);
  show("Server settings", settings);
}

// The settings page after a dry run (stored credentials), driven with the
// pointer: the login credentials chosen and both boxes cleared, launch
// double-clicked while the server's control channel never answers. The
// settings go out once, the helper's time-out shows in a message box over
// the wizard, and the product is launched once the box is answered.
TEST_F(WizardRoad, SettingsFailureStillLaunches)
{
  FakeProduct product;
  tltest::commandOutput("dpkg -i " + product.deb() + " >/dev/null");
  const std::string uri = dryRunPackage();
  tltest::FakeServer ctrl(controlPipe(), {"--silent"});
  Wizard w("settings", tools_, pkg_, uri, {"-_NoInstall=1", "-_ForceSettingsPage=1"},
           tltest::kTestFeatures | tltest::kCredentials);
  ASSERT_TRUE(w.up()) << w.run().log();
  ASSERT_TRUE(w.click("initial.install"));
  ASSERT_TRUE(w.waitPage("settings")) << w.run().log();

  // Where a content element is in the window: its state's place, moved by
  // the header (80 pixels) and the content frame's margin (50 across).
  auto place = [&](const char* name) {
    std::string state = w.command(std::string("state SetupDlg.settings.") + name);
    int x = 0, y = 0, width = 0, height = 0;
    sscanf(state.c_str() + state.find("pos "), "pos %d,%d\nsize %d,%d", &x, &y, &width, &height);
    return std::vector<int>{50 + x, 80 + y, width, height};
  };
  const std::string window = std::to_string(w.window());
  auto clickAt = [&](int across, int down) {
    x("xdotool mousemove --window " + window + " " + std::to_string(across) + " " +
      std::to_string(down) + " click 1");
  };
  // The choice's row lies between the second text and the info frame; the
  // boxes' marks at their left.
  const std::vector<int> text2 = place("text2"), info = place("info"), sysAuth = place("sysAuth");
  clickAt(sysAuth[0] + 8, (text2[1] + text2[3] + info[1]) / 2);
  for (const char* box : {"analytics", "updates"}) {
    const std::vector<int> at = place(box);
    clickAt(at[0] + 8, at[1] + at[3] / 2);
  }
  ASSERT_TRUE(
      waitFor([&] { return has(w.command("state SetupDlg.settings.updates"), "value 0\n"); }, 10));
  // The password block hidden.
  for (const char* seen :
       {"sysAuth value 1", "analytics value 0", "pwd1 shown 0", "pwd2 shown 0"}) {
    const std::string name(seen, strchr(seen, ' '));
    EXPECT_TRUE(has(w.command("state SetupDlg.settings." + name), seen + name.size() + 1)) << seen;
  }
  w.picture("settings-sysAuth");

  // The second press comes while the helper waits for the server.
  const std::string launch = pageButton(w.window());
  ASSERT_NE("", launch);
  x("xdotool mousemove --window " + window + " " + launch + " click --repeat 2 1");
  std::string box = x("timeout 20 xdotool search --sync --onlyvisible --classname '^messagebox$'");
  ASSERT_NE("", box) << w.run().log();
  box.pop_back();
  char owner[32];
  snprintf(owner, sizeof owner, "# 0x%lx\n", w.window());
  EXPECT_TRUE(has(x("xprop -id " + box + " WM_TRANSIENT_FOR"), owner));
  tltest::loopFor(300);
  Display* d = tx::display();
  EXPECT_TRUE(tltest::screenshot(DefaultRootWindow(d), DisplayWidth(d, DefaultScreen(d)),
                                 DisplayHeight(d, DefaultScreen(d)), "settings-failed-box"));
  EXPECT_FALSE(has(w.run().log(), "SetupDlg: Launching"));
  x("xdotool windowactivate --sync " + box + " key Return");
  ASSERT_TRUE(w.run().waitForLog("SetupDlg: Exiting")) << w.run().log();
  tltest::ProgramRun::Result r = w.run().finish();
  EXPECT_EQ(0, r.status) << r.err;
  const std::string failed =
      "SettingsPage: Storing the settings failed: [TimedOut] Timed out waiting for response from "
      "ZARN Server\n";
  EXPECT_TRUE(has(r.log, failed)) << r.log;
  EXPECT_EQ(r.log.find(failed), r.log.rfind(failed));
  EXPECT_EQ((std::vector<std::string>{"Using trusted certs from " + pkg_.caPem(),
                                      "Installed, next page settings", "Launching", "Exiting"}),
            said(r.log));

  // The helper stored them, then found the server silent.
  EXPECT_EQ((std::vector<std::string>{"Authentication=SystemAuth", "EnableAnalytics=0",
                                      "EnableAutoUpdateChecks=0"}),
            w.serverSettings());
  EXPECT_EQ((std::vector<std::string>{"verifyChannel "}), ctrl.messages());
  EXPECT_EQ("EnableAnalytics=0\n", w.viewerSettings());
  ASSERT_TRUE(waitFor([&] { return !product.seen().empty(); }, 10));
  EXPECT_EQ((std::vector<std::string>{"tlzarnconnect"}), product.seen());
}

// --- The error roads -----------------------------------------------------------

// The device password typed twice.
void typePasswords(Wizard& w, const std::string& first, const std::string& second)
{
  EXPECT_EQ("1\n", w.command("settext SetupDlg.settings.pwd1.hidden " + first));
  EXPECT_EQ("1\n", w.command("settext SetupDlg.settings.pwd2.hidden " + second));
}

// How a road starts.
enum Start : unsigned {
  kDryRun = 1,   // the tool's command line is its output; the product installed beforehand
  kSignIn = 2,   // the user signs up; the hosted stand-in answers both tickets
  kRefused = 4,  // it refuses the viewer's ticket with a hosted error
  kSettings = 8, // credentials stored: the settings page follows the install
  kHeld = 16,    // the elevation waits for the test's gate
};

struct Step {
  ~Step()
  {
    if (!readOnly.empty())
      chmod(readOnly.c_str(), 0700);
  }
  Wizard& w;
  const FakeProduct& product;
  std::string readOnly = ""; // a folder made read-only, restored afterwards
};

struct Road {
  const char* name;
  unsigned start;
  std::vector<std::string> switches; // the product's stand-ins, "point" or "point=value"
  std::vector<std::string> args;
  std::function<void(Step&)> act; // after the install button (and the sign-up)
  std::string page;               // where the user ends; "" when the program ended
  std::string text = "";          // the error page's text, a regular expression
  bool output = false;            // the output button shows
  std::string logged = "";
  std::function<void(Step&)> then = nullptr; // on the end page
};

// Cancelled while the pre-install script holds: the package tool is gone
// within a second.
void cancelWhileInstalling(Step& s)
{
  ASSERT_TRUE(waitFor(
      [&] {
        return atoi(s.w.command("listitems SetupDlg.install.progress").c_str()) > 10 &&
               !readWholeFile(s.product.record + ".tool").empty();
      },
      120))
      << s.w.run().log();
  const pid_t tool = atoi(readWholeFile(s.product.record + ".tool").c_str());
  ASSERT_TRUE(s.w.click("install.cancel"));
  const plat::Time pressed = plat::getMonoTime();
  EXPECT_TRUE(waitFor([&] { return kill(tool, 0) != 0; }, 10));
  EXPECT_LT(plat::getMonoTime() - pressed, plat::kTicksPerSecond);
  s.product.unset("hold.preinst"); // its script, left behind, ends
  EXPECT_FALSE(FakeProduct::installed()) << FakeProduct::status();
  EXPECT_NE(0, access("/usr/lib/tlzarnconnect", F_OK));
}

// Launch pressed with passwords the rules refuse: nothing reaches the
// helper (which would have read it within the second waited).
void refusedPasswords(Step& s)
{
  ASSERT_TRUE(s.w.waitPage("settings"));
  for (const char* second : {"12345", "s3cret-pX"}) {
    typePasswords(s.w, second[0] == '1' ? "12345" : "s3cret-pw", second);
    ASSERT_TRUE(s.w.click("settings.launch"));
    EXPECT_TRUE(has(s.w.command("state SetupDlg.settings.aux1.error"), "shown 1\n"));
    s.w.picture(std::string("settings-refused") + second);
  }
  usleep(1000000);
  EXPECT_FALSE(has(s.w.run().log(), "read message SvrSettings"));
  EXPECT_FALSE(has(s.w.run().log(), "SetupDlg: Launching"));
}

// Launch with a good password; the control channel's stand-in given.
void launchSettings(Step& s, const std::vector<std::string>& ctrlOptions)
{
  tltest::FakeServer ctrl(controlPipe(), ctrlOptions);
  ASSERT_TRUE(waitFor([&] { return s.w.page() == "settings"; })) << s.w.run().log();
  typePasswords(s.w, "s3cret-pw", "s3cret-pw");
  ASSERT_TRUE(s.w.click("settings.launch"));
  EXPECT_EQ(ctrlOptions.empty() ? "reload " : "killed", ctrl.messages().back());
}

// The session folder, where the tokens go, read-only while Launch is
// pressed: the product is not started.
void tokenFolderReadOnly(Step& s)
{
  ASSERT_TRUE(s.w.waitPage("settings")) << s.w.run().log();
  const std::string log = s.w.run().log(), from = "Installing Tessaly Daziziz from ";
  const size_t at = log.find(from) + from.size();
  const std::string file = log.substr(at, log.find('\n', at) - at);
  s.readOnly = file.substr(0, file.rfind('/'));
  ASSERT_EQ(0, chmod(s.readOnly.c_str(), 0500)) << s.readOnly;
  launchSettings(s, {});
  EXPECT_TRUE(s.w.run().waitForLog("SetupDlg: Launching\n"));
  EXPECT_FALSE(has(s.w.run().log(), "SetupDlg: Exiting"));
  EXPECT_FALSE(has(readWholeFile(s.product.record), "tlzarnconnect"));
}

// "Try again", pressed with the pointer, while that folder cannot go.
void retryKeepingTheFolder(Step& s)
{
  x("xdotool mousemove --window " + std::to_string(s.w.window()) + " " + pageButton(s.w.window()) +
    " click 1");
  EXPECT_TRUE(s.w.waitPage("initial", 10)) << s.w.run().log();
  EXPECT_TRUE(has(s.w.run().log(), "SetupDlg: Removing /tmp/"));
}

// Closed while the elevation waits: the program ends; the helper started
// afterwards finds no wizard and ends too.
void closeWhileElevating(Step& s)
{
  ASSERT_TRUE(s.w.waitPage("install"));
  ASSERT_TRUE(s.w.run().waitForLog("AdminHelperClient: Starting helper"));
  askToClose(s.w.window());
  EXPECT_TRUE(waitFor([&] { return s.w.run().ended(); }, 10)) << "the wizard hangs";
  tltest::commandOutput("touch " + s.w.run().home() + "/elevate.go");
  EXPECT_TRUE(waitFor([&] { return !readWholeFile(s.w.run().home() + "/elevated").empty(); }));
  EXPECT_TRUE(waitFor(
      [&] { return tltest::commandOutput("pgrep -f '^" TL_PROGRAM " -helper' || true").empty(); },
      10));
}

// The output box, then a retry that installs.
void outputAndRetry(Step& s)
{
  // The click is answered once the box is.
  s.w.send("click SetupDlg.error.cmdOutBtn");
  std::string box = x("timeout 20 xdotool search --sync --onlyvisible --classname '^messagebox$'");
  ASSERT_NE("", box) << s.w.run().log();
  box.pop_back();
  EXPECT_TRUE(has(x("xprop -id " + box + " WM_NAME"),
                  "\"Tessaly Daziziz Setup - Install command output\""));
  usleep(300000);
  Display* d = tx::display();
  EXPECT_TRUE(tltest::screenshot(DefaultRootWindow(d), DisplayWidth(d, DefaultScreen(d)),
                                 DisplayHeight(d, DefaultScreen(d)), "road-output-box"));
  x("xdotool windowactivate --sync " + box + " key Return");
  EXPECT_EQ("1\n", s.w.reply());
  s.product.unset("fail.preinst");
  ASSERT_TRUE(s.w.click("error.retry"));
  ASSERT_TRUE(s.w.waitPage("initial"));
  ASSERT_TRUE(s.w.click("initial.install"));
  ASSERT_TRUE(s.w.waitPage("signInChoose", 120)) << s.w.run().log();
  EXPECT_TRUE(FakeProduct::installed());
}

// clang-format off
const Road kRoads[] = {
    {"CancelWhileThePackageToolRuns", 0, {"hold.preinst"}, {}, cancelWhileInstalling,
     "error", "Installation cancelled", true, "Admin: AdminHelper: read message RunCmdCancel"},
    {"RefusedDevicePasswords", kDryRun | kSettings, {}, {}, refusedPasswords, "settings"},
    {"ElevationRefused", kDryRun, {}, {"-ElevateCmd=/usr/bin/sudo -n -u nobody"}, nullptr,
     "error", "Elevation failed", false, "AdminHelperClient: NOT launched"},
    {"HelperDiesInstalling", 0, {"kill.preinst"}, {}, nullptr,
     "error", "Elevation failed", false, "Helper process died"},
    {"HelperDiesJoining", kDryRun | kSignIn, {"kill.tlzarnserver-x11"}, {}, nullptr,
     "error", "Elevation failed", false, "Helper process died"},
    {"HelperDiesWritingSettings", kDryRun | kSettings, {}, {},
     [](Step& s) { launchSettings(s, {"--kill-peer"}); },
     "error", "Elevation failed", false, "Helper process died"},
    {"ToolFailsWithOutputThenRetrySucceeds", 0, {"fail.preinst"}, {}, nullptr,
     "error", "Error code: 1", true, "Pkg: pre-install refused", outputAndRetry},
    {"RedemptionRefused", kDryRun | kSignIn | kRefused, {}, {}, nullptr,
     "error", "Hosted Application error: HTTP Forbidden"},
    {"JoinFails", kDryRun | kSignIn, {"status.tlzarnserver-x11=5"}, {}, nullptr,
     "error", "Post-install error code: 5"},
    {"ClosedWhileElevating", kDryRun | kHeld, {}, {}, closeWhileElevating, ""},
    {"ViewerTokenNotWritable", kDryRun | kSignIn, {}, {}, tokenFolderReadOnly,
     "error", "fileOpenFd\\(/tmp/.*/vwrToken\\): Permission denied \\(13\\)", false, "",
     retryKeepingTheFolder},
};
// clang-format on

void PrintTo(const Road& road, std::ostream* out)
{
  *out << road.name;
}

class ErrorRoad : public WizardRoad, public ::testing::WithParamInterface<Road> {};

// The root copies the helpers made.
std::set<std::string> copies()
{
  const std::vector<std::string> l =
      tltest::commandLines("ls -d /root/.zarn/copies-* 2>/dev/null || true");
  return std::set<std::string>(l.begin(), l.end());
}

TEST_P(ErrorRoad, EndsAsPrescribed)
{
  const Road& road = GetParam();
  FakeProduct product;
  for (const std::string& sw : road.switches)
    product.set(sw.substr(0, sw.find('=')),
                sw.find('=') == std::string::npos ? "" : sw.substr(sw.find('=') + 1));
  std::vector<std::string> args = road.args;
  std::string uri;
  if (road.start & kDryRun) {
    tltest::commandOutput("dpkg -i " + product.deb() + " >/dev/null");
    args.push_back("-_NoInstall=1");
    uri = dryRunPackage();
  } else {
    pkg_.serve(tltest::readFile(product.deb()));
    uri = pkg_.uri("pkg/whole", FakeProduct::kName + ".deb");
  }
  if (road.start & kSettings)
    args.push_back("-_ForceSettingsPage=1");
  if (road.start & kHeld)
    args.push_back("-ElevateCmd=" + tools_.dir / "elevate" + " /usr/bin/sudo -n");
  std::unique_ptr<Hosted> hosted(road.start & kSignIn ? new Hosted(0, road.start & kRefused)
                                                      : nullptr);
  const std::set<std::string> before = copies();

  Wizard w((std::string("road-") + road.name).c_str(), tools_, pkg_, uri, args,
           road.start & kSettings ? tltest::kTestFeatures | tltest::kCredentials
                                  : tltest::kTestFeatures);
  ASSERT_TRUE(w.up()) << w.run().log();
  ASSERT_TRUE(w.click("initial.install"));
  if (road.start & kSignIn)
    w.xdgOpen(callback(signUp(w)));
  Step step{w, product};
  if (road.act)
    road.act(step);
  if (!road.page.empty()) {
    ASSERT_TRUE(waitFor([&] { return w.page() == road.page || w.run().ended(); }, 120))
        << w.run().log();
    ASSERT_EQ(road.page, w.page());
    if (road.page == "error") {
      const std::string log = w.run().log(), shown = "SetupDlg: Error page: ";
      const size_t at = log.find(shown) + shown.size();
      const std::string text = log.substr(at, log.find('\n', at) - at);
      EXPECT_TRUE(plat::Regex::create(("^" + road.text + "$").c_str(), 0)->search(text.c_str()))
          << text;
      EXPECT_TRUE(has(w.command("state SetupDlg.error.cmdOutBtn"),
                      road.output ? "shown 1\n" : "shown 0\n"));
    }
    EXPECT_TRUE(w.run().waitForLog(road.logged)) << w.run().log();
    if (road.then)
      road.then(step);
    EXPECT_EQ("1\n", w.command("select SetupDlg.langs 1"));
    w.picture(w.page() + "-de");
  }

  // Closed as the window manager asks; a hang fails here.
  if (!w.run().ended())
    askToClose(w.window());
  const bool ended = waitFor([&] { return w.run().ended(); }, 10);
  tltest::ProgramRun::Result r = w.run().finish(ended ? 0 : SIGKILL);
  EXPECT_TRUE(ended);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(has(r.log, "SetupDlg: Dialog closed\n"));

  // Nothing stays: only a killed helper leaves its copies, the package goes.
  std::set<std::string> left = copies();
  for (const std::string& c : before)
    left.erase(c);
  const bool killed = std::any_of(road.switches.begin(), road.switches.end(),
                                  [](const std::string& sw) { return sw.rfind("kill.", 0) == 0; });
  EXPECT_TRUE(killed || left.empty()) << *left.begin();
  for (const std::string& c : left)
    tltest::commandOutput("rm -rf '" + c + "'");
  FakeProduct::purge();
  EXPECT_TRUE(FakeProduct::gone()) << FakeProduct::status();
}

INSTANTIATE_TEST_SUITE_P(Rows, ErrorRoad, ::testing::ValuesIn(kRoads),
                         [](const ::testing::TestParamInfo<Road>& info) {
                           return info.param.name;
                         });

} // namespace
