// One-shot and periodic timers driven by the owning thread's loop.
//
// A plat::Timer is owned by its user (usually by value) and bound to a
// callback it does not own. start() schedules it on the calling thread's
// current plat::TimerManager; the manager keeps scheduled timers in a list
// sorted by deadline (equal deadlines in start order) and runs the due ones
// from processTimers(), which the thread's loop calls once per pass. So
// every callback runs on the manager's thread, one at a time, and nothing is
// locked: a manager and its timers belong to that thread.
//
// A callback may start, stop or destroy any timer, including its own: while
// it runs, its timer is idle as far as the manager is concerned, and after a
// false return the manager never touches the timer again. Managers nest (a
// modal loop makes its own); destroying one leaves its timers idle and gives
// the thread's previous manager back.
#pragma once

#include <stdint.h>

#include "plat/CircularVector.h"
#include "plat/Time.h"

namespace plat {

class TimerManager;

class Timer {
public:
  class Callback {
  public:
    virtual ~Callback() {}
    // True runs the timer again after the same interval, unless the callback
    // has started it again itself.
    virtual bool timerExpired(Timer* timer) = 0;
  };

  explicit Timer(Callback* callback) : callback_(callback) {}
  ~Timer() { stop(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Reschedules an active timer; 0 ms is due at the next pass. Negative
  // values count as 0.
  void start(int milliseconds);
  void stop();

  // Ticks until the deadline (negative when overdue).
  Time getRemaining() const;
  bool isStarted() const { return manager_ != nullptr; }
  int getInterval() const { return interval_; }

private:
  friend class TimerManager;

  Timer* next_ = nullptr;
  Timer* prev_ = nullptr;
  Time deadline_ = 0;
  int32_t interval_ = 0;
  Callback* callback_;
  // Null when idle and while the callback runs.
  TimerManager* manager_ = nullptr;
};

class TimerManager {
public:
  // Told the milliseconds until the earliest deadline (-1: none) whenever
  // the head of the schedule changes and after every pass.
  class Observer {
  public:
    virtual ~Observer() {}
    virtual void timeoutChanged(int milliseconds) = 0;
  };

  // Becomes the thread's current manager. A second manager on a thread is
  // allowed only when nested.
  explicit TimerManager(bool nested = false);
  virtual ~TimerManager();
  TimerManager(const TimerManager&) = delete;
  TimerManager& operator=(const TimerManager&) = delete;

  static TimerManager* current();

  // Milliseconds until the earliest deadline, rounded up and at least 0, or
  // -1 with nothing scheduled; now receives the time it was measured at.
  int getTimeout(Time* now = nullptr);
  // Runs the due timers: -1 when nothing is scheduled, the milliseconds
  // until the earliest deadline when nothing was due, 0 after running.
  int processTimers();

  void setObserver(Observer* observer) { observer_ = observer; }

private:
  friend class Timer;

  void schedule(Timer* timer, int32_t milliseconds);
  // Links a timer into the sorted list; true when it became the head.
  bool link(Timer* timer);
  void remove(Timer* timer);
  // The monotonic time, restarting every timer when the clock reports a jump.
  Time readTime(bool* jumped = nullptr);
  void notify();

  TimerManager* previous_;
  Timer* head_ = nullptr;
  Timer* tail_ = nullptr;
  CircularVector<Timer*> due_;
  Observer* observer_ = nullptr;
  // The last reading, to tell which way a reported jump went.
  Time lastNow_ = 0;
};

} // namespace plat
