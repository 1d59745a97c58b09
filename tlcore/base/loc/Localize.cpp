#include "loc/Localize.h"

#include <string.h>

#include "loc/Catalogue.h"
#include "loc/LocPrivate.h"
#include "loc/LocStrings.h"
#include "os/AppInfo.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/utf8.h"

namespace loc {

plat::LogSrc logSrc("Localize");

namespace {

// The calling thread's own translation map; null makes the process map
// current.
thread_local TransMap* tlsMap = nullptr;

void reportMissing(const char* kind, const char* key, const char* file, int line)
{
  plat::DString msg;
  msg.appendf("%s for \"%s\"", kind, key);
  if (file)
    msg.appendf(" (%s:%d)", file, line);
  logSrc.error("%s", msg.get());
}

const char* translateDescription(const char* key)
{
  return translate(key, nullptr, 0, false);
}

class ConfigTexts : public plat::ConfigurationTexts {
public:
  const char* translate(const char* key, bool raw) override
  {
    return loc::translate(key, nullptr, 0, raw);
  }
  String formatString(const char* fmt, const char* arg) override
  {
    return formatArgs(fmt, arg);
  }
};

// Lower layers reach the store through the hooks they offer.
struct InstallHooks {
  InstallHooks()
  {
    translationMutex();
    LocStringsInit registerTexts;
    plat::ConfigParameter::setTranslator(translateDescription);
    // Never freed: parameters may be described during exit.
    plat::setConfigurationTexts(new ConfigTexts);
    os::AppInfo::setTranslator(translateDescription);
  }
} installHooks;

} // namespace

plat::Mutex& translationMutex()
{
  static plat::Mutex* mutex = new plat::Mutex;
  return *mutex;
}

// --- LocStr --------------------------------------------------------------------

LocStr& LocStr::operator=(LocStr&& other) noexcept
{
  if (this != &other) {
    reset();
    s_ = other.s_;
    owned_ = other.owned_;
    other.s_ = nullptr;
  }
  return *this;
}

void LocStr::reset()
{
  if (owned_)
    delete[] s_;
  s_ = nullptr;
  owned_ = false;
}

void LocStr::adopt(char* buf)
{
  reset();
  s_ = buf;
  owned_ = true;
}

bool LocStrLess::operator()(const LocStr& a, const LocStr& b) const
{
  return plat::strCmpNull(a.get(), b.get()) < 0;
}
bool LocStrLess::operator()(const char* a, const LocStr& b) const
{
  return plat::strCmpNull(a, b.get()) < 0;
}
bool LocStrLess::operator()(const LocStr& a, const char* b) const
{
  return plat::strCmpNull(a.get(), b) < 0;
}
bool CStrLess::operator()(const char* a, const char* b) const
{
  return plat::strCmpNull(a, b) < 0;
}

// --- TransMap ------------------------------------------------------------------

TransMap::TransMap(ProcessTag) {}

TransMap::TransMap() : previous_(tlsMap), isThreadMap_(true)
{
  tlsMap = this;
}

TransMap::~TransMap()
{
  if (!isThreadMap_)
    return;
  PLAT_ASSERT_TEXT(tlsMap == this, "thrInst == this");
  tlsMap = previous_;
  plat::MutexLock lock(translationMutex());
  keys_.clear();
}

Translation* TransMap::find(const char* key) const
{
  auto it = keys_.find(key);
  return it == keys_.end() ? nullptr : it->second;
}

// --- Localize ------------------------------------------------------------------

Localize::Localize() : processMap_(TransMap::ProcessTag{}) {}

Localize::~Localize() = default;

Localize* Localize::instance()
{
  static Localize inst;
  return &inst;
}

void Localize::init(const std::vector<String>& dirs)
{
  plat::MutexLock lock(translationMutex());
  if (!registered_) {
    registered_ = true;
    localeParam.addCallback(this);
  }
  dirs_ = dirs;
  loaded_.clear();
  updateLocale();
}

void Localize::setStringsDirs(const std::vector<String>& dirs)
{
  plat::MutexLock lock(translationMutex());
  dirs_ = dirs;
  loaded_.clear();
  updateLocale();
}

void Localize::parameterChanged(plat::ConfigParameter*, int)
{
  updateLocale();
}

void Localize::addString(const char* locale, const char* key, const char* text)
{
  // Catalogues registered before this text keep their precedence.
  materialise(locale);
  insertText(locale, key, text);
}

void Localize::addCatalogue(const Catalogue& c)
{
  for (int l = 0; l < Catalogue::kLanguages; l++) {
    if (!entered_[l])
      continue;
    checkTexts(c, l);
    if (materialised_[l])
      for (unsigned i = 0; i < c.size; i++)
        insertText(Catalogue::kLanguageCodes[l], c.keys[i], c.texts[l][i]);
    else if (c.size)
      generation_++;
  }
}

namespace {

int catalogueLanguage(const char* locale)
{
  for (int l = 0; l < Catalogue::kLanguages; l++)
    if (strcmp(locale, Catalogue::kLanguageCodes[l]) == 0)
      return l;
  return -1;
}

// The index of key in c, or -1. A catalogue's keys start with its prefix
// and are in ascending byte order.
int findInCatalogue(const Catalogue& c, const char* key)
{
  if (strncmp(key, c.prefix, strlen(c.prefix)) != 0)
    return -1;
  unsigned lo = 0, hi = c.size;
  while (lo < hi) {
    unsigned mid = (lo + hi) / 2;
    int cmp = strcmp(key, c.keys[mid]);
    if (cmp == 0)
      return (int)mid;
    if (cmp < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return -1;
}

} // namespace

void Localize::checkTexts(const Catalogue& c, int language)
{
  if (c.checked)
    return;
  for (unsigned i = 0; i < c.size; i++)
    PLAT_ASSERT_TEXT_FMT(plat::isValidUtf8(c.texts[language][i]), "isValidUtf8(str)",
                         "Bad UTF-8 in %s", c.keys[i]);
}

void Localize::enter(const char* locale)
{
  int l = catalogueLanguage(locale);
  if (l < 0 || entered_[l])
    return;
  entered_[l] = true;
  bool any = false;
  for (const Catalogue* c : catalogues()) {
    checkTexts(*c, l);
    any = any || c->size;
  }
  // The language's texts are in the table from now on, as far as any map
  // can tell.
  if (any)
    generation_++;
}

void Localize::materialise(const char* locale)
{
  enter(locale);
  int l = catalogueLanguage(locale);
  if (l < 0 || materialised_[l])
    return;
  materialised_[l] = true;
  // Each catalogue's keys are in ascending order, which insertText's hint
  // turns into constant time per text; records made by lookups stay.
  for (const Catalogue* c : catalogues())
    for (unsigned i = 0; i < c->size; i++)
      insertText(Catalogue::kLanguageCodes[l], c->keys[i], c->texts[l][i]);
}

KeyTable::value_type* Localize::record(const char* locale, const char* key)
{
  auto lt = table_.find(locale);
  if (lt != table_.end()) {
    auto it = lt->second.find(key);
    if (it != lt->second.end())
      return &*it;
  }
  int l = catalogueLanguage(locale);
  if (l < 0 || !entered_[l] || materialised_[l])
    return nullptr;
  // Not in the table yet: the first registered catalogue that has the key
  // gives its text, as materialise would have.
  for (const Catalogue* c : catalogues()) {
    int i = findInCatalogue(*c, key);
    if (i < 0)
      continue;
    if (lt == table_.end())
      lt = table_.emplace(LocStr(Catalogue::kLanguageCodes[l], false), KeyTable()).first;
    Translation tr;
    tr.text = LocStr(c->texts[l][i], false);
    return &*lt->second.emplace(LocStr(c->keys[i], false), std::move(tr)).first;
  }
  return nullptr;
}

bool Localize::hasLocale(const char* locale)
{
  if (table_.count(locale))
    return true;
  int l = catalogueLanguage(locale);
  if (l < 0 || !entered_[l])
    return false;
  for (const Catalogue* c : catalogues())
    if (c->size)
      return true;
  return false;
}

void Localize::insertText(const char* locale, const char* key, const char* text)
{
  PLAT_ASSERT_TEXT_FMT(plat::isValidUtf8(text), "isValidUtf8(str)", "Bad UTF-8 in %s", key);
  if (!cacheTable_ || strcmp(cacheLocale_, locale) != 0) {
    auto it = table_.find(locale);
    if (it == table_.end())
      it = table_.emplace(LocStr(locale, false), KeyTable()).first;
    cacheLocale_ = it->first.get();
    cacheTable_ = &it->second;
    cacheHint_ = cacheTable_->end();
  }
  // Catalogues add keys in ascending order, so the position after the last
  // insertion is the right hint and each insertion costs constant time.
  auto it = cacheTable_->emplace_hint(cacheHint_, LocStr(key, false), Translation());
  if (!it->second.text.get()) {
    it->second.text = LocStr(text, false);
    generation_++;
  }
  cacheHint_ = std::next(it);
}

void Localize::setString(const char* locale, const char* key, const char* text)
{
  plat::MutexLock lock(translationMutex());
  auto lt = table_.find(locale);
  if (lt == table_.end())
    lt = table_.emplace(LocStr(locale, true), KeyTable()).first;
  auto it = lt->second.find(key);
  if (it == lt->second.end()) {
    it = lt->second.emplace(LocStr(key, true), Translation()).first;
    generation_++;
  }
  it->second.text = LocStr(text, true);
  it->second.state = Translation::kUnused;
}

String Localize::getLocales()
{
  plat::MutexLock lock(translationMutex());
  plat::DString out;
  for (const String& l : locales_)
    out.append(out.length() ? ":" : "").append(l.str());
  return out.takeString();
}

std::vector<String> Localize::getLocaleList()
{
  plat::MutexLock lock(translationMutex());
  return locales_;
}

std::map<std::string, std::string> Localize::getTexts(const char* locale)
{
  plat::MutexLock lock(translationMutex());
  std::map<std::string, std::string> out;
  materialise(locale);
  auto lt = table_.find(locale);
  if (lt != table_.end())
    for (const auto& kv : lt->second)
      out[kv.first.get()] = kv.second.text.get();
  return out;
}

Translation* Localize::lookup(const char* key)
{
  TransMap* map = tlsMap ? tlsMap : &processMap_;
  if (Translation* tr = map->find(key))
    return tr;
  // The first locale of the list that has the key supplies it; the map
  // keeps the answer until it is next rebuilt.
  for (const String& l : map->locales_) {
    if (KeyTable::value_type* kv = record(l.str(), key)) {
      map->keys_.emplace(kv->first.get(), &kv->second);
      return &kv->second;
    }
  }
  return nullptr;
}

const char* Localize::handOut(Translation* tr, const char* key, bool raw)
{
  if (tr->state == Translation::kUnused) {
    tr->state = raw ? Translation::TR_RAW : Translation::kFormatted;
    // A finished text shows "%%" as "%"; convert once and keep the result.
    if (!raw && strchr(tr->text.get(), '%')) {
      String out;
      format(out, tr->text.get(), nullptr);
      tr->text.adopt(out.release());
    }
  } else {
    PLAT_ASSERT_TEXT_FMT(raw == (tr->state == Translation::TR_RAW), "(raw == (state == TR_RAW))",
                         "Can't use same string as both raw and formatted - %s", key);
  }
  return tr->text.get();
}

void Localize::updateLocale()
{
  plat::MutexLock lock(translationMutex());
  buildLocaleList(locales_);
  updateMap(&processMap_, locales_);
  String joined = getLocales();
  if (joined != lastLogged_) {
    logSrc.status("Locales %s", joined.str());
    lastLogged_ = joined;
  }
}

void Localize::updateMap(TransMap* map, const std::vector<String>& localeList)
{
  std::vector<String> fallbacks;
  getLocaleFallbacks(localeList, fallbacks);

  plat::MutexLock lock(translationMutex());
  for (const String& l : fallbacks) {
    enter(l.str());
    if (loaded_.count(l))
      continue;
    loaded_.insert(l);
    loadLocale(l.str());
  }
  // Anything that changed the table since the last build (string files
  // just loaded, texts registered late) needs a rebuild too.
  if (map->built_ && map->generation_ == generation_ && map->locales_ == fallbacks)
    return;

  map->locales_ = fallbacks;
  map->built_ = true;
  map->generation_ = generation_;
  // Emptied, the map fills itself key by key on lookups (Localize::lookup),
  // each key from the first locale of the list that has it.
  map->keys_.clear();
  logSrc.debug("Updating %s TransMap with locales:", map->isThreadMap_ ? "thread" : "process");
  for (const String& l : fallbacks)
    logSrc.debug(" %s", l.str());
}

void Localize::loadLocale(const char* locale)
{
  loadBuiltInStrings(locale);
  for (const String& dir : dirs_)
    loadStringsFile(dir.str(), locale);
}

const char* Localize::pluralLookup(const char* key, unsigned n)
{
  TransMap* map = tlsMap ? tlsMap : &processMap_;
  for (const String& l : map->getLocales()) {
    String table = l;
    enter(table.str());
    if (!hasLocale(table.str())) {
      table = String(l.str(), (int)strcspn(l.str(), "_-.@"));
      enter(table.str());
      if (!hasLocale(table.str()))
        continue;
    }
    char pluralKey[256];
    plat::strFormat(pluralKey, "%s_%s", key, pluralSuffix(l.str(), n));
    if (KeyTable::value_type* kv = record(table.str(), pluralKey))
      return handOut(&kv->second, pluralKey, true);
  }
  return nullptr;
}

// --- Lookups -------------------------------------------------------------------

const char* translate(const char* key, const char* file, int line, bool raw)
{
  Localize* l = Localize::instance();
  {
    plat::MutexLock lock(translationMutex());
    if (Translation* tr = l->lookup(key))
      return l->handOut(tr, key, raw);
  }
  reportMissing("Missing translation", key, file, line);
  return key;
}

const char* tryTranslate(const char* key, bool raw)
{
  Localize* l = Localize::instance();
  plat::MutexLock lock(translationMutex());
  Translation* tr = l->lookup(key);
  return tr ? l->handOut(tr, key, raw) : nullptr;
}

const char* translatePlural(const char* key, unsigned n, const char* file, int line)
{
  Localize* l = Localize::instance();
  {
    plat::MutexLock lock(translationMutex());
    if (const char* text = l->pluralLookup(key, n))
      return text;
  }
  reportMissing("Missing plural translation", key, file, line);
  return key;
}

} // namespace loc
