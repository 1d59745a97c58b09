// Keysym conversions against libxkbcommon, combinations against the system's
// Compose file, key names, dead-key composition and the dead-key file.
#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include "plat/Configuration.h"
#include "rfb/DeadKeyUtil.h"
#include "rfb/Keysym.h"
#include "rfb/KeysymTables.h"
#include "testutil.h"

using namespace rfb;

namespace {

tltest::CaptureDest capture("keysymtest", tltest::CaptureDest::kText);

// The dead-key source at its most verbose level into the capture.
struct LogToCapture {
  LogToCapture() { plat::setLogOverride("DeadKeyUtil:keysymtest:110"); }
  ~LogToCapture() { plat::setLogOverride(nullptr); }
};

bool isControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool isRefused(uint32_t c)
{
  return (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

} // namespace

TEST(Keysym, TableCounts)
{
  std::map<uint32_t, int> perSet;
  std::set<uint32_t> keysyms, codePoints;
  for (const KeysymPair& p : kKeysymPairs) {
    if (p.keysym < 0xFF00)
      perSet[p.keysym >> 8]++;
    EXPECT_TRUE(keysyms.insert(p.keysym).second) << std::hex << p.keysym;
    EXPECT_TRUE(codePoints.insert(p.ucs).second) << std::hex << p.ucs;
  }
  EXPECT_EQ(748u, keysyms.size());
  const std::map<uint32_t, int> expected = {
    {0x01, 57}, {0x02, 22}, {0x03, 35}, {0x04, 64}, {0x05, 48}, {0x06, 93}, {0x07, 71}, {0x08, 39},
    {0x09, 23}, {0x0A, 77}, {0x0B, 8},  {0x0C, 28}, {0x0D, 83}, {0x0E, 91}, {0x13, 3},  {0x20, 1}};
  EXPECT_EQ(expected, perSet);
  EXPECT_EQ(0x318Eu, *codePoints.rbegin());

  const int combinationCounts[] = {62, 57, 21, 30, 26, 1, 21};
  for (int i = 0; i < 7; i++)
    EXPECT_EQ(combinationCounts[i], kBuiltInCombinations[i].count) << "table " << i + 1;

  const uint32_t deadSymbols[20][2] = {
    {0x60, 0xFE50},      {0x27, 0xFE51},   {0xB4, 0xFE51},      {0x1000384, 0xFE51},
    {0x5E, 0xFE52},      {0x7E, 0xFE53},   {0xAF, 0xFE54},      {0x1A2, 0xFE55},
    {0x1FF, 0xFE56},     {0x22, 0xFE57},   {0xA8, 0xFE57},      {0xB0, 0xFE58},
    {0x1BD, 0xFE59},     {0x1B7, 0xFE5A},  {0xB8, 0xFE5B},      {0x1B2, 0xFE5C},
    {0x10002DA, 0xFE58}, {0x7AE, 0x1000344}, {0x10002C6, 0xFE52}, {0x10002DC, 0xFE53}};
  for (int i = 0; i < 20; i++) {
    EXPECT_EQ(deadSymbols[i][0], kBuiltInDeadSymbols[i].spacing) << i;
    EXPECT_EQ(deadSymbols[i][1], kBuiltInDeadSymbols[i].dead) << i;
  }
}

// Every keysym of the table and every code point against libxkbcommon.
// Intended differences: Return (and KP_Enter) type a line feed; control
// characters other than the five function keys give no keysym; surrogates
// and non-characters give nothing; and the table follows the X11 header's
// own comments where xkbcommon has its own choices, listed here.
const std::map<uint32_t, const char*> kTableDifferences = {
  {0x0490, "Ukrainian GHE with upturn: left out of the Cyrillic set"},
  {0x0491, "Ukrainian ghe with upturn: left out of the Cyrillic set"},
  {0x0E3E, "Thai_maihanakat_maitho: the header gives no code point"},
  {0x2329, "leftanglebracket: the header says U+2329, xkbcommon U+27E8"},
  {0x232A, "rightanglebracket: the header says U+232A, xkbcommon U+27E9"},
  {0x27E8, "leftanglebracket, as above"},
  {0x27E9, "rightanglebracket, as above"},
  {0x2395, "quad: left out of the APL set"},
  {0x2423, "signifblank: left out of the Publishing set"},
  {0x2500, "exact horizlinescan5 kept over approximate horizconnector"},
  {0x2502, "exact vertbar kept over approximate vertconnector"},
  {0x250C, "exact upleftcorner kept over approximate topleftradical"},
  {0x25CB, "exact APL circle kept over approximate emopencircle"},
};

TEST(Keysym, ConversionsAgreeWithXkbcommon)
{
  for (const KeysymPair& p : kKeysymPairs) {
    uint32_t xkb = xkb_keysym_to_utf32(p.keysym);
    EXPECT_EQ(p.ucs, keysymToUnicode(p.keysym));
    if (p.keysym == keysym::Return) {
      EXPECT_EQ(0x0Du, xkb);
    } else if (!kTableDifferences.count(p.ucs)) {
      EXPECT_EQ(xkb, p.ucs) << std::hex << p.keysym;
    }
  }
  EXPECT_EQ(0x0Au, keysymToUnicode(keysym::KP_Enter));

  const std::map<uint32_t, uint32_t> functionKeys = {
    {0x08, 0xFF08}, {0x09, 0xFF09}, {0x0A, 0xFF0D}, {0x1B, 0xFF1B}, {0x7F, 0xFFFF}};
  int failures = 0;
  for (uint32_t ucs = 0; ucs <= 0x10FFFF && failures < 20; ucs++) {
    uint32_t ours = unicodeToKeysym(ucs), xkb = xkb_utf32_to_keysym(ucs);
    if (isControl(ucs)) {
      auto f = functionKeys.find(ucs);
      EXPECT_EQ(f == functionKeys.end() ? 0 : f->second, ours) << std::hex << ucs;
    } else if (isRefused(ucs)) {
      EXPECT_EQ(0u, ours) << std::hex << ucs;
    } else if (ours != xkb && !kTableDifferences.count(ucs)) {
      ADD_FAILURE() << std::hex << "U+" << ucs << " ours 0x" << ours << " xkbcommon 0x" << xkb;
      failures++;
    }
  }

  // A Unicode keysym is folded to its legacy keysym, so it types its code
  // point; refused code points and those past U+10FFFF type nothing.
  for (uint32_t ucs = 0xA0; ucs <= 0x10FFFF; ucs += ucs < 0x3400 ? 1 : 97) {
    uint32_t k = 0x1000000 | ucs;
    EXPECT_EQ(isRefused(ucs) || isControl(ucs) ? 0 : ucs, keysymToUnicode(k)) << std::hex << ucs;
  }
  for (uint32_t k : {0x100D800u, 0x100FFFEu, 0x10FFFFFu, 0x1110000u, 0x1FFFFFFu})
    EXPECT_EQ(0u, keysymToUnicode(k)) << std::hex << k;
  EXPECT_EQ(0u, unicodeToKeysym(0xDC00));
  EXPECT_EQ(0u, unicodeToKeysym(0x110000));
}

namespace {

// The system's Compose file for en_US.UTF-8, through xkbcommon.
class Compose {
public:
  Compose()
  {
    ctx_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    table_ = xkb_compose_table_new_from_locale(ctx_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    if (table_)
      state_ = xkb_compose_state_new(table_, XKB_COMPOSE_STATE_NO_FLAGS);
  }
  ~Compose()
  {
    xkb_compose_state_unref(state_);
    xkb_compose_table_unref(table_);
    xkb_context_unref(ctx_);
  }
  bool ok() const { return state_ != nullptr; }
  // The code point a sequence composes to, or 0.
  uint32_t compose(std::initializer_list<uint32_t> keys)
  {
    xkb_compose_state_reset(state_);
    for (uint32_t k : keys)
      xkb_compose_state_feed(state_, k);
    if (xkb_compose_state_get_status(state_) != XKB_COMPOSE_COMPOSED)
      return 0;
    char utf8[8];
    xkb_compose_state_get_utf8(state_, utf8, sizeof(utf8));
    std::vector<uint32_t> ks = utf8ToKeysyms(utf8, 0);
    return ks.size() == 1 ? keysymToUnicode(ks[0]) : 0;
  }

private:
  xkb_context* ctx_ = nullptr;
  xkb_compose_table* table_ = nullptr;
  xkb_compose_state* state_ = nullptr;
};

} // namespace

// Every combination as a dead-key sequence and as the Multi_key sequence a
// user types (Multi_key, the dead key's spacing accent, the base). Where two
// entries share a sequence the first one answers, as findCombination does.
// Justified differences: X has no dead keysym for the Greek dialytika tonos,
// so its Compose file is asked with dead_diaeresis and dead_acute instead;
// and it spells Multi_key sequences with ASCII stand-ins ("c" for caron,
// "o" for the ring, "," for the cedilla), so only sequences whose spacing
// accent is ASCII and whose base is not space must compose there.
TEST(Keysym, CombinationsAgreeWithTheComposeFile)
{
  Compose compose;
  if (!compose.ok())
    GTEST_SKIP() << "no Compose file for en_US.UTF-8";
  DeadKeyUtil util;
  int multiChecked = 0, multiStandIns = 0;
  for (const CombinationTable& t : kBuiltInCombinations) {
    for (int i = 0; i < t.count; i++) {
      const Combination& c = t.entries[i];
      uint32_t want = keysymToUnicode(util.findCombination(c.dead, c.base));
      uint32_t got = c.dead == keysym::dead_accentdieresis
                       ? compose.compose({keysym::dead_diaeresis, keysym::dead_acute, c.base})
                       : compose.compose({c.dead, c.base});
      EXPECT_EQ(want, got) << std::hex << c.result << " = " << c.dead << " + " << c.base;
      uint32_t spacing = util.spacingForDead(c.dead);
      if (spacing >= 0x20 && spacing < 0x7F && c.base != 0x20) {
        EXPECT_EQ(want, compose.compose({keysym::Multi_key, spacing, c.base}))
          << std::hex << "Multi_key " << spacing << " " << c.base;
        multiChecked++;
      } else {
        multiStandIns++;
      }
    }
  }
  EXPECT_EQ(218, multiChecked + multiStandIns);
  EXPECT_EQ(106, multiChecked);
}

TEST(Keysym, VariantsClassesAndNames)
{
  // Folding: every keypad and right-hand variant types what its plain key
  // types, and otherKeysym goes both ways.
  const uint32_t variants[][2] = {{0xFFE2, 0xFFE1}, {0xFFEE, 0xFFED}, {0xFF7E, 0xFE03},
                                  {0xFF80, 0x20},   {0xFF8D, 0xFF0D}, {0xFF91, 0xFFBE},
                                  {0xFF9D, 0xFF58}, {0xFF9F, 0xFFFF}, {0xFFBD, '='},
                                  {0xFFAC, ','},    {0xFFB5, '5'}};
  for (const auto& v : variants) {
    EXPECT_EQ(v[1], normaliseKeysym(v[0])) << std::hex << v[0];
    EXPECT_EQ(v[1], otherKeysym(v[0]));
    EXPECT_EQ(v[0], otherKeysym(v[1]));
    EXPECT_EQ(keysymToUnicode(v[1]), keysymToUnicode(v[0]));
  }
  EXPECT_EQ(0x35u, keysymToUnicode(keysym::KP_5));
  EXPECT_EQ(0u, keysymToUnicode(keysym::Shift_R));
  EXPECT_EQ(0x41u, keysymToUnicode(0x1000041));
  EXPECT_EQ(0xE9u, normaliseKeysym(0x10000E9));
  EXPECT_EQ(0u, normaliseKeysym(0x100000A));
  EXPECT_EQ(0x3C0u, legacyKeysym(0x1000100));
  EXPECT_EQ(0xFF55u, legacyKeysym(0xFF55));
  EXPECT_EQ(0u, otherKeysym('a'));

  // Classification at the edges of each range.
  struct Range {
    bool (*test)(uint32_t);
    std::vector<uint32_t> in, out;
  } ranges[] = {
    {isModifierKeysym, {0xFFE1, 0xFFEF, 0xFF7E, 0xFF7F, 0xFE01, 0xFE0F}, {0xFFE0, 0xFFF0, 0xFF7D, 0xFF80, 0xFE00, 0xFE10}},
    {isKeypadKeysym, {0xFF80, 0xFFBD}, {0xFF7F, 0xFFBE}},
    {isVolumeKeysym, {0x1008FF11, 0x1008FF13}, {0x1008FF10, 0x1008FF14}},
    {isDeadKeysym, {0xFE50, 0xFE63, 0x1000344}, {0xFE4F, 0xFE64, 0x1000343}},
  };
  for (const Range& r : ranges) {
    for (uint32_t k : r.in)
      EXPECT_TRUE(r.test(k)) << std::hex << k;
    for (uint32_t k : r.out)
      EXPECT_FALSE(r.test(k)) << std::hex << k;
  }
  EXPECT_TRUE(ctrlPressed({0x61, 0xFFE4}));
  EXPECT_TRUE(shiftPressed({0xFFE1}));
  EXPECT_TRUE(altPressed({0xFFEA}));
  EXPECT_FALSE(altPressed({0xFFE7, 0xFFE3}));

  const std::pair<uint32_t, const char*> names[] = {
    {0xFF08, "BkSp"}, {0xFF09, "Tab"},   {0xFF0D, "Enter"}, {0xFF1B, "Esc"}, {0xFF50, "Home"},
    {0xFF51, "Left"}, {0xFF52, "Up"},    {0xFF53, "Right"}, {0xFF54, "Down"}, {0xFF55, "PgUp"},
    {0xFF56, "PgDn"}, {0xFF57, "End"},   {0xFF63, "Ins"},   {0xFFBE, "F1"},   {0xFFC9, "F12"},
    {0xFFFF, "Del"},  {0xFFCA, nullptr}, {0x61, nullptr}};
  for (const auto& n : names) {
    const char* got = keyName(n.first);
    EXPECT_STREQ(n.second, got) << std::hex << n.first;
  }

  const std::pair<uint32_t, const char*> strings[] = {
    {kKeyCtrl | kKeyShift | 'a', "Ctrl+Shift+A"}, {kKeyAlt | 0xFFC9, "Alt+F12"},
    {kKeyCtrl, "Ctrl+"},                          {0xFFE1, "[Unknown key]"},
    {kKeyAlt | kKeyShift | kKeyCtrl | 0xE9, "Ctrl+Shift+Alt+\xc3\xa9"},
    {0x6C1, "\xd0\xb0"}};
  for (const auto& s : strings)
    EXPECT_STREQ(s.second, keyToString(s.first).str()) << std::hex << s.first;
}

TEST(Keysym, TextToKeysyms)
{
  using V = std::vector<uint32_t>;
  struct Case {
    const char* text;
    unsigned flags;
    V want;
  } cases[] = {
    {"a\xc3\xa9\xd0\xb0\xf0\x9f\x98\x80", 0, {0x61, 0xE9, 0x6C1, 0x101F600}},
    {"a\nb", 0, {}},
    {"a\nb", kAllowControls, {0x61, 0xFF0D, 0x62}},
    {"a\nb", kSkipUnmappable, {0x61, 0x62}},
    {"a\x01" "b", kAllowControls, {}},
    {"a\x01" "b", kAllowControls | kSkipUnmappable, {0x61, 0x62}},
    {"a\xff" "b", 0, {}},
    {"a\xff" "b", kSkipUnmappable, {0x61, 0x62}},
    {"", 0, {}},
    {nullptr, 0, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.want, utf8ToKeysyms(c.text, c.flags)) << (c.text ? c.text : "null") << c.flags;
  const char* ab = "ab";
  EXPECT_EQ(V({0x61}), utf8ToKeysyms(ab, 0, ab + 1));

  const std::pair<const char*, uint32_t> keys[] = {
    {"a", 0x61},    {"\xc3\xa9", 0xE9}, {"\xe2\x82\xac", 0x20AC}, {"F1", 0xFFBE}, {"F19", 0xFFD0},
    {"F20", 0},     {"F0", 0},          {"F", 0x46},              {"ab", 0},      {nullptr, 0},
    {"\xf4\x90\x80\x80", 0}, {"\xed\xa0\x80", 0}};
  for (const auto& k : keys)
    EXPECT_EQ(k.second, stringToKeysym(k.first)) << (k.first ? k.first : "null");
}

namespace {

// A key event for processKey: a keysym pressed (true) or released.
struct Ev {
  uint32_t keysym;
  bool down;
};

// Runs the events and returns what was typed, with each event's answer.
std::pair<std::vector<uint32_t>, std::string> run(DeadKeyUtil& util, std::vector<Ev> events)
{
  std::vector<uint32_t> out;
  std::string handled;
  for (const Ev& e : events)
    handled += util.processKey(e.keysym, e.down, out) ? 'h' : '-';
  return {out, handled};
}

} // namespace

TEST(Keysym, DeadKeySequences)
{
  using V = std::vector<uint32_t>;
  const uint32_t acute = keysym::dead_acute, multi = keysym::Multi_key, shift = keysym::Shift_L;
  struct Case {
    std::vector<Ev> events;
    V typed;
    const char* handled;
  } cases[] = {
    // The dead key, then the letter; the letter's release is swallowed.
    {{{acute, true}, {acute, false}, {0x65, true}, {0x65, false}}, {0xE9}, "hhhh"},
    // No combination: the spacing form, then the key.
    {{{acute, true}, {0x71, true}, {0x71, false}}, {0x27, 0x71}, "hhh"},
    // Shift between the dead key and the base leaves the dead key waiting.
    {{{acute, true}, {shift, true}, {0x45, true}, {0x45, false}, {shift, false}}, {0xC9}, "h-hh-"},
    // Multi_key, a spacing accent, then the letter.
    {{{multi, true}, {multi, false}, {0x27, true}, {0x27, false}, {0x65, true}, {0x65, false}},
     {0xE9}, "hhhhhh"},
    {{{multi, true}, {0x60, true}, {0x61, true}}, {0xE0}, "hhh"},
    {{{multi, true}, {0x5E, true}, {0x6F, true}}, {0xF4}, "hhh"},
    {{{multi, true}, {0x7E, true}, {0x6E, true}}, {0xF1}, "hhh"},
    {{{multi, true}, {0x22, true}, {0x75, true}}, {0xFC}, "hhh"},
    {{{multi, true}, {0xB8, true}, {0x63, true}}, {0xE7}, "hhh"},
    // After Multi_key a key that is no spacing accent is swallowed.
    {{{multi, true}, {0x78, true}, {0x78, false}, {0x65, true}}, {}, "hhh-"},
    // A dead key without a spacing form gives 0 before the key.
    {{{keysym::dead_belowdot, true}, {0x71, true}}, {0, 0x71}, "hh"},
    // Without a dead key nothing is handled.
    {{{0x61, true}, {0x61, false}}, {}, "--"},
    // A second dead key replaces the first.
    {{{acute, true}, {keysym::dead_grave, true}, {0x61, true}}, {0xE0}, "hhh"},
  };
  for (const Case& c : cases) {
    DeadKeyUtil util;
    auto got = run(util, c.events);
    EXPECT_EQ(c.typed, got.first) << c.handled;
    EXPECT_EQ(c.handled, got.second);
  }
  // Multi_key with each spacing accent that stands first for its dead key,
  // then a base that combines with it.
  DeadKeyUtil util;
  int accents = 0;
  for (const DeadKeySymbol& d : kBuiltInDeadSymbols) {
    if (util.deadForSpacing(d.spacing) != d.dead)
      continue;
    for (const CombinationTable& t : kBuiltInCombinations) {
      const Combination* c = std::find_if(t.entries, t.entries + t.count, [&](const Combination& e) {
        return e.dead == d.dead && e.base != 0x20;
      });
      if (c == t.entries + t.count)
        continue;
      auto got = run(util, {{multi, true}, {d.spacing, true}, {c->base, true}, {c->base, false}});
      EXPECT_EQ(V({util.findCombination(d.dead, c->base)}), got.first) << std::hex << d.spacing;
      EXPECT_EQ("hhhh", got.second);
      accents++;
      break;
    }
  }
  EXPECT_EQ(20, accents);
  uint32_t dead = 0, base = 0;
  EXPECT_TRUE(util.decompose(0xE9, dead, base));
  EXPECT_EQ(acute, dead);
  EXPECT_EQ(0x65u, base);
  EXPECT_FALSE(util.decompose(0x61, dead, base));
  EXPECT_EQ(0x27u, util.spacingForDead(acute));
  EXPECT_EQ(acute, util.deadForSpacing(0xB4));
}

namespace {

// DeadKeyFile set to a file holding text while this lives.
class DeadKeyFile {
public:
  explicit DeadKeyFile(const std::string& text) : file_(text, "deadkeys")
  {
    plat::Configuration::global().set("DeadKeyFile", file_.path().c_str(), 0);
  }
  ~DeadKeyFile() { plat::Configuration::global().set("DeadKeyFile", "", 0); }
  const std::string& path() const { return file_.path(); }

private:
  tltest::TempFile file_;
};

} // namespace

TEST(Keysym, DeadKeyFile)
{
  LogToCapture logToCapture;
  const uint32_t acute = keysym::dead_acute;
  {
    // Symbols per language, and comps that extend the built-in tables: they
    // change decompose, while findCombination still prefers the built-ins.
    DeadKeyFile file(R"({"deadKeys": [["b4", "fe51"]],
                         "deadKeys-de": [["60", "fe51"], ["5e", "fe52"]],
                         "comps": [["e9", "fe50", "71"], ["1e9e", "fe51", "78"]]})");
    capture.clear();
    DeadKeyUtil util;
    EXPECT_TRUE(capture.saw("Reading dead key info from " + file.path()));
    EXPECT_TRUE(capture.saw("Got 1 dead keys"));
    EXPECT_TRUE(capture.saw("spacing 0xb4 dead 0xfe51"));
    EXPECT_TRUE(capture.saw("Got 2 comps"));
    EXPECT_TRUE(capture.saw("comb 0xe9 dead 0xfe50 base 0x71"));
    EXPECT_EQ(0xB4u, util.spacingForDead(acute));
    EXPECT_EQ(0u, util.deadForSpacing(0x27));
    uint32_t dead = 0, base = 0;
    EXPECT_TRUE(util.decompose(0xE9, dead, base));
    EXPECT_EQ(keysym::dead_grave, dead);
    EXPECT_EQ(0x71u, base);
    EXPECT_EQ(0xE9u, util.findCombination(acute, 0x65));
    EXPECT_EQ(0x1E9Eu, util.findCombination(acute, 0x78));

    util.readDeadKeyFile("de");
    EXPECT_EQ(0x60u, util.spacingForDead(acute));
    util.readDeadKeyFile("fr");  // no such member: "deadKeys"
    EXPECT_EQ(0xB4u, util.spacingForDead(acute));
  }

  // Without "deadKeys" the built-in symbols stay and "comps" still loads.
  // Errors are logged and keep what was loaded before.
  struct Case {
    const char* text;
    const char* logged;
    uint32_t spacingForAcute;
    uint32_t qWithGrave;
  } cases[] = {
    {R"({"comps": [["e9", "fe50", "71"]]})", "Got 1 comps", 0x27, 0xE9},
    {"", "Error reading dead key file: ", 0x27, 0},
    {"[1]", "Error reading dead key file: Unexpected JSON type", 0x27, 0},
    {R"({"deadKeys": [["b4", "fe51"]], "comps": [["e9", "fe50"]]})",
     "Error reading dead key file: Expected 3 values in a dead key entry, got 2", 0xB4, 0},
    {R"({"deadKeys": [["b4", "fe51"], ["xyz", "fe50"]]})", "Error reading dead key file: ", 0x27, 0},
    {R"({"deadKeys": [["b4", "100000000"]]})", "Error reading dead key file: ", 0x27, 0},
    {R"({"deadKeys": [["b4", 51]]})", "Error reading dead key file: Unexpected JSON type", 0x27, 0},
  };
  for (const Case& c : cases) {
    DeadKeyFile file(c.text);
    capture.clear();
    DeadKeyUtil util;
    EXPECT_EQ(1, capture.countPrefix(c.logged)) << c.text;
    EXPECT_EQ(c.spacingForAcute, util.spacingForDead(acute)) << c.text;
    EXPECT_EQ(c.qWithGrave, util.findCombination(keysym::dead_grave, 0x71)) << c.text;
  }
  {
    plat::Configuration::global().set("DeadKeyFile", "/nonexistent/deadkeys.json", 0);
    capture.clear();
    DeadKeyUtil util;
    EXPECT_EQ(1, capture.countPrefix("Error reading dead key file: "));
    plat::Configuration::global().set("DeadKeyFile", "", 0);
  }
}
