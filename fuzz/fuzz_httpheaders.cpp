// The HTTP head parsers on arbitrary bytes. The input is read whole and
// again byte by byte from a source that makes every read wait; both reads
// must come to the same result (the same first line and headers, or the
// same error). The tokeniser then runs over a copy of every header value.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "http/HttpHeaderParser.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

std::string outcome(http::HttpHeaderParser& p, rdr::InStream& in, bool trickle)
{
  p.setInStream(&in);
  std::string result;
  try {
    for (;;) {
      try {
        p.parse();
        break;
      } catch (rdr::BlockException&) {
        check(trickle);
        static_cast<TrickleInStream&>(in).arrive(1);
      }
    }
    result = "ok";
  } catch (http::HttpParseException& e) {
    result = std::string("error ") + e.str();
  } catch (rdr::EndOfStream&) {
    result = "end";
  }
  result += " " + std::to_string(p.getLinesRead());
  for (const auto& h : p.getHeaders())
    result += std::string("|") + h.first.get() + "=" + h.second.get();
  return result;
}

void tokenise(const http::HttpHeaderParser& p)
{
  for (const auto& h : p.getHeaders()) {
    std::string copy = h.second.get();
    char* cursor = &copy[0];
    try {
      // A token is never empty and never holds a separator or a blank.
      while (char* t = http::HttpHeaderParser::nextToken(&cursor)) {
        check(*t != 0);
        for (const char* c = t; *c; ++c)
          check(!strchr("()<>@,;:\\\"/[]?={} \t\r\n", *c));
      }
    } catch (http::HttpParseException&) {
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string bytes((const char*)data, size);

  http::HttpResponseHeaderParser whole;
  rdr::MemInStream mem(data, (int)size);
  std::string a = outcome(whole, mem, false);
  if (whole.getLinesRead() > 0)
    check(whole.getStatus() >= 100 && whole.getStatus() <= 999);

  http::HttpResponseHeaderParser slow;
  TrickleInStream trickle(bytes);
  std::string b = outcome(slow, trickle, true);
  check(a == b);
  check(whole.getStatus() == slow.getStatus());
  tokenise(whole);

  http::HttpRequestHeaderParser request;
  rdr::MemInStream mem2(data, (int)size);
  outcome(request, mem2, false);
  tokenise(request);
  return 0;
}
