#include "io/Endpoint.h"

#include <string.h>

#include "loc/Localize.h"
#include "plat/DString.h"
#include "plat/encodings.h"
#include "plat/numbers.h"
#include "plat/utf8.h"

namespace io {

namespace {

bool isDigit(char c)
{
  return c >= '0' && c <= '9';
}

bool isAlpha(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The whole text as a non-negative 32-bit decimal number.
bool parseDecimal(const char* text, int* value)
{
  if (!isDigit(*text))
    return false;
  for (const char* p = text; *p; p++)
    if (!isDigit(*p))
      return false;
  const char* p = text;
  return plat::strToInt(value, &p) && *p == 0;
}

plat::String slice(const char* begin, const char* end)
{
  return plat::String(begin, (int)(end - begin));
}

} // namespace

EndpointInvalid::EndpointInvalid(const char* key)
{
  setMessage(LOC_TR(key));
  setType("EndpointInvalid");
}

// --- Endpoint names -------------------------------------------------------------

plat::String bracketHost(const char* host)
{
  if (host && strchr(host, ':') && host[0] != '[')
    return plat::format("[%s]", host);
  return plat::String(host);
}

plat::String unbracketHost(const char* text)
{
  if (!text || text[0] != '[')
    return plat::String(text);
  int len = (int)strlen(text);
  if (len < 2 || text[len - 1] != ']')
    throw EndpointInvalid("io_error_endpoint_bracket");
  return plat::String(text + 1, len - 2);
}

plat::String formatEndpointName(const char* host, int port, int basePort, int range)
{
  plat::DString out;
  out.append(bracketHost(host).get());
  if (port == basePort)
    return out.takeString();
  if (range == 0)
    out.appendf(":%d", port);
  else if (port >= basePort && (long long)port < (long long)basePort + range)
    out.appendf(":%d", port - basePort);
  else
    out.appendf("::%d", port);
  return out.takeString();
}

void parseEndpointName(const char* text, plat::String& host, int* port, int basePort, int range)
{
  host = plat::String();
  if (!text)
    text = "";
  if (!*text && basePort < 0)
    throw EndpointInvalid("io_error_endpoint_empty");

  const char* hostEnd;
  if (text[0] == '[') {
    const char* close = strchr(text, ']');
    if (!close)
      throw EndpointInvalid("io_error_endpoint_bracket");
    if (close == text + 1)
      throw EndpointInvalid("io_error_endpoint_empty");
    hostEnd = close + 1;
  } else {
    hostEnd = strchr(text, ':');
    if (!hostEnd)
      hostEnd = text + strlen(text);
  }

  bool havePort = false;
  int value = 0;
  const char* rest = hostEnd;
  if (*rest) {
    if (*rest != ':')
      throw EndpointInvalid("io_error_endpoint_general");
    bool explicitPort = rest[1] == ':';
    rest += explicitPort ? 2 : 1;
    if (*rest) {
      if (!port || !parseDecimal(rest, &value))
        throw EndpointInvalid("io_error_endpoint_badport");
      if (!explicitPort && value < range && basePort >= 0)
        value += basePort;
      havePort = true;
    }
  }
  if (port) {
    if (!havePort) {
      if (basePort < 0)
        throw EndpointInvalid("io_error_endpoint_badport");
      value = basePort;
    }
    if (value < 1 || value > 65535)
      throw EndpointInvalid("io_error_endpoint_badport");
    *port = value;
  }

  if (hostEnd == text) {
    host = plat::String("localhost");
    return;
  }
  const char* inner = text;
  const char* innerEnd = hostEnd;
  if (text[0] == '[') {
    inner++;
    innerEnd--;
  }
  for (const char* p = inner; p < innerEnd; p++)
    if (*p == '[' || *p == ']')
      throw EndpointInvalid("io_error_endpoint_general");
  host = slice(text, hostEnd);
}

plat::String normaliseEndpointName(const char* name, int basePort)
{
  plat::String host;
  int port = 0;
  parseEndpointName(name, host, &port, basePort, 0);
  return formatEndpointName(unbracketHost(host.get()).get(), port, basePort, 0);
}

plat::String endpointEscape(const char* text)
{
  if (!text)
    return plat::String();
  static const char kKept[] = "&'()*+,-. !$;=_~";
  plat::DString out;
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
    unsigned char c = *p;
    if (c >= 128 || isAlpha((char)c) || isDigit((char)c) || strchr(kKept, c))
      out.append((const char*)p, 1);
    else
      out.appendf("%%%.2X", c);
  }
  if (!out.hasBuf())
    return plat::String("");
  return out.takeString();
}

plat::String endpointUnescape(const char* text, bool plusIsSpace)
{
  if (!text)
    return plat::String();
  plat::String decoded;
  try {
    decoded = plat::percentDecode(text, plusIsSpace);
  } catch (plat::Exception&) {
    throw EndpointInvalid("io_error_endpoint_badescape");
  }
  if (plat::isValidUtf8(decoded.get()))
    return decoded;
  return plat::utf8Sanitise(decoded.get(), nullptr, -1);
}

// --- URIs -----------------------------------------------------------------------

EndpointUri::EndpointUri(const char* uri)
{
  if (!uri)
    return;
  const char* p = uri;

  if (isAlpha(*p)) {
    const char* q = p + 1;
    while (isAlpha(*q) || isDigit(*q) || *q == '+' || *q == '-' || *q == '.')
      q++;
    if (strncmp(q, "://", 3) == 0) {
      scheme = slice(p, q);
      scheme.toLowerAscii();
      p = q + 3;
    }
  }

  const char* delim = p + strcspn(p, "/?#[]@");
  if (*delim == '@') {
    // The password may itself hold colons: only the first one separates.
    const char* colon = (const char*)memchr(p, ':', delim - p);
    if (colon) {
      user = endpointUnescape(slice(p, colon).get(), false);
      plat::String pw = endpointUnescape(slice(colon + 1, delim).get(), false);
      password.assign(pw.get());
      plat::secureZero(pw.data(), pw.length());
    } else {
      user = endpointUnescape(slice(p, delim).get(), false);
    }
    p = delim + 1;
  }

  const char* searchFrom = p;
  if (*p == '[') {
    const char* close = strchr(p, ']');
    if (!close)
      throw EndpointInvalid("io_error_endpoint_bracket");
    searchFrom = close;
  }
  const char* hostEnd = searchFrom + strcspn(searchFrom, "/?#");
  hostPort = slice(p, hostEnd);
  p = hostEnd;

  if (*p == '/') {
    while (*p == '/')
      p++;
    const char* pathEnd = p + strcspn(p, "?#");
    path = slice(p, pathEnd);
    p = pathEnd;
  } else {
    path = plat::String("");
  }
  if (*p == '?') {
    const char* queryEnd = p + 1 + strcspn(p + 1, "#");
    query = slice(p + 1, queryEnd);
    p = queryEnd;
  }
  if (*p == '#')
    fragment = plat::String(p + 1);
}

plat::String uriPathAndQuery(const char* path, const char* query)
{
  plat::DString out;
  if (!path || path[0] != '/')
    out.append("/");
  out.append(path);
  if (query && *query)
    out.append("?").append(query);
  return out.takeString();
}

plat::String uriPathWithParams(const char* path, const UriParams& params)
{
  plat::DString out;
  out.append(uriPathAndQuery(path, nullptr).get());
  bool first = true;
  for (const auto& param : params) {
    out.append(first ? "?" : "&");
    first = false;
    out.append(plat::percentEncode(param.first.str(), true).get());
    if (!param.second.isNull())
      out.append("=").append(plat::percentEncode(param.second.get(), true).get());
  }
  return out.takeString();
}

UriParams parseUriQuery(const char* query, bool plusIsSpace)
{
  UriParams params;
  if (!query)
    return params;
  const char* p = query;
  for (;;) {
    const char* end = p + strcspn(p, "&;");
    const char* eq = (const char*)memchr(p, '=', end - p);
    if (end == p || !eq || eq == p)
      throw EndpointInvalid("io_error_endpoint_general");
    plat::String name = endpointUnescape(slice(p, eq).get(), plusIsSpace);
    plat::String value = endpointUnescape(slice(eq + 1, end).get(), plusIsSpace);
    if (!params.emplace(std::move(name), std::move(value)).second)
      throw EndpointInvalid("io_error_endpoint_general");
    if (!*end)
      break;
    p = end + 1;
  }
  return params;
}

} // namespace io
