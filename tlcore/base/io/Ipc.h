// The connection holder of a local IPC channel.
//
// An io::Ipc holds at most one connection at a time. It takes the connection
// from whoever accepted or made it, becomes its event handler (unless the
// channel is synchronous, whose owner reads with blocking calls) and passes
// data events on to its owner's callback. Any error the owner throws while
// handling data ends that connection only: the connection is detached and
// shut down first, then the owner hears error() and closed(). While no
// connection is held, output goes into a discarding stream, so writers never
// test for a connection.
//
// Ownership: the Ipc owns the connection it holds (and ends it with
// shutdown, never by deleting it); the callback is borrowed. The callback may
// destroy the Ipc from inside error() or closed() (through the loop's
// deferred delete is the rule; a direct delete is survived). Belongs to the
// thread whose loop drives its connection; nothing is locked.
#pragma once

#include "io/Io.h"
#include "plat/Exception.h"
#include "plat/LivenessToken.h"
#include "plat/String.h"
#include "rdr/BufferedOutStream.h"
#include "rdr/Forward.h"

namespace io {

// The channels use these unqualified.
using plat::DestroyGuard;
using plat::LivenessToken;

class Ipc : public IoAcceptor, private IoHandler {
public:
  // What the owner of a channel hears.
  class Callback {
  public:
    // Bytes (or an end) can be read from getIn() without waiting. A
    // plat::Exception thrown here ends the connection.
    virtual void dataAvailable(Ipc* ipc) = 0;
    // The connection went away (not after close() or release()).
    virtual void closed(Ipc* ipc) = 0;
    // dataAvailable threw; the connection is already gone, closed() follows.
    virtual void error(Ipc* ipc, const plat::Exception& e) = 0;
    // Everything written has gone to the connection (once after each
    // drain, and when the connection is new).
    virtual void writable(Ipc* ipc);
    virtual ~Callback() = default;
  };

  // name prefixes every log line of the channel and is copied.
  Ipc(const char* name, Callback* callback, bool sync);
  // close(); the callback is not told.
  ~Ipc() override;

  // --- The connection ----------------------------------------------------------
  // Takes ownership of io; holding one already is a fatal assertion.
  void ioAccept(IoPtr io) override;
  // Switches between synchronous and event-driven use of the held
  // connection (and of later ones).
  void setSync(bool sync);
  // Shuts the connection down (on a later pass; flushing first when
  // flushOnClose is set) without telling the callback.
  void close();
  // Detaches the connection without shutting it down; the caller owns it
  // (empty while unconnected).
  IoPtr release();

  bool isConnected() const { return (bool)io_; }
  Io* getIo() const { return io_.get(); }
  // Null while unconnected.
  rdr::InStream* getIn() const { return in_; }
  // Never null: a discarding stream while unconnected.
  rdr::OutStream* getOut() const { return out_; }
  const char* getName() const { return name_.str(); }
  bool isSync() const { return sync_; }
  void setFlushOnClose(bool flush) { flushOnClose_ = flush; }

private:
  // io::IoHandler
  void dataAvailable(Io* io) override;
  void writable(Io* io) override;
  void closed(Io* io) override;

  // Forgets the connection and returns it; the streams fall back to
  // unconnected.
  IoPtr detach();

  plat::String name_;
  Callback* callback_;
  IoPtr io_;
  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_;
  rdr::NullOutStream nullOut_;
  bool sync_;
  bool flushOnClose_ = false;
  LivenessToken liveness_;
};

} // namespace io
