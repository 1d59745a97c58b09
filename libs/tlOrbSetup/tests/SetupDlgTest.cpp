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
#include <string>

#include "httpTestUtil.h"
#include "loc/Localize.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/Mui.h"
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
#include "testutil.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SessionDir.h"
#include "tlOrbSetup/SetupDlg.h"

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
    for (const char* p : {"_CertsPem", "Locale", "_NoInstall", "_OrbUri", "_ForceSettingsPage"})
      set(p, "");
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
  std::string markup(const char* path) { return static_cast<mui::MuText*>(find(path))->markup(); }
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
    dlg_.reset(new SetupDlg());
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
    dlg_.reset(new SetupDlg());
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
    dlg_.reset(new SetupDlg());
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
  dlg_.reset(new SetupDlg());
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
  EXPECT_EQ(1, (int)std::count_if(mui::Mui::instance().dialogs().begin(), mui::Mui::instance().dialogs().end(),
                                  [&](const auto& d) { return d.second != dlg_->dialog(); }));
}

// Closing the window during the download ends the program 100 ms later.
TEST_F(SetupDlgTest, ClosingDuringDownload)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "runs the admin helper as root";
  serve({{"pkg", {ok(kDeb)}}}, "/pkg/hold-10/T.deb");
  dlg_.reset(new SetupDlg());
  click("initial.install");
  EXPECT_TRUE(dlg_->dialog()->requestClose());
  EXPECT_TRUE(capture.saw("SetupDlg: Dialog closed"));
  EXPECT_EQ(100, dlg_->exitTimer().getInterval());
  EXPECT_TRUE(dlg_->exitTimer().isStarted());
}

} // namespace
