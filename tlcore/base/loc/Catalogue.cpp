#include "loc/Catalogue.h"

#include "loc/Localize.h"

namespace loc {

namespace {

std::vector<const Catalogue*>& list()
{
  // Filled from static initialisers of other units, so built on first use.
  static std::vector<const Catalogue*> catalogues;
  return catalogues;
}

} // namespace

const char* const Catalogue::kLanguageCodes[kLanguages] = {"de", "es", "fr", "en", "pt"};

void registerCatalogue(const Catalogue& c)
{
  list().push_back(&c);
  Localize* store = Localize::instance();
  // Each language's keys go in ascending order, which addString's insertion
  // hint turns into constant time per text.
  for (int l = 0; l < Catalogue::kLanguages; l++)
    for (unsigned i = 0; i < c.size; i++)
      store->addString(Catalogue::kLanguageCodes[l], c.keys[i], c.texts[l][i]);
}

const std::vector<const Catalogue*>& catalogues()
{
  return list();
}

} // namespace loc
