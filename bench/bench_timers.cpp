// plat::TimerManager against a std::multimap<deadline, timer> schedule doing
// the same work: start N timers, run 200 passes of 10 ms of a replaced
// clock, each firing timer re-arming itself and every third one restarting
// another timer with a new interval. Prints our time over the map's.
//
// The manager's schedule is a sorted linked list, so start and stop are
// linear in the number of scheduled timers; the map is logarithmic. The
// sizes below show where that starts to matter.
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "plat/Time.h"
#include "plat/Timer.h"

#include "bench_util.h"

namespace {

using plat::Time;
constexpr Time kMs = plat::kTicksPerMilli;
constexpr int kPasses = 200;
constexpr int kStepMs = 10;

Time gNow;
Time benchClock(Time, bool*)
{
  return gNow;
}

int intervalFor(int i)
{
  return 1 + (int)(((unsigned)i * 7919u) % 1000u);
}
int otherFor(int i, int fired, int n)
{
  return (int)(((unsigned)i * 31u + (unsigned)fired) % (unsigned)n);
}

// --- Ours ---------------------------------------------------------------------

struct Workload;
struct OurTimer : plat::Timer::Callback {
  bool timerExpired(plat::Timer*) override;
  Workload* w;
  int index;
  plat::Timer timer{this};
};

struct Workload {
  explicit Workload(int n) : timers(n)
  {
    for (int i = 0; i < n; i++) {
      timers[i].w = this;
      timers[i].index = i;
    }
  }
  void run()
  {
    int n = (int)timers.size();
    for (int i = 0; i < n; i++)
      timers[i].timer.start(intervalFor(i));
    for (int p = 0; p < kPasses; p++) {
      gNow += kStepMs * kMs;
      manager.processTimers();
    }
    for (OurTimer& t : timers)
      t.timer.stop();
  }
  plat::TimerManager manager{true};
  std::vector<OurTimer> timers;
  std::vector<int> order;
  bool record = false;
  int fired = 0;
};

bool OurTimer::timerExpired(plat::Timer*)
{
  if (w->record)
    w->order.push_back(index);
  int n = (int)w->timers.size();
  if (++w->fired % 3 == 0) {
    int j = otherFor(index, w->fired, n);
    if (j != index)
      w->timers[j].timer.start(intervalFor(j + w->fired));
  }
  return true;
}

// --- Peer ---------------------------------------------------------------------

struct MapWorkload {
  struct PeerTimer {
    std::multimap<Time, PeerTimer*>::iterator it;
    bool active = false;
    int interval = 0;
    Time deadline = 0;
    int index = 0;
    int dueSlot = -1;
  };
  explicit MapWorkload(int n) : timers(n)
  {
    for (int i = 0; i < n; i++)
      timers[i].index = i;
  }
  void start(PeerTimer& t, int ms)
  {
    // Restarting a timer that waits in this pass's due list takes it out,
    // as the manager does with its due queue.
    if (t.dueSlot >= 0) {
      due[t.dueSlot] = nullptr;
      t.dueSlot = -1;
    }
    if (t.active)
      schedule.erase(t.it);
    t.interval = ms;
    t.deadline = gNow + ms * kMs;
    t.it = schedule.emplace(t.deadline, &t); // after equal keys: start order
    t.active = true;
  }
  bool expired(PeerTimer& t)
  {
    if (record)
      order.push_back(t.index);
    int n = (int)timers.size();
    if (++fired % 3 == 0) {
      int j = otherFor(t.index, fired, n);
      if (j != t.index)
        start(timers[j], intervalFor(j + fired));
    }
    return true;
  }
  void process()
  {
    Time now = gNow;
    // Take the due timers first so that re-armed ones wait for the next pass.
    due.clear();
    while (!schedule.empty() && schedule.begin()->first <= now) {
      PeerTimer* t = schedule.begin()->second;
      schedule.erase(schedule.begin());
      t->active = false;
      t->dueSlot = (int)due.size();
      due.push_back(t);
    }
    for (size_t k = 0; k < due.size(); k++) {
      PeerTimer* t = due[k];
      if (!t) // restarted by an earlier callback of this pass
        continue;
      t->dueSlot = -1;
      if (!expired(*t) || t->active)
        continue;
      Time d = t->deadline + t->interval * kMs;
      if (d <= now)
        d = now + t->interval * kMs;
      t->deadline = d;
      t->it = schedule.emplace(d, t);
      t->active = true;
    }
  }
  void run()
  {
    int n = (int)timers.size();
    for (int i = 0; i < n; i++)
      start(timers[i], intervalFor(i));
    for (int p = 0; p < kPasses; p++) {
      gNow += kStepMs * kMs;
      process();
    }
    schedule.clear();
    for (PeerTimer& t : timers)
      t.active = false;
  }
  std::multimap<Time, PeerTimer*> schedule;
  std::vector<PeerTimer> timers;
  std::vector<PeerTimer*> due;
  std::vector<int> order;
  bool record = false;
  int fired = 0;
};

void BM_TimerManager(benchmark::State& state)
{
  int n = (int)state.range(0);
  for (auto _ : state) {
    Workload w(n);
    w.run();
    benchmark::DoNotOptimize(w.fired);
  }
}

void BM_Multimap(benchmark::State& state)
{
  int n = (int)state.range(0);
  for (auto _ : state) {
    MapWorkload w(n);
    w.run();
    benchmark::DoNotOptimize(w.fired);
  }
}

const int kSizes[] = {10, 100, 1000, 10000};

BENCHMARK(BM_TimerManager)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Multimap)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

} // namespace

// Both schedules must fire the same timers in the same order, or the
// comparison means nothing.
bool sameOrder()
{
  Workload ours(1000);
  ours.record = true;
  ours.run();
  MapWorkload peer(1000);
  peer.record = true;
  peer.run();
  return !ours.order.empty() && ours.order == peer.order;
}

int main(int argc, char** argv)
{
  plat::setMonoClock(benchClock);
  if (!sameOrder()) {
    fprintf(stderr, "the manager and the map fired timers in different orders\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int n : kSizes) {
    std::string arg = std::to_string(n);
    if (double r = reporter.ratio("BM_TimerManager/" + arg, "BM_Multimap/" + arg))
      printf("%5d timers: TimerManager/std::multimap time ratio %.2f\n", n, r);
  }
  benchmark::Shutdown();
  plat::setMonoClock(nullptr);
  return 0;
}
