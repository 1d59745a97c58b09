// The connection over one descriptor (a stream socket, one end of a socket
// pair, or a descriptor that only needs read events): it joins the
// descriptor's buffered streams to the thread's loop, turns readiness into
// dataAvailable/writable calls on its handler, pushes buffered output as
// the descriptor drains, gives up on a peer that takes nothing for
// LazyFlushTimeout seconds, and carries out shutdown with or without flush.
//
// Ownership: the connection owns its streams (and the descriptor when told
// so) and deletes itself at the end of shutdown, always from a later pass
// than the call that asked for it (a timer or the manager's deferred
// delete), never under its own callback. It belongs to the thread whose
// manager it registered with; nothing is locked. Read and write errors end
// only this connection: they are logged and the handler hears closed().
#pragma once

#include <memory>

#include "io/FdManager.h"
#include "io/Io.h"
#include "plat/ConfigParameter.h"
#include "plat/Flags.h"
#include "plat/Timer.h"
#include "rdr/FdOutStream.h"

namespace io {

// Seconds for which flushing to an unresponsive peer is attempted.
extern plat::IntParameter LazyFlushTimeout;

enum class FdIoFlags : unsigned {
  kNone = 0,
  // The descriptor is closed with the connection.
  kOwnFd = 1,
  // A non-blocking connect is still under way.
  kConnectPending = 2,
  // The descriptor is left blocking (by default it is made non-blocking).
  kBlocking = 4,
};
PLAT_FLAG_OPERATORS(FdIoFlags)

class FdIo : public Io,
             private plat::Timer::Callback,
             private rdr::FdOutStream::Callback,
             private FdHandler {
public:
  // Makes sure the process-wide socket settings are in force. With fd >= 0
  // the descriptor is attached at once (see attach). Buffer sizes below 0
  // take the streams' defaults.
  FdIo(int fd, FdIoFlags flags, int inBufSize = -1, int outBufSize = -1);

  // For a connection made without a descriptor (fatal if it has one):
  // creates the streams and, without kBlocking, makes the descriptor
  // non-blocking (kConnectPending is ignored here).
  void attach(int fd, FdIoFlags flags, int inBufSize = -1, int outBufSize = -1);

  // --- io::Io -------------------------------------------------------------------
  // Detaching writes out what the peer takes at once and leaves the rest to
  // the loop, which a following shutdown, even without flush, lets finish
  // (LazyFlushTimeout at most); the streams then wait as usual.
  void setHandler(IoHandler* handler, bool readEnabled = true) override;
  void shutdown(Shutdown how) override;
  void markReadable() override;
  // "<fd%d>" unless the owner set another text.
  const char* displayName() override;
  const char* peerEndpoint() override;
  const char* peerAddress() override;
  const char* myEndpoint() override;
  void setTimeout(int ms) override;

  // --- Descriptor ---------------------------------------------------------------
  using FdHandler::getFd;
  // The pending socket error, reading SO_ERROR when none is known yet;
  // throws "getsockopt".
  int getSocketError();
  // Gives the manager new interest only when it changed.
  void setInterest(FdEvents wanted);

  // Hands the connection's state to another holder of the same descriptor:
  // the flags, then the received but unread bytes (U32 count and bytes),
  // which readState puts in front of the input.
  void writeState(rdr::OutStream& os);
  void readState(rdr::InStream& is);

protected:
  // Detaches the handler, writes out what the peer takes without waiting,
  // deletes the streams, stops the timers and closes an owned descriptor.
  ~FdIo() override;

  void setDisplayName(const char* text);
  bool isShuttingDown() const { return state_ == kShuttingDown; }
  bool hasManager() const { return fdMgr_ != nullptr; }

  // --- Loop events (the descriptor loop and the streams call these) --------
  bool timerExpired(plat::Timer* timer) override;
  void blocked(rdr::FdOutStream* stream, bool isBlocked) override;
  void writeShutDown(rdr::FdOutStream* stream) override;
  void readable() override;
  void writable() override;
  void setError(int err) override;
  void managerDestroyed() override;

private:
  enum State { kOpen = 0, kOutputClosing = 1, kShuttingDown = 2 };

  static void deleteSelf(FdIo* self);
  // Ends the shutdown: tells a handler that is still attached, unregisters
  // and deletes the connection.
  void completeShutdown(const char* logFormat);
  // Forgets the handler and its interest without switching the streams to
  // waiting mode (so nothing blocks on a stalled peer).
  void forgetHandler();
  // The stream modes that go with having a handler.
  void setStreamModes(bool withHandler);
  // Detached with bytes the loop is still writing out.
  bool isDraining() const;
  // Ends a detached connection's tie to the loop.
  void stopDraining();
  // An error of the connection's own I/O: ends it, or gives up a flush.
  void fail(const char* format, const plat::Exception& e);

  class FdInput;
  class FdOutput;
  std::unique_ptr<FdInput> fdIn_;
  std::unique_ptr<FdOutput> fdOut_;
  bool connectPending_;
  FdManager* fdMgr_ = nullptr;
  int socketError_ = 0;
  plat::String displayNameText_;
  IoHandler* handler_ = nullptr;
  plat::Timer flushTimer_;
  plat::Timer shutdownTimer_;
  FdEvents interest_ = FdEvents::kNone; // read and write only
  State state_ = kOpen;
  // Depth of this connection's own callbacks on the stack; a shutdown
  // asked for from inside one must not delete at once.
  int busy_ = 0;
};

} // namespace io
