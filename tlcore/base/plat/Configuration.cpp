#include "plat/Configuration.h"

#include <strings.h>

#include <algorithm>

#include "plat/DString.h"
#include "plat/Exception.h"

namespace plat {

bool StringCaseLess::operator()(const String& a, const String& b) const
{
  if (a.isNull() || b.isNull())
    return a.isNull() && !b.isNull();
  return strcasecmp(a.get(), b.get()) < 0;
}

// --- ParameterAlias --------------------------------------------------------------

ParameterAlias::ParameterAlias(const char* aliasName, ConfigParameter& target,
                               Configuration* config)
{
  targets_.push_back(target.getName());
  (config ? *config : Configuration::global()).addAliasHandler(aliasName, this);
}

ParameterAlias::ParameterAlias(const char* target1, const char* target2, const char* target3)
{
  for (const char* t : {target1, target2, target3}) {
    if (t)
      targets_.push_back(t);
  }
}

ParameterAlias::~ParameterAlias() = default;

void ParameterAlias::addTarget(const char* name)
{
  targets_.push_back(name);
}

bool ParameterAlias::expand(const char*, const char* value, ParamValueMap& out)
{
  for (const char* target : targets_) {
    String& entry = out[String(target)];
    if (!(entry == String(value)))
      entry = String(value);
  }
  return true;
}

// --- Configuration -------------------------------------------------------------

Configuration::Configuration(const char* name, const char* descKey) : name_(name), descKey_(descKey)
{
}

Configuration::Configuration(const Configuration& other)
    : name_(other.name_), descKey_(other.descKey_), aliases_(other.aliases_)
{
  copyValues(other, true, true);
}

Configuration& Configuration::operator=(const Configuration& other)
{
  if (this == &other)
    return *this;
  name_ = other.name_;
  descKey_ = other.descKey_;
  aliases_ = other.aliases_;
  copyValues(other, true, true);
  return *this;
}

Configuration::~Configuration()
{
  clear();
}

Configuration& Configuration::global()
{
  static Configuration config("Global", "plat_configuration_global_params");
  return config;
}

void Configuration::link(ConfigParameter* param)
{
  param->next_ = params_;
  params_ = param;
}

void Configuration::unlink(ConfigParameter* param)
{
  for (ConfigParameter** p = &params_; *p; p = &(*p)->next_) {
    if (*p == param) {
      *p = param->next_;
      break;
    }
  }
  param->next_ = nullptr;
  param->owner_ = nullptr;
}

void Configuration::clear()
{
  // Owned parameters unlink themselves; the borrowed rest are detached so
  // that they never reach back into this list.
  std::vector<std::unique_ptr<ConfigParameter>> owned;
  owned.swap(ownedParams_);
  owned.clear();
  while (params_)
    unlink(params_);
}

// --- Lookup

ConfigParameter* Configuration::find(const char* name, bool recursive) const
{
  if (!name)
    return nullptr;
  for (ConfigParameter* p = params_; p; p = p->next_) {
    if (strcasecmp(p->getName(), name) == 0)
      return p;
  }
  if (recursive) {
    for (Configuration* child : children_) {
      if (ConfigParameter* p = child->find(name, true))
        return p;
    }
  }
  return nullptr;
}

ConfigParameter& Configuration::get(const char* name) const
{
  ConfigParameter* p = find(name, true);
  if (!p)
    throw Exception(1, "Parameter %s not found", name ? name : "(null)");
  return *p;
}

template <typename P> P& Configuration::getTyped(const char* name) const
{
  P* p = dynamic_cast<P*>(&get(name));
  PLAT_CHECK(p);
  return *p;
}

BoolParameter& Configuration::getBoolParam(const char* name) const
{
  return getTyped<BoolParameter>(name);
}

IntParameter& Configuration::getIntParam(const char* name) const
{
  return getTyped<IntParameter>(name);
}

StringParameter& Configuration::getStringParam(const char* name) const
{
  return getTyped<StringParameter>(name);
}

EnumParameter& Configuration::getEnumParam(const char* name) const
{
  return getTyped<EnumParameter>(name);
}

BinaryParameter& Configuration::getBinaryParam(const char* name) const
{
  return getTyped<BinaryParameter>(name);
}

S64Parameter& Configuration::getS64Param(const char* name) const
{
  return getTyped<S64Parameter>(name);
}

bool Configuration::getBool(const char* name, bool fallback) const
{
  try {
    return getBoolParam(name).getValue();
  } catch (const Exception&) {
    return fallback;
  }
}

// --- Setting

bool Configuration::set(const char* name, const char* value, int priority)
{
  if (!name)
    return false;
  auto alias = aliases_.find(String(name));
  if (alias != aliases_.end()) {
    ParamValueMap expanded;
    if (!alias->second->expand(name, value, expanded))
      return false;
    if (expanded.empty())
      return true;
    bool any = false;
    for (const auto& v : expanded) {
      if (set(v.first.get(), v.second.get(), priority))
        any = true;
    }
    return any;
  }
  if (ConfigParameter* p = find(name, false))
    return p->setParam(value, priority);
  for (Configuration* child : children_) {
    if (child->set(name, value, priority))
      return true;
  }
  return false;
}

bool Configuration::setFromArgLen(const char* name, int nameLength, const char* value, int priority)
{
  String n(name, nameLength);
  return set(n.get(), value, priority);
}

// --- Run-time parameters and structure

BoolParameter* Configuration::addBool(const char* name, const char* description, bool def,
                                      bool advanced, const char* attributes)
{
  auto* p = new BoolParameter(name, description, def, advanced, this, attributes);
  adoptParam(p);
  return p;
}

IntParameter* Configuration::addInt(const char* name, const char* description, int def,
                                    bool advanced, int min, int max, const char* attributes)
{
  auto* p = new IntParameter(name, description, def, advanced, this, min, max, attributes);
  adoptParam(p);
  return p;
}

StringParameter* Configuration::addString(const char* name, const char* description,
                                          const char* def, bool advanced, const char* attributes)
{
  auto* p = new StringParameter(name, description, def, advanced, this, attributes);
  adoptParam(p);
  return p;
}

EnumParameter* Configuration::addEnum(const char* name, const char* description, const char* def,
                                      const char* const* names, bool advanced,
                                      const char* attributes)
{
  auto* p = new EnumParameter(name, description, def, names, advanced, this, attributes);
  adoptParam(p);
  return p;
}

BinaryParameter* Configuration::addBinary(const char* name, const char* description, int defLength,
                                          const unsigned char* def, bool advanced,
                                          const char* attributes)
{
  auto* p = new BinaryParameter(name, description, defLength, def, advanced, this, attributes);
  adoptParam(p);
  return p;
}

S64Parameter* Configuration::addS64(const char* name, const char* description, int64_t def,
                                    bool advanced, const char* attributes)
{
  auto* p = new S64Parameter(name, description, def, advanced, this, attributes);
  adoptParam(p);
  return p;
}

void Configuration::adoptParam(ConfigParameter* param)
{
  PLAT_ASSERT(param);
  for (const auto& owned : ownedParams_) {
    if (owned.get() == param)
      return;
  }
  ownedParams_.emplace_back(param);
}

bool Configuration::reaches(const Configuration* target) const
{
  if (this == target)
    return true;
  for (const Configuration* child : children_) {
    if (child->reaches(target))
      return true;
  }
  return false;
}

void Configuration::addChild(Configuration* child, bool add)
{
  if (!add) {
    children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
    return;
  }
  if (std::find(children_.begin(), children_.end(), child) != children_.end())
    return;
  // A cycle would make every recursive walk endless.
  PLAT_CHECK(child && !child->reaches(this));
  children_.push_back(child);
}

void Configuration::addAliasHandler(const char* name, ParameterAlias* handler)
{
  aliases_[String(name)] = handler;
}

// --- Comparing and copying values

void Configuration::copyValues(const Configuration& from, bool createMissing, bool recursive)
{
  for (ParamIterator it(from, recursive); it; it.next()) {
    if (ConfigParameter* mine = find(it->getName(), true))
      mine->copyValuesFrom(*it);
    else if (createMissing)
      adoptParam(it->clone(this));
  }
}

void Configuration::applyChanges(const Configuration& changed, const Configuration& reference)
{
  for (ParamIterator it(changed, true); it; it.next()) {
    ConfigParameter* ref = reference.find(it->getName(), true);
    if (!ref)
      continue;
    String text = it->getValueStr();
    if (text != ref->getValueStr())
      set(it->getName(), text.get(), it->getPriority());
  }
}

bool Configuration::equals(const Configuration& other) const
{
  for (ParamIterator it(*this, true); it; it.next()) {
    ConfigParameter* theirs = other.find(it->getName(), true);
    if (!theirs || it->getValueStr() != theirs->getValueStr())
      return false;
  }
  return true;
}

String Configuration::diffNames(const Configuration& other) const
{
  DString names;
  for (ParamIterator it(*this, true); it; it.next()) {
    ConfigParameter* theirs = other.find(it->getName(), true);
    if (theirs && it->getValueStr() != theirs->getValueStr()) {
      if (names.length())
        names.append(",");
      names.append(it->getName());
    }
  }
  return String(names.get());
}

void Configuration::getValuesAtPriority(int priority, ParamValueMap& out) const
{
  for (ParamIterator it(*this, true); it; it.next()) {
    if (!it->hasPriority(priority))
      continue;
    // The stored text itself (hexadecimal for bytes), so that it can be
    // written back; getValueStr(priority) is the log form.
    std::map<int, String> values = it->getValues();
    out[String(it->getName())] = values[priority];
  }
}

// --- ParamIterator

Configuration::ParamIterator::ParamIterator(const Configuration& config, bool recursive)
    : recursive_(recursive)
{
  takeUp(&config);
  if (!current_)
    next();
}

void Configuration::ParamIterator::takeUp(const Configuration* config)
{
  current_ = config->params_;
  if (recursive_)
    queue_.insert(queue_.end(), config->children_.begin(), config->children_.end());
}

void Configuration::ParamIterator::next()
{
  if (current_)
    current_ = current_->getNext();
  while (!current_ && !queue_.empty()) {
    const Configuration* config = queue_.front();
    queue_.pop_front();
    takeUp(config);
  }
}

} // namespace plat
