// The edit field: limits, keys, dead keys, filters, word moves, scrolling,
// password mode, completion, the clipboard, the edit and label context
// menus, a property test over random input scripts, and handlers that
// destroy the field.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "loc/Localize.h"
#include "plat/Configuration.h"
#include "plat/utf8.h"
#include "tlutil/Font.h"
#include "wvwgolden.h"
#include "wvw/WEdit.h"
#include "wvw/WLabel.h"
#include "wvw/WMenu.h"
#include "wvw/WStyle.h"

namespace {

using rfb::Point;
using tltest::WvwHost;
using wvw::WEdit;

constexpr uint32_t kHome = 0xFF50, kLeft = 0xFF51, kRight = 0xFF53, kEnd = 0xFF57;
constexpr uint32_t kDelete = 0xFFFF, kBackSpace = 0xFF08, kTab = 0xFF09, kReturn = 0xFF0D;
constexpr uint32_t kShift = 0xFFE1, kCtrl = 0xFFE3, kAlt = 0xFFE9;

class WEditTest : public testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    // English menu texts.
    static const bool once = [] {
      loc::Localize::instance()->init({});
      return true;
    }();
    (void)once;
    plat::Configuration::global().set("Locale", "en", plat::kPriorityPreference);
  }
};

struct Field {
  explicit Field(int maxLength = 100, const char* text = "", Point size = Point(200, 24))
    : host(size), edit(maxLength, text)
  {
    host.setContent(&edit);
    edit.setFocus();
  }
  // Types keys; a key in mods is held while the rest are typed.
  void keys(std::initializer_list<uint32_t> ks, std::initializer_list<uint32_t> mods = {})
  {
    for (uint32_t m : mods)
      host.hold(m);
    for (uint32_t k : ks)
      host.typeKey(k);
    host.releaseAll();
  }
  void type(const char* s)
  {
    for (; *s; s++)
      host.typeKey((unsigned char)*s);
  }
  std::string text() const { return edit.getText(); }
  WvwHost host;
  WEdit edit;
};

// The Part's edge cases, each a script from a start state.
TEST_F(WEditTest, EdgeCases)
{
  // Limits on character boundaries: "aé" is 3 bytes.
  for (int max : {1, 2, 3, 4}) {
    WEdit e(max, "a\xc3\xa9");
    EXPECT_EQ(std::string(e.getText()), max < 3 ? "a" : "a\xc3\xa9") << max;
  }
  struct Case {
    const char* what;
    int maxLength;
    const char* start;
    std::function<void(Field&)> act;
    const char* text;
    int caret, selLength;
  } cases[] = {
      {"full field pushes out", 4, "abcd",
       [](Field& f) {
         f.edit.setSelection(2, 2);
         f.type("x");
       },
       "abxc", 3, 0},
      {"paste drops tabs and breaks", 20, "",
       [](Field& f) {
         f.host.clipboard = "a\tb\nc\r\x7f" "d";
         f.keys({'v'}, {kCtrl});
       },
       "abcd", 4, 0},
      {"Shift+Home selects to 0", 20, "hello", [](Field& f) { f.keys({kHome}, {kShift}); }, "hello", 0, 5},
      {"then Left drops it at 0", 20, "hello",
       [](Field& f) {
         f.keys({kHome}, {kShift});
         f.keys({kLeft});
       },
       "hello", 0, 0},
      {"Right without Shift after a selection", 20, "hello",
       [](Field& f) {
         f.keys({kHome}, {kShift});
         f.keys({kRight});
       },
       "hello", 1, 0},
      {"Ctrl+Left once", 20, "foo bar", [](Field& f) { f.keys({kLeft}, {kCtrl}); }, "foo bar", 4, 0},
      {"Ctrl+Left twice", 20, "foo bar", [](Field& f) { f.keys({kLeft, kLeft}, {kCtrl}); }, "foo bar", 0, 0},
      {"Ctrl+Right from 0", 20, "foo bar",
       [](Field& f) {
         f.keys({kHome});
         f.keys({kRight}, {kCtrl});
       },
       "foo bar", 3, 0},
      {"Shift+Ctrl+Left extends by a word", 20, "foo bar", [](Field& f) { f.keys({kLeft}, {kShift, kCtrl}); },
       "foo bar", 4, 3},
      {"Ctrl+A selects all", 20, "foo", [](Field& f) { f.keys({'a'}, {kCtrl}); }, "foo", 3, -3},
      {"other Ctrl keys do nothing", 20, "foo", [](Field& f) { f.keys({'x', 'b'}, {kCtrl}); }, "foo", 3, 0},
      {"Alt keys do nothing", 20, "foo", [](Field& f) { f.keys({'x'}, {kAlt}); }, "foo", 3, 0},
      {"control characters do nothing", 20, "foo", [](Field& f) { f.keys({kReturn, 0x7f}); }, "foo", 3, 0},
      {"BackSpace over a two-byte character", 20, "a\xc3\xa9", [](Field& f) { f.keys({kBackSpace}); }, "a", 1, 0},
      {"BackSpace at 0", 20, "ab",
       [](Field& f) {
         f.keys({kHome, kBackSpace});
       },
       "ab", 0, 0},
      {"Delete at the end", 20, "ab", [](Field& f) { f.keys({kDelete}); }, "ab", 2, 0},
      {"Delete the next character", 20, "ab",
       [](Field& f) {
         f.keys({kHome, kDelete});
       },
       "b", 0, 0},
      {"typing replaces the selection", 20, "hello",
       [](Field& f) {
         f.keys({kHome}, {kShift});
         f.type("j");
       },
       "j", 1, 0},
      {"Unicode keysym", 20, "", [](Field& f) { f.keys({0x1000000 | 0x20AC}); }, "\xe2\x82\xac", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Field f(c.maxLength, c.start);
    c.act(f);
    EXPECT_EQ(f.text(), c.text);
    EXPECT_EQ(f.edit.getCaret(), c.caret);
    EXPECT_EQ(f.edit.getSelLength(), c.selLength);
  }
}

TEST_F(WEditTest, EveryKeyIsHandled)
{
  Field f(10, "ab");
  for (uint32_t k : {(uint32_t)'c', kLeft, kHome, 0xFFBEu, kReturn, kDelete, 0xFE51u, 0x1Fu}) {
    EXPECT_TRUE(f.edit.key(k, true, &f.edit)) << k;
    EXPECT_TRUE(f.edit.key(k, false, &f.edit)) << k;
  }
}

// Clicks reach the mouse callback, but an edit field sends no click
// time-outs.
TEST_F(WEditTest, NoClickTimeouts)
{
  Field f(10, "ab");
  tltest::MouseLog mouse;
  f.edit.setMouseCallback(&mouse);
  f.host.click(20, 10, 2);
  f.host.releaseAll();
  f.host.click(20, 10);
  f.host.advance(1000);
  EXPECT_EQ(std::count(mouse.kinds.begin(), mouse.kinds.end(), (int)tlutil::MouseEvent::kClickTimeout), 0);
  EXPECT_EQ(std::count(mouse.kinds.begin(), mouse.kinds.end(), (int)tlutil::MouseEvent::kPress), 1);
}

TEST_F(WEditTest, DeadKeysAndCompose)
{
  struct Case {
    std::vector<uint32_t> keys;
    const char* text;
  } cases[] = {
      {{0xFE51, 'e'}, "\xc3\xa9"},              // dead acute, e
      {{0xFE50, 'a'}, "\xc3\xa0"},              // dead grave, a
      {{0xFF20, '\'', 'e'}, "\xc3\xa9"},        // Multi_key, apostrophe, e
      {{0xFE51, 'q'}, "'q"},                     // no combination: the spacing accent, then the key
      {{0xFE51, ' '}, "'"},
  };
  for (const Case& c : cases) {
    Field f;
    for (uint32_t k : c.keys)
      f.host.typeKey(k);
    EXPECT_EQ(f.text(), c.text);
  }
}

// A filter refusing each kind of change leaves text, caret and selection
// as they were; BackSpace restores the caret.
TEST_F(WEditTest, FilterRefusals)
{
  struct Refuser : WEdit::Filter {
    bool filter(WEdit*, const char* candidate, uint32_t typed) override
    {
      seen.push_back(std::string(candidate) + "/" + std::to_string(typed));
      return false;
    }
    std::vector<std::string> seen;
  };
  struct Case {
    const char* what;
    std::function<void(Field&)> act;
    const char* offered;
  } cases[] = {
      {"typing", [](Field& f) { f.type("x"); }, "abxcd/120"},
      {"BackSpace", [](Field& f) { f.keys({kBackSpace}); }, "acd/0"},
      {"Delete", [](Field& f) { f.keys({kDelete}); }, "abd/0"},
      {"paste", [](Field& f) { f.host.clipboard = "zz"; f.keys({'v'}, {kCtrl}); }, "abzzcd/0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Field f(10, "abcd");
    Refuser r;
    f.edit.setFilter(&r);
    f.edit.setSelection(2, 2);
    c.act(f);
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0], c.offered);
    EXPECT_EQ(f.text(), "abcd");
    EXPECT_EQ(f.edit.getCaret(), 2);
    EXPECT_EQ(f.edit.getSelLength(), c.what == std::string("Delete") ? 1 : 0);
  }
  // The unsigned number filter.
  wvw::WEditUnsignedNumberFilter numbers;
  for (const char* ok : {"", "0", "2147483647", "42"})
    EXPECT_TRUE(numbers.filter(nullptr, ok, 0)) << ok;
  for (const char* bad : {"-1", "12a", "2147483648", "4294967296", "1 "})
    EXPECT_FALSE(numbers.filter(nullptr, bad, 0)) << bad;
}

TEST_F(WEditTest, WordMovesOverNonAscii)
{
  // "wörd-ñ1 , ü": non-ASCII characters belong to words.
  const std::string text = "w\xc3\xb6rd-\xc3\xb1" "1 , \xc3\xbc";
  Field f(100, text.c_str());
  std::vector<int> left, right;
  for (int i = 0; i < 5; i++) {
    f.keys({kLeft}, {kCtrl});
    left.push_back(f.edit.getCaret());
  }
  for (int i = 0; i < 5; i++) {
    f.keys({kRight}, {kCtrl});
    right.push_back(f.edit.getCaret());
  }
  EXPECT_EQ(left, (std::vector<int>{12, 6, 0, 0, 0}));
  EXPECT_EQ(right, (std::vector<int>{5, 9, 14, 14, 14}));
}

// The view scrolls just enough to keep the caret inside the text area.
TEST_F(WEditTest, ScrollingKeepsTheCaretVisible)
{
  Field f(500, "", Point(60, 24));
  std::string long_;
  for (int i = 0; i < 40; i++)
    long_ += (char)('a' + i % 26);
  f.edit.setText(long_.c_str());
  const int aw = 60 - 2 * WEdit::kInsetX, cw = f.edit.getStyle()->caretWidth;
  tlutil::Font* font = f.edit.getStyle()->font;
  std::mt19937 rng(7);
  int previous = 0;
  for (int step = 0; step < 80; step++) {
    const uint32_t k = step < 40 ? kLeft : (rng() % 3 ? kRight : kHome);
    f.keys({k});
    f.host.paint();
    const int caretX = f.edit.getScrollX() + font->textWidth(long_.c_str(), long_.c_str() + f.edit.getCaret());
    EXPECT_GE(caretX, 0) << step;
    EXPECT_LE(caretX + cw, aw) << step;
    if (step == 39) {
      EXPECT_EQ(f.edit.getScrollX(), 0); // back at the start
    }
    previous = f.edit.getScrollX();
  }
  (void)previous;
  // At the end: the text's end sits at the area's right edge.
  f.keys({kEnd});
  f.host.paint();
  EXPECT_EQ(f.edit.getScrollX(), aw - font->textWidth(long_.c_str()) - cw);
}

// Typing keeps the field's measures from the changed bytes only: what it
// paints equals a field given the same text at once, in both modes.
TEST_F(WEditTest, TypedTextPaintsAsSetText)
{
  for (bool password : {false, true}) {
    Field typed(100, "", Point(300, 24));
    typed.edit.setPassword(password);
    typed.type("ab ");
    typed.keys({0x1000000 | 0x4E2D, 0xE9, kBackSpace, 'x'});
    typed.keys({kLeft, kLeft});
    typed.type("q");
    typed.host.paint();
    Field set(100, "", Point(300, 24));
    set.edit.setPassword(password);
    set.edit.setText(typed.text().c_str());
    set.edit.setSelection(typed.edit.getCaret(), typed.edit.getCaret());
    set.host.paint();
    ASSERT_EQ(typed.text(), "ab q\xe4\xb8\xadx");
    for (int y = 0; y < 24; y++) {
      for (int x = 0; x < 300; x++)
        ASSERT_EQ(typed.host.at(x, y), set.host.at(x, y)) << password << " " << x << "," << y;
    }
  }
}

TEST_F(WEditTest, PasswordMode)
{
  Field f(20, "secret");
  f.edit.setPassword(true);
  f.keys({'a'}, {kCtrl});
  f.host.clipboard = "before";
  f.keys({'c'}, {kCtrl});
  EXPECT_EQ(f.host.clipboard, "before"); // a hidden password never leaves the field
  EXPECT_EQ(f.host.bells, 0);
  f.edit.menuAction(wvw::WEditMenu::Callback::kCopy);
  EXPECT_EQ(f.host.clipboard, "before");
  // Painted as stars: the same pixels as a plain field holding "******".
  f.edit.setSelection(6, 6);
  f.host.paint();
  Field plain(20, "******");
  plain.host.paint();
  for (int y = 0; y < 24; y++) {
    for (int x = 0; x < 200; x++)
      ASSERT_EQ(f.host.at(x, y), plain.host.at(x, y)) << x << "," << y;
  }
  // Positions count stars.
  tlutil::Font* font = f.edit.getStyle()->font;
  const int star = font->charWidth('*');
  f.host.click(WEdit::kInsetX + 2 * star + star / 2 + 1, 10);
  EXPECT_EQ(f.edit.getCaret(), 3);
}

TEST_F(WEditTest, ClipboardAndDoublePress)
{
  Field f(50, "copy me");
  f.keys({kLeft, kLeft}, {kShift});
  f.keys({'c'}, {kCtrl});
  EXPECT_EQ(f.host.clipboard, "me");
  f.host.clipboard = "\xff\xfe"; // not UTF-8: ignored
  f.keys({'v'}, {kCtrl});
  EXPECT_EQ(f.text(), "copy me");
  f.host.clipboard = "";
  f.keys({'v'}, {kCtrl}); // an empty clipboard deletes the selection
  EXPECT_EQ(f.text(), "copy ");
  // Two presses at one place within 500 ms select all; later ones do not.
  f.host.click(20, 10);
  f.host.advance(100);
  f.host.click(20, 10);
  EXPECT_EQ(f.edit.getSelLength(), -5);
  f.host.click(20, 10);
  f.host.advance(600);
  f.host.click(20, 10);
  EXPECT_EQ(f.edit.getSelLength(), 0);
  // A drag selects from where it began.
  f.host.press(WEdit::kInsetX, 10);
  f.host.pointer(150, 10, 1);
  f.host.release(150, 10);
  EXPECT_EQ(f.edit.getCaret(), 5);
  EXPECT_EQ(f.edit.getSelLength(), -5);
}

TEST_F(WEditTest, FocusByTabSelectsAll)
{
  for (bool tab : {true, false}) {
    WvwHost host(Point(200, 60));
    wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
    WEdit a(20, "first"), b(20, "second");
    layout.addChildRect(&a, rfb::Rect(0, 0, 200, 24), nullptr);
    layout.addChildRect(&b, rfb::Rect(0, 30, 200, 54), nullptr);
    host.setContent(&layout);
    a.setFocus();
    if (tab) {
      host.keyDown(kTab);
      host.keyUp(kTab);
    } else {
      host.click(20, 40);
    }
    ASSERT_TRUE(b.hasFocus());
    EXPECT_EQ(b.getSelLength(), tab ? -6 : 0);
  }
}

TEST_F(WEditTest, Completion)
{
  WvwHost host(Point(200, 24));
  wvw::WEditAutocomplete edit(50);
  host.setContent(&edit);
  edit.setFocus();
  edit.setCompletions({"abcdef", "abc", "Xyz", "ab"}, wvw::WEditAutocomplete::Case::Insensitive);
  EXPECT_EQ(edit.completions(), (std::vector<std::string>{"ab", "abc", "abcdef", "Xyz"}));
  edit.setCompletions({"abcdef", "abc"}, wvw::WEditAutocomplete::Case::Insensitive);
  host.typeKey('A');
  EXPECT_EQ(std::string(edit.getText()), "abc");
  EXPECT_EQ(edit.selectionStart(), 1);
  EXPECT_EQ(edit.selectionEnd(), 3);
  host.typeKey('b');
  host.typeKey('c');
  host.typeKey('d');
  EXPECT_EQ(std::string(edit.getText()), "abcdef");
  EXPECT_EQ(edit.selectionStart(), 4);
  host.typeKey(kBackSpace); // deletes the completed rest, completes nothing
  EXPECT_EQ(std::string(edit.getText()), "abcd");
  host.typeKey(kBackSpace);
  EXPECT_EQ(std::string(edit.getText()), "abc");
  // Case-sensitive: "A" matches nothing.
  edit.setText("");
  edit.setCompletions({"abc"}, wvw::WEditAutocomplete::Case::Sensitive);
  host.typeKey('A');
  EXPECT_EQ(std::string(edit.getText()), "A");
}

// The context menus: the field's (copy, paste, select all) and the
// selectable label's (copy, select all), popped up at the pointer.
TEST_F(WEditTest, ContextMenus)
{
  Field f(50, "menu text");
  f.host.clipboard = "X";
  f.host.click(30, 10, 2);
  ASSERT_NE(f.edit.editMenu(), nullptr);
  ASSERT_EQ(f.host.popups.size(), 1u);
  EXPECT_EQ(f.host.popups[0].position, Point(30, 10));
  auto* menu = f.edit.editMenu();
  EXPECT_STREQ(menu->item(1)->getText(), "Copy");
  EXPECT_STREQ(menu->item(2)->getText(), "Paste");
  EXPECT_STREQ(menu->item(4)->getText(), "Select All");
  f.host.typeKey(0xFF54); // Down to Paste
  f.host.typeKey(kReturn);
  EXPECT_TRUE(f.host.popups.empty());
  EXPECT_EQ(f.text(), "menu textX");
  f.host.click(30, 10, 2);
  f.host.typeKey(0xFF52); // Up wraps to Select All
  f.host.typeKey(kReturn);
  EXPECT_EQ(f.edit.getSelLength(), -10);
  f.host.click(30, 10, 2);
  f.host.typeKey(kReturn); // Copy
  EXPECT_EQ(f.host.clipboard, "menu textX");

  WvwHost host(Point(200, 30));
  wvw::WLabel label("label text");
  label.setSelectable(true);
  host.setContent(&label);
  host.click(10, 10, 2);
  ASSERT_NE(label.editMenu(), nullptr);
  EXPECT_EQ(label.editMenu()->item(2), nullptr);
  EXPECT_EQ(label.editMenu()->menu().items().size(), 2u);
  host.typeKey(0xFF54);
  host.typeKey(kReturn); // Select All
  host.click(10, 10, 2);
  host.typeKey(kReturn); // Copy
  EXPECT_EQ(host.clipboard, "label text");
}

// Random scripts of keys, drags and pastes keep the text valid UTF-8
// within maxLength and the caret and selection on boundaries inside it.
TEST_F(WEditTest, RandomScriptsKeepInvariants)
{
  std::mt19937 rng(41);
  const uint32_t keyPool[] = {'a', 'Z', ' ', '-', 0xE9, 0x1000000 | 0x4E2D, 0x1000000 | 0x1F600, kLeft, kRight,
                              kHome, kEnd, kDelete, kBackSpace, kReturn, kTab, 0xFE51, 0xFF20, 'e', '\'', 0x1F};
  const char* clips[] = {"x",        "\xc3\xa9t\xc3\xa9", "\xff", "a\001b",
                         "\xe4\xb8", "\xf0\x9f\x98\x80!", "",     "\n"};
  for (int run = 0; run < 60; run++) {
    const int maxLength = 1 + (int)(rng() % 12);
    Field f(maxLength, "", Point(80, 24));
    for (int step = 0; step < 150; step++) {
      switch (rng() % 6) {
      case 0:
        f.host.hold(kShift);
        break;
      case 1:
        f.host.hold(kCtrl);
        break;
      default:
        break;
      }
      const int kind = (int)(rng() % 10);
      if (kind < 7) {
        f.host.typeKey(keyPool[rng() % (sizeof keyPool / sizeof keyPool[0])]);
      } else if (kind == 7) {
        f.host.clipboard = clips[rng() % 8];
        f.edit.paste(&f.edit);
      } else {
        const int x0 = (int)(rng() % 90) - 5, x1 = (int)(rng() % 90) - 5;
        f.host.press(x0, 10);
        f.host.pointer(x1, 12, 1);
        f.host.release(x1, 12);
      }
      f.host.releaseAll();
      const std::string t = f.text();
      ASSERT_TRUE(plat::isValidUtf8(t.c_str())) << run << "/" << step;
      ASSERT_LE((int)t.size(), maxLength);
      for (char c : t)
        ASSERT_GE((unsigned char)c, 32);
      const int len = (int)t.size();
      for (int off : {f.edit.getCaret(), f.edit.getCaret() + f.edit.getSelLength()}) {
        ASSERT_GE(off, 0);
        ASSERT_LE(off, len);
        ASSERT_TRUE(off == len || ((unsigned char)t[off] & 0xC0) != 0x80) << off;
      }
    }
    f.host.paint();
  }
}

// A handler that destroys the field from valueChanged or from a menu
// action ends the dispatch cleanly (AddressSanitizer watches).
TEST_F(WEditTest, HandlersDestroyTheField)
{
  struct Killer : wvw::WInputHandler {
    std::unique_ptr<WEdit> edit;
    bool valueChanged(wvw::Widget* w) override
    {
      if (w == edit.get())
        edit.reset();
      return false;
    }
  };
  for (int how = 0; how < 3; how++) {
    WvwHost host(Point(200, 24));
    Killer k;
    k.edit.reset(new WEdit(20, "x"));
    host.setContent(k.edit.get());
    k.edit->setFocus();
    k.edit->setInputHandler(&k);
    if (how == 0) {
      host.typeKey('y');
    } else if (how == 1) {
      host.clipboard = "pasted";
      host.keyDown(kCtrl);
      host.typeKey('v');
    } else {
      host.click(20, 10, 2);
      host.typeKey(0xFF54);
      host.typeKey(kReturn); // Paste from the context menu
    }
    EXPECT_EQ(k.edit, nullptr) << how;
    EXPECT_TRUE(host.popups.empty());
  }
}

TEST_F(WEditTest, Golden)
{
  WvwHost host(Point(120, 60));
  wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
  WEdit focused(50, "Selected text"), placeholder(50, ""), disabled(50, "Disabled");
  placeholder.setPlaceholder("Name");
  layout.addChildRect(&focused, rfb::Rect(0, 0, 120, 20), nullptr);
  layout.addChildRect(&placeholder, rfb::Rect(0, 20, 120, 40), nullptr);
  layout.addChildRect(&disabled, rfb::Rect(0, 40, 120, 60), nullptr);
  disabled.setEnabled(false);
  host.setContent(&layout);
  focused.setFocus();
  focused.setSelection(0, 8);
  tltest::expectGolden(host.paint(), "edit");
  const wvw::WStyle* s = focused.getStyle();
  EXPECT_EQ(host.at(0, 10), s->bevelFrame);
  EXPECT_EQ(host.at(1, 10), s->bevelLight);
  EXPECT_EQ(host.at(3, 3), s->contentBg);
  EXPECT_EQ(host.at(3, 43), s->disabledBg);
  EXPECT_EQ(host.at(WEdit::kInsetX, WEdit::kInsetY), s->selectionBg);
}

} // namespace
