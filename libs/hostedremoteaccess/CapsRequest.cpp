#include "hostedremoteaccess/CapsRequest.h"

#include <string.h>

#include "io/Endpoint.h"

namespace hostedremoteaccess {

namespace {

const char* fixedText(const char* kind)
{
  if (strcmp(kind, "CAPSBadRedirect") == 0)
    return "Bad redirect";
  if (strcmp(kind, "CAPSNoCreds") == 0)
    return "Credentials required but not available";
  return nullptr;
}

} // namespace

CapsException::CapsException(const char* kind)
    : HostedException(kApplication, kind, fixedText(kind))
{
}

plat::String linkNextPageParam(const char* link, const char* name)
{
  if (!link || !name)
    return plat::String();
  const char* open = strchr(link, '<');
  const char* close = open ? strchr(open + 1, '>') : nullptr;
  if (!close || (!strstr(close + 1, "rel=\"next\"") && !strstr(close + 1, "rel=next")))
    return plat::String();
  plat::String address(open + 1, (int)(close - open - 1));
  try {
    io::EndpointUri uri(address.get());
    io::UriParams params = io::parseUriQuery(uri.query.get(), true);
    auto it = params.find(plat::String(name));
    return it == params.end() ? plat::String() : plat::String(it->second.get());
  } catch (plat::Exception&) {
    return plat::String();
  }
}

} // namespace hostedremoteaccess
