// The sign-in callback's URI check over arbitrary text, against a fixed
// state. It may not crash and throws only plat::Exception; a URI it accepts
// names the endpoint "install", carries that state and non-empty "server"
// and "viewer", and all its names and values are valid UTF-8.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "plat/utf8.h"
#include "tlOrbSetup/SignInPage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string uri((const char*)data, size);
  io::UriParams p;
  try {
    p = tlOrbSetup::checkCallbackUri(uri.c_str(), "S1");
  } catch (plat::Exception&) {
    return 0;
  }
  bool ok = strcmp(io::EndpointUri(uri.c_str()).hostPort.str(), "install") == 0 &&
            strcmp(p[plat::String("state")].str(), "S1") == 0 && *p[plat::String("server")].str() &&
            *p[plat::String("viewer")].str();
  for (const auto& kv : p)
    ok = ok && plat::isValidUtf8(kv.first.str()) && plat::isValidUtf8(kv.second.str());
  if (!ok)
    abort();
  return 0;
}
