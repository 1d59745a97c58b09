#include "io/Io.h"

#include <utility>

#include "plat/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace io {

// --- IoHandler --------------------------------------------------------------

void IoHandler::closed(Io*)
{
}

IoHandler::~IoHandler() = default;

// --- Io ---------------------------------------------------------------------

Io::~Io() = default;

void Io::markReadable()
{
  PLAT_FAIL("Io::markReadable() not implemented for this Io");
}

const char* Io::resolvedPeerEndpoint()
{
  return peerEndpoint();
}

void Io::writeFlags(rdr::OutStream& os) const
{
  PLAT_ASSERT(flags().size() < 256);
  os.writeU8((uint8_t)flags().size());
  for (const plat::String& f : flags_)
    os.writeShortString(f.str());
}

void Io::readFlags(rdr::InStream& is)
{
  int n = is.readU8();
  for (int i = 0; i < n; i++)
    flags().insert(is.readShortString());
}

// --- Connectors -------------------------------------------------------------

void IoConnected::progress(IoConnector*)
{
}

IoConnected::~IoConnected() = default;

IoConnector::~IoConnector() = default;

IoPtr IoConnector::connect()
{
  throw plat::Exception("IoConnector::connect() not implemented");
}

const char* IoConnector::methodName(bool)
{
  return "<unknown method>";
}

IoConnectorBase::IoConnectorBase() : timer_(this)
{
}

IoConnectorBase::~IoConnectorBase() = default;

void IoConnectorBase::start(IoConnected* cb)
{
  callback_ = cb;
  timer_.start(0);
}

void IoConnectorBase::begin()
{
}

bool IoConnectorBase::timerExpired(plat::Timer* t)
{
  if (t == &timer_)
    begin();
  return false;
}

void IoConnectorBase::succeeded(IoPtr io)
{
  if (callback_) {
    callback_->connected(this, std::move(io));
  } else {
    io.setOnReset(Shutdown::kDrop);
    io.reset();
  }
}

void IoConnectorBase::failed(const plat::Exception& error)
{
  if (callback_)
    callback_->failed(this, error);
}

IoAcceptor::~IoAcceptor() = default;

// --- IoPtr ------------------------------------------------------------------

IoPtr::IoPtr(IoPtr&& other) noexcept : io_(other.io_), onReset_(other.onReset_)
{
  other.io_ = nullptr;
}

IoPtr& IoPtr::operator=(IoPtr&& other) noexcept
{
  if (this != &other) {
    reset(other.release());
    onReset_ = other.onReset_;
  }
  return *this;
}

void IoPtr::reset(Io* newIo)
{
  Io* old = io_;
  io_ = newIo;
  if (old && old != newIo)
    old->shutdown(onReset_);
}

Io* IoPtr::release()
{
  Io* r = io_;
  io_ = nullptr;
  return r;
}

} // namespace io
