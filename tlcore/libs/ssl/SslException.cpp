#include "ssl/SslException.h"

namespace ssl {

namespace {

const char* const kTexts[] = {
    "X.509 Error: Invalid certificate",
    "X.509 Error: Certificate not yet valid",
    "X.509 Error: Certificate expired",
    "X.509 Error: Unknown issuer or bad signature",
    "X.509 Error: Self-signed certificate not trusted",
    "X.509 Error: Certificate revoked",
    "X.509 Error: Certificate usage not correct",
    "X.509 Error: Signature does not meet minimum strength requirements",
    "SSL Error: SSL Connection Closed",
    "SSL Error: SSL certificate does not match intended host",
    "X.509 Error: The CRL distribution points do not contain a supported endpoint",
    "X.509 Error: Revocation information could not be fetched",
    "X.509 Error: Invalid CRL",
    "X.509 Error: CRL not yet valid",
    "X.509 Error: CRL expired",
    "X.509 Error: CRL not trusted",
    "SSL Error: Underlying stream truncated",
    "X.509 Error: Invalid key",
    "X.509 Error: Invalid OCSP response",
    "X.509 Error: OCSP response not yet valid",
    "X.509 Error: OCSP response expired",
    "X.509 Error: OCSP response not trusted",
    "X.509 Error: OCSP response could not be fetched",
    "X.509 Error: OCSP responser is not a responder for this certificate",
};

} // namespace

const char* SslException::codeText(int code)
{
  if (code < 0 || code >= (int)(sizeof(kTexts) / sizeof(kTexts[0])))
    return "";
  return kTexts[code];
}

SslException::SslException(int code, const char* detail) : code_(code)
{
  const char* text = codeText(code);
  setMessage(text);
  // appendFmt cuts at the message limit on a character boundary.
  if (detail && *text)
    appendFmt("%s", detail);
}

} // namespace ssl
