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
  Localize::instance()->addCatalogue(c);
}

const std::vector<const Catalogue*>& catalogues()
{
  return list();
}

} // namespace loc
