// The widget back-ends built through the real factories, hosted offscreen
// under a dialog stand-in whose content is a canvas.
#include <gtest/gtest.h>

#include "mui/MuContainersWvw.h"
#include "mui/MuLeavesWvw.h"
#include "muiWvwTree.h"
#include "muimisc/ProgressBarWvw.h"
#include "plat/Configuration.h"
#include "wvwhost.h"

namespace {

using mui::MuCommonWvw;
using plat::Colour;
const Colour kFrame{165, 165, 165}, kLight{238, 238, 238}, kFace{184, 184, 184}, kPressed{216, 216, 216};

using tltest::HostDialog;

struct Events : mui::MuObserver {
  void event(mui::MuElement* source, uint32_t code) override { seen.push_back({source, code}); }
  int count(uint32_t code) const
  {
    int n = 0;
    for (auto& e : seen)
      n += e.second == code;
    return n;
  }
  std::vector<std::pair<mui::MuElement*, uint32_t>> seen;
};

class MuWvwTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    tltest::bindWvwHostDialogs();
  }
  void SetUp() override
  {
    dialog.reset(
        static_cast<HostDialog*>(mui::MuDialog::create("d", "D", mui::Size(300, 200), 0, nullptr, nullptr).release()));
    dialog->setMargin(0);
    host.setContent(&dialog->canvas);
    dialog->addObserver(&events, true);
  }
  // Lays el alone in the dialog at (0,0) with the given size.
  void place(mui::MuElement* el, int w, int h)
  {
    dialog->setPanelKind(el, mui::MuDialog::kTop);
    el->setPosition(rfb::Point());
    el->setSize(mui::Size(w, h));
  }
  tltest::WvwHost host{rfb::Point(300, 200)};
  std::unique_ptr<HostDialog> dialog;
  Events events;
};

TEST_F(MuWvwTest, EveryBoundKindHasAWidgetAndItsTypeWord)
{
  mui::MuLayout* box = mui::MuLayout::create(dialog.get(), "box", 0);
  const std::vector<std::pair<mui::MuElement*, const char*>> made = {
      {box, "layout"},
      {mui::MuButton::create(box, "b", "B", 0, 0, 1), "button"},
      {mui::MuCheck::create(box, "c", "C", 0, nullptr), "check"},
      {mui::MuChoice::create(box, "ch", "Ch"), "choice"},
      {mui::MuEdit::create(box, "e", "E", 0, 0), "edit"},
      {mui::MuImage::create(box, "i", nullptr, mui::Size()), "image"},
      {mui::MuLine::create(box, "l", true, true, 2), "line"},
      {mui::MuList::create(box, "li", 1, 0), "list"},
      {mui::MuSlider::create(box, "s", 0), "slider"},
      {mui::MuStatic::create(box, "st", "x", 0), "static"},
      {mui::MuSuperbox::create(box, "sb", "S", nullptr, 50), "superbox"},
      {mui::MuText::create(box, "t", "x", nullptr, 0), "text"},
      {mui::MuFrame::create(box, "f", "F", 1), "frame"},
      {mui::MuPager::create(box, "p", 0), "pager"},
      {mui::MuScroll::create(box, "sc", 4), "scroll"},
      {mui::MuSplitter::create(box, "sp", 0, false, false), "splitter"},
      {muimisc::ProgressBar::create(box, "pb"), "progressBar"},
  };
  for (auto& [el, type] : made) {
    EXPECT_STREQ(type, el->typeName());
    wvw::Widget* w = MuCommonWvw::getWidget(el, true);
    ASSERT_TRUE(w) << type;
    EXPECT_TRUE(w->isAttached()) << type;
  }
  EXPECT_EQ(nullptr, MuCommonWvw::getWidget(mui::MuSpacer::create(box, 1, 1), false));
}

TEST_F(MuWvwTest, IndicatorMetricFollowsPpmmAndDebugLayoutColoursEachElement)
{
  EXPECT_EQ(40u, mui::Mui::baseMetric(mui::Mui::kIndent)); // a 16-pixel box at 4 pixels/mm
  ASSERT_TRUE(plat::ppmm.setParam(8, plat::kPriorityPolicy));
  {
    mui::MuiWvw eight;
    EXPECT_EQ(24u, mui::Mui::baseMetric(mui::Mui::kIndent));
    EXPECT_EQ(24, mui::Mui::metric(mui::Mui::kIndent));
  }
  ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  mui::MuiWvw four;
  const mui::MuiWvw& m = mui::MuiWvw::instance();
  EXPECT_EQ(m.getStyle().bg, m.getStyle().bg);
  ASSERT_TRUE(mui::debugLayout.setParam(1, plat::kPriorityPolicy));
  EXPECT_NE(m.getStyle().bg, m.getStyle().bg);
  ASSERT_TRUE(mui::debugLayout.setParam(0, plat::kPriorityPolicy));
}

TEST_F(MuWvwTest, InvalidateClampsTo16Bits)
{
  struct Rec : wvw::Widget {
    void invalidate(const rfb::Region& r) override { got.push_back(r.getBoundingRect()); }
    rfb::Point preferredSize() override { return rfb::Point(); }
    void paint(rfb::WritablePixelBuffer&) override {}
    std::vector<rfb::Rect> got;
  } rec;
  MuCommonWvw common(dialog.get(), &rec);
  common.invalidate(rfb::Rect(-40000, -5, 40000, 5));
  common.invalidate(rfb::Rect(7, 0, 7, 9));
  ASSERT_EQ(2u, rec.got.size());
  EXPECT_EQ(rfb::Rect(-32768, -5, 32767, 5), rec.got[0]);
  EXPECT_TRUE(rec.got[1].isEmpty());
}

TEST_F(MuWvwTest, ProgressBarFillsAndRepaintsOnlyOnALengthChange)
{
  muimisc::ProgressBar* bar = muimisc::ProgressBar::create(dialog.get(), "pb");
  place(bar, 200, 10);
  const Colour fill{0x28, 0x8c, 0xf4}, rest{0xd0, 0xd0, 0xd0};
  for (auto [value, filled] : std::vector<std::pair<int, int>>{{0, 0}, {32767, 99}, {65535, 200}}) {
    bar->setValue((uint16_t)value);
    host.paint();
    for (int x = 0; x < 200; x++)
      ASSERT_EQ(x < filled ? fill : rest, host.at(x, 5)) << value << " at " << x;
  }
  bar->setValue(32766);
  for (auto [value, repaints] : std::vector<std::pair<int, bool>>{{32767, false}, {32768, true}, {32768, false}}) {
    host.damage.clear();
    bar->setValue((uint16_t)value);
    EXPECT_EQ(repaints, !host.damage.isEmpty()) << value;
  }
  bar->setValue(32767);
  EXPECT_STREQ("49%", bar->getItems().get());
}

TEST_F(MuWvwTest, ButtonActivatesOnReleaseInsideOrKeysAndPaintsItsFaces)
{
  mui::MuButton* b = mui::MuButton::create(dialog.get(), "b", "", 0, 0, 1);
  EXPECT_EQ(8, b->preferredWidth(-1)); // 16 units
  EXPECT_EQ(8, b->preferredHeight(-1));
  place(b, 16, 16);
  host.press(5, 5);
  host.release(40, 40);
  EXPECT_EQ(0, events.count(mui::MuObserver::kActivated));
  host.click(5, 5);
  b->setFocus();
  host.typeKey(0xFF0D);
  host.typeKey(0x20);
  EXPECT_EQ(3, events.count(mui::MuObserver::kActivated));

  struct Face {
    const char* what;
    Colour top, bottom;
  };
  host.pointer(5, 5);
  const Face normal{"normal", kLight, kFace};
  host.press(5, 5);
  host.paint();
  const Face pressed{"pressed", kFace, kPressed};
  EXPECT_EQ(pressed.top, host.at(8, 2));
  EXPECT_EQ(pressed.bottom, host.at(8, 13));
  host.release(5, 5);
  b->setEnabled(false);
  host.paint();
  EXPECT_EQ(kLight, host.at(8, 2)) << "disabled";
  EXPECT_EQ(kLight, host.at(8, 13)) << "disabled";
  b->setEnabled(true);
  host.leave();
  host.paint();
  ASSERT_EQ(rfb::Point(16, 16), b->getSize());
  EXPECT_EQ(normal.top, host.at(8, 2));
  EXPECT_NEAR(normal.bottom.r, host.at(8, 13).r, 1); // the gradient rounds falling steps up
}

TEST_F(MuWvwTest, LeavesNotifyOnlyOnUserInput)
{
  mui::MuEdit* edit = mui::MuEdit::create(dialog.get(), "e", nullptr, 0, 0);
  place(edit, 100, 30);
  edit->setText("set");
  EXPECT_EQ(0, events.count(mui::MuObserver::kChanged));
  edit->setFocus();
  host.typeKey('7');
  EXPECT_STREQ("7", edit->getText().get()) << "focusing selected the text";
  EXPECT_EQ(1, events.count(mui::MuObserver::kChanged));
  edit->setNumeric();
  edit->setText("12");
  host.typeKey('x');
  host.typeKey('3');
  EXPECT_STREQ("123", edit->getText().get());

  mui::MuChoice* choice = mui::MuChoice::create(dialog.get(), "c", nullptr);
  choice->insertItem(0, "a&b");
  choice->select(0);
  EXPECT_STREQ("a&b", choice->text().get());
  EXPECT_EQ(0, choice->selectedIndex());
  EXPECT_STREQ("0:a&b\n", choice->getItems().get());
  choice->setText("nothing");
  EXPECT_EQ(-1, choice->selectedIndex());

  mui::MuSlider* slider = mui::MuSlider::create(dialog.get(), "s", 1);
  slider->setRange(0, 100);
  slider->setValue(30);
  EXPECT_EQ(70, static_cast<mui::MuSliderWvw*>(slider)->widget().getValue().y);
  EXPECT_EQ(30, slider->value());
  EXPECT_EQ(2, events.count(mui::MuObserver::kChanged)) << "the setters raised nothing more";

  mui::MuStatic* text = mui::MuStatic::create(dialog.get(), "t", "", 0);
  text->setText("a rather long text that cannot fit", false, true);
  place(text, 60, 20);
  const std::string shown = static_cast<mui::MuStaticWvw*>(text)->widget().getText();
  EXPECT_NE(std::string::npos, shown.find("\xE2\x80\xA6")) << shown;
}

TEST_F(MuWvwTest, ListKeepsItsSelectedItemAcrossRowChanges)
{
  mui::MuList* list = mui::MuList::create(dialog.get(), "l", 1, 0);
  list->addColumn(3, 0, "Name", -1);
  for (const char* row : {"a", "b", "c"})
    list->insertRowWith(99, {row});
  list->select(1);
  list->insertRowWith(0, {"z"});
  EXPECT_EQ(2, list->selectedIndex());
  EXPECT_EQ(2, static_cast<mui::MuListWvw*>(list)->widget().selectedRow());
  list->removeRow(0);
  EXPECT_EQ(1, list->selectedIndex());
  list->removeRow(1);
  EXPECT_EQ(-1, list->selectedIndex());
  EXPECT_DEATH(list->setCell(0, 9, "x"), "col >= 0");
}

TEST_F(MuWvwTest, ContainersPlaceAndDecorate)
{
  mui::MuScroll* scroll = mui::MuScroll::create(dialog.get(), "sc", mui::MuScroll::kBordered);
  place(scroll, 100, 60);
  EXPECT_EQ(rfb::Point(96, 56), static_cast<mui::MuScrollWvw*>(scroll)->view().getSize());
  dialog->removeChild(scroll);

  struct Case {
    uint32_t type;
    std::vector<std::pair<rfb::Point, Colour>> pixels;
  };
  const Colour bg{216, 216, 216};
  for (const Case& c : std::vector<Case>{
           {mui::MuFrame::kHeader, {{{5, 19}, kFrame}, {{5, 0}, bg}}},
           {mui::MuFrame::kFooter, {{{5, 0}, kFrame}, {{5, 19}, bg}}},
           {mui::MuFrame::kBordered, {{{0, 0}, kFrame}, {{1, 1}, kLight}, {{49, 10}, kFrame}, {{48, 10}, kLight}}},
       }) {
    mui::MuFrame* frame = mui::MuFrame::create(dialog.get(), "f", nullptr, c.type);
    place(frame, 50, 20);
    host.paint();
    for (auto& [at, colour] : c.pixels)
      EXPECT_EQ(colour, host.at(at.x, at.y)) << c.type << " at " << at.x << "," << at.y;
    frame->styleChanged();
    host.paint();
    EXPECT_EQ(bg, host.at(25, 10)) << c.type;
    dialog->removeChild(frame);
  }

  const wvw::WStyle& s = mui::MuiWvw::instance().getStyle();
  for (bool thin : {false, true}) {
    mui::MuSplitter* split = mui::MuSplitter::create(dialog.get(), "sp", 0, thin, true);
    mui::MuSpacer::create(mui::MuLayout::create(split, "l", 0), 40, 10);
    mui::MuSpacer::create(mui::MuLayout::create(split, "r", 0), 40, 10);
    place(split, 100, 10);
    host.paint();
    const int x = split->sashPosition(0), w = split->sashWidth(0);
    for (int i = 0; i < w; i++)
      EXPECT_EQ(!thin || i == w / 2 ? s.disabledText : s.contentBg, host.at(x + i, 5)) << thin << " " << i;
    dialog->removeChild(split);
  }

  events.seen.clear();
  mui::MuPager* pager = mui::MuPager::create(dialog.get(), "p", 0);
  mui::MuLayout::create(pager, "one", 0);
  mui::MuLayout::create(pager, "two", 0);
  place(pager, 200, 100);
  static_cast<mui::MuPagerWvw*>(pager)->tabs()->selectSheet(1);
  EXPECT_EQ(1, pager->current());
  EXPECT_EQ(1, events.count(mui::MuObserver::kChanged));
}

} // namespace
