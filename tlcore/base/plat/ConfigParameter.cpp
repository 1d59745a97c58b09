#include "plat/ConfigParameter.h"

#include <inttypes.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <atomic>

#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/encodings.h"
#include "plat/numbers.h"
#include "plat/utf8.h"

namespace plat {

namespace {

LogSrc logSrc("ConfigParameter");

// Atomic because descriptions may be read on any thread while the
// translator is installed during static initialisation.
std::atomic<ConfigParameter::Translator> translator{nullptr};

const char* translateKey(const char* key)
{
  ConfigParameter::Translator fn = translator.load(std::memory_order_acquire);
  return fn ? fn(key) : key;
}

template <typename T> bool sameValue(const T& a, const T& b)
{
  return a == b;
}
bool sameValue(const String& a, const String& b)
{
  return a == b;
}
bool sameValue(const MBuf<unsigned char>& a, const MBuf<unsigned char>& b)
{
  return a.length() == b.length() && (a.empty() || memcmp(a.data(), b.data(), a.length()) == 0);
}

int countNames(const char* const* names)
{
  int n = 0;
  while (names && names[n])
    n++;
  return n;
}

int indexOfName(const char* const* names, const char* name, int fallback)
{
  if (!name)
    return fallback;
  for (int i = 0; names && names[i]; i++) {
    if (strcasecmp(names[i], name) == 0)
      return i;
  }
  return fallback;
}

void wipeValue(bool&) {}
void wipeValue(int&) {}
void wipeValue(String& value)
{
  if (value.data())
    secureZero(value.data(), static_cast<size_t>(value.length()));
}
void wipeValue(MBuf<unsigned char>& value)
{
  value.setSecure(true);
}

MBuf<unsigned char> secureBytes(int length, const unsigned char* data)
{
  return MBuf<unsigned char>(data, data ? length : 0, true);
}

String s64Text(int64_t value)
{
  return format("int64:%016" PRIx64, static_cast<uint64_t>(value));
}

} // namespace

bool isSecretName(const char* name)
{
  if (!name)
    return false;
  for (const char* word : {"password", "passwd", "pwd", "secret", "token", "credential"}) {
    if (strcasestr(name, word))
      return true;
  }
  size_t n = strlen(name);
  return n >= 3 && strcasecmp(name + n - 3, "key") == 0;
}

// --- ConfigParameter -----------------------------------------------------------

ConfigParameter::ConfigParameter(const char* name, const char* desc, const char* locDesc,
                                 ParamLevel level, Configuration* owner, const char* attributes)
    : name_(name), description_(desc), locDesc_(locDesc), advanced_(level == ParamLevel::kAdvanced),
      ownsStrings_(false), attributes_(attributes, ',')
{
  PLAT_ASSERT(name);
  PLAT_ASSERT(desc || locDesc);
  registerIn(owner);
}

ConfigParameter::ConfigParameter(const ConfigParameter& other, Configuration* owner, bool)
    : name_(strDup(other.name_)), description_(strDup(other.description_)),
      locDesc_(strDup(other.locDesc_)), advanced_(other.advanced_), ownsStrings_(true),
      attributes_(other.attributes_)
{
  registerIn(owner);
}

ConfigParameter::~ConfigParameter()
{
  if (owner_)
    owner_->unlink(this);
  if (ownsStrings_) {
    delete[] name_;
    delete[] description_;
    delete[] locDesc_;
  }
}

void ConfigParameter::registerIn(Configuration* owner)
{
  owner_ = owner ? owner : &Configuration::global();
  owner_->link(this);
}

bool ConfigParameter::setParam(int, int)
{
  return false;
}

int ConfigParameter::getInt() const
{
  return 0;
}

String ConfigParameter::intToStr(int value) const
{
  return format("%d", value);
}

const char* ConfigParameter::getDescription() const
{
  return description_ ? description_ : translateKey(locDesc_);
}

void ConfigParameter::setTranslator(Translator fn)
{
  translator.store(fn, std::memory_order_release);
}

bool ConfigParameter::isAdvanced() const
{
  return advanced_ || dynamic_cast<const BinaryParameter*>(this) != nullptr;
}

void ConfigParameter::setAttributes(const char* list)
{
  attributes_ = StringSet(list, ',');
}

bool ConfigParameter::hasAttribute(const char* name) const
{
  return attributes_.count(String(name)) != 0;
}

bool ConfigParameter::isSecret() const
{
  return hasAttribute(kSecretAttribute) || (holdsBytes_ && isSecretName(name_));
}

void ConfigParameter::copyValuesFrom(ConfigParameter& other)
{
  if (&other == this)
    return;
  std::map<int, String> theirs = other.getValues();
  for (const auto& mine : getValues()) {
    if (!theirs.count(mine.first))
      unset(mine.first, true);
  }
  for (const auto& v : theirs)
    setParam(v.second.get(), v.first);
}

bool ConfigParameter::resetValues(bool notifyChange)
{
  if (getPriority() == kPriorityDefault)
    return false;
  for (const auto& v : getValues()) {
    if (v.first > kPriorityDefault)
      unset(v.first, false);
  }
  if (notifyChange)
    notify(kPriorityDefault);
  return true;
}

int ConfigParameter::notifyIfDefault()
{
  int priority = getPriority();
  if (priority == kPriorityDefault)
    notify(kPriorityDefault);
  return priority;
}

void ConfigParameter::addCallback(ParameterChangedCallback* cb)
{
  callbacks_.push_back(cb);
}

void ConfigParameter::removeCallback(ParameterChangedCallback* cb)
{
  callbacks_.erase(std::remove(callbacks_.begin(), callbacks_.end(), cb), callbacks_.end());
}

void ConfigParameter::notify(int priority)
{
  // A callback may remove itself or others while being told.
  std::vector<ParameterChangedCallback*> cbs(callbacks_);
  for (ParameterChangedCallback* cb : cbs) {
    if (std::find(callbacks_.begin(), callbacks_.end(), cb) != callbacks_.end())
      cb->parameterChanged(this, priority);
  }
}

bool ConfigParameter::logsChanges() const
{
  return !owner_ || owner_->logChanges;
}

void ConfigParameter::logSet(int priority) const
{
  if (!logsChanges())
    return;
  logSrc.log(priority <= kPriorityDefault ? LogSrc::kDebug : LogSrc::kInfo,
             "set %s(%s) to %s, priority %d", name_, getTypeName(), getValueStr(priority).str(),
             priority);
}

void ConfigParameter::logUnset(int priority) const
{
  if (!logsChanges())
    return;
  // The per-priority text is the log-safe form (binary bytes stay hidden).
  int now = getPriority();
  logSrc.info("unset %s(%s) priority %d, now %s, priority %d", name_, getTypeName(), priority,
              getValueStr(now).str(), now);
}

bool ConfigParameter::refusesPriority(int priority) const
{
  return priority == kPriorityPolicy && hasAttribute("noPolicy");
}

// --- TypedParameter ------------------------------------------------------------

template <typename T> bool TypedParameter<T>::setValueAt(const T& value, int priority)
{
  if (refusesPriority(priority))
    return false;
  auto it = values_.find(priority);
  if (it != values_.end() && sameValue(it->second, value))
    return true;
  if (it != values_.end())
    wipe(it->second);
  values_[priority] = value;
  logSet(priority);
  notify(priority);
  return true;
}

template <typename T> void TypedParameter<T>::unset(int priority, bool notifyChange)
{
  if (priority == kPriorityDefault)
    return;
  auto it = values_.find(priority);
  if (it == values_.end())
    return;
  wipe(it->second);
  values_.erase(it);
  logUnset(priority);
  if (notifyChange)
    notify(priority);
}

template <typename T> String TypedParameter<T>::getValueStr(int priority) const
{
  auto it = values_.find(priority);
  if (it == values_.end())
    return String();
  // Bytes already show as "<binary>", secret or not.
  bool bytes = std::is_same<T, MBuf<unsigned char>>::value;
  return isSecret() && !bytes ? String(kHiddenValue) : valueToLogStr(it->second);
}

template <typename T> TypedParameter<T>::~TypedParameter()
{
  for (auto& v : values_)
    wipe(v.second);
}

template <typename T> void TypedParameter<T>::wipe(T& value) const
{
  if (isSecret())
    wipeValue(value);
}

template <typename T> std::map<int, String> TypedParameter<T>::getValues() const
{
  std::map<int, String> out;
  for (const auto& v : values_)
    out.emplace(v.first, valueToStr(v.second));
  return out;
}

template class TypedParameter<bool>;
template class TypedParameter<int>;
template class TypedParameter<String>;
template class TypedParameter<MBuf<unsigned char>>;

// --- BoolParameter -------------------------------------------------------------

BoolParameter::BoolParameter(const char* name, const char* description, bool def, ParamLevel level,
                             Configuration* owner, const char* attributes)
    : TypedParameter<bool>(name, description, nullptr, def, level, owner, attributes)
{
}

BoolParameter::BoolParameter(const char* name, LocKey key, bool def, ParamLevel level,
                             Configuration* owner, const char* attributes)
    : TypedParameter<bool>(name, nullptr, key.key, def, level, owner, attributes)
{
}

bool BoolParameter::setParam(const char* text, int priority)
{
  static const char* const trueWords[] = {"1", "on", "true", "yes"};
  static const char* const falseWords[] = {"0", "off", "false", "no"};
  if (!text || !*text)
    return setValueAt(true, priority);
  for (int i = 0; i < 4; i++) {
    if (strcasecmp(text, trueWords[i]) == 0)
      return setValueAt(true, priority);
    if (strcasecmp(text, falseWords[i]) == 0)
      return setValueAt(false, priority);
  }
  logSrc.error("Bool parameter %s: invalid value '%s'", getName(), text);
  return false;
}

bool BoolParameter::setParam(int value, int priority)
{
  return setValueAt(value != 0, priority);
}

ConfigParameter* BoolParameter::clone(Configuration* owner) const
{
  return new BoolParameter(*this, owner);
}

String BoolParameter::valueToStr(const bool& value) const
{
  return String(value ? "1" : "0");
}

// --- IntParameter --------------------------------------------------------------

IntParameter::IntParameter(const char* name, const char* desc, const char* locDesc, int def,
                           ParamLevel level, Configuration* owner, int min, int max,
                           const char* attributes)
    : TypedParameter<int>(name, desc, locDesc, def, level, owner, attributes), min_(min), max_(max)
{
}

IntParameter::IntParameter(const char* name, const char* description, int def, ParamLevel level,
                           Configuration* owner, int min, int max, const char* attributes)
    : IntParameter(name, description, nullptr, def, level, owner, min, max, attributes)
{
}

IntParameter::IntParameter(const char* name, LocKey key, int def, ParamLevel level,
                           Configuration* owner, int min, int max, const char* attributes)
    : IntParameter(name, nullptr, key.key, def, level, owner, min, max, attributes)
{
}

bool IntParameter::setParam(const char* text, int priority)
{
  if (!text)
    return false;
  const char* p = text;
  int value;
  if (!strToInt(&value, &p, 0) || *p)
    return false;
  return setValue(value, priority);
}

bool IntParameter::setValue(int value, int priority)
{
  if (value < min_ || value > max_)
    return false;
  return setValueAt(value, priority);
}

ConfigParameter* IntParameter::clone(Configuration* owner) const
{
  return new IntParameter(*this, owner);
}

// --- EnumParameter -------------------------------------------------------------

EnumParameter::EnumParameter(const char* name, const char* description, const char* def,
                             const char* const* names, ParamLevel level, Configuration* owner,
                             const char* attributes)
    : IntParameter(name, description, nullptr, indexOfName(names, def, 0), level, owner, 0,
                   countNames(names) - 1, attributes),
      names_(names)
{
}

EnumParameter::EnumParameter(const char* name, LocKey key, const char* def,
                             const char* const* names, ParamLevel level, Configuration* owner,
                             const char* attributes)
    : IntParameter(name, nullptr, key.key, indexOfName(names, def, 0), level, owner, 0,
                   countNames(names) - 1, attributes),
      names_(names)
{
}

bool EnumParameter::setParam(const char* text, int priority)
{
  int index = nameToIndex(text, -1);
  return index >= 0 && setValue(index, priority);
}

ConfigParameter* EnumParameter::clone(Configuration* owner) const
{
  return new EnumParameter(*this, owner);
}

String EnumParameter::intToStr(int value) const
{
  if (value < 0 || value > max_)
    return IntParameter::intToStr(value);
  return String(names_[value]);
}

int EnumParameter::nameToIndex(const char* name, int fallback) const
{
  return indexOfName(names_, name, fallback);
}

// --- StringParameter -----------------------------------------------------------

StringParameter::StringParameter(const char* name, const char* desc, const char* locDesc,
                                 const char* def, ParamLevel level, Configuration* owner,
                                 const char* attributes)
    : TypedParameter<String>(name, desc, locDesc, String(def), level, owner, attributes)
{
  PLAT_ASSERT_FMT(def, "Default value <null> for %s not allowed", name);
}

StringParameter::StringParameter(const char* name, const char* description, const char* def,
                                 ParamLevel level, Configuration* owner, const char* attributes)
    : StringParameter(name, description, nullptr, def, level, owner, attributes)
{
}

StringParameter::StringParameter(const char* name, LocKey key, const char* def, ParamLevel level,
                                 Configuration* owner, const char* attributes)
    : StringParameter(name, nullptr, key.key, def, level, owner, attributes)
{
}

bool StringParameter::setParam(const char* text, int priority)
{
  if (!text)
    return false;
  if (!isValidUtf8(text))
    throw BadUtf8(1, "Bad UTF-8 string for %s", getName());
  String value(text);
  bool set = setValueAt(value, priority);
  wipe(value);
  return set;
}

ConfigParameter* StringParameter::clone(Configuration* owner) const
{
  return new StringParameter(*this, owner);
}

// --- BinaryParameter -----------------------------------------------------------

BinaryParameter::BinaryParameter(const char* name, const char* description, int defLength,
                                 const unsigned char* def, ParamLevel level, Configuration* owner,
                                 const char* attributes)
    : TypedParameter<MBuf<unsigned char>>(name, description, nullptr, secureBytes(defLength, def),
                                          level, owner, attributes)
{
}

BinaryParameter::BinaryParameter(const char* name, LocKey key, int defLength,
                                 const unsigned char* def, ParamLevel level, Configuration* owner,
                                 const char* attributes)
    : TypedParameter<MBuf<unsigned char>>(name, nullptr, key.key, secureBytes(defLength, def),
                                          level, owner, attributes)
{
}

bool BinaryParameter::setParam(const char* text, int priority)
{
  MBuf<unsigned char> bytes(0, true);
  if (!text || !hexToBin(text, bytes))
    return false;
  return setValueAt(bytes, priority);
}

void BinaryParameter::getValue(MBuf<unsigned char>& out) const
{
  out = effective();
}

bool BinaryParameter::setValue(int length, const unsigned char* data, int priority)
{
  return setValueAt(secureBytes(length, data), priority);
}

ConfigParameter* BinaryParameter::clone(Configuration* owner) const
{
  return new BinaryParameter(*this, owner);
}

String BinaryParameter::valueToStr(const MBuf<unsigned char>& value) const
{
  return binToHex(value.length(), value.data());
}

// --- S64Parameter --------------------------------------------------------------

S64Parameter::S64Parameter(const char* name, const char* description, int64_t def, ParamLevel level,
                           Configuration* owner, const char* attributes)
    : TypedParameter<String>(name, description, nullptr, s64Text(def), level, owner, attributes)
{
}

S64Parameter::S64Parameter(const char* name, LocKey key, int64_t def, ParamLevel level,
                           Configuration* owner, const char* attributes)
    : TypedParameter<String>(name, nullptr, key.key, s64Text(def), level, owner, attributes)
{
}

bool S64Parameter::setParam(const char* text, int priority)
{
  if (!text)
    return false;
  unsigned char bytes[8];
  int length = strLen(text);
  if (length == 22 && strStartsWith(text, "int64:")) {
    if (!hexToBinFixed(text + 6, 8, bytes))
      return false;
    return setValueAt(String(text), priority);
  }
  if (length != 16 || !hexToBinFixed(text, 8, bytes))
    return false;
  uint64_t value = 0;
  for (int i = 7; i >= 0; i--)
    value = (value << 8) | bytes[i];
  return setValue(static_cast<int64_t>(value), priority);
}

bool S64Parameter::setValue(int64_t value, int priority)
{
  return setValueAt(s64Text(value), priority);
}

int64_t S64Parameter::getValue() const
{
  unsigned char bytes[8] = {};
  hexToBinFixed(effective().str() + 6, 8, bytes);
  uint64_t value = 0;
  for (int i = 0; i < 8; i++)
    value = (value << 8) | bytes[i];
  return static_cast<int64_t>(value);
}

ConfigParameter* S64Parameter::clone(Configuration* owner) const
{
  return new S64Parameter(*this, owner);
}

} // namespace plat
