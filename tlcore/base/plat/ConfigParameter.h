// Named, typed, self-registering configuration parameters.
//
// A parameter holds one value per priority; the highest priority that holds
// a value gives the effective one, and priority 0 (the default) is never
// removed. Sources of values set them at their own priority: 10 for the
// command line and the user's files, 30 for policy. Parameters are normally
// static objects registered in Configuration::global() before main; those
// made at run time by a Configuration are owned by it. Change callbacks are
// borrowed and must be removed by their owners before they die. Parameters
// carry no lock: they are read and written on the main thread.
#pragma once

#include <limits.h>
#include <stdint.h>

#include <map>
#include <type_traits>
#include <vector>

#include "plat/MBuf.h"
#include "plat/String.h"

namespace plat {

class Configuration; // plat/Configuration.h
class ConfigParameter;

constexpr int kPriorityDefault = 0, kPriorityPreference = 10, kPriorityPolicy = 30;

// Where a parameter's help is shown: always, or only in the advanced help.
enum class ParamLevel { kBasic, kAdvanced };

// The attribute that marks a parameter holding a secret, and what log lines
// show for its values.
constexpr const char kSecretAttribute[] = "secret";
constexpr const char kHiddenValue[] = "<hidden>";

// Whether a parameter's name says it holds a secret: it mentions a
// password, secret, token or credential, or ends in "key" (any case).
bool isSecretName(const char* name);

// A description given as a translation key instead of plain text.
struct LocKey {
  const char* key;
};

// Told after the value at `priority` changed or was removed.
class ParameterChangedCallback {
public:
  virtual ~ParameterChangedCallback() = default;
  virtual void parameterChanged(ConfigParameter* param, int priority) = 0;
};

class ConfigParameter {
public:
  ConfigParameter(const ConfigParameter&) = delete;
  ConfigParameter& operator=(const ConfigParameter&) = delete;
  virtual ~ConfigParameter();

  // --- Values (the text forms are those of getTypeName's type)
  // False when the text does not parse or the priority is refused.
  virtual bool setParam(const char* text, int priority) = 0;
  // Priority 0 is never removed; a priority without a value is ignored.
  virtual void unset(int priority, bool notify) = 0;
  // The base refuses integers.
  virtual bool setParam(int value, int priority);
  virtual String getValueStr() const = 0;
  virtual int getInt() const;
  virtual int getPriority() const = 0;
  virtual bool hasPriority(int priority) const = 0;
  // Null when there is no value at the priority; the form used in log lines
  // (kHiddenValue for a secret, "<binary>" for any bytes).
  virtual String getValueStr(int priority) const = 0;
  virtual std::map<int, String> getValues() const = 0;
  virtual const char* getTypeName() const = 0;
  // Copies texts, attributes and values into a new parameter owned by the
  // caller and registered in owner (Global when null).
  virtual ConfigParameter* clone(Configuration* owner) const = 0;
  virtual String intToStr(int value) const;

  // --- Description and attributes
  const char* getName() const { return name_; }
  // The plain description, else the text of the translation key.
  const char* getDescription() const;
  // The translation key of the description, or null.
  const char* getLocDesc() const { return locDesc_; }
  // Turns description keys into text. Localisation, a higher layer,
  // installs it during static initialisation; until then a key stands for
  // itself.
  using Translator = const char* (*)(const char* key);
  static void setTranslator(Translator translator);
  bool isAdvanced() const;
  bool isHidden() const { return name_[0] == '_'; }
  Configuration* getOwner() const { return owner_; }
  ConfigParameter* getNext() const { return next_; }
  // Replaces the attributes with the comma-separated items of list.
  void setAttributes(const char* list);
  bool hasAttribute(const char* name) const;
  const StringSet& getAttributes() const { return attributes_; }
  // Marked with kSecretAttribute, or a text or byte parameter whose name
  // says so (isSecretName): its values are never logged and are wiped when
  // dropped.
  bool isSecret() const;

  // --- Bulk value changes
  // Makes this parameter's values those of other, notifying each change.
  void copyValuesFrom(ConfigParameter& other);
  // Drops every value above priority 0; false when there was none.
  bool resetValues(bool notify);
  // Calls the callbacks with 0 when the default is in force; returns the
  // effective priority.
  int notifyIfDefault();

  // --- Change callbacks (borrowed; appended in order)
  void addCallback(ParameterChangedCallback* cb);
  void removeCallback(ParameterChangedCallback* cb);

protected:
  ConfigParameter(const char* name, const char* description, const char* locDesc, ParamLevel level,
                  Configuration* owner, const char* attributes);
  // For clones: owned copies of the other's texts and its attributes.
  ConfigParameter(const ConfigParameter& other, Configuration* owner, bool);

  void notify(int priority);
  // Whether the owning configuration logs changes.
  bool logsChanges() const;
  void logSet(int priority) const;
  void logUnset(int priority) const;
  // Step 1 of setting: a policy value for a "noPolicy" parameter.
  bool refusesPriority(int priority) const;
  // For the text and byte types, whose names can mark them secret.
  void setHoldsBytes(bool holds) { holdsBytes_ = holds; }

private:
  friend class Configuration;
  void registerIn(Configuration* owner);

  Configuration* owner_ = nullptr;
  ConfigParameter* next_ = nullptr;
  const char* name_;
  const char* description_;
  const char* locDesc_;
  bool advanced_;
  bool ownsStrings_;
  bool holdsBytes_ = false;
  StringSet attributes_;
  std::vector<ParameterChangedCallback*> callbacks_;
};

// The value map and the setting and unsetting steps shared by every type.
// Subclasses parse and print T.
template <typename T> class TypedParameter : public ConfigParameter {
public:
  using ConfigParameter::getValueStr;
  using ConfigParameter::setParam;

  void unset(int priority, bool notify) override;
  String getValueStr() const override { return valueToStr(values_.rbegin()->second); }
  int getPriority() const override { return values_.rbegin()->first; }
  bool hasPriority(int priority) const override { return values_.count(priority) != 0; }
  String getValueStr(int priority) const override;
  std::map<int, String> getValues() const override;

protected:
  TypedParameter(const char* name, const char* description, const char* locDesc, const T& def,
                 ParamLevel level, Configuration* owner, const char* attributes)
      : ConfigParameter(name, description, locDesc, level, owner, attributes)
  {
    setHoldsBytes(kHoldsBytes);
    values_[kPriorityDefault] = def;
  }
  TypedParameter(const TypedParameter& other, Configuration* owner)
      : ConfigParameter(other, owner, true), values_(other.values_)
  {
    setHoldsBytes(kHoldsBytes);
  }
  ~TypedParameter() override;

  const T& effective() const { return values_.rbegin()->second; }
  // The common steps after parsing: policy check, no-op on equal value,
  // store, log, notify.
  bool setValueAt(const T& value, int priority);
  virtual String valueToStr(const T& value) const = 0;
  // What log lines show for a value.
  virtual String valueToLogStr(const T& value) const { return valueToStr(value); }

  // Wipes a value about to be dropped when this parameter is secret.
  void wipe(T& value) const;

  std::map<int, T> values_;

private:
  static constexpr bool kHoldsBytes =
      std::is_same<T, String>::value || std::is_same<T, MBuf<unsigned char>>::value;
};

extern template class TypedParameter<bool>;
extern template class TypedParameter<int>;
extern template class TypedParameter<String>;
extern template class TypedParameter<MBuf<unsigned char>>;

class BoolParameter : public TypedParameter<bool> {
public:
  BoolParameter(const char* name, const char* description, bool def,
                ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
                const char* attributes = nullptr);
  BoolParameter(const char* name, LocKey key, bool def, ParamLevel level = ParamLevel::kBasic,
                Configuration* owner = nullptr, const char* attributes = nullptr);

  using TypedParameter<bool>::setParam;
  bool setParam(const char* text, int priority) override;
  bool setParam(int value, int priority) override;
  int getInt() const override { return effective() ? 1 : 0; }
  const char* getTypeName() const override { return "bool"; }
  ConfigParameter* clone(Configuration* owner) const override;

  bool getValue() const { return effective(); }
  operator bool() const { return effective(); }
  bool setValue(bool value, int priority) { return setValueAt(value, priority); }

protected:
  BoolParameter(const BoolParameter& other, Configuration* owner)
      : TypedParameter<bool>(other, owner)
  {
  }
  String valueToStr(const bool& value) const override;
};

class IntParameter : public TypedParameter<int> {
public:
  IntParameter(const char* name, const char* description, int def,
               ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
               int min = INT_MIN, int max = INT_MAX, const char* attributes = nullptr);
  IntParameter(const char* name, LocKey key, int def, ParamLevel level = ParamLevel::kBasic,
               Configuration* owner = nullptr, int min = INT_MIN, int max = INT_MAX,
               const char* attributes = nullptr);

  using TypedParameter<int>::setParam;
  bool setParam(const char* text, int priority) override;
  bool setParam(int value, int priority) override { return setValue(value, priority); }
  int getInt() const override { return effective(); }
  const char* getTypeName() const override { return "int"; }
  ConfigParameter* clone(Configuration* owner) const override;

  int getValue() const { return effective(); }
  operator int() const { return effective(); }
  // False outside min..max.
  bool setValue(int value, int priority);
  int getMin() const { return min_; }
  int getMax() const { return max_; }

protected:
  IntParameter(const char* name, const char* description, const char* locDesc, int def,
               ParamLevel level, Configuration* owner, int min, int max, const char* attributes);
  IntParameter(const IntParameter& other, Configuration* owner)
      : TypedParameter<int>(other, owner), min_(other.min_), max_(other.max_)
  {
  }
  String valueToStr(const int& value) const override { return intToStr(value); }

  int min_;
  int max_;
};

// An index into a null-terminated table of names (static, not copied).
class EnumParameter : public IntParameter {
public:
  EnumParameter(const char* name, const char* description, const char* def,
                const char* const* names, ParamLevel level = ParamLevel::kBasic,
                Configuration* owner = nullptr, const char* attributes = nullptr);
  EnumParameter(const char* name, LocKey key, const char* def, const char* const* names,
                ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
                const char* attributes = nullptr);

  using IntParameter::setParam;
  bool setParam(const char* text, int priority) override;
  const char* getTypeName() const override { return "enum"; }
  ConfigParameter* clone(Configuration* owner) const override;
  String intToStr(int value) const override;

  // The index of the name (ignoring case), or fallback.
  int nameToIndex(const char* name, int fallback) const;
  int count() const { return max_ + 1; }
  const char* const* getNames() const { return names_; }

protected:
  EnumParameter(const EnumParameter& other, Configuration* owner)
      : IntParameter(other, owner), names_(other.names_)
  {
  }

  const char* const* names_;
};

class StringParameter : public TypedParameter<String> {
public:
  StringParameter(const char* name, const char* description, const char* def,
                  ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
                  const char* attributes = nullptr);
  StringParameter(const char* name, LocKey key, const char* def,
                  ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
                  const char* attributes = nullptr);

  using TypedParameter<String>::setParam;
  // Throws BadUtf8 for invalid UTF-8; refuses null.
  bool setParam(const char* text, int priority) override;
  const char* getTypeName() const override { return "string"; }
  ConfigParameter* clone(Configuration* owner) const override;

  // The effective text, never null.
  const char* getValue() const { return effective().str(); }
  operator const char*() const { return effective().str(); }

protected:
  StringParameter(const char* name, const char* description, const char* locDesc, const char* def,
                  ParamLevel level, Configuration* owner, const char* attributes);
  StringParameter(const StringParameter& other, Configuration* owner)
      : TypedParameter<String>(other, owner)
  {
  }
  String valueToStr(const String& value) const override { return value; }
};

// Bytes (an obfuscated password, for one) that never reach a log: every log
// line shows "<binary>" in their place. Always advanced.
class BinaryParameter : public TypedParameter<MBuf<unsigned char>> {
public:
  BinaryParameter(const char* name, const char* description, int defLength,
                  const unsigned char* def, ParamLevel level = ParamLevel::kBasic,
                  Configuration* owner = nullptr, const char* attributes = nullptr);
  BinaryParameter(const char* name, LocKey key, int defLength, const unsigned char* def,
                  ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
                  const char* attributes = nullptr);

  using TypedParameter<MBuf<unsigned char>>::setParam;
  // Hexadecimal text.
  bool setParam(const char* text, int priority) override;
  const char* getTypeName() const override { return "binary"; }
  ConfigParameter* clone(Configuration* owner) const override;

  // A copy of the effective bytes, wipe-on-free flag included.
  virtual void getValue(MBuf<unsigned char>& out) const;
  bool setValue(int length, const unsigned char* data, int priority);
  int getLength() const { return effective().length(); }

protected:
  BinaryParameter(const BinaryParameter& other, Configuration* owner)
      : TypedParameter<MBuf<unsigned char>>(other, owner)
  {
  }
  String valueToStr(const MBuf<unsigned char>& value) const override;
  String valueToLogStr(const MBuf<unsigned char>&) const override { return String("<binary>"); }
};

// A signed 64-bit number kept as "int64:" and 16 hexadecimal digits.
class S64Parameter : public TypedParameter<String> {
public:
  S64Parameter(const char* name, const char* description, int64_t def,
               ParamLevel level = ParamLevel::kBasic, Configuration* owner = nullptr,
               const char* attributes = nullptr);
  S64Parameter(const char* name, LocKey key, int64_t def, ParamLevel level = ParamLevel::kBasic,
               Configuration* owner = nullptr, const char* attributes = nullptr);

  using TypedParameter<String>::setParam;
  // "int64:" and 16 digits, or 16 digits of the bytes least significant first.
  bool setParam(const char* text, int priority) override;
  const char* getTypeName() const override { return "s64"; }
  ConfigParameter* clone(Configuration* owner) const override;

  bool setValue(int64_t value, int priority);
  int64_t getValue() const;

protected:
  S64Parameter(const S64Parameter& other, Configuration* owner)
      : TypedParameter<String>(other, owner)
  {
  }
  String valueToStr(const String& value) const override { return value; }
};

} // namespace plat
