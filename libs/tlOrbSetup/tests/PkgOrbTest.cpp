// The product package against the real admin helper and the real package
// tools: stand-in product programs packed into a .deb and an .rpm at test
// time, installed with dpkg and rpm, the service started, the display
// manager's file fixed, tickets redeemed at the authentication stand-in,
// the server joined and the viewer launched. The packages go into
// /usr/lib/tlzarnconnect and are removed afterwards. The whole road runs
// once more as the unprivileged test user: downloaded over HTTPS, the
// helper reached through sudo, the server's settings sent to the control
// channel's stand-in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "authStandIn.h"
#include "childio.h"
#include "ctrlcommsFake.h"
#include "hosted/HostedRequest.h"
#include "hostedremoteaccess/CapsClient.h"
#include "hostedremoteaccess/CloudConfig.h"
#include "httpTestUtil.h"
#include "io/FdManager.h"
#include "io/FdSelectManager.h"
#include "loc/Locale.h"
#include "loc/Localize.h"
#include "netTestUtil.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "os/dirs.h"
#include "os/elevate.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/File.h"
#include "plat/Json.h"
#include "plat/Shutdown.h"
#include "plat/Time.h"
#include "rootdir.h"
#include "ssl/HttpsClient.h"
#include "testuser.h"
#include "testutil.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/EngineUi.h"
#include "tlOrbSetup/InstallCommand.h"
#include "tlOrbSetup/PkgOrb.h"

namespace {

using tlOrbSetup::AdminHelperClient;
using tlOrbSetup::EngineUi;
using tlOrbSetup::Pkg;
using tlOrbSetup::PkgOrb;

// An absolute path: __FILE__ may be relative to the build folder.
const std::string kDataDir = TL_TEST_DATA_DIR;
const char* kFakeName = "tlzarnconnect-testfake";

tltest::CaptureDest capture("pkgcapture", tltest::CaptureDest::kSourceText);

bool has(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

// The wizard's side: every callback recorded, message boxes answered from a
// script.
class Wizard : public AdminHelperClient::Callback,
               public AdminHelperClient::SvrSettingsCallback,
               public Pkg::DownloadCallback,
               public Pkg::InstallCallback,
               public Pkg::ApplyTokenCallback,
               public EngineUi {
public:
  void helperLaunched() override { launched++; }
  void helperLaunchFailed(const plat::Exception& e) override { launchError = e.str(); }
  void result(const plat::Exception& e) override
  {
    settingsDone++;
    settingsError = e.str();
  }
  void progress(Pkg*, int64_t received, int64_t total) override
  {
    progressCalls.push_back(std::to_string(received) + "/" + std::to_string(total));
  }
  void done(Pkg*, const plat::Exception& e) override
  {
    phaseDone++;
    error = e.str();
  }
  void done(Pkg*, const char* e) override
  {
    phaseDone++;
    error = e ? e : "(null)";
  }
  void output(Pkg*, int length, const char* bytes) override { out.append(bytes, (size_t)length); }
  bool messageBox(const char* t, int style, TextKind kind) override
  {
    boxes.push_back(std::to_string(style) + (kind == TextKind::kMarkup ? " markup " : " ") + t);
    bool answer = !answers.empty() && answers.front();
    if (!answers.empty())
      answers.pop_front();
    return answer;
  }
  int detectDesktopKind() override { return desktopKind; }

  int launched = 0, phaseDone = 0, desktopKind = 0, settingsDone = 0;
  std::string launchError, error, out, settingsError;
  std::vector<std::string> progressCalls, boxes;
  std::deque<bool> answers;
};

// The authentication stand-in with its package in data: node 0 serves a
// bootstrap document from the bootstrap test signer naming node 1, the
// authentication node.
std::unique_ptr<httptest::AuthStandIn> authStandIn(const std::string& data)
{
  const std::string keys = TL_BOOTSTRAP_KEYS;
  std::unique_ptr<httptest::AuthStandIn> standin(
      new httptest::AuthStandIn(2, data, keys + "/ca.pem"));
  httptest::serveBootstrapDocument(*standin, keys, standin->url(1));
  return standin;
}

// What the wizard makes from the cloud configuration in data (the
// stand-in's package): the context, its session and the capabilities
// client.
struct Cloud {
  explicit Cloud(const std::string& data)
  {
    os::setSystemConfigDir(data.c_str());
    context = hostedremoteaccess::loadCloudConfig();
    session.reset(new hosted::HostedHttpSession(context, nullptr));
    caps.reset(new hostedremoteaccess::CapsClient(context, session.get()));
  }
  ~Cloud()
  {
    caps.reset();
    session.reset();
    os::setSystemConfigDir("");
  }
  hosted::HostedClientContextPtr context;
  std::unique_ptr<hosted::HostedHttpSession> session;
  std::unique_ptr<hostedremoteaccess::CapsClient> caps;
};

httptest::Answer reply(const std::string& body, int status = 200)
{
  httptest::Answer a;
  a.status = status;
  a.reason = status == 200 ? "OK" : "Not Found";
  a.headers = {{"Content-Type", "application/json"}};
  a.body = body;
  return a;
}
httptest::Answer reply(const char* type, const char* value)
{
  return reply(std::string("{\"type\":\"") + type + "\",\"value\":\"" + value + "\"}");
}

// Queued on the stand-in's authentication node in redeem order; each case
// queues only what it uses.
void queue(httptest::AuthStandIn& standin, const std::vector<httptest::Answer>& replies)
{
  for (const httptest::Answer& a : replies)
    standin.push(1, a);
}

// The tickets the authentication node was asked to redeem, in order.
std::vector<std::string> ticketsAsked(const httptest::AuthStandIn& standin)
{
  std::vector<std::string> out;
  for (const httptest::Received& r : standin.requests()) {
    if (r.node != 1)
      continue;
    plat::JsonPtr<plat::JsonValue> v =
        plat::JsonValue::parse(r.body.data(), (int)r.body.size(), nullptr);
    out.push_back(r.method + " " + r.path + " " + v->asObject().get("ticket")->asString().str());
  }
  return out;
}

void removePackages()
{
  int status = 0;
  tltest::runCommand(std::string("dpkg --purge ") + kFakeName + " >/dev/null 2>&1; rpm -e " +
                         kFakeName + " >/dev/null 2>&1",
                     &status);
}

Pkg::TicketMap tickets()
{
  Pkg::TicketMap t;
  t[plat::String("viewer")] = plat::SecureString("ticket-v");
  t[plat::String("server")] = plat::SecureString("ticket-s");
  return t;
}

std::vector<std::string> splitLines(const std::string& s)
{
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < s.size()) {
    size_t nl = s.find('\n', start);
    lines.push_back(s.substr(start, nl - start));
    start = nl == std::string::npos ? s.size() : nl + 1;
  }
  return lines;
}

// The lines with the path of the helper's private copy folder as "<copy>".
std::vector<std::string> withCopies(std::vector<std::string> lines)
{
  for (std::string& l : lines)
    for (size_t at; (at = l.find("/copies-")) != std::string::npos;)
      l.replace(l.rfind(' ', at) + 1, at + 14 - l.rfind(' ', at) - 1, "<copy>");
  return lines;
}

class PkgOrbTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "installs packages through the root helper";
    profile_ = "pkgtest-" + std::to_string(getpid());
    setenv("ZARN_PROFILE", profile_.c_str(), 1);
    os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
    os::setTmpDirForTest(tmp_.path().c_str());
    PkgOrb::setDisplayManagerDirsForTest(
        {plat::String((dm_ / "gdm3").c_str()), plat::String((dm_ / "gdm").c_str())});
    mkdir((dm_ / "gdm3").c_str(), 0755);
    mkdir((dm_ / "gdm").c_str(), 0755);
    record_ = work_ / "record";
    plat::setLogOverride("*:pkgcapture:100");
    capture.clear();
    removePackages();
    AdminHelperClient::setProgramForTest(TL_PROGRAM);
    loop_.reset(new os::AppLoop());
    ASSERT_FALSE(data_.path().empty());
    httptest::prepareProcess();
    standin_ = authStandIn(data_.path());
    cloud_.reset(new Cloud(data_.path()));
    client_.reset(new AdminHelperClient(&wizard_));
    client_->launch();
    ASSERT_TRUE(runUntil([&] { return wizard_.launched > 0 || !wizard_.launchError.empty(); }));
    ASSERT_EQ(1, wizard_.launched) << wizard_.launchError;
  }
  void TearDown() override
  {
    pkg_.reset();
    cloud_.reset();
    if (loop_)
      settle();
    standin_.reset();
    client_.reset();
    loop_.reset();
    removePackages();
    AdminHelperClient::setProgramForTest(nullptr);
    PkgOrb::setDisplayManagerDirsForTest({});
    plat::Configuration::global().set("_NoInstall", "0", plat::kPriorityPolicy + 1);
    os::setTmpDirForTest(nullptr);
    plat::setLogOverride(nullptr);
    int status = 0;
    if (!profile_.empty())
      tltest::runCommand("rm -rf /root/.zarn/profiles/" + profile_, &status);
  }

  static bool installed() { return access("/usr/lib/tlzarnconnect/tlzarnservice", X_OK) == 0; }

  bool runUntil(const std::function<bool()>& done)
  {
    return nettest::runUntil(os::AppLoop::selectManager(), done, 120000);
  }

  // Builds the stand-in packages ("fail": their pre-install script fails).
  void makePackages(const char* variant = "")
  {
    tltest::commandOutput(kDataDir + "/make_fake_product.sh " + work_.path() + " " + record_ + " " +
                          variant);
  }
  // A package object whose URI names a file of that kind, with the built
  // package received as its download.
  void receive(const std::string& kind)
  {
    std::string uri = "https://dl.example/tessaly-connect/Tessaly-Daziziz-Latest-Linux-x64." + kind;
    ASSERT_TRUE(
        plat::Configuration::global().set("_OrbUri", uri.c_str(), plat::kPriorityPolicy + 1));
    pkg_.reset(new PkgOrb(client_.get(), nullptr));
    std::string body = tltest::readFile(work_ / (std::string(kFakeName) + "." + kind));
    wizard_.phaseDone = 0;
    pkg_->packageReceived(&wizard_, body.size(), body.data());
    ASSERT_EQ(1, wizard_.phaseDone);
    ASSERT_EQ("", wizard_.error);
    ASSERT_EQ(body, tltest::readFile(pkg_->file()));
  }
  // Runs the install phase to its end.
  void install()
  {
    wizard_.phaseDone = 0;
    wizard_.out.clear();
    pkg_->install(&wizard_, true);
    EXPECT_EQ(0, wizard_.phaseDone); // never from inside install()
    ASSERT_TRUE(runUntil([&] { return wizard_.phaseDone > 0; }));
    settle();
    EXPECT_EQ(1, wizard_.phaseDone);
  }
  // Runs the token phase against the stand-in; redeems_ counts its requests.
  void applyTokens(const std::vector<httptest::Answer>& replies, const Pkg::TicketMap& tickets)
  {
    wizard_.phaseDone = 0;
    queue(*standin_, replies);
    size_t before = ticketsAsked(*standin_).size();
    pkg_->applyTokens(&wizard_, cloud_->caps.get(), tickets);
    EXPECT_EQ(0, wizard_.phaseDone);
    ASSERT_TRUE(runUntil([&] { return wizard_.phaseDone > 0; }));
    settle();
    EXPECT_EQ(1, wizard_.phaseDone);
    redeems_ = (int)(ticketsAsked(*standin_).size() - before);
  }
  void settle() { nettest::settle(os::AppLoop::selectManager()); }
  std::vector<std::string> recordLines() { return splitLines(tltest::readFileIfAny(record_)); }
  std::string sessionFile(const char* name) { return sessionDir() + "/" + name; }
  std::string sessionDir()
  {
    std::string file = pkg_->file();
    return file.substr(0, file.rfind('/'));
  }

  loc::LocaleSetter english_{"en_US"};
  tltest::TempDir tmp_{"pkgtmp"}, work_{"pkgwork"}, dm_{"pkgdm"};
  std::string profile_, record_;
  Wizard wizard_;
  EngineUi::Registration ui_{&wizard_};
  std::unique_ptr<os::AppLoop> loop_;
  tltest::RootOnlyDir data_;
  std::unique_ptr<httptest::AuthStandIn> standin_;
  std::unique_ptr<Cloud> cloud_;
  std::unique_ptr<AdminHelperClient> client_;
  std::unique_ptr<PkgOrb> pkg_;
  int redeems_ = 0;
};

// The whole road after the download, once per package kind.
TEST_F(PkgOrbTest, InstallServiceJoinAndLaunch)
{
  makePackages();
  for (const char* kind : {"deb", "rpm"}) {
    SCOPED_TRACE(kind);
    unlink(record_.c_str());
    receive(kind);
    EXPECT_EQ((std::vector<std::string>{"1/1"}), wizard_.progressCalls);
    wizard_.progressCalls.clear();
    struct stat st;
    ASSERT_EQ(0, stat(pkg_->file(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ(std::string("Tessaly-Daziziz-Latest-Linux-x64.") + kind,
              std::string(pkg_->file()).substr(sessionDir().size() + 1));

    install();
    EXPECT_EQ("(null)", wizard_.error) << capture.all();
    EXPECT_TRUE(has(wizard_.out, std::string("preparing ") + kFakeName)) << wizard_.out;
    EXPECT_TRUE(installed());
    EXPECT_TRUE(wizard_.boxes.empty());

    applyTokens({reply("viewer-session", "VWR"), reply("server-join", "SVR")}, tickets());
    EXPECT_EQ("", wizard_.error);
    EXPECT_EQ(2, redeems_);
    auto asked = ticketsAsked(*standin_);
    EXPECT_EQ((std::vector<std::string>{"POST /authentication/1.1/tickets/redeem ticket-v",
                                        "POST /authentication/1.1/tickets/redeem ticket-s"}),
              std::vector<std::string>(asked.end() - 2, asked.end()));
    // The token file goes after a successful join.
    EXPECT_FALSE(plat::pathExists(sessionFile("svrToken").c_str()));

    pkg_->launch();
    std::string vwrToken = sessionFile("vwrToken");
    ASSERT_TRUE(runUntil([&] { return recordLines().size() >= 5; }));
    // The server read root's copy of the token.
    EXPECT_EQ((std::vector<std::string>{
                  "tlzarnservice start tlzarnserver-x11-serviced",
                  "tlzarnserver-x11 -service -joincloud <copy>/svrToken", "token SVR",
                  "tlzarnconnect -signInToken " + vwrToken, "token VWR"}),
              withCopies(recordLines()));
    ASSERT_EQ(0, stat(vwrToken.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    unlink(vwrToken.c_str());
    removePackages();
    EXPECT_FALSE(installed());
  }
}

TEST_F(PkgOrbTest, FailingPackageScriptAndDryRun)
{
  makePackages("fail");
  for (const char* kind : {"deb", "rpm"}) {
    SCOPED_TRACE(kind);
    receive(kind);
    install();
    EXPECT_TRUE(has(wizard_.out, "pre-install refused")) << wizard_.out;
    EXPECT_EQ("Error code: 1", wizard_.error);
    EXPECT_FALSE(installed());
    removePackages();

    // A dry run prints the command and installs nothing.
    plat::Configuration::global().set("_NoInstall", "1", plat::kPriorityPolicy + 1);
    install();
    plat::Configuration::global().set("_NoInstall", "0", plat::kPriorityPolicy + 1);
    EXPECT_EQ("(null)", wizard_.error);
    std::string tool = std::string(kind) == "deb" ? "/usr/bin/dpkg -i " : "/usr/bin/rpm -U ";
    EXPECT_EQ(tool + pkg_->file() + "\n", wizard_.out);
    EXPECT_FALSE(installed());
  }
  EXPECT_FALSE(has(tltest::readFileIfAny(record_), "tlzarnservice"));
}

// The service step, the display manager's file and the desktop notice, each
// after a fresh install of the .deb.
TEST_F(PkgOrbTest, ServiceWaylandAndDesktop)
{
  makePackages();
  receive("deb");
  const std::string commented = "[daemon]\n# WaylandEnable=false\nOther=1\n";
  const std::string quoteDir = dm_ / "it's gdm";
  mkdir(quoteDir.c_str(), 0755);
  struct Case {
    const char* name;
    int serviceStatus;
    std::string dir; // where custom.conf is written ("" none)
    std::string conf;
    std::deque<bool> answers;
    int desktop;
    bool asked, fixed, gnome;
    std::string error;
  };
  const Case cases[] = {
      {"service fails", 3, "", "", {}, 8, false, false, false, "Post-install error code: 3"},
      {"no file", 0, "", "", {}, 0, false, false, false, "(null)"},
      {"gdm, No", 0, dm_ / "gdm", commented, {false}, 0, true, false, false, "(null)"},
      {"gdm3, Yes, GNOME", 0, dm_ / "gdm3", commented, {true}, 8, true, true, true, "(null)"},
      {"quote in path, Yes", 0, quoteDir, commented, {true}, 9, true, true, true, "(null)"},
      {"active line",
       0,
       dm_ / "gdm3",
       "WaylandEnable=false\n",
       {true},
       3,
       false,
       false,
       false,
       "(null)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<plat::String> dirs{plat::String((dm_ / "gdm3").c_str())};
    dirs.emplace_back(c.dir == quoteDir ? quoteDir.c_str() : (dm_ / "gdm").c_str());
    PkgOrb::setDisplayManagerDirsForTest(dirs);
    for (const std::string& d : {dm_ / "gdm3", dm_ / "gdm", quoteDir}) {
      unlink((d + "/custom.conf").c_str());
      unlink((d + "/custom.conf.bak").c_str());
    }
    if (!c.dir.empty())
      tltest::commandOutput("printf '%s' '" + c.conf + "' > \"" + c.dir + "/custom.conf\"");
    tltest::commandOutput("echo " + std::to_string(c.serviceStatus) + " > " + record_ +
                          ".status.tlzarnservice");
    wizard_.answers = c.answers;
    wizard_.boxes.clear();
    wizard_.desktopKind = c.desktop;
    install();
    EXPECT_EQ(c.error, wizard_.error);
    std::vector<std::string> expected;
    if (c.asked)
      expected.push_back(std::to_string(EngineUi::kIconQuestion | EngineUi::kButtonsYesNo) +
                         " Would you like to disable Wayland by uncommenting the "
                         "WaylandEnable=false setting in " +
                         c.dir +
                         "/custom.conf?  This is required for Tessaly Server in Service "
                         "Mode.  You may need to reboot afterwards.");
    if (c.gnome)
      expected.push_back("0 markup " +
                         std::string(LOC_TR("tlOrbSetup_gnome_shell_icon_notifications_html")));
    EXPECT_EQ(expected, wizard_.boxes);
    if (!c.dir.empty()) {
      std::string conf = tltest::readFile(c.dir + "/custom.conf");
      if (c.fixed) {
        EXPECT_EQ("[daemon]\nWaylandEnable=false\nOther=1\n", conf);
        EXPECT_EQ(c.conf, tltest::readFile(c.dir + "/custom.conf.bak"));
      } else {
        EXPECT_EQ(c.conf, conf);
        EXPECT_FALSE(plat::pathExists((c.dir + "/custom.conf.bak").c_str()));
      }
    }
  }
}

// Token phase outcomes with the server program installed.
TEST_F(PkgOrbTest, TokenPhaseErrors)
{
  makePackages();
  receive("deb");
  install();
  ASSERT_EQ("(null)", wizard_.error);
  // Launch without a viewer token: the program alone.
  pkg_->launch();
  ASSERT_TRUE(runUntil([&] { return has(tltest::readFileIfAny(record_), "tlzarnconnect"); }));
  EXPECT_EQ("tlzarnconnect", recordLines().back());

  const httptest::Answer vwr = reply("viewer-session", "V"), svr = reply("server-join", "S");
  Pkg::TicketMap noViewer = tickets();
  noViewer.erase(plat::String("viewer"));
  Pkg::TicketMap nullViewer = tickets();
  nullViewer[plat::String("viewer")] = plat::SecureString();
  Pkg::TicketMap noServer = tickets();
  noServer.erase(plat::String("server"));
  struct Case {
    const char* name;
    std::vector<httptest::Answer> replies;
    Pkg::TicketMap tickets;
    int joinStatus;
    std::string error;
    int redeems;
    bool tokenFileLeft;
  };
  const Case cases[] = {
      {"no viewer ticket", {}, noViewer, 0, "No ticket for viewer", 0, false},
      {"null viewer ticket", {}, nullViewer, 0, "No ticket for viewer", 0, false},
      {"no server ticket", {vwr}, noServer, 0, "No ticket for server", 1, false},
      {"refused",
       {reply("{}", 404)},
       tickets(),
       0,
       "Hosted Application error: HTTP Not Found",
       1,
       false},
      {"no type", {reply("{\"value\":\"x\"}")}, tickets(), 0, "Bad ticket redeem type", 1, false},
      {"number value",
       {reply("{\"type\":\"viewer-session\",\"value\":5}")},
       tickets(),
       0,
       "Bad ticket redeem type",
       1,
       false},
      {"unknown kind", {reply("other", "x")}, tickets(), 0, "Bad ticket redeem type", 1, false},
      {"kind twice", {vwr, vwr}, tickets(), 0, "Bad ticket redeem type", 2, false},
      // The join's result ends the phase even when it comes last.
      {"join token first", {svr, vwr}, tickets(), 0, "", 2, false},
      {"join fails", {vwr, svr}, tickets(), 1, "Post-install error code: 1", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tltest::commandOutput("echo " + std::to_string(c.joinStatus) + " > " + record_ +
                          ".status.tlzarnserver-x11");
    unlink(sessionFile("svrToken").c_str());
    applyTokens(c.replies, c.tickets);
    EXPECT_EQ(c.error, wizard_.error);
    EXPECT_EQ(c.redeems, redeems_);
    EXPECT_EQ(c.tokenFileLeft, plat::pathExists(sessionFile("svrToken").c_str()));
  }
}

// What happens to a downloaded body: saved under the URI's name ("(1)" on
// the second save), refused for a bad URI or a file no tool installs.
TEST_F(PkgOrbTest, SavedPackageChecks)
{
  const std::string base = "https://dl.example/tessaly-connect/";
  struct Case {
    std::string uri, savedAs, error;
    bool box;
  };
  const Case cases[] = {
      {base + "P.deb", "P.deb", "", false},
      {base + "P.deb", "P(1).deb", "", false},
      {base + "P.DEB", "P.DEB", "No suitable install command found", true},
      {base + "P.tar", "P.tar", "No suitable install command found", true},
      {base, "", "Bad package URI " + base, false},
      {base + "..", "", "Bad package URI " + base + "..", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    plat::Configuration::global().set("_OrbUri", c.uri.c_str(), plat::kPriorityPolicy + 1);
    PkgOrb pkg(client_.get(), nullptr);
    wizard_.boxes.clear();
    wizard_.phaseDone = 0;
    pkg.packageReceived(&wizard_, 4, "body");
    EXPECT_EQ(1, wizard_.phaseDone);
    EXPECT_EQ(c.error, wizard_.error);
    std::string saved = pkg.file() ? pkg.file() : "";
    EXPECT_EQ(c.savedAs, saved.substr(saved.rfind('/') + 1));
    if (!saved.empty()) {
      EXPECT_EQ("body", tltest::readFile(saved));
    }
    std::vector<std::string> boxes;
    if (c.box)
      boxes.push_back(std::to_string(EngineUi::kIconError | EngineUi::kButtonsOk) + " " + c.error);
    EXPECT_EQ(boxes, wizard_.boxes);
  }
}

// The wizard's road as the test user, in a child: the helper through
// "/usr/bin/sudo -n", the package downloaded from the HTTPS stand-in, an
// install refused while the saved file is changed, then install, tokens
// from the authentication stand-in named by the package in data, the
// server's settings and launch, each step run to its end. One line per
// step's outcome, then the saved file's path.
std::string roadAsTestUser(const std::string& uri, const std::string& tmp, const std::string& data,
                           const std::string& dm, const std::string& profile)
{
  // Last, as at the end of main: the child ends with _exit.
  struct Shutdown {
    ~Shutdown() { plat::shutdownSingletons(); }
  } atEnd;
  setenv("ZARN_PROFILE", profile.c_str(), 1);
  os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
  httptest::prepareProcess();
  os::setTmpDirForTest(tmp.c_str());
  os::setSystemConfigDir(data.c_str());
  os::ElevateCmd.setParam("/usr/bin/sudo -n", plat::kPriorityPreference);
  AdminHelperClient::setProgramForTest(TL_PROGRAM);
  PkgOrb::setDisplayManagerDirsForTest({plat::String(dm.c_str())});
  plat::Configuration::global().set("_OrbUri", uri.c_str(), plat::kPriorityPolicy + 1);
  loc::LocaleSetter english("en_US");
  os::AppLoop loop;
  Wizard wizard;
  wizard.desktopKind = 9;
  wizard.answers = {true};
  EngineUi::Registration ui(&wizard);
  std::unique_ptr<http::HttpClient> https = ssl::createHttpsClient(nullptr);
  AdminHelperClient helper(&wizard);
  PkgOrb pkg(&helper, https.get());
  plat::Time end = plat::getMonoTime() + 120 * plat::kTicksPerSecond;
  auto until = [&](const std::function<bool()>& done) {
    while (!done() && plat::getMonoTime() < end)
      os::AppLoop::selectManager().processOnce(50);
    return done();
  };
  std::string report;
  helper.launch();
  if (!until([&] { return wizard.launched > 0 || !wizard.launchError.empty(); }))
    return "helper not launched";
  report += "helper " + std::to_string(wizard.launched) + wizard.launchError + "\n";

  pkg.startDownload(&wizard);
  if (!until([&] { return wizard.phaseDone > 0; }))
    return report + "download did not end";
  report += "download '" + wizard.error + "' " + wizard.progressCalls.back() + "\n";
  // Something running as the user changes the saved package: root refuses
  // it. Then the received bytes are put back.
  const std::string file = std::string("'") + pkg.file() + "'";
  tltest::commandOutput("cp " + file + " " + file + ".keep && printf swapped >" + file);
  wizard.phaseDone = 0;
  pkg.install(&wizard, true);
  if (!until([&] { return wizard.phaseDone > 0; }))
    return report + "swapped install did not end";
  report += "swapped: " + wizard.error + "\n";
  tltest::commandOutput("mv " + file + ".keep " + file);
  wizard.phaseDone = 0;
  pkg.install(&wizard, true);
  if (!until([&] { return wizard.phaseDone > 0; }))
    return report + "install did not end";
  report += "install " + wizard.error + (has(wizard.out, "preparing") ? " output" : " no output") +
            " boxes " + std::to_string(wizard.boxes.size()) + "\n";
  wizard.phaseDone = 0;
  Cloud cloud(data);
  pkg.applyTokens(&wizard, cloud.caps.get(), tickets());
  if (!until([&] { return wizard.phaseDone > 0; }))
    return report + "tokens did not end";
  report += "tokens '" + wizard.error + "'\n";
  plat::CaseInsensitiveStringMap settings;
  settings[plat::String("Encryption")] = plat::String("AlwaysOn");
  helper.svrSettings(settings, &wizard);
  if (!until([&] { return wizard.settingsDone > 0; }))
    return report + "settings did not end";
  report += "settings '" + wizard.settingsError + "'\n";
  try {
    pkg.launch();
    report += "launched\n";
  } catch (plat::Exception& e) {
    report += std::string("launch failed: ") + e.str() + "\n";
  }
  return report + pkg.file();
}

TEST(PkgOrbRoad, TestUserDownloadsInstallsJoinsAndLaunches)
{
  TL_REQUIRE_TEST_USER();
  if (tltest::runAsTestUser({"/bin/sh", "-c", std::string("/usr/bin/sudo -n -l ") + TL_PROGRAM +
                                                  " >/dev/null 2>&1"}) != 0)
    GTEST_SKIP() << "needs the sudo drop-in that scripts/sudo-test-dropin.sh installs";
  tltest::RootOnlyDir data;
  ASSERT_FALSE(data.path().empty());
  httptest::TestCa ca;
  std::string cert = ca.server("dl", "DNS:localhost");
  tltest::commandOutput("cp " + ca.path("ca.pem") + " " + (data / "cacerts.pem"));
  tltest::TempDir work("pkgroad"), tmp("pkgroadtmp"), dm("pkgroaddm");
  chmod(work.path().c_str(), 0755);
  chmod(tmp.path().c_str(), 01777);
  chmod(dm.path().c_str(), 0755);
  const std::string record = work / "record";
  tltest::commandOutput(kDataDir + "/make_fake_product.sh " + work.path() + " " + record);
  const std::string profile = "pkgroad-" + std::to_string(getpid());
  std::unique_ptr<httptest::AuthStandIn> standinPtr = authStandIn(data.path());
  httptest::AuthStandIn& standin = *standinPtr;
  const std::string pipeDir = "/tmp/.zarn-zarnservice";
  mkdir(pipeDir.c_str(), 0700);
  removePackages();
  for (const char* kind : {"deb", "rpm"}) {
    SCOPED_TRACE(kind);
    // The viewer appends as the test user, the rest as root.
    tltest::commandOutput("rm -f " + record + " && touch " + record + " && chmod 666 " + record);
    dm.write("custom.conf", "[daemon]\n#WaylandEnable=false\n");
    const std::string file = std::string(kFakeName) + "." + kind;
    httptest::ScriptedServer server(
        {{"pkg", {"HTTP/1.1 200 OK\r\nContent-Length: " +
                  std::to_string(tltest::readFile(work / file).size()) + "\r\n\r\n" +
                  tltest::readFile(work / file)}}},
        cert, ca.path("dl.key"));
    const std::string uri =
        "https://localhost:" + std::to_string(server.port()) + "/pkg/whole/" + file;
    queue(standin, {reply("viewer-session", "VWR"), reply("server-join", "SVR")});
    size_t asked = ticketsAsked(standin).size();
    tltest::FakeServer ctrl(pipeDir + "/tlzarnserver-x11.CtrlComms", {});
    std::vector<std::string> report = splitLines(tltest::childReport(
        [&] { return roadAsTestUser(uri, tmp.path(), data.path(), dm.path(), profile); },
        tltest::ChildUser::kTestUser));
    ASSERT_EQ(8u, report.size()) << tltest::joinLines(report);
    const std::string saved = report.back();
    report.pop_back();
    EXPECT_EQ(
        (std::vector<std::string>{
            "helper 1", "download '' 1/1",
            "swapped: " + saved + " changed after the setup program saved it; it was not used",
            "install (null) output boxes 2", "tokens ''", "settings ''", "launched"}),
        report);
    auto tickets = ticketsAsked(standin);
    tickets.erase(tickets.begin(), tickets.begin() + asked);
    EXPECT_EQ((std::vector<std::string>{"POST /authentication/1.1/tickets/redeem ticket-v",
                                        "POST /authentication/1.1/tickets/redeem ticket-s"}),
              tickets);
    const std::vector<std::string> ctrlSeen = ctrl.messages();
    EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), ctrlSeen);
    // Yes to the Wayland question, then the GNOME notice.
    EXPECT_EQ("[daemon]\nWaylandEnable=false\n", tltest::readFile(dm / "custom.conf"));
    const std::string session = saved.substr(0, saved.rfind('/'));
    EXPECT_EQ(session + "/" + file, saved);
    EXPECT_EQ(tltest::readFile(work / file), tltest::readFile(saved));
    struct stat st;
    ASSERT_EQ(0, stat(saved.c_str(), &st));
    EXPECT_EQ(tltest::testUser()->uid, st.st_uid);
    EXPECT_EQ(0600u, st.st_mode & 0777);
    auto lines = [&] { return splitLines(tltest::readFileIfAny(record)); };
    plat::Time end = plat::getMonoTime() + 60 * plat::kTicksPerSecond;
    while (lines().size() < 5 && plat::getMonoTime() < end)
      plat::sleepMs(20);
    EXPECT_EQ((std::vector<std::string>{
                  "tlzarnservice start tlzarnserver-x11-serviced",
                  "tlzarnserver-x11 -service -joincloud <copy>/svrToken", "token SVR",
                  "tlzarnconnect -signInToken " + session + "/vwrToken", "token VWR"}),
              withCopies(lines()));
    EXPECT_EQ("", tltest::commandOutput("ls ~root/.zarn | grep copies-; true")); // removed
    // What the run command shows of the road.
    std::string shown;
    for (const auto& part :
         {std::make_pair("wizard", report), std::make_pair("auth stand-in", tickets),
          std::make_pair("control channel", ctrlSeen), std::make_pair("product programs", lines())})
      for (const std::string& l : part.second)
        shown += std::string(kind) + " road, " + part.first + ": " + l + "\n";
    printf("%s", shown.c_str());
    // Children share the session directory of this process.
    unlink((session + "/vwrToken").c_str());
    removePackages();
  }
  int status = 0;
  tltest::runCommand("rm -rf /root/.zarn/profiles/" + profile, &status);
}

} // namespace
