// The program with its X front end, run as the test user on the shared
// Xvfb under openbox: the wizard's fixed-size window with its title, class
// and window-manager functions, screenshots of the initial page in two
// languages, the language switched from the keyboard, closing through the
// window manager, the display error when there is no display, and the
// program driven through its automation channel.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "ProgramRun.h"

namespace {

using tltest::has;
using tltest::x;

class XFrontEnd : public tltest::WizardTest {
protected:
  void SetUp() override
  {
    if (geteuid() == 0 && !tltest::testUser())
      GTEST_SKIP() << "needs the test user when run as root";
  }
};

// The width of the install button's blue across the window's row that
// crosses the middle column's first blue pixel; 0 when none is blue.
int buttonWidth(Window w)
{
  const std::vector<std::vector<bool>> blue = tltest::bluePixels(w);
  int y = 0, width = 0;
  while (y < 539 && !blue[y][280])
    y++;
  for (int x = 0; x < 560; x++)
    width += blue[y + 4][x];
  return width;
}

TEST_F(XFrontEnd, WindowAndInitialPageInTwoLanguages)
{
  for (const char* locale : {"en", "de"}) {
    tltest::ProgramRun run({std::string("-Locale=") + locale}, {tltest::wizardDisplay()});
    ASSERT_TRUE(run.waitShown()) << run.log();
    const Window w = tltest::wizardWindow();
    ASSERT_NE(0u, w) << locale;
    const std::string id = std::to_string(w);
    std::string props = x("xprop -id " + id + " WM_NAME WM_CLASS _MOTIF_WM_HINTS WM_NORMAL_HINTS");
    EXPECT_TRUE(has(props, "WM_NAME(STRING) = \"Tessaly Daziziz Setup\"")) << props;
    EXPECT_TRUE(has(props, "WM_CLASS(STRING) = \"SetupDlg\", \"tessaly-tlzarnconnectsetup\"")) << props;
    // Motif functions 36: move and close, no resize, minimise or maximise.
    EXPECT_TRUE(has(props, "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x24,")) << props;
    // Fixed at 560 by 460 for the pages plus the header (a 48-pixel icon
    // within margins of 16).
    EXPECT_TRUE(has(props, "minimum size: 560 by 540\n") && has(props, "maximum size: 560 by 540\n")) << props;
    std::string info = x("xwininfo -id " + id);
    EXPECT_TRUE(has(info, "Width: 560\n") && has(info, "Height: 540\n")) << info;
    // Time for the first paint, then what a person would see.
    tltest::loopFor(500);
    EXPECT_TRUE(tltest::screenshot(w, 560, 540, std::string("wizard-initial-") + locale));
    // Down on the language choice: German at once, on a wider button.
    if (std::string(locale) == "en") {
      int english = buttonWidth(w);
      x("xdotool windowactivate --sync " + id + " key Down");
      EXPECT_TRUE(tltest::loopUntil([&] { return buttonWidth(w) > english + 40; }, 5000)) << english;
      EXPECT_TRUE(tltest::screenshot(w, 560, 540, "wizard-switched-de"));
    }
    // Closed through the window manager: the program ends with status 0.
    x("xdotool windowactivate --sync " + id + " key alt+F4");
    tltest::ProgramRun::Result r = run.finish();
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(has(r.log, "SetupDlg: Dialog closed")) << r.log;
  }
}

// With test features (the key in the program's store), the test CA through
// `_CertsPem`, the package held half-sent by the HTTPS stand-in, and a
// recording xdg-open first on PATH.
TEST_F(XFrontEnd, DrivenThroughTheAutomationChannel)
{
  tltest::PackageServer pkg(std::string(1000, 'd'));
  tltest::TempDir tools("tlwiztools");
  chmod(tools.path().c_str(), 0755);
  mkdir((tools / "bin").c_str(), 0755);
  tools.write("bin/xdg-open", "#!/bin/sh\necho \"$@\" >> \"$HOME/opened\"\n", 0755);
  tltest::ProgramRun run({"-Locale=en", "-_OrbUri=" + pkg.uri("hold"), "-_CertsPem=" + pkg.caPem()},
                         {tltest::wizardDisplay(), "PATH=" + tools / "bin" + ":/usr/bin:/bin"},
                         tltest::withStore(tltest::kTestFeatures));
  std::unique_ptr<tltest::MuiDriver> mui = tltest::connectMui(run);
  ASSERT_TRUE(mui) << run.log();
  EXPECT_EQ("0:English\n1:Deutsch\n2:Español\n3:Français\n4:Português (Brasil)\n",
            mui->command("listitems SetupDlg.langs"));
  const char* labels[] = {"Accept and Install", "Akzeptieren und installieren", "Aceptar e instalar",
                          "Accepter et installer", "Aceitar e instalar"};
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ("1\n", mui->command("select SetupDlg.langs " + std::to_string(i)));
    EXPECT_TRUE(has(mui->command("state SetupDlg.initial.install"),
                    std::string("\nlabel ") + labels[i] + "\n"))
        << labels[i];
  }
  EXPECT_EQ("1\n", mui->command("select SetupDlg.langs 0"));
  for (int i = 0; i < 2; i++)
    EXPECT_EQ("1\n", mui->command("click SetupDlg.initial.eula " + std::to_string(i)));
  // Held after half the body; cancelled, retried, held again and closed.
  auto held = [&] {
    EXPECT_EQ("1\n", mui->command("click SetupDlg.initial.install"));
    return tltest::loopUntil(
        [&] { return mui->command("listitems SetupDlg.download.progress") == "50%\n"; }, 20000);
  };
  EXPECT_TRUE(held());
  EXPECT_EQ("1\n", mui->command("click SetupDlg.download.cancel"));
  EXPECT_TRUE(run.waitForLog("SetupDlg: Error page: Download cancelled\n"));
  EXPECT_TRUE(has(mui->command("state SetupDlg.error.cmdOutBtn"), "shown 0\n"));
  EXPECT_EQ("1\n", mui->command("click SetupDlg.error.retry"));
  EXPECT_TRUE(held());
  // Closed as the window manager asks; the reply may not come.
  mui->send("close SetupDlg\n");
  plat::Time asked = plat::getMonoTime();
  bool closed = run.waitForLog("SetupDlg: Dialog closed");
  tltest::ProgramRun::Result r = run.finish(closed ? 0 : SIGKILL);
  EXPECT_LT(plat::getMonoTime() - asked, plat::kTicksPerSecond);
  EXPECT_EQ(0, r.status) << r.err << r.log;
  const std::string site = "https://www.daziziz.example/legal/";
  EXPECT_EQ(site + "#eulas\n" + site + "#privacy\n", tltest::readWholeFile(run.home() + "/opened"));
}

TEST_F(XFrontEnd, NoDisplayIsAnError)
{
  tltest::ProgramRun::Result r = tltest::runProgram({});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("tlzarnconnectsetup: unable to open display \"\"\n", r.err);
}

} // namespace
