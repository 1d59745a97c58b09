#include "plat/Timer.h"

#include <stdint.h>

#include "plat/Exception.h"
#include "plat/Log.h"

namespace plat {

namespace {

LogSrc vlog("TimerManager");

// The thread's current manager.
thread_local TimerManager* thrInst = nullptr;

// A reading more than this past the earliest deadline is one the clock may
// treat as a jump.
constexpr Time kJumpSlack = 240 * kTicksPerSecond;

// Rounded up, clamped to the int range; may be negative when overdue. A
// replacement clock may return anything, so all deadline arithmetic here
// saturates.
int msUntil(Time deadline, Time now)
{
  Time diff = subTimeSat(deadline, now);
  if (diff > INT64_MAX - (kTicksPerMilli - 1))
    return INT32_MAX;
  Time ms = (diff + kTicksPerMilli - 1) / kTicksPerMilli;
  if (ms > INT32_MAX)
    return INT32_MAX;
  if (ms < INT32_MIN)
    return INT32_MIN;
  return (int)ms;
}

int atLeastZero(int ms)
{
  return ms < 0 ? 0 : ms;
}

} // namespace

// --- Timer ------------------------------------------------------------------

void Timer::start(int milliseconds)
{
  if (milliseconds < 0)
    milliseconds = 0;
  if (manager_)
    manager_->remove(this);
  PLAT_ASSERT(thrInst);
  thrInst->schedule(this, milliseconds);
}

void Timer::stop()
{
  if (manager_)
    manager_->remove(this);
}

Time Timer::getRemaining() const
{
  return subTimeSat(deadline_, getMonoTime());
}

// --- TimerManager -----------------------------------------------------------

TimerManager::TimerManager(bool nested)
{
  PLAT_ASSERT(nested || !thrInst);
  previous_ = thrInst;
  thrInst = this;
}

TimerManager::~TimerManager()
{
  while (Timer* t = head_) {
    head_ = t->next_;
    t->next_ = t->prev_ = nullptr;
    t->manager_ = nullptr;
  }
  tail_ = nullptr;
  while (!due_.empty()) {
    due_.front()->manager_ = nullptr;
    due_.pop_front();
  }
  PLAT_ASSERT(thrInst == this);
  thrInst = previous_;
}

TimerManager* TimerManager::current()
{
  return thrInst;
}

int TimerManager::getTimeout(Time* now)
{
  Time t = readTime();
  if (now)
    *now = t;
  if (!due_.empty())
    return 0;
  if (!head_)
    return -1;
  return atLeastZero(msUntil(head_->deadline_, t));
}

int TimerManager::processTimers()
{
  // Timers left in the queue by a callback that threw are still due.
  if (!head_ && due_.empty())
    return -1;
  Time now = readTime();
  if (due_.empty() && head_->deadline_ > now)
    return atLeastZero(msUntil(head_->deadline_, now));

  while (head_ && head_->deadline_ <= now) {
    Timer* t = head_;
    head_ = t->next_;
    if (head_)
      head_->prev_ = nullptr;
    else
      tail_ = nullptr;
    t->next_ = t->prev_ = nullptr;
    due_.push_back(t);
  }

  while (!due_.empty()) {
    Timer* t = due_.front();
    due_.pop_front();
    t->manager_ = nullptr;
    // After false the owner may have destroyed the timer: leave it alone.
    if (!t->callback_->timerExpired(t) || t->manager_)
      continue;
    bool jumped;
    Time n = readTime(&jumped);
    Time interval = (Time)t->interval_ * kTicksPerMilli;
    Time deadline = addTimeSat(jumped ? n : t->deadline_, interval);
    // Keep the rhythm, but never fire in a burst to catch up.
    if (deadline <= n)
      deadline = addTimeSat(n, interval);
    t->deadline_ = deadline;
    t->manager_ = this;
    link(t);
  }
  notify();
  return 0;
}

void TimerManager::schedule(Timer* timer, int32_t milliseconds)
{
  Time now = readTime();
  timer->interval_ = milliseconds;
  timer->deadline_ = addTimeSat(now, (Time)milliseconds * kTicksPerMilli);
  timer->manager_ = this;
  if (link(timer))
    notify();
}

bool TimerManager::link(Timer* timer)
{
  // The new timer goes after every timer due at or before it (start order
  // for equal deadlines). The walk starts from the end whose deadline is
  // nearer, which makes both short and long intervals cheap.
  Timer* after;
  Time d = timer->deadline_;
  if (head_ && subTimeSat(d, head_->deadline_) < subTimeSat(tail_->deadline_, d)) {
    after = nullptr;
    for (Timer* t = head_; t && t->deadline_ <= d; t = t->next_)
      after = t;
  } else {
    after = tail_;
    while (after && after->deadline_ > d)
      after = after->prev_;
  }
  timer->prev_ = after;
  if (after) {
    timer->next_ = after->next_;
    after->next_ = timer;
  } else {
    timer->next_ = head_;
    head_ = timer;
  }
  if (timer->next_)
    timer->next_->prev_ = timer;
  else
    tail_ = timer;
  return head_ == timer;
}

void TimerManager::remove(Timer* timer)
{
  bool wasHead = head_ == timer;
  if (wasHead || timer->prev_) {
    if (timer->prev_)
      timer->prev_->next_ = timer->next_;
    else
      head_ = timer->next_;
    if (timer->next_)
      timer->next_->prev_ = timer->prev_;
    else
      tail_ = timer->prev_;
    timer->next_ = timer->prev_ = nullptr;
  } else {
    uint64_t size = due_.size();
    uint64_t i = due_.find(0, size, timer);
    PLAT_ASSERT(i < size);
    for (; i + 1 < size; i++)
      due_[i] = due_[i + 1];
    due_.pop_back();
  }
  timer->manager_ = nullptr;
  if (wasHead && observer_) {
    readTime();
    notify();
  }
}

Time TimerManager::readTime(bool* jumpedOut)
{
  Time limit = head_ ? addTimeSat(head_->deadline_, kJumpSlack) : -1;
  bool jumped = false;
  Time now = getMonoTime(limit, &jumped);
  if (jumpedOut)
    *jumpedOut = jumped;
  if (!jumped) {
    lastNow_ = now;
    return now;
  }

  // Which way it went is judged against the last reading, not the limit: a
  // clock that stepped back usually lands below the limit too.
  if (now >= lastNow_)
    vlog.status("Time has jumped forwards - restarting timers");
  else
    vlog.status("Time has moved backwards - restarting timers");
  lastNow_ = now;

  Timer* t = head_;
  head_ = tail_ = nullptr;
  while (t) {
    Timer* next = t->next_;
    t->next_ = t->prev_ = nullptr;
    t->deadline_ = addTimeSat(now, (Time)t->interval_ * kTicksPerMilli);
    link(t);
    t = next;
  }
  for (uint64_t i = 0; i < due_.size(); i++)
    due_[i]->deadline_ = now;
  notify();
  return now;
}

void TimerManager::notify()
{
  if (!observer_)
    return;
  int ms = -1;
  if (!due_.empty())
    ms = 0;
  else if (head_)
    ms = atLeastZero(msUntil(head_->deadline_, lastNow_));
  observer_->timeoutChanged(ms);
}

} // namespace plat
