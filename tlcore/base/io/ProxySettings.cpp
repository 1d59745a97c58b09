#include "io/ProxySettings.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "io/Endpoint.h"
#include "io/IpInfo.h"
#include "io/NetMask.h"
#include "os/shellAssignment.h"
#include "plat/DString.h"
#include "plat/DynamicFn.h"
#include "plat/Log.h"
#include "plat/numbers.h"
#include "rdr/Exception.h"
#include "rdr/FileInStream.h"

namespace io {

static plat::LogSrc vlog("ProxySettings");

namespace {

const char* const kSysconfigPath = "/etc/sysconfig/proxy";
const char* const kLibProxyLibs = "proxy[1]";

plat::String sysconfigPathOverride;
int euidOverride = -1;

const char* labelOf(ProxySettingKey key)
{
  switch (key) {
  case ProxySettingKey::HttpProxy:
    return "HTTP proxy";
  case ProxySettingKey::HttpsProxy:
    return "HTTPS proxy";
  case ProxySettingKey::SocksProxy:
    return "SOCKS proxy";
  case ProxySettingKey::SocksVersion:
    return "SOCKS version";
  default:
    return "Bypass list";
  }
}

// "host:port" with an IPv6 host in brackets.
plat::String hostPortText(const char* host, int port)
{
  return plat::format("%s:%d", bracketHost(unbracketHost(host).str()).str(), port);
}

// A fetcher for "<scheme>://host:port" from a "host[:port]" setting.
std::unique_ptr<ProxyFetcher> fetcherFor(const char* scheme, const char* hostPart, int defaultPort,
                                         const ProxyCredentials& credentials)
{
  plat::String host;
  int port = 0;
  parseEndpointName(hostPart, host, &port, defaultPort, 0);
  return std::make_unique<ProxyFetcherSync>(
      plat::format("%s://%s", scheme, hostPortText(host.str(), port).str()).str(), credentials);
}

// The credentials with the user and password of a URL put in.
void takeUrlCredentials(ProxyCredentials& creds, const char* user, const char* password)
{
  if (user && plat::strCmpNull(user, creds.user.get()) != 0)
    creds.user = plat::String(user);
  if (password)
    creds.password.assign(password);
}

// "***:***@" in place of any user information, so that log lines never
// carry a user name or password.
const char* maskedUserInfo(const char* user, const char* password)
{
  return user || password ? "***:***@" : "";
}

// Root, or a setuid/setgid start (AT_SECURE) whatever the user now is.
bool runsPrivileged()
{
  if (euidOverride >= 0)
    return euidOverride == 0;
  return geteuid() == 0 || getauxval(AT_SECURE) != 0;
}

} // namespace

// --- Fetchers --------------------------------------------------------------------

ProxyFetcherCallback::~ProxyFetcherCallback() = default;
ProxyFetcher::~ProxyFetcher() = default;
ProxySettingsProvider::~ProxySettingsProvider() = default;

ProxyFetcherSync::ProxyFetcherSync(const char* url, const ProxyCredentials& credentials)
    : url_(url), credentials_(credentials)
{
}

// The password wipes itself (SecureString).
ProxyFetcherSync::~ProxyFetcherSync() = default;

void ProxyFetcherSync::fetch(ProxyFetcherCallback* callback)
{
  plat::String url(url_);
  ProxyCredentials credentials(credentials_);
  callback->fetched(this, url.str(), credentials);
}

std::unique_ptr<ProxyFetcher> ProxyFetcherSync::fromUrl(const char* url,
                                                        const ProxyCredentials& credentials)
{
  if (!url || !*url)
    return direct();
  return std::make_unique<ProxyFetcherSync>(url, credentials);
}

std::unique_ptr<ProxyFetcher> ProxyFetcherSync::direct()
{
  return std::make_unique<ProxyFetcherSync>("direct://", ProxyCredentials());
}

std::unique_ptr<ProxyFetcher> ProxyFetcherSync::socks(const char* hostPart,
                                                      const ProxyCredentials& credentials)
{
  return fetcherFor("socks", hostPart, 1080, credentials);
}

std::unique_ptr<ProxyFetcher> ProxyFetcherSync::http(const char* hostPart,
                                                     const ProxyCredentials& credentials)
{
  return fetcherFor("http", hostPart, 80, credentials);
}

// --- The settings table ------------------------------------------------------------

ProxySettingsTable::ProxySettingsTable(const char* host, int port) : host_(host), port_(port)
{
}

void ProxySettingsTable::set(ProxySettingKey key, const char* value)
{
  Entry& e = entries_[key];
  if (plat::strCmpNull(e.value.get(), value) != 0)
    e.value = plat::String(value);
}

const ProxySettingsTable::Entry* ProxySettingsTable::get(ProxySettingKey key) const
{
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

void ProxySettingsTable::readEnvironment()
{
  // ALL_PROXY comes after SOCKS_SERVER, so it wins.
  static const struct {
    const char* name;
    ProxySettingKey key;
  } rows[] = {
      {"http_proxy", ProxySettingKey::HttpProxy},
      {"https_proxy", ProxySettingKey::HttpsProxy},
      {"SOCKS_SERVER", ProxySettingKey::SocksProxy},
      {"SOCKS_VERSION", ProxySettingKey::SocksVersion},
      {"no_proxy", ProxySettingKey::BypassList},
      {"ALL_PROXY", ProxySettingKey::SocksProxy},
  };
  for (const auto& row : rows) {
    const char* value = getenv(row.name);
    if (!value) {
      // The same name in the other case.
      plat::String other(row.name);
      if (row.name[0] >= 'A' && row.name[0] <= 'Z')
        other.toLowerAscii();
      else
        other.toUpperAscii();
      value = getenv(other.str());
    }
    if (value)
      set(row.key, value);
  }
}

plat::String ProxySettingsTable::proxyFor(ProxySettingKey key, const char* scheme,
                                          const char* scheme2, ProxyCredentials& credentials) const
{
  const char* label = labelOf(key);
  const Entry* entry = get(key);
  if (!entry) {
    vlog.debug("%s is not set", label);
    return plat::String();
  }
  try {
    EndpointUri uri(entry->value.get());
    bool uriHasUser = !uri.user.isNull();
    const char* user = uriHasUser ? uri.user.get() : entry->user.get();
    const char* password = uriHasUser ? uri.password.get() : entry->password.get();
    const char* effective = uri.scheme.isNull() ? scheme : uri.scheme.get();
    vlog.info("%s is %s://%s%s", label, effective, maskedUserInfo(user, password),
              uri.hostPort.str());
    if (strcmp(effective, scheme) != 0 && strcmp(effective, scheme2) != 0)
      return plat::String();
    if (uri.hostPort.length() == 0)
      return plat::String();
    int defaultPort = 1080;
    if (strcmp(effective, "http") == 0)
      defaultPort = 80;
    else if (strcmp(effective, "https") == 0)
      defaultPort = 443;
    plat::String host;
    int port = 0;
    parseEndpointName(uri.hostPort.get(), host, &port, defaultPort, 0);
    takeUrlCredentials(credentials, user, password);
    return hostPortText(host.str(), port);
  } catch (plat::Exception&) {
    // Discovery moves on as if the setting were absent; say so loudly, or
    // a mistyped setting becomes a silent direct connection.
    vlog.error("%s is invalid", label);
    return plat::String();
  }
}

std::unique_ptr<ProxyFetcher> ProxySettingsTable::select(const ProxyCredentials& credentials) const
{
  if (bypassed()) {
    vlog.info("Host appears in proxy bypass list");
    return ProxyFetcherSync::direct();
  }

  ProxyCredentials creds(credentials);
  plat::String socks = proxyFor(ProxySettingKey::SocksProxy, "socks", "socks5", creds);
  if (!socks.isNull()) {
    const Entry* version = get(ProxySettingKey::SocksVersion);
    int v = 5;
    bool whole = false;
    if (version && version->value.get()) {
      const char* p = version->value.get();
      whole = plat::strToInt(&v, &p) && *p == 0;
    }
    if (whole && v != 5)
      vlog.info("Socks version %s is not supported", version->value.get());
    else
      return ProxyFetcherSync::socks(socks.get(), creds);
  }

  creds = credentials;
  plat::String http = proxyFor(ProxySettingKey::HttpsProxy, "http", "https", creds);
  if (http.isNull()) {
    creds = credentials;
    http = proxyFor(ProxySettingKey::HttpProxy, "http", "https", creds);
  }
  if (!http.isNull())
    return ProxyFetcherSync::http(http.get(), creds);
  return nullptr;
}

bool ProxySettingsTable::bypassed() const
{
  const Entry* list = get(ProxySettingKey::BypassList);
  if (!list || list->value.isNull())
    return false;
  vlog.info("Bypass list is %s", list->value.get());

  // A host given in endpoint form may still carry its IPv6 brackets.
  std::string target = host_.str();
  if (target.size() >= 2 && target.front() == '[' && target.back() == ']')
    target = target.substr(1, target.size() - 2);
  bool numeric = isNumericAddress(target.c_str());
  if (!target.empty() && target.back() == '.')
    target.pop_back();

  std::string copy = list->value.str();
  char* cursor = &copy[0];
  while (cursor) {
    char* token = plat::strTokAny(&cursor, ", \t", nullptr);
    if (token && *token && tokenMatches(token, target.c_str(), numeric))
      return true;
  }
  return false;
}

bool ProxySettingsTable::tokenMatches(const char* token, const char* target, bool numeric) const
{
  // Only "[v6]:port" or a single colon is read as a host and port: an IPv6
  // literal such as "::1" would otherwise read as "localhost" on port 1.
  std::string name = token;
  const char* colon = strchr(token, ':');
  if (token[0] == '[' || (colon && !strchr(colon + 1, ':'))) {
    try {
      plat::String host;
      int port = 0;
      parseEndpointName(token, host, &port, -1, 0);
      if (port != port_)
        return false;
      name = unbracketHost(host.str()).str();
    } catch (plat::Exception&) {
      // No port: the token stands as it is.
    }
  }

  if (name == "*")
    return true;

  bool validMask = false;
  try {
    NetMask mask(name.c_str());
    validMask = true;
    return mask.matches(target);
  } catch (plat::Exception&) {
    if (validMask || numeric)
      return false;
  }

  if (!name.empty() && name.back() == '.')
    name.pop_back();
  if (name.compare(0, 2, "*.") == 0)
    name.erase(0, 1);
  if (name == "<local>")
    return !strchr(target, '.');
  if (!name.empty() && name[0] == '.')
    return strlen(target) > name.size() && plat::strEndsWithNoCase(target, name.c_str());
  return strcasecmp(name.c_str(), target) == 0;
}

// --- Discovery -----------------------------------------------------------------------

ProxySettingsProvider*& proxySettingsProvider()
{
  static ProxySettingsProvider* provider = nullptr;
  return provider;
}

std::unique_ptr<ProxyFetcher> getProxyFetcher(ProxySettingsProvider* provider, const char* host,
                                              int port, ProxyPasswdPrompt* prompt)
{
  ProxyCredentials creds;
  creds.prompt = prompt;
  if (provider) {
    creds.user = provider->proxyUser();
    creds.password = provider->proxyPassword();
    plat::String server = provider->proxyServer();
    if (strcmp(server.str(), "<system>") != 0)
      return ProxyFetcherSync::fromUrl(server.get(), creds);
  }
  return discoverSystemProxy(host, port, creds);
}

std::unique_ptr<ProxyFetcher> getProxyFetcherForUrl(ProxySettingsProvider* provider,
                                                    const char* url)
{
  EndpointUri uri(url);
  int defaultPort = -1;
  const char* scheme = uri.scheme.str();
  if (strcmp(scheme, "http") == 0)
    defaultPort = 80;
  else if (strcmp(scheme, "https") == 0)
    defaultPort = 443;
  else if (strcmp(scheme, "socks") == 0 || strcmp(scheme, "socks5") == 0)
    defaultPort = 1080;
  plat::String host;
  int port = 0;
  parseEndpointName(uri.hostPort.get(), host, &port, defaultPort, 0);
  return getProxyFetcher(provider, host.get(), port, nullptr);
}

namespace {

// The settings of the sysconfig file, or null when it is missing, switched
// off or unreadable.
std::unique_ptr<ProxySettingsTable> readSysconfig(const char* path, const char* host, int port)
{
  auto table = std::make_unique<ProxySettingsTable>(host, port);
  try {
    rdr::FileInStream in(path);
    plat::DString line;
    for (;;) {
      const char* value;
      try {
        value = os::parseShellAssignment(in, line);
      } catch (rdr::EndOfStream&) {
        return table;
      }
      if (!value)
        continue;
      const char* key = line.get();
      if (strcmp(key, "PROXY_ENABLED") == 0) {
        if (strcasecmp(value, "no") == 0)
          return nullptr;
      } else if (strcasecmp(key, "HTTP_PROXY") == 0) {
        table->set(ProxySettingKey::HttpProxy, value);
      } else if (strcasecmp(key, "HTTPS_PROXY") == 0) {
        table->set(ProxySettingKey::HttpsProxy, value);
      } else if (strcasecmp(key, "SOCKS_PROXY") == 0 || strcasecmp(key, "SOCKS_SERVER") == 0) {
        table->set(ProxySettingKey::SocksProxy, value);
      } else if (strcasecmp(key, "SOCKS_VERSION") == 0) {
        table->set(ProxySettingKey::SocksVersion, value);
      }
    }
  } catch (plat::Exception&) {
    return nullptr;
  }
}

} // namespace

std::unique_ptr<ProxyFetcher> discoverSystemProxy(const char* host, int port,
                                                  const ProxyCredentials& credentials)
{
  ProxySettingsTable env(host, port);
  env.readEnvironment();
  if (auto fetcher = env.select(credentials))
    return fetcher;

  const char* path = sysconfigPathOverride.isNull() ? kSysconfigPath : sysconfigPathOverride.get();
  if (auto table = readSysconfig(path, host, port)) {
    vlog.info("Using proxy settings from %s", path);
    if (auto fetcher = table->select(credentials))
      return fetcher;
  }

  LibProxyQuery query(host, port);
  if (auto fetcher = query.toFetcher(credentials))
    return fetcher;
  return ProxyFetcherSync::direct();
}

// --- libproxy ------------------------------------------------------------------------

namespace {

typedef void* (*PxFactoryNew)();
typedef char** (*PxGetProxies)(void* factory, const char* url);
typedef void (*PxFactoryFree)(void* factory);

// libproxy's three functions and the one factory of the process.
class LibProxy {
public:
  static LibProxy& get()
  {
    static LibProxy instance;
    return instance;
  }

  // The first proxy libproxy gives for url (null for none); false when
  // libproxy cannot be asked.
  bool query(const char* url, plat::String& answer)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Before loading: a library's constructors would run with the
    // privileges of a root or setuid process.
    if (runsPrivileged()) {
      vlog.info("libproxy: skipping as root");
      return false;
    }
    if (!newFn_) {
      const char* libList = libList_.isNull() ? kLibProxyLibs : libList_.get();
      newFn_ = std::make_unique<plat::DynamicFn>(libList, "px_proxy_factory_new");
      getFn_ = std::make_unique<plat::DynamicFn>(libList, "px_proxy_factory_get_proxies");
      freeFn_ = std::make_unique<plat::DynamicFn>(libList, "px_proxy_factory_free");
    }
    if (!*newFn_ || !*getFn_ || !*freeFn_) {
      vlog.info("libproxy support not available");
      return false;
    }
    if (!factory_)
      factory_ = newFn_->as<PxFactoryNew>()();
    if (!factory_) {
      vlog.info("libproxy: px_proxy_factory_new failed");
      return false;
    }
    char** proxies = getFn_->as<PxGetProxies>()(factory_, url);
    if (proxies) {
      answer = plat::String(proxies[0]);
      for (char** p = proxies; *p; ++p)
        free(*p);
      free(proxies);
    }
    return true;
  }

  void reset(const char* libList)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    release();
    libList_ = plat::String(libList);
  }

private:
  LibProxy() = default;
  ~LibProxy() { release(); }

  void release()
  {
    if (factory_ && freeFn_ && *freeFn_)
      freeFn_->as<PxFactoryFree>()(factory_);
    factory_ = nullptr;
    newFn_.reset();
    getFn_.reset();
    freeFn_.reset();
  }

  std::mutex mutex_;
  plat::String libList_;
  std::unique_ptr<plat::DynamicFn> newFn_, getFn_, freeFn_;
  void* factory_ = nullptr;
};

} // namespace

LibProxyQuery::LibProxyQuery(const char* host, int port)
{
  plat::String url;
  try {
    url = plat::format("https://%s", hostPortText(host, port).str());
  } catch (plat::Exception&) {
    vlog.error("libproxy: target host is invalid");
    return;
  }
  plat::String answer;
  if (!LibProxy::get().query(url.str(), answer))
    return;
  if (answer.isNull()) {
    vlog.info("libproxy: no proxy");
    return;
  }
  try {
    EndpointUri uri(answer.get());
    vlog.info("libproxy: proxy URL is %s://%s%s", uri.scheme.str(),
              maskedUserInfo(uri.user.get(), uri.password.get()), uri.hostPort.str());
    url_ = std::move(answer);
  } catch (plat::Exception&) {
    vlog.error("libproxy: proxy URL is invalid");
  }
}

std::unique_ptr<ProxyFetcher> LibProxyQuery::toFetcher(const ProxyCredentials& credentials) const
{
  if (url_.isNull())
    return nullptr;
  return ProxyFetcherSync::fromUrl(url_.get(), credentials);
}

#ifdef TL_TEST_HOOKS
// --- Test hooks ------------------------------------------------------------------------

void setSysconfigProxyPathForTests(const char* path)
{
  sysconfigPathOverride = plat::String(path);
}

void setLibProxyLibsForTests(const char* libList)
{
  LibProxy::get().reset(libList);
}

void setEffectiveUidForTests(int uid)
{
  euidOverride = uid;
}
#endif

} // namespace io
