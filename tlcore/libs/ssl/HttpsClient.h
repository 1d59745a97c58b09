// The HTTPS client: an HTTP client whose TLS connections are verified
// against a certificate store by the default HTTPS verifier.
#pragma once

#include <memory>

#include "http/native/NativeHttpClient.h"
#include "ssl/SslCertLookup.h"

namespace ssl {

// A new client owned by the caller, with a new SslConnFactory over lookup
// (taken; an empty lookup is first replaced by the "cacerts.pem" store).
std::unique_ptr<http::NativeHttpClient> createHttpsClient(std::unique_ptr<SslCertLookup> lookup);

} // namespace ssl
