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

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "plat/ConfigParameter.h"
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

class Configuration {
public:
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
  BoolParameter* addBool(const char* name, const char* description, bool def, bool advanced = false,
                         const char* attributes = nullptr);
  IntParameter* addInt(const char* name, const char* description, int def, bool advanced = false,
                       int min = INT_MIN, int max = INT_MAX, const char* attributes = nullptr);
  StringParameter* addString(const char* name, const char* description, const char* def,
                             bool advanced = false, const char* attributes = nullptr);
  EnumParameter* addEnum(const char* name, const char* description, const char* def,
                         const char* const* names, bool advanced = false,
                         const char* attributes = nullptr);
  BinaryParameter* addBinary(const char* name, const char* description, int defLength,
                             const unsigned char* def, bool advanced = false,
                             const char* attributes = nullptr);
  S64Parameter* addS64(const char* name, const char* description, int64_t def,
                       bool advanced = false, const char* attributes = nullptr);
  void adoptParam(ConfigParameter* param);
  // Deletes the owned parameters and forgets the borrowed ones.
  void clear();
  // Appends (once) or removes a child; a child through which this
  // configuration is reachable is refused (AssertionFail).
  void addChild(Configuration* child, bool add = true);
  void addAliasHandler(const char* name, ParameterAlias* handler);

  // --- Comparing and copying values
  void copyValues(const Configuration& from, bool createMissing, bool recursive);
  // Sets here what differs between changed and reference, at changed's
  // priority.
  void applyChanges(const Configuration& changed, const Configuration& reference);
  bool equals(const Configuration& other) const;
  // Comma-separated names whose effective text differs from other's.
  String diffNames(const Configuration& other) const;
  void getValuesAtPriority(int priority, ParamValueMap& out) const;

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

} // namespace plat
