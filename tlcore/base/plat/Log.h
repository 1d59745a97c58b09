// Named log sources, log destinations and the routing between them.
//
// Every component owns one static plat::LogSrc named after it. Where its
// messages go is decided at run time by the `Log` parameter, a list of
// "pattern:destination:level" elements. Until plat::flushMemLog ends the
// start-up phase, messages that no destination takes are kept by
// plat::LogDestMem and replayed when `Log` names a "*" destination.
//
// Threads: messages may be written from any thread at any time, also while
// `Log` is being applied; each source's routing is an immutable snapshot
// swapped atomically, so a writer sees either the old or the new routing.
// Routing is changed (applyLogParam, setLogOverride, flushMemLog) on one
// thread at a time. Destinations serialise their own writes.
//
// Sources and destinations are static objects that live until exit. A
// source may be used by other units' static initialisers before its own
// constructor has run: its messages are then kept in memory under its name.
// That is why LogSrc has no virtual functions: zero-filled storage is a
// valid (unconstructed) source.
#pragma once

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>

#include <atomic>
#include <vector>

#include "plat/Mutex.h"
#include "plat/String.h"

// The writers are inlined so that a disabled message costs one comparison;
// clang lacks the argument forwarding this needs and calls them instead.
#if defined(__GNUC__) && !defined(__clang__)
#define PLAT_LOG_INLINE 1
#endif

namespace plat {

class LogDest;
struct LogRoutes;

class LogSrc {
public:
  static constexpr int kError = 0;
  static constexpr int kStatus = 30;
  static constexpr int kInfo = 100;
  static constexpr int kDebug = 110;

  explicit LogSrc(const char* name);
  ~LogSrc();
  LogSrc(const LogSrc&) = delete;
  LogSrc& operator=(const LogSrc&) = delete;

  // --- Writers: a disabled message costs one comparison and is never
  // formatted. Texts are cut at 4095 bytes on a character boundary.
#ifdef PLAT_LOG_INLINE
  __attribute__((always_inline, format(printf, 2, 3))) void error(const char* fmt, ...)
  {
    if (!disabled(kError))
      formatAndWrite(kError, fmt, __builtin_va_arg_pack());
  }
  __attribute__((always_inline, format(printf, 2, 3))) void status(const char* fmt, ...)
  {
    if (!disabled(kStatus))
      formatAndWrite(kStatus, fmt, __builtin_va_arg_pack());
  }
  __attribute__((always_inline, format(printf, 2, 3))) void info(const char* fmt, ...)
  {
    if (!disabled(kInfo))
      formatAndWrite(kInfo, fmt, __builtin_va_arg_pack());
  }
  __attribute__((always_inline, format(printf, 2, 3))) void debug(const char* fmt, ...)
  {
    if (!disabled(kDebug))
      formatAndWrite(kDebug, fmt, __builtin_va_arg_pack());
  }
  __attribute__((always_inline, format(printf, 3, 4))) void log(int level, const char* fmt, ...)
  {
    if (!disabled(level))
      formatAndWrite(level, fmt, __builtin_va_arg_pack());
  }
#else
  void error(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void status(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void info(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void debug(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void log(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
#endif
  void vwrite(int level, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));
  // Routes one message; control characters, '~' and invalid UTF-8 are
  // escaped with '~' so that a message stays one printable line.
  void write(int level, const char* text);
  // Each non-empty line of text as its own message.
  void writeLines(int level, const char* text);

  // True when a message of this level would be dropped unformatted.
  bool disabled(int level) const
  {
    return gate_.load(std::memory_order_relaxed) < static_cast<long long>(level) - INT_MAX;
  }

  // --- Routing state
  // Recomputes the cached level from the routing: the highest level that
  // any destination of this source accepts, -1 without destinations; then
  // tells the level listener.
  void updateLevel();
  int getLevel() const { return level_.load(std::memory_order_relaxed); }
  const char* getName() const { return name_; }

  // For a source that passes its level on (the receiving side of IPC
  // logging asks its peers for it): told after each recomputation, on the
  // thread that changes the routing. Borrowed.
  class LevelListener {
  public:
    virtual ~LevelListener() = default;
    virtual void levelUpdated(LogSrc* src) = 0;
  };
  void setLevelListener(LevelListener* listener) { listener_ = listener; }

private:
  friend class LogRegistry;

  void formatAndWrite(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  const char* name_;
  std::atomic<int> level_;
  // The cached level minus INT_MAX once the memory log is released, else 0
  // (lets everything through). Zero-initialised storage of a source whose
  // constructor has not yet run therefore lets every message through too.
  std::atomic<int> gate_;
  // Owned; replaced as a whole and freed once no writer can still hold it.
  std::atomic<const LogRoutes*> routes_;
  LogSrc* next_;
  LevelListener* listener_;
  bool constructed_;
};

// Where messages go. A named destination is registered for the lifetime of
// the process and can be selected in `Log` by its name (any case); it must
// serialise its own writes, which may come from any thread, and may log
// again from inside write.
class LogDest {
public:
  // A null name makes an unregistered destination.
  explicit LogDest(const char* name);
  virtual ~LogDest();
  LogDest(const LogDest&) = delete;
  LogDest& operator=(const LogDest&) = delete;

  virtual void write(int level, const char* srcName, const char* text) = 0;
  virtual bool enabled() { return true; }

  // The registered destination of that name ignoring case, or null.
  static LogDest* find(const char* name);

  const char* getName() const { return name_; }
  // The highest level the destination itself accepts (INT_MAX unless it
  // lowers it); after a change call plat::updateLogLevels.
  int getLevel() const { return level_.load(std::memory_order_relaxed); }
  void setLevel(int level) { level_.store(level, std::memory_order_relaxed); }

private:
  friend class LogRegistry;
  const char* name_;
  LogDest* next_ = nullptr;
  std::atomic<int> level_{INT_MAX};
};

// Keeps messages that no destination took until the routing is known: at
// most kMaxMessages and then one marker. Its store is guarded by its own
// recursive mutex, so any thread may write.
class LogDestMem : public LogDest {
public:
  static constexpr int kMaxMessages = 500;

  static LogDestMem* get();

  void write(int level, const char* srcName, const char* text) override;
  // Writes every stored message of at most this level to dest, between a
  // start and a finish line of this level; nothing when none qualifies.
  void replay(LogDest* dest, int level);
  // Removes the stored messages of at most this level, keeping the order.
  void dropUpTo(int level);

private:
  friend class LogSrc;
  friend class LogRegistry;
  LogDestMem();
  ~LogDestMem() override;

  struct Msg {
    int level;
    String source;
    String text;
    // Set instead of source for a source whose constructor had not run;
    // its name is read when the message is used.
    const LogSrc* early;
  };
  void store(int level, const char* srcName, const LogSrc* early, const char* text);
  // Gives the messages src wrote before its constructor ran its name.
  void nameEarly(const LogSrc* src);
  void clear();

  Mutex mutex_;
  std::vector<Msg> msgs_;
  bool replaying_ = false;
};

// "  %s\n" for each registered destination.
void printLogDestNames(FILE* out);
// All source names as one comma-separated list wrapped at width columns.
void printLogSourceNames(int width, FILE* out);
// Re-applies the routing from the `Log` text (or the override).
void applyLogParam();
// Uses a copy of text instead of `Log` from now on (null restores `Log`)
// and applies it.
void setLogOverride(const char* text);
// Recomputes every source's cached level, after a destination's level
// changed.
void updateLogLevels();
// Ends the start-up phase once per process: replays the kept messages into
// the "*" destinations and frees them; from then on disabled messages are
// dropped without formatting.
void flushMemLog();

#ifdef TL_TEST_HOOKS
// Tests only: empties the memory log and returns to the start-up phase.
void resetMemLogForTests();
#endif

} // namespace plat
