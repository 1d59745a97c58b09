#include "hosted/BootstrapProgress.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>

#include "hosted/BootstrapConfig.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "rdr/PseudoRandomStream.h"

namespace hosted {

plat::StringParameter hostedDiscoveryOverride(
    "_HostedDiscoveryOverride",
    "An initial Discovery address to override the Bootstrap and Discovery addresses provided by "
    "the HostedConfig.",
    "");

namespace {

plat::LogSrc vlog("BootstrapProgress");

// Shuffles the last k entries of list with draws from rng.
template <class T> void shuffleTail(std::vector<T>& list, size_t k, rdr::InStream& rng)
{
  size_t first = list.size() - k;
  for (size_t i = 1; i < k; i++) {
    size_t j = rng.readU32Below((uint32_t)(i + 1));
    std::swap(list[first + i], list[first + j]);
  }
}

[[noreturn]] void emptyQueue(const char* expression, int line)
{
  PLAT_FAIL_AT(expression, "libs/hosted/BootstrapProgress", line);
}

} // namespace

void shuffleWithSeed(std::vector<plat::String>& list, uint64_t seed)
{
  rdr::PseudoRandomStream rng(seed, true);
  shuffleTail(list, list.size(), rng);
}

BootstrapProgress::BootstrapProgress(const char* principal)
  : seed_(plat::fnv1aHash(principal ? principal : ""))
{
}

void BootstrapProgress::addConfig(const BootstrapConfig& config)
{
  generation_++;
  maxBackoffSecs_ = config.maxBackoffSecs();
  const char* overrideUri = hostedDiscoveryOverride.getValue();
  if (*overrideUri) {
    addDiscovery(overrideUri);
    return;
  }
  rdr::PseudoRandomStream rng(seed_, true);
  size_t added = 0;
  for (const plat::String& uri : config.discoveryUris())
    added += addDiscovery(uri.str());
  shuffleTail(discoveryToTry_, added, rng);
  added = 0;
  // Queued addresses by text, so that a configuration of many addresses is
  // added in linear time. One queued again leaves a hole (a null address)
  // at its old place, closed once all are in.
  std::unordered_map<std::string, size_t> queued;
  for (size_t i = 0; i < bootstrapToTry_.size(); i++)
    queued.emplace(bootstrapToTry_[i].uri.str(), i);
  bool holes = false;
  for (const plat::String& base : config.bootstrapUris()) {
    for (int n = 0; n < config.configCount(); n++) {
      plat::String uri = plat::format("%s/%d", base.str(), n);
      auto it = queued.find(uri.str());
      if (it != queued.end()) {
        Entry again = std::move(bootstrapToTry_[it->second]);
        bootstrapToTry_[it->second].uri = plat::String();
        holes = true;
        again.generation = generation_;
        it->second = bootstrapToTry_.size();
        bootstrapToTry_.push_back(std::move(again));
      } else if (usedBootstrap_.count(uri)) {
        continue;
      } else {
        vlog.info("Adding Bootstrap URI: %s", uri.str());
        queued.emplace(uri.str(), bootstrapToTry_.size());
        bootstrapToTry_.push_back(Entry{std::move(uri), (uint32_t)n, generation_});
      }
      added++;
    }
  }
  if (holes)
    bootstrapToTry_.erase(std::remove_if(bootstrapToTry_.begin(), bootstrapToTry_.end(),
                                         [](const Entry& e) { return e.uri.isNull(); }),
                          bootstrapToTry_.end());
  shuffleTail(bootstrapToTry_, added, rng);
}

bool BootstrapProgress::addDiscovery(const char* uri)
{
  auto queued = std::find_if(discoveryToTry_.begin(), discoveryToTry_.end(),
                             [&](const plat::String& s) { return strcmp(s.str(), uri) == 0; });
  if (queued != discoveryToTry_.end()) {
    std::rotate(queued, queued + 1, discoveryToTry_.end());
    return true;
  }
  if (usedDiscovery_.count(plat::String(uri)))
    return false;
  vlog.info("Adding Discovery URI: %s", uri);
  discoveryToTry_.emplace_back(uri);
  return true;
}

const char* BootstrapProgress::nextBootstrap(const char* preferred)
{
  if (bootstrapToTry_.empty())
    emptyQueue("!bootstrapToTry.empty()", 44);
  Entry& last = bootstrapToTry_.back();
  if (preferred && strcmp(last.uri.str(), preferred) != 0) {
    for (size_t i = bootstrapToTry_.size() - 1; i-- > 0;) {
      if (bootstrapToTry_[i].generation != last.generation)
        break;
      if (strcmp(bootstrapToTry_[i].uri.str(), preferred) == 0) {
        std::swap(bootstrapToTry_[i], last);
        break;
      }
    }
  }
  Entry taken = std::move(bootstrapToTry_.back());
  bootstrapToTry_.pop_back();
  currentConfig_ = (int)taken.configNumber;
  usedBootstrap_.insert(taken.uri);
  currentBootstrap_ = std::move(taken.uri);
  return currentBootstrap_.str();
}

const char* BootstrapProgress::nextDiscovery()
{
  if (discoveryToTry_.empty())
    emptyQueue("!discoveryToTry.empty()", 68);
  currentDiscovery_ = std::move(discoveryToTry_.back());
  discoveryToTry_.pop_back();
  usedDiscovery_.insert(currentDiscovery_);
  return currentDiscovery_.str();
}

void BootstrapProgress::blacklistCurrent()
{
  const char* current = currentBootstrap_.str();
  const char* slash = strrchr(current, '/');
  plat::String prefix(current, slash ? (int)(slash - current) : -1);
  auto dropped = std::stable_partition(
      bootstrapToTry_.begin(), bootstrapToTry_.end(),
      [&](const Entry& e) { return !plat::strStartsWith(e.uri.str(), prefix.str()); });
  for (auto i = dropped; i != bootstrapToTry_.end(); ++i) {
    vlog.info("Request failed, blacklisting %s", i->uri.str());
    usedBootstrap_.insert(i->uri);
  }
  bootstrapToTry_.erase(dropped, bootstrapToTry_.end());
}

void BootstrapProgress::succeededCurrent()
{
  auto dropped = std::stable_partition(
      bootstrapToTry_.begin(), bootstrapToTry_.end(), [&](const Entry& e) {
        return !((int)e.configNumber == currentConfig_ && e.generation == generation_);
      });
  for (auto i = dropped; i != bootstrapToTry_.end(); ++i) {
    vlog.info("Request succeeded, discarding %s", i->uri.str());
    usedBootstrap_.insert(i->uri);
  }
  bootstrapToTry_.erase(dropped, bootstrapToTry_.end());
}

std::vector<plat::String> BootstrapProgress::bootstrapQueue() const
{
  std::vector<plat::String> out;
  for (const Entry& e : bootstrapToTry_)
    out.push_back(e.uri);
  return out;
}

} // namespace hosted
