// Proxy environment values on arbitrary text. The input holds values for
// http_proxy, https_proxy, SOCKS_SERVER, SOCKS_VERSION, no_proxy and
// ALL_PROXY and then the target host, separated by NUL bytes; missing ones
// are unset. Discovery must give a fetcher with a URL, and each key's proxy
// must come out as a host:port that reads as an endpoint name, or none.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "io/Endpoint.h"
#include "io/ProxySettings.h"

using namespace io;

namespace {

class Url : public ProxyFetcherCallback {
public:
  void fetched(ProxyFetcher*, const char* u, const ProxyCredentials&) override
  {
    url = u ? u : "";
    got = true;
  }
  void fetchFailed(ProxyFetcher*, const plat::Exception&) override { failed = true; }
  std::string url;
  bool got = false;
  bool failed = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 8192)
    return 0;
  fuzzQuietLogs();
  static const char* const vars[] = {"http_proxy", "https_proxy", "SOCKS_SERVER",
                                     "SOCKS_VERSION", "no_proxy", "ALL_PROXY"};
  static const char* const others[] = {"HTTP_PROXY", "HTTPS_PROXY", "socks_server",
                                       "socks_version", "NO_PROXY", "all_proxy"};
  std::vector<std::string> fields;
  std::string text((const char*)data, size);
  size_t start = 0;
  for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
    fields.push_back(text.substr(start, nul - start));
  fields.push_back(text.substr(start));
  for (int i = 0; i < 6; i++) {
    unsetenv(others[i]);
    if (i < (int)fields.size() - 1)
      setenv(vars[i], fields[i].c_str(), 1);
    else
      unsetenv(vars[i]);
  }
  std::string host = fields.size() > 6 ? fields[6] : "target.test";
  setSysconfigProxyPathForTests("/nonexistent/sysconfig-proxy");
  setEffectiveUidForTests(0);

  ProxyCredentials credentials;
  std::unique_ptr<ProxyFetcher> fetcher = discoverSystemProxy(host.c_str(), 443, credentials);
  FUZZ_CHECK(fetcher != nullptr);
  Url url;
  fetcher->fetch(&url);
  FUZZ_CHECK(url.got && !url.failed && !url.url.empty());

  ProxySettingsTable table(host.c_str(), 443);
  table.readEnvironment();
  table.bypassed();
  static const struct {
    ProxySettingKey key;
    const char* scheme;
    const char* scheme2;
  } keys[] = {{ProxySettingKey::HttpProxy, "http", "https"},
              {ProxySettingKey::HttpsProxy, "http", "https"},
              {ProxySettingKey::SocksProxy, "socks", "socks5"}};
  for (const auto& k : keys) {
    ProxyCredentials c;
    plat::String proxy = table.proxyFor(k.key, k.scheme, k.scheme2, c);
    if (proxy.isNull())
      continue;
    plat::String h;
    int port = 0;
    try {
      parseEndpointName(proxy.get(), h, &port, -1, 0);
    } catch (EndpointInvalid&) {
      FUZZ_CHECK(!"a chosen proxy is not a valid endpoint name");
    }
  }
  return 0;
}
