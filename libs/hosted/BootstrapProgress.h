// The memory of one bootstrap run: which bootstrap addresses are still to
// be tried, which discovery addresses are known, and which addresses are
// used up. Each configuration added turns into numbered bootstrap addresses
// ("%s/%d" of each base and number) and discovery addresses, ordered by a
// shuffle that is random per client but repeatable: it is seeded from the
// client's principal. Queues are taken from the end; an address taken,
// blacklisted or discarded is never queued again by the same object.
//
// Plain value owned by its driver; not stored. Loop thread.
#pragma once

#include <stdint.h>

#include <vector>

#include "hosted/Forward.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"

namespace hosted {

// `_HostedDiscoveryOverride`.
extern plat::StringParameter hostedDiscoveryOverride;

// Shuffles list in place: for i = 1 .. size-1, j = a draw below i + 1 from a
// deterministic pseudo-random stream of seed, swap i and j.
void shuffleWithSeed(std::vector<plat::String>& list, uint64_t seed);

class BootstrapProgress {
public:
  // A null principal hashes as the empty text.
  explicit BootstrapProgress(const char* principal);

  void addConfig(const BootstrapConfig& config);
  // The next bootstrap address; a preferred one (may be null) queued under
  // the newest generation is taken first. An empty queue is fatal.
  const char* nextBootstrap(const char* preferred);
  // The next discovery address; an empty queue is fatal.
  const char* nextDiscovery();
  // After a failed fetch: drops every queued address that shares the
  // current one's text up to its last "/".
  void blacklistCurrent();
  // After a successful fetch: drops the queued addresses of the same
  // configuration number and generation (its mirrors on other servers).
  void succeededCurrent();

  // --- Queries
  bool bootstrapEmpty() const { return bootstrapToTry_.empty(); }
  bool discoveryEmpty() const { return discoveryToTry_.empty(); }
  const char* currentBootstrap() const { return currentBootstrap_.get(); }
  const char* currentDiscovery() const { return currentDiscovery_.get(); }
  int currentConfigNumber() const { return currentConfig_; }
  uint32_t maxBackoffSecs() const { return maxBackoffSecs_; }
  uint32_t generation() const { return generation_; }
  uint64_t seed() const { return seed_; }
  // The queued addresses, next one last.
  std::vector<plat::String> bootstrapQueue() const;
  const std::vector<plat::String>& discoveryQueue() const { return discoveryToTry_; }

private:
  struct Entry {
    plat::String uri;
    uint32_t configNumber;
    uint32_t generation;
  };
  bool addDiscovery(const char* uri);

  uint64_t seed_;
  plat::String currentBootstrap_;
  plat::String currentDiscovery_;
  int currentConfig_ = -1;
  std::vector<Entry> bootstrapToTry_;
  std::vector<plat::String> discoveryToTry_;
  plat::StringSet usedBootstrap_;
  plat::StringSet usedDiscovery_;
  uint32_t maxBackoffSecs_ = UINT32_MAX;
  uint32_t generation_ = 0;
};

} // namespace hosted
