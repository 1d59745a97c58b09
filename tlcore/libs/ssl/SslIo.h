// A connection that carries TLS over another connection (TCP or a proxy
// tunnel). It pumps ciphertext between the inner connection's streams and
// the TLS engine, and reports itself usable (writable, streams set) only
// after the handshake, the chain check and the verifier have passed; until
// then in and out stay null. Decrypted data waits in a plain input stream of
// at most 10240 bytes: beyond that, records stay encrypted in the inner
// stream until the reader frees room.
//
// Ownership: owns the inner connection and the engine; borrows the verifier
// and the trust manager. Like every io::Io it ends through shutdown() and
// deletes itself once the inner connection has closed. Loop thread only.
#pragma once

#include <memory>

#include "io/Io.h"
#include "rdr/MemIoStream.h"
#include "ssl/SslEngine.h"

namespace ssl {

class SslIo : public io::Io, public io::IoHandler, public rdr::MemIoStream::Callback {
public:
  static constexpr int kMaxPlainBytes = 10240;
  static constexpr int kMaxRecordPayload = 16384;

  // Takes inner over; verifier is never null. The cipher suites follow
  // TlsProfile at this moment; the protocol is TLS 1.2.
  SslIo(io::IoPtr inner, SslVerifier* verifier, SslTrustManager* trustManager, const char* hostName,
        const ClientIdentity* identity);

  // Setting a handler during the handshake starts or continues it.
  void setHandler(io::IoHandler* handler, bool readEnabled = true) override;
  void shutdown(io::Shutdown how) override;
  // The handler soon gets dataAvailable (during the handshake: the
  // handshake goes on).
  void markReadable() override;
  const char* displayName() override;
  const char* peerEndpoint() override;
  const char* resolvedPeerEndpoint() override;
  const char* peerAddress() override;
  const char* myEndpoint() override;
  void setTimeout(int ms) override;

  // Why the connection failed; null while it has not.
  const plat::Exception* storedError() const { return error_.get(); }
  SslEngine& engine() { return *engine_; }

  // The user's output stream: records of at most 16384 bytes go out on
  // flush; its size hint is what the inner stream can take, less TLS
  // overhead.
  class SslOutStream : public rdr::MemIoStream {
  public:
    SslOutStream(Callback* callback, int maxBytes) : MemIoStream(callback, maxBytes) {}
    rdr::OutStream* getBottomStream() override;
    int spaceAvailable() override;
    rdr::OutStream* innerOut = nullptr;
  };

protected:
  ~SslIo() override;

private:
  // --- Events of the inner connection
  void dataAvailable(io::Io* io) override;
  void writable(io::Io* io) override;
  void closed(io::Io* io) override;
  // --- Events of the memory streams
  void dataAvailable(rdr::MemIoStream* stream) override;
  void spaceAvailable(rdr::MemIoStream* stream) override;
  int bytesBuffered(rdr::MemIoStream* stream) override;
  bool writeClosed(rdr::MemIoStream* stream) override;

  void handshakeStep();
  void receive();
  void readOnDemand();
  void send();
  void storeError(const plat::Exception& e);
  static void deleteSelf(SslIo* self);

  io::IoPtr inner_;
  rdr::MemIoStream plainIn_;
  SslOutStream tlsOut_;
  std::unique_ptr<SslEngine> engine_;
  std::unique_ptr<plat::Exception> error_;
  SslVerifier* verifier_;
  bool handshaking_ = true;
  bool closed_ = false;
  io::IoHandler* handler_ = nullptr;
  bool readEnabled_ = true;
  bool reading_ = false;
  // The inner connection's reads are off while the plain stream is full.
  bool paused_ = false;
};

} // namespace ssl
