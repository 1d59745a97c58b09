#include "ssl/SslConnector.h"

#include "ssl/SslIo.h"

namespace ssl {

SslConnector::SslConnector(std::unique_ptr<io::IoConnector> inner, SslVerifier* verifier,
                           SslTrustManager* trustManager, const char* hostName,
                           std::unique_ptr<ClientIdentity> identity)
    : hostName_(hostName), verifier_(verifier), trustManager_(trustManager),
      identity_(std::move(identity)), inner_(std::move(inner))
{
}

SslConnector::SslConnector(io::IoPtr io, SslVerifier* verifier, SslTrustManager* trustManager,
                           const char* hostName, std::unique_ptr<ClientIdentity> identity)
    : hostName_(hostName), verifier_(verifier), trustManager_(trustManager)
{
  tls_.reset(new SslIo(std::move(io), verifier, trustManager, hostName, identity.get()));
}

SslConnector::~SslConnector() = default;

void SslConnector::begin()
{
  if (tls_)
    tls_->setHandler(this);
  else if (inner_)
    inner_->start(this);
}

void SslConnector::cancel()
{
  inner_.reset();
  tls_.reset();
}

void SslConnector::connected(io::IoConnector*, io::IoPtr io)
{
  inner_.reset();
  SslIo* tls;
  try {
    // On failure the connection is already shut down.
    tls = new SslIo(std::move(io), verifier_, trustManager_, hostName_.get(), identity_.get());
  } catch (const plat::Exception& e) {
    IoConnectorBase::failed(e);
    return;
  }
  identity_.reset();
  tls_.reset(tls);
  tls->setHandler(this);
}

void SslConnector::failed(io::IoConnector*, const plat::Exception& error)
{
  inner_.reset();
  IoConnectorBase::failed(error);
}

void SslConnector::dataAvailable(io::Io*)
{
}

void SslConnector::writable(io::Io*)
{
  io::IoPtr io(tls_.release());
  io->setHandler(nullptr);
  succeeded(std::move(io));
}

void SslConnector::closed(io::Io* io)
{
  tls_.release();
  const plat::Exception* stored = static_cast<SslIo*>(io)->storedError();
  IoConnectorBase::failed(stored ? *stored : plat::Exception("SSL handshake failed"));
}

} // namespace ssl
