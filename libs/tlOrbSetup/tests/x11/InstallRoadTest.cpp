// The wizard's installation road in the real program, run as the test user
// on the shared Xvfb under openbox and driven through its automation
// channel: the package downloaded from the HTTPS stand-in, the admin helper
// reached through real sudo, the package installed by real dpkg, and the
// page that follows. Two gates hold the road where a person would look:
// the elevation command waits for a file before it runs sudo, and the
// package's pre-install script waits for another. Screenshots of each page
// in English and German. The installed package is removed afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "ProgramRun.h"

namespace {

using tltest::askToClose;
using tltest::FakeProduct;
using tltest::has;
using tltest::kCredentials;
using tltest::kTestFeatures;

// A bar's "NN%" as a number.
int percent(const std::string& items)
{
  return atoi(items.c_str());
}

class InstallRoad : public tltest::WizardTest {
protected:
  void SetUp() override
  {
    TL_REQUIRE_SUDO_DROPIN();
    chmod(tools_.path().c_str(), 0755);
    // Gives up after a minute, so that no gate outlives a failed test.
    tools_.write("elevate",
                 "#!/bin/sh\ni=0\nwhile [ ! -e '" + elevateGo_ +
                     "' ]; do\n  [ $i -lt 1200 ] || exit 1\n"
                     "  sleep 0.05; i=$((i + 1))\ndone\nexec \"$@\"\n",
                 0755);
    product_.reset(new FakeProduct("wait:" + installGo_));
  }

  // The stand-in serving the package; the URI of its mode.
  std::string serve(const std::string& mode)
  {
    pkg_.serve(tltest::readFile(product_->deb()));
    return pkg_.uri(mode);
  }

  // The program with the test CA, the elevation behind its gate (closed),
  // in locale.
  void start(const std::string& locale, unsigned flags, std::vector<std::string> args)
  {
    unlink(elevateGo_.c_str());
    unlink(installGo_.c_str());
    args.insert(args.end(), {"-Locale=" + locale, "-_CertsPem=" + pkg_.caPem(),
                             "-ElevateCmd=" + tools_ / "elevate" + " /usr/bin/sudo -n"});
    run_.reset(new tltest::ProgramRun(args, {tltest::wizardDisplay()}, tltest::withStore(flags)));
    ASSERT_TRUE(run_->waitShown()) << log();
    window_ = tltest::wizardWindow();
    ASSERT_NE(0u, window_);
    if (!(flags & kTestFeatures))
      return;
    mui_ = tltest::connectMui(*run_);
    ASSERT_TRUE(mui_) << log();
  }

  std::string ask(const std::string& command) { return mui_->command(command); }
  // The program's log without the channel's own lines.
  std::string log() const
  {
    std::string out, all = run_->log();
    for (size_t at = 0, end; at < all.size(); at = end + 1) {
      end = std::min(all.find('\n', at), all.size());
      if (!has(all.substr(at, end - at), "MuiComms: Got command"))
        out += all.substr(at, end - at + 1);
    }
    return out;
  }
  // Waits until the reply to command holds part.
  bool waitFor(const std::string& command, const std::string& part)
  {
    return tltest::loopUntil([&] { return has(ask(command), part); }, 15000);
  }
  // After the next paint.
  void shot(const std::string& name)
  {
    tltest::loopFor(300);
    EXPECT_TRUE(tltest::screenshot(window_, 560, 540, "install-road-" + name));
  }
  static void open(const std::string& gate) { tltest::commandOutput("touch '" + gate + "'"); }

  // Downloads (held at half the body for a screenshot), then waits with
  // the install page saying "Elevating...".
  void downloadAndElevate(const std::string& locale)
  {
    ASSERT_EQ("1\n", ask("click SetupDlg.initial.install"));
    ASSERT_TRUE(waitFor("listitems SetupDlg.download.progress", "50%"));
    shot("download-" + locale);
    pkg_.server().release();
    // The channel carries no page texts: the screenshot shows "Elevating...".
    ASSERT_TRUE(waitFor("state SetupDlg.install", "shown 1")) << log();
    ASSERT_TRUE(run_->waitForLog("AdminHelperClient: Starting helper")) << log();
    EXPECT_EQ("0%\n", ask("listitems SetupDlg.install.progress"));
    shot("elevating-" + locale);
    open(elevateGo_);
  }

  // Closed as the window manager asks: the program ends with status 0.
  void closeAndFinish()
  {
    askToClose(window_);
    bool closed = run_->waitForLog("SetupDlg: Dialog closed");
    tltest::ProgramRun::Result r = run_->finish(closed ? 0 : SIGKILL);
    EXPECT_EQ(0, r.status) << r.err << r.log;
    mui_.reset();
  }

  tltest::TempDir tools_{"tlinstroad"};
  const std::string elevateGo_ = tools_ / "elevate.go", installGo_ = tools_ / "install.go";
  tltest::PackageServer pkg_;
  std::unique_ptr<FakeProduct> product_;
  std::unique_ptr<tltest::ProgramRun> run_;
  std::unique_ptr<tltest::MuiDriver> mui_;
  Window window_ = 0;
};

// The one real install: no credentials, so the sign-in choice follows.
// While the package tool runs, its output moves the bar and closing the
// window is refused; afterwards closing ends the program.
TEST_F(InstallRoad, InstallsThroughSudoAndDpkgThenOffersSignIn)
{
  start("en", kTestFeatures, {"-_OrbUri=" + serve("hold")});
  EXPECT_TRUE(has(run_->log(), "SetupDlg: Using trusted certs from " + pkg_.caPem() + "\n"));
  downloadAndElevate("en");
  // The bar starts at a tenth; the pre-install script printed its line and
  // waits.
  ASSERT_TRUE(tltest::loopUntil(
      [&] { return percent(ask("listitems SetupDlg.install.progress")) > 10; }, 60000))
      << ask("listitems SetupDlg.install.progress") << log();
  askToClose(window_);
  tltest::loopFor(1000);
  EXPECT_FALSE(run_->ended());
  EXPECT_FALSE(has(run_->log(), "Dialog closed"));
  EXPECT_TRUE(has(ask("state SetupDlg.install"), "shown 1\n"));
  shot("installing-en");
  open(installGo_);
  ASSERT_TRUE(run_->waitForLog("SetupDlg: Installed, next page signInChoose\n")) << log();
  EXPECT_TRUE(FakeProduct::installed());
  EXPECT_TRUE(
      has(tltest::readFile(product_->record), "tlzarnservice start tlzarnserver-x11-serviced\n"));
  EXPECT_TRUE(waitFor("state SetupDlg.signInChoose", "shown 1"));
  shot("signin-en");
  EXPECT_EQ("1\n", ask("select SetupDlg.langs 1"));
  shot("signin-de");
  closeAndFinish();
  FakeProduct::purge();
  EXPECT_FALSE(FakeProduct::installed());
}

// The other pages that follow an install, after dry runs (the tool's
// command line is its output), and a download the stand-in does not have.
TEST_F(InstallRoad, NextPagesAndNotFound)
{
  struct Case {
    const char* name;
    const char* locale;
    unsigned flags;
    std::vector<std::string> args;
    const char* mode;
    std::string page;
  } cases[] = {
      {"credentials", "de", kTestFeatures | kCredentials, {}, "hold", "simpleLaunch"},
      {"forced settings",
       "en",
       kTestFeatures | kCredentials,
       {"-_ForceSettingsPage=1"},
       "pkg/whole",
       "settings"},
      {"not found", "en", kTestFeatures, {}, "missing/whole", "error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-_NoInstall=1", "-_OrbUri=" + serve(c.mode)});
    start(c.locale, c.flags, args);
    if (std::string(c.mode) == "hold") {
      downloadAndElevate(c.locale);
    } else {
      open(elevateGo_);
      ASSERT_EQ("1\n", ask("click SetupDlg.initial.install"));
    }
    ASSERT_TRUE(waitFor("state SetupDlg." + c.page, "shown 1")) << log();
    if (c.page == "error") {
      EXPECT_TRUE(has(run_->log(), "SetupDlg: Error page: HTTP status 404 (Not Found)\n"));
    } else {
      EXPECT_TRUE(has(run_->log(), "SetupDlg: Installed, next page " + c.page + "\n")) << log();
    }
    shot(c.page + "-" + c.locale);
    closeAndFinish();
  }
}

// Without test features there is no automation channel, `_CertsPem` and
// `_OrbUri` are ignored: the install button fetches the built-in address,
// never the stand-in.
TEST_F(InstallRoad, WithoutTestFeaturesTheStandInIsNotReached)
{
  const std::string uri = serve("pkg/whole");
  start("en", 0, {"-_OrbUri=" + uri});
  std::string text = log();
  EXPECT_TRUE(has(text, "SetupDlg: Using trusted certs from built-in resource\n")) << text;
  EXPECT_FALSE(has(text, "MuiComms: Listening"));
  // The install button: the first row blue across the middle.
  tltest::loopFor(300);
  const std::vector<std::vector<bool>> blue = tltest::bluePixels(window_);
  ASSERT_FALSE(blue.empty());
  int y = 0;
  while (y < 539 && !(blue[y][230] && blue[y][280] && blue[y][330]))
    y++;
  tltest::x("xdotool mousemove --window " + std::to_string(window_) + " 280 " +
            std::to_string(y + 10) + " click 1");
  ASSERT_TRUE(run_->waitForLog("SetupDlg: Error page: ")) << log();
  text = log();
  EXPECT_TRUE(has(text, "Pkg: Downloading Tessaly Daziziz from https://download.daziziz.example/"))
      << text;
  EXPECT_TRUE(has(text, "SetupDlg: Error page: Error connecting: getaddrinfo")) << text;
  shot("error-without-test-features");
  EXPECT_TRUE(pkg_.server().requests().empty());
  closeAndFinish();
}

} // namespace
