// The box layout: its numbers, child management, the overflow check, and a
// property test over random trees, on the fake back-end.
#include <limits.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "muiFake.h"
#include "plat/Configuration.h"

using namespace mui;
using tltest::fakeOf;

namespace {

struct LayoutTest : ::testing::Test {
  LayoutTest()
  {
    EXPECT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    Mui::setMetrics(Mui::kDefaultMetrics);
  }
  bool bound_ = (tltest::bindFakeBackEnd(), true);
  std::unique_ptr<MuDialog> dialog{MuDialog::create("dlg", "", Size(400, 300), 0, nullptr, nullptr)};

  MuElement* leaf(MuContainer* parent, int width, int height, const char* name = nullptr)
  {
    MuElement* e = MuStatic::create(parent, name, "", 0);
    fakeOf(e).setPreferred(width, height);
    return e;
  }
};

// Collects "path: message" lines.
struct Problems : MuLayoutCheckObserver {
  void layoutProblem(MuElement* e, const char* message) override
  {
    lines.push_back(std::string(e->getPathName().str()) + ": " + message);
    elements.push_back(e);
  }
  std::vector<std::string> lines;
  std::vector<MuElement*> elements;
};

} // namespace

TEST_F(LayoutTest, NaturalAndStretchLengths)
{
  MuLayout* v = MuLayout::create(dialog.get(), "v", MuLayout::kVertical);
  v->setSpacing(8);
  MuElement* a = leaf(v, 5, 20);
  MuElement* b = leaf(v, 5, 7);
  MuElement* c = leaf(v, 5, 7);
  MuElement* hidden = leaf(v, 5, 1000);
  hidden->setShown(false);
  v->setChildLayout(b, MuLayout::kStretch, 1);
  v->setChildLayout(c, MuLayout::kStretch, 2);
  v->setSize(Size(50, 100));
  const std::pair<MuElement*, std::pair<int, int>> expected[] = {{a, {0, 20}}, {b, {28, 21}}, {c, {57, 42}}};
  for (const auto& [e, posLength] : expected) {
    EXPECT_EQ(e->getPosition(), rfb::Point(0, posLength.first));
    EXPECT_EQ(e->getSize(), Size(50, posLength.second));
  }
  EXPECT_EQ(v->childValue(a), 20);
  // Preferred: 20 + unit max(7/1, 7/2) = 7 times weight 3, two gaps.
  EXPECT_EQ(v->preferredHeight(50), 20 + 21 + 16);
  EXPECT_EQ(v->preferredWidth(100), 5);
  // A weight of 0 gets nothing, and no share of the unit.
  v->setChildLayout(c, MuLayout::kStretch, 0);
  EXPECT_EQ(v->preferredHeight(50), 20 + 7 + 16);
  v->layoutChildren();
  EXPECT_EQ(c->getSize(), Size(50, 0));
}

// Lengths near 2^31 (a scroll view asks at 0x3fffffff) times weights:
// sums and products are 64-bit, results stop at INT_MAX.
TEST_F(LayoutTest, LongLengthsAndWeights)
{
  MuLayout* v = MuLayout::create(dialog.get(), "v", MuLayout::kVertical);
  v->setSpacing(8);
  for (int weight : {1, 3}) {
    MuElement* e = leaf(v, 0, 0);
    v->setChildLayout(e, MuLayout::kStretch, weight);
    fakeOf(e).preferredWidthFor = [](int height) { return height; };
    fakeOf(e).preferredHeightFor = [](int) { return 0x3fffffff; };
  }
  EXPECT_EQ(INT_MAX, v->preferredHeight(100));
  EXPECT_EQ((int)(3LL * (0x3fffffff - 8) / 4), v->preferredWidth(0x3fffffff));
}

TEST_F(LayoutTest, CrossAlignment)
{
  const struct {
    uint32_t align;
    int y, height;
  } cases[] = {{0x00, 0, 30}, {0x10, 0, 10}, {0x20, 20, 10}, {0x30, 10, 10}, {0x40, 0, 10}};
  for (const auto& c : cases) {
    MuLayout* h = MuLayout::create(dialog.get(), nullptr, MuLayout::kHorizontal);
    MuElement* e = leaf(h, 40, 10);
    h->setChildLayout(e, MuLayout::kNatural | c.align, 1);
    h->setSize(Size(100, 30));
    EXPECT_EQ(e->getPosition(), rfb::Point(0, c.y)) << c.align;
    EXPECT_EQ(e->getSize(), Size(40, c.height)) << c.align;
  }
}

TEST_F(LayoutTest, EmptyIndentAndOverflow)
{
  MuLayout* v = MuLayout::create(dialog.get(), "v", MuLayout::kVertical);
  EXPECT_EQ(v->spacing(), 8);
  EXPECT_EQ(v->preferredHeight(100), -8);
  EXPECT_EQ(v->preferredWidth(100), 0);
  leaf(v, 10, 10)->setShown(false);
  EXPECT_EQ(v->preferredHeight(100), -8);
  EXPECT_EQ(v->preferredWidth(100), 0);

  MuSpacer* indent = v->addIndent(true);
  MuElement* after = leaf(v, 1, 1);
  EXPECT_EQ(v->childMode(indent), (uint32_t)MuLayout::kFixed);
  EXPECT_EQ(v->childValue(indent), 20 - 8);
  EXPECT_EQ(v->childMode(after), (uint32_t)MuLayout::kStretch);
  EXPECT_EQ(v->childValue(after), 1);
  EXPECT_STREQ(indent->typeName(), "spacer");

  MuLayout* h = MuLayout::create(dialog.get(), "h", MuLayout::kHorizontal);
  h->setSpacing(8);
  leaf(h, 60, 10, "first");
  leaf(h, 50, 10, "second");
  h->setSize(Size(100, 10));
  Problems problems;
  h->checkLayout(&problems);
  EXPECT_EQ(problems.lines, std::vector<std::string>{"h.second: Overflowing H layout by 18 units"});
}

TEST_F(LayoutTest, MovingChildren)
{
  MuLayout* v = MuLayout::create(dialog.get(), "v", MuLayout::kVertical);
  MuElement* a = leaf(v, 1, 1, "a");
  MuElement* b = leaf(v, 1, 1, "b");
  MuElement* c = leaf(v, 1, 1, "c");
  v->setChildLayout(c, MuLayout::kFixed, 5);
  MuElement* stranger = leaf(dialog.get(), 1, 1, "x");
  const struct {
    uint32_t where;
    MuElement* reference;
    const char* order;
  } moves[] = {
      {MuLayout::kToFront, nullptr, "cab"}, {MuLayout::kToEnd, nullptr, "abc"}, {MuLayout::kBefore, a, "cab"},
      {MuLayout::kAfter, b, "abc"},        {MuLayout::kAfter, stranger, "abc"},
  };
  for (const auto& m : moves) {
    v->moveChild(c, m.where, m.reference);
    std::string order;
    for (int i = 0; i < v->childCount(); i++)
      order += v->getChild(i)->getName();
    EXPECT_EQ(order, m.order);
    EXPECT_EQ(v->childValue(c), 5);
  }
  EXPECT_DEATH(v->setChildLayout(stranger, 0, 1),
               "Assertion 'i != children.end\\(\\)' failed.*Element 'x' is not a child of 'v'");
  EXPECT_DEATH(v->moveChild(stranger, 0, nullptr), "Assertion 'i != children.end\\(\\)' failed");
  EXPECT_DEATH(v->addChild(nullptr), "Assertion 'element' failed");
}

// Random trees of layouts and leaves in every mode: along each layout's
// axis every shown child starts at the previous end plus the spacing,
// stretch children share the extra length with at most weights - 1 left
// over, and checkLayout reports exactly the children that end outside.
TEST_F(LayoutTest, RandomTreesProperty)
{
  dialog->setShown(true);
  int checked = 0, overflowing = 0;
  std::mt19937 rng(7);
  auto rnd = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 600; round++) {
    MuLayout* root = MuLayout::create(dialog.get(), "root", rnd(0, 1));
    std::vector<MuLayout*> layouts{root};
    for (int i = 0; i < rnd(1, 25); i++) {
      MuLayout* parent = layouts[rnd(0, (int)layouts.size() - 1)];
      MuElement* e;
      if (rnd(0, 3) == 0) {
        layouts.push_back(MuLayout::create(parent, "l", rnd(0, 1)));
        layouts.back()->setSpacing(rnd(0, 10));
        e = layouts.back();
      } else {
        e = leaf(parent, rnd(0, 60), rnd(0, 60), "e");
      }
      parent->setChildLayout(e, (uint32_t)(rnd(0, 2) | rnd(0, 3) << 4), rnd(0, 40));
      if (rnd(0, 5) == 0)
        e->setShown(false);
    }
    root->setSize(Size(rnd(0, 300), rnd(0, 300)));

    for (MuLayout* l : layouts) {
      if (!l->isShownInTree())
        continue;
      const bool vertical = l->orientation() == MuLayout::kVertical;
      const Size size = l->getSize();
      const int along = vertical ? size.y : size.x, across = vertical ? size.x : size.y;
      int pos = 0, shown = 0, fixedSum = 0, weights = 0, stretched = 0;
      std::set<MuElement*> outside;
      for (int i = 0; i < l->childCount(); i++) {
        MuElement* c = l->getChild(i);
        if (!c->isShown())
          continue;
        const rfb::Point p = c->getPosition();
        const Size s = c->getSize();
        const int start = vertical ? p.y : p.x, length = vertical ? s.y : s.x;
        const int offset = vertical ? p.x : p.y, cross = vertical ? s.x : s.y;
        EXPECT_EQ(start, pos);
        const bool fill = (l->childMode(c) & MuLayout::kAlignMask) == 0;
        EXPECT_TRUE(fill ? offset == 0 && cross == across : offset >= 0 && offset + cross <= across);
        if ((l->childMode(c) & MuLayout::kSizeMask) == MuLayout::kStretch) {
          weights += std::max(l->childValue(c), 0);
          stretched += length;
        } else {
          fixedSum += length;
        }
        if (start + length > along)
          outside.insert(c);
        pos = start + length + l->spacing();
        shown++;
      }
      const int extra = std::max(along - (shown - 1) * l->spacing() - fixedSum, 0);
      EXPECT_LE(stretched, extra);
      if (weights > 0) {
        EXPECT_GT(stretched, extra - weights);
      }
      Problems problems;
      l->checkLayout(&problems);
      std::set<MuElement*> reported;
      for (size_t i = 0; i < problems.lines.size(); i++) {
        if (problems.lines[i].find("layout by") != std::string::npos && problems.elements[i]->getParent() == l)
          reported.insert(problems.elements[i]);
      }
      EXPECT_EQ(reported, outside) << "round " << round;
      checked += shown;
      overflowing += (int)outside.size();
    }
    dialog->removeChild(root);
  }
  EXPECT_GT(checked, 2000);
  EXPECT_GT(overflowing, 100);
}
