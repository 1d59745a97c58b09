#include "hosted/HostedBootstrapInfo.h"

#include <string.h>

#include <algorithm>

#include "hosted/BootstrapProgress.h"
#include "os/host.h"
#include "rdr/PseudoRandomStream.h"

namespace hosted {

plat::IntParameter hostedBootstrapMaxAttempts(
    "_HostedBootstrapMaxAttempts", "Maximum number of Bootstrap attempts before giving up.", 6, false,
    nullptr, 1,
    2147483647);
plat::StringParameter hostedBootstrapInfoOverride("_HostedBootstrapInfoOverride", "", "");

uint64_t hostedBootstrapSeed()
{
  return plat::fnv1aHash(os::getShortHostName().str());
}

std::vector<plat::String> hostedBootstrapCandidates(const BootstrapConfig& vendorBootstrap,
                                                    const char* cachedUrl, uint64_t seed,
                                                    int maxAttempts)
{
  std::vector<plat::String> candidates;
  rdr::PseudoRandomStream rng(seed, true);
  for (const plat::String& base : vendorBootstrap.bootstrapUris()) {
    if (cachedUrl && plat::strStartsWith(cachedUrl, base.str()))
      continue;
    uint32_t index = rng.readU32Below((uint32_t)vendorBootstrap.configCount());
    candidates.push_back(plat::format("%s/%u", base.str(), index));
  }
  shuffleWithSeed(candidates, seed);
  if (cachedUrl)
    candidates.emplace_back(cachedUrl);
  if (maxAttempts >= 0 && candidates.size() > (size_t)maxAttempts)
    candidates.resize(maxAttempts);
  return candidates;
}

namespace {

bool contains(const std::vector<plat::String>& list, const char* text)
{
  return std::any_of(list.begin(), list.end(),
                     [&](const plat::String& s) { return strcmp(s.str(), text) == 0; });
}

} // namespace

bool hostedBootstrapValues(std::vector<plat::String>& values, const plat::StringSet& handedOut,
                           const BootstrapConfig& config, const char* key,
                           const char* overrideText, uint64_t seed)
{
  std::vector<plat::String> overrides;
  plat::String items(overrideText ? overrideText : "");
  char* cursor = items.data();
  while (cursor) {
    char* item = plat::strTok(&cursor, ';');
    char* eq = strchr(item, '=');
    if (!eq)
      continue;
    *eq = 0;
    const char* value = eq + 1;
    if (strcmp(item, key) == 0 && !handedOut.count(plat::String(value)) &&
        !contains(overrides, value))
      overrides.emplace_back(value);
  }

  const char* entry = config.parameter(key);
  if (entry) {
    std::vector<plat::String> added;
    plat::String text(entry);
    char* c = text.data();
    while (c) {
      const char* item = plat::strTok(&c, ';');
      if (*item && !handedOut.count(plat::String(item)) && !contains(overrides, item))
        added.emplace_back(item);
    }
    shuffleWithSeed(added, seed);
    values.insert(values.end(), added.begin(), added.end());
  }
  values.insert(values.end(), overrides.begin(), overrides.end());
  return entry != nullptr;
}

} // namespace hosted
