#include "plat/Thread.h"

#include <errno.h>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/String.h"

namespace plat {

namespace {

LogSrc vlog("Threading");

// Native objects are owned by their thread's slot and freed when that
// thread ends; objects of started threads belong to their owners.
void freeNative(void* value)
{
  Thread* thread = static_cast<Thread*>(value);
  if (thread->getState() == Thread::kNative)
    delete thread;
}

struct CurrentSlot {
  CurrentSlot() { pthread_key_create(&key, freeNative); }
  ~CurrentSlot() { pthread_key_delete(key); }
  pthread_key_t key;
};

pthread_key_t currentKey()
{
  static CurrentSlot slot;
  return slot.key;
}

// Made by this unit's static initialisation so that the key exists before
// any thread can race for it.
const pthread_key_t initialKey = currentKey();

} // namespace

Thread::Thread(const char* name, ThreadRunner* runner)
    : name_(strDup(name ? name : "")), runner_(runner), state_(kCreated)
{
  logEvent("created", handle_);
}

Thread::Thread(pthread_t native)
    : name_(strDup("Native")), handle_(native), runner_(nullptr), state_(kNative)
{
  logEvent("native", handle_);
}

Thread::~Thread()
{
  logEvent("destroy", handle_);
  join();
  logEvent("destroyed", handle_);
  delete[] name_;
}

void Thread::start()
{
  MutexLock lock(mutex_);
  if (state_ != kCreated)
    return;
  state_ = kStarted;
  pthread_t handle;
  int err = pthread_create(&handle, nullptr, body, this);
  if (err != 0) {
    // Not started: a join must not wait for a thread that never existed.
    state_ = kCreated;
    throw SystemException("pthread_create", err);
  }
  handle_ = handle;
}

void Thread::join()
{
  {
    MutexLock lock(mutex_);
    if (state_ == kNative || state_ == kJoined)
      return;
  }
  logEvent("join", handle_);
  if (handle_)
    pthread_join(handle_, nullptr);
  {
    MutexLock lock(mutex_);
    state_ = kJoined;
  }
  logEvent("joined", handle_);
}

Thread* Thread::current()
{
  pthread_key_t key = currentKey();
  Thread* thread = static_cast<Thread*>(pthread_getspecific(key));
  if (!thread) {
    thread = new Thread(pthread_self());
    pthread_setspecific(key, thread);
  }
  return thread;
}

Thread::State Thread::getState()
{
  MutexLock lock(mutex_);
  return state_;
}

void Thread::run()
{
  if (runner_)
    runner_->run(this);
}

void* Thread::body(void* self)
{
  Thread* thread = static_cast<Thread*>(self);
  pthread_setspecific(currentKey(), thread);
  // handle_ is written by the creating thread; our own id is the same value
  // without the race.
  pthread_t handle = pthread_self();
  thread->logEvent("started", handle);
  try {
    thread->run();
    thread->logEvent("stopped", handle);
  } catch (Exception& e) {
    thread->logEvent("failed", handle, e.str());
  }
  MutexLock lock(thread->mutex_);
  thread->state_ = kFinished;
  return nullptr;
}

void Thread::logEvent(const char* event, pthread_t handle, const char* detail)
{
  vlog.info("%-9s %s %lx%s%s", event, name_, (unsigned long)handle, detail ? ": " : "",
            detail ? detail : "");
}

} // namespace plat
