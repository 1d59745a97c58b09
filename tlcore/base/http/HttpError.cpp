#include "http/HttpError.h"

#include "http/HttpUtil.h"

namespace http {

HttpError::HttpError(int status)
    : plat::Exception(0, "HTTP status %d (%s)", status, getReasonPhrase(status)), status_(status)
{
  setTypeFmt("HttpStatus%d", status);
}

} // namespace http
