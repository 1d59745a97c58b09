// Endpoint names, URIs, query strings and endpoint escapes on arbitrary
// text. The first byte chooses the base port, range and '+' handling.
// Nothing may crash; a normalised name normalises to itself, an unescaped
// text escapes and unescapes to itself, and a parsed query written out
// again parses to the same pairs.
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "fuzz_util.h"
#include "io/Endpoint.h"

using namespace io;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 8192)
    return 0;
  uint8_t flags = data[0];
  std::string text((const char*)data + 1, size - 1);
  const char* t = text.c_str();
  static const int bases[] = {-1, 0, 5900, 65535};
  int basePort = bases[flags & 3];
  // Display numbers count from a base port; without one only ports are read.
  int range = (flags & 4) && basePort >= 0 ? 100 : 0;
  bool plusIsSpace = flags & 8;

  try {
    plat::String host;
    int port = 0;
    parseEndpointName(t, host, &port, basePort, range);
    FUZZ_CHECK(!host.isNull());
    plat::String again = formatEndpointName(unbracketHost(host.get()).get(), port, basePort, range);
    plat::String host2;
    int port2 = 0;
    parseEndpointName(again.get(), host2, &port2, basePort, range);
    if (port2 != port)
      fprintf(stderr, "'%s' -> port %d -> '%s' -> port %d\n", t, port, again.str(), port2);
    FUZZ_CHECK(port2 == port);
  } catch (EndpointInvalid&) {
  }
  try {
    plat::String name = normaliseEndpointName(t, basePort < 0 ? 5900 : basePort);
    FUZZ_CHECK(normaliseEndpointName(name.get(), basePort < 0 ? 5900 : basePort) == name);
  } catch (EndpointInvalid&) {
  }

  try {
    plat::String plain = endpointUnescape(t, plusIsSpace);
    plat::String back = endpointUnescape(endpointEscape(plain.get()).get(), false);
    FUZZ_CHECK(back == plain);
  } catch (EndpointInvalid&) {
  }

  plat::String query(t);
  try {
    EndpointUri uri(t);
    if (!uri.query.isNull())
      query = uri.query;
    if (!uri.hostPort.isNull()) {
      plat::String host;
      int port = 0;
      parseEndpointName(uri.hostPort.get(), host, &port, 80, 0);
    }
  } catch (EndpointInvalid&) {
  }
  try {
    UriParams params = parseUriQuery(query.get(), plusIsSpace);
    bool writable = true;
    for (const auto& p : params)
      writable &= p.first.length() > 0 && !p.second.isNull();
    if (writable) {
      std::string written = uriPathWithParams("p", params).get();
      size_t q = written.find('?');
      FUZZ_CHECK(q != std::string::npos);
      FUZZ_CHECK(parseUriQuery(written.c_str() + q + 1, false) == params);
    }
  } catch (EndpointInvalid&) {
  }
  return 0;
}
