#include "hostedremoteaccess/JsonErrors.h"

#include <string.h>

#include <algorithm>

#include "hosted/HostedException.h"
#include "http/HttpUtil.h"
#include "plat/numbers.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"

namespace hostedremoteaccess {

namespace {

// The texts of member name in the elements of "errors".
plat::StringSet collect(const plat::MBuf<unsigned char>& body, const char* contentType,
                        const char* name)
{
  plat::JsonPtr<plat::JsonObject> obj = parseJsonBody(body, contentType);
  plat::StringSet out;
  for (const plat::JsonPtr<plat::JsonValue>& e : *obj->getArray("errors")) {
    plat::JsonPtr<plat::JsonValue> v = e->asObject().tryGet(name);
    if (v)
      out.insert(plat::String(v->asString().str()));
  }
  return out;
}

} // namespace

plat::JsonPtr<plat::JsonObject> parseJsonBody(const plat::MBuf<unsigned char>& body,
                                              const char* contentType)
{
  rdr::MemInStream in(body.data(), body.length());
  return plat::toJsonObject(plat::JsonValue::parse(in, contentType));
}

plat::StringSet errorCodes(const plat::MBuf<unsigned char>& body, const char* contentType)
{
  return collect(body, contentType, "code");
}

plat::StringSet conflictErrorCodes(const hosted::HostedException& error,
                                   const plat::MBuf<unsigned char>& body, const char* contentType)
{
  if (strcmp(error.getKind(), "HTTPConflict") != 0)
    return plat::StringSet();
  return errorCodes(body, contentType);
}

plat::StringSet badRequestErrorFields(const hosted::HostedException& error,
                                      const plat::MBuf<unsigned char>& body,
                                      const char* contentType)
{
  if (strcmp(error.getKind(), "HTTPBadRequest") != 0)
    return plat::StringSet();
  return collect(body, contentType, "field");
}

int64_t serverClockSkew(const char* dateHeader)
{
  plat::Time date;
  if (!dateHeader || !http::parseDate(&date, dateHeader))
    return 0;
  plat::Time now = plat::getTime();
  now -= now % plat::kTicksPerSecond;
  return std::clamp(plat::subTimeSat(now, date), -kMaxClockSkew, kMaxClockSkew);
}

int retryAfterMs(const char* header, int64_t clockSkew)
{
  if (!header)
    return -1;
  int seconds;
  const char* p = header;
  if (plat::strToInt(&seconds, &p, 10) && !*p && seconds >= 0)
    return seconds <= 2147483 ? seconds * 1000 : 2147483647;
  plat::Time date;
  if (!http::parseDate(&date, header))
    return -1;
  bool absurd;
  plat::Time at = plat::addTimeSat(date, clockSkew, &absurd);
  plat::Time now = plat::getTime();
  if (absurd || at <= now)
    return 0;
  // Rounded up without adding to a difference that may be near the limit.
  int64_t ms = (plat::subTimeSat(at, now) - 1) / plat::kTicksPerMilli + 1;
  return ms > 2147483647 ? 2147483647 : (int)ms;
}

} // namespace hostedremoteaccess
