// Every module's message catalogue as registered before main, checked
// against the English lists kept in tests/support/catalogue_en.tsv, and the
// refusals of the catalogue generator.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testutil.h"
#include "loc/Catalogue.h"
#include "loc/Localize.h"
#include "plat/utf8.h"

#include "http/LocStrings.h"
#include "io/LocStrings.h"
#include "loc/LocStrings.h"
#include "muimisc/LocStrings.h"
#include "os/LocStrings.h"
#include "plat/LocStrings.h"
#include "product/LocStrings.h"
#include "rfb/LocStrings.h"
#include "score/LocStrings.h"
#include "smisc/LocStrings.h"
#include "ssl/LocStrings.h"
#include "svr/LocStrings.h"
#include "tlOrbSetup/LocStrings.h"
#include "tlutil/LocStrings.h"
#include "tx/LocStrings.h"
#include "ui/LocStrings.h"

namespace {

using Texts = std::map<std::string, std::string>;

// The modules with their prefixes and key counts as the lists give them.
struct Module {
  const char* name;
  const char* prefix;
  unsigned count;
};
const Module kModules[] = {
    {"plat", "plat_", 19},     {"loc", "loc_", 27},         {"io", "io_", 22},
    {"os", "os_", 5},          {"http", "http_", 7},        {"ssl", "ssl_", 2},
    {"tx", "tx_msgbox_", 4},   {"ui", "ui_", 26},           {"tlutil", "tlutil_", 8},
    {"muimisc", "muimisc_", 59}, {"product", "product_", 7}, {"tlOrbSetup", "tlOrbSetup_", 50},
    {"score", "score_", 11},   {"rfb", "rfb_", 14},         {"svr", "svr_", 88},
    {"smisc", "smisc_", 185},
};
const char* const kLanguages[] = {"de", "es", "fr", "en", "pt"};
const int kEnglish = 3; // in loc::Catalogue::kLanguageCodes

struct Listed {
  std::string module, key, text;
  bool exact; // false: the list gives the text by its structure only
};

// The list file: module, key and English text separated by tabs; "\n" is
// a line break and "\\" a backslash in the text; "*" stands for a text the
// list does not spell out.
const std::vector<Listed>& listed()
{
  static std::vector<Listed> rows = [] {
    std::vector<Listed> out;
    std::ifstream in(TL_TEST_SUPPORT_DIR "/catalogue_en.tsv");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#')
        continue;
      size_t a = line.find('\t'), b = line.find('\t', a + 1);
      Listed row{line.substr(0, a), line.substr(a + 1, b - a - 1), "", true};
      std::string raw = line.substr(b + 1);
      row.exact = raw != "*";
      for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
          char c = raw[++i];
          row.text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
          row.text += raw[i];
        }
      }
      out.push_back(row);
    }
    return out;
  }();
  return rows;
}

Texts texts(const char* language)
{
  return loc::Localize::instance()->getTexts(language);
}

// The placeholders of a text ("%%" is a plain '%'): '%', any of "0-9$+.",
// then one letter. One that does not end in S, D or X fails wellFormed.
std::set<std::string> placeholders(const std::string& text)
{
  std::set<std::string> out;
  for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i)) {
    if (text.compare(i, 2, "%%") == 0) {
      i += 2;
      continue;
    }
    size_t end = text.find_first_not_of("0123456789$+.", i + 1);
    end = end == std::string::npos ? text.size() : end + 1;
    out.insert(text.substr(i, end - i));
    i = end;
  }
  return out;
}

bool wellFormed(const std::string& placeholder)
{
  char c = placeholder.back();
  return c == 'S' || c == 'D' || c == 'X';
}

} // namespace

TEST(CatalogueTest, EveryListedKeyInEveryLanguage)
{
  std::set<std::string> want;
  for (const Listed& row : listed())
    want.insert(row.key);
  ASSERT_EQ(534u, want.size());
  for (const char* language : kLanguages) {
    std::set<std::string> got;
    for (const auto& kv : texts(language)) {
      got.insert(kv.first);
      EXPECT_FALSE(kv.second.empty()) << language << " " << kv.first;
    }
    EXPECT_EQ(want, got) << language;
  }

  std::map<std::string, const loc::Catalogue*> byModule;
  for (const loc::Catalogue* c : loc::catalogues())
    EXPECT_TRUE(byModule.emplace(c->module, c).second) << c->module;
  ASSERT_EQ(sizeof(kModules) / sizeof(kModules[0]), byModule.size());
  for (const Module& m : kModules) {
    const loc::Catalogue* c = byModule[m.name];
    ASSERT_NE(nullptr, c) << m.name;
    EXPECT_STREQ(m.prefix, c->prefix);
    EXPECT_EQ(m.count, c->size) << m.name;
    for (unsigned i = 0; i < c->size; i++)
      EXPECT_EQ(0, strncmp(c->keys[i], m.prefix, strlen(m.prefix))) << c->keys[i];
    // The store leaves the texts of a generated catalogue unchecked.
    EXPECT_TRUE(c->checked) << m.name;
    for (int l = 0; l < loc::Catalogue::kLanguages; l++)
      for (unsigned i = 0; i < c->size; i++)
        EXPECT_TRUE(plat::isValidUtf8(c->texts[l][i])) << c->keys[i];
  }
  for (const Listed& row : listed())
    EXPECT_EQ(0u, row.key.find(byModule[row.module]->prefix)) << row.key;
}

TEST(CatalogueTest, EnglishTextsAreTheListedOnes)
{
  Texts en = texts("en");
  for (const Listed& row : listed()) {
    if (row.exact) {
      EXPECT_EQ(row.text, en[row.key]) << row.key;
    }
  }
}

TEST(CatalogueTest, TranslationsKeepThePlaceholders)
{
  ASSERT_STREQ("en", loc::Catalogue::kLanguageCodes[kEnglish]);
  for (const loc::Catalogue* c : loc::catalogues()) {
    for (unsigned i = 0; i < c->size; i++) {
      std::set<std::string> en = placeholders(c->texts[kEnglish][i]);
      for (const std::string& p : en)
        EXPECT_TRUE(wellFormed(p)) << c->keys[i] << ": " << p;
      for (int l = 0; l < loc::Catalogue::kLanguages; l++)
        EXPECT_EQ(en, placeholders(c->texts[l][i]))
            << c->keys[i] << " " << loc::Catalogue::kLanguageCodes[l];
    }
  }
}

TEST(CatalogueTest, PluralsHaveBothHalves)
{
  Texts en = texts("en");
  for (const auto& kv : en) {
    const std::string& key = kv.first;
    for (auto [half, other] : {std::pair{"_sing", "_many"}, std::pair{"_many", "_sing"}}) {
      size_t n = key.size();
      if (n > 5 && key.compare(n - 5, 5, half) == 0) {
        EXPECT_EQ(1u, en.count(key.substr(0, n - 5) + other)) << key;
      }
    }
  }
}

TEST(CatalogueTest, BrazilianLocaleShowsPortuguese)
{
  Texts pt = texts("pt");
  loc::LocaleSetter setter("pt_BR");
  EXPECT_EQ(pt["loc_time_tomorrow"], loc::translate("loc_time_tomorrow", nullptr, 0, false));
  // Brazilian Portuguese counts 0 as singular.
  EXPECT_EQ(pt["loc_period_day_sing"], loc::translatePlural("loc_period_day", 0, nullptr, 0));
}

TEST(CatalogueTest, RegisteringAgainChangesNothing)
{
  std::map<std::string, Texts> before;
  for (const char* language : kLanguages)
    before[language] = texts(language);
  size_t count = loc::catalogues().size();

  plat::LocStringsInit plat;
  loc::LocStringsInit loc;
  io::LocStringsInit io;
  os::LocStringsInit os;
  http::LocStringsInit http;
  ssl::LocStringsInit ssl;
  tx::LocStringsInit tx;
  ui::registerTranslations();
  tlutil::LocStringsInit tlutil;
  muimisc::LocStringsInit muimisc;
  product::LocStringsInit product;
  tlOrbSetup::LocStringsInit tlOrbSetup;
  score::LocStringsInit score;
  rfb::LocStringsInit rfb;
  svr::LocStringsInit svr;
  smisc::LocStringsInit smisc;

  EXPECT_EQ(count, loc::catalogues().size());
  for (const char* language : kLanguages)
    EXPECT_EQ(before[language], texts(language)) << language;
}

// Each bad data file is refused with the file, line and key at fault, and
// nothing is generated.
TEST(CatalogueTest, GeneratorRefusesBadData)
{
  const std::string head = "# test\nmodule demo\nprefix demo_\n\n";
  auto block = [](const char* key, const char* de, const char* fr = "Ouvrir %S") {
    return std::string("key ") + key + "\nen Open %S\nde " + de + "\nes Abrir %S\nfr " + fr +
           "\npt Abrir %S\n";
  };
  const std::string good = head + block("demo_a", "Öffne %S");
  struct Case {
    std::string data;
    const char* message; // empty: accepted
    std::string second = ""; // another module's file, for the check over all files
  } cases[] = {
      {good, ""},
      {head + block("demo_a", "\xc3\x28 %S"), "demo.catalogue:7: demo_a: de text: invalid UTF-8"},
      {head + block("demo_a", "\xc0\xaf %S"), "demo.catalogue:7: demo_a: de text: invalid UTF-8"},
      {head + block("demo_a", "\xed\xa0\x80 %S"), "demo.catalogue:7: demo_a: de text: invalid UTF-8"},
      {head + block("demo_a", "\xef\xb7\x90 %S"), "demo_a: de text: invalid UTF-8 (non-character U+FDD0"},
      {head + block("demo_a", "\xf0\x9f\xbf\xbf %S"), "demo_a: de text: invalid UTF-8 (non-character U+1FFFF"},
      {head + "key demo_a\nen Open %S\nde Öffne %S\nfr Ouvrir %S\npt Abrir %S\n",
       "demo.catalogue:8: demo_a: missing the 'es' text"},
      {head + "key demo_a\nen Open %S\nde Öffne %S\nes Abrir %S\nfr Ouvrir %S\n",
       "demo.catalogue:5: demo_a: missing the 'pt' text"},
      {head + block("demo_a", "Öffne %S", "Ouvrir %D"),
       "demo.catalogue:9: demo_a: fr placeholders {%D} differ from en {%S}"},
      {head + block("demo_a", "Öffne %1$S"), "demo_a: de placeholders {%1$S} differ from en {%S}"},
      {head + block("demo_a", "Öffne %Q"), "demo.catalogue:7: demo_a: de text: bad placeholder '%Q'"},
      {head + block("demo_a", "100% %S"), "demo_a: de text: bad placeholder '% '"},
      {head + block("other_a", "Öffne %S"), "demo.catalogue:5: other_a: key is outside the module's prefix"},
      {head + block("demo_b", "Öffne %S") + block("demo_a", "Öffne %S"),
       "demo.catalogue:11: demo_a: keys out of ascending byte order (comes after demo_b)"},
      {head + block("demo_a", "Öffne %S") + block("demo_a", "Öffne %S"),
       "demo.catalogue:11: demo_a: duplicate key"},
      {good, "demo_a: key is also in module extra (", "module extra\nprefix demo_\n" + block("demo_a", "x %S")},
  };

  char tmpl[] = "/tmp/catgenXXXXXX";
  std::string dir = mkdtemp(tmpl);
  for (const Case& c : cases) {
    std::ofstream(dir + "/demo.catalogue", std::ios::binary) << c.data;
    std::string cmd;
    if (c.second.empty()) {
      cmd = TL_CATALOGUE_GEN " generate " + dir + "/demo.catalogue " + dir + "/out.cpp " + dir +
            "/demo/LocStrings.h";
    } else {
      std::ofstream(dir + "/extra.catalogue", std::ios::binary) << c.second;
      cmd = TL_CATALOGUE_GEN " check " + dir + "/out.cpp " + dir + "/extra.catalogue " + dir +
            "/demo.catalogue";
    }
    int status = -1;
    std::string out = tltest::runCommand(cmd + " 2>&1", &status);
    struct stat st;
    bool generated = stat((dir + "/out.cpp").c_str(), &st) == 0;
    unlink((dir + "/out.cpp").c_str());
    if (!*c.message) {
      EXPECT_EQ(0, status) << out;
      EXPECT_TRUE(generated);
      continue;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.message << "\n" << out;
    EXPECT_NE(std::string::npos, out.find(c.message)) << out;
    EXPECT_FALSE(generated) << c.message;
  }
  tltest::commandOutput("rm -rf " + dir);
}
