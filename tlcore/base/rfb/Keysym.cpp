#include "rfb/Keysym.h"

#include <string.h>

#include <map>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/utf8.h"
#include "rfb/KeysymTables.h"

namespace rfb {

namespace {

// {variant, plain}: right-hand modifiers and keypad keys.
const uint32_t kVariants[][2] = {
  {0xFFE2, 0xFFE1}, {0xFFE4, 0xFFE3}, {0xFFE8, 0xFFE7}, {0xFFEA, 0xFFE9},
  {0xFFEC, 0xFFEB}, {0xFFEE, 0xFFED}, {0xFF7E, 0xFE03},
  {0xFF80, 0x20}, {0xFF89, 0xFF09}, {0xFF8D, 0xFF0D},
  {0xFF91, 0xFFBE}, {0xFF92, 0xFFBF}, {0xFF93, 0xFFC0}, {0xFF94, 0xFFC1},
  {0xFF95, 0xFF50}, {0xFF96, 0xFF51}, {0xFF97, 0xFF52}, {0xFF98, 0xFF53},
  {0xFF99, 0xFF54}, {0xFF9A, 0xFF55}, {0xFF9B, 0xFF56}, {0xFF9C, 0xFF57},
  {0xFF9D, 0xFF58}, {0xFF9E, 0xFF63}, {0xFF9F, 0xFFFF},
  {0xFFBD, '='}, {0xFFAA, '*'}, {0xFFAB, '+'}, {0xFFAC, ','}, {0xFFAD, '-'},
  {0xFFAE, '.'}, {0xFFAF, '/'},
  {0xFFB0, '0'}, {0xFFB1, '1'}, {0xFFB2, '2'}, {0xFFB3, '3'}, {0xFFB4, '4'},
  {0xFFB5, '5'}, {0xFFB6, '6'}, {0xFFB7, '7'}, {0xFFB8, '8'}, {0xFFB9, '9'},
};
static_assert(sizeof(kVariants) / sizeof(kVariants[0]) == 42, "variant table");

// The conversion tables, filled once on first use (a function-local static
// is initialised exactly once, also when threads race for it). Every keysym
// of the pair table lies below 0x2100 or in the 0xFF00 page, and every code
// point below 0x3190, so both directions are direct indexes.
struct Tables {
  static constexpr uint32_t kLegacyEnd = 0x2100, kUcsEnd = 0x3190, kPage = 0xFF00;
  uint16_t ucsOfLegacy[kLegacyEnd] = {};
  uint16_t ucsOfPageKey[0x100] = {};
  uint32_t plainOfVariant[0x100] = {};  // variants all lie in the 0xFF00 page
  uint16_t keysymOfUcs[kUcsEnd] = {};
  std::map<uint32_t, uint32_t> variantOfPlain;

  Tables()
  {
    for (const KeysymPair& p : kKeysymPairs) {
      PLAT_ASSERT(p.ucs < kUcsEnd && (p.keysym < kLegacyEnd || (p.keysym & ~0xFFu) == kPage));
      keysymOfUcs[p.ucs] = (uint16_t)p.keysym;
      if (p.keysym < kLegacyEnd)
        ucsOfLegacy[p.keysym] = (uint16_t)p.ucs;
      else
        ucsOfPageKey[p.keysym & 0xFF] = (uint16_t)p.ucs;
    }
    for (const auto& v : kVariants) {
      PLAT_ASSERT((v[0] & ~0xFFu) == kPage);
      plainOfVariant[v[0] & 0xFF] = v[1];
      variantOfPlain[v[1]] = v[0];  // a later pair replaces an earlier one
    }
  }

  uint32_t plain(uint32_t variant) const
  {
    return (variant & ~0xFFu) == kPage ? plainOfVariant[variant & 0xFF] : 0;
  }
  uint32_t ucs(uint32_t keysym) const
  {
    if (keysym < kLegacyEnd)
      return ucsOfLegacy[keysym];
    return (keysym & ~0xFFu) == kPage ? ucsOfPageKey[keysym & 0xFF] : 0;
  }
  uint32_t keysym(uint32_t ucs) const { return ucs < kUcsEnd ? keysymOfUcs[ucs] : 0; }
};

const Tables& tables()
{
  static const Tables t;
  return t;
}

bool isPrintableLatin1(uint32_t c)
{
  return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
}

// Surrogates and non-characters: code points that valid UTF-8 never holds.
bool isRefusedCodePoint(uint32_t ucs)
{
  return (ucs >= 0xD800 && ucs <= 0xDFFF) || (ucs >= 0xFDD0 && ucs <= 0xFDEF) ||
         (ucs & 0xFFFE) == 0xFFFE;
}

bool isUnicodeKeysym(uint32_t keysym)
{
  return (keysym & 0xFF000000) == 0x01000000;
}

bool isControl(uint32_t ucs)
{
  return ucs < 0x20 || (ucs >= 0x7F && ucs <= 0x9F);
}

// The next code point of [*p, end), or -1 for an invalid sequence (which
// is then skipped).
int nextCodePoint(const char** p, const char* end)
{
  int lead = (unsigned char)*(*p)++;
  if (lead < 0x80)
    return lead;
  return plat::utf8DecodeRest(lead, p, (int)(end - *p) + 1);
}

} // namespace

uint32_t unicodeToKeysym(uint32_t ucs)
{
  if (isPrintableLatin1(ucs))
    return ucs;
  if (isRefusedCodePoint(ucs))
    return 0;
  if (uint32_t k = tables().keysym(ucs))
    return k;
  if (ucs >= 0x100 && ucs <= 0x10FFFF)
    return 0x1000000 | ucs;
  return 0;
}

uint32_t legacyKeysym(uint32_t keysym)
{
  if (!isUnicodeKeysym(keysym))
    return keysym;
  uint32_t ucs = keysym & 0xFFFFFF;
  if (isControl(ucs))
    return 0;
  return unicodeToKeysym(ucs);
}

uint32_t normaliseKeysym(uint32_t keysym)
{
  uint32_t k = legacyKeysym(keysym);
  if (uint32_t plain = tables().plain(k))
    return plain;
  return k;
}

uint32_t keysymToUnicode(uint32_t keysym)
{
  if (keysym < 256)
    return isPrintableLatin1(keysym) ? keysym : 0;
  // Legacy keysyms below the 0xFF00 page have no variants: a direct look-up.
  // Past them only that page and Unicode keysyms have characters.
  if (keysym < Tables::kLegacyEnd)
    return tables().ucsOfLegacy[keysym];
  if ((keysym & ~0xFFu) != Tables::kPage && !isUnicodeKeysym(keysym))
    return 0;
  uint32_t k = normaliseKeysym(keysym);
  if (k < 256)
    return isPrintableLatin1(k) ? k : 0;
  if (isUnicodeKeysym(k)) {
    uint32_t ucs = k & 0xFFFFFF;
    return ucs > 0x10FFFF || isRefusedCodePoint(ucs) ? 0 : ucs;
  }
  return tables().ucs(k);
}

uint32_t otherKeysym(uint32_t keysym)
{
  if (uint32_t plain = tables().plain(keysym))
    return plain;
  auto it = tables().variantOfPlain.find(keysym);
  return it == tables().variantOfPlain.end() ? 0 : it->second;
}

std::vector<uint32_t> utf8ToKeysyms(const char* text, unsigned flags, const char* end)
{
  std::vector<uint32_t> out;
  if (!text)
    return out;
  if (!end)
    end = text + strlen(text);
  for (const char* p = text; p < end;) {
    int ucs = nextCodePoint(&p, end);
    uint32_t k = 0;
    if (ucs >= 0 && (ucs >= 0x20 || (flags & kAllowControls)))
      k = unicodeToKeysym((uint32_t)ucs);
    if (k)
      out.push_back(k);
    else if (!(flags & kSkipUnmappable))
      return {};
  }
  return out;
}

uint32_t stringToKeysym(const char* text)
{
  if (!text || !*text)
    return 0;
  if (text[0] == 'F' && text[1] >= '1' && text[1] <= '9') {
    int n = text[1] - '0';
    if (text[2] >= '0' && text[2] <= '9' && !text[3])
      n = n * 10 + text[2] - '0';
    else if (text[2])
      n = 0;
    if (n >= 1 && n <= 19)
      return 0xFFBD + n;
  }
  const char* p = text;
  const char* end = text + strlen(text);
  int ucs = nextCodePoint(&p, end);
  if (ucs < 0 || p != end)
    return 0;
  return unicodeToKeysym((uint32_t)ucs);
}

bool isModifierKeysym(uint32_t k)
{
  return (k >= 0xFFE1 && k <= 0xFFEF) || (k >= 0xFF7E && k <= 0xFF7F) ||
         (k >= 0xFE01 && k <= 0xFE0F);
}

bool isKeypadKeysym(uint32_t k) { return k >= 0xFF80 && k <= 0xFFBD; }

bool isVolumeKeysym(uint32_t k) { return k >= 0x1008FF11 && k <= 0x1008FF13; }

bool isDeadKeysym(uint32_t k) { return (k >= 0xFE50 && k <= 0xFE63) || k == 0x1000344; }

bool ctrlPressed(const std::set<uint32_t>& pressed)
{
  return pressed.count(keysym::Control_L) || pressed.count(keysym::Control_R);
}

bool shiftPressed(const std::set<uint32_t>& pressed)
{
  return pressed.count(keysym::Shift_L) || pressed.count(keysym::Shift_R);
}

bool altPressed(const std::set<uint32_t>& pressed)
{
  return pressed.count(keysym::Alt_L) || pressed.count(keysym::Alt_R);
}

const char* keyName(uint32_t k)
{
  static const char* const kFunctionKeys[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                              "F7", "F8", "F9", "F10", "F11", "F12"};
  if (k >= keysym::F1 && k <= keysym::F12)
    return kFunctionKeys[k - keysym::F1];
  switch (k) {
  case keysym::BackSpace: return "BkSp";
  case keysym::Tab: return "Tab";
  case keysym::Return: return "Enter";
  case keysym::Escape: return "Esc";
  case keysym::Home: return "Home";
  case keysym::Left: return "Left";
  case keysym::Up: return "Up";
  case keysym::Right: return "Right";
  case keysym::Down: return "Down";
  case keysym::Prior: return "PgUp";
  case keysym::Next: return "PgDn";
  case keysym::End: return "End";
  case keysym::Insert: return "Ins";
  case keysym::Delete: return "Del";
  default: return nullptr;
  }
}

plat::String keyToString(uint32_t keyWithModifiers)
{
  plat::DString s;
  s.reserve(16);
  if (keyWithModifiers & kKeyCtrl)
    s.append("Ctrl+");
  if (keyWithModifiers & kKeyShift)
    s.append("Shift+");
  if (keyWithModifiers & kKeyAlt)
    s.append("Alt+");
  uint32_t key = keyWithModifiers & kKeyMask;
  if (key) {
    if (const char* name = keyName(key)) {
      s.append(name);
    } else if (uint32_t ucs = keysymToUnicode(key)) {
      s.appendChar(ucs >= 'a' && ucs <= 'z' ? ucs - 0x20 : ucs);
    } else {
      s.append("[Unknown key]");
    }
  }
  return s.takeString();
}

} // namespace rfb
