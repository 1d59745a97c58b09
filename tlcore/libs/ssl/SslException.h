// The error of the whole TLS layer: one code from a fixed table whose text
// is the message, optionally followed by ": " and a detail.
#pragma once

#include "plat/Exception.h"

namespace ssl {

class SslException : public plat::Exception {
public:
  // Codes 0 to 23; any other code has an empty text, and then the detail
  // (may be null) is left out too.
  explicit SslException(int code, const char* detail = nullptr);

  int getCode() const { return code_; }
  // The text of a code; "" outside the table.
  static const char* codeText(int code);

private:
  int code_;
};

} // namespace ssl
