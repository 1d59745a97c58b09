#include "io/ProxyError.h"

#include <string.h>

#include "io/IpInfo.h"
#include "io/TcpConnector.h"
#include "loc/Localize.h"
#include "rdr/Exception.h"

namespace io {

const char* const ProxyError::kBadConnection = "BadConnection";
const char* const ProxyError::kConnectionError = "ConnectionError";
const char* const ProxyError::kBadProtocol = "BadProtocol";
const char* const ProxyError::kAuthenticationUnsupported = "AuthenticationUnsupported";
const char* const ProxyError::kAuthenticationRequired = "AuthenticationRequired";
const char* const ProxyError::kAuthenticationFailed = "AuthenticationFailed";
const char* const ProxyError::kConnectFailed = "ConnectFailed";
const char* const ProxyError::kConnectDenied = "ConnectDenied";

namespace {

bool isKnownKind(const char* kind)
{
  const char* const kinds[] = {
      ProxyError::kBadConnection,
      ProxyError::kConnectionError,
      ProxyError::kBadProtocol,
      ProxyError::kAuthenticationUnsupported,
      ProxyError::kAuthenticationRequired,
      ProxyError::kAuthenticationFailed,
      ProxyError::kConnectFailed,
      ProxyError::kConnectDenied,
  };
  for (const char* k : kinds)
    if (kind && strcmp(kind, k) == 0)
      return true;
  return false;
}

// A copy that keeps the classes userMessage looks for.
std::shared_ptr<const plat::Exception> copyOf(const plat::Exception& e)
{
  if (auto* p = dynamic_cast<const ProxyError*>(&e))
    return std::make_shared<ProxyError>(*p);
  if (auto* g = dynamic_cast<const GetAddrInfoException*>(&e))
    return std::make_shared<GetAddrInfoException>(*g);
  if (auto* s = dynamic_cast<const plat::SystemException*>(&e))
    return std::make_shared<plat::SystemException>(*s);
  if (auto* eos = dynamic_cast<const rdr::EndOfStream*>(&e))
    return std::make_shared<rdr::EndOfStream>(*eos);
  return std::make_shared<plat::Exception>(e);
}

} // namespace

ProxyError::ProxyError(const char* kind, const char* via, const char* detail) : via_(via)
{
  bool known = isKnownKind(kind);
  kind_[0] = 0;
  plat::strCat(kind_, sizeof(kind_), kind ? kind : "");
  if (!detail)
    detail = known ? kind_ : "invalid";
  char text[kMessageSize];
  plat::strFormat(text, "Proxy error via %s: %s (%s)", via_.str(), detail, kind_);
  setMessage(text);
  setType("ProxyError");
}

ProxyError::ProxyError(const char* kind, const char* via, const char* detail,
                       const plat::Exception& cause)
    : ProxyError(kind, via, detail)
{
  setCause(cause);
}

bool ProxyError::isKind(const char* kind) const
{
  return kind && strcmp(kind_, kind) == 0;
}

void ProxyError::setCause(const plat::Exception& cause)
{
  cause_ = copyOf(cause);
}

plat::String ProxyError::userMessage(const char* fallback) const
{
  const char* detail = nullptr;
  if (cause_ && dynamic_cast<const rdr::EndOfStream*>(cause_.get())) {
    detail = LOC_TR("io_error_proxy_disconnected");
  } else if (auto* s = dynamic_cast<const plat::SystemException*>(cause_.get());
             s && isKind(kBadConnection) && TcpAddrConnector::errorMessage(s->getErr())) {
    detail = TcpAddrConnector::errorMessage(s->getErr());
  } else if (auto* g = dynamic_cast<const GetAddrInfoException*>(cause_.get())) {
    detail = g->userMessage();
  } else if (fallback) {
    detail = fallback;
  } else if (cause_) {
    detail = cause_->str();
  }
  return loc::formatArgs(LOC_TR_RAW("io_error_proxy_general"), via_.str(), detail ? detail : "");
}

} // namespace io
