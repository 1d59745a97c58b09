// The error of a refused HTTP status: what a request whose owner did not
// accept the response's status fails with. A value; any thread.
#pragma once

#include "plat/Exception.h"

namespace http {

class HttpError : public plat::Exception {
public:
  // Message "HTTP status %d (%s)" with the reason phrase, type
  // "HttpStatus%d".
  explicit HttpError(int status);

  int getStatus() const { return status_; }

private:
  int status_;
};

} // namespace http
