// Small free functions that the HTTP layer's users share.
#pragma once

namespace http {

// The standard reason phrase of an HTTP status ("Service Unavailable" for
// 503), "Unknown Error" for any code without one. Static text.
const char* getReasonPhrase(int status);

} // namespace http
