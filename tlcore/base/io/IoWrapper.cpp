#include "io/IoWrapper.h"

#include "io/FdManager.h"

namespace io {

IoWrapper::IoWrapper(Io* inner, IoHandler* handler) : inner_(inner), handler_(handler)
{
  setStreams(inner_->in(), inner_->out());
  flags() = inner_->flags();
  inner_->setHandler(handler_ ? this : nullptr, true);
}

IoWrapper::~IoWrapper() = default;

void IoWrapper::deleteSelf(IoWrapper* self)
{
  delete self;
}

void IoWrapper::setHandler(IoHandler* h, bool readEnabled)
{
  handler_ = h;
  inner_->setHandler(nullptr, true);
  if (h)
    inner_->setHandler(this, readEnabled);
}

void IoWrapper::shutdown(Shutdown how)
{
  if (!handler_)
    inner_->setHandler(this, true);
  if (!hasAny(how, Shutdown::kTellHandler))
    handler_ = nullptr;
  inner_->shutdown(hasAny(how, Shutdown::kFlush) ? Shutdown::kFlush | Shutdown::kTellHandler
                                                 : Shutdown::kTellHandler);
}

void IoWrapper::markReadable()
{
  inner_->markReadable();
}

bool IoWrapper::hasOwnThread() const
{
  return inner_->hasOwnThread();
}

const char* IoWrapper::displayName()
{
  return inner_->displayName();
}

const char* IoWrapper::peerEndpoint()
{
  return inner_->peerEndpoint();
}

const char* IoWrapper::peerAddress()
{
  return inner_->peerAddress();
}

const char* IoWrapper::myEndpoint()
{
  return inner_->myEndpoint();
}

void IoWrapper::setTimeout(int ms)
{
  inner_->setTimeout(ms);
}

void IoWrapper::dataAvailable(Io*)
{
  if (handler_)
    handler_->dataAvailable(this);
}

void IoWrapper::writable(Io*)
{
  if (handler_)
    handler_->writable(this);
}

void IoWrapper::closed(Io*)
{
  IoHandler* h = handler_;
  handler_ = nullptr;
  if (h)
    h->closed(this);
  // The inner connection is gone once this returns, and its streams with it.
  setStreams(nullptr, nullptr);
  if (FdManager* mgr = FdManager::current())
    mgr->deferDelete<IoWrapper, &IoWrapper::deleteSelf>(this);
  else
    delete this;
}

// --- NamedIo ----------------------------------------------------------------------

NamedIo::NamedIo(Io* inner, const char* peerEndpoint_, const char* peerAddress_,
                 const char* displayName_, const char* resolvedPeerEndpoint_)
    : IoWrapper(inner, nullptr), peerEndpointText_(peerEndpoint_), peerAddressText_(peerAddress_),
      displayNameText_(displayName_), resolvedPeerEndpointText_(resolvedPeerEndpoint_)
{
}

NamedIo::~NamedIo() = default;

const char* NamedIo::displayName()
{
  return displayNameText_.isNull() ? IoWrapper::displayName() : displayNameText_.get();
}

const char* NamedIo::peerEndpoint()
{
  return peerEndpointText_.isNull() ? IoWrapper::peerEndpoint() : peerEndpointText_.get();
}

const char* NamedIo::resolvedPeerEndpoint()
{
  return resolvedPeerEndpointText_.isNull() ? peerEndpoint() : resolvedPeerEndpointText_.get();
}

const char* NamedIo::peerAddress()
{
  return peerAddressText_.isNull() ? IoWrapper::peerAddress() : peerAddressText_.get();
}

} // namespace io
