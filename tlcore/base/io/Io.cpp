#include "io/Io.h"

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
  PLAT_ASSERT(flags.size() < 256);
  os.writeU8((uint8_t)flags.size());
  for (const plat::String& f : flags)
    os.writeShortString(f.str());
}

void Io::readFlags(rdr::InStream& is)
{
  int n = is.readU8();
  for (int i = 0; i < n; i++)
    flags.insert(is.readShortString());
}

// --- Connectors -------------------------------------------------------------

void IoConnected::progress(IoConnector*)
{
}

IoConnected::~IoConnected() = default;

IoConnector::~IoConnector() = default;

Io* IoConnector::connect()
{
  throw plat::Exception("IoConnector::connect() not implemented");
}

const char* IoConnector::methodName(bool)
{
  return "<unknown method>";
}

IoConnectorBase::IoConnectorBase() : timer(this)
{
}

IoConnectorBase::~IoConnectorBase() = default;

void IoConnectorBase::start(IoConnected* cb)
{
  callback = cb;
  timer.start(0);
}

void IoConnectorBase::begin()
{
}

bool IoConnectorBase::timerExpired(plat::Timer* t)
{
  if (t == &timer)
    begin();
  return false;
}

void IoConnectorBase::succeeded(Io* io)
{
  if (callback)
    callback->connected(this, io);
  else
    io->shutdown(false, false);
}

void IoConnectorBase::failed(const plat::Exception& error)
{
  if (callback)
    callback->failed(this, error);
}

IoAcceptor::~IoAcceptor() = default;

// --- IoPtr ------------------------------------------------------------------

IoPtr::IoPtr(IoPtr&& other) noexcept
    : io(other.io), flush(other.flush), tellHandler(other.tellHandler)
{
  other.io = nullptr;
}

IoPtr& IoPtr::operator=(IoPtr&& other) noexcept
{
  if (this != &other) {
    reset(other.release());
    flush = other.flush;
    tellHandler = other.tellHandler;
  }
  return *this;
}

void IoPtr::reset(Io* newIo)
{
  Io* old = io;
  io = newIo;
  if (old && old != newIo)
    old->shutdown(flush, tellHandler);
}

Io* IoPtr::release()
{
  Io* r = io;
  io = nullptr;
  return r;
}

} // namespace io
