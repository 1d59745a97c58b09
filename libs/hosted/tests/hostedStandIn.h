// The hosted stand-in of the request and bootstrap tests: the scripted
// HTTP(S) server of tests/support with a certificate of a test CA made by
// openssl at test time, vendor packages trusting that CA and the bootstrap
// signer's (bootstrapDocs.h), hosted client contexts over them, and a
// recorder of hosted request outcomes.
#pragma once

#include <algorithm>
#include <strings.h>
#include <string>
#include <vector>

#include "bootstrapDocs.h"
#include "hosted/HostedClientContext.h"
#include "hosted/HostedRequest.h"
#include "httpTestUtil.h"
#include "io/FdSelectManager.h"
#include "netTestUtil.h"

namespace hostedtest {

// The stand-in's CA, server certificate (127.0.0.1 and localhost) and a
// client certificate, made once per test program.
struct Pki {
  httptest::TestCa ca{"HostedStandInCA"};
  std::string server = ca.server("standin", "IP:127.0.0.1,DNS:localhost");
  std::string serverKey = ca.path("standin.key");
  std::string client = ca.client("hostedclient");
  std::string clientKey = ca.path("hostedclient.key");

  static Pki& get()
  {
    static Pki pki;
    return pki;
  }
};

// The TLS stand-in; with clientCa set it demands a client certificate.
inline std::unique_ptr<httptest::ScriptedServer> tlsServer(const httptest::Script& script,
                                                           bool demandClientCert = false)
{
  Pki& p = Pki::get();
  return std::make_unique<httptest::ScriptedServer>(script, p.server, p.serverKey,
                                                    demandClientCert ? p.ca.path("ca.pem") : "");
}

// A vendor package trusting the stand-in's CA and the signer's CA; bootstrap
// is the inside of a bootstrap_sign.py doc desc; withClientIdentity adds the
// client certificate sections.
inline std::string vendorPackage(const std::string& bootstrap, bool withClientIdentity = false)
{
  Pki& p = Pki::get();
  std::string desc = "{\"certs\": [\"" + p.ca.path("ca.pem") + "\", \"" + bootstraptest::kKeys +
                     "/ca.pem\"], \"bootstrap\": {" + bootstrap + "}";
  if (withClientIdentity)
    desc += ", \"sections\": {\"client.certificate\": " +
            httptest::jsonText(tltest::readFile(p.client)) +
            ", \"client.key\": " + httptest::jsonText(tltest::readFile(p.clientKey)) + "}";
  return bootstraptest::run("vendor", desc + "}");
}

struct Credentials {
  const char* principal = nullptr;
  const char* secret = nullptr;
  const char* bearer = nullptr;
};

inline hosted::HostedClientContextPtr context(const std::string& package,
                                              os::PersistentStore* store = nullptr,
                                              Credentials c = {})
{
  return hosted::HostedClientContextPtr(new hosted::HostedClientContext(
      c.principal, (int)package.size(), package.data(), store, c.secret, c.bearer, nullptr));
}

// How hosted requests ended.
struct Recorder : hosted::HostedRequestCallback {
  bool acceptStatus(hosted::HostedRequest*, int status) override
  {
    return std::find(accept.begin(), accept.end(), status) != accept.end();
  }
  void requestSucceeded(hosted::HostedRequest*, const http::SharedBytes& b,
                        const char* contentType) override
  {
    reports++;
    ok = true;
    body.assign((const char*)b->data(), b->length());
    type = contentType ? contentType : "<none>";
  }
  void requestFailed(hosted::HostedRequest*, const plat::Exception& e) override
  {
    reports++;
    error = e.str();
    errorType = e.getType();
  }

  std::vector<int> accept{200};
  int reports = 0;
  bool ok = false;
  std::string body, type, error, errorType;
};

// A header of a request as received, "<none>" when absent.
inline std::string header(const std::string& request, const std::string& name)
{
  for (size_t at = request.find("\r\n"); at != std::string::npos; at = request.find("\r\n", at + 2)) {
    const char* line = request.c_str() + at + 2;
    if (strncasecmp(line, name.c_str(), name.size()) == 0 && line[name.size()] == ':')
      return request.substr(at + 4 + name.size(), request.find("\r\n", at + 2) - at - 4 - name.size());
  }
  return "<none>";
}

// A response of the stand-in with a BED body.
inline std::string answer(const std::string& body, const char* status = "200 OK")
{
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: application/vnd.tessaly.bed\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string url(const httptest::ScriptedServer& server, const std::string& path,
                       const char* scheme = "https")
{
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(server.port()) + path;
}

} // namespace hostedtest
