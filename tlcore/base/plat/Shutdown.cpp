#include "plat/Shutdown.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "plat/Mutex.h"

namespace plat {

namespace {

struct Step {
  int order;
  void (*fn)();
};

// Leaked on purpose: the exit handler runs after some statics are gone.
struct Registry {
  Mutex mutex;
  std::vector<Step> steps;
};

Registry& registry()
{
  static Registry* r = new Registry;
  return *r;
}

// Trivially destructible, so it may be read at any time.
std::atomic<bool> exiting{false};

void atExit()
{
  exiting.store(true);
  shutdownSingletons();
}

} // namespace

void addShutdownStep(int order, void (*step)())
{
  Registry& r = registry();
  MutexLock lock(r.mutex);
  for (const Step& s : r.steps)
    if (s.fn == step)
      return;
  // A handler installed now runs before the statics that exist by now are
  // destroyed, including those made since an earlier shutdown.
  if (r.steps.empty())
    atexit(atExit);
  r.steps.push_back({order, step});
}

void shutdownSingletons()
{
  Registry& r = registry();
  for (;;) {
    Step next;
    {
      MutexLock lock(r.mutex);
      if (r.steps.empty())
        return;
      auto it = std::min_element(r.steps.begin(), r.steps.end(),
                                 [](const Step& a, const Step& b) { return a.order < b.order; });
      next = *it;
      r.steps.erase(it);
    }
    next.fn();
  }
}

bool isExiting()
{
  return exiting.load();
}

} // namespace plat
