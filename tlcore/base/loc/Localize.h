// The translation store: texts by locale and key, the lookups that turn a
// key into words, the placeholder formatter and the plural lookup.
//
// Every shown text is a key (`plat_bad_argument`) that a lookup resolves
// through the calling thread's translation map: a flattened view of the
// locale table for one fallback list, so one search finds the text of the
// first locale that has the key. The map fills itself: a key's first lookup
// walks the list and the map keeps the answer until it is rebuilt. A key
// that no locale has comes back as it is, and the miss is logged.
//
// Ownership and threads: loc::Localize is a process-wide singleton. Built-in
// texts (catalogues) are static literals registered before main, without a
// lock; a language's texts are checked the first time that language is
// needed, and each text enters the table when its key is first looked up
// in that language (all at once for getTexts and addString), under the
// mutex. Everything else, lookups included, runs under one recursive
// translation mutex, so any thread may look texts up.
// A returned text stays valid until string files are loaded again for its
// locale (after the strings directories change) or the process ends.
#pragma once

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/String.h"

#include "loc/Catalogue.h"
#include "loc/Locale.h"
#include "rdr/Forward.h"

namespace plat {
class DString;
}

namespace loc {

using plat::String;

// A string that is either a borrowed static literal or an owned copy.
class LocStr {
public:
  LocStr() = default;
  LocStr(const char* s, bool copy) : s_(copy ? plat::strDup(s) : s), owned_(copy) {}
  LocStr(LocStr&& other) noexcept : s_(other.s_), owned_(other.owned_) { other.s_ = nullptr; }
  LocStr& operator=(LocStr&& other) noexcept;
  LocStr(const LocStr&) = delete;
  LocStr& operator=(const LocStr&) = delete;
  ~LocStr() { reset(); }

  void reset();
  // Takes an array-new buffer.
  void adopt(char* buf);
  const char* get() const { return s_; }
  bool owned() const { return owned_; }

private:
  const char* s_ = nullptr;
  bool owned_ = false;
};

struct LocStrLess {
  using is_transparent = void;
  bool operator()(const LocStr& a, const LocStr& b) const;
  bool operator()(const char* a, const LocStr& b) const;
  bool operator()(const LocStr& a, const char* b) const;
};

struct CStrLess {
  bool operator()(const char* a, const char* b) const;
};

// One text of one locale.
struct Translation {
  static constexpr uint32_t kUnused = 0;
  static constexpr uint32_t TR_RAW = 1; // handed out as a format string
  static constexpr uint32_t kFormatted = 2; // handed out as a finished text

  LocStr text;
  uint32_t state = kUnused;
};

using KeyTable = std::map<LocStr, Translation, LocStrLess>;
using LocaleTable = std::map<LocStr, KeyTable, LocStrLess>;

// The locale table flattened for one fallback list, filled on lookups. The
// process map lives in the singleton; a thread map belongs to a
// LocaleSetter and is current on its thread while it lives. Guarded by the
// translation mutex.
class TransMap {
public:
  // A thread map (it becomes the calling thread's current map).
  TransMap();
  ~TransMap();
  TransMap(const TransMap&) = delete;
  TransMap& operator=(const TransMap&) = delete;

  // The record of a key looked up since the map was last built, or null.
  Translation* find(const char* key) const;
  const std::vector<String>& getLocales() const { return locales_; }

private:
  friend class Localize;
  struct ProcessTag {};
  explicit TransMap(ProcessTag);

  TransMap* previous_ = nullptr;
  bool isThreadMap_ = false;
  bool built_ = false;
  unsigned generation_ = 0; // of the locale table when built
  std::map<const char*, Translation*, CStrLess> keys_;
  std::vector<String> locales_;
};

class Localize : public plat::ParameterChangedCallback {
public:
  static Localize* instance();

  // --- Start-up
  // Follows the `Locale` parameter, replaces the strings directories and
  // runs the locale update.
  void init(const std::vector<String>& dirs);
  // Replaces the strings directories, forgets which locales were loaded
  // and runs the locale update.
  void setStringsDirs(const std::vector<String>& dirs);

  // --- Registration
  // A built-in text; the three strings must live as long as the process.
  // The first registration of a key wins. Invalid UTF-8 is fatal. Static
  // initialisation only (no lock).
  void addString(const char* locale, const char* key, const char* text);
  // A catalogue's texts (see registerCatalogue). Static initialisation only.
  void addCatalogue(const Catalogue& c);
  // Adds or replaces one text with copies (string files).
  void setString(const char* locale, const char* key, const char* text);

  // --- The locale list
  // The preferred locales joined with ':'.
  String getLocales();
  std::vector<String> getLocaleList();

  // A copy of one locale's key-to-text table (tests and diagnostics).
  std::map<std::string, std::string> getTexts(const char* locale);

  // --- String files
  // The built-in resource "strings.<locale>.po"; true when it exists and
  // was read without an exception.
  bool loadBuiltInStrings(const char* locale);
  // "<dir>/strings.<locale>.po"; true when it existed and was read.
  bool loadStringsFile(const char* dir, const char* locale);
  // Reads one file's entries; name is used in messages. A line error is
  // logged and drops its entry only.
  void parseStrings(rdr::InStream& in, const char* name, const char* locale);

  void parameterChanged(plat::ConfigParameter* param, int priority) override;

  // Internal to the loc folder.
  Translation* lookup(const char* key);
  const char* handOut(Translation* tr, const char* key, bool raw);
  const char* pluralLookup(const char* key, unsigned n);
  void updateMap(TransMap* map, const std::vector<String>& localeList);
  // Runs the locale update (the list from `Locale` or the environment).
  void updateLocale();

  Localize(const Localize&) = delete;
  Localize& operator=(const Localize&) = delete;

private:
  Localize();
  ~Localize() override;

  // Reads every place of one locale's string files, in order.
  void loadLocale(const char* locale);
  // The first use of a catalogue language: its texts are checked, and from
  // then on each text enters the table when its key is first looked up.
  void enter(const char* locale);
  // Brings every catalogue text of locale into the table (entering it).
  void materialise(const char* locale);
  // Fatal unless every text of language (a Catalogue index) is UTF-8.
  void checkTexts(const Catalogue& c, int language);
  // The table's record of key for locale, made from the catalogues when an
  // entered language has the key but the table has no record yet; null when
  // the locale has none.
  KeyTable::value_type* record(const char* locale, const char* key);
  // Whether the table has locale, counting an entered catalogue language.
  bool hasLocale(const char* locale);
  void insertText(const char* locale, const char* key, const char* text);

  LocaleTable table_;
  std::vector<String> locales_;
  std::vector<String> dirs_;
  plat::StringSet loaded_;
  TransMap processMap_;
  String lastLogged_;
  bool registered_ = false;
  // Counts records added to the table, so maps know when to rebuild.
  unsigned generation_ = 0;

  // Which catalogue languages are in use, and which have all their texts
  // in the table.
  bool entered_[Catalogue::kLanguages] = {};
  bool materialised_[Catalogue::kLanguages] = {};

  // insertText's cache: consecutive keys of one locale insert in order.
  const char* cacheLocale_ = nullptr;
  KeyTable* cacheTable_ = nullptr;
  KeyTable::iterator cacheHint_;
};

// --- Lookups -----------------------------------------------------------------

// The text of key in the calling thread's languages. raw: the text is a
// format string for loc::format; else a finished text ("%%" shown as "%").
// A key is used either always raw or always formatted (mixing is fatal). A
// missing key is logged with file:line (file may be null) and returned.
const char* translate(const char* key, const char* file, int line, bool raw);
// The same, but a missing key gives null and logs nothing.
const char* tryTranslate(const char* key, bool raw);

#define LOC_TR(key) ::loc::translate((key), __FILE__, __LINE__, false)
#define LOC_TR_RAW(key) ::loc::translate((key), __FILE__, __LINE__, true)

// --- Formatting ----------------------------------------------------------------

// One argument of a format; a list is linked through next (usually on the
// caller's stack).
struct Arg {
  static constexpr uint32_t kSigned = 0, kUnsigned = 1, kString = 2;

  Arg(int v, const Arg* n = nullptr) : kind(kSigned), i(v), next(n) {}
  Arg(unsigned v, const Arg* n = nullptr) : kind(kUnsigned), u(v), next(n) {}
  Arg(const char* v, const Arg* n = nullptr) : kind(kString), s(v), next(n) {}
  Arg(const String& v, const Arg* n = nullptr) : kind(kString), s(v.str()), next(n) {}

  uint32_t kind;
  int32_t i = 0;
  uint32_t u = 0;
  const char* s = nullptr;
  const Arg* next = nullptr;
};

// Fills the placeholders of fmt (a text fetched raw) from args (may be
// null) into out, replacing its content. Placeholders: '%', then in any
// order an optional position "N$", sign flag '+' and precision ".N", then
// 'S', 'D' or 'X'; "%%" is one '%'. A placeholder that does not fit its
// argument is written as "%%" followed by its own text, and the call logs
// "Bad loc string for args - <fmt>" once.
String& format(String& out, const char* fmt, const Arg* args);

// format with the arguments given inline: formatArgs(out, fmt, "x", 5).
template <typename... A> String& formatArgs(String& out, const char* fmt, const A&... args)
{
  if constexpr (sizeof...(A) == 0) {
    return format(out, fmt, nullptr);
  } else {
    Arg list[] = {Arg(args)...};
    for (size_t i = 0; i + 1 < sizeof...(A); i++)
      list[i].next = &list[i + 1];
    return format(out, fmt, list);
  }
}
template <typename... A> String formatArgs(const char* fmt, const A&... args)
{
  String out;
  formatArgs(out, fmt, args...);
  return out;
}

// --- Plurals -------------------------------------------------------------------

// The format string of "<key>_sing" or "<key>_many" for count n in the
// first locale of the calling thread's list that has it; key when none has.
const char* translatePlural(const char* key, unsigned n, const char* file, int line);
#define LOC_TR_PLURAL(key, n) ::loc::translatePlural((key), (n), __FILE__, __LINE__)

// "sing" or "many": the plural form of count n in the locale's language.
const char* pluralSuffix(const char* locale, unsigned n);

// --- String files ----------------------------------------------------------------

// Appends the decoded string of one ".po" line to out; throws
// plat::Exception with the reason.
void parsePoString(const char* line, plat::DString& out);

} // namespace loc
