// The errors of the public-key code: a failing mbedtls call, and a number
// that does not fit its field or is invalid.
#pragma once

#include "plat/Exception.h"

namespace crypto {

// Type "MbedTls". With a non-zero code the message gets ": " and the
// library's text for it.
class MbedTlsException : public plat::Exception {
public:
  MbedTlsException(const char* message, int code);
  // printf-style; the code stays 0.
  MbedTlsException(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  int getCode() const { return code_; }

private:
  int code_ = 0;
};

class BigNumOverflow : public plat::Exception {
public:
  explicit BigNumOverflow(const char* message) : plat::Exception(message) {}
};

} // namespace crypto
