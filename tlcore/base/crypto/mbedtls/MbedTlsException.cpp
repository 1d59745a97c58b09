#include "crypto/MbedTlsException.h"

#include <mbedtls/error.h>
#include <stdarg.h>

namespace crypto {

MbedTlsException::MbedTlsException(const char* message, int code) : code_(code)
{
  setType("MbedTls");
  setMessage(message ? message : "");
  if (code == 0)
    return;
  char text[kMessageSize];
  mbedtls_strerror(code, text, sizeof(text));
  if (message_[0])
    appendFmt("%s", text);
  else
    setMessage(text);
}

MbedTlsException::MbedTlsException(int, const char* fmt, ...)
{
  setType("MbedTls");
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
}

} // namespace crypto
