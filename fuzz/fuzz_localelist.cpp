// Locale lists on arbitrary text, as LANGUAGE and the `Locale` parameter
// give them. The first byte chooses the defaults, the count limit and
// whether codesets are dropped. Parsed lists hold no empty entry and no
// entry twice, and their fallbacks hold en_US and en; a sanitised list
// has at most the limit of entries and sanitises to itself; the `Locale`
// parameter builds a list.
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "loc/LocPrivate.h"
#include "loc/Locale.h"
#include "plat/Exception.h"

using plat::String;

namespace {

void checkList(const std::vector<String>& list)
{
  std::set<std::string> seen;
  for (const String& s : list) {
    FUZZ_CHECK(!s.isNull() && s.length() > 0);
    FUZZ_CHECK(seen.insert(s.str()).second);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // Each entry may cost libc locale look-ups.
  if (size < 1 || size > 2048)
    return 0;
  fuzzQuietLogs();
  uint8_t flags = data[0];
  std::string text((const char*)data + 1, size - 1);
  text.resize(strlen(text.c_str()));

  static const char* const languages[] = {nullptr, "", "de", "pt"};
  static const char* const countries[] = {nullptr, "", "AT", "BR"};
  std::vector<String> list;
  loc::parseLocaleList(text.c_str(), list, languages[flags & 3], countries[(flags >> 2) & 3]);
  checkList(list);
  std::vector<String> fallbacks;
  loc::getLocaleFallbacks(list, fallbacks);
  checkList(fallbacks);
  bool enUs = false, en = false;
  for (const String& f : fallbacks) {
    enUs |= f == String("en_US");
    en |= f == String("en");
  }
  FUZZ_CHECK(enUs && en);

  int maxCount = 1 + (flags >> 4 & 7);
  bool dropCodeset = flags & 0x80;
  String clean;
  loc::sanitiseLocaleList(clean, text.c_str(), maxCount, dropCodeset);
  std::string c = clean.isNull() ? "" : clean.str();
  if (!c.empty()) {
    int entries = 1;
    for (char ch : c)
      entries += ch == ':';
    FUZZ_CHECK(entries <= maxCount);
  }
  String again;
  loc::sanitiseLocaleList(again, c.c_str(), maxCount, dropCodeset);
  FUZZ_CHECK(std::string(again.isNull() ? "" : again.str()) == c);

  // The parameter's list, looked up in libc entry by entry: kept short.
  if (text.size() <= 256) {
    try {
      loc::localeParam.setParam(text.c_str(), 10);
    } catch (plat::Exception&) {
      // A text the parameter refuses (not UTF-8) never reaches the list.
      return 0;
    }
    std::vector<String> built;
    loc::buildLocaleList(built);
    checkList(built);
    FUZZ_CHECK(!built.empty());
    loc::localeParam.setParam("", 10);
  }
  return 0;
}
