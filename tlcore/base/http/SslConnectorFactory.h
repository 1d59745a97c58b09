// How the HTTP client gets a TLS connector for each "https" connection; the
// TLS layer implements it (ssl::SslConnFactory).
#pragma once

#include <memory>

#include "io/Io.h"

namespace http {

class SslConnectorFactory {
public:
  // A TLS connector over inner (ownership moves). serverName is host and
  // port, null for a numeric host.
  virtual std::unique_ptr<io::IoConnector> newConnector(std::unique_ptr<io::IoConnector> inner,
                                                        const char* serverName) = 0;
  virtual ~SslConnectorFactory() = default;
};

} // namespace http
