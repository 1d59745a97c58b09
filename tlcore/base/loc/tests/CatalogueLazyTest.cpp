// A catalogue's texts of a language enter the store on that language's
// first use; each row runs its steps in a fresh process.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "loc/Catalogue.h"
#include "loc/Localize.h"

namespace {

using Texts = const char* const[];
Texts keysA = {"t_lazy_1", "t_lazy_2"}, textsA = {"A1", "A2"};
Texts keysB = {"t_lazy_1", "t_lazy_3"}, textsB = {"B1", "B3"};
Texts keysBad = {"t_lazy_bad"}, good = {"ok"}, bad = {"\xff"};
Texts keysN = {"t_lazy_n_many", "t_lazy_n_sing"}, textsN = {"many", "one"};
// Languages in Catalogue::kLanguageCodes order: de, es, fr, en, pt.
const loc::Catalogue catA = {"a", "t", 2, keysA, {textsA, textsA, textsA, textsA, textsA}, false};
const loc::Catalogue catB = {"b", "t", 2, keysB, {textsB, textsB, textsB, textsB, textsB}, false};
const loc::Catalogue badPt = {"x", "t", 1, keysBad, {good, good, good, good, bad}, false};
const loc::Catalogue badEs = {"y", "t", 1, keysBad, {good, bad, good, good, good}, false};
const loc::Catalogue catN = {"n", "t", 2, keysN, {textsN, textsN, textsN, textsN, textsN}, false};
const char kNames[] = "ABXYN";
const loc::Catalogue* const kCatalogues[] = {&catA, &catB, &badPt, &badEs, &catN};

std::string lookUp()
{
  loc::LocaleSetter setter("pt");
  std::string out;
  for (const char* key : {"t_lazy_1", "t_lazy_2", "t_lazy_3", "t_lazy_bad"}) {
    const char* text = loc::tryTranslate(key, false);
    out.append(out.empty() ? "" : " ").append(text ? text : "-");
  }
  return out;
}

// A, B, X (bad "pt"), Y (bad "es"), N (plurals): registered; f: a string
// file text; d: an addString; '.': first use of "pt"; T: first use on four
// threads; l: the lookups (their texts enter the table); g: the table's
// texts of "pt"; P: plural lookups.
void run(const char* steps, const char* expected)
{
  std::string got;
  for (const char* s = steps; *s; s++) {
    if (const char* p = strchr(kNames, *s))
      loc::registerCatalogue(*kCatalogues[p - kNames]);
    if (*s == 'f')
      loc::Localize::instance()->setString("pt", "t_lazy_1", "file");
    if (*s == 'd')
      loc::Localize::instance()->addString("pt", "t_lazy_1", "direct");
    if (*s == '.')
      loc::LocaleSetter("pt");
    if (*s == 'l')
      lookUp();
    if (*s == 'g')
      for (const auto& kv : loc::Localize::instance()->getTexts("pt"))
        got += kv.first.compare(0, 7, "t_lazy_") == 0 ? kv.second + "," : "";
    if (*s == 'P') {
      loc::LocaleSetter setter("pt");
      got += std::string(loc::translatePlural("t_lazy_n", 1, nullptr, 0)) + "," +
             loc::translatePlural("t_lazy_n", 2, nullptr, 0) + " ";
    }
    if (*s == 'T') {
      std::string outs[4];
      std::vector<std::thread> threads;
      for (std::string& out : outs)
        threads.emplace_back([&out] { out = lookUp(); });
      for (std::thread& t : threads)
        t.join();
      for (const std::string& out : outs)
        got += out == outs[0] ? "" : "threads differ: ";
    }
  }
  got += lookUp();
  fprintf(stderr, "%s: %s", steps, got.c_str());
  _exit(got == expected ? 0 : 1);
}

} // namespace

TEST(CatalogueLazyTest, FirstUseKeepsRegistrationRules)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    const char* steps;
    const char* expected;
  } rows[] = {
      {"AB.", "A1 A2 B3 -"},   {"BA.", "B1 A2 B3 -"},   {"A.B", "A1 A2 B3 -"},
      {".A", "A1 A2 - -"},     {"Af.", "file A2 - -"},  {"A.f", "file A2 - -"},
      {"Ad.", "A1 A2 - -"},    {"dA.", "direct A2 - -"}, {"ABT", "A1 A2 B3 -"},
      {"AY.", "A1 A2 - ok"},   {"A.lB", "A1 A2 B3 -"},  {"A.lf", "file A2 - -"},
      {"A.lg", "A1,A2,A1 A2 - -"}, {"Af.lg", "file,A2,file A2 - -"}, {"N.P", "one,many - - - -"},
  };
  for (const auto& row : rows)
    EXPECT_EXIT(run(row.steps, row.expected), ::testing::ExitedWithCode(0), "") << row.steps;
  EXPECT_DEATH(run("AX.", ""), "Bad UTF-8 in t_lazy_bad");
}
