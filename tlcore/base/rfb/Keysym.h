// X11 key symbols: conversions to and from Unicode code points, folding of
// variant keys (right-hand modifiers, keypad keys) onto their plain forms,
// classification and the display names of keys for menu shortcuts.
//
// The tables behind the conversions are built once, on first use, and are
// read-only afterwards: every function may be called from any thread.
// Conversions never fail; they answer 0 or an empty result.
#pragma once

#include <stdint.h>

#include <set>
#include <vector>

#include "plat/String.h"
#include "rfb/KeysymNames.h"

namespace rfb {

// A key with modifiers (shortcuts): the keysym in the low 25 bits.
constexpr uint32_t kKeyMask = (1u << 25) - 1;
constexpr uint32_t kKeyShift = 1u << 25;
constexpr uint32_t kKeyCtrl = 1u << 26;
constexpr uint32_t kKeyAlt = 1u << 27;

// --- Conversions ---------------------------------------------------------------
// Printable Latin-1 is its own keysym; a code point without a legacy keysym
// becomes the Unicode keysym 0x1000000 | ucs (0x100..0x10FFFF); surrogates,
// non-characters and anything else give 0.
uint32_t unicodeToKeysym(uint32_t ucs);
// A Unicode keysym becomes the legacy keysym where one exists (0 for a
// control character); any other keysym is returned unchanged.
uint32_t legacyKeysym(uint32_t keysym);
// legacyKeysym, then a variant folded onto its plain keysym.
uint32_t normaliseKeysym(uint32_t keysym);
// The code point a key types, or 0. Return gives 0x0A.
uint32_t keysymToUnicode(uint32_t keysym);
// The plain form of a variant, else the (last) variant of a plain keysym,
// else 0.
uint32_t otherKeysym(uint32_t keysym);

enum Utf8KeysymFlags : unsigned {
  kAllowControls = 1,   // accept code points below 0x20
  kSkipUnmappable = 2,  // drop what gives no keysym instead of failing
};
// The keysyms of a UTF-8 text (up to end, or the NUL when end is null). A
// refused or unmappable character drops out with kSkipUnmappable and
// otherwise makes the whole result empty.
std::vector<uint32_t> utf8ToKeysyms(const char* text, unsigned flags,
                                    const char* end = nullptr);
// One character's keysym, or "F1".."F19"; anything else gives 0.
uint32_t stringToKeysym(const char* text);

// --- Classification -----------------------------------------------------------
bool isModifierKeysym(uint32_t keysym);
bool isKeypadKeysym(uint32_t keysym);
bool isVolumeKeysym(uint32_t keysym);
bool isDeadKeysym(uint32_t keysym);
// Over the set of keysyms held down.
bool ctrlPressed(const std::set<uint32_t>& pressed);
bool shiftPressed(const std::set<uint32_t>& pressed);
bool altPressed(const std::set<uint32_t>& pressed);

// --- Names --------------------------------------------------------------------
// The short name of a named key ("BkSp", "PgUp", "F5"), or null.
const char* keyName(uint32_t keysym);
// "Ctrl+Shift+A": the modifiers of a key with modifier bits, then its name,
// its character or "[Unknown key]".
plat::String keyToString(uint32_t keyWithModifiers);

} // namespace rfb
