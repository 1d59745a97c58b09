#include "io/IoWrapper.h"

#include "io/FdManager.h"

namespace io {

IoWrapper::IoWrapper(Io* inner_, IoHandler* handler_) : inner(inner_), handler(handler_)
{
  in = inner->in;
  out = inner->out;
  flags = inner->flags;
  inner->setHandler(handler ? this : nullptr, true);
}

IoWrapper::~IoWrapper() = default;

void IoWrapper::deleteSelf(IoWrapper* self)
{
  delete self;
}

void IoWrapper::setHandler(IoHandler* h, bool readEnabled)
{
  handler = h;
  inner->setHandler(nullptr, true);
  if (h)
    inner->setHandler(this, readEnabled);
}

void IoWrapper::shutdown(Shutdown how)
{
  if (!handler)
    inner->setHandler(this, true);
  if (!hasAny(how, Shutdown::kTellHandler))
    handler = nullptr;
  inner->shutdown(hasAny(how, Shutdown::kFlush) ? Shutdown::kFlush | Shutdown::kTellHandler
                                                 : Shutdown::kTellHandler);
}

void IoWrapper::markReadable()
{
  inner->markReadable();
}

bool IoWrapper::hasOwnThread() const
{
  return inner->hasOwnThread();
}

const char* IoWrapper::displayName()
{
  return inner->displayName();
}

const char* IoWrapper::peerEndpoint()
{
  return inner->peerEndpoint();
}

const char* IoWrapper::peerAddress()
{
  return inner->peerAddress();
}

const char* IoWrapper::myEndpoint()
{
  return inner->myEndpoint();
}

void IoWrapper::setTimeout(int ms)
{
  inner->setTimeout(ms);
}

void IoWrapper::dataAvailable(Io*)
{
  if (handler)
    handler->dataAvailable(this);
}

void IoWrapper::writable(Io*)
{
  if (handler)
    handler->writable(this);
}

void IoWrapper::closed(Io*)
{
  IoHandler* h = handler;
  handler = nullptr;
  if (h)
    h->closed(this);
  // The inner connection is gone once this returns, and its streams with it.
  in = nullptr;
  out = nullptr;
  if (FdManager* mgr = FdManager::current())
    mgr->deferDelete<IoWrapper, &IoWrapper::deleteSelf>(this);
  else
    delete this;
}

// --- NamedIo ----------------------------------------------------------------------

NamedIo::NamedIo(Io* inner_, const char* peerEndpoint_, const char* peerAddress_,
                 const char* displayName_, const char* resolvedPeerEndpoint_)
    : IoWrapper(inner_, nullptr), peerEndpointText(peerEndpoint_), peerAddressText(peerAddress_),
      displayNameText(displayName_), resolvedPeerEndpointText(resolvedPeerEndpoint_)
{
}

NamedIo::~NamedIo() = default;

const char* NamedIo::displayName()
{
  return displayNameText.isNull() ? IoWrapper::displayName() : displayNameText.get();
}

const char* NamedIo::peerEndpoint()
{
  return peerEndpointText.isNull() ? IoWrapper::peerEndpoint() : peerEndpointText.get();
}

const char* NamedIo::resolvedPeerEndpoint()
{
  return resolvedPeerEndpointText.isNull() ? peerEndpoint() : resolvedPeerEndpointText.get();
}

const char* NamedIo::peerAddress()
{
  return peerAddressText.isNull() ? IoWrapper::peerAddress() : peerAddressText.get();
}

} // namespace io
