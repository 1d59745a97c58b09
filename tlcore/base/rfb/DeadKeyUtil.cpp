#include "rfb/DeadKeyUtil.h"

#include <string.h>

#include "plat/ConfigParameter.h"
#include "plat/Log.h"
#include "plat/numbers.h"
#include "rdr/FileInStream.h"
#include "rfb/Keysym.h"

namespace rfb {

namespace {

plat::LogSrc vlog("DeadKeyUtil");

plat::StringParameter deadKeyFileParam("DeadKeyFile", "File containing dead key information", "",
                                       plat::ParamLevel::kAdvanced);

constexpr int kBuiltInDeadSymbolCount = sizeof(kBuiltInDeadSymbols) / sizeof(kBuiltInDeadSymbols[0]);

uint32_t hexField(const plat::JsonArray& entry, int i)
{
  return plat::parseUInt(entry.get(i)->asString().str(), 16, nullptr, 0, 0xFFFFFFFF);
}

// The member's entries, each an array of exactly n hexadecimal texts.
std::vector<std::vector<uint32_t>> readEntries(const plat::JsonArray& list, int n)
{
  std::vector<std::vector<uint32_t>> out;
  out.reserve(list.size());
  for (const plat::JsonPtr<plat::JsonValue>& v : list) {
    const plat::JsonArray& entry = v->asArray();
    if (entry.size() != n)
      throw plat::Exception(1, "Expected %d values in a dead key entry, got %d", n, entry.size());
    std::vector<uint32_t> fields;
    for (int i = 0; i < n; i++)
      fields.push_back(hexField(entry, i));
    out.push_back(std::move(fields));
  }
  return out;
}

} // namespace

DeadKeyUtil::DeadKeyUtil()
  : deadSymbols_(kBuiltInDeadSymbols), deadSymbolCount_(kBuiltInDeadSymbolCount)
{
  for (const CombinationTable& t : kBuiltInCombinations)
    addTable(t);
  readDeadKeyFile();
}

void DeadKeyUtil::addTable(const CombinationTable& table)
{
  tables_.push_back(table);
  for (int i = 0; i < table.count; i++)
    byResult_[table.entries[i].result] = &table.entries[i];
}

void DeadKeyUtil::readDeadKeyFile(const char* language)
{
  deadSymbols_ = kBuiltInDeadSymbols;
  deadSymbolCount_ = kBuiltInDeadSymbolCount;
  const char* path = deadKeyFileParam.getValue();
  if (!*path)
    return;
  vlog.status("Reading dead key info from %s", path);
  try {
    rdr::FileInStream in(path);
    plat::JsonPtr<plat::JsonValue> doc = plat::JsonValue::parse(in, nullptr);
    const plat::JsonObject& object = doc->asObject();
    bool done = false;
    if (language && *language) {
      plat::DString key = plat::DString::format("deadKeys-%s", language);
      done = readDeadKeys(object, key.get());
    }
    if (!done)
      readDeadKeys(object, "deadKeys");
    readComps(object, "comps");
  } catch (plat::Exception& e) {
    vlog.status("Error reading dead key file: %s", e.str());
  }
}

bool DeadKeyUtil::readDeadKeys(const plat::JsonObject& object, const char* key)
{
  plat::JsonPtr<plat::JsonValue> member = object.tryGet(key);
  if (!member)
    return false;
  std::vector<std::vector<uint32_t>> entries = readEntries(member->asArray(), 2);
  vlog.info("Got %d dead keys", (int)entries.size());
  std::vector<DeadKeySymbol> symbols;
  for (const std::vector<uint32_t>& e : entries) {
    vlog.debug("spacing 0x%x dead 0x%x", e[0], e[1]);
    symbols.push_back({e[0], e[1]});
  }
  loadedDeadSymbols_ = std::move(symbols);
  deadSymbols_ = loadedDeadSymbols_.data();
  deadSymbolCount_ = (int)loadedDeadSymbols_.size();
  return true;
}

bool DeadKeyUtil::readComps(const plat::JsonObject& object, const char* key)
{
  if (!loadedComps_.empty())
    return false;
  plat::JsonPtr<plat::JsonValue> member = object.tryGet(key);
  if (!member)
    return false;
  std::vector<std::vector<uint32_t>> entries = readEntries(member->asArray(), 3);
  vlog.info("Got %d comps", (int)entries.size());
  std::vector<Combination> comps;
  for (const std::vector<uint32_t>& e : entries) {
    vlog.debug("comb 0x%x dead 0x%x base 0x%x", e[0], e[1], e[2]);
    comps.push_back({e[0], e[1], e[2]});
  }
  if (comps.empty())
    return false;
  loadedComps_ = std::move(comps);
  addTable({(int)loadedComps_.size(), loadedComps_.data()});
  return true;
}

bool DeadKeyUtil::processKey(uint32_t keysym, bool down, std::vector<uint32_t>& out)
{
  if (consumed_.erase(keysym) && !down)
    return true;
  if (keysym == keysym::Multi_key) {
    if (down)
      composing_ = true;
    return true;
  }
  if (composing_ && down && !isModifierKeysym(keysym)) {
    pending_ = deadForSpacing(keysym);
    composing_ = false;
    consumed_.insert(keysym);
    return true;
  }
  if (isDeadKeysym(keysym)) {
    if (down)
      pending_ = keysym;
    return true;
  }
  if (!pending_ || isModifierKeysym(keysym) || !down)
    return false;
  if (uint32_t result = findCombination(pending_, keysym)) {
    out.push_back(result);
  } else {
    out.push_back(spacingForDead(pending_));
    out.push_back(keysym);
  }
  pending_ = 0;
  consumed_.insert(keysym);
  return true;
}

bool DeadKeyUtil::decompose(uint32_t result, uint32_t& dead, uint32_t& base) const
{
  auto it = byResult_.find(result);
  if (it == byResult_.end())
    return false;
  dead = it->second->dead;
  base = it->second->base;
  return true;
}

uint32_t DeadKeyUtil::findCombination(uint32_t dead, uint32_t base) const
{
  for (const CombinationTable& t : tables_)
    for (int i = 0; i < t.count; i++)
      if (t.entries[i].dead == dead && t.entries[i].base == base)
        return t.entries[i].result;
  return 0;
}

uint32_t DeadKeyUtil::deadForSpacing(uint32_t spacing) const
{
  for (int i = 0; i < deadSymbolCount_; i++)
    if (deadSymbols_[i].spacing == spacing)
      return deadSymbols_[i].dead;
  return 0;
}

uint32_t DeadKeyUtil::spacingForDead(uint32_t dead) const
{
  for (int i = 0; i < deadSymbolCount_; i++)
    if (deadSymbols_[i].dead == dead)
      return deadSymbols_[i].spacing;
  return 0;
}

} // namespace rfb
