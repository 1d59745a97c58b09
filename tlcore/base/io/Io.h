// The connection interface: every byte connection (a socket, a TLS session
// over another connection, a wrapped connection) is an io::Io, a pair of
// streams plus string flags, driven by the thread's descriptor loop and
// reporting to one io::IoHandler. Connections are made asynchronously by an
// io::IoConnector, which reports to an io::IoConnected.
//
// Ownership: a connection is never deleted by its users (its destructor is
// protected); shutdown() is the only way to end it, after which it deletes
// itself and the caller must not touch it again. io::IoPtr holds one and
// shuts it down on reset. Threads: everything here belongs to the thread
// whose loop drives it; nothing is locked.
#pragma once

#include "plat/Exception.h"
#include "plat/Flags.h"
#include "plat/String.h"
#include "plat/Timer.h"

#include "rdr/Forward.h"

namespace io {

class Io;

// How shutdown() ends a connection: kFlush sends buffered output first;
// kTellHandler has the handler hear closed() when it is done (otherwise it
// is forgotten at once). kDrop is neither.
enum class Shutdown : unsigned { kDrop = 0, kFlush = 1, kTellHandler = 2 };
PLAT_FLAG_OPERATORS(Shutdown)

// The event target of a connection. Events arrive on the loop thread, never
// from inside the call that caused them.
class IoHandler {
public:
  // Bytes, an end of stream or an error can be read from io->in() without
  // waiting.
  virtual void dataAvailable(Io* io) = 0;
  // The connection is established (first event after a connect) or io->out()
  // has drained and more can be written.
  virtual void writable(Io* io) = 0;
  // A shutdown that asked to tell the handler has completed; io is gone
  // right after this returns.
  virtual void closed(Io* io);
  virtual ~IoHandler();
};

class Io {
public:
  // --- Events ---------------------------------------------------------------
  // Attaches (or, with null, detaches) the event target and says whether
  // read events are wanted.
  virtual void setHandler(IoHandler* handler, bool readEnabled = true) = 0;
  // Ends the connection as how says. The object deletes itself; do not
  // touch it again.
  virtual void shutdown(Shutdown how) = 0;
  // Asks for a dataAvailable call on the next pass even without new bytes.
  // The default is a fatal assertion.
  virtual void markReadable();
  // Whether the connection does its I/O on a thread of its own, so that
  // events may lag behind the loop. No connection here does; wrappers pass
  // the question on.
  virtual bool hasOwnThread() const { return false; }

  // --- Descriptions (owned texts, valid until the connection is gone) ------
  virtual const char* displayName() = 0;
  // The remote end as the user named it.
  virtual const char* peerEndpoint() = 0;
  // The remote end as an address; by default peerEndpoint().
  virtual const char* resolvedPeerEndpoint();
  virtual const char* peerAddress() = 0;
  virtual const char* myEndpoint() = 0;

  // Limit of blocking reads and writes on the streams; negative: none.
  virtual void setTimeout(int ms) = 0;

  // --- Flags ----------------------------------------------------------------
  // Flag transfer to another holder of the same connection: a count byte,
  // then each flag as a short string in sorted order. Reading adds to the
  // flags already set. 256 or more flags is a fatal assertion.
  void writeFlags(rdr::OutStream& os) const;
  void readFlags(rdr::InStream& is);

  // Free-form names that consumers test, such as "secureTransport".
  plat::StringSet& flags() { return flags_; }
  const plat::StringSet& flags() const { return flags_; }

  // --- Streams (owned by the concrete class, valid for the connection's life)
  rdr::InStream* in() const { return in_; }
  rdr::OutStream* out() const { return out_; }

protected:
  Io() = default;
  virtual ~Io();
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  // Points the streams at the concrete class's own (null when they go).
  void setStreams(rdr::InStream* in, rdr::OutStream* out)
  {
    in_ = in;
    out_ = out;
  }

private:
  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_ = nullptr;
  plat::StringSet flags_;
};

// An owning holder of one connection: reset() (and destruction) shut it down
// as the holder's onReset says.
class IoPtr {
public:
  explicit IoPtr(Io* io = nullptr, Shutdown onReset = Shutdown::kFlush) : io_(io), onReset_(onReset)
  {
  }
  ~IoPtr() { reset(); }
  IoPtr(IoPtr&& other) noexcept;
  IoPtr& operator=(IoPtr&& other) noexcept;
  IoPtr(const IoPtr&) = delete;
  IoPtr& operator=(const IoPtr&) = delete;

  // Shuts the held connection down (if any) and holds the new one.
  void reset(Io* newIo = nullptr);
  // Gives the connection up without shutting it down.
  Io* release();
  Io* get() const { return io_; }
  Io* operator->() const { return io_; }
  explicit operator bool() const { return io_ != nullptr; }
  void setOnReset(Shutdown onReset) { onReset_ = onReset; }

private:
  Io* io_;
  Shutdown onReset_;
};

class IoConnector;

// The result of an asynchronous connect, reported exactly once and never
// from inside start().
class IoConnected {
public:
  // The callee owns io; dropping it shuts the connection down (flushing).
  virtual void connected(IoConnector* connector, IoPtr io) = 0;
  virtual void failed(IoConnector* connector, const plat::Exception& error) = 0;
  // An intermediate notification; ignored by default.
  virtual void progress(IoConnector* connector);
  virtual ~IoConnected();
};

// Makes a connection. Owned by whoever created it; deleting it abandons the
// attempt. Every connector reports as its last action, so the callee may
// delete the connector from inside connected() or failed().
class IoConnector {
public:
  virtual ~IoConnector();
  // Begins an asynchronous connect; the callback is borrowed.
  virtual void start(IoConnected* callback) = 0;
  // Connects synchronously; by default throws
  // "IoConnector::connect() not implemented".
  virtual IoPtr connect();
  // How the connection is made, for messages shown to the user; the
  // translated text when localised. By default "<unknown method>".
  virtual const char* methodName(bool localised);
};

// The base of most connectors: start() only stores the callback and arms a
// zero-delay timer, and begin() runs from it, so no result can come from
// inside start(). Destroying the connector stops the timer.
class IoConnectorBase : public IoConnector, private plat::Timer::Callback {
public:
  IoConnectorBase();
  ~IoConnectorBase() override;

  void start(IoConnected* callback) override;

protected:
  // The connect work, run from the timer on a later pass.
  virtual void begin();
  // Abandons any attempt in progress without reporting.
  virtual void cancel() = 0;
  bool timerExpired(plat::Timer* timer) override;

  // Hands io to the callback; without one the connection is shut down at
  // once (no flush, no handler).
  void succeeded(IoPtr io);
  // Passes the error to the callback, if there is one.
  void failed(const plat::Exception& error);

  IoConnected* callback_ = nullptr;
  plat::Timer timer_;
};

// Takes connections that a listener accepted.
class IoAcceptor {
public:
  virtual void ioAccept(IoPtr io) = 0;
  virtual ~IoAcceptor();
};

} // namespace io
