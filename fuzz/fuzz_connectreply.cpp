// The CONNECT reply reader on arbitrary bytes, read whole and again one
// byte at a time: both reads must reach the same outcome (status, whether
// the connection can be kept, the body consumed, or the same error), and a
// body is consumed exactly as declared.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "http/HttpConnectConnector.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

// Runs step, letting one more byte arrive each time it runs short.
template <class F> void untilDone(rdr::InStream& in, bool trickle, F step)
{
  for (;;) {
    try {
      step();
      return;
    } catch (rdr::BlockException&) {
      check(trickle);
      static_cast<TrickleInStream&>(in).arrive(1);
    }
  }
}

std::string outcome(rdr::InStream& in, bool trickle)
{
  std::string result;
  http::ConnectReply reply(&in);
  try {
    untilDone(in, trickle, [&] { reply.readHead(); });
    int64_t headEnd = in.pos();
    result = std::to_string(reply.getStatus());
    result += reply.keepsConnection() ? " keep" : " drop";
    untilDone(in, trickle, [&] { reply.readBody(); });
    const char* length = reply.getHeader("Content-Length");
    check(in.pos() - headEnd == (length ? atoi(length) : 0));
    result += " body " + std::to_string(in.pos() - headEnd);
  } catch (rdr::EndOfStream&) {
    result += " end";
  } catch (plat::Exception& e) {
    result += std::string(" error ") + e.str();
  }
  return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  rdr::MemInStream mem(data, (int)size);
  std::string whole = outcome(mem, false);
  TrickleInStream trickle(std::string((const char*)data, size));
  check(whole == outcome(trickle, true));
  return 0;
}
