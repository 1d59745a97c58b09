#include "ssl/HttpsClient.h"

#include "ssl/SslConnFactory.h"

namespace ssl {

std::unique_ptr<http::NativeHttpClient> createHttpsClient(std::unique_ptr<SslCertLookup> lookup)
{
  if (!lookup)
    lookup = SslCertLookupSystemFile::create();
  return http::createHttpClient(std::make_unique<SslConnFactory>(std::move(lookup), nullptr));
}

} // namespace ssl
