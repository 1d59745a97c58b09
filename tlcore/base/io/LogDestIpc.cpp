#include "io/LogDestIpc.h"

#include <limits.h>
#include <pthread.h>
#include <string.h>
#include <time.h>

#include "plat/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"

namespace plat {

namespace {

const char kLogMsg[] = "logMsg";
const char kSetLogLevel[] = "setLogLevel";

// Levels travel as u32; a negative level (a receiver that keeps nothing)
// round-trips through the same 32 bits.
int levelFromWire(uint32_t v)
{
  return static_cast<int32_t>(v);
}

// "ipc" can be named in `Log` from the start.
struct MakeAtStartup {
  MakeAtStartup() { LogDestIpc::get(); }
} makeAtStartup;

} // namespace

// --- Kicker ------------------------------------------------------------------------

Kicker::Kicker(Kickee* kickee) : kickee_(kickee), kicker_(this)
{
}

Kicker::~Kicker() = default;

void Kicker::kick()
{
  kicker_.kick();
}

void Kicker::kicked(io::FdKicker* kicker, rdr::InStream*)
{
  kicker->drain();
  kickee_->kicked();
}

// --- LogDestIpc ----------------------------------------------------------------------

LogDestIpc::LogDestIpc() : LogDest("ipc")
{
  setFatalFlushHook(&LogDestIpc::fatalFlush);
}

LogDestIpc::~LogDestIpc() = default;

LogDestIpc* LogDestIpc::get()
{
  static LogDestIpc* dest = new LogDestIpc;
  return dest;
}

void LogDestIpc::write(int level, const char* srcName, const char* text)
{
  MutexLock lock(mutex_);
  if (level > getLevel())
    return;
  size_t n = queue_.size();
  if (n > static_cast<size_t>(kMaxQueued))
    return;
  if (n == static_cast<size_t>(kMaxQueued))
    queue_.push_back(
        {0, String("LogDestIpc"), String("Too many messages, discarding further ones")});
  else
    queue_.push_back({level, String(srcName), String(text)});
  // Under the mutex: setIpc swaps the kicker under it too, so the one used
  // here is never one that is being destroyed.
  if (channel_ && peerLevelKnown_ && kicker_)
    kicker_->kick();
}

void LogDestIpc::setIpc(io::MsgIpc* channel)
{
  std::unique_ptr<Kicker> kicker;
  if (channel && io::FdManager::current())
    kicker = std::make_unique<Kicker>(this);
  {
    MutexLock lock(mutex_);
    if (channel_)
      channel_->removeReader(this);
    channel_ = channel;
    attachIpc(channel);
    peerLevelKnown_ = false;
    setLevel(INT_MAX);
    if (channel_)
      channel_->addReader(kSetLogLevel, this);
    kicker_.swap(kicker);
  }
  // The previous kicker goes here, outside the mutex.
  kicker.reset();
  updateLogLevels();
}

bool LogDestIpc::isPeerLevelKnown()
{
  MutexLock lock(mutex_);
  return peerLevelKnown_;
}

void LogDestIpc::flush()
{
  std::vector<Entry> entries;
  io::MsgIpc* channel;
  int level;
  {
    MutexLock lock(mutex_);
    if (!peerLevelKnown_ || !channel_)
      return;
    entries.swap(queue_);
    channel = channel_;
    level = getLevel();
  }
  send(entries, channel, level);
}

void LogDestIpc::fatalFlush()
{
  LogDestIpc* self = get();
  // Another thread may have died holding the mutex: wait a little, then
  // give up rather than hang the abort.
  for (int i = 0; i < 100; i++) {
    if (pthread_mutex_trylock(self->mutex_.native()) == 0) {
      pthread_mutex_unlock(self->mutex_.native());
      self->flush();
      return;
    }
    struct timespec ts = {0, 10 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
}

void LogDestIpc::send(std::vector<Entry>& entries, io::MsgIpc* channel, int level)
{
  try {
    rdr::FramedOutStream* out = nullptr;
    for (const Entry& e : entries) {
      if (e.level > level)
        continue;
      out = &channel->writeMsg(kLogMsg);
      out->writeU32(static_cast<uint32_t>(e.level));
      out->writeShortString(e.source.str());
      out->writeString(e.text.str(), kMaxText);
      out->endMsg(false);
    }
    if (out)
      out->flush();
  } catch (Exception&) {
    // Logging the failure would queue another line for the same channel.
  }
}

bool LogDestIpc::readMsg(const char*, rdr::FramedInStream& in, io::MsgIpc* channel)
{
  int level = levelFromWire(in.readU32());
  {
    MutexLock lock(mutex_);
    if (channel != channel_)
      return true;
    setLevel(level);
    peerLevelKnown_ = true;
  }
  updateLogLevels();
  flush();
  return true;
}

void LogDestIpc::ipcDestroyed(io::MsgIpc* channel)
{
  std::unique_ptr<Kicker> kicker;
  {
    MutexLock lock(mutex_);
    if (channel != channel_)
      return;
    channel_ = nullptr;
    peerLevelKnown_ = false;
    kicker_.swap(kicker);
  }
  io::MsgIpc::Reader::ipcDestroyed(channel);
}

// --- LogSrcViaIpc ------------------------------------------------------------------------

LogSrcViaIpc::LogSrcViaIpc(const char* name) : LogSrc(name)
{
  setLevelListener(this);
}

LogSrcViaIpc::~LogSrcViaIpc()
{
  setLevelListener(nullptr);
  for (io::MsgIpc* channel : channels_)
    channel->removeReader(this);
  attachIpc(nullptr);
}

void LogSrcViaIpc::setIpc(io::MsgIpc* channel, bool add, int level)
{
  if (!add) {
    if (channels_.erase(channel))
      channel->removeReader(this);
    levels_.erase(channel);
    if (ipc() == channel)
      attachIpc(nullptr);
    return;
  }
  channels_.insert(channel);
  levels_[channel] = level;
  attachIpc(channel);
  channel->addReader(kLogMsg, this);
  sendLevel(channel);
}

void LogSrcViaIpc::levelUpdated(LogSrc*)
{
  for (io::MsgIpc* channel : channels_)
    sendLevel(channel);
}

void LogSrcViaIpc::sendLevel(io::MsgIpc* channel)
{
  int level = levels_[channel];
  if (level == -1)
    level = getLevel();
  try {
    rdr::FramedOutStream& out = channel->writeMsg(kSetLogLevel);
    out.writeU32(static_cast<uint32_t>(level));
    out.endMsg(true);
  } catch (Exception&) {
    // The channel has already logged why; its peer keeps the old level.
  }
}

bool LogSrcViaIpc::readMsg(const char*, rdr::FramedInStream& in, io::MsgIpc*)
{
  // Every u32 level is logged; those beyond int's range as the highest.
  uint32_t wire = in.readU32();
  int level = wire > INT_MAX ? INT_MAX : static_cast<int>(wire);
  String source = in.readShortString(true);
  String text = in.readString(LogDestIpc::kMaxText, true);
  log(level, "%s: %s", source.str(), text.str());
  return true;
}

void LogSrcViaIpc::ipcDestroyed(io::MsgIpc* channel)
{
  channels_.erase(channel);
  levels_.erase(channel);
  io::MsgIpc::Reader::ipcDestroyed(channel);
}

} // namespace plat
