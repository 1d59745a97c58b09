#include "plat/Mutex.h"

#include <errno.h>
#include <stdio.h>

#include "plat/Exception.h"

namespace plat {

namespace {

// Made on first use (thread-safe static initialisation) and destroyed at
// exit after every static mutex that was built from it.
struct RecursiveAttr {
  RecursiveAttr()
  {
    pthread_mutexattr_init(&attr);
    if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) != 0)
      fputs("WARNING: system libpthread has no recursive mutexes; deadlock may result.\n", stderr);
  }
  ~RecursiveAttr() { pthread_mutexattr_destroy(&attr); }
  pthread_mutexattr_t attr;
};

} // namespace

const pthread_mutexattr_t* getRecursiveMutexAttr()
{
  static RecursiveAttr attr;
  return &attr.attr;
}

Mutex::Mutex()
{
  pthread_mutex_init(&m_, getRecursiveMutexAttr());
}

Mutex::~Mutex()
{
  pthread_mutex_destroy(&m_);
}

void Mutex::lock()
{
  pthread_mutex_lock(&m_);
}

void Mutex::unlock()
{
  pthread_mutex_unlock(&m_);
}

Condition::Condition(Mutex& m) : m_(m)
{
  pthread_cond_init(&c_, nullptr);
}

Condition::~Condition()
{
  pthread_cond_destroy(&c_);
}

bool Condition::wait(int timeoutMs)
{
  PLAT_ASSERT_FMT(timeoutMs == -1, "Condition timed wait not implemented yet");
  pthread_cond_wait(&c_, m_.native());
  return true;
}

void Condition::signal()
{
  pthread_cond_signal(&c_);
}

void Condition::broadcast()
{
  pthread_cond_broadcast(&c_);
}

} // namespace plat
