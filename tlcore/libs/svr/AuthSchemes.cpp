#include "svr/AuthSchemes.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <map>

#include "loc/Localize.h"
#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"

namespace svr {

namespace {

struct Scheme {
  const char* value;
  const char* displayKey;
  const char* descKey;
  // The texts take the platform word as their first argument.
  bool platformDisplay;
  bool platformDesc;
  // Ids 6 to 8: the display name of id 2, " + " and this key.
  const char* secondStepKey;
};

const Scheme kSchemes[] = {
    {"None", "svr_sauthentication_none", "svr_sauthentication_desc_none", false, false, nullptr},
    {"ZarnAuth", "svr_sauthentication_zarn_password", "svr_sauthentication_desc_zarn_password",
     false, false, nullptr},
    {"SystemAuth", "svr_sauthentication_system_password",
     "svr_sauthentication_desc_system_password", true, true, nullptr},
    {"SingleSignOn,SystemAuth", "svr_sauthentication_single_sign_on",
     "svr_sauthentication_desc_single_sign_on", false, false, nullptr},
    {"InteractiveSystemAuth", "svr_sauthentication_interactivesystem",
     "svr_sauthentication_desc_interactivesystem", true, true, nullptr},
    {"Certificate", "svr_sauthentication_public_key", "svr_sauthentication_desc_public_key", false,
     false, nullptr},
    {"SystemAuth+Radius", nullptr, "svr_sauthentication_desc_system_radius", false, true,
     "svr_sauthentication_radius"},
    {"SystemAuth+Duo", nullptr, "svr_sauthentication_desc_system_duo", false, true,
     "svr_sauthentication_duo"},
    {"SystemAuth+SecurID", nullptr, "svr_sauthentication_desc_system_securid", false, true,
     "svr_sauthentication_securid"},
};
constexpr unsigned kNamedSchemes = sizeof(kSchemes) / sizeof(kSchemes[0]);

plat::String translated(const char* key, bool withPlatform)
{
  if (!withPlatform)
    return plat::String(LOC_TR(key));
  return loc::formatArgs(LOC_TR_RAW(key), systemAuthPlatformName());
}

struct Registry {
  std::map<plat::String, unsigned, plat::StringLess> numbers;
  std::vector<void (*)()> changed;
};

Registry& registry()
{
  static Registry r;
  return r;
}

// The pieces of text between separators (empty ones included); null gives
// none.
std::vector<plat::String> split(const char* text, char sep)
{
  std::vector<plat::String> pieces;
  if (!text)
    return pieces;
  for (const char* p = text;; ) {
    const char* e = strchr(p, sep);
    pieces.emplace_back(p, e ? (int)(e - p) : -1);
    if (!e)
      break;
    p = e + 1;
  }
  return pieces;
}

bool mentions(const char* methodName, const char* value)
{
  return parseAuthentication(value, false).containsMethodName(methodName);
}

} // namespace

plat::String authSchemeName(unsigned id, const char* defaultValue)
{
  return plat::String(id < kNamedSchemes ? kSchemes[id].value : defaultValue);
}

unsigned authSchemeFromName(const char* value)
{
  if (value)
    for (unsigned id = 0; id < kNamedSchemes; id++)
      if (strcasecmp(value, kSchemes[id].value) == 0)
        return id;
  return kAuthCustom;
}

unsigned authSchemeFromConfig(plat::Configuration& config)
{
  if (strcasecmp(config.getStringParam("SecurityTypes").getValue(), "<auto>") != 0)
    return kAuthCustom;
  return authSchemeFromName(config.getStringParam("Authentication").getValue());
}

plat::String authSchemeDisplayName(unsigned id)
{
  if (id == kAuthCustom)
    return plat::String(LOC_TR("svr_sauthentication_custom"));
  if (id >= kNamedSchemes)
    return plat::String("");
  const Scheme& s = kSchemes[id];
  if (s.secondStepKey)
    return plat::format("%s + %s", authSchemeDisplayName(kAuthSystem).str(),
                        LOC_TR(s.secondStepKey));
  return translated(s.displayKey, s.platformDisplay);
}

plat::String authSchemeDescription(unsigned id)
{
  if (id >= kNamedSchemes)
    return plat::String("");
  return translated(kSchemes[id].descKey, kSchemes[id].platformDesc);
}

const char* systemAuthPlatformName()
{
  return "UNIX";
}

void registerAuthMethod(const char* name, unsigned number, bool add)
{
  Registry& r = registry();
  if (add)
    r.numbers[plat::String(name)] = number;
  else
    r.numbers.erase(plat::String(name));
  // A copy: a change function may add or remove change functions.
  std::vector<void (*)()> fns = r.changed;
  for (void (*fn)() : fns)
    fn();
}

void addAuthMethodsChangedFn(void (*fn)())
{
  registry().changed.push_back(fn);
}

void removeAuthMethodsChangedFn(void (*fn)())
{
  std::vector<void (*)()>& v = registry().changed;
  v.erase(std::remove(v.begin(), v.end(), fn), v.end());
}

unsigned authMethodNumber(const char* name)
{
  const Registry& r = registry();
  auto it = r.numbers.find(plat::String(name));
  return it == r.numbers.end() ? 0 : it->second;
}

tlauth::SAuthFlows parseAuthentication(const char* value, bool strict)
{
  tlauth::SAuthFlows flows;
  for (const plat::String& piece : split(value, ',')) {
    if (piece.length() == 0)
      continue;
    if (strcasecmp(piece.get(), "None") == 0) {
      flows.emplace_back();
      continue;
    }
    tlauth::SAuthFlow flow;
    for (plat::String& part : split(piece.get(), '+')) {
      unsigned number = authMethodNumber(part.get());
      if (number == 0) {
        if (strict)
          throw plat::ExceptionFmt("Unknown auth method \"%s\"", part.str());
        continue;
      }
      flow.push_back(tlauth::SAuthStep{number, std::move(part)});
    }
    if (!flow.empty())
      flows.push_back(std::move(flow));
  }
  return flows;
}

plat::String authenticationToString(const tlauth::SAuthFlows& flows)
{
  plat::DString out;
  for (size_t i = 0; i < flows.size(); i++) {
    if (i > 0)
      out.append(",");
    if (flows[i].empty())
      out.append("None");
    for (size_t j = 0; j < flows[i].size(); j++) {
      if (j > 0)
        out.append("+");
      out.append(flows[i][j].name.str());
    }
  }
  return plat::String(out.get());
}

std::vector<plat::String> singleStepAuthNames(const char* value)
{
  std::vector<plat::String> names;
  for (plat::String& piece : split(value, ',')) {
    if (strchr(piece.get(), '+'))
      continue;
    unsigned number = authMethodNumber(piece.get());
    if (strcasecmp(piece.get(), "None") == 0 || number == 1 || number == 4)
      names.push_back(std::move(piece));
  }
  return names;
}

bool authenticationAllowsNone(const char* value)
{
  tlauth::SAuthFlows flows = parseAuthentication(value, false);
  return std::any_of(flows.begin(), flows.end(),
                     [](const tlauth::SAuthFlow& f) { return f.empty(); });
}

bool authenticationMentions(const char* methodName, const char* value, const char* fallbackValue)
{
  if (mentions(methodName, value))
    return true;
  return fallbackValue && mentions(methodName, fallbackValue);
}

bool configAuthenticationHasMethod1(plat::Configuration& config)
{
  return parseAuthentication(config.getStringParam("Authentication").getValue(), false)
      .containsMethod(1);
}

} // namespace svr
