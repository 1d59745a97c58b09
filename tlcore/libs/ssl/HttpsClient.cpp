#include "ssl/HttpsClient.h"

#include "ssl/SslConnFactory.h"

namespace ssl {

http::NativeHttpClient* createHttpsClient(std::unique_ptr<SslCertLookup>& lookup)
{
  if (!lookup)
    lookup = SslCertLookupSystemFile::create();
  std::unique_ptr<http::SslConnectorFactory> factory(
      new SslConnFactory(std::move(lookup), nullptr));
  return http::createHttpClient(std::move(factory));
}

} // namespace ssl
