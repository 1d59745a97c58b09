// The wizard dialog and its installation pages on the UI model's fake
// back-end: the window, the language choice, the legal links, and the road
// from the install button through the download from an HTTPS stand-in (test
// CA through `_CertsPem`) to the package tool run by the real admin helper
// (a dry run: the tool's command line is its output), ending on the error
// page whenever something fails.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "authStandIn.h"
#include "ctrlcommsFake.h"
#include "httpTestUtil.h"
#include "loc/Localize.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/MuButtonBar.h"
#include "mui/Mui.h"
#include "mui/MuiComms.h"
#include "muiFake.h"
#include "muimisc/ProgressBar.h"
#include "netTestUtil.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "os/dirs.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/File.h"
#include "plat/TestFeatures.h"
#include "product/addresses.h"
#include "rootdir.h"
#include "svr/Encryption.h"
#include "tlutil/ConfigFile.h"
#include "testutil.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SessionDir.h"
#include "tlOrbSetup/SettingsPage.h"
#include "tlOrbSetup/SetupApp.h"
#include "tlOrbSetup/SetupDlg.h"
#include "tlOrbSetup/SignInPage.h"

using namespace tlOrbSetup;

namespace {

tltest::CaptureDest capture("wizcapture", tltest::CaptureDest::kSourceText);
std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};

// Above the wizard's own settings, except `Locale`, which it sets itself.
void set(const char* name, const char* value)
{
  int priority = strcmp(name, "Locale") == 0 ? plat::kPriorityPolicy : plat::kPriorityPolicy + 1;
  ASSERT_TRUE(plat::Configuration::global().set(name, value, priority)) << name;
}

class SetupDlgTest : public ::testing::Test {
public:
  void SetUp() override
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    tltest::bindFakeBackEnd();
    static bool localized = (loc::Localize::instance()->init({}), true);
    (void)localized;
    mui::Mui::setMetrics(mui::Mui::kDefaultMetrics);
    os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
    httptest::prepareProcess();
    os::setTmpDirForTest(tmp_.path().c_str());
    plat::setTestFeaturesDirsForTests(&keyDirs);
    plat::resetTestFeaturesGateForTests();
    set("_CertsPem", ca_.path("ca.pem").c_str());
    set("Locale", "en");
    set("_NoInstall", "1");
    oldConfigDir_ = os::getConfigDir() ? os::getConfigDir() : "";
    os::setConfigDir(config_.path().c_str());
    AdminHelperClient::setProgramForTest(TL_PROGRAM);
    plat::setLogOverride("*:wizcapture:100");
    capture.clear();
  }
  void TearDown() override
  {
    dlg_.reset();
    nettest::settle(os::AppLoop::selectManager());
    AdminHelperClient::setProgramForTest(nullptr);
    for (const char* p : {"_CertsPem", "Locale", "_NoInstall", "_OrbUri", "_ForceSettingsPage", "_PortalUri"})
      set(p, "");
    set("_SignInTimeoutSecs", "600");
    os::setConfigDir(oldConfigDir_.c_str());
    os::setTmpDirForTest(nullptr);
    plat::setLogOverride(nullptr);
  }

  mui::MuElement* find(const char* path) { return dlg_->dialog()->findElement(path); }
  void click(const char* path)
  {
    mui::MuElement* e = find(path);
    ASSERT_TRUE(e) << path;
    ASSERT_TRUE(e->doAction("click", nullptr)) << path;
  }
  std::string markup(const char* path)
  {
    mui::MuElement* e = find(path);
    return e ? static_cast<mui::MuText*>(e)->markup() : "<no " + std::string(path) + ">";
  }
  void act(const char* path, const char* action, const char* argument)
  {
    mui::MuElement* e = find(path);
    ASSERT_TRUE(e) << path;
    ASSERT_TRUE(e->doAction(action, argument)) << path << " " << action;
  }
  // The settings page's password message, "" while it is hidden.
  std::string passwordMessage()
  {
    if (!find("settings.aux1.error")->isShown())
      return "";
    std::string m = markup("settings.aux1.error.split.textLayout.text");
    return m.substr(m.find('>') + 1, m.rfind("</div>") - m.find('>') - 1);
  }
  std::string label(const char* path) { return find(path)->getLabel(); }
  bool runUntil(const std::function<bool()>& done)
  {
    return nettest::runUntil(os::AppLoop::selectManager(), done, 60000);
  }
  // The page on show, by its root's name; the deck shows only the current.
  std::string page()
  {
    Page* p = dlg_->currentPage();
    mui::MuPager* deck = dlg_->deck();
    EXPECT_NE(0u, deck->kind()); // a deck without tabs
    if (!p || deck->getChild(deck->current()) != p->root())
      return "?";
    return p->root()->getName();
  }
  // Waits for the error page, then lets the loop settle: it must stay.
  std::string errorShown()
  {
    EXPECT_TRUE(runUntil([&] { return page() == "error"; })) << page();
    nettest::settle(os::AppLoop::selectManager());
    EXPECT_EQ("error", page());
    EXPECT_EQ(nullptr, dlg_->pkg());
    EXPECT_EQ(nullptr, dlg_->downloadPage());
    return markup("error.detail") + (find("error.cmdOutBtn")->isShown() ? " +output" : "");
  }
  // The package URI on the stand-in.
  void serve(const httptest::Script& script, const std::string& path)
  {
    server_.reset(new httptest::ScriptedServer(script, cert_, ca_.path("dl.key")));
    std::string uri = path[0] == '/' ? "https://localhost:" + std::to_string(server_->port()) + path : path;
    set("_OrbUri", uri.c_str());
  }

  os::AppLoop loop_;
  tltest::TempDir tmp_{"wiztmp"}, config_{"wizcfg"};
  httptest::TestCa ca_;
  std::string cert_ = ca_.server("dl", "DNS:localhost");
  std::string oldConfigDir_;
  std::unique_ptr<httptest::ScriptedServer> server_;
  std::unique_ptr<SetupDlg> dlg_;
};

const std::string kDeb = "fake deb body";
std::string ok(const std::string& body)
{
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string div(const std::string& inner)
{
  return "<div style=\"text-align:center\">" + inner + "</div>";
}

TEST_F(SetupDlgTest, WindowLanguagesAndLegalLinks)
{
  const char* names[] = {"English", "Deutsch", "Español", "Français", "Português (Brasil)"};
  const char* codes[] = {"en", "de", "es", "fr", "pt"};
  for (const char* locale : {"it", "pt_BR"}) {
    set("Locale", locale);
    dlg_.reset(new SetupDlg(loadedCloudConfig()));
    EXPECT_STREQ(locale[0] == 'i' ? "English" : "Português (Brasil)", dlg_->languageChoice()->text().str());
  }
  auto* d = static_cast<tltest::FakeDialog*>(dlg_->dialog());
  EXPECT_STREQ("SetupDlg", d->getName());
  EXPECT_EQ(mui::Size(560, 460), tltest::fakeOf(d).size);
  EXPECT_EQ(mui::MuDialog::kFixedSize | mui::MuDialog::kNoHide, d->dialogFlags());
  for (int i = 0; i < 5; i++) {
    SCOPED_TRACE(codes[i]);
    ASSERT_TRUE(find("langs")->doAction("select", std::to_string(i).c_str()));
    EXPECT_STREQ(names[i], dlg_->languageChoice()->text().str());
    EXPECT_EQ("Tessaly Daziziz Setup", d->title);
    EXPECT_EQ(loc::Localize::instance()->getTexts(codes[i])["tlOrbSetup_initial_accept_and_install"],
              label("initial.install"));
  }
  const std::string site = plat::Configuration::global().getStringParam("_ProductUri").getValue();
  EXPECT_NE(std::string::npos,
            find("initial.eula")->getState().get() ? std::string(find("initial.eula")->getState().get())
                                                          .find("0 " + site + "/legal/#eulas\n1 " + site +
                                                                "/legal/#privacy\n")
                                                    : std::string::npos)
      << find("initial.eula")->getState().get();
  // The header and the page button's look.
  auto* install = static_cast<mui::MuButton*>(find("initial.install"));
  EXPECT_STREQ("bluebtnbg", install->imageName());
  EXPECT_EQ(140, install->effectiveStyle().size);
  EXPECT_STREQ("white", install->effectiveStyle().color.str());
}

TEST_F(SetupDlgTest, DownloadInstallAndNextPage)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  serve({{"pkg", {ok(kDeb)}}}, "/pkg/bytes/Tessaly.deb");
  const struct {
    const char* name;
    bool credentials, forceSettings;
    std::string next;
  } cases[] = {
      {"no credentials", false, false, "signInChoose"},
      {"credential file", true, false, "simpleLaunch"},
      {"forced settings", true, true, "settings"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.credentials) {
      mkdir((config_ / "tlzarnconnect.d").c_str(), 0700);
      config_.write("tlzarnconnect.d/CloudCredentials.bed", "x");
    }
    set("_ForceSettingsPage", c.forceSettings ? "1" : "0");
    capture.clear();
    dlg_.reset(new SetupDlg(loadedCloudConfig()));
    click("initial.install");
    EXPECT_EQ("download", page());
    EXPECT_TRUE(dlg_->mayClose(dlg_->dialog()));
    ASSERT_TRUE(runUntil([&] { return page() == "install" && dlg_->installPage()->busy(); })) << page();
    EXPECT_FALSE(dlg_->mayClose(dlg_->dialog()));
    EXPECT_FALSE(dlg_->dialog()->requestClose());
    EXPECT_EQ(65535, dlg_->downloadPage()->bar()->value());
    ASSERT_TRUE(runUntil([&] { return !dlg_->installPage()->busy(); }));
    // The dry run's one line moved the bar.
    const int32_t n = dlg_->installPage()->bytes();
    EXPECT_GT(n, 10);
    EXPECT_EQ(installBarValue(n), dlg_->installPage()->bar()->value());
    EXPECT_TRUE(capture.saw("SetupDlg: Installed, next page " + c.next)) << capture.all();
    EXPECT_EQ(c.next, page());
    EXPECT_TRUE(dlg_->mayClose(dlg_->dialog()));
    if (c.next == "simpleLaunch") {
      EXPECT_EQ(div("<span style=\"font-size:117%;font-weight:700;\">Installation Successful</span>"),
                markup("simpleLaunch.text"));
      // Nothing was installed by the dry run.
      click("simpleLaunch.launch");
      click("simpleLaunch.launch"); // queued behind the first
      EXPECT_EQ(1, capture.count("SetupDlg: Launching"));
      EXPECT_TRUE(capture.saw("SetupDlg: Error launching: No executable found"));
      EXPECT_EQ(div("No executable found"), errorShown());
    }
  }
}

TEST_F(SetupDlgTest, FailuresEndOnTheErrorPage)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  const std::string base = "/pkg/whole/";
  // Half the body, then the rest never (the held request).
  const std::string held = ok(std::string(1000, 'd'));
  const std::string hold = "/held/hold-" + std::to_string(held.size() - 500) + "/T.deb";
  const struct {
    const char* name;
    std::string path;
    std::function<void(SetupDlgTest*)> during;
    std::string shown;
    bool testFeatures = true;
  } cases[] = {
      {"not found", "/missing/whole/T.deb", nullptr, "HTTP status 404 (Not Found)"},
      // Failures reported from inside the call that started the step.
      {"no file name", base, nullptr, "Bad package URI https://localhost:PORT" + base},
      {"no install command", base + "T.tar", nullptr, "No suitable install command found"},
      {"cancelled", hold,
       [](SetupDlgTest* t) {
         muimisc::ProgressBar* bar = t->dlg_->downloadPage()->bar();
         ASSERT_TRUE(t->runUntil([&] { return bar->value() > 0; }));
         EXPECT_STREQ("50%", bar->getItems().get());
         t->click("download.cancel");
       },
       "Download cancelled"},
      {"elevation fails", base + "T.deb",
       [](SetupDlgTest*) { AdminHelperClient::setProgramForTest("/nonexistent/helper"); },
       "Elevation failed"},
      // Without test features `_CertsPem` is ignored and plain HTTP refused.
      {"test CA without test features", base + "T.deb", nullptr,
       "Error connecting: X.509 Error: Unknown issuer or bad signature", false},
      {"plain HTTP without test features", "http://localhost:1/pkg/whole/T.deb", nullptr,
       "Scheme http not supported by this HTTP client", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    serve({{"held", {held}}, {"pkg", {ok(kDeb)}}}, c.path);
    static std::vector<plat::String> none;
    plat::setTestFeaturesDirsForTests(c.testFeatures ? &keyDirs : &none);
    plat::resetTestFeaturesGateForTests();
    capture.clear();
    dlg_.reset(new SetupDlg(loadedCloudConfig()));
    EXPECT_TRUE(capture.saw("SetupDlg: Using trusted certs from " +
                            (c.testFeatures ? ca_.path("ca.pem") : "built-in resource")));
    click("initial.install");
    if (c.during)
      c.during(this);
    std::string shown = c.shown;
    size_t port = shown.find("PORT");
    if (port != std::string::npos)
      shown.replace(port, 4, std::to_string(server_->port()));
    EXPECT_EQ(div(shown), errorShown());
    AdminHelperClient::setProgramForTest(TL_PROGRAM);
  }
  // The helper coming up after its page went does nothing.
  dlg_->helperLaunched();
  EXPECT_TRUE(capture.saw("SetupDlg: Helper launched without an install page"));

  // Retry: the installer directory goes, the same initial page is back,
  // and the next install makes a new package and download page.
  InitialPage* initial = dlg_->initialPage();
  getInstallerSessionDir();
  click("error.retry");
  EXPECT_EQ("initial", page());
  EXPECT_EQ(initial, dlg_->initialPage());
  EXPECT_FALSE(plat::pathExists(getInstallerDir().str()));
  click("initial.install");
  EXPECT_EQ("download", page());
  EXPECT_NE(nullptr, dlg_->pkg());
}

// A cancel during installation shows the output that had arrived; the
// output box opens once however often the button is pressed.
TEST_F(SetupDlgTest, InstallCancelledWithOutput)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  serve({{"pkg", {ok(kDeb)}}}, "/pkg/whole/T.deb");
  dlg_.reset(new SetupDlg(loadedCloudConfig()));
  click("initial.install");
  ASSERT_TRUE(runUntil([&] { return page() == "install" && dlg_->installPage()->busy(); }));
  dlg_->installPage()->output(nullptr, 6, "line1\n");
  click("install.cancel");
  EXPECT_EQ(div("Installation cancelled") + " +output", errorShown());
  click("error.cmdOutBtn");
  click("error.cmdOutBtn");
  mui::MuMessageBox* box = dlg_->errorPage()->outputBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(mui::Size(600, 400), tltest::fakeOf(box->dialog()).size);
  // However long the output, the box keeps its height and its buttons.
  // (The fake frame measures its content as a frame back-end would.)
  mui::MuElement* frame = box->dialog()->findElement("main.frame");
  tltest::fakeOf(frame).preferredHeightFor = [frame](int w) {
    return static_cast<mui::MuContainer*>(frame)->getChild(0)->preferredHeight(w) + 16;
  };
  tltest::fakeOf(box->dialog()->findElement("main.frame.info.scroll.msg")).setPreferred(560, 1 << 20);
  tltest::fakeOf(box->buttonBar()->find(mui::MuButtonBar::kOk)).setPreferred(80, 30);
  box->setFixedSize(mui::Size(600, 400));
  box->dialog()->relayout();
  EXPECT_EQ(400, box->dialog()->getSize().y);
  EXPECT_GT(box->dialog()->findElement("main.frame")->getSize().y, 300);
  EXPECT_EQ(1, (int)std::count_if(mui::Mui::instance().dialogs().begin(), mui::Mui::instance().dialogs().end(),
                                  [&](const auto& d) { return d.second != dlg_->dialog(); }));
}

// Closing the window during the download ends the program 100 ms later.
TEST_F(SetupDlgTest, ClosingDuringDownload)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  serve({{"pkg", {ok(kDeb)}}}, "/pkg/hold-10/T.deb");
  dlg_.reset(new SetupDlg(loadedCloudConfig()));
  click("initial.install");
  EXPECT_TRUE(dlg_->dialog()->requestClose());
  EXPECT_TRUE(capture.saw("SetupDlg: Dialog closed"));
  EXPECT_EQ(100, dlg_->exitTimer().getInterval());
  EXPECT_TRUE(dlg_->exitTimer().isStarted());
}


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

// After a real installation of the stand-in product (a .deb from the
// HTTPS stand-in, installed by the admin helper): sign up and back, sign
// in, refused callbacks, the good one redeemed at the authentication
// stand-in and the server joined, the settings sent through the helper to
// the control channel's stand-in, and the viewer launched with its token.
TEST_F(SetupDlgTest, SignInSettingsAndLaunch)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "installs the stand-in product through the admin helper";
  tltest::TempDir work("wizroad"), home("wizhome");
  const std::string record = work / "record", fake = "tlzarnconnect-testfake";
  tltest::commandOutput(std::string(TL_TEST_DATA_DIR) + "/make_fake_product.sh " + work.path() + " " + record);
  auto purge = [&] { tltest::commandOutput("dpkg --purge " + fake + " >/dev/null 2>&1; true"); };
  purge();
  // The cloud configuration names the authentication stand-in.
  tltest::RootOnlyDir data;
  ASSERT_FALSE(data.path().empty());
  const std::string keys = TL_BOOTSTRAP_KEYS;
  httptest::AuthStandIn standin(2, data.path(), keys + "/ca.pem");
  httptest::serveBootstrapDocument(standin, keys, standin.url(1));
  for (const char* kind : {"viewer-session", "server-join"}) {
    httptest::Answer a;
    a.headers = {{"Content-Type", "application/json"}};
    a.body = std::string("{\"type\":\"") + kind + "\",\"value\":\"" + (kind[0] == 'v' ? "VWR" : "SVR") + "\"}";
    standin.push(1, a);
  }
  os::setSystemConfigDir(data.path().c_str());
  setOrbUriDefault();
  // The helper's settings go to a profile of their own; the scheme's
  // desktop entry to a home of the test's.
  const std::string profile = "wizroad-" + std::to_string(getpid());
  setenv("ZARN_PROFILE", profile.c_str(), 1);
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.path().c_str(), 1);
  const std::string pipeDir = "/tmp/.zarn-zarnservice";
  mkdir(pipeDir.c_str(), 0700);
  tltest::FakeServer ctrl(pipeDir + "/tlzarnserver-x11.CtrlComms", {});
  set("_NoInstall", "0");
  set("_PortalUri", "https://portal.test");
  set("_SignInTimeoutSecs", "3");
  serve({{"pkg", {ok(tltest::readFile(work / (fake + ".deb")))}}}, "/pkg/whole/" + fake + ".deb");

  dlg_.reset(new SetupDlg(loadedCloudConfig()));
  dlg_->dialog()->setShown(true);
  click("initial.install");
  ASSERT_TRUE(runUntil([&] { return page() == "signInChoose"; })) << page() << capture.all();
  EXPECT_NE(std::string::npos, markup("signInChoose.text").find("Installation Successful"));
  EXPECT_THROW(dlg_->handleUri("example.daziziz.setup://install"), plat::Exception);

  // Sign up, back, then sign in: one state, one registration.
  const std::string state = signingInState().str();
  const std::string entry = home / (".local/share/applications/" + std::string(product::kUriScheme) + ".desktop");
  for (const char* button : {"signInChoose.trial.btn", "signInChoose.signIn.btn"}) {
    SCOPED_TRACE(button);
    click(button);
    EXPECT_EQ("signingIn", page());
    EXPECT_TRUE(capture.saw(std::string("SigningInPage: Opening URL https://portal.test/auth/") +
                            (button[13] == 't' ? "sign_up/software_trial" : "download_first") + "?state=" + state +
                            "&version=8"))
        << capture.all();
    EXPECT_TRUE(dlg_->schemeRegistered());
    EXPECT_EQ(button[13] == 't', plat::pathExists(entry.c_str()));
    unlink(entry.c_str());
    if (button[13] == 't') {
      click("signingIn.goback");
      EXPECT_EQ("signInChoose", page());
      nettest::settle(os::AppLoop::selectManager()); // the pages left go
      EXPECT_EQ(std::string::npos, markup("signInChoose.text").find("Timed out"));
    }
  }
  const std::string base = std::string(product::kUriScheme) + "://";
  // A refused callback (the checks' table is in the rules test) leaves
  // the page waiting.
  try {
    dlg_->handleUri((base + "Install?state=" + state + "&server=ticket-s&viewer=ticket-v").c_str());
    ADD_FAILURE() << "accepted";
  } catch (plat::Exception& e) {
    EXPECT_STREQ("Bad URI endpoint", e.str());
  }
  EXPECT_EQ("signingIn", page());
  dlg_->handleUri((base + "install?state=" + state + "&server=ticket-s&viewer=ticket-v").c_str());
  EXPECT_EQ("applyToken", page());
  ASSERT_TRUE(runUntil([&] { return page() == "settings"; })) << page() << capture.all();
  std::vector<std::string> asked;
  for (const httptest::Received& r : standin.requests())
    if (r.node == 1)
      asked.push_back(r.method + " " + r.path + " " + (r.body.find("ticket-v") != std::string::npos ? "v" : "s"));
  EXPECT_EQ((std::vector<std::string>{"POST /authentication/1.1/tickets/redeem v",
                                      "POST /authentication/1.1/tickets/redeem s"}),
            asked);
  // The sign-in wait is over: its time-out leaves the settings alone.
  nettest::runUntil(os::AppLoop::selectManager(), [] { return false; }, 3500);
  EXPECT_EQ("settings", page());

  // Passwords: no message before any event, then the refusals.
  EXPECT_EQ("", passwordMessage());
  EXPECT_NE(nullptr, dynamic_cast<mui::MuCheck*>(find("settings.zarnAuth")));
  const struct {
    const char *first, *second, *message;
  } pairs[] = {
      {"12345", "12345", "The password must have a minimum of 6 characters."},
      {"123456", "123457", "Passwords don&apos;t match - try again"},
      {"\xc3\xa9\xc3\xa9\xc3\xa9", "\xc3\xa9\xc3\xa9\xc3\xa9", ""},
      {"s3cret!", "s3cret!", ""},
  };
  for (const auto& p : pairs) {
    act("settings.pwd1.hidden", "settext", p.first);
    act("settings.pwd2.hidden", "settext", p.second);
    EXPECT_EQ(p.message, passwordMessage()) << p.first;
  }
  // Revealed, the clear edit holds the text that counts.
  click("settings.pwd1.clearObsBtn");
  act("settings.pwd1.clear", "settext", "s3cret?");
  EXPECT_EQ("Passwords don&apos;t match - try again", passwordMessage());
  act("settings.pwd1.clear", "settext", "s3cret!");
  EXPECT_EQ("", passwordMessage());
  mui::MuElement* block = find("settings.pwd1")->getParent()->getParent();
  act("settings.sysAuth", "click", "1");
  EXPECT_FALSE(block->isShown());
  EXPECT_NE(std::string::npos, markup("settings.info.split.textLayout.text").find("Need Help?"));
  act("settings.zarnAuth", "click", "1");
  EXPECT_TRUE(block->isShown());
  act("settings.analytics", "click", "0");
  act("settings.updates", "click", "0");
  click("settings.launch");
  click("settings.launch"); // waits for the helper's answer
  ASSERT_TRUE(runUntil([&] { return capture.saw("SetupDlg: Exiting"); })) << capture.all();
  EXPECT_EQ(nullptr, dlg_->settingsPage()->errorBox());
  EXPECT_TRUE(dlg_->exitTimer().isStarted());
  // The password is gone from the edits and from every state the channel dumps.
  std::string dump;
  std::istringstream named(mui::MuiComms::execute("lists SetupDlg").get());
  for (std::string line; std::getline(named, line) && !line.empty();) {
    dump += mui::MuiComms::execute(("state SetupDlg." + line.substr(0, line.find(' '))).c_str()).get();
    if (auto* edit = dynamic_cast<mui::MuEdit*>(find(line.substr(0, line.find(' ')).c_str())))
      dump += edit->getSecret().str();
  }
  EXPECT_NE(std::string::npos, dump.find("element Edit\ntype Text\nvalue <hidden>\n")) << dump;
  EXPECT_EQ(std::string::npos, dump.find("s3cret")) << dump;

  // The helper stored the settings in this order, and the server reloaded.
  std::string all = capture.all();
  size_t at = 0;
  for (const char* set : {"Set 'Authentication'='ZarnAuth'", "Set 'EnableAnalytics'='0'",
                          "Set 'EnableAutoUpdateChecks'='0'", "Set 'Password'='<hidden>'"}) {
    size_t found = all.find(set, at);
    EXPECT_NE(std::string::npos, found) << set;
    at = found == std::string::npos ? at : found;
  }
  EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), ctrl.messages());
  const std::string profileDir = "/root/.zarn/profiles/" + profile;
  plat::CaseInsensitiveStringMap stored;
  plat::readConfigFileToMap((profileDir + "/config.d/tlzarnserver-x11").c_str(), stored, nullptr);
  plat::MBuf<unsigned char> hash;
  ASSERT_TRUE(plat::hexToBin(stored[plat::String("Password")].str(), hash));
  EXPECT_TRUE(svr::checkPassword("s3cret!", hash, nullptr));
  EXPECT_STREQ("ZarnAuth", stored[plat::String("Authentication")].str());
  plat::CaseInsensitiveStringMap viewer;
  plat::readConfigFileToMap((config_ / "zarnviewer").c_str(), viewer, nullptr);
  EXPECT_STREQ("0", viewer[plat::String("EnableAnalytics")].str());

  // The server joined with its token, the viewer started with its own.
  ASSERT_TRUE(runUntil([&] { return lines(tltest::readFileIfAny(record)).size() >= 5; }));
  std::vector<std::string> ran = lines(tltest::readFileIfAny(record));
  EXPECT_EQ("token SVR", ran[2]);
  EXPECT_EQ(0u, ran[3].find("tlzarnconnect -signInToken "));
  EXPECT_EQ("token VWR", ran[4]);
  unlink(ran[3].substr(ran[3].rfind(' ') + 1).c_str());

  dlg_.reset();
  purge();
  tltest::commandOutput("rm -rf '" + profileDir + "'");
  setenv("HOME", oldHome.c_str(), 1);
  unsetenv("ZARN_PROFILE");
  os::setSystemConfigDir("");
}

// Settings shown at once (credentials, `_ForceSettingsPage`) after a dry
// run: with no server to reload, the helper's failure is shown in a box and
// the launch goes ahead (failing here: nothing is installed). Then an
// immediate sign-in time-out.
TEST_F(SetupDlgTest, SettingsFailureLaunchesAndSignInTimesOut)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  serve({{"pkg", {ok(kDeb)}}}, "/pkg/whole/T.deb");
  mkdir((config_ / "tlzarnconnect.d").c_str(), 0700);
  config_.write("tlzarnconnect.d/CloudCredentials.bed", "x");
  set("_ForceSettingsPage", "1");
  const std::string profile = "wizfail-" + std::to_string(getpid());
  setenv("ZARN_PROFILE", profile.c_str(), 1);
  unlink("/tmp/.zarn-zarnservice/tlzarnserver-x11.CtrlComms");
  dlg_.reset(new SetupDlg(loadedCloudConfig()));
  dlg_->dialog()->setShown(true);
  click("initial.install");
  ASSERT_TRUE(runUntil([&] { return page() == "settings"; })) << page();
  // Login credentials need no password.
  act("settings.sysAuth", "click", "1");
  click("settings.launch");
  EXPECT_TRUE(dlg_->settingsPage()->pending());
  // The helper's log lines come over their own messages: they may follow its result.
  ASSERT_TRUE(runUntil([&] {
    return capture.saw("SetupDlg: Launching") &&
           capture.saw("Admin: AdminHelper: Set 'Authentication'='SystemAuth'");
  })) << capture.all();
  EXPECT_TRUE(capture.saw("SettingsPage: Storing the settings failed: [System-2] connect: No such file or directory (2)"));
  EXPECT_FALSE(capture.saw("Set 'Password'"));
  EXPECT_EQ(div("No executable found"), errorShown());
  tltest::commandOutput("rm -rf '/root/.zarn/profiles/" + profile + "'");
  unsetenv("ZARN_PROFILE");

  unlink((config_ / "tlzarnconnect.d/CloudCredentials.bed").c_str());
  set("_SignInTimeoutSecs", "0");
  set("_ForceSettingsPage", "0");
  click("error.retry");
  click("initial.install");
  ASSERT_TRUE(runUntil([&] { return page() == "signInChoose"; })) << page();
  // Without a cloud configuration the redemption fails, on a later pass.
  click("signInChoose.signIn.btn");
  dlg_->handleUri(
      (std::string(product::kUriScheme) + "://install?state=" + signingInState().str() + "&server=s&viewer=v").c_str());
  EXPECT_EQ("applyToken", page());
  EXPECT_EQ(div("No cloud configuration"), errorShown());
  click("error.retry");
  click("initial.install");
  ASSERT_TRUE(runUntil([&] { return page() == "signInChoose"; })) << page();
  click("signInChoose.signIn.btn");
  ASSERT_TRUE(runUntil([&] { return page() == "signInChoose" && dlg_->signInChoosePage()->timedOut(); }));
  EXPECT_NE(std::string::npos, markup("signInChoose.text").find("Timed out waiting"));
  EXPECT_TRUE(capture.saw("SetupDlg: Signing in/up timed out"));
}

} // namespace
