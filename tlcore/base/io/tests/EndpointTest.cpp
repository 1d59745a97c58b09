// Endpoint names, URIs, query strings and escaping; escaping is checked
// against Python's urllib.parse.
#include "io/Endpoint.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "loc/Localize.h"
#include "netReference.h"

namespace {

// The catalogue key whose text the thrown EndpointInvalid carries, "ok"
// when nothing was thrown.
std::string errorKey(const std::function<void()>& fn)
{
  try {
    fn();
  } catch (io::EndpointInvalid& e) {
    for (const char* key :
         {"io_error_endpoint_empty", "io_error_endpoint_bracket", "io_error_endpoint_general",
          "io_error_endpoint_badport", "io_error_endpoint_badescape"})
      if (std::string(e.str()) == loc::translate(key, nullptr, 0, false))
        return key;
    return std::string("unknown: ") + e.str();
  }
  return "ok";
}

std::string s(const plat::String& str)
{
  return str.isNull() ? "<null>" : str.get();
}

TEST(Endpoint, ParseEndpointName)
{
  struct Case {
    const char* text;
    const char* host;
    int port;
    const char* error;
  };
  const Case cases[] = {
      {"srv", "srv", 5900, "ok"},
      {"srv:1", "srv", 5901, "ok"},
      {"srv:5901", "srv", 5901, "ok"},
      {"srv::1", "srv", 1, "ok"},
      {"[fe80::1]:2", "[fe80::1]", 5902, "ok"},
      {"[fe80::1]::443", "[fe80::1]", 443, "ok"},
      {":3", "localhost", 5903, "ok"},
      {"srv:", "srv", 5900, "ok"},
      {"", "localhost", 5900, "ok"},
      {"srv:x", "", 0, "io_error_endpoint_badport"},
      {"srv::0", "", 0, "io_error_endpoint_badport"},
      {"srv::65536", "", 0, "io_error_endpoint_badport"},
      {"srv:1:2", "", 0, "io_error_endpoint_badport"},
      {"srv::99999999999", "", 0, "io_error_endpoint_badport"},
      {"[fe80::1", "", 0, "io_error_endpoint_bracket"},
      {"[]", "", 0, "io_error_endpoint_empty"},
      {"[fe80::1]x", "", 0, "io_error_endpoint_general"},
      {"[a[b]", "", 0, "io_error_endpoint_general"},
  };
  for (const Case& c : cases) {
    plat::String host;
    int port = 0;
    EXPECT_EQ(c.error, errorKey([&] { io::parseEndpointName(c.text, host, &port, 5900, 100); }))
        << c.text;
    if (std::string(c.error) == "ok") {
      EXPECT_EQ(c.host, s(host)) << c.text;
      EXPECT_EQ(c.port, port) << c.text;
    }
  }

  plat::String host;
  int port = 0;
  EXPECT_EQ("io_error_endpoint_empty",
            errorKey([&] { io::parseEndpointName("", host, &port, -1, 0); }));
  EXPECT_EQ("io_error_endpoint_badport",
            errorKey([&] { io::parseEndpointName("srv", host, &port, -1, 0); }));
  // No port wanted: the name alone is fine, a port is not.
  EXPECT_EQ("ok", errorKey([&] { io::parseEndpointName("srv", host, nullptr, -1, 0); }));
  EXPECT_EQ("io_error_endpoint_badport",
            errorKey([&] { io::parseEndpointName("srv::80", host, nullptr, -1, 0); }));
}

TEST(Endpoint, FormatAndNormalise)
{
  struct Case {
    const char* host;
    int port, basePort, range;
    const char* text;
  };
  const Case cases[] = {
      {"fe80::1", 5901, 5900, 100, "[fe80::1]:1"},
      {"fe80::1", 6100, 5900, 100, "[fe80::1]::6100"},
      {"fe80::1", 5900, 5900, 100, "[fe80::1]"},
      {"[fe80::1]", 80, 5900, 100, "[fe80::1]::80"},
      {"srv", 443, -1, 0, "srv:443"},
  };
  for (const Case& c : cases) {
    std::string text = s(io::formatEndpointName(c.host, c.port, c.basePort, c.range));
    EXPECT_EQ(c.text, text);
    // What is written reads back as the same endpoint.
    plat::String host;
    int port = 0;
    io::parseEndpointName(text.c_str(), host, &port, c.basePort, c.range);
    EXPECT_EQ(s(io::bracketHost(c.host)), s(host)) << text;
    EXPECT_EQ(c.port, port) << text;
  }
  EXPECT_EQ("srv", s(io::normaliseEndpointName("[srv]::443", 443)));
  EXPECT_EQ("[fe80::1]", s(io::normaliseEndpointName("[fe80::1]::443", 443)));
  EXPECT_EQ("srv:8080", s(io::normaliseEndpointName("srv::8080", 443)));
  EXPECT_EQ("io_error_endpoint_bracket", errorKey([] { io::unbracketHost("[fe80::1"); }));
}

TEST(Endpoint, Uri)
{
  struct Case {
    const char* uri;
    const char *scheme, *user, *password, *hostPort, *path, *query, *fragment;
  };
  const char* N = "<null>";
  const Case cases[] = {
      {"http://a:b@h:8080/x/y?q=1#f", "http", "a", "b", "h:8080", "x/y", "q=1", "f"},
      {"HTTPS://Host", "https", N, N, "Host", "", N, N},
      {"host/path/to", N, N, N, "host", "path/to", N, N},
      {"http://[2001:db8::1]:80//p?", "http", N, N, "[2001:db8::1]:80", "p", "", N},
      {"http://h#", "http", N, N, "h", "", N, ""},
      {"http://h?a=1", "http", N, N, "h", "", "a=1", N},
      // Decoded user information; the password keeps its colons.
      {"ftp://us%20er:p%40ss:w:rd@h/", "ftp", "us er", "p@ss:w:rd", "h", "", N, N},
      {"ftp://user@h", "ftp", "user", N, "h", "", N, N},
      {"1ab://h", N, N, N, "1ab:", "h", N, N},
  };
  for (const Case& c : cases) {
    io::EndpointUri u(c.uri);
    EXPECT_EQ(c.scheme, s(u.scheme)) << c.uri;
    EXPECT_EQ(c.user, s(u.user)) << c.uri;
    EXPECT_EQ(std::string(c.password), u.password.isNull() ? N : u.password.get()) << c.uri;
    EXPECT_EQ(c.hostPort, s(u.hostPort)) << c.uri;
    EXPECT_EQ(c.path, s(u.path)) << c.uri;
    EXPECT_EQ(c.query, s(u.query)) << c.uri;
    EXPECT_EQ(c.fragment, s(u.fragment)) << c.uri;
  }
  io::EndpointUri none(nullptr);
  EXPECT_TRUE(none.path.isNull());
  EXPECT_EQ("io_error_endpoint_bracket", errorKey([] { io::EndpointUri("http://[::1/x"); }));
  EXPECT_EQ("io_error_endpoint_badescape", errorKey([] { io::EndpointUri("http://a%2@h"); }));

  EXPECT_EQ("/a/b?x=1", s(io::uriPathAndQuery("a/b", "x=1")));
  EXPECT_EQ("/a", s(io::uriPathAndQuery("/a", "")));
  io::UriParams params;
  params[plat::String("k y")] = plat::String("v&1/é");
  params[plat::String("flag")] = plat::String();
  EXPECT_EQ("/p?flag&k%20y=v%261%2F%C3%A9", s(io::uriPathWithParams("p", params)));
}

TEST(Endpoint, ParseUriQuery)
{
  io::UriParams p = io::parseUriQuery("a=1&b=2;c=", false);
  ASSERT_EQ(3u, p.size());
  EXPECT_EQ("1", s(p[plat::String("a")]));
  EXPECT_EQ("2", s(p[plat::String("b")]));
  EXPECT_EQ("", s(p[plat::String("c")]));
  EXPECT_EQ("a b", s(io::parseUriQuery("x=a+b", true)[plat::String("x")]));
  EXPECT_EQ("a+b", s(io::parseUriQuery("x=a+b", false)[plat::String("x")]));
  EXPECT_TRUE(io::parseUriQuery(nullptr, false).empty());

  for (const char* bad : {"a=1&a=2", "a=1&&b=2", "", "a", "=1", "a=1&"})
    EXPECT_EQ("io_error_endpoint_general", errorKey([&] { io::parseUriQuery(bad, false); })) << bad;
  EXPECT_EQ("io_error_endpoint_badescape", errorKey([] { io::parseUriQuery("a=%zz", false); }));
}

// Escaping and unescaping agree with urllib.parse on every ASCII character
// and on UTF-8 text.
TEST(Endpoint, EscapingMatchesPython)
{
  std::string ascii;
  for (int c = 1; c < 128; c++)
    ascii += (char)c;
  std::vector<std::pair<std::string, std::string>> requests = {
      {"escape", ascii},
      {"escape", "/tmp/dir name/sock"},
      {"unescape", "a%2Fb%20c%C3%A9+d"},
      {"unescape_plus", "a%2Fb%20c%C3%A9+d"},
      {"unescape", "%e2%82%ac"},
  };
  std::vector<std::string> expected = nettest::pythonReference(requests);
  ASSERT_EQ(requests.size(), expected.size());
  EXPECT_EQ(expected[0], s(io::endpointEscape(ascii.c_str())));
  EXPECT_EQ(expected[1], s(io::endpointEscape(requests[1].second.c_str())));
  EXPECT_EQ(expected[2], s(io::endpointUnescape(requests[2].second.c_str(), false)));
  EXPECT_EQ(expected[3], s(io::endpointUnescape(requests[3].second.c_str(), true)));
  EXPECT_EQ(expected[4], s(io::endpointUnescape(requests[4].second.c_str(), false)));

  // Bytes above 127 pass through; invalid UTF-8 after decoding is repaired.
  EXPECT_EQ("\xc3\xa9%2F", s(io::endpointEscape("\xc3\xa9/")));
  EXPECT_EQ("a\xef\xbf\xbd", s(io::endpointUnescape("a%ff", false)));
}

} // namespace
