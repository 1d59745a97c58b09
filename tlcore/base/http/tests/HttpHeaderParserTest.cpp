#include "http/HttpHeaderParser.h"

#include <gtest/gtest.h>

#include <string>

#include "http/HttpError.h"
#include "http/HttpUtil.h"
#include "rdr/Exception.h"
#include "rdr/MemIoStream.h"

using http::HttpParseException;
using http::HttpResponseHeaderParser;

namespace {

// What a parse came to: the status and every header, or the error text.
std::string describe(const HttpResponseHeaderParser& p)
{
  std::string s = std::to_string(p.getStatus()) + " " + p.getVersion();
  for (const auto& h : p.getHeaders())
    s += std::string("|") + h.first.get() + "=" + h.second.get();
  return s;
}

// Parses bytes arriving in two pieces split at `split`, through a stream
// that blocks when it runs dry.
std::string parseSplit(const std::string& bytes, size_t split)
{
  rdr::MemIoStream s(nullptr, -1);
  HttpResponseHeaderParser p;
  p.setInStream(&s);
  s.writeBytes(bytes.data(), (int)split);
  try {
    try {
      p.parse();
      return describe(p);
    } catch (rdr::BlockException&) {
    }
    s.writeBytes(bytes.data() + split, (int)(bytes.size() - split));
    p.parse();
  } catch (rdr::BlockException&) {
    return "blocked";
  } catch (HttpParseException& e) {
    return std::string("error: ") + e.str();
  }
  return describe(p);
}

std::string parseWhole(const std::string& bytes)
{
  return parseSplit(bytes, bytes.size());
}

std::string headerLines(int n)
{
  std::string s;
  for (int i = 0; i < n; i++)
    s += "H" + std::to_string(i) + ": v\r\n";
  return s;
}

} // namespace

TEST(HttpHeaderParser, EverySplitPointGivesTheSameResult)
{
  const std::vector<std::string> inputs = {
      "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nVia: a\r\nvia:  b\t\r\nX:\r\n\r\nbody",
      "HTTP/1.0 404 \nA: 1\n\n",
      "HTTP/1.1 200 OK\r\nGood: 1\r\n folded\r\n\r\n",
      "HTTP/1.1 200 OK\r\nNoColonHere\r\n\r\n",
      std::string("HTTP/1.1 200 OK\r\nA: x\0y\r\n\r\n", 27),
      "HTTP/1.1 20 OK\r\n\r\n",
  };
  const char* expected[] = {
      "200 HTTP/1.1|Content-Length=12|Via=b\t,a|X=",
      "404 HTTP/1.0|A=1",
      "error: Unsupported 'obs-fold' header",
      "error: No colon in header",
      "error: Line has embedded nul",
      "error: Bad first line",
  };
  for (size_t k = 0; k < inputs.size(); k++) {
    const std::string& in = inputs[k];
    ASSERT_EQ(expected[k], parseWhole(in)) << k;
    for (size_t split = 0; split <= in.size(); split++)
      ASSERT_EQ(expected[k], parseSplit(in, split)) << k << " split at " << split;
  }
}

TEST(HttpHeaderParser, StatusLine)
{
  struct Case {
    const char* line;
    int status; // -1: "Bad first line"
  };
  const Case cases[] = {
      {"HTTP/1.1 100 ", 100},     {"HTTP/1.1 999 x y", 999}, {"HTTP/1.1 99 Low", -1},
      {"HTTP/1.1 1000 High", -1}, {"HTTP/1.1 200", -1},      {" 200 OK", -1},
      {"HTTP/1.1  200 OK", -1},   {"HTTP/1.1 2x0 OK", -1},   {"", -1},
  };
  for (const Case& c : cases) {
    std::string r = parseWhole(std::string(c.line) + "\r\n\r\n");
    if (c.status < 0) {
      EXPECT_EQ("error: Bad first line", r) << c.line;
    } else {
      EXPECT_EQ(std::to_string(c.status), r.substr(0, 3)) << c.line;
    }
  }
}

TEST(HttpHeaderParser, RepeatedHeadersAreJoinedLaterFirst)
{
  rdr::MemIoStream s(nullptr, -1);
  std::string head = "HTTP/1.1 200 OK\r\nConnection: a\r\nCONNECTION: b\r\n\r\n";
  s.writeBytes(head.data(), (int)head.size());
  HttpResponseHeaderParser p;
  p.setInStream(&s);
  p.parse();
  EXPECT_STREQ("b,a", p.getHeader("connection"));
  EXPECT_EQ(nullptr, p.getHeader("Missing"));
  EXPECT_EQ(3, p.getLinesRead());
}

TEST(HttpHeaderParser, HeaderCountBound)
{
  const std::string status = "HTTP/1.1 200 OK\r\n";
  EXPECT_EQ(0u, parseWhole(status + headerLines(499) + "\r\n").find("200 "));
  EXPECT_EQ("error: Too many headers", parseWhole(status + headerLines(500) + "\r\n"));
}

TEST(HttpHeaderParser, LineLengthBound)
{
  const std::string status = "HTTP/1.1 200 OK\r\n";
  std::string exact = "A: " + std::string(8192 - 3, 'x');
  EXPECT_EQ(0u, parseWhole(status + exact + "\r\n\r\n").find("200 "));
  EXPECT_EQ("error: Line exceeds maximum length", parseWhole(status + exact + "y\r\n\r\n"));

  // A line that never ends is refused once it passes the bound, before any
  // line end has come: the stream never has to hold more than one line.
  for (char filler : {'x', '\r'}) {
    rdr::MemIoStream s(nullptr, -1);
    HttpResponseHeaderParser p;
    p.setInStream(&s);
    s.writeBytes(status.data(), (int)status.size());
    std::string chunk(1000, filler);
    std::string error;
    for (int i = 0; i < 20 && error.empty(); i++) {
      s.writeBytes(chunk.data(), (int)chunk.size());
      try {
        p.parse();
      } catch (rdr::BlockException&) {
      } catch (HttpParseException& e) {
        error = e.str();
        EXPECT_EQ(8, i);
      }
    }
    EXPECT_EQ("Line exceeds maximum length", error) << (int)filler;
  }
}

TEST(HttpHeaderParser, NextToken)
{
  struct Case {
    const char* value;
    const char* tokens; // joined with '|', then "!" and the error text
  };
  const Case cases[] = {
      {" close , Keep-Alive", "close|Keep-Alive"},
      {"Upgrade,,HTTP2", "Upgrade|HTTP2"},
      {"a;b", "!sep/CTRL in token"},
      {"a\r\n b", "a|b"},
      {"a\rb", "!CR in field must introduce LWS"},
      {"a,\r\nb", "a!parse error: SP|HT must follow CRLF in LWS"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string copy = c.value;
    char* cursor = &copy[0];
    std::string got;
    try {
      while (char* t = http::HttpHeaderParser::nextToken(&cursor))
        got += std::string(got.empty() ? "" : "|") + t;
    } catch (HttpParseException& e) {
      got += std::string("!") + e.str();
      EXPECT_STREQ("HttpParse", e.getType());
    }
    EXPECT_EQ(c.tokens, got) << c.value;
  }
}

TEST(HttpError, MessageTypeAndReasonPhrases)
{
  http::HttpError e(404);
  EXPECT_STREQ("HTTP status 404 (Not Found)", e.str());
  EXPECT_STREQ("HttpStatus404", e.getType());
  EXPECT_EQ(404, e.getStatus());
  EXPECT_STREQ("Service Unavailable", http::getReasonPhrase(503));
  EXPECT_STREQ("Unknown Error", http::getReasonPhrase(418));
  EXPECT_STREQ("Unknown Error", http::getReasonPhrase(306));
}
