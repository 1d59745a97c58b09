// Bootstrap fetches: what a driver implements to hear the outcome of one,
// and the handling of a bootstrap server's answer that needs no network:
// verifying the document for the address it came from, logging a
// configuration that is not yet valid and refreshing the bootstrap cache.
#pragma once

#include "hosted/BootstrapConfig.h"

namespace hosted {

class BootstrapRequest;

// Implemented by the drivers of bootstrap requests.
class BootstrapRequestCallback {
public:
  // config is verified and shared.
  virtual void bootstrapReceived(BootstrapRequest* request, const BootstrapConfigPtr& config) = 0;
  // error has category "Bootstrap".
  virtual void bootstrapRequestFailed(BootstrapRequest* request, const HostedException& error) = 0;
  virtual ~BootstrapRequestCallback() = default;

protected:
  BootstrapRequestCallback() = default;
};

// The configuration in the body of an accepted answer from url: a signature
// is required unless url is https, and checked against the context's vendor
// configuration; the cache keeps a signed one for its maximum age and
// prefers url for a day. Failures are HostedException of category
// "Bootstrap".
BootstrapConfigPtr acceptBootstrapAnswer(const HostedClientContext& context, const char* url,
                                         int length, const void* body);

} // namespace hosted
