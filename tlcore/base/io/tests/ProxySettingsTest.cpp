#include "io/ProxySettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "io/NetMask.h"
#include "io/ProxyChoice.h"
#include "io/ProxyError.h"
#include "loc/Locale.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "testuser.h"
#include "testutil.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const kProxyVars[] = {
    "http_proxy",   "HTTP_PROXY",    "https_proxy",    "HTTPS_PROXY",   "SOCKS_SERVER",
    "socks_server", "SOCKS_VERSION", "socks_version",  "no_proxy",      "NO_PROXY",
    "ALL_PROXY",    "all_proxy",     "FAKE_PX_ANSWER", "FAKE_PX_ASKED", "FAKE_PX_NEW_FAILS"};

tltest::CaptureDest capture("proxycapture", tltest::CaptureDest::kLevelText);

struct Recorder : io::ProxyFetcherCallback {
  std::string got;
  void fetched(io::ProxyFetcher*, const char* url, const io::ProxyCredentials& c) override
  {
    got = url;
    if (!c.user.isNull() || !c.password.isNull())
      got += std::string(" ") + c.user.str() + "/" + c.password.str();
  }
  void fetchFailed(io::ProxyFetcher*, const plat::Exception& e) override { got = e.str(); }
};

std::string fetch(std::unique_ptr<io::ProxyFetcher> f)
{
  Recorder r;
  f->fetch(&r);
  return r.got;
}

std::string discover(const char* host, int port)
{
  return fetch(io::discoverSystemProxy(host, port, io::ProxyCredentials()));
}

// Sets "NAME=value" pairs separated by blanks.
void setVars(const std::string& vars)
{
  size_t pos = 0;
  while (pos < vars.size()) {
    size_t end = vars.find(' ', pos);
    std::string item = vars.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    size_t eq = item.find('=');
    setenv(item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), 1);
    pos = end == std::string::npos ? vars.size() : end + 1;
  }
}

class ProxySettingsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    for (const char* v : kProxyVars)
      unsetenv(v);
    capture.lines.clear();
    plat::setLogOverride("ProxySettings:proxycapture:110,ProxyFetcherConnector:proxycapture:110");
    io::setSysconfigProxyPathForTests("/nonexistent/sysconfig/proxy");
    io::setLibProxyLibsForTests("/nonexistent/libproxy.so.1");
    io::setEffectiveUidForTests(1000);
  }
  void TearDown() override
  {
    for (const char* v : kProxyVars)
      unsetenv(v);
    plat::setLogOverride(nullptr);
    io::setSysconfigProxyPathForTests(nullptr);
    io::setLibProxyLibsForTests(nullptr);
    io::setEffectiveUidForTests(-1);
  }
};

} // namespace

TEST_F(ProxySettingsTest, Environment)
{
  struct Case {
    const char* vars;
    const char* host;
    const char* expected;
    const char* log; // a line that must be logged, with its level
  };
  const Case cases[] = {
      {"http_proxy=p1:3128 HTTP_PROXY=p2", "t", "http://p1:3128",
       "100 HTTP proxy is http://p1:3128"},
      {"HTTP_PROXY=p2", "t", "http://p2:80", nullptr},
      // The HTTPS setting wins, and an https URL is a plain CONNECT proxy.
      {"https_proxy=https://p3 http_proxy=p1", "t", "http://p3:443", nullptr},
      {"SOCKS_SERVER=s1 http_proxy=p1", "t", "socks://s1:1080", nullptr},
      {"socks_server=s2", "t", "socks://s2:1080", nullptr},
      {"SOCKS_SERVER=s1 ALL_PROXY=s3:9050", "t", "socks://s3:9050", nullptr},
      {"SOCKS_SERVER=s1 SOCKS_VERSION=4 http_proxy=p1", "t", "http://p1:80",
       "100 Socks version 4 is not supported"},
      {"SOCKS_SERVER=s1 SOCKS_VERSION=5x", "t", "socks://s1:1080", nullptr},
      {"http_proxy=ftp://p1", "t", "direct://", "100 HTTP proxy is ftp://p1"},
      {"http_proxy=http://alice:s3cret@[::1]:3128", "t", "http://[::1]:3128 alice/s3cret",
       "100 HTTP proxy is http://***:***@[::1]:3128"},
      {"SOCKS_SERVER=socks5://alice:s3cret@s1", "t", "socks://s1:1080 alice/s3cret", nullptr},
      // A setting that cannot be read falls back to direct, visibly.
      {"http_proxy=http://alice:s3cret@[::1", "t", "direct://", "0 HTTP proxy is invalid"},
      {"no_proxy=::1 http_proxy=p1", "::1", "direct://", "100 Host appears in proxy bypass list"},
      {"NO_PROXY=.example.com http_proxy=p1", "a.example.com", "direct://", nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    setVars(c.vars);
    EXPECT_EQ(c.expected, discover(c.host, 443)) << c.vars;
    std::string logs = capture.all();
    if (c.log) {
      EXPECT_THAT(logs, HasSubstr(std::string(c.log) + "\n")) << c.vars;
    }
    EXPECT_THAT(logs, Not(HasSubstr("alice"))) << c.vars;
    EXPECT_THAT(logs, Not(HasSubstr("s3cret"))) << c.vars;
  }
}

TEST_F(ProxySettingsTest, BypassList)
{
  struct Case {
    const char* list;
    const char* host;
    int port;
    bool bypassed;
  };
  const Case cases[] = {
      {".example.com", "a.example.com", 443, true},
      {".example.com", "example.com", 443, false},
      {"*.Example.COM.", "B.example.com.", 443, true},
      {"localhost:8080", "localhost", 8080, true},
      {"localhost:8080", "localhost", 443, false},
      {"<local>", "intranet", 443, true},
      {"<local>", "a.example.com", 443, false},
      {"10.0.0.0/8", "10.1.2.3", 443, true},
      {"10.0.0.0/8", "11.1.2.3", 443, false},
      {"10.0.0.0/8", "ten.example", 443, false},
      {"::1", "::1", 443, true},
      {"::1", "[::1]", 443, true},
      {"::1", "::2", 443, false},
      {"::1", "localhost", 1, false},
      {"[::1]:8080", "::1", 8080, true},
      {"fe80::/10", "fe80::7", 443, true},
      {"x, ,\t*", "any.where", 443, true},
      {"other", "10.1.2.3", 443, false},
      // Short IPv4 forms read alike on both sides.
      {"127.1", "127.1", 443, true},
      {"127.1", "127.0.0.1", 443, true},
      {"10.1", "10.1.0.0", 443, false},
  };
  for (const Case& c : cases) {
    io::ProxySettingsTable t(c.host, c.port);
    t.set(io::ProxySettingKey::BypassList, c.list);
    EXPECT_EQ(c.bypassed, t.bypassed()) << c.list << " " << c.host << ":" << c.port;
  }
}

TEST_F(ProxySettingsTest, SysconfigFile)
{
  struct Case {
    const char* env;
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"", "# comment\nHTTP_PROXY=\"http://f1:8080\"\n", "http://f1:8080"},
      {"", "https_proxy=f2\nSOCKS_PROXY='s9'\n", "socks://s9:1080"},
      {"", "HTTP_PROXY=f1\nPROXY_ENABLED=\"No\"\n", "direct://"},
      {"", "proxy_enabled=no\nHTTP_PROXY=f1\n", "http://f1:80"},
      {"http_proxy=p1", "HTTP_PROXY=f1\n", "http://p1:80"},
  };
  // Unique: other checkouts on this machine run the same test.
  std::string path = ::testing::TempDir() + "sysconfig-proxy." + std::to_string(getpid());
  io::setSysconfigProxyPathForTests(path.c_str());
  for (const Case& c : cases) {
    for (const char* v : kProxyVars)
      unsetenv(v);
    capture.lines.clear();
    if (*c.env)
      setVars(c.env);
    std::ofstream(path) << c.file;
    EXPECT_EQ(c.expected, discover("t", 443)) << c.file;
    bool used = std::string(c.expected) != "direct://" && !*c.env;
    EXPECT_EQ(used,
              capture.all().find("100 Using proxy settings from " + path) != std::string::npos)
        << c.file;
  }
  remove(path.c_str());
}

TEST_F(ProxySettingsTest, LibProxyAbsent)
{
  EXPECT_EQ("direct://", discover("t", 443));
  EXPECT_THAT(capture.all(), HasSubstr("100 libproxy support not available\n"));
}

TEST_F(ProxySettingsTest, LibProxyLoadedAtRunTime)
{
  char dir[] = "/tmp/fakepxXXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string lib = std::string(dir) + "/libfakeproxy.so";
  std::string cmd = "cc -shared -fPIC -o " + lib + " " TL_TEST_SUPPORT_DIR "/fake_libproxy.c";
  ASSERT_EQ(0, system(cmd.c_str())) << cmd;
  io::setLibProxyLibsForTests(lib.c_str());

  struct Case {
    int euid;
    const char* answer; // null: none
    const char* expected;
    const char* log;
    const char* asked; // null: libproxy was not called
  };
  const Case cases[] = {
      {1000, "http://alice:s3cret@lp:8080", "http://alice:s3cret@lp:8080",
       "100 libproxy: proxy URL is http://***:***@lp:8080", "https://[::1]:443"},
      {1000, nullptr, "direct://", "100 libproxy: no proxy", "https://[::1]:443"},
      {0, "http://lp:8080", "direct://", "100 libproxy: skipping as root", nullptr},
  };
  for (const Case& c : cases) {
    unsetenv("FAKE_PX_ASKED");
    if (c.answer)
      setenv("FAKE_PX_ANSWER", c.answer, 1);
    else
      unsetenv("FAKE_PX_ANSWER");
    capture.lines.clear();
    io::setEffectiveUidForTests(c.euid);
    EXPECT_EQ(c.expected, discover("::1", 443)) << c.log;
    EXPECT_THAT(capture.all(), HasSubstr(std::string(c.log) + "\n"));
    EXPECT_THAT(capture.all(), Not(HasSubstr("s3cret")));
    const char* asked = getenv("FAKE_PX_ASKED");
    EXPECT_STREQ(c.asked, asked) << c.log;
  }
  // Loaded for itself alone: its names stay out of the global scope.
  EXPECT_EQ(nullptr, dlsym(RTLD_DEFAULT, "px_proxy_factory_get_proxies"));
  io::setLibProxyLibsForTests(nullptr);
  remove(lib.c_str());
  rmdir(dir);
}

// As root, a library that another user made is never loaded: its
// constructor would run as root before any check.
TEST_F(ProxySettingsTest, AsRootLibProxyIsNotLoaded)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  char dir[] = "/tmp/userpxXXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  ASSERT_EQ(0, chown(dir, user.uid, user.gid));
  const std::string src = std::string(dir) + "/ctor.c", lib = std::string(dir) + "/libpx.so",
                    marker = std::string(dir) + "/ran";
  ASSERT_EQ(0, tltest::forkAsTestUser([&] {
    std::ofstream(src) << "#include <fcntl.h>\n#include <unistd.h>\n"
                          "__attribute__((constructor)) static void ran(void)\n"
                          "{ close(open(\"" + marker + "\", O_CREAT | O_WRONLY, 0644)); }\n";
    return 0;
  }));
  ASSERT_EQ(0, tltest::runAsTestUser({"cc", "-shared", "-fPIC", "-o", lib, src,
                                      TL_TEST_SUPPORT_DIR "/fake_libproxy.c"}));
  io::setLibProxyLibsForTests(lib.c_str());
  io::setEffectiveUidForTests(-1);
  EXPECT_EQ("direct://", discover("t", 443));
  EXPECT_THAT(capture.all(), HasSubstr("100 libproxy: skipping as root\n"));
  EXPECT_NE(0, access(marker.c_str(), F_OK)) << "the library ran as root";
  for (const std::string& f : {src, lib, marker})
    unlink(f.c_str());
  rmdir(dir);
}

TEST_F(ProxySettingsTest, ProviderReplacesDiscovery)
{
  struct Provider : io::ProxySettingsProvider {
    std::string server;
    bool enabled() override { return true; }
    plat::String proxyServer() override { return plat::String(server.c_str()); }
    plat::String proxyUser() override { return plat::String("bob"); }
    plat::SecureString proxyPassword() override { return plat::SecureString("pw"); }
  } provider;
  setVars("http_proxy=p1");
  io::proxySettingsProvider() = &provider;
  provider.server = "socks://prov:1081";
  EXPECT_EQ("socks://prov:1081 bob/pw",
            fetch(io::getProxyFetcher(io::proxySettingsProvider(), "t", 443, nullptr)));
  provider.server = "<system>";
  EXPECT_EQ("http://p1:80 bob/pw",
            fetch(io::getProxyFetcher(io::proxySettingsProvider(), "t", 443, nullptr)));
  io::proxySettingsProvider() = nullptr;
}

TEST_F(ProxySettingsTest, ChooseProxy)
{
  struct Case {
    const char* url;
    io::ProxyChoice::Kind kind;
    const char* proxy;
    const char* creds;
    const char* log;
  };
  const Case cases[] = {
      {"direct://", io::ProxyChoice::Direct, "", "u/", "100 Using direct connection"},
      {"http://alice:pw@h:81", io::ProxyChoice::HttpConnect, "h:81", "alice/pw",
       "100 Using HTTP CONNECT proxy h:81"},
      {"socks5://[::1]", io::ProxyChoice::Socks5, "[::1]:1080", "u/", nullptr},
      // An unknown scheme goes straight to the target, not to its host.
      {"https://lp:8443", io::ProxyChoice::Direct, "", "u/",
       "0 Unknown proxy type 'https', using direct"},
  };
  io::ProxyCredentials given;
  given.user = plat::String("u");
  for (const Case& c : cases) {
    capture.lines.clear();
    io::ProxyChoice choice = io::chooseProxy(c.url, given);
    EXPECT_EQ(c.kind, choice.kind) << c.url;
    EXPECT_STREQ(c.proxy, choice.proxyName().str()) << c.url;
    EXPECT_EQ(c.creds,
              std::string(choice.credentials.user.str()) + "/" + choice.credentials.password.str());
    if (c.log) {
      EXPECT_THAT(capture.all(), HasSubstr(std::string(c.log) + "\n"));
    }
  }
}

TEST(NetMask, ParseMatchAndText)
{
  struct Case {
    const char* text;
    const char* error; // null: valid
    const char* asText;
    const char* hit;
    const char* miss;
  };
  const Case cases[] = {
      {"192.168.1.7/24", nullptr, "192.168.1.0/24", "192.168.1.200", "192.168.2.1"},
      // Short IPv4 forms are read as numeric address text is everywhere.
      {"10", nullptr, "0.0.0.10", "0.0.0.10", "10.0.0.0"},
      {"10.1", nullptr, "10.0.0.1", "10.1", "10.1.0.0"},
      {"127.1/8", nullptr, "127.0.0.0/8", "127.9.9.9", "128.0.0.1"},
      {"1.2.3.4junk", nullptr, "1.2.3.4", "1.2.3.4", nullptr},
      {"192.168.0.1/255.255.0.255", nullptr, "192.168.0.1/255.255.0.255", "192.168.7.1",
       "192.168.7.0"},
      {"::1/128", nullptr, "::1", "::1", "::2"},
      {"", nullptr, "", "::2", nullptr},
      {"10.0.0.0/33", "Bad IP mask", nullptr, nullptr, nullptr},
      {"10.0.0.0/ffff::", "Mismatched IP mask", nullptr, nullptr, nullptr},
      {"10.256", nullptr, "10.0.1.0", "10.0.1.0", nullptr},
      {"10.256.1.1", "Bad IP address/mask", nullptr, nullptr, nullptr},
      {"zz::1", "Bad IP address/mask", nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    try {
      io::NetMask m(c.text);
      EXPECT_EQ(nullptr, c.error) << c.text;
      EXPECT_STREQ(c.asText, m.toString().str()) << c.text;
      EXPECT_TRUE(m.matches(c.hit)) << c.text;
      if (c.miss) {
        EXPECT_FALSE(m.matches(c.miss)) << c.text;
      }
    } catch (io::NetMask::Exception& e) {
      EXPECT_STREQ(c.error, e.str()) << c.text;
    }
  }
}

TEST(ProxyError, MessageAndOwnedCause)
{
  loc::LocaleSetter english("en_US");
  io::ProxyError plain(io::ProxyError::kConnectFailed, "p:1080");
  EXPECT_STREQ("Proxy error via p:1080: ConnectFailed (ConnectFailed)", plain.str());
  EXPECT_STREQ("ProxyError", plain.getType());
  EXPECT_STREQ("Proxy error via p:1080: invalid (Nonsense)",
               io::ProxyError("Nonsense", "p:1080").str());

  // The cause outlives the original it was made from.
  std::unique_ptr<io::ProxyError> kept;
  {
    auto cause = std::make_unique<rdr::EndOfStream>("proxy closed");
    kept = std::make_unique<io::ProxyError>(io::ProxyError::kConnectionError, "p:3128", nullptr,
                                            *cause);
  }
  ASSERT_NE(nullptr, kept->getCause());
  EXPECT_STREQ("proxy closed", kept->getCause()->str());
  io::ProxyError copy(*kept);
  EXPECT_STREQ("Unable to connect via p:3128: disconnected by proxy",
               copy.userMessage(nullptr).str());

  io::ProxyError refused(io::ProxyError::kBadConnection, "p:3128", nullptr,
                         plat::SystemException("connect", 111));
  EXPECT_STREQ("Unable to connect via p:3128: The connection was refused by the computer",
               refused.userMessage("fallback").str());
  EXPECT_STREQ("Unable to connect via p:1080: fallback", plain.userMessage("fallback").str());
}
