#include "loc/Locale.h"

#include <ctype.h>
#include <langinfo.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "loc/LocPrivate.h"
#include "loc/Localize.h"
#include "plat/ConfigParameter.h"
#include "plat/DString.h"
#include "plat/Exception.h"

namespace loc {

using plat::String;

namespace {

struct CountryRow {
  const char* language;
  const char* country;
};

// Sorted by language for bisection.
const CountryRow kDefaultCountries[] = {
    {"af", "ZA"}, {"be", "BY"}, {"bg", "BG"}, {"ca", "ES"}, {"cs", "CZ"}, {"da", "DK"},
    {"de", "DE"}, {"dz", "BT"}, {"el", "GR"}, {"en", "US"}, {"es", "ES"}, {"et", "EE"},
    {"fa", "IR"}, {"fi", "FI"}, {"fo", "FO"}, {"fr", "FR"}, {"ga", "IE"}, {"gu", "IN"},
    {"he", "IL"}, {"hi", "IN"}, {"hr", "HR"}, {"hu", "HU"}, {"hy", "AM"}, {"is", "IS"},
    {"it", "IT"}, {"iu", "CA"}, {"ja", "JP"}, {"ka", "GE"}, {"ko", "KR"}, {"lt", "LT"},
    {"lv", "LV"}, {"mk", "MK"}, {"mr", "IN"}, {"mt", "MT"}, {"nb", "NO"}, {"ne", "NP"},
    {"nl", "NL"}, {"nn", "NO"}, {"pl", "PL"}, {"pt", "BR"}, {"ro", "RO"}, {"ru", "RU"},
    {"sk", "SK"}, {"sl", "SI"}, {"sr", "RS"}, {"sv", "SE"}, {"th", "TH"}, {"to", "TO"},
    {"tr", "TR"}, {"uk", "UA"}, {"ur", "PK"}, {"uz", "UZ"}, {"vi", "VN"}, {"zh", "CN"},
};

struct Codeset {
  const char* name;
  int kind;
};
const Codeset kUtf8Variants[] = {
    {"UTF-8", kCharsetUtf8}, {"utf-8", kCharsetUtf8}, {"UTF8", kCharsetUtf8}, {"utf8", kCharsetUtf8}};
const Codeset kSingleByteVariants[] = {
    {"ISO-8859-1", kCharsetLatin1}, {"ISO8859-1", kCharsetLatin1}, {"iso88591", kCharsetLatin1},
    {"ISO-8859-15", kCharsetLatin1}, {"ISO8859-15", kCharsetLatin1}, {"US-ASCII", kCharsetAscii}};

// The parts of a locale name.
struct LocaleParts {
  std::string language, country, codeset, modifier;
  bool hasCountry = false;

  explicit LocaleParts(const char* name)
  {
    size_t n = strcspn(name, "_-.@");
    language.assign(name, n);
    const char* p = name + n;
    if (*p == '_' || *p == '-') {
      p++;
      n = strcspn(p, ".@");
      country.assign(p, n);
      hasCountry = n != 0;
      p += n;
    }
    if (*p == '.') {
      p++;
      n = strcspn(p, "@");
      codeset.assign(p, n);
      p += n;
    }
    if (*p == '@')
      modifier.assign(p + 1);
  }
};

// Appends to a list only what it does not hold yet, in logarithmic time per
// entry, so that long lists stay cheap.
class UniqueAppender {
public:
  explicit UniqueAppender(std::vector<String>& list) : list_(list)
  {
    for (const String& e : list)
      seen_.insert(e.str());
  }
  void add(const char* s)
  {
    if (seen_.insert(s).second)
      list_.emplace_back(s);
  }

private:
  std::vector<String>& list_;
  std::set<std::string> seen_;
};

// The libc locale of the `Locale` entries or the environment. The
// environment's is made when first asked for (fromEnvironment set): only a
// thread locale needs it, and the support test loads a libc locale.
struct ProcessRecord {
  LocaleRecord record;
  bool fromEnvironment = false;
};
ProcessRecord& processRecord()
{
  static ProcessRecord* record = new ProcessRecord;
  return *record;
}
plat::Mutex& processRecordMutex()
{
  static plat::Mutex* mutex = new plat::Mutex;
  return *mutex;
}

// A requested name's answer, failures included: each costs up to eleven
// libc probes.
struct SupportAnswer {
  bool supported;
  LocaleRecord record;
};
std::map<std::string, SupportAnswer>& supportCache()
{
  static auto* cache = new std::map<std::string, SupportAnswer>;
  return *cache;
}
plat::Mutex& supportCacheMutex()
{
  static plat::Mutex* mutex = new plat::Mutex;
  return *mutex;
}

thread_local LocaleSetter* tlsSetter = nullptr;

// One libc locale object per name for the whole process, never freed: a
// read-only locale_t may be current on several threads at once.
locale_t sharedLocale(const char* name)
{
  static plat::Mutex* mutex = new plat::Mutex;
  static auto* objects = new std::map<std::string, locale_t>;
  plat::MutexLock lock(*mutex);
  auto it = objects->find(name);
  if (it == objects->end())
    it = objects->emplace(name, newlocale(LC_ALL_MASK, name, (locale_t)0)).first;
  return it->second;
}

// Whether libc has the categories of mask for name. A locale object of its
// own leaves every thread's locale alone.
bool libcAccepts(int mask, const char* name)
{
  locale_t l = newlocale(mask, name, (locale_t)0);
  if (!l)
    return false;
  freelocale(l);
  return true;
}

int charsetKind(const char* charset)
{
  std::string cs;
  for (const char* p = charset; *p; p++)
    if (*p != '-' && *p != '_')
      cs.push_back((char)tolower((unsigned char)*p));
  if (cs == "utf8")
    return kCharsetUtf8;
  if (cs.compare(0, 8, "iso88591") == 0)
    return kCharsetLatin1;
  if (cs.find("ascii") != std::string::npos || cs == "isoir6" || cs == "646" ||
      cs.compare(0, 6, "iso646") == 0 || cs.compare(0, 8, "ansix3.4") == 0)
    return kCharsetAscii;
  return kCharsetOther;
}

bool tryVariants(const Codeset* variants, size_t count, const std::string& base,
                 const std::string& modifier, LocaleRecord& record)
{
  for (size_t i = 0; i < count; i++) {
    std::string candidate = base + "." + variants[i].name;
    if (!modifier.empty())
      candidate += "@" + modifier;
    if (libcAccepts(LC_MESSAGES_MASK, candidate.c_str())) {
      record.name = String(candidate.c_str());
      record.kind = variants[i].kind;
      return true;
    }
  }
  return false;
}

} // namespace

plat::StringParameter localeParam("Locale", plat::LocKey{"loc_param_locale"}, "");

// --- Locale lists ----------------------------------------------------------------

const char* defaultCountry(const char* language)
{
  if (!language)
    return nullptr;
  size_t lo = 0, hi = sizeof(kDefaultCountries) / sizeof(kDefaultCountries[0]);
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int c = strcmp(language, kDefaultCountries[mid].language);
    if (c == 0)
      return kDefaultCountries[mid].country;
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return nullptr;
}

String normaliseLocale(const char* language, const char* country, const char* defaultLanguage,
                       const char* defaultCountryName)
{
  if (!language || !*language)
    return String();
  if (!country || !*country) {
    if (defaultCountryName && *defaultCountryName && defaultLanguage &&
        strcmp(language, defaultLanguage) == 0)
      country = defaultCountryName;
    else
      country = defaultCountry(language);
  }
  if (!country || !*country)
    return String(language);
  return plat::format("%s_%s", language, country);
}

void parseLocaleList(const char* list, std::vector<String>& out, const char* defaultLanguage,
                     const char* defaultCountryName)
{
  if (!list)
    return;
  UniqueAppender unique(out);
  std::string copy(list);
  size_t start = 0;
  while (start <= copy.size()) {
    size_t end = copy.find(':', start);
    if (end == std::string::npos)
      end = copy.size();
    std::string entry = copy.substr(start, end - start);
    start = end + 1;
    if (entry.empty())
      continue;
    LocaleParts parts(entry.c_str());
    String name = normaliseLocale(parts.language.c_str(), parts.country.c_str(),
                                  defaultLanguage, defaultCountryName);
    if (!name.isNull())
      unique.add(name.str());
  }
}

void getLocaleFallbacks(const std::vector<String>& locales, std::vector<String>& out)
{
  UniqueAppender unique(out);
  for (const String& l : locales) {
    unique.add(l.str());
    LocaleParts parts(l.str());
    if (parts.hasCountry)
      unique.add(parts.language.c_str());
  }
  unique.add("en_US");
  unique.add("en");
}

void sanitiseLocaleList(String& out, const char* list, int maxCount, bool dropCodeset)
{
  plat::DString result;
  int count = 0;
  auto isAlpha = [](const std::string& s) {
    if (s.empty() || s.size() > 16)
      return false;
    for (char c : s)
      if (!isalpha((unsigned char)c))
        return false;
    return true;
  };
  std::string all(list ? list : "");
  size_t start = 0;
  while (start <= all.size() && count < maxCount) {
    size_t end = all.find(':', start);
    if (end == std::string::npos)
      end = all.size();
    std::string text = all.substr(start, end - start);
    LocaleParts parts(text.c_str());
    start = end + 1;
    if (!isAlpha(parts.language))
      continue;
    std::string entry = parts.language;
    if (isAlpha(parts.country))
      entry += "_" + parts.country;
    // A codeset counts only right after the language ("de.UTF-8").
    bool goodCodeset = text[parts.language.size()] == '.' && !parts.codeset.empty() &&
                       parts.codeset.size() <= 16;
    for (char c : parts.codeset)
      if (!isalnum((unsigned char)c) && c != '-' && c != '_')
        goodCodeset = false;
    if (goodCodeset && !dropCodeset)
      entry += "." + parts.codeset;
    if (count++)
      result.append(":");
    result.append(entry.c_str());
  }
  out = result.takeString();
}

// --- libc support ----------------------------------------------------------------

bool checkLocaleSupported(const char* name, LocaleRecord& record)
{
  // "" would make libc pick the environment's locale.
  if (!name || !*name)
    return false;
  {
    plat::MutexLock lock(supportCacheMutex());
    auto it = supportCache().find(name);
    if (it != supportCache().end()) {
      if (it->second.supported)
        record = it->second.record;
      return it->second.supported;
    }
  }

  int kind = kCharsetOther;
  std::string base, modifier;
  locale_t l = newlocale(LC_CTYPE_MASK, name, (locale_t)0);
  if (l) {
    // The name libc reports ("POSIX" is "C"), split into its parts.
    const char* reported = nl_langinfo_l(_NL_LOCALE_NAME(LC_CTYPE), l);
    if (!reported || !*reported)
      reported = name;
    LocaleParts parts(reported);
    base.assign(reported, strcspn(reported, ".@"));
    modifier = parts.modifier;
    const char* charset = nl_langinfo_l(CODESET, l);
    kind = charsetKind(charset && *charset ? charset : parts.codeset.c_str());
    freelocale(l);
  } else {
    // Refused: split once, everything after the first '.' or '@' being
    // the modifier.
    size_t n = strcspn(name, ".@");
    base.assign(name, n);
    if (name[n])
      modifier.assign(name + n + 1);
  }

  LocaleRecord found;
  bool ok = false;
  if (kind == kCharsetUtf8) {
    found.name = String(name);
    found.kind = kind;
    ok = true;
  } else if (tryVariants(kUtf8Variants, sizeof(kUtf8Variants) / sizeof(kUtf8Variants[0]), base,
                         modifier, found)) {
    ok = true;
  } else if (kind == kCharsetLatin1 || kind == kCharsetAscii) {
    found.name = String(name);
    found.kind = kind;
    ok = true;
  } else {
    ok = tryVariants(kSingleByteVariants,
                     sizeof(kSingleByteVariants) / sizeof(kSingleByteVariants[0]), base, modifier,
                     found);
  }
  plat::MutexLock lock(supportCacheMutex());
  supportCache()[name] = SupportAnswer{ok, found};
  if (ok)
    record = found;
  return ok;
}

LocaleRecord getProcessLocaleRecord()
{
  plat::MutexLock lock(processRecordMutex());
  ProcessRecord& process = processRecord();
  if (process.fromEnvironment) {
    // Each answer stands for the process, so this is the record an eager
    // update would have made.
    const char* env = getEnvironmentLocale();
    LocaleRecord record;
    if (!*env || !checkLocaleSupported(env, record))
      checkLocaleSupported("C", record);
    process.record = record;
    process.fromEnvironment = false;
  }
  return process.record;
}

void setProcessLocaleRecord(const LocaleRecord& record)
{
  plat::MutexLock lock(processRecordMutex());
  processRecord().record = record;
  processRecord().fromEnvironment = false;
}

const char* getEnvironmentLocale()
{
  static std::string* envLocale;
  static std::once_flag once;
  std::call_once(once, [] {
    // A locale object built from the environment shows libc's choice
    // without switching the process's locale under other threads.
    envLocale = new std::string;
    locale_t l = newlocale(LC_MESSAGES_MASK, "", (locale_t)0);
    if (l) {
      const char* name = nl_langinfo_l(_NL_LOCALE_NAME(LC_MESSAGES), l);
      if (name)
        envLocale->assign(name);
      freelocale(l);
    }
  });
  return envLocale->c_str();
}

void buildLocaleList(std::vector<String>& list)
{
  list.clear();
  const char* value = localeParam.getValue();
  bool fromParam = *value != 0;
  if (fromParam) {
    parseLocaleList(value, list, nullptr, nullptr);
  } else {
    const char* env = getEnvironmentLocale();
    {
      plat::MutexLock lock(processRecordMutex());
      processRecord().fromEnvironment = true;
    }

    LocaleParts parts(env);
    // Only "C" itself names no language; "C.UTF-8" gives "C".
    bool isC = !*env || strcmp(env, "C") == 0;
    if (!isC) {
      const char* language = getenv("LANGUAGE");
      if (language && *language)
        parseLocaleList(language, list, parts.language.c_str(), parts.country.c_str());
      if (list.empty()) {
        std::string bare(env, strcspn(env, ".@"));
        for (char& c : bare)
          if (c == '-')
            c = '_';
        list.emplace_back(bare.c_str());
      }
    }
  }
  UniqueAppender(list).add("en_US");

  if (fromParam) {
    LocaleRecord record;
    bool found = false;
    for (const String& l : list) {
      if (checkLocaleSupported(l.str(), record)) {
        found = true;
        break;
      }
      logSrc.status("No OS support for locale \"%s\"", l.str());
    }
    if (!found)
      checkLocaleSupported("C", record);
    setProcessLocaleRecord(record);
  }
}

// --- Scoped thread locale ----------------------------------------------------------

LocaleSetter::LocaleSetter(const char* locales) : previous_(tlsSetter)
{
  tlsSetter = this;
  if (locales && *locales) {
    locales_ = String(locales);
    logSrc.debug("setting locale %s", locales);
    std::vector<String> list;
    parseLocaleList(locales, list, nullptr, nullptr);
    bool found = false;
    for (const String& l : list) {
      if (checkLocaleSupported(l.str(), record_)) {
        found = true;
        break;
      }
      logSrc.status("No OS support for locale \"%s\"", l.str());
    }
    if (!found)
      checkLocaleSupported("C", record_);
    map_ = new TransMap();
    Localize::instance()->updateMap(map_, list);
  } else {
    record_ = previous_ ? previous_->record_ : getProcessLocaleRecord();
  }
  newLocale_ = sharedLocale(record_.name.str());
  if (newLocale_)
    oldLocale_ = uselocale(newLocale_);
}

LocaleSetter::~LocaleSetter()
{
  PLAT_ASSERT_TEXT(tlsSetter == this, "thrInst == this");
  tlsSetter = previous_;
  if (!locales_.isNull())
    logSrc.debug("restoring locale");
  if (newLocale_)
    uselocale(oldLocale_);
  delete map_;
}

String getLocales()
{
  for (const LocaleSetter* s = tlsSetter; s; s = s->getPrevious())
    if (s->getLocales())
      return String(s->getLocales());
  return Localize::instance()->getLocales();
}

LocaleRecord currentLocaleRecord()
{
  return tlsSetter ? tlsSetter->getRecord() : LocaleRecord();
}

void wordWrap(String& text, int width, int indent)
{
  LocaleSetter setter(nullptr);
  plat::wordWrap(text, width, indent);
}

} // namespace loc
