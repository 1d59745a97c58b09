#include "hosted/BootstrapProgress.h"

#include <string.h>

#include <algorithm>

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
  plat::AssertionFail(expression, "libs/hosted/BootstrapProgress", line).fatal();
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
  for (const plat::String& base : config.bootstrapUris())
    for (int n = 0; n < config.configCount(); n++)
      added += addBootstrap(plat::format("%s/%d", base.str(), n), (uint32_t)n);
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

bool BootstrapProgress::addBootstrap(plat::String&& uri, uint32_t configNumber)
{
  auto queued = std::find_if(bootstrapToTry_.begin(), bootstrapToTry_.end(),
                             [&](const Entry& e) { return strcmp(e.uri.str(), uri.str()) == 0; });
  if (queued != bootstrapToTry_.end()) {
    queued->generation = generation_;
    std::rotate(queued, queued + 1, bootstrapToTry_.end());
    return true;
  }
  if (usedBootstrap_.count(uri))
    return false;
  vlog.info("Adding Bootstrap URI: %s", uri.str());
  bootstrapToTry_.push_back(Entry{std::move(uri), configNumber, generation_});
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
