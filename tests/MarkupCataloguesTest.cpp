// Every markup text of every module's catalogue, in every language, parses
// once its placeholders are filled.
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loc/Catalogue.h"
#include "loc/Localize.h"
#include "plat/Exception.h"
#include "plat/MarkupParser.h"
#include "ui/LocStrings.h"

namespace {

// A text is markup when its key says so or it holds a tag of the language.
bool isMarkup(const char* key, const char* english)
{
  if (strstr(key, "_html"))
    return true;
  static const char* const kTags[] = {"div", "span", "b", "i", "u", "font", "a", "br"};
  for (const char* p = strchr(english, '<'); p; p = strchr(p + 1, '<')) {
    const char* name = p[1] == '/' ? p + 2 : p + 1;
    for (const char* tag : kTags) {
      size_t n = strlen(tag);
      if (strncasecmp(name, tag, n) == 0 && name[n] && strchr(" \t\n/>", name[n]))
        return true;
    }
  }
  return false;
}

TEST(MarkupCataloguesTest, EveryMarkupTextParses)
{
  ui::registerTranslations();
  const int kEnglish = 3;
  ASSERT_STREQ("en", loc::Catalogue::kLanguageCodes[kEnglish]);
  int checked = 0;
  for (const loc::Catalogue* c : loc::catalogues()) {
    for (unsigned k = 0; k < c->size; k++) {
      if (!isMarkup(c->keys[k], c->texts[kEnglish][k]))
        continue;
      for (int l = 0; l < loc::Catalogue::kLanguages; l++) {
        // The placeholders are link targets, escaped as callers escape them.
        const char* fmt = c->texts[l][k];
        int placeholders = 0;
        for (const char* p = fmt; (p = strchr(p, '%')); p += p[1] ? 2 : 1)
          placeholders += p[1] != '%';
        std::vector<loc::Arg> args(placeholders, loc::Arg("https://help.example/p?a=1&amp;b=2"));
        for (int i = 0; i + 1 < placeholders; i++)
          args[i].next = &args[i + 1];
        plat::String text;
        loc::format(text, fmt, args.empty() ? nullptr : args.data());
        EXPECT_FALSE(strchr(text.str(), '%')) << c->keys[k] << ": " << text.str();
        std::vector<plat::Markup::Paragraph> paragraphs;
        try {
          plat::Markup::ParserHtml::instance().parseParagraphs(text.str(), paragraphs);
        } catch (plat::Exception& e) {
          ADD_FAILURE() << c->keys[k] << " (" << loc::Catalogue::kLanguageCodes[l]
                        << "): " << e.str() << "\n" << text.str();
        }
        EXPECT_FALSE(paragraphs.empty()) << c->keys[k];
        checked++;
      }
    }
  }
  // The setup, product and server modules hold seven markup texts.
  EXPECT_GE(checked, 7 * loc::Catalogue::kLanguages);
}

} // namespace
