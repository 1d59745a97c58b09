// One module's built-in texts as tools/catalogue_gen.py lays them out, and
// the list of the catalogues registered in this process.
//
// Each module's generated unit holds one constant Catalogue (its keys, each
// starting with its prefix, in ascending byte order and, per language, the
// texts in the same order) and registers it through registerCatalogue the
// first time its LocStringsInit is constructed. Keys and texts are static
// literals and are never copied.
// Registration happens during static initialisation, on one thread and
// without a lock; the list is only read afterwards.
#pragma once

#include <vector>

namespace loc {

struct Catalogue {
  static constexpr int kLanguages = 5;
  // The languages in the order they are registered.
  static const char* const kLanguageCodes[kLanguages];

  const char* module;
  const char* prefix;
  unsigned size;
  const char* const* keys;
  // Indexed as kLanguageCodes; each holds size texts, parallel to keys.
  const char* const* texts[kLanguages];
  // Set where the texts are known to be valid UTF-8 (the generator refuses
  // any other); the store checks a catalogue's texts otherwise.
  bool checked;
};

// Lists c. Its texts of a language are checked when that language is first
// needed (at once for languages already in) and enter the store when their
// keys are first looked up; the first registration of a key wins.
void registerCatalogue(const Catalogue& c);

// The registered catalogues in registration order.
const std::vector<const Catalogue*>& catalogues();

} // namespace loc
