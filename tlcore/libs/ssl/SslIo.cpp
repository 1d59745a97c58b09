#include "ssl/SslIo.h"

#include <limits.h>

#include <exception>

#include "io/FdManager.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "ssl/SslException.h"
#include "ssl/SslVerifier.h"

namespace ssl {

namespace {

plat::LogSrc vlog("SslIo");

const int kProtocols[] = {2};

} // namespace

rdr::OutStream* SslIo::SslOutStream::getBottomStream()
{
  return innerOut ? innerOut->getBottomStream() : this;
}

int SslIo::SslOutStream::spaceAvailable()
{
  if (!innerOut)
    return MemIoStream::spaceAvailable();
  // Room for the plain bytes of records that fit what the inner stream takes.
  int64_t hint = std::max(innerOut->spaceAvailable(), 2048) - 2048;
  hint = hint * 4 / 5;
  return (int)(hint & ~(int64_t)7);
}

SslIo::SslIo(io::IoPtr inner, SslVerifier* verifier, SslTrustManager* trustManager,
             const char* hostName, const ClientIdentity* identity)
    : inner_(inner.release(), io::Shutdown::kFlush), plainIn_(this, kMaxPlainBytes),
      tlsOut_(this, kMaxPlainBytes), verifier_(verifier)
{
  PLAT_ASSERT(verifier);
  tlsOut_.innerOut = inner_->out();
  flags().insert(plat::String("secureTransport"));
  bool high = tlsProfileParam.getValue() == 1;
  engine_ = SslEngine::create(trustManager, high ? 7 : 32, high ? kHighSuites : kNormalSuites, 1,
                              kProtocols, hostName, identity);
}

SslIo::~SslIo() = default;

void SslIo::deleteSelf(SslIo* self)
{
  delete self;
}

void SslIo::setHandler(io::IoHandler* handler, bool readEnabled)
{
  handler_ = handler;
  readEnabled_ = readEnabled;
  if (closed_ || !inner_)
    return;
  paused_ = false;
  inner_->setHandler(handler ? this : nullptr, readEnabled);
  if (handshaking_)
    inner_->markReadable();
}

void SslIo::shutdown(io::Shutdown how)
{
  if (!hasAny(how, io::Shutdown::kTellHandler))
    handler_ = nullptr;
  if (!closed_) {
    closed_ = true;
    try {
      if (hasAny(how, io::Shutdown::kFlush) && !handshaking_)
        send();
      engine_->close(inner_->out());
    } catch (const plat::Exception& e) {
      vlog.log(100, "error flushing on close: %s", e.str());
    }
  }
  if (inner_) {
    inner_->setHandler(this, false);
    inner_->shutdown(io::Shutdown::kFlush | io::Shutdown::kTellHandler);
  }
}

void SslIo::markReadable()
{
  if (!closed_ && inner_)
    inner_->markReadable();
}

const char* SslIo::displayName()
{
  return inner_ ? inner_->displayName() : "";
}

const char* SslIo::peerEndpoint()
{
  return inner_ ? inner_->peerEndpoint() : "";
}

const char* SslIo::resolvedPeerEndpoint()
{
  return peerEndpoint();
}

const char* SslIo::peerAddress()
{
  return inner_ ? inner_->peerAddress() : "";
}

const char* SslIo::myEndpoint()
{
  return inner_ ? inner_->myEndpoint() : "";
}

void SslIo::setTimeout(int ms)
{
  if (inner_)
    inner_->setTimeout(ms);
}

// --- The inner connection ----------------------------------------------------

void SslIo::dataAvailable(io::Io*)
{
  if (handshaking_) {
    if (!closed_)
      handshakeStep();
    return;
  }
  if (closed_)
    return;
  receive();
}

void SslIo::writable(io::Io*)
{
  if (!handshaking_ && !closed_ && handler_)
    handler_->writable(this);
}

void SslIo::closed(io::Io*)
{
  // The inner connection deletes itself once this returns.
  inner_.release();
  tlsOut_.innerOut = nullptr;
  setStreams(nullptr, nullptr);
  io::IoHandler* handler = handler_;
  handler_ = nullptr;
  if (handler) {
    try {
      handler->closed(this);
    } catch (const plat::Exception& e) {
      vlog.error("Shutdown error: %s", e.str());
    }
  }
  if (io::FdManager* mgr = io::FdManager::current())
    mgr->deferDelete<SslIo, &SslIo::deleteSelf>(this);
  else
    delete this;
}

void SslIo::handshakeStep()
{
  try {
    if (!engine_->handshake(inner_->in(), inner_->out()))
      return;
    verifier_->verify(engine_->peerCertificates(), peerEndpoint());
    handshaking_ = false;
    setStreams(&plainIn_, &tlsOut_);
  } catch (const plat::Exception& e) {
    vlog.log(30, "Handshaking error: %s", e.str());
    storeError(e);
    shutdown(io::Shutdown::kTellHandler);
    return;
  }
  if (handler_)
    handler_->writable(this);
}

// Decrypts what the inner stream holds into the plain stream. The end of
// the stream, the peer's close_notify and failures are left in the plain
// stream, after the data before them, for its reader to get thrown: the
// close as rdr::EndOfStream "SSL connection closed", a truncation as code
// 16, anything else as it was thrown here.
void SslIo::readOnDemand()
{
  if (plainIn_.isClosedForWrite() || plainIn_.getError())
    return;
  struct Reading {
    explicit Reading(bool& r) : flag(r) { flag = true; }
    ~Reading() { flag = false; }
    bool& flag;
  } reading(reading_);
  try {
    engine_->read(inner_->in(), &plainIn_);
  } catch (const SslException& e) {
    if (e.getCode() == 8) {
      rdr::EndOfStream closed("SSL connection closed");
      plainIn_.setError(closed, std::make_exception_ptr(closed));
      plainIn_.closeWrite();
      return;
    }
    storeError(e);
    plainIn_.setError(e, std::current_exception());
  } catch (const rdr::EndOfStream&) {
    SslException truncated(16);
    storeError(truncated);
    plainIn_.setError(truncated, std::make_exception_ptr(truncated));
  } catch (const plat::Exception& e) {
    storeError(e);
    plainIn_.setError(e, std::current_exception());
  }
}

void SslIo::receive()
{
  readOnDemand();
  // What the inner connection holds now waits for the reader to make room,
  // rather than waking the loop on every pass.
  if (!paused_ && plainIn_.spaceAvailable() == 0 && !plainIn_.isClosedForWrite() &&
      !plainIn_.getError()) {
    paused_ = true;
    inner_->setHandler(this, false);
  }
  if (!handler_)
    return;
  try {
    handler_->dataAvailable(this);
  } catch (const rdr::BlockException&) {
  } catch (const plat::Exception& e) {
    vlog.error("ioReadable: %s", e.str());
  }
}

void SslIo::send()
{
  while (tlsOut_.check(false, 1)) {
    int n = std::min(tlsOut_.nUnread(), kMaxRecordPayload);
    engine_->write(n, static_cast<rdr::InStream&>(tlsOut_).getPtr(), inner_->out());
    tlsOut_.consume(n);
    tlsOut_.setCheckpoint();
  }
  inner_->out()->flush();
}

void SslIo::storeError(const plat::Exception& e)
{
  error_ = std::make_unique<plat::Exception>(e);
}

// --- The memory streams --------------------------------------------------------

void SslIo::dataAvailable(rdr::MemIoStream* stream)
{
  if (stream != &tlsOut_)
    return;
  PLAT_CHECK(!closed_);
  send();
}

void SslIo::spaceAvailable(rdr::MemIoStream* stream)
{
  if (stream != &plainIn_ || reading_ || closed_ || handshaking_ || !inner_)
    return;
  int64_t before = plainIn_.lengthWritten();
  bool ended = plainIn_.isClosedForWrite() || plainIn_.getError();
  readOnDemand();
  if (paused_ && plainIn_.spaceAvailable() > 0) {
    paused_ = false;
    inner_->setHandler(handler_ ? this : nullptr, readEnabled_);
  }
  // The reader may be done for now: tell it on the next pass.
  if (plainIn_.lengthWritten() != before ||
      ended != (plainIn_.isClosedForWrite() || plainIn_.getError()))
    inner_->markReadable();
}

int SslIo::bytesBuffered(rdr::MemIoStream* stream)
{
  if (stream != &tlsOut_)
    return 0;
  return (int)std::min<int64_t>(INT_MAX, (int64_t)tlsOut_.nUnread() +
                                             (inner_ ? inner_->out()->bytesBuffered() : 0));
}

bool SslIo::writeClosed(rdr::MemIoStream* stream)
{
  return stream == &plainIn_;
}

} // namespace ssl
