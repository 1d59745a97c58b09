#include "plat/Log.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <map>

#include "plat/ConfigParameter.h"
#include "plat/DString.h"
#include "plat/utf8.h"

namespace plat {

// One source's routing: (destination, level) pairs ordered by destination
// address. Never changed once published.
struct LogRoutes {
  struct Entry {
    LogDest* dest;
    int level;
  };
  std::vector<Entry> entries;
};

namespace {

// A valid element of the `Log` text.
struct LogElement {
  String pattern;
  LogDest* dest;
  int level;
};

// Set by flushMemLog; read by every writer.
std::atomic<bool> memLogReleased{false};

// Writers announce themselves in readers[epoch & 1] while they use a routing
// snapshot. A replaced snapshot waits in the registry until the readers of
// the epoch that could still see it have left; the epoch only moves on once
// the previous one has drained, so at most two are ever active.
std::atomic<unsigned> readEpoch{0};
std::atomic<int> readers[2] = {};

class ReadSection {
public:
  ReadSection()
  {
    for (;;) {
      unsigned e = readEpoch.load();
      readers[e & 1].fetch_add(1);
      if (readEpoch.load() == e) {
        slot_ = e & 1;
        return;
      }
      readers[e & 1].fetch_sub(1);
    }
  }
  ~ReadSection() { readers[slot_].fetch_sub(1); }
  ReadSection(const ReadSection&) = delete;
  ReadSection& operator=(const ReadSection&) = delete;

private:
  unsigned slot_;
};

const char kMemSource[] = "LogDestMem";

bool needsEscape(const char* s)
{
  for (; *s; s++) {
    unsigned char c = *s;
    if (c < 0x20 || c >= 0x7f || c == '~')
      return true;
  }
  return false;
}

// Case-insensitive glob where '*' matches any run of characters.
bool matchPattern(const char* p, const char* s)
{
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p && tolower(static_cast<unsigned char>(*p)) == tolower(static_cast<unsigned char>(*s))) {
      p++;
      s++;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*')
    p++;
  return !*p;
}

// Parses one element; false (after reporting on standard error, where the
// grammar asks for it) when it routes nothing.
bool parseElement(const char* element, LogElement& out)
{
  const char* colon1 = strchr(element, ':');
  const char* colon2 = colon1 ? strchr(colon1 + 1, ':') : nullptr;
  long level = -1;
  if (colon2) {
    const char* rest = colon2 + 1;
    char* end = nullptr;
    errno = 0;
    level = strtol(rest, &end, 10);
    if (end == rest || *end || errno == ERANGE || level > INT_MAX)
      level = -1;
  }
  if (level < 0) {
    fprintf(stderr, "Failed to parse log param element: '%s'\n", element);
    return false;
  }
  String destName(colon1 + 1, static_cast<int>(colon2 - colon1 - 1));
  if (!destName.length())
    return false;
  LogDest* dest = LogDest::find(destName.str());
  if (!dest) {
    fprintf(stderr, "No LogDest found: '%s'\n", destName.str());
    return false;
  }
  out.pattern = String(element, static_cast<int>(colon1 - element));
  out.dest = dest;
  out.level = static_cast<int>(level);
  return true;
}

std::vector<LogElement> parseLogText(const char* text)
{
  std::vector<LogElement> elements;
  String copy(text ? text : "");
  char* cursor = copy.data();
  while (cursor) {
    char* element = strTok(&cursor, ',');
    LogElement e;
    if (*element && parseElement(element, e))
      elements.push_back(std::move(e));
  }
  return elements;
}

int maxLevelOf(const LogRoutes* routes)
{
  int level = -1;
  if (routes)
    for (const LogRoutes::Entry& e : routes->entries)
      level = std::max(level, std::min(e.dest->getLevel(), e.level));
  return level;
}

// Set up when the `Log` parameter exists (see the end of this file).
const char* logParamText();

} // namespace

// The process-wide lists and the routing changes. Everything here is
// guarded by one recursive mutex; writers of messages never take it.
class LogRegistry {
public:
  struct State {
    Mutex mutex;
    LogSrc* sources = nullptr;
    LogDest* dests = nullptr;
    // The valid elements last applied, for sources made later and for
    // the final replay.
    std::vector<LogElement> elements;
    bool applied = false;
    bool flushed = false;
    char* override = nullptr;
    // Replaced snapshots: retired since the last epoch change, and those
    // waiting for the previous epoch's readers to leave.
    std::vector<const LogRoutes*> retired;
    std::vector<const LogRoutes*> awaiting;
  };

  // Made on first use and never destroyed, so that sources used during
  // static initialisation or destruction always find it.
  static State& state()
  {
    static State* s = new State;
    return *s;
  }

  static void setCachedLevel(LogSrc* src, int level)
  {
    src->level_.store(level, std::memory_order_relaxed);
    long long gate = memLogReleased.load() ? static_cast<long long>(level) - INT_MAX : 0;
    src->gate_.store(static_cast<int>(gate), std::memory_order_relaxed);
  }

  static std::vector<LogRoutes::Entry> routesFor(const char* name, const std::vector<LogElement>& elements)
  {
    std::map<LogDest*, int> map;
    for (const LogElement& e : elements)
      if (matchPattern(e.pattern.str(), name ? name : ""))
        map[e.dest] = e.level;
    std::vector<LogRoutes::Entry> entries;
    for (const auto& kv : map)
      entries.push_back({kv.first, kv.second});
    return entries;
  }

  // Publishes a new routing for src; the old one is retired.
  static void swapRoutes(State& s, LogSrc* src, std::vector<LogRoutes::Entry> entries)
  {
    LogRoutes* fresh = nullptr;
    if (!entries.empty()) {
      fresh = new LogRoutes;
      fresh->entries = std::move(entries);
    }
    const LogRoutes* old = src->routes_.exchange(fresh);
    if (old)
      s.retired.push_back(old);
    setCachedLevel(src, maxLevelOf(fresh));
  }

  // Frees the retired snapshots that no writer can still hold. Never waits:
  // what is still in use is freed by a later call.
  static void reclaim(State& s)
  {
    for (int round = 0; round < 2; round++) {
      if (!s.awaiting.empty()) {
        if (readers[(readEpoch.load() - 1) & 1].load() != 0)
          return;
        for (const LogRoutes* r : s.awaiting)
          delete r;
        s.awaiting.clear();
      }
      if (s.retired.empty())
        return;
      s.awaiting.swap(s.retired);
      readEpoch.fetch_add(1);
    }
  }

  static void addSource(LogSrc* src)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    src->next_ = s.sources;
    s.sources = src;
    if (s.applied)
      swapRoutes(s, src, routesFor(src->name_, s.elements));
    else
      setCachedLevel(src, INT_MAX);
    src->constructed_ = true;
  }

  static void removeSource(LogSrc* src)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    for (LogSrc** p = &s.sources; *p; p = &(*p)->next_) {
      if (*p == src) {
        *p = src->next_;
        break;
      }
    }
    swapRoutes(s, src, {});
    reclaim(s);
  }

  static void addDest(LogDest* dest)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    dest->next_ = s.dests;
    s.dests = dest;
  }

  // Unlinks the destination and takes it out of every routing, so that no
  // source keeps a pointer to it.
  static void removeDest(LogDest* dest)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    for (LogDest** p = &s.dests; *p; p = &(*p)->next_) {
      if (*p == dest) {
        *p = dest->next_;
        break;
      }
    }
    s.elements.erase(std::remove_if(s.elements.begin(), s.elements.end(),
                                    [dest](const LogElement& e) { return e.dest == dest; }),
                     s.elements.end());
    for (LogSrc* src = s.sources; src; src = src->next_) {
      const LogRoutes* r = src->routes_.load();
      if (!r)
        continue;
      std::vector<LogRoutes::Entry> kept;
      for (const LogRoutes::Entry& e : r->entries)
        if (e.dest != dest)
          kept.push_back(e);
      if (kept.size() != r->entries.size())
        swapRoutes(s, src, std::move(kept));
    }
    reclaim(s);
  }

  static LogDest* findDest(const char* name)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    for (LogDest* d = s.dests; d; d = d->next_)
      if (name && strcasecmp(d->name_, name) == 0)
        return d;
    return nullptr;
  }

  static void apply()
  {
    State& s = state();
    MutexLock lock(s.mutex);
    String text(s.override ? s.override : logParamText());

    // Routing pass.
    std::vector<LogElement> elements = parseLogText(text.str());
    for (LogSrc* src = s.sources; src; src = src->next_)
      swapRoutes(s, src, routesFor(src->name_, elements));
    s.elements = std::move(elements);
    s.applied = true;

    // Replay pass: the kept messages go to every "*" destination, and what
    // the widest of them took is no longer kept.
    LogDestMem* mem = LogDestMem::get();
    int replayed = -1;
    for (const LogElement& e : parseLogText(text.str())) {
      if (strcmp(e.pattern.str(), "*") != 0 || !e.dest->enabled())
        continue;
      mem->replay(e.dest, e.level);
      replayed = std::max(replayed, e.level);
    }
    mem->dropUpTo(replayed);

    for (LogSrc* src = s.sources; src; src = src->next_)
      src->updateLevel();
    reclaim(s);
  }

  static void setOverride(const char* text)
  {
    State& s = state();
    {
      MutexLock lock(s.mutex);
      if (strCmpNull(text, s.override) != 0) {
        delete[] s.override;
        s.override = strDup(text);
      }
    }
    apply();
  }

  static void updateAll()
  {
    State& s = state();
    MutexLock lock(s.mutex);
    for (LogSrc* src = s.sources; src; src = src->next_)
      src->updateLevel();
  }

  static void flush()
  {
    State& s = state();
    MutexLock lock(s.mutex);
    if (s.flushed)
      return;
    s.flushed = true;
    memLogReleased.store(true);
    LogDestMem* mem = LogDestMem::get();
    for (const LogElement& e : s.elements)
      if (strcmp(e.pattern.str(), "*") == 0 && e.dest->enabled())
        mem->replay(e.dest, e.level);
    mem->clear();
    // A source nobody routed drops everything from now on, cheaply.
    for (LogSrc* src = s.sources; src; src = src->next_)
      setCachedLevel(src, s.applied ? src->getLevel() : -1);
  }

#ifdef TL_TEST_HOOKS
  static void resetForTests()
  {
    State& s = state();
    MutexLock lock(s.mutex);
    s.flushed = false;
    memLogReleased.store(false);
    LogDestMem::get()->clear();
    for (LogSrc* src = s.sources; src; src = src->next_)
      setCachedLevel(src, src->getLevel());
  }
#endif

  static void printDests(FILE* out)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    for (LogDest* d = s.dests; d; d = d->next_)
      fprintf(out, "  %s\n", d->name_);
  }

  static void printSources(int width, FILE* out)
  {
    State& s = state();
    MutexLock lock(s.mutex);
    DString list;
    int remaining = 0;
    bool first = true;
    for (LogSrc* src = s.sources; src; src = src->next_) {
      const char* name = src->name_ ? src->name_ : "";
      int n = strLen(name);
      const char* sep;
      if (n >= remaining) {
        sep = ",\n  ";
        remaining = width - 2;
      } else {
        sep = ", ";
      }
      list.append(first ? "  " : sep);
      list.append(name);
      remaining -= n + 2;
      first = false;
    }
    list.append("\n");
    fputs(list.get(), out);
  }
};

// --- LogSrc ------------------------------------------------------------------

LogSrc::LogSrc(const char* name)
    : name_(name), level_(INT_MAX), gate_(0), routes_(nullptr), next_(nullptr), listener_(nullptr),
      constructed_(false)
{
  LogRegistry::addSource(this);
  LogDestMem::get()->nameEarly(this);
}

LogSrc::~LogSrc()
{
  LogRegistry::removeSource(this);
}

#ifndef PLAT_LOG_INLINE
#define PLAT_LOG_WRITER(fn, lvl)                                                                   \
  void LogSrc::fn(const char* fmt, ...)                                                            \
  {                                                                                                \
    if (disabled(lvl))                                                                             \
      return;                                                                                      \
    va_list ap;                                                                                    \
    va_start(ap, fmt);                                                                             \
    vwrite(lvl, fmt, ap);                                                                          \
    va_end(ap);                                                                                    \
  }
PLAT_LOG_WRITER(error, kError)
PLAT_LOG_WRITER(status, kStatus)
PLAT_LOG_WRITER(info, kInfo)
PLAT_LOG_WRITER(debug, kDebug)
#undef PLAT_LOG_WRITER

void LogSrc::log(int level, const char* fmt, ...)
{
  if (disabled(level))
    return;
  va_list ap;
  va_start(ap, fmt);
  vwrite(level, fmt, ap);
  va_end(ap);
}
#endif

void LogSrc::formatAndWrite(int level, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vwrite(level, fmt, ap);
  va_end(ap);
}

void LogSrc::vwrite(int level, const char* fmt, va_list ap)
{
  if (disabled(level))
    return;
  char text[4096];
  text[0] = 0;
  strCatVFormat(text, sizeof(text), fmt, ap);
  write(level, text);
}

void LogSrc::write(int level, const char* text)
{
  if (!text)
    text = "";
  bool delivered = false;
  String escaped;
  if (!constructed_) {
    // Used by another unit's static initialiser before this source's own
    // constructor ran: keep the message; its name is filled in later.
    if (needsEscape(text))
      text = (escaped = escapeControlChars(text, '~')).str();
    LogDestMem::get()->store(level, nullptr, this, text);
    return;
  }
  {
    ReadSection section;
    const LogRoutes* routes = routes_.load(std::memory_order_acquire);
    if (!routes && memLogReleased.load())
      return;
    if (needsEscape(text))
      text = (escaped = escapeControlChars(text, '~')).str();
    if (routes) {
      for (const LogRoutes::Entry& e : routes->entries) {
        if (e.level >= level && e.dest->enabled()) {
          e.dest->write(level, name_, text);
          delivered = true;
        }
      }
    }
  }
  if (!delivered)
    LogDestMem::get()->write(level, name_, text);
}

void LogSrc::writeLines(int level, const char* text)
{
  if (disabled(level) || !text)
    return;
  String copy(text);
  char* cursor = copy.data();
  while (cursor) {
    char* line = strTok(&cursor, '\n');
    if (*line)
      write(level, line);
  }
}

void LogSrc::updateLevel()
{
  {
    ReadSection section;
    LogRegistry::setCachedLevel(this, maxLevelOf(routes_.load(std::memory_order_acquire)));
  }
  if (listener_)
    listener_->levelUpdated(this);
}

// --- LogDest -----------------------------------------------------------------

LogDest::LogDest(const char* name) : name_(name)
{
  if (name_)
    LogRegistry::addDest(this);
}

LogDest::~LogDest()
{
  if (name_)
    LogRegistry::removeDest(this);
}

LogDest* LogDest::find(const char* name)
{
  return LogRegistry::findDest(name);
}

// --- LogDestMem --------------------------------------------------------------

LogDestMem::LogDestMem() : LogDest(nullptr) {}

LogDestMem::~LogDestMem() = default;

LogDestMem* LogDestMem::get()
{
  static LogDestMem* mem = new LogDestMem;
  return mem;
}

void LogDestMem::write(int level, const char* srcName, const char* text)
{
  store(level, srcName, nullptr, text);
}

void LogDestMem::store(int level, const char* srcName, const LogSrc* early, const char* text)
{
  MutexLock lock(mutex_);
  if (replaying_)
    return;
  size_t n = msgs_.size();
  if (n < static_cast<size_t>(kMaxMessages))
    msgs_.push_back({level, String(srcName), String(text), early});
  else if (n == static_cast<size_t>(kMaxMessages))
    msgs_.push_back({0, String(kMemSource), String("Too many messages, discarding further ones"), nullptr});
}

void LogDestMem::nameEarly(const LogSrc* src)
{
  MutexLock lock(mutex_);
  for (Msg& m : msgs_) {
    if (m.early == src) {
      m.source = String(src->getName());
      m.early = nullptr;
    }
  }
}

void LogDestMem::replay(LogDest* dest, int level)
{
  MutexLock lock(mutex_);
  struct Flag {
    bool& f;
    explicit Flag(bool& flag) : f(flag) { f = true; }
    ~Flag() { f = false; }
  } running(replaying_);
  bool started = false;
  for (const Msg& m : msgs_) {
    if (m.level > level)
      continue;
    if (!started) {
      dest->write(level, kMemSource, "Start replaying stored messages");
      started = true;
    }
    const char* source = m.early ? "(unconstructed)" : m.source.str();
    dest->write(m.level, source, m.text.str());
  }
  if (started)
    dest->write(level, kMemSource, "Finished replaying stored messages");
}

void LogDestMem::dropUpTo(int level)
{
  MutexLock lock(mutex_);
  msgs_.erase(std::remove_if(msgs_.begin(), msgs_.end(), [level](const Msg& m) { return m.level <= level; }),
              msgs_.end());
}

void LogDestMem::clear()
{
  MutexLock lock(mutex_);
  msgs_.clear();
}

// --- Process-wide functions ----------------------------------------------------

void printLogDestNames(FILE* out)
{
  LogRegistry::printDests(out);
}

void printLogSourceNames(int width, FILE* out)
{
  LogRegistry::printSources(width, out);
}

void applyLogParam()
{
  LogRegistry::apply();
}

void setLogOverride(const char* text)
{
  LogRegistry::setOverride(text);
}

void updateLogLevels()
{
  LogRegistry::updateAll();
}

void flushMemLog()
{
  LogRegistry::flush();
}

#ifdef TL_TEST_HOOKS
void resetMemLogForTests()
{
  LogRegistry::resetForTests();
}
#endif

// --- The Log parameter ---------------------------------------------------------

namespace {

StringParameter logParam("Log", LocKey{"plat_param_log"}, "");

class LogParameterChangedCallback : public ParameterChangedCallback {
public:
  LogParameterChangedCallback() { logParam.addCallback(this); }
  ~LogParameterChangedCallback() override
  {
    logParam.removeCallback(this);
    ready_ = false;
  }
  void parameterChanged(ConfigParameter*, int) override { applyLogParam(); }
  bool ready() const { return ready_; }

private:
  bool ready_ = true;
};

LogParameterChangedCallback logParamCallback;

const char* logParamText()
{
  // Routing applied by another unit's static initialiser before `Log`
  // exists sees the empty default.
  return logParamCallback.ready() ? logParam.getValue() : "";
}

} // namespace

} // namespace plat
