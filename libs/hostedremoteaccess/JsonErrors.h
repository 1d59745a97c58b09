// Reply helpers of the remote-access client: a JSON body as an object, the
// codes and fields listed in a hosted error reply's "errors" array, and the
// "Date" and "Retry-After" headers as a clock skew and a wait. Free
// functions without state; the clock is plat::getTime.
#pragma once

#include <stdint.h>

#include "hosted/Forward.h"
#include "plat/Json.h"
#include "plat/MBuf.h"
#include "plat/String.h"
#include "plat/Time.h"


namespace hostedremoteaccess {

// JsonException for bad JSON, a wrong content type or a non-object.
plat::JsonPtr<plat::JsonObject> parseJsonBody(const plat::MBuf<unsigned char>& body,
                                              const char* contentType);
// Every "code" of the "errors" array.
plat::StringSet errorCodes(const plat::MBuf<unsigned char>& body, const char* contentType);
// errorCodes for an "HTTPConflict" error; empty for any other kind.
plat::StringSet conflictErrorCodes(const hosted::HostedException& error,
                                   const plat::MBuf<unsigned char>& body, const char* contentType);
// Every "field" of the "errors" array for an "HTTPBadRequest" error.
plat::StringSet badRequestErrorFields(const hosted::HostedException& error,
                                      const plat::MBuf<unsigned char>& body,
                                      const char* contentType);

// The largest clock skew taken into account: 100 years of ticks, beyond
// any real clock's error, so that a date the server made up cannot carry
// a Retry-After date past the range of plat::Time.
constexpr int64_t kMaxClockSkew = 36525 * plat::kTicksPerDay;

// Local time (to the second) minus the server's "Date", clamped to
// +-kMaxClockSkew; 0 without one.
int64_t serverClockSkew(const char* dateHeader);
// Milliseconds to wait, at most 2147483647; 0 for a date that is past or
// that the skew carries beyond the range of plat::Time; -1 when the header
// gives no usable value.
int retryAfterMs(const char* header, int64_t clockSkew);

} // namespace hostedremoteaccess
