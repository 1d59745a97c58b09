// Recursive mutexes, scoped locks and condition waits.
//
// Every mutex of the platform core is recursive (made with the process-wide
// attribute), so code that holds a lock may log, and log destinations may
// log again while they hold their own lock.
#pragma once

#include <pthread.h>

namespace plat {

// The process-wide recursive mutex attribute, made once.
const pthread_mutexattr_t* getRecursiveMutexAttr();

class Mutex {
public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();
  pthread_mutex_t* native() { return &m_; }

private:
  pthread_mutex_t m_;
};

class MutexLock {
public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.lock(); }
  ~MutexLock() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

private:
  Mutex& m_;
};

class Condition {
public:
  explicit Condition(Mutex& m);
  ~Condition();
  // Only -1 (no time-out) is supported; returns true.
  bool wait(int timeoutMs = -1);
  void signal();
  void broadcast();

private:
  Mutex& m_;
  pthread_cond_t c_;
};

} // namespace plat
