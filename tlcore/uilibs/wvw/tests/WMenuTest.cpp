// Menus on the offscreen host: columns, placement inside the screen area,
// the highlight walk, mnemonics and shortcuts, submenus, hideAll, the menu
// bar's keys and pointer, a golden, and owners that destroy entries, menus
// or the bar from their handlers.
#include <gtest/gtest.h>

#include <functional>

#include "plat/Configuration.h"
#include "rfb/Keysym.h"
#include "wvwgolden.h"
#include "wvw/WMenu.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;
using wvw::WMenu;
using wvw::WMenuItem;
using wvw::WRootMenu;

constexpr uint32_t kLeft = 0xFF51, kUp = 0xFF52, kRight = 0xFF53, kDown = 0xFF54;
constexpr uint32_t kReturn = 0xFF0D, kEscape = 0xFF1B, kAlt = 0xFFE9, kCtrl = 0xFFE3;

// The owner of a menu: notes the activations that reach it by the
// source's name in the host (popups have no container to pass them to).
struct Owner : wvw::WInputHandler {
  explicit Owner(WvwHost& h) : host(h) {}
  bool activated(wvw::Widget* source) override
  {
    host.events.push_back("activated " + host.nameOf(source));
    return true;
  }
  WvwHost& host;
};

int activations(WvwHost& host, const std::string& name)
{
  int n = 0;
  for (const auto& e : host.takeEvents())
    n += e == "activated " + name;
  return n;
}

class WMenuTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

// Ten entries under a short screen area break into columns of one width;
// a wider minWidth is shared by the columns.
TEST_F(WMenuTest, Columns)
{
  struct Case {
    int screenHeight, minWidth;
    int columns;
  } cases[] = {{2000, 0, 1}, {2000, 300, 1}, {0, 0, 0}, {0, 300, 0}};
  const int entryH = [] {
    WvwHost h;
    WRootMenu m(WMenu::CheckColumn::No, &h, WMenu::Mnemonics::Shown, nullptr);
    WMenuItem e(&m, "Entry");
    return e.preferredSize().y;
  }();
  for (Case c : cases) {
    if (!c.screenHeight) {
      c.screenHeight = 4 + 4 * entryH; // four entries a column
      c.columns = 3;
    }
    SCOPED_TRACE(std::to_string(c.screenHeight) + " " + std::to_string(c.minWidth));
    WvwHost host;
    host.screen = Rect(0, 0, 1000, c.screenHeight);
    WRootMenu menu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
    std::vector<std::unique_ptr<WMenuItem>> items;
    for (int i = 0; i < 10; i++)
      items.emplace_back(new WMenuItem(&menu, i == 3 ? "A longer entry" : "Entry"));
    const int widest = items[3]->preferredSize().x;
    menu.setMinWidth(c.minWidth);
    menu.popup(true, Point(0, 0), nullptr);
    ASSERT_EQ(menu.columns(), c.columns);
    const int colWidth =
        c.columns == 1 ? std::max(widest, c.minWidth) : std::max(widest, (c.minWidth + 4) / c.columns - 4);
    for (int i = 0; i < 10; i++) {
      const Rect r = menu.getChildRect(items[i].get());
      const int col = c.columns == 1 ? 0 : i / 4;
      EXPECT_EQ(r.width(), colWidth) << i;
      EXPECT_EQ(r.topLeft.x, 4 + col * (colWidth + 4)) << i;
      EXPECT_EQ(r.topLeft.y, 4 + (c.columns == 1 ? i : i % 4) * entryH) << i;
    }
    EXPECT_EQ(menu.getSize(), Point(4 + c.columns * (colWidth + 4), 4 + (c.columns == 1 ? 10 : 4) * entryH + 4));
  }
}

// A pop-up stays inside the screen area, preferring its top-left corner.
TEST_F(WMenuTest, PlacementAtTheEdges)
{
  WvwHost sizing;
  WRootMenu probe(WMenu::CheckColumn::No, &sizing, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem a(&probe, "Alpha"), b(&probe, "Beta");
  probe.relayout();
  const Point size = probe.getSize();
  const Rect area(100, 50, 500, 400);
  struct Case {
    Point wanted;
    Rect area;
    Point at;
  } cases[] = {
      {{200, 100}, area, {200, 100}},
      {{480, 100}, area, {500 - size.x, 100}},
      {{200, 390}, area, {200, 400 - size.y}},
      {{480, 390}, area, {500 - size.x, 400 - size.y}},
      {{20, 100}, area, {100, 100}},
      {{200, 10}, area, {200, 50}},
      {{-50, -50}, area, {100, 50}},
      {{200, 100}, Rect(100, 50, 100 + size.x - 1, 50 + size.y - 1), {100, 50}}, // larger than the area
  };
  for (const Case& c : cases) {
    WvwHost host;
    host.screen = c.area;
    WRootMenu menu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
    WMenuItem x(&menu, "Alpha"), y(&menu, "Beta");
    menu.popup(true, c.wanted, nullptr);
    ASSERT_EQ(host.popups.size(), 1u);
    EXPECT_EQ(host.popups[0].position, c.at) << c.wanted.x << "," << c.wanted.y;
    EXPECT_TRUE(host.popups[0].grab);
    EXPECT_TRUE(menu.isAttached());
    EXPECT_EQ(menu.getMaxHeight(), c.area.height());
  }
  // Shown against a widget: at the widget's place on the host.
  WvwHost host(Point(200, 100), Point(30, 40));
  tltest::TestBox box;
  host.setContent(&box);
  WRootMenu menu(WMenu::CheckColumn::No, nullptr, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem x(&menu, "Alpha");
  menu.popup(true, Point(5, 6), &box);
  EXPECT_EQ(host.popups.at(0).position, Point(35, 46));
  menu.popup(false, Point(), nullptr);
  EXPECT_TRUE(host.popups.empty());
  EXPECT_FALSE(menu.isAttached());
}

TEST_F(WMenuTest, PopupWithoutHostIsFatal)
{
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        WRootMenu menu(WMenu::CheckColumn::No, nullptr, WMenu::Mnemonics::Shown, nullptr);
        menu.popup(true, Point(), nullptr);
      },
      "root");
}

// Up and Down skip separators and disabled entries and wrap round.
TEST_F(WMenuTest, HighlightWalk)
{
  WvwHost host;
  Owner owner(host);
  WRootMenu menu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem sep0(&menu, nullptr), a(&menu, "A"), b(&menu, "B"), sep1(&menu, ""), c(&menu, "C"), d(&menu, "D");
  b.setEnabled(false);
  d.setEnabled(false);
  menu.setInputHandler(&owner);
  const std::map<WMenuItem*, char> names = {{&sep0, 's'}, {&a, 'a'}, {&b, 'b'}, {&sep1, 't'}, {&c, 'c'}, {&d, 'd'}};
  menu.popup(true, Point(), nullptr);
  EXPECT_EQ(menu.getCurrent(), &sep0); // the first entry, whatever its kind
  struct Step {
    uint32_t key;
    char current;
  } steps[] = {{kDown, 'a'}, {kDown, 'c'}, {kDown, 'a'}, {kUp, 'c'}, {kUp, 'a'}, {kUp, 'c'}};
  for (const Step& s : steps) {
    host.typeKey(s.key);
    EXPECT_EQ(names.at(menu.getCurrent()), s.current);
  }
  // No current entry: Up starts at the last, Down at the first.
  menu.setCurrent(nullptr);
  host.typeKey(kUp);
  EXPECT_EQ(menu.getCurrent(), &c);
  menu.setCurrent(nullptr);
  host.typeKey(kDown);
  EXPECT_EQ(menu.getCurrent(), &a);
  // The highlight style: selection colours on the current entry only.
  EXPECT_EQ(a.getStyle(), &menu.highlightStyle());
  EXPECT_EQ(menu.highlightStyle().bg, menu.getStyle()->selectionBg);
  EXPECT_EQ(menu.highlightStyle().contentText, menu.getStyle()->selectedText);
  EXPECT_NE(c.getStyle(), &menu.highlightStyle());
  // Return with no current entry is consumed and activates nothing.
  menu.setCurrent(nullptr);
  host.takeEvents();
  host.typeKey(kReturn);
  for (const auto& e : host.takeEvents())
    EXPECT_EQ(e.find("activated"), std::string::npos) << e;
}

// Mnemonics and shortcuts in both letter cases; disabled entries never.
TEST_F(WMenuTest, MnemonicsAndShortcuts)
{
  struct Case {
    uint32_t key;
    const char* activated;
  } cases[] = {{'o', "open"}, {'O', "open"}, {'x', "exit"}, {'X', "exit"}, {'s', ""}, {'q', ""}, {0xFFBE, "help"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    WvwHost host;
    Owner owner(host);
    WRootMenu menu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
    WMenuItem open(&menu, "&Open"), save(&menu, "&Save"), exitItem(&menu, "Exit"), help(&menu, "Help");
    save.setEnabled(false);
    exitItem.setShortcutKey('x');
    help.setShortcutKey(0xFFBE);
    host.names = {{&open, "open"}, {&save, "save"}, {&exitItem, "exit"}, {&help, "help"}};
    menu.setInputHandler(&owner);
    menu.popup(true, Point(), nullptr);
    host.takeEvents();
    host.typeKey(c.key);
    int n = 0;
    std::string which;
    for (const auto& e : host.takeEvents()) {
      if (e.rfind("activated ", 0) == 0) {
        n++;
        which = e.substr(10);
      }
    }
    EXPECT_EQ(n, *c.activated ? 1 : 0);
    EXPECT_EQ(which, c.activated);
  }
  // The shortcut's name in the shortcut label; the menu's shortcut lookup
  // compares the modifier bits too.
  WvwHost host;
  WRootMenu menu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem copy(&menu, "Copy");
  copy.setShortcutKey('c' | rfb::kKeyCtrl);
  EXPECT_STREQ(copy.shortcutLabel().getText(), rfb::keyToString('c' | rfb::kKeyCtrl).get());
  EXPECT_FALSE(menu.activateShortcut('c'));
  EXPECT_TRUE(menu.activateShortcut('c' | rfb::kKeyCtrl));
}

TEST_F(WMenuTest, Submenus)
{
  WvwHost host;
  Owner owner(host);
  WRootMenu menu(WMenu::CheckColumn::Yes, &host, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem plain(&menu, "Plain"), more(&menu, "More", nullptr, WMenuItem::Submenu::Yes);
  WMenuItem inner(more.getSubmenu(), "Inner"), inner2(more.getSubmenu(), "Inner two");
  host.names = {{&plain, "plain"}, {&more, "more"}, {&inner, "inner"}, {&inner2, "inner2"}};
  menu.setInputHandler(&owner);
  menu.popup(true, Point(10, 20), nullptr);
  EXPECT_EQ(more.getSubmenu()->getParentMenu(), &menu);
  // Right on an entry without a submenu does nothing.
  host.typeKey(kRight);
  EXPECT_FALSE(more.isSubmenuOpen());
  host.typeKey(kDown);
  ASSERT_EQ(menu.getCurrent(), &more);
  host.typeKey(kRight);
  ASSERT_TRUE(more.isSubmenuOpen());
  ASSERT_EQ(host.popups.size(), 2u);
  const Rect r = menu.getChildRect(&more);
  EXPECT_EQ(host.popups[1].position, Point(10 + r.bottomRight.x, 20 + r.topLeft.y));
  // Keys go to the submenu now; Down walks it, Left closes it.
  EXPECT_EQ(more.getSubmenu()->getCurrent(), &inner);
  host.typeKey(kDown);
  EXPECT_EQ(more.getSubmenu()->getCurrent(), &inner2);
  host.typeKey(kLeft);
  EXPECT_FALSE(more.isSubmenuOpen());
  EXPECT_EQ(host.popups.size(), 1u);
  // Return on the entry with a submenu reports nothing.
  host.takeEvents();
  host.typeKey(kReturn);
  EXPECT_EQ(activations(host, "more"), 0);
  // The pointer over the entry opens its submenu; over another closes it.
  host.popupPointer(0, 10 + r.topLeft.x + 5, 20 + r.topLeft.y + 2);
  EXPECT_TRUE(more.isSubmenuOpen());
  const Rect p = menu.getChildRect(&plain);
  host.popupPointer(0, 10 + p.topLeft.x + 5, 20 + p.topLeft.y + 2);
  EXPECT_EQ(menu.getCurrent(), &plain);
  EXPECT_FALSE(more.isSubmenuOpen());
  // Activation in the submenu reaches the owner; hideAll takes both down.
  more.openSubmenu(true);
  host.takeEvents();
  host.typeKey(kReturn);
  EXPECT_EQ(activations(host, "inner"), 1);
  more.getSubmenu()->hideAll();
  EXPECT_TRUE(host.popups.empty());
  EXPECT_FALSE(menu.isAttached());
  // Escape is hideAll too.
  menu.popup(true, Point(), nullptr);
  more.openSubmenu(true);
  host.typeKey(kEscape);
  EXPECT_TRUE(host.popups.empty());
}

TEST_F(WMenuTest, MenuBar)
{
  WvwHost host(Point(300, 30));
  Owner owner(host);
  wvw::WMenuBar bar;
  host.setContent(&bar);
  auto* file = bar.addMenu("&File");
  auto* edit = bar.addMenu("&Edit");
  auto* help = bar.addMenu("&Help", edit); // before Edit
  ASSERT_EQ(bar.menus().size(), 3u);
  EXPECT_EQ(bar.getChildRect(file).topLeft, Point(0, 0));
  EXPECT_EQ(bar.getChildRect(help).topLeft, Point(file->width(), 0));
  EXPECT_EQ(bar.getChildRect(edit).topLeft, Point(file->width() + help->width(), 0));
  EXPECT_EQ(bar.preferredSize().y, file->height() + 2);
  WMenuItem quit(&file->dropDown(), "&Quit");
  quit.setShortcutKey('q' | rfb::kKeyCtrl);
  host.names = {{&quit, "quit"}};
  quit.setInputHandler(&owner); // the drop-down is closed: the entry's own handler hears it

  // Alt with the mnemonic in either case opens; Ctrl does not.
  struct Case {
    uint32_t modifier, key;
    bool opens;
  } cases[] = {{kAlt, 'e', true}, {kAlt, 'E', true}, {kCtrl, 'e', false}, {0, 'e', false}};
  for (const Case& c : cases) {
    if (c.modifier)
      host.hold(c.modifier);
    EXPECT_EQ(bar.handleKey(c.key), c.opens) << c.key;
    EXPECT_EQ(edit->isOpen(), c.opens);
    host.releaseAll();
    edit->setOpen(false);
  }
  // Ctrl+Q reaches the drop-down's shortcut without opening it.
  host.hold(kCtrl);
  host.takeEvents();
  EXPECT_TRUE(bar.handleKey('q'));
  EXPECT_EQ(activations(host, "quit"), 1);
  host.releaseAll();

  // Left and Right wrap round the titles, from the open one.
  auto openIndex = [&] {
    for (size_t i = 0; i < bar.menus().size(); i++) {
      if (bar.menus()[i]->isOpen())
        return (int)i;
    }
    return -1;
  };
  host.typeKey(kRight); // none open: the first
  EXPECT_EQ(openIndex(), 0);
  const int walk[][2] = {{kRight, 1}, {kRight, 2}, {kRight, 0}, {kLeft, 2}, {kLeft, 1}};
  for (const auto& w : walk) {
    host.typeKey((uint32_t)w[0]); // to the open drop-down, then up to the bar
    EXPECT_EQ(openIndex(), w[1]);
    EXPECT_EQ(host.popups.size(), 1u);
  }
  for (auto& m : bar.menus())
    m->setOpen(false);
  host.typeKey(kLeft);
  EXPECT_EQ(openIndex(), 2);

  // The pointer hands the open drop-down over to the title under it.
  host.pointer(2, 5);
  EXPECT_EQ(openIndex(), 0);
  host.pointer(file->width() + 2, 5);
  EXPECT_EQ(openIndex(), 1);
  // Clicking the open title closes it.
  host.click(file->width() + 2, 5);
  EXPECT_EQ(openIndex(), -1);
  host.pointer(2, 5);
  EXPECT_EQ(openIndex(), -1); // nothing open: no hand-over
}

// Menu with check column, shortcut, separator and submenu arrow.
TEST_F(WMenuTest, Golden)
{
  WvwHost host(Point(160, 90));
  host.screen = Rect(0, 0, 160, 90);
  WRootMenu menu(WMenu::CheckColumn::Yes, &host, WMenu::Mnemonics::Shown, nullptr);
  WMenuItem checked(&menu, "&Checked"), copy(&menu, "Copy"), sep(&menu, nullptr),
      more(&menu, "More", nullptr, WMenuItem::Submenu::Yes);
  WMenuItem inner(more.getSubmenu(), "Inner");
  checked.setChecked(true);
  copy.setShortcutKey('c' | rfb::kKeyCtrl);
  menu.popup(true, Point(), nullptr);
  host.typeKey(kDown); // Copy is current
  ASSERT_EQ(host.popups.at(0).position, Point(0, 0));
  rfb::ManagedPixelBuffer pb(rfb::xrgb8888Format(), Rect(0, 0, 160, 90));
  const int white[3] = {255, 255, 255};
  rfb::fillRect(pb, pb.rect, pb.format.pixelFromRGB(white, nullptr));
  menu.paint(pb);
  tltest::expectGolden(pb, "menu");
  const wvw::WStyle* s = menu.getStyle();
  auto at = [&](int x, int y) { return WvwHost::colourAt(pb, x, y); };
  // Frame, background, highlight, separator lines.
  EXPECT_EQ(at(0, 0), s->bevelFrame);
  EXPECT_EQ(at(menu.width() - 1, menu.height() - 1), s->bevelFrame);
  EXPECT_EQ(at(2, 2), s->bg);
  const Rect c = menu.getChildRect(&copy);
  EXPECT_EQ(at(c.topLeft.x + 1, c.topLeft.y), s->selectionBg);
  const Rect sr = menu.getChildRect(&sep);
  EXPECT_EQ(at(sr.topLeft.x + 5, sr.topLeft.y + 2), s->bevelFrame);
  EXPECT_EQ(at(sr.topLeft.x + 5, sr.topLeft.y + 3), s->bevelLight);
  // The check mark at (1, (height - 8) / 2) of the checked entry.
  const Rect k = menu.getChildRect(&checked);
  const int ky = k.topLeft.y + (k.height() - 8) / 2;
  for (int y = 0; y < 8; y++) {
    for (int x = 0; x < 8; x++) {
      const bool set = (WMenuItem::kCheckMarkBits[y] >> (7 - x)) & 1;
      EXPECT_EQ(at(k.topLeft.x + 1 + x, ky + y) == s->contentText, set) << x << "," << y;
    }
  }
}

// A menu destroyed before its entries clears their link; the entries are
// destroyed later without touching it (AddressSanitizer watches).
TEST_F(WMenuTest, EntriesOutliveTheirMenu)
{
  WvwHost host;
  auto menu = std::make_unique<WRootMenu>(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr);
  auto a = std::make_unique<WMenuItem>(menu.get(), "A");
  auto b = std::make_unique<WMenuItem>(menu.get(), "B", nullptr, WMenuItem::Submenu::Yes);
  menu->popup(true, Point(), nullptr);
  b->openSubmenu(true);
  menu.reset();
  EXPECT_EQ(a->getMenu(), nullptr);
  EXPECT_EQ(b->getMenu(), nullptr);
  a.reset();
  b.reset();
  EXPECT_TRUE(host.popups.empty());
}

// Owners destroying the entry, the menu or the whole bar from an
// activation end the dispatch cleanly.
TEST_F(WMenuTest, OwnersDestroyFromActivation)
{
  enum What { kEntry, kMenu, kBar };
  for (What what : {kEntry, kMenu, kBar}) {
    SCOPED_TRACE(what);
    WvwHost host(Point(300, 30));
    struct Destroyer : wvw::WInputHandler {
      std::function<void()> act;
      bool activated(wvw::Widget*) override
      {
        act();
        return true;
      }
    } owner;
    auto bar = std::make_unique<wvw::WMenuBar>();
    host.setContent(bar.get());
    auto* file = bar->addMenu("&File");
    std::unique_ptr<WRootMenu> menu(new WRootMenu(WMenu::CheckColumn::No, &host, WMenu::Mnemonics::Shown, nullptr));
    std::unique_ptr<WMenuItem> entry(new WMenuItem(what == kBar ? &file->dropDown() : menu.get(), "&Go"));
    owner.act = [&] {
      if (what == kEntry)
        entry.reset();
      else if (what == kMenu)
        menu.reset();
      else
        bar.reset();
    };
    entry->setInputHandler(&owner);
    if (what == kBar) {
      file->setOpen(true);
      host.typeKey('g');
      EXPECT_EQ(host.content(), nullptr);
      entry.reset();
    } else {
      menu->popup(true, Point(), nullptr);
      host.typeKey(kReturn);
      EXPECT_EQ(what == kEntry ? entry == nullptr : menu == nullptr, true);
      // The pointer route too: a click on the (new) entry.
      if (what == kEntry) {
        entry.reset(new WMenuItem(menu.get(), "&Go"));
        entry->setInputHandler(&owner);
        menu->relayout();
        const Rect r = menu->getChildRect(entry.get());
        host.popupPointer(0, r.topLeft.x + 3, r.topLeft.y + 2);
        host.popupPointer(0, r.topLeft.x + 3, r.topLeft.y + 2, 1);
        host.popupPointer(0, r.topLeft.x + 3, r.topLeft.y + 2, 0);
        EXPECT_EQ(entry, nullptr);
      }
    }
  }
}

} // namespace
