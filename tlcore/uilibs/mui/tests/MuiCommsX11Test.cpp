// The automation channel and the password field on the widget back-ends
// under Xvfb with openbox: a dialog with every element kind, a menu bar and
// a popup menu driven through the pipe, a strong-modal box answered by
// xdotool, and the clipboard read by xclip.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/MuiComms.h"
#include "mui/MuiWvw.h"
#include "muiDriver.h"
#include "muiWvwTree.h"
#include "testutil.h"
#include "muimisc/ClearTextPassword.h"
#include "muimisc/ProgressBar.h"
#include "plat/Configuration.h"
#include "plat/TestFeatures.h"
#include "txtest.h"
#include "ui/Menu.h"

using namespace mui;
using tltest::loopFor;

namespace {

// Menu choices, and a strong-modal box for the button "modal".
struct Actions : ui::MenuActionCallback, MuObserver {
  void action(ui::Menu::Item* item) override { chosen += item->label(); }
  void activated(MuElement* source, uint32_t) override
  {
    if (strcmp(source->getName(), "modal") == 0)
      answer = MuMessageBox(nullptr, "Sure?", MuMessageBox::kYesNo, "Sure", nullptr, true, nullptr).run() ? 1 : 0;
  }
  std::string chosen;
  int answer = -1;
};

class MuiCommsX11 : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    tltest::sharedXvfb().startWm();
    tltest::openTestDisplay();
    os::AppLoop::selectManager();
    static MuiWvw theMui;
    Mui::setInstance(&theMui);
    MuiWvw::bindFactories();
  }
};

} // namespace

TEST_F(MuiCommsX11, EveryKindMenusAndAModalBox)
{
  Actions actions;
  std::unique_ptr<MuDialog> d(MuDialog::create("all", "All", Size(700, 500), 0, nullptr, nullptr));
  d->addObserver(&actions, true);
  tltest::buildEveryKind(d.get());
  d->setShown(true);
  std::unique_ptr<MuPopupMenu> pop = MuPopupMenu::create("pop", &actions);
  tltest::fillMenus(*dynamic_cast<ui::MenuBar*>(d->getMenuBar()), *pop->menu(), &actions);
  pop->popupAt(rfb::Point(20, 20));
  loopFor(100);

  static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
  plat::setTestFeaturesDirsForTests(&keyDirs);
  std::unique_ptr<MuiComms> comms = MuiComms::start(nullptr, -1, -1);
  tltest::MuiDriver driver(tltest::MuiDriver::pipePath(getpid()));
  driver.pump = [] { loopFor(5); };
  const struct {
    const char *line, *reply, *chosen = "";
  } rows[] = {
      {"lists all", "l (layout)\nl.modal (button)\nl.check (check)\nl.choice (choice)\nl.edit (edit)\n"
                    "l.pw (edit)\nl.image (image)\nl.line (line)\nl.list (list)\nl.slider (slider)\n"
                    "l.static (static)\nl.superbox (superbox)\nl.text (text)\nl.frame (frame)\nl.pager (pager)\n"
                    "l.pager.x (layout)\nl.pager.y (layout)\nl.scroll (scroll)\nl.scroll.in (layout)\n"
                    "l.scroll.in.s3 (static)\nl.splitter (splitter)\nl.progress (progressBar)\nmenubar (menubar)\n"},
      {"menubar listitems", "Open\nOperate\nQuit\nAbout\n"},
      {"menubar state op", "1 0\n"},
      {"menubar state", "1 0\n"},
      {"menubar state quit", "1 1\n"},
      {"menubar 2", "1\n", "Quit"},
      {"menubar invoke about", "1\n"},
      {"popupmenu", "pop\n"},
      {"popupmenu pop 0", "1\n", "Alpha"},
  };
  for (const auto& r : rows) {
    actions.chosen.clear();
    EXPECT_EQ(r.reply, driver.command(r.line)) << r.line;
    EXPECT_EQ(r.chosen, actions.chosen) << r.line;
  }
  // Bytes from a peer that then closes; the state they leave. A line cut
  // short is not run; numbers stop at the element's range; a password
  // reaches no log.
  tltest::LogCapture log("MuiComms");
  const struct {
    const char *bytes, *query, *tail;
  } cases[] = {
      {"settext all.l.edit kept\n", "state all.l.edit", "value kept\n"},
      {"settext all.l.edit cut", "state all.l.edit", "value kept\n"},
      {"click all.l.slider -2147483648\n", "state all.l.slider", "value -5\nmin -5\nmax 5\n"},
      {"click all.l.slider 2147483647\n", "state all.l.slider", "value 5\nmin -5\nmax 5\n"},
      {"select all.l.list 99\n", "state all.l.list", "value 1\n"},
      {"select all.l.list -9\n", "state all.l.list", "value -1\n"},
      {"settext all.l.pw s3cret\n", "state all.l.pw", "value <hidden>\n"},
  };
  for (const auto& c : cases) {
    tltest::MuiDriver(tltest::MuiDriver::pipePath(getpid())).send(c.bytes);
    loopFor(20);
    const std::string state = driver.command(c.query);
    EXPECT_EQ(c.tail, state.substr(state.size() - std::min(state.size(), strlen(c.tail)))) << c.bytes;
  }
  EXPECT_STREQ("s3cret", static_cast<MuEdit*>(d->findElement("l.pw"))->getSecret().str());
  const std::string lines = ::testing::PrintToString(log.lines());
  EXPECT_NE(std::string::npos, lines.find("\"Got command settext all.l.pw <hidden>\"")) << lines;
  EXPECT_EQ(std::string::npos, lines.find("s3cret")) << lines;
  // Answered through X while the modal loop runs; the reply comes after.
  // Return until the box is gone: the first may only close the popup menu.
  const std::string x = "DISPLAY=" + tltest::sharedXvfb().display() + " xdotool ";
  const std::string answer = "while " + x + "search --name Sure; do " + x + "key Return; sleep 0.5; done";
  ASSERT_EQ(0, system(("(sleep 1; " + answer + ") >/dev/null 2>&1 &").c_str()));
  EXPECT_EQ("1\n", driver.command("click all.l.modal"));
  EXPECT_EQ(1, actions.answer);
}

TEST_F(MuiCommsX11, PasswordFieldRevealsAndCopies)
{
  std::unique_ptr<MuDialog> d(MuDialog::create("pwd", "Pwd", Size(300, 100), 0, nullptr, nullptr));
  MuLayout* l = MuLayout::create(d.get(), "l", MuLayout::kVertical);
  muimisc::ClearTextPassword pw(l, "pw", "Password:", true), bare(l, "bare", "Other:", false);
  d->setShown(true);
  loopFor(100);
  EXPECT_TRUE(d->findElement("l.bare.clearObsBtn") && !d->findElement("l.bare.clipboardBtn"));
  bare.setEnabled(false);
  EXPECT_TRUE(bare.hiddenEdit()->flags() & bare.eyeButton()->flags() & MuElement::kDisabled);
  for (const char* text : {"", "se cret"}) {
    pw.setText(text);
    pw.copyButton()->doAction("click", nullptr);
    EXPECT_EQ(text, tltest::pumpCommand("xclip -o -selection clipboard"));
    EXPECT_STREQ("copiedToClipboard", pw.copyButton()->imageName());
  }
  pw.hiddenEdit()->setFocus();
  pw.hiddenEdit()->setSelection(1, 3);
  for (const char* image : {"eyeOpen", "eyeClosed"}) {
    int length = 0;
    pw.eyeButton()->doAction("click", nullptr);
    loopFor(20);
    MuEdit* shown = pw.isClearTextShown() ? pw.clearEdit() : pw.hiddenEdit();
    EXPECT_STREQ(image, pw.eyeButton()->imageName());
    EXPECT_STREQ("se cret", shown->getSecret().str());
    EXPECT_STREQ("", (shown == pw.clearEdit() ? pw.hiddenEdit() : pw.clearEdit())->getSecret().str());
    EXPECT_EQ(1, shown->getSelection(&length));
    EXPECT_EQ(3, length);
    EXPECT_TRUE(shown->hasFocus());
  }
  EXPECT_FALSE(pw.isClearTextShown());
}
