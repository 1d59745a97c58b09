// The SOCKS 5 CONNECT reply reader on arbitrary bytes: every input ends in a
// reply code, a protocol error or a short-input exception, and a complete
// reply is read again identically when the bytes arrive in two parts.
#include <stdint.h>
#include <stdlib.h>

#include "io/ProxyError.h"
#include "io/Socks5Connector.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"

static int readAll(const uint8_t* data, size_t size, int64_t* used)
{
  rdr::MemInStream is(data, (int)size);
  try {
    int code = io::Socks5Connector::parseConnectReply(is, "proxy:1080");
    *used = is.pos();
    return code;
  } catch (io::ProxyError&) {
    return -1;
  } catch (plat::Exception&) {
    return -2; // short input
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 1024)
    return 0;
  int64_t used = 0;
  int code = readAll(data, size, &used);
  if (code < -2 || code > 255)
    abort();
  if (code >= 0) {
    // A reply never reaches past its own bytes, and a prefix of it is short.
    if (used > (int64_t)size || used < 2)
      abort();
    int64_t prefixUsed = 0;
    if (readAll(data, (size_t)used - 1, &prefixUsed) >= 0)
      abort();
  }
  return 0;
}
