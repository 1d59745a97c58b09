// Named POSIX threads with a small state machine and a log line per event.
//
// A plat::Thread runs its plat::ThreadRunner (borrowed; it must outlive the
// thread) on a new native thread once start() is called. Destroying the
// object joins the thread, so an owner that deletes it waits for the runner
// to return. Objects made by current() stand for threads this code did not
// start (the main thread): they are "native", never joined, and belong to
// the thread's slot. State is guarded by the object's recursive mutex;
// join() and the destructor belong to one owner.
#pragma once

#include <pthread.h>

#include "plat/Mutex.h"

namespace plat {

class Thread;

class ThreadRunner {
public:
  virtual ~ThreadRunner() {}
  virtual void run(Thread* thread) = 0;
};

class Thread {
public:
  enum State { kCreated = 0, kStarted = 1, kFinished = 2, kJoined = 3, kNative = 4 };

  Thread(const char* name, ThreadRunner* runner);
  // Stands for a thread that already runs; see current().
  explicit Thread(pthread_t native);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Only the first call starts a thread. Throws plat::SystemException
  // ("pthread_create") when none can be made; the object then stays
  // created, and joining or destroying it returns at once.
  void start();
  // Waits for the thread's body to return; nothing for a native object or
  // one already joined.
  void join();

  // The calling thread's object; a native one is made for threads not
  // started here.
  static Thread* current();

  const char* getName() const { return name_; }
  pthread_t getHandle() const { return handle_; }
  State getState();

protected:
  // Calls the runner.
  virtual void run();

private:
  static void* body(void* self);
  void logEvent(const char* event, pthread_t handle, const char* detail = nullptr);

  char* name_;
  pthread_t handle_ = 0;
  ThreadRunner* runner_;
  Mutex mutex_;
  State state_;
};

} // namespace plat
