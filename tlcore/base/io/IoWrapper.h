// A connection standing in front of another: io::IoWrapper forwards every
// operation to the inner connection and places itself between it and the
// handler, reading and writing the inner connection's own streams.
// io::NamedIo answers the naming operations with texts fixed at
// construction, so that a tunnel through a proxy presents itself as a
// connection to its target.
//
// Ownership: the wrapper is the inner connection's handler and lives until
// the inner connection reports closed; shutting the wrapper down is how both
// end. It never deletes the inner connection itself, and deletes itself on a
// later pass (the loop's deferred delete). Loop thread only.
#pragma once

#include "io/Io.h"
#include "plat/String.h"

namespace io {

class IoWrapper : public Io, public IoHandler {
public:
  // Takes the inner connection's streams and flags. With a handler the
  // wrapper becomes the inner's handler (reads enabled); without one the
  // inner is left without a handler.
  IoWrapper(Io* inner, IoHandler* handler);

  void setHandler(IoHandler* handler, bool readEnabled = true) override;
  // Listens to the inner connection even without a handler of its own, so
  // that it hears the close and ends too.
  void shutdown(Shutdown how) override;
  void markReadable() override;
  bool hasOwnThread() const override;
  const char* displayName() override;
  const char* peerEndpoint() override;
  const char* peerAddress() override;
  const char* myEndpoint() override;
  void setTimeout(int ms) override;

  Io* getInner() const { return inner_; }

protected:
  ~IoWrapper() override;

  // --- Events of the inner connection -----------------------------------------
  void dataAvailable(Io* io) override;
  void writable(Io* io) override;
  void closed(Io* io) override;

  Io* inner_;
  IoHandler* handler_;

private:
  static void deleteSelf(IoWrapper* self);
};

class NamedIo : public IoWrapper {
public:
  // Copies of the texts; a null text leaves that question to the inner
  // connection (resolvedPeerEndpoint: to this object's peerEndpoint).
  NamedIo(Io* inner, const char* peerEndpoint, const char* peerAddress, const char* displayName,
          const char* resolvedPeerEndpoint);

  const char* displayName() override;
  const char* peerEndpoint() override;
  const char* resolvedPeerEndpoint() override;
  const char* peerAddress() override;

protected:
  ~NamedIo() override;

private:
  plat::String peerEndpointText_;
  plat::String peerAddressText_;
  plat::String displayNameText_;
  plat::String resolvedPeerEndpointText_;
};

} // namespace io
