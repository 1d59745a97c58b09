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
  MuLayout* l = MuLayout::create(d.get(), "l", MuLayout::kVertical);
  MuButton::create(l, "modal", "Modal", 0, 0, 1);
  MuCheck::create(l, "check", "C", 0, nullptr);
  MuChoice::create(l, "choice", "Ch");
  MuEdit::create(l, "edit", "E", 0, 0);
  MuImage::create(l, "image", "eyeOpen", Size(8, 8));
  MuLine::create(l, "line", true, false, 1);
  MuList::create(l, "list", 0, 0);
  MuSlider::create(l, "slider", 0);
  MuStatic::create(l, "static", "S", 0);
  MuSuperbox::create(l, "superbox", "Sb", nullptr, 100);
  MuText::create(l, "text", "t", nullptr, 0);
  MuFrame::create(l, "frame", "F", 0);
  MuPager::create(l, "pager", 0);
  MuScroll::create(l, "scroll", 0);
  MuSplitter::create(l, "splitter", 0, false, false);
  muimisc::ProgressBar::create(l, "progress");
  auto* bar = dynamic_cast<ui::MenuBar*>(d->getMenuBar());
  for (const char* label : {"Open", "Operate", "Quit"})
    bar->fileMenu()->insertItem(label, nullptr, nullptr, &actions);
  bar->fileMenu()->leafItems()[2]->setChecked(1);
  bar->helpMenu()->insertItem("About", nullptr, nullptr, &actions)->setEnabled(false);
  d->setShown(true);
  std::unique_ptr<MuPopupMenu> pop = MuPopupMenu::create("pop", &actions);
  pop->menu()->insertItem("Alpha", nullptr, nullptr);
  pop->popupAt(rfb::Point(20, 20));
  loopFor(100);

  static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
  plat::setTestFeaturesDirsForTests(&keyDirs);
  MuiComms::start(nullptr, -1, -1);
  tltest::MuiDriver driver(tltest::MuiDriver::pipePath(getpid()));
  driver.pump = [] { loopFor(5); };
  const struct {
    const char *line, *reply, *chosen = "";
  } rows[] = {
      {"lists all", "l (layout)\nl.modal (button)\nl.check (check)\nl.choice (choice)\nl.edit (edit)\n"
                    "l.image (image)\nl.line (line)\nl.list (list)\nl.slider (slider)\nl.static (static)\n"
                    "l.superbox (superbox)\nl.text (text)\nl.frame (frame)\nl.pager (pager)\nl.scroll (scroll)\n"
                    "l.splitter (splitter)\nl.progress (progressBar)\nmenubar (menubar)\n"},
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
  // Answered through X while the modal loop runs; the reply comes after.
  // Return until the box is gone: the first may only close the popup menu.
  const std::string x = "DISPLAY=" + tltest::sharedXvfb().display() + " xdotool ";
  const std::string answer = "while " + x + "search --name Sure; do " + x + "key Return; sleep 0.5; done";
  ASSERT_EQ(0, system(("(sleep 1; " + answer + ") >/dev/null 2>&1 &").c_str()));
  EXPECT_EQ("1\n", driver.command("click all.l.modal"));
  EXPECT_EQ(1, actions.answer);
  MuiComms::stop();
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
