// Writing parameter descriptions as XML and building parameters from them.

#include "plat/XmlConfig.h"

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "plat/numbers.h"
#include "rdr/MemOutStream.h"

namespace plat {

namespace {

const char kIncompatible[] = "Incompatible XML config";

int compareNoCase(const char* a, const char* b)
{
  for (;; a++, b++) {
    int x = (unsigned char)*a, y = (unsigned char)*b;
    if (x >= 'A' && x <= 'Z')
      x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z')
      y += 'a' - 'A';
    if (x != y || !x)
      return x - y;
  }
}

bool equalsNoCase(const char* a, const char* b)
{
  return a && b && compareNoCase(a, b) == 0;
}

// The choices of a loaded enumeration live as long as the parameter, so
// they are a base constructed before the parameter itself.
struct ChoiceTable {
  std::vector<String> names;
  std::vector<const char*> table;

  explicit ChoiceTable(std::vector<String> n) : names(std::move(n)) { build(); }
  ChoiceTable(const ChoiceTable& other) : names(other.names) { build(); }
  void build()
  {
    table.clear();
    for (const String& s : names)
      table.push_back(s.str());
    table.push_back(nullptr);
  }
};

class LoadedEnumParameter : private ChoiceTable, public EnumParameter {
public:
  LoadedEnumParameter(const char* name, const char* description, std::vector<String> choices,
                      ParamLevel level, Configuration* owner)
      : ChoiceTable(std::move(choices)),
        EnumParameter(name, description, "", table.data(), level, owner)
  {
  }
  LoadedEnumParameter(const char* name, LocKey key, std::vector<String> choices, ParamLevel level,
                      Configuration* owner)
      : ChoiceTable(std::move(choices)), EnumParameter(name, key, "", table.data(), level, owner)
  {
  }
  ConfigParameter* clone(Configuration* owner) const override
  {
    return new LoadedEnumParameter(*this, owner);
  }

private:
  LoadedEnumParameter(const LoadedEnumParameter& other, Configuration* owner)
      : ChoiceTable(other), EnumParameter(other, owner)
  {
    names_ = table.data();
  }
};

int readInt(const char* text, int fallback)
{
  if (!text)
    return fallback;
  const char* p = text;
  int value;
  if (!strToInt(&value, &p, 10) || *p)
    throw Exception(kIncompatible);
  return value;
}

// Creates the parameter that element describes in owner (which adopts it),
// or returns null when the filter refuses it.
ConfigParameter* createParam(const xml::XmlNode& element, Configuration& owner,
                             XmlConfig::Filter* filter)
{
  const char* type = element.name();
  const char* name = element.attribute("name");
  const char* description = element.attribute("description");
  const char* locDesc = element.attribute("locDesc");
  const char* advancedText = element.attribute("advanced");
  bool advanced = advancedText && equalsNoCase(advancedText, "true");
  ParamLevel level = advanced ? ParamLevel::kAdvanced : ParamLevel::kBasic;
  const char* flags = element.attribute("flags");
  if (!name || (!description && !locDesc) || element.childCount("value") == 0)
    throw Exception(kIncompatible);
  if (filter && !filter->accept(name, type, advanced))
    return nullptr;

  // Texts point into the document, which outlives the staging parameters.
  ConfigParameter* p;
  bool keyed = locDesc != nullptr;
  LocKey key{locDesc};
  if (equalsNoCase(type, "string")) {
    p = keyed ? new StringParameter(name, key, "", level, &owner)
              : new StringParameter(name, description, "", level, &owner);
  } else if (equalsNoCase(type, "bool")) {
    p = keyed ? new BoolParameter(name, key, false, level, &owner)
              : new BoolParameter(name, description, false, level, &owner);
  } else if (equalsNoCase(type, "int")) {
    int min = readInt(element.attribute("min"), INT_MIN);
    int max = readInt(element.attribute("max"), INT_MAX);
    p = keyed ? new IntParameter(name, key, 0, level, &owner, min, max)
              : new IntParameter(name, description, 0, level, &owner, min, max);
  } else if (equalsNoCase(type, "enum")) {
    std::vector<String> choices;
    for (int pos = -1;;) {
      xml::XmlNode opt = element.child("opt", &pos);
      if (opt.isEmpty())
        break;
      const char* data = opt.attribute("data");
      if (!data)
        throw Exception(kIncompatible);
      choices.emplace_back(data);
    }
    // An enumeration needs at least one choice to hold a value at all.
    if (choices.empty())
      throw Exception(kIncompatible);
    p = keyed ? new LoadedEnumParameter(name, key, std::move(choices), level, &owner)
              : new LoadedEnumParameter(name, description, std::move(choices), level, &owner);
  } else if (equalsNoCase(type, "binary")) {
    p = keyed ? new BinaryParameter(name, key, 0, nullptr, level, &owner)
              : new BinaryParameter(name, description, 0, nullptr, level, &owner);
  } else if (equalsNoCase(type, "s64")) {
    p = keyed ? new S64Parameter(name, key, 0, level, &owner)
              : new S64Parameter(name, description, 0, level, &owner);
  } else {
    throw Exception(kIncompatible);
  }
  owner.adoptParam(p);
  if (flags)
    p->setAttributes(flags);

  for (int pos = -1;;) {
    xml::XmlNode value = element.child("value", &pos);
    if (value.isEmpty())
      break;
    const char* data = value.attribute("data");
    const char* priority = value.attribute("priority");
    if (!data || !priority)
      throw Exception(kIncompatible);
    // The parameter applies (and reports) its own parsing and range rules.
    p->setParam(data, readInt(priority, 0));
  }
  return p;
}

} // namespace

// --- Writing --------------------------------------------------------------------------

XmlConfig::Writer::Writer(rdr::OutStream& out, bool useLocDesc)
    : out_(&out), useLocDesc_(useLocDesc)
{
  out_.write("<?xml version=\"1.0\"?>\n<config>\n");
}

void XmlConfig::Writer::writeEscaped(const char* text)
{
  out_.write(escaper_.toXmlString(text));
}

void XmlConfig::Writer::writeParams(Configuration* cfg, bool includeHidden, Filter* filter)
{
  if (!cfg)
    return;
  std::vector<ConfigParameter*> params;
  for (Configuration::ParamIterator it(*cfg, true); it; it.next()) {
    if (it->isHidden() && !includeHidden)
      continue;
    if (filter && !filter->accept(it->getName(), it->getTypeName(), it->isAdvanced()))
      continue;
    params.push_back(it.get());
  }
  std::stable_sort(params.begin(), params.end(), [](ConfigParameter* a, ConfigParameter* b) {
    return compareNoCase(a->getName(), b->getName()) < 0;
  });
  for (ConfigParameter* p : params)
    writeParam(p);
}

void XmlConfig::Writer::writeParam(ConfigParameter* p)
{
  const char* type = p->getTypeName();
  out_.printf("<%-6s name=\"", type);
  writeEscaped(p->getName());
  if (useLocDesc_ && p->getLocDesc()) {
    out_.write("\"\n        locDesc=\"");
    writeEscaped(p->getLocDesc());
  } else {
    out_.write("\"\n        description=\"");
    writeEscaped(p->getDescription());
  }
  out_.printf("\"\n        advanced=\"%s\"", p->isAdvanced() ? "true" : "false");
  const StringSet& attributes = p->getAttributes();
  if (!attributes.empty()) {
    DString joined;
    for (auto it = attributes.begin(); it != attributes.end(); ++it) {
      if (it != attributes.begin())
        joined.append(",");
      joined.append(it->str());
    }
    out_.write("\n        flags=\"");
    writeEscaped(joined.get());
    out_.write("\"");
  }
  if (auto* ip = dynamic_cast<IntParameter*>(p))
    out_.printf("\n        min=\"%i\"\n        max=\"%i\"", ip->getMin(), ip->getMax());
  out_.write(">\n");
  for (const auto& v : p->getValues()) {
    out_.write("    <value data=\"");
    writeEscaped(v.second.str());
    out_.printf("\" priority=\"%i\"/>\n", v.first);
  }
  if (auto* ep = dynamic_cast<EnumParameter*>(p)) {
    for (const char* const* n = ep->getNames(); n && *n; n++) {
      out_.write("    <opt data=\"");
      writeEscaped(*n);
      out_.write("\"/>\n");
    }
  }
  out_.printf("</%s>\n", type);
}

void XmlConfig::Writer::close()
{
  out_.write("</config>\n");
}

char* XmlConfig::toXml(Configuration* cfg, XmlParts parts, Filter* filter)
{
  rdr::MemOutStream out;
  Writer writer(out, hasAny(parts, XmlParts::kLocDescKeys));
  writer.writeParams(cfg, hasAny(parts, XmlParts::kHiddenParams), filter);
  writer.close();
  out.nulTerminate();
  return reinterpret_cast<char*>(out.releaseData());
}

void XmlConfig::writeUsage(Configuration& config, FILE* out)
{
  std::unique_ptr<char[]> text(toXml(&config, XmlParts::kNone));
  fputs(text.get(), out);
}

// --- Reading --------------------------------------------------------------------------

void XmlConfig::load(Configuration& cfg, const char* xmlText, Filter* filter)
{
  xml::XmlResults res;
  xml::XmlNode root = xml::XmlNode::parseString(xmlText, "config", &res);
  // A document the XML layer had to repair (a missing end tag, say) is as
  // unusable as a broken one: its parameters could be cut short.
  if (res.error != xml::kXmlNoError)
    throw Exception(0, "XML error %i:%i %s", res.line, res.column, xml::errorText(res.error));

  // Built aside, so that a failure halfway leaves cfg untouched.
  Configuration staging("XmlConfig");
  staging.logChanges = cfg.logChanges;
  std::vector<ConfigParameter*> created;
  std::set<String, StringCaseLess> names;
  for (int i = 0, n = root.childCount(); i < n; i++) {
    if (ConfigParameter* p = createParam(root.child(i), staging, filter)) {
      // A second parameter of a name would hide the first from every
      // lookup: the document does not describe one set of parameters.
      if (!names.insert(String(p->getName())).second)
        throw Exception(kIncompatible);
      created.push_back(p);
    }
  }

  cfg.clear();
  // Clones own their texts; made in document order, as if read into cfg.
  for (ConfigParameter* p : created)
    cfg.adoptParam(p->clone(&cfg));
}

} // namespace plat
