// Logging across a named-message channel: the "ipc" destination of a
// process whose log lines belong in another process's log, and the source
// that receives them there.
//
// Wire messages: "logMsg" (level u32, source short string, text string of at
// most 1024 bytes) from the logging process, and "setLogLevel" (level u32)
// from the receiver, which asks for the highest level it will keep. Nothing
// is sent before the receiver has asked; until then at most 1000 messages
// and a marker wait in a queue.
//
// Threads: plat::LogDestIpc::write may be called on any thread; it queues
// under the destination's mutex and wakes the loop thread through a
// plat::Kicker. Sending, setIpc and everything of plat::LogSrcViaIpc happen
// on the thread whose loop drives the channels. Channels are borrowed.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "io/FdKicker.h"
#include "io/MsgIpc.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/String.h"

namespace plat {

// Woken on the loop thread by a plat::Kicker.
class Kickee {
public:
  virtual ~Kickee() = default;
  virtual void kicked() = 0;
};

// Wakes a kickee on the loop of the thread that made the kicker (which
// needs a current io::FdManager); kick() may come from any thread. The
// kickee is borrowed.
class Kicker : public io::FdKickerCallback {
public:
  explicit Kicker(Kickee* kickee);
  ~Kicker() override;
  void kick();

private:
  void kicked(io::FdKicker* kicker, rdr::InStream* in) override;

  Kickee* kickee_;
  io::FdKicker kicker_;
};

class LogDestIpc : public LogDest, public Kickee, public io::MsgIpc::Reader {
public:
  static constexpr int kMaxQueued = 1000;
  static constexpr int kMaxText = 1024;

  // The process-wide "ipc" destination; lives until exit.
  static LogDestIpc* get();

  void write(int level, const char* srcName, const char* text) override;
  bool enabled() override { return true; }

  // Loop thread. Takes the channel (null: none) and forgets the peer's
  // level: nothing is sent until the new peer asks. Queued messages stay.
  void setIpc(io::MsgIpc* channel);
  // Sends what is queued, when the peer has asked for a level.
  void flush();

  bool isPeerLevelKnown();

private:
  struct Entry {
    int level;
    String source;
    String text;
  };

  LogDestIpc();
  ~LogDestIpc() override;

  void kicked() override { flush(); }
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override;
  void ipcDestroyed(io::MsgIpc* channel) override;
  // The fatal assertion's last flush: it must not wait for ever on a mutex
  // that a stuck thread holds.
  static void fatalFlush();
  void send(std::vector<Entry>& entries, io::MsgIpc* channel, int level);

  Mutex mutex_;
  std::vector<Entry> queue_;
  io::MsgIpc* channel_ = nullptr;
  bool peerLevelKnown_ = false;
  std::unique_ptr<Kicker> kicker_;
};

// The receiving side: logs every "logMsg" of its channels under its own
// name as "%s: %s" (the peer's source and text), so that the local `Log`
// routes them, and asks each peer for the level it keeps.
class LogSrcViaIpc : public LogSrc, private LogSrc::LevelListener, public io::MsgIpc::Reader {
public:
  explicit LogSrcViaIpc(const char* name);
  ~LogSrcViaIpc() override;

  // add: reads "logMsg" on the channel and sends "setLogLevel" at once,
  // with level, or this source's own level whenever it changes when level
  // is -1. Otherwise stops reading the channel.
  void setIpc(io::MsgIpc* channel, bool add, int level = -1);

private:
  // After each recomputation of this source's level.
  void levelUpdated(LogSrc* src) override;
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override;
  void ipcDestroyed(io::MsgIpc* channel) override;
  void sendLevel(io::MsgIpc* channel);

  std::set<io::MsgIpc*> channels_;
  std::map<io::MsgIpc*, int> levels_;
};

} // namespace plat
