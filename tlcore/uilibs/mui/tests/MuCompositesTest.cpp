// The composites built only from elements, on the fake back-end: the
// animation and spinner, the button bar, the message box and the info
// frame and the inspector.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mui/MuAnimation.h"
#include "mui/MuButtonBar.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuInfoFrame.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/MuiInspector.h"
#include "muiFake.h"
#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "plat/Colour.h"
#include "plat/Configuration.h"
#include "plat/Markup.h"

using namespace mui;
using tltest::fakeOf;

namespace {

std::unique_ptr<MuDialog> makeDialog()
{
  EXPECT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  tltest::bindFakeBackEnd();
  Mui::setMetrics(Mui::kDefaultMetrics);
  return std::unique_ptr<MuDialog>(MuDialog::create("dlg", "", Size(400, 300), 0, nullptr, nullptr));
}

// The row left to right: "<" the stretching spacer, "|n" a fixed gap of n,
// else the element names.
std::string row(const MuLayout* layout)
{
  std::string s;
  for (int i = 0; i < layout->childCount(); i++) {
    const MuElement* e = layout->getChild(i);
    const uint32_t mode = layout->childMode(e) & MuLayout::kSizeMask;
    s += s.empty() ? "" : " ";
    s += e->getName()                         ? e->getName()
         : strcmp(e->typeName(), "button") == 0 ? "?"
         : mode == MuLayout::kStretch           ? "<"
                                                : "|" + std::to_string(layout->childValue(e));
  }
  return s;
}

const char* nameOf(const MuElement* e)
{
  return e ? e->getName() : "-";
}

plat::Time now;

plat::Time clock(plat::Time, bool*)
{
  return now;
}

} // namespace

TEST(Composites, SpinnerAndAnimation)
{
  static plat::SysColorsGeneric colours;
  plat::setSysColors(&colours);
  plat::setMonoClock(clock);
  plat::TimerManager timers;
  auto d = makeDialog();
  for (bool dark : {false, true}) {
    ASSERT_TRUE(plat::Configuration::global().set("_DarkMode", dark ? "1" : "0", plat::kPriorityPolicy));
    const std::string colour = dark ? "" : "black";
    MuSpinner spinner(d.get(), 1, Size(16, 16));
    MuImage* image = spinner.image();
    EXPECT_STREQ(image->getName(), "spinner");
    EXPECT_FALSE(image->isShown());
    EXPECT_EQ(image->imageName(), "spinner" + colour + "00");
    spinner.setSpinning(true);
    EXPECT_TRUE(image->isShown());
    for (int i = 1; i <= 12; i++) {
      now += 99 * plat::kTicksPerMilli;
      timers.processTimers();
      EXPECT_EQ(spinner.frame(), i - 1);
      now += plat::kTicksPerMilli;
      timers.processTimers();
      char frame[4];
      snprintf(frame, sizeof frame, "%02d", i % 12);
      EXPECT_EQ(image->imageName(), "spinner" + colour + frame);
    }
    // A hidden or disabled image keeps its frame.
    spinner.timerExpired(&spinner.timer());
    image->setShown(false);
    EXPECT_TRUE(spinner.timerExpired(&spinner.timer()));
    image->setShown(true);
    image->setEnabled(false);
    EXPECT_TRUE(spinner.timerExpired(&spinner.timer()));
    EXPECT_EQ(spinner.frame(), 1);
    image->setEnabled(true);
    spinner.setSpinning(false);
    EXPECT_FALSE(spinner.timer().isStarted());
    EXPECT_EQ(image->imageName(), "spinner" + colour + "00");
  }
  MuAnimation none(d.get(), "a", 50, "x", Size());
  EXPECT_FALSE(none.timerExpired(&none.timer()));
}

TEST(Composites, ButtonBarOrdersAndDefaults)
{
  const struct {
    uint32_t buttons;
    const char* row;
    const char* byDefault;
    const char* cancel;
  } cases[] = {
      {MuButtonBar::kOk | MuButtonBar::kCancel, "< |8 cancel ok", "ok", "cancel"},
      {MuButtonBar::kYes | MuButtonBar::kNo, "< no yes", "yes", "no"},
      {MuButtonBar::kBack | MuButtonBar::kNext | MuButtonBar::kCancel, "< back next |8 cancel", "next", "cancel"},
      {0x3ff, "< back next |8 apply cancel no save open ok yes continue", "ok", "cancel"},
  };
  for (const auto& c : cases) {
    auto d = makeDialog();
    MuButtonBar bar(d.get(), c.buttons, true);
    MuElement* footer = d->findElement("buttons");
    ASSERT_EQ(footer, bar.frame());
    EXPECT_EQ(bar.frame()->type(), (uint32_t)MuFrame::kFooter);
    EXPECT_EQ(bar.layout(), d->findElement("buttons.layout"));
    EXPECT_EQ(row(bar.layout()), c.row);
    EXPECT_STREQ(nameOf(d->button(MuDialog::kDefaultButton)), c.byDefault);
    EXPECT_STREQ(nameOf(d->button(MuDialog::kCancelButton)), c.cancel);
    // Setting the buttons again first clears the dialog's registrations.
    bar.setButtons(MuButtonBar::kApply, false);
    EXPECT_EQ(d->button(MuDialog::kDefaultButton), nullptr);
    EXPECT_EQ(d->button(MuDialog::kCancelButton), nullptr);
    EXPECT_EQ(row(bar.layout()), "< apply");
  }
  auto d = makeDialog();
  {
    loc::LocaleSetter english("en_US");
    MuButtonBar bar(d.get(), MuButtonBar::kOk, true);
    EXPECT_STREQ(bar.find(MuButtonBar::kOk)->getLabel(), "OK");
  }
  // The bar takes its frame and its registrations with it.
  EXPECT_EQ(d->childCount(), 0);
  EXPECT_EQ(d->button(MuDialog::kDefaultButton), nullptr);
}

TEST(Composites, CustomButtons)
{
  auto d = makeDialog();
  MuLayout* main = MuLayout::create(d.get(), "main", MuLayout::kVertical);
  MuButtonBar bar(main, MuButtonBar::kOk, false);
  EXPECT_EQ(bar.layout(), d->findElement("main.buttons"));
  bar.addCustomButton("c1", "One");
  MuButton* unnamed = bar.addCustomButton(nullptr, "Two");
  EXPECT_EQ(row(bar.layout()), "? c1 < ok");
  EXPECT_EQ(bar.layout()->getChild(0), unnamed);
  EXPECT_EQ(bar.find(MuButtonBar::kCustom, "c1"), bar.layout()->getChild(1));
  EXPECT_EQ(bar.find(MuButtonBar::kCustom), unnamed);
  EXPECT_EQ(bar.bitOf(unnamed), (uint32_t)MuButtonBar::kCustom);
  EXPECT_EQ(bar.bitOf(main), 0u);
  bar.setDialogButton(MuDialog::kCancelButton, {MuButtonBar::kCancel, MuButtonBar::kCustom, MuButtonBar::kOk, 0});
  EXPECT_EQ(d->button(MuDialog::kCancelButton), unnamed);
  // Rebuilt: the next custom button goes before the new leading spacer.
  bar.setButtons(MuButtonBar::kOk, false);
  EXPECT_EQ(d->button(MuDialog::kCancelButton), nullptr);
  bar.addCustomButton("c3", "Three");
  EXPECT_EQ(row(bar.layout()), "c3 < ok");
  bar.setEnabled(false);
  EXPECT_EQ(bar.find(MuButtonBar::kCustom, "c3")->flags(), (uint32_t)MuElement::kDisabled);
  EXPECT_DEATH(MuButtonBar(main, MuButtonBar::kCustom, false), "!\\(buttons & Custom\\)");
}

TEST(Composites, MessageBoxFlagsIconsAndTitle)
{
  auto owner = makeDialog();
  const struct {
    bool owner;
    MuDialog::WindowHandle window;
    bool strong;
    uint32_t set;
    uint32_t flags;
  } cases[] = {
      {true, nullptr, false, 0, 0x4B},   {true, nullptr, true, 1, 0x53},      {false, nullptr, false, 4, 0x47},
      {false, nullptr, true, 0, 0x53},   {false, owner.get(), false, 2, 0x4F}, {false, nullptr, false, 3, 0x47},
      {true, nullptr, true, 5, 0x57},
  };
  for (const auto& c : cases) {
    MuMessageBox box(c.owner ? owner.get() : nullptr, "m", c.set, "T", nullptr, c.strong, c.window);
    EXPECT_EQ(box.dialog()->dialogFlags(), c.flags) << c.set;
    // Sets other than 0, 1 and 4 have no buttons.
    EXPECT_EQ(box.buttonBar()->find(MuButtonBar::kOk) || box.buttonBar()->find(MuButtonBar::kYes),
              c.set == 0 || c.set == 1 || c.set == 4);
  }

  const struct {
    uint32_t flags;
    const char* icon;
  } icons[] = {{0x00, nullptr},           {0x10, "statusError"}, {0x20, "statusQuestion"},
               {0x30, "statusWarning"},   {0x40, "statusInfo"},  {0xF0, "statusInfo"}};
  for (const auto& i : icons) {
    MuMessageBox box(nullptr, "a < b", i.flags, "T", nullptr, false, nullptr);
    EXPECT_STREQ(MuMessageBox::statusIconName(i.flags), i.icon);
    auto* image = static_cast<MuImage*>(box.dialog()->findElement("main.frame.split.icon"));
    EXPECT_STREQ(image ? image->imageName() : nullptr, i.icon);
    EXPECT_EQ(box.dialog()->getSize().x, i.icon ? 480 : 480 - 75);
    auto* msg = static_cast<MuText*>(box.dialog()->findElement(i.icon ? "main.frame.split.info.msg" : "main.frame.info.msg"));
    ASSERT_NE(msg, nullptr);
    EXPECT_STREQ(msg->markup(), "a &lt; b");
  }
  MuMessageBox detailed(nullptr, "a", 0, "T", "<i>more</i>", false, nullptr);
  EXPECT_STREQ(static_cast<MuText*>(detailed.dialog()->findElement("main.frame.info.msg"))->markup(), "<b>a</b>");
  EXPECT_STREQ(static_cast<MuText*>(detailed.dialog()->findElement("main.frame.info.detail"))->markup(),
               "<i>more</i>");

  const struct {
    const char* displayName;
    const char* title;
    const char* shown;
  } titles[] = {{nullptr, "T", "T"}, {"App", "T", "App - T"}, {"App", "", "App"}, {"App", nullptr, "App"}};
  for (const auto& t : titles) {
    if (t.displayName)
      os::AppInfo::setDisplayName(t.displayName);
    MuMessageBox box(nullptr, "m", 0, t.title, nullptr, false, nullptr);
    EXPECT_EQ(static_cast<tltest::FakeDialog*>(box.dialog())->title, t.shown);
  }
}

TEST(Composites, MessageBoxAnswers)
{
  enum By { kClose, kOk, kCancel, kYes, kNo };
  const struct {
    uint32_t flags;
    const char* byDefault;
    By by;
    bool answer;
  } cases[] = {
      {0, "ok", kClose, true},          {0, "ok", kOk, true},           {1, "ok", kClose, false},
      {1, "ok", kOk, true},             {0x101, "cancel", kCancel, false}, {4, "yes", kClose, false},
      {4, "yes", kYes, true},           {0x204, "no", kNo, false},      {2, "-", kClose, false},
  };
  auto unused = makeDialog();
  for (const auto& c : cases) {
    MuMessageBox box(nullptr, "m", c.flags, "T", nullptr, true, nullptr);
    MuDialog* d = box.dialog();
    MuElement* byDefault = d->button(MuDialog::kDefaultButton);
    EXPECT_STREQ(nameOf(byDefault), c.byDefault) << c.flags;
    if (byDefault) {
      EXPECT_TRUE(fakeOf(byDefault).focus);
      EXPECT_EQ(static_cast<tltest::FakeDialog*>(d)->focused, byDefault);
    }
    // The fake window answers while it is shown, as a modal loop would.
    fakeOf(d).shownHook = [&](bool shown) {
      static const char* const kNames[] = {nullptr, "ok", "cancel", "yes", "no"};
      if (!shown)
        return;
      if (c.by == kClose)
        d->requestClose();
      else
        EXPECT_TRUE(d->findElement((std::string("main.buttons.") + kNames[c.by]).c_str())->doAction("click", nullptr));
    };
    EXPECT_EQ(box.run(), c.answer) << c.flags << " " << c.by;
    EXPECT_FALSE(d->isShown());
  }
}

TEST(Composites, InfoFrame)
{
  struct Links : plat::Markup::LinkCallback {
    bool linkActivated(const char* href) override
    {
      target = href;
      return true;
    }
    std::string target;
  } links;
  auto d = makeDialog();
  MuLayout* page = MuLayout::create(d.get(), "page", MuLayout::kVertical);
  MuInfoFrame info(page, "inf", &links, MuFrame::kPlain);
  EXPECT_FALSE(info.frame()->isShown());
  for (int kind = 0; kind <= 7; kind++) {
    static const char* const kIcons[] = {"notify", "success", "warning", "error", "locked", "default", "preference",
                                         "notify"};
    info.setInfo(kind, "Hi", nullptr);
    EXPECT_EQ(info.icon()->imageName(), std::string("infoframe_") + kIcons[kind]);
  }
  EXPECT_STREQ(info.text()->markup(), "<div style=\"text-align:left;font-size:100%;font-weight:400;color:helpText;\">Hi</div>");
  EXPECT_TRUE(info.frame()->isShown());
  info.setInfo(2, "Hi", "More");
  info.setInfo(2, "Hi", "More");
  EXPECT_EQ(info.link(), d->findElement("page.inf.split.textLayout.link"));
  EXPECT_EQ(static_cast<MuLayout*>(d->findElement("page.inf.split.textLayout"))->childCount(), 3);
  EXPECT_TRUE(info.link()->doAction("click", "0"));
  EXPECT_EQ(links.target, "app://infoframe//inf");
  info.setInfo(1, nullptr, nullptr);
  EXPECT_FALSE(info.frame()->isShown());
  EXPECT_EQ(info.link(), nullptr);
  info.setShown(true);
  EXPECT_TRUE(info.frame()->isShown());
}

TEST(Composites, InspectorEmptiesItsTextsAndIsOne)
{
  plat::setMonoClock(clock);
  plat::TimerManager timers;
  auto d = makeDialog();
  MuiInspector inspector;
  EXPECT_DEATH(MuiInspector(), "!inspector");
  now += 200 * plat::kTicksPerMilli;
  EXPECT_EQ(0, timers.processTimers());
  for (const char* path : {"main.muiid", "main.muitype", "main.muistate"})
    EXPECT_STREQ("", inspector.dialog()->findElement(path)->getLabel()) << path;
  MuElement* b = MuButton::create(MuLayout::create(d.get(), "l", 0), "b", "", 0, 0, 0);
  EXPECT_STREQ("dlg.l.b", MuiInspector::fullAddress(b).str());
  EXPECT_STREQ("dlg", MuiInspector::fullAddress(d.get()).str());
}
