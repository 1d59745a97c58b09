// Finding the proxy that serves an outgoing connection.
//
// Discovery asks, in order, an application-supplied io::ProxySettingsProvider
// (the one hook every connection maker goes through), the process
// environment, "/etc/sysconfig/proxy" and libproxy (loaded at run time, never
// linked, and not loaded at all by root or a setuid start); when nothing
// applies the answer is "direct://".
// The answer is an io::ProxyFetcher that delivers one proxy URL with the
// proxy credentials. Nothing is cached: every discovery reads its sources
// afresh. Passwords stay in plat::SecureString and never reach a log line.
//
// Discovery runs on the calling thread and blocks for the file read and the
// libproxy query; libproxy's functions and factory are process-wide and
// guarded. Everything else is used by one thread at a time.
#pragma once

#include <map>
#include <memory>

#include "plat/Exception.h"
#include "plat/String.h"

namespace io {

// Asks the user for proxy credentials. No caller of this program has one;
// the proxy connectors pass it on.
class ProxyPasswdPrompt;

struct ProxyCredentials {
  ProxyPasswdPrompt* prompt = nullptr; // borrowed, may be null
  plat::String user;
  plat::SecureString password;
};

class ProxyFetcher;

// The user of one fetch.
class ProxyFetcherCallback {
public:
  virtual ~ProxyFetcherCallback();
  // url and credentials are valid for the call only.
  virtual void fetched(ProxyFetcher* fetcher, const char* url,
                       const ProxyCredentials& credentials) = 0;
  virtual void fetchFailed(ProxyFetcher* fetcher, const plat::Exception& error) = 0;
};

// Delivers the proxy URL for one connection: "direct://", "http://host:port",
// "socks://host:port" or what libproxy answered.
class ProxyFetcher {
public:
  virtual ~ProxyFetcher();
  // May answer from inside the call.
  virtual void fetch(ProxyFetcherCallback* callback) = 0;
};

// A fetcher whose answer is known at once.
class ProxyFetcherSync : public ProxyFetcher {
public:
  ProxyFetcherSync(const char* url, const ProxyCredentials& credentials);
  ~ProxyFetcherSync() override;

  // Calls fetched at once with copies of the URL and the credentials.
  void fetch(ProxyFetcherCallback* callback) override;

  const char* getUrl() const { return url_.str(); }
  const ProxyCredentials& getCredentials() const { return credentials_; }

  // A fetcher of url, or direct() when url is null or empty.
  static std::unique_ptr<ProxyFetcher> fromUrl(const char* url,
                                               const ProxyCredentials& credentials);
  // "direct://" without credentials.
  static std::unique_ptr<ProxyFetcher> direct();
  // "socks://host:port" (default port 1080) and "http://host:port" (default
  // 80) from an endpoint name; throws io::EndpointInvalid.
  static std::unique_ptr<ProxyFetcher> socks(const char* hostPart,
                                             const ProxyCredentials& credentials);
  static std::unique_ptr<ProxyFetcher> http(const char* hostPart,
                                            const ProxyCredentials& credentials);

private:
  plat::String url_;
  ProxyCredentials credentials_;
};

enum class ProxySettingKey {
  HttpProxy = 0,
  HttpsProxy = 1,
  SocksProxy = 2,
  SocksVersion = 3,
  BypassList = 4
};

// What one source says for one target host and port, and the choice of a
// proxy from it.
class ProxySettingsTable {
public:
  struct Entry {
    plat::String value;
    plat::String user;
    plat::SecureString password;
  };

  ProxySettingsTable(const char* host, int port);

  // A value equal to the one held leaves the entry as it is.
  void set(ProxySettingKey key, const char* value);
  // Null when the key is not set.
  const Entry* get(ProxySettingKey key) const;
  // Sets the keys from the proxy variables of the environment.
  void readEnvironment();

  // The fetcher for the target: direct when it is bypassed, else a SOCKS 5
  // proxy, else an HTTP CONNECT proxy (the HTTPS setting first); null when
  // the table names no usable proxy. The URL's user and password replace
  // those of credentials.
  std::unique_ptr<ProxyFetcher> select(const ProxyCredentials& credentials) const;
  // Whether the bypass list names the target.
  bool bypassed() const;
  // The proxy of key as "host:port" (IPv6 bracketed), or a null text when
  // the key is unset, names another scheme or is invalid (logged as an
  // error). The URL's user and password go into credentials.
  plat::String proxyFor(ProxySettingKey key, const char* scheme, const char* scheme2,
                        ProxyCredentials& credentials) const;

private:
  bool tokenMatches(const char* token, const char* target, bool targetNumeric) const;

  plat::String host_;
  int port_;
  std::map<ProxySettingKey, Entry> entries_;
};

// An application's own source of proxy settings.
class ProxySettingsProvider {
public:
  virtual ~ProxySettingsProvider();
  // Whether the application's proxy settings are switched on; not read by
  // discovery.
  virtual bool enabled() = 0;
  // A proxy URL or host:port, "" for none, "<system>" to discover.
  virtual plat::String proxyServer() = 0;
  virtual plat::String proxyUser() = 0;
  virtual plat::SecureString proxyPassword() = 0;
};

// The process's provider slot (null until set; borrowed). Every connection
// maker passes it to getProxyFetcher, so a test or an application replaces
// the proxy settings of all of them here.
ProxySettingsProvider*& proxySettingsProvider();

// The fetcher for host:port: the provider's server when it names one, else
// system discovery. Throws plat::Exception only for a provider's malformed
// server text.
std::unique_ptr<ProxyFetcher> getProxyFetcher(ProxySettingsProvider* provider, const char* host,
                                              int port, ProxyPasswdPrompt* prompt);
// The same for the host and port of a URL (default port by scheme).
std::unique_ptr<ProxyFetcher> getProxyFetcherForUrl(ProxySettingsProvider* provider,
                                                    const char* url);
// Environment, then the sysconfig file, then libproxy, else direct. Never
// fails.
std::unique_ptr<ProxyFetcher> discoverSystemProxy(const char* host, int port,
                                                  const ProxyCredentials& credentials);

// One question to libproxy, asked when the object is made.
class LibProxyQuery {
public:
  LibProxyQuery(const char* host, int port);

  // The proxy URL libproxy gave, or null.
  const char* getUrl() const { return url_.get(); }
  // A fetcher of that URL as given (for instance "direct://"), or null.
  std::unique_ptr<ProxyFetcher> toFetcher(const ProxyCredentials& credentials) const;

private:
  plat::String url_;
};

#ifdef TL_TEST_HOOKS
// --- Test hooks ------------------------------------------------------------------
// The file read in place of "/etc/sysconfig/proxy" (null restores it).
void setSysconfigProxyPathForTests(const char* path);
// The library loaded in place of libproxy ("proxy[1]"), as a path or a
// library candidate list; the process-wide functions and factory are
// released and loaded again on next use (null restores it).
void setLibProxyLibsForTests(const char* libList);
// The effective user id discovery sees, AT_SECURE left out (-1 restores
// geteuid and AT_SECURE).
void setEffectiveUidForTests(int uid);
#endif

} // namespace io
