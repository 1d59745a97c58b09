// The automation channel on the fake back-end: the command table, menus,
// line input over the real pipe through the test driver, and the gate.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/FdSelectManager.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuiComms.h"
#include "muiDriver.h"
#include "muiFake.h"
#include "os/AppInfo.h"
#include "os/NamedPipeListener.h"
#include "plat/TestFeatures.h"
#include "testutil.h"
#include "ui/Menu.h"

using namespace mui;
using tltest::fakeOf;

namespace {

struct Events : MuObserver, MuDialog::CloseCallback, ui::Menu::ActionCallback {
  void event(MuElement* source, uint32_t code) override
  {
    seen.push_back(std::string(source->getPathName().str()) + "/" + std::to_string(code));
  }
  bool mayClose(MuDialog*) override { return allowClose; }
  void action(ui::Menu::Item* item) override { seen.push_back(std::string("menu ") + item->label()); }
  std::vector<std::string> seen;
  bool allowClose = false;
};

// Menus of items that carry their state and call one callback.
struct Bar : ui::MenuBar, ui::Menu::Backend {
  struct Item : ui::Menu::Item {
    using ui::Menu::Item::Item;
    ui::Menu* subMenu() override { return sub.get(); }
    bool isEnabled() override { return enabled; }
    int isChecked() override { return checked; }
    ui::Menu::ActionCallback* effectiveCallback() const override { return cb; }
    std::unique_ptr<ui::Menu> sub;
    ui::Menu::ActionCallback* cb = nullptr;
    bool enabled = true;
    int checked = 0;
  };
  ui::Menu::Item* addMenu(const char* title, ui::Menu::Item*) override
  {
    return top.insertItem(title, nullptr, nullptr, nullptr, ui::Menu::kSubMenu);
  }
  ui::Menu::Item* createItem(const char* label, const char*, ui::Menu::Item*, ui::Menu::ActionCallback* cb,
                             unsigned flags) override
  {
    auto* item = new Item(label, nullptr);
    item->cb = cb;
    if (flags & ui::Menu::kSubMenu)
      item->sub = std::make_unique<ui::Menu>(this, nullptr);
    return item;
  }
  void itemRemoved(ui::Menu::Item*) override {}
  void changed() override {}
  ui::Menu top{this, nullptr};
};

// Dialog "dlg" (shown) with layout "l": button "b", edit "e", list "li",
// and an unnamed layout holding static "s"; dialog "other" (hidden) that
// vetoes closing while events.allowClose is false.
struct Tree {
  Tree()
  {
    tltest::bindFakeBackEnd();
    dlg.reset(MuDialog::create("dlg", "", Size(400, 300), 0, nullptr, nullptr));
    other.reset(MuDialog::create("other", "", Size(10, 10), 0, nullptr, nullptr));
    dlg->setShown(true);
    MuLayout* l = MuLayout::create(dlg.get(), "l", MuLayout::kVertical);
    MuButton::create(l, "b", "Go", 0, 0, 1);
    edit = MuEdit::create(l, "e", "E", 0, 0);
    MuList* list = MuList::create(l, "li", 0, 0);
    list->addColumn(0, 0, "c", 10);
    list->insertRow(0);
    list->setCell(0, 0, "x y");
    MuStatic* s = MuStatic::create(MuLayout::create(l, nullptr, MuLayout::kHorizontal), "s", "S", 0);
    dlg->setSize(Size(400, 300));
    fakeOf(s).preferredHeightFor = [](int) { return 999; };
    dlg->addObserver(&events, true);
    other->addObserver(&events, true);
    other->setCloseCallback(&events);
    for (const char* label : {"Open", "Operate", "Quit"})
      bar.fileMenu()->insertItem(label, nullptr, nullptr, &events);
    static_cast<Bar::Item*>(bar.fileMenu()->leafItems()[2])->checked = 1;
    static_cast<Bar::Item*>(bar.helpMenu()->insertItem("About", nullptr, nullptr, &events))->enabled = false;
    MuPopupMenu::registry().emplace("pop", bar.fileMenu());
  }
  ~Tree() { MuPopupMenu::unregisterMenus("pop"); }
  Events events;
  Bar bar;
  std::unique_ptr<MuDialog> dlg, other;
  MuEdit* edit;
};

std::string run(const char* line)
{
  std::string reply = MuiComms::execute(line).get();
  EXPECT_EQ("\n", reply.substr(reply.size() - 1)) << line;
  return reply.substr(0, reply.size() - 1);
}

} // namespace

TEST(MuiComms, CommandTable)
{
  {
    tltest::bindFakeBackEnd();
    EXPECT_EQ("\n", run("dialogs"));
    EXPECT_EQ("0\n", run("menubar listitems"));
  }
  Tree t;
  const std::string dlgState = run("state dlg");
  const int first = Mui::instance().dialogs().begin()->first;
  const std::string id = std::to_string(first);
  const struct {
    std::string line;
    std::string reply;
    std::vector<std::string> events;
  } rows[] = {
      {"version", "2\n", {}},
      {"", "0\n", {}},
      {"inspect", "0\n", {}},
      {"nosuch dlg", "0\n", {}},
      {"dialogs", id + " dlg\n" + std::to_string(first + 1) + " other\n", {}},
      {"lists dlg", "l (layout)\nl.b (button)\nl.e (edit)\nl.li (list)\nl.s (static)\n", {}},
      {"lists dlg.l.b", "", {}},
      {"lists 999.l", "0\n", {}},
      {"listitems dlg.l.li", "0:\"x y\"\n", {}},
      {"listitems dlg.l.b", "\n", {}},
      {"state dlg", dlgState, {}},
      {"state " + id, dlgState, {}},
      {"state dlg.nosuch", "0\n", {}},
      {"show dlg.l 1", "0\n", {}},
      {"show other x", "0\n", {}},
      {"show other 1", "1\n", {}},
      {"click dlg.l.b 1x", "0\n", {}},
      {"dblclick dlg.l.b", "0\n", {}},
      {"click dlg.l.b", "1\n", {"l.b/1"}},
      {"rightclick dlg.l.b", "0\n", {}},
      {"select dlg.l.li 0", "1\n", {"l.li/0"}},
      {"settext dlg.l.e a b c", "1\n", {"l.e/0"}},
      {"pressenter dlg.l.e", "0\n", {}},
      {"close other", "0\n", {}},
      {"focus dlg x", "0\n", {}},
      {"focus dlg.l 1", "1\n", {"/4"}},
      {"focus dlg 0", "1\n", {"/5"}},
      {"menubar", "0\n", {}},
      {"menubar listitems", "Open\nOperate\nQuit\nAbout\n", {}},
      {"menubar state op", "1 0\n", {}},
      {"menubar state", "1 0\n", {}},
      {"menubar state 2", "1 1\n", {}},
      {"menubar state zzz", "0\n", {}},
      {"menubar 2", "1\n", {"menu Quit"}},
      {"menubar invoke about", "1\n", {}},
      {"popupmenu", "pop\n", {}},
      {"menu pop listitems", "Open\nOperate\nQuit\n", {}},
      {"popupmenu pop rat", "1\n", {"menu Operate"}},
      {"popupmenu nosuch listitems", "0\n", {}},
  };
  for (const auto& r : rows) {
    t.events.seen.clear();
    EXPECT_EQ(r.reply, run(r.line.c_str())) << r.line;
    EXPECT_EQ(r.events, t.events.seen) << r.line;
  }
  EXPECT_STREQ("a b c", t.edit->getText().str());
  EXPECT_NE(std::string::npos, dlgState.find("element Dialog\nfixedsize 0\n"));
  EXPECT_EQ("l.s: Overflowing by 999 units\n", run("checklayout dlg"));
  EXPECT_EQ("\n", run("checklayout dlg.l.b"));
  t.events.allowClose = true;
  EXPECT_EQ("1\n", run("close other"));
  EXPECT_FALSE(t.other->isShown());
}

// One channel on the test's own loop, reached through the real pipe.
struct Channel : testing::Test {
  Channel()
  {
    static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
    plat::setTestFeaturesDirsForTests(&keyDirs);
    plat::resetTestFeaturesGateForTests();
    os::AppInfo::set("muicommstest", "Tessaly", "zarn", nullptr, nullptr);
  }
  ~Channel() override { MuiComms::stop(); }
  std::unique_ptr<tltest::MuiDriver> connect()
  {
    auto d = std::make_unique<tltest::MuiDriver>(MuiComms::instance()->path());
    d->pump = [this] { manager.processOnce(5); };
    return d;
  }
  io::FdSelectManager manager;
  Tree tree;
};

TEST_F(Channel, LinesArriveInPiecesFromSeveralClients)
{
  tltest::LogCapture log("MuiComms");
  MuiComms::start(nullptr, -1, -1);
  ASSERT_TRUE(MuiComms::instance()->isListening());
  EXPECT_EQ(tltest::MuiDriver::pipePath(getpid()), MuiComms::instance()->path());
  auto a = connect(), b = connect();
  for (char c : std::string("settext dlg.l.e x\xff\r\n")) {
    a->send(std::string(1, c));
    manager.processOnce(0);
  }
  EXPECT_EQ("1\n", a->reply());
  EXPECT_STREQ("x\xEF\xBF\xBD", tree.edit->getText().str());
  b->send("vers");
  EXPECT_EQ("2\n", a->command("version"));
  b->send("ion\n");
  EXPECT_EQ("2\n", b->reply());
  b->send("state dlg.l.b\n");
  b->close();
  EXPECT_EQ("1\n", a->command("click dlg.l.b"));
  a->send(std::string(2000, 'x'));
  EXPECT_TRUE(a->closedByPeer(10000));
  EXPECT_EQ("2\n", connect()->command("version"));
  const std::vector<std::string> lines = log.lines();
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "Got command settext dlg.l.e x\xEF\xBF\xBD"));
  EXPECT_NE(lines.end(), std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
              return l.find("String exceeds maximum length") != std::string::npos;
            }));
}

TEST_F(Channel, TheGateAndABusyPath)
{
  plat::setTestFeaturesDigestForTests(plat::getReleaseTestFeaturesDigest());
  plat::resetTestFeaturesGateForTests();
  MuiComms::start(nullptr, -1, -1);
  plat::setTestFeaturesDigestForTests(nullptr);
  plat::resetTestFeaturesGateForTests();
  struct stat st;
  EXPECT_FALSE(MuiComms::instance()->isListening());
  EXPECT_NE(0, stat(MuiComms::instance()->path(), &st));

  os::NamedPipeListener::Config config;
  config.path = plat::String(MuiComms::instance()->path());
  os::NamedPipeListener other(config);
  tltest::LogCapture log("MuiComms");
  MuiComms::instance()->setListening(true);
  EXPECT_FALSE(MuiComms::instance()->isListening());
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(0u, log.lines()[0].find("MuiComms failed: ")) << log.lines()[0];
}
