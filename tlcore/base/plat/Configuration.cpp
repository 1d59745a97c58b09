#include "plat/Configuration.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/utf8.h"
#include "plat/XmlConfig.h"

namespace plat {

namespace {

LogSrc logSrc("Configuration");

ConfigurationTexts* texts = nullptr;

const char* tr(const char* key, bool raw)
{
  return texts ? texts->translate(key, raw) : key;
}

// A raw text with its one string argument. Without the localisation
// engine the key stands for the text, so the argument is appended to keep
// it visible.
String formatArg(const char* fmt, const char* arg)
{
  if (texts)
    return texts->formatString(fmt, arg);
  DString out;
  if (strstr(fmt, "%S"))
    out.appendReplacing(fmt, "%S", arg);
  else
    out.appendf("%s '%s'", fmt, arg);
  return out.takeString();
}

} // namespace

void setConfigurationTexts(ConfigurationTexts* t)
{
  texts = t;
}

BadCmdLineArg::BadCmdLineArg(const char* message) : Exception(message)
{
  setType("BadCmdLineArg");
}

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
  copyValues(other, kCreateMissing | kRecursive);
}

Configuration& Configuration::operator=(const Configuration& other)
{
  if (this == &other)
    return *this;
  name_ = other.name_;
  descKey_ = other.descKey_;
  aliases_ = other.aliases_;
  copyValues(other, kCreateMissing | kRecursive);
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
                                      ParamLevel level, const char* attributes)
{
  auto* p = new BoolParameter(name, description, def, level, this, attributes);
  adoptParam(p);
  return p;
}

IntParameter* Configuration::addInt(const char* name, const char* description, int def,
                                    ParamLevel level, int min, int max, const char* attributes)
{
  auto* p = new IntParameter(name, description, def, level, this, min, max, attributes);
  adoptParam(p);
  return p;
}

StringParameter* Configuration::addString(const char* name, const char* description,
                                          const char* def, ParamLevel level, const char* attributes)
{
  auto* p = new StringParameter(name, description, def, level, this, attributes);
  adoptParam(p);
  return p;
}

EnumParameter* Configuration::addEnum(const char* name, const char* description, const char* def,
                                      const char* const* names, ParamLevel level,
                                      const char* attributes)
{
  auto* p = new EnumParameter(name, description, def, names, level, this, attributes);
  adoptParam(p);
  return p;
}

BinaryParameter* Configuration::addBinary(const char* name, const char* description, int defLength,
                                          const unsigned char* def, ParamLevel level,
                                          const char* attributes)
{
  auto* p = new BinaryParameter(name, description, defLength, def, level, this, attributes);
  adoptParam(p);
  return p;
}

S64Parameter* Configuration::addS64(const char* name, const char* description, int64_t def,
                                    ParamLevel level, const char* attributes)
{
  auto* p = new S64Parameter(name, description, def, level, this, attributes);
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

void Configuration::copyValues(const Configuration& from, unsigned flags)
{
  for (ParamIterator it(from, (flags & kRecursive) != 0); it; it.next()) {
    if (ConfigParameter* mine = find(it->getName(), true))
      mine->copyValuesFrom(*it);
    else if (flags & kCreateMissing)
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

void Configuration::migrateAliases(NameValueStore& store)
{
  for (const auto& alias : aliases_) {
    String value;
    if (!store.get(alias.first.get(), value))
      continue;
    ParamValueMap expanded;
    if (alias.second->expand(alias.first.get(), value.get(), expanded)) {
      for (const auto& target : expanded) {
        String existing;
        if (!store.get(target.first.get(), existing))
          store.set(target.first.get(), target.second.get());
      }
    }
    store.remove(alias.first.get());
  }
  for (Configuration* child : children_)
    child->migrateAliases(store);
}

// --- Command line

bool Configuration::setFromArg(const char* arg, int priority)
{
  if (!arg)
    return false;
  bool dashed = false;
  if (arg[0] == '-') {
    dashed = true;
    arg += arg[1] == '-' ? 2 : 1;
  }
  if (const char* eq = strchr(arg, '='))
    return setFromArgLen(arg, (int)(eq - arg), eq + 1, priority);
  // A bare word is not an assignment; a dashed name turns a bool on.
  return dashed && set(arg, nullptr, priority);
}

bool Configuration::parseArgs(char*** cursor, UsageCallback* usage)
{
  char** a = *cursor;
  while (*a) {
    if (setFromArg(a[0], kPriorityPreference)) {
      a++;
    } else if (a[0][0] == '-' && a[1] && set(a[0] + 1, a[1], kPriorityPreference)) {
      a += 2;
    } else {
      break;
    }
  }
  *cursor = a;
  if (usage && *a && isHelpArg(*a)) {
    int mode = 0;
    if (a[1] && strcasecmp(a[1], "all") == 0)
      mode = 1;
    else if (a[1] && strcasecmp(a[1], "xml") == 0)
      mode = 2;
    usage->usage(mode, *this);
    return false;
  }
  return true;
}

bool Configuration::isHelpArg(const char* arg)
{
  if (!arg)
    return false;
  for (const char* word : {"-help", "--help", "-h", "/?"}) {
    if (strcasecmp(arg, word) == 0)
      return true;
  }
  return false;
}

void Configuration::parseCmdLine(char** argv, UsageCallback* usage)
{
  parseArgs(&argv, usage);
  if (!*argv)
    return;
  DString message;
  message.append(formatArg(tr("plat_bad_argument", true), argForLog(*argv).str()).get());
  if (usage)
    message.append("  ").append(tr("plat_run_with_help", false));
  throw BadCmdLineArg(message.get());
}

String Configuration::argForLog(const char* arg) const
{
  if (!arg)
    return String();
  const char* name = arg;
  for (int i = 0; i < 2 && *name == '-'; i++)
    name++;
  const char* eq = strchr(name, '=');
  if (!eq)
    return String(arg);
  String key(name, static_cast<int>(eq - name));
  const ConfigParameter* p = find(key.get(), true);
  if (p ? !p->isSecret() : !isSecretName(key.get()))
    return String(arg);
  return format("%.*s=%s", static_cast<int>(eq - arg), arg, kHiddenValue);
}

// --- Help and the parameter log

void Configuration::printUsage(Configuration& config, unsigned help, FILE* out)
{
  String usage(tr("plat_configuration_param_usage", false));
  wordWrap(usage, 79, 0);
  fprintf(out, "%s\n\n", usage.str());
  printHelp(config, help, out, 79, 14);
  if (help & kHelpAdvanced) {
    fprintf(out, "\n%s\n", tr("plat_configuration_log_names_title", false));
    printLogSourceNames(79, out);
    fprintf(out, "\n%s\n", tr("plat_configuration_log_dests_title", false));
    printLogDestNames(out);
  }
}

void Configuration::printHelp(Configuration& config, unsigned help, FILE* out, int width,
                              int nameWidth)
{
  if (config.descKey_)
    fprintf(out, "%s:\n", tr(config.descKey_, false));
  else
    fprintf(out, "%s Parameters:\n", config.getName());

  std::vector<ConfigParameter*> params;
  for (ConfigParameter* p = config.params_; p; p = p->next_) {
    if (!p->isHidden() && ((help & kHelpAdvanced) || !p->isAdvanced()))
      params.push_back(p);
  }
  std::stable_sort(params.begin(), params.end(), [](ConfigParameter* a, ConfigParameter* b) {
    return strcasecmp(a->getName(), b->getName()) < 0;
  });

  for (ConfigParameter* p : params) {
    const char* desc = p->getDescription();
    String line(DString::format("  %-*s - %s", nameWidth, p->getName(), desc ? desc : "").get());
    wordWrap(line, width, nameWidth + 5);
    if ((help & kHelpValues) && !dynamic_cast<BinaryParameter*>(p)) {
      String value = p->isSecret() ? String(kHiddenValue) : p->getValueStr();
      DString note =
          DString::format("(%s=%s)", tr("plat_configuration_help_default", false), value.str());
      const char* lastLine = strrchr(line.str(), '\n');
      lastLine = lastLine ? lastLine + 1 : line.str();
      DString whole;
      whole.append(line.str());
      if ((int)strlen(lastLine) + utf8DisplayWidth(note.get()) >= width)
        whole.appendf("%-*c%s", nameWidth + 6, '\n', note.get());
      else
        whole.appendf(" %s", note.get());
      line = whole.takeString();
      wordWrap(line, width, nameWidth + 5);
    }
    fprintf(out, "%s\n", line.str());
  }

  for (Configuration* child : config.children_)
    printHelp(*child, help, out, width, nameWidth);
}

void Configuration::logParameters() const
{
  std::vector<ConfigParameter*> params;
  for (ParamIterator it(*this, true); it; it.next()) {
    if (!it->isHidden())
      params.push_back(it.get());
  }
  std::stable_sort(params.begin(), params.end(), [](ConfigParameter* a, ConfigParameter* b) {
    int pa = a->getPriority(), pb = b->getPriority();
    if (pa != pb)
      return pa > pb;
    return strcasecmp(a->getName(), b->getName()) < 0;
  });
  for (ConfigParameter* p : params) {
    int priority = p->getPriority();
    char other[32];
    snprintf(other, sizeof(other), "Priority %d", priority);
    const char* source = other;
    if (priority == kPriorityDefault)
      source = "Default";
    else if (priority == kPriorityPreference)
      source = "Preference";
    else if (priority == kPriorityPolicy)
      source = p->hasPriority(kPriorityPreference) ? "Policy overriding preference" : "Policy";
    // The log form, so that bytes never reach the log.
    String value = p->getValueStr(priority);
    logSrc.log(priority == kPriorityDefault ? LogSrc::kInfo : LogSrc::kStatus, "%s=%s (%s)",
               p->getName(), value.str(), source);
  }
}

// --- UsagePrinter

UsagePrinter::UsagePrinter(const char* banner, XmlWriter writeXml)
    : banner_(banner), writeXml_(writeXml ? writeXml : &XmlConfig::writeUsage)
{
}

void UsagePrinter::usage(int mode, Configuration& config)
{
  print(mode, config, stdout);
  fflush(stdout);
  exit(1);
}

void UsagePrinter::print(int mode, Configuration& config, FILE* out) const
{
  if (mode == 2 && writeXml_) {
    writeXml_(config, out);
    return;
  }
  fprintf(out, "%s\n\n", banner_.str());
  Configuration::printUsage(
      config, (mode == 1 ? Configuration::kHelpAdvanced : 0u) | Configuration::kHelpValues, out);
}

// --- One-string command lines

void splitCmdLine(std::vector<String>& out, const char* cmdLine)
{
  out.clear();
  if (!cmdLine)
    return;
  const char* p = cmdLine;
  std::string arg;
  for (;;) {
    while (*p == ' ' || *p == '\t')
      p++;
    if (!*p)
      break;
    arg.clear();
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        size_t n = strspn(p, "\\");
        if (p[n] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            p += n + 1;
          } else {
            p += n; // the quote opens or closes below
          }
        } else {
          arg.append(n, '\\');
          p += n;
        }
      } else if (*p == '"') {
        quoted = !quoted;
        p++;
      } else {
        arg += *p++;
      }
    }
    out.emplace_back(arg.c_str(), (int)arg.size());
  }
}

void appendQuotedArg(DString& cmd, const char* arg)
{
  if (cmd.length())
    cmd.append(" ", 1);
  if (!arg)
    arg = "";
  if (*arg && !strpbrk(arg, " \t\n\"")) {
    cmd.append(arg);
    return;
  }
  std::string q = "\"";
  for (const char* p = arg;;) {
    size_t n = strspn(p, "\\");
    if (p[n] == '"') {
      q.append(2 * n + 1, '\\');
      q += '"';
      p += n + 1;
    } else if (!p[n]) {
      // Doubled so that the closing quote stays a quote.
      q.append(2 * n, '\\');
      break;
    } else {
      q.append(n, '\\');
      q += p[n];
      p += n + 1;
    }
  }
  q += '"';
  cmd.append(q.c_str(), (int)q.size());
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

IntParameter ppmm("ppmm", "Physical units per mm", 4, ParamLevel::kAdvanced, nullptr, 1, 32);
IntParameter TextSizeFactor("TextSizeFactor",
                            "Factor for text size on this system, normal being 100", 100,
                            ParamLevel::kAdvanced, nullptr, 1, 1000);

} // namespace plat
