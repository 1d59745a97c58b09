#include "ssl/SslConnFactory.h"

#include "ssl/SslConnector.h"
#include "ssl/SslVerifier.h"

namespace ssl {

SslConnFactory::SslConnFactory(std::unique_ptr<SslCertLookup> lookup, SslVerifier* verifier)
    : trustManager_(SslTrustManager::create(std::move(lookup))),
      verifier_(verifier ? verifier : &SslPublicHttpsVerifier::instance())
{
}

SslConnFactory::~SslConnFactory() = default;

std::unique_ptr<io::IoConnector>
SslConnFactory::newConnector(std::unique_ptr<io::IoConnector> inner, const char* serverName)
{
  return std::make_unique<SslConnector>(std::move(inner), verifier_, trustManager_.get(),
                                        serverName, nullptr);
}

} // namespace ssl
