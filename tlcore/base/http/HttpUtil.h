// Small free functions that the HTTP layer's users share.
#pragma once

#include "plat/Time.h"

namespace http {

// An HTTP date in RFC 1123, RFC 850 or asctime form, written exactly as that
// form writes it (weekday, padding and "GMT" included); out is set only on
// success.
bool parseDate(plat::Time* out, const char* text);
// The same, throwing "invalid HTTP date (%s)" with the text.
plat::Time parseDateOrThrow(const char* text);

// The standard reason phrase of an HTTP status ("Service Unavailable" for
// 503), "Unknown Error" for any code without one. Static text.
const char* getReasonPhrase(int status);

} // namespace http
