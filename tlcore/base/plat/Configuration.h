// Named registries of configuration parameters.
//
// Configuration::global() ("Global") holds every static parameter of the
// process; other configurations can be made and linked under it as
// children (borrowed, never forming a cycle). Names match without regard to
// case everywhere. A configuration owns the parameters it creates at run
// time (add*, adoptParam, clones made by copying) and borrows the others;
// alias handlers are borrowed and must outlive it. Used from the main
// thread only; there is no lock.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/String.h"

namespace plat {

// Orders names without regard to case (ASCII), null first.
struct StringCaseLess {
  bool operator()(const String& a, const String& b) const;
};

// Parameter name -> value text.
using ParamValueMap = std::map<String, String, StringCaseLess>;

// Expands one name given on the command line or in a file into settings of
// other parameters. Registered handlers are borrowed by the configuration.
class ParameterAlias {
public:
  // Targets target and registers itself as aliasName in config (Global when
  // null).
  ParameterAlias(const char* aliasName, ConfigParameter& target, Configuration* config = nullptr);
  // Up to three target names (null ones skipped); registers nothing.
  explicit ParameterAlias(const char* target1, const char* target2 = nullptr,
                          const char* target3 = nullptr);
  virtual ~ParameterAlias();
  ParameterAlias(const ParameterAlias&) = delete;
  ParameterAlias& operator=(const ParameterAlias&) = delete;

  void addTarget(const char* name);
  // Each target gets a copy of value in out; false refuses the alias.
  virtual bool expand(const char* aliasName, const char* value, ParamValueMap& out);

  const StringVector& getTargets() const { return targets_; }

private:
  StringVector targets_;
};

// A name/value store that migrateAliases rewrites (a configuration file,
// say). Values may be null (a bare name).
class NameValueStore {
public:
  virtual ~NameValueStore() = default;
  // False when the store does not hold name.
  virtual bool get(const char* name, String& value) = 0;
  virtual void set(const char* name, const char* value) = 0;
  virtual void remove(const char* name) = 0;
};

// Where the help and the command-line errors get their words. The
// localisation engine is built on plat, so it installs its lookup here at
// start-up instead of plat calling it; until then a key stands for itself.
class ConfigurationTexts {
public:
  virtual ~ConfigurationTexts() = default;
  // The text of key; raw when it is a format for formatString.
  virtual const char* translate(const char* key, bool raw) = 0;
  // fmt (a raw text) with its one string placeholder filled by arg.
  virtual String formatString(const char* fmt, const char* arg) = 0;
};
// Borrowed; null restores the key-as-text fallback.
void setConfigurationTexts(ConfigurationTexts* texts);

// Thrown for a command-line argument that is not a parameter setting; the
// type is "BadCmdLineArg".
class BadCmdLineArg : public Exception {
public:
  explicit BadCmdLineArg(const char* message);
};

class Configuration {
public:
  // Told when the command line asks for help: mode 0 the usual help, 1 the
  // long help ("all"), 2 the XML parameter description ("xml"). A program's
  // callback normally ends the process.
  class UsageCallback {
  public:
    virtual ~UsageCallback() = default;
    virtual void usage(int mode, Configuration& config) = 0;
  };

  explicit Configuration(const char* name, const char* descKey = nullptr);
  // Copies name, heading key and aliases, then the values of every
  // parameter of other and its children, cloning the ones missing here.
  Configuration(const Configuration& other);
  Configuration& operator=(const Configuration& other);
  ~Configuration();

  // The process-wide configuration, made on first use.
  static Configuration& global();

  const char* getName() const { return name_.str(); }
  const char* getDescKey() const { return descKey_; }
  ConfigParameter* getParams() const { return params_; }
  const std::vector<Configuration*>& getChildren() const { return children_; }
  const std::map<String, ParameterAlias*, StringCaseLess>& getAliases() const { return aliases_; }

  // Whether parameter changes are logged (on from construction).
  bool logChanges = true;

  // --- Lookup
  // Recursive lookup goes into the children in order, depth first.
  ConfigParameter* find(const char* name, bool recursive = true) const;
  // Throws Exception "Parameter %s not found".
  ConfigParameter& get(const char* name) const;
  // Throw like get, or AssertionFail "p" when the class differs.
  BoolParameter& getBoolParam(const char* name) const;
  IntParameter& getIntParam(const char* name) const;
  StringParameter& getStringParam(const char* name) const;
  EnumParameter& getEnumParam(const char* name) const;
  BinaryParameter& getBinaryParam(const char* name) const;
  S64Parameter& getS64Param(const char* name) const;
  bool getBool(const char* name, bool fallback) const;

  // --- Setting
  // Aliases first, then this configuration's parameters, then the children.
  bool set(const char* name, const char* value, int priority);
  bool setFromArgLen(const char* name, int nameLength, const char* value, int priority);

  // --- Run-time parameters (owned) and structure
  BoolParameter* addBool(const char* name, const char* description, bool def,
                         ParamLevel level = ParamLevel::kBasic, const char* attributes = nullptr);
  IntParameter* addInt(const char* name, const char* description, int def,
                       ParamLevel level = ParamLevel::kBasic, int min = INT_MIN, int max = INT_MAX,
                       const char* attributes = nullptr);
  StringParameter* addString(const char* name, const char* description, const char* def,
                             ParamLevel level = ParamLevel::kBasic,
                             const char* attributes = nullptr);
  EnumParameter* addEnum(const char* name, const char* description, const char* def,
                         const char* const* names, ParamLevel level = ParamLevel::kBasic,
                         const char* attributes = nullptr);
  BinaryParameter* addBinary(const char* name, const char* description, int defLength,
                             const unsigned char* def, ParamLevel level = ParamLevel::kBasic,
                             const char* attributes = nullptr);
  S64Parameter* addS64(const char* name, const char* description, int64_t def,
                       ParamLevel level = ParamLevel::kBasic, const char* attributes = nullptr);
  void adoptParam(ConfigParameter* param);
  // Deletes the owned parameters and forgets the borrowed ones.
  void clear();
  // Appends (once) or removes a child; a child through which this
  // configuration is reachable is refused (AssertionFail).
  void addChild(Configuration* child, bool add = true);
  void addAliasHandler(const char* name, ParameterAlias* handler);

  // --- Comparing and copying values
  // What copyValues does besides copying into parameters both have.
  enum CopyFlags : unsigned { kCopyExisting = 0, kCreateMissing = 1 << 0, kRecursive = 1 << 1 };
  void copyValues(const Configuration& from, unsigned flags);
  // Sets here what differs between changed and reference, at changed's
  // priority.
  void applyChanges(const Configuration& changed, const Configuration& reference);
  bool equals(const Configuration& other) const;
  // Comma-separated names whose effective text differs from other's.
  String diffNames(const Configuration& other) const;
  void getValuesAtPriority(int priority, ParamValueMap& out) const;
  // Rewrites the aliases (of this configuration and its children) that the
  // store holds into their targets, keeping targets the store already has.
  void migrateAliases(NameValueStore& store);

  // --- Command line (priority 10 from parseArgs on)
  // One argument "-name=value", "--name=value", "name=value", "-name" or
  // "--name" (a bool turned on).
  bool setFromArg(const char* arg, int priority);
  // Consumes arguments of the null-terminated list from *cursor on, also
  // "-name value", and leaves *cursor at the first one not consumed. When
  // that is a help word and usage is given, calls it and returns false.
  bool parseArgs(char*** cursor, UsageCallback* usage = nullptr);
  // "-help", "--help", "-h" or "/?", in any case.
  static bool isHelpArg(const char* arg);
  // parseArgs over all of argv (the arguments after the program name);
  // throws BadCmdLineArg for the first one left.
  void parseCmdLine(char** argv, UsageCallback* usage = nullptr);
  // The argument as logs and errors show it: the value of an assignment to
  // a secret parameter (or, for an unknown name, one that isSecretName
  // calls secret) becomes kHiddenValue.
  String argForLog(const char* arg) const;

  // --- Help and the parameter log
  // What the help shows besides the basic parameters' descriptions.
  enum HelpFlags : unsigned { kHelpBasic = 0, kHelpAdvanced = 1 << 0, kHelpValues = 1 << 1 };
  // The usage text, then the help of config (79 columns), then with
  // kHelpAdvanced the log source and destination names.
  static void printUsage(Configuration& config, unsigned help, FILE* out = stdout);
  // Every visible parameter of config, sorted by name and wrapped at width
  // columns, then the same for each child.
  static void printHelp(Configuration& config, unsigned help, FILE* out, int width, int nameWidth);
  // Logs every visible parameter's value and where it came from, on the
  // log source "Configuration".
  void logParameters() const;

  // Walks the parameters configuration by configuration, breadth first when
  // recursive, each configuration's list in order.
  class ParamIterator {
  public:
    explicit ParamIterator(const Configuration& config, bool recursive = false);
    ConfigParameter* get() const { return current_; }
    ConfigParameter* operator->() const { return current_; }
    ConfigParameter& operator*() const { return *current_; }
    explicit operator bool() const { return current_ != nullptr; }
    void next();

  private:
    void takeUp(const Configuration* config);

    bool recursive_;
    ConfigParameter* current_ = nullptr;
    std::deque<const Configuration*> queue_;
  };

private:
  friend class ConfigParameter;
  void link(ConfigParameter* param);
  void unlink(ConfigParameter* param);
  bool reaches(const Configuration* target) const;
  template <typename P> P& getTyped(const char* name) const;

  String name_;
  const char* descKey_;
  ConfigParameter* params_ = nullptr;
  std::vector<Configuration*> children_;
  std::vector<std::unique_ptr<ConfigParameter>> ownedParams_;
  std::map<String, ParameterAlias*, StringCaseLess> aliases_;
};

// The usage callback of a program: writes the help (or the XML parameter
// description) to standard output and ends the process with status 1.
class UsagePrinter : public Configuration::UsageCallback {
public:
  using XmlWriter = void (*)(Configuration& config, FILE* out);
  // banner: the program's version text. A null writeXml means the XML
  // parameter description (XmlConfig::writeUsage).
  explicit UsagePrinter(const char* banner, XmlWriter writeXml = nullptr);

  void usage(int mode, Configuration& config) override;
  // What usage writes, without ending the process.
  void print(int mode, Configuration& config, FILE* out) const;

private:
  String banner_;
  XmlWriter writeXml_;
};

// --- One-string command lines ---------------------------------------------------

// Replaces out with the arguments of cmdLine: split at blanks and tabs
// outside double quotes; 2n backslashes before a quote give n and the quote
// opens or closes, 2n+1 give n and a literal quote; other backslashes are
// literal; "" is an empty argument.
void splitCmdLine(std::vector<String>& out, const char* cmdLine);
// Appends arg (after a blank unless cmd is empty), quoted when needed, so
// that splitCmdLine gives it back unchanged.
void appendQuotedArg(DString& cmd, const char* arg);

// --- Display scale -----------------------------------------------------------------

// `ppmm`: physical units per mm, the user interface's scale (1..32, 4).
extern IntParameter ppmm;
// `TextSizeFactor`: the text size of this system, normal being 100 (1..1000).
extern IntParameter TextSizeFactor;

} // namespace plat
