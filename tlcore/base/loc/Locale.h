// Locale names and lists, the libc locale support test, and the scoped
// per-thread locale.
//
// A locale name is language, then optionally '_' or '-' and a country, '.'
// and a codeset, '@' and a modifier. Lists are ':'-separated; parsing drops
// codeset and modifier and writes '-' as '_'. The support test asks libc
// (newlocale, nl_langinfo_l) without touching the process's own locale, so
// it is safe while other threads run. Each name's answer, a failure too, is
// kept for the life of the process.
//
// loc::LocaleSetter gives the calling thread its own libc locale (uselocale)
// and, when given a list, its own translation map, for one scope. Setters
// nest strictly and are destroyed on the thread that made them.
#pragma once

#include <locale.h>

#include <vector>

#include "plat/String.h"

namespace loc {

class TransMap;

// What libc makes of a locale's character set.
enum CharsetKind { kCharsetOther = 0, kCharsetUtf8 = 1, kCharsetLatin1 = 2, kCharsetAscii = 3 };

struct LocaleRecord {
  plat::String name{"C"}; // the libc locale name
  int kind = kCharsetOther;
};

// --- Locale lists --------------------------------------------------------------

// Each locale, then its bare language when it has a country; then "en_US"
// and "en"; duplicates skipped. "pt_BR" gives pt_BR, pt, en_US, en.
void getLocaleFallbacks(const std::vector<plat::String>& locales, std::vector<plat::String>& out);
// Splits at ':', skips empty entries, normalises each and adds new ones.
void parseLocaleList(const char* list, std::vector<plat::String>& out, const char* defaultLanguage,
                     const char* defaultCountry);
// language_country, the country completed from the defaults or the table
// of default countries; null for an empty language.
plat::String normaliseLocale(const char* language, const char* country,
                             const char* defaultLanguage, const char* defaultCountry);
// The usual country of a language, or null.
const char* defaultCountry(const char* language);
// At most maxCount well-formed entries of list, ':'-joined, into out.
void sanitiseLocaleList(plat::String& out, const char* list, int maxCount, bool dropCodeset);

// --- libc support ------------------------------------------------------------------

// Fills record with a libc locale usable for name (possibly another codeset
// variant); false, record untouched, when libc has none. The first answer
// for a name stands for the life of the process.
bool checkLocaleSupported(const char* name, LocaleRecord& record);
// The process's libc locale record (made by each locale update; one taken
// from the environment is made when first asked for).
LocaleRecord getProcessLocaleRecord();
void setProcessLocaleRecord(const LocaleRecord& record);
// The locale libc selects for messages from the environment, as it was at
// the first call; empty when libc has none. Computed once per process.
const char* getEnvironmentLocale();

// --- Scoped thread locale ----------------------------------------------------------

class LocaleSetter {
public:
  // With a list (':'-separated): the first supported entry's libc locale
  // and a translation map for the list. Without (null or ""): the libc
  // locale of the enclosing setter, else the process's.
  explicit LocaleSetter(const char* locales);
  // On the constructing thread, innermost first; else fatal.
  ~LocaleSetter();
  LocaleSetter(const LocaleSetter&) = delete;
  LocaleSetter& operator=(const LocaleSetter&) = delete;

  const LocaleRecord& getRecord() const { return record_; }
  // The list as given, or null.
  const char* getLocales() const { return locales_.get(); }
  // The enclosing setter of this thread, or null.
  const LocaleSetter* getPrevious() const { return previous_; }

private:
  LocaleRecord record_;
  plat::String locales_;
  LocaleSetter* previous_;
  TransMap* map_ = nullptr;
  locale_t oldLocale_ = nullptr;
  locale_t newLocale_ = nullptr;
};

// The list of the calling thread's innermost setter that was given one, else
// the process's list (Localize::getLocales).
plat::String getLocales();
// The calling thread's innermost setter's record, else {"C", 0}.
LocaleRecord currentLocaleRecord();

// plat::wordWrap under the calling thread's libc locale (its setter's, else
// the process's).
void wordWrap(plat::String& text, int width, int indent);

} // namespace loc
