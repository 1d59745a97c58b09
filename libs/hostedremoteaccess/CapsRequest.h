// One logical call to a hosted service of a kind: what its caller
// implements, the request's own errors and the paging helper. Loop thread.
#pragma once

#include "hosted/HostedException.h"
#include "plat/MBuf.h"
#include "plat/String.h"

namespace hostedremoteaccess {

class CapsRequest;

// A hosted error of the application stage; "CAPSBadRedirect" and
// "CAPSNoCreds" have fixed texts.
class CapsException : public hosted::HostedException {
public:
  explicit CapsException(const char* kind);
};

// What the caller of a capabilities request implements. Exactly one of
// capsResponse and capsFailed follows a start; the request may be destroyed
// from either. None may throw.
class CapsRequestCallback {
public:
  virtual void capsResponse(CapsRequest* request, const plat::MBuf<unsigned char>& body,
                            const char* contentType) = 0;
  virtual void capsFailed(CapsRequest* request, const hosted::HostedException& error) = 0;
  virtual bool capsAcceptStatus(CapsRequest* request, int status) = 0;
  virtual void capsRetrying(int delayMs) = 0;
  virtual ~CapsRequestCallback() = default;
};

// The value of query parameter name in the rel="next" address of a "Link"
// header; null without one (also for a malformed address or query).
plat::String linkNextPageParam(const char* link, const char* name);

} // namespace hostedremoteaccess
