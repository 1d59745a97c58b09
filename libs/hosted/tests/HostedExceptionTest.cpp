// Hosted errors: kinds, categories and the message forms.
#include <gtest/gtest.h>

#include <string>

#include "hosted/HostedException.h"
#include "http/HttpError.h"
#include "io/ProxyError.h"
#include "plat/utf8.h"

using hosted::HostedBootstrapException;
using hosted::HostedException;

namespace {

TEST(HostedException, KindsAndFixedTexts)
{
  struct {
    unsigned category;
    const char* kind;
    const char* detail;
    const char* expectKind;
    const char* message;
  } cases[] = {
      {1, nullptr, nullptr, "GeneralError", "Hosted Configuration error"},
      {1, "ConfigPkg", nullptr, "ConfigPkg", "Hosted Configuration error: Invalid Bootstrap package"},
      {1, "ConfigPkg", "no section", "ConfigPkg", "Hosted Configuration error: no section"},
      {3, "Network", nullptr, "Network", "Hosted Discovery error: Network failure"},
      {4, "BED", nullptr, "BED", "Hosted Connection-Broker error: Invalid BED"},
      {5, "JSON", nullptr, "JSON", "Hosted Rendezvous error: Invalid JSON"},
      {6, "AppData", nullptr, "AppData", "Hosted Data-Relay error: Handshake could not be started"},
      {7, "PeerAppData", nullptr, "PeerAppData", "Hosted Peer-to-Peer error: Peer sent invalid handshake"},
      {8, "HTTPGone", nullptr, "HTTPGone", "Hosted Application error"},
      {0, "GeneralError", "x", "GeneralError", "Hosted NoError error: x"},
  };
  for (auto& c : cases) {
    HostedException e(c.category, c.kind, c.detail);
    EXPECT_STREQ(c.expectKind, e.getKind());
    EXPECT_STREQ(c.message, e.str());
    EXPECT_STREQ("Hosted", e.getType());
    EXPECT_EQ(c.category, e.getCategory());
    EXPECT_STREQ("", e.getProxyFailureKind());
  }
  struct {
    const char* kind;
    const char* message;
  } bootstrap[] = {
      {"BTPNoBootstrap", "Hosted Bootstrap error: No more Bootstrap servers"},
      {"BTPBootstrapLimit", "Hosted Bootstrap error: Gave up after too many attempts"},
      {"Other", "Hosted Bootstrap error"},
  };
  for (auto& b : bootstrap) {
    HostedBootstrapException e(b.kind, nullptr);
    EXPECT_STREQ(b.message, e.str());
    EXPECT_EQ(2u, e.getCategory());
  }
  EXPECT_STREQ("Hosted Bootstrap error: given",
               HostedBootstrapException("BTPNoBootstrap", "given").str());
}

TEST(HostedException, FromHttpStatuses)
{
  struct {
    int status;
    const char* kind;
    const char* phrase;
  } cases[] = {
      {201, "HTTPCreated", "Created"},
      {202, "HTTPAccepted", "Accepted"},
      {204, "HTTPNoContent", "No Content"},
      {307, "HTTPTemporaryRedirect", "Temporary Redirect"},
      {308, "HTTPPermanentRedirect", "Permanent Redirect"},
      {400, "HTTPBadRequest", "Bad Request"},
      {401, "HTTPUnauthorized", "Unauthorized"},
      {402, "HTTPPaymentRequired", "Payment Required"},
      {403, "HTTPForbidden", "Forbidden"},
      {404, "HTTPNotFound", "Not Found"},
      {405, "HTTPMethodNotAllowed", "Method Not Allowed"},
      {409, "HTTPConflict", "Conflict"},
      {410, "HTTPGone", "Gone"},
      {412, "HTTPPreconditionFailed", "Precondition Failed"},
      {413, "HTTPRequestTooLarge", "Request Entity Too Large"},
      {429, "HTTPTooManyRequests", "Too Many Requests"},
      {500, "HTTPInternalServerError", "Internal Server Error"},
      {501, "HTTPNotImplemented", "Not Implemented"},
      {503, "HTTPServiceUnavailable", "Service Unavailable"},
      {502, "HTTPBadGateway", "Bad Gateway"},
      {599, "HTTPUnknownError", "Unknown Error"},
  };
  for (auto& c : cases) {
    HostedBootstrapException e{http::HttpError(c.status)};
    EXPECT_STREQ(c.kind, e.getKind()) << c.status;
    EXPECT_EQ("Hosted Bootstrap error: HTTP " + std::string(c.phrase), e.str());
  }
  HostedException none(2, http::HttpError(-1));
  EXPECT_STREQ("Network", none.getKind());
  EXPECT_STREQ("Hosted Bootstrap error: Network failure", none.str());
  EXPECT_STREQ("Hosted Bootstrap error: custom",
               HostedException(2, http::HttpError(404), "custom").str());
}

TEST(HostedException, FromOtherFailures)
{
  HostedException refused(2, plat::Exception("Connection refused"));
  EXPECT_STREQ("Network", refused.getKind());
  EXPECT_STREQ("Hosted Bootstrap error: Network failure: Connection refused", refused.str());

  io::ProxyError proxy(io::ProxyError::kAuthenticationFailed, "proxy.test::3128");
  HostedException viaProxy(3, proxy);
  EXPECT_STREQ("Network", viaProxy.getKind());
  EXPECT_STREQ("AuthenticationFailed", viaProxy.getProxyFailureKind());
  EXPECT_EQ("Hosted Discovery error: Network failure: " + std::string(proxy.str()),
            viaProxy.str());

  // Re-categorising keeps everything but replaces an error of no category.
  HostedException kept(5, viaProxy);
  EXPECT_EQ(3u, kept.getCategory());
  EXPECT_STREQ(viaProxy.str(), kept.str());
  EXPECT_STREQ("AuthenticationFailed", kept.getProxyFailureKind());
  HostedException fresh(5, HostedException(0, "JSON", "whatever"));
  EXPECT_EQ(5u, fresh.getCategory());
  EXPECT_STREQ("GeneralError", fresh.getKind());
  EXPECT_STREQ("Hosted Rendezvous error", fresh.str());
}

TEST(HostedException, LongTextsAreCutAtCharacters)
{
  std::string e300;
  for (int i = 0; i < 150; i++)
    e300 += "\xc3\xa9";
  HostedException e(1, e300.c_str(), e300.c_str());
  EXPECT_EQ(30u, strlen(e.getKind()));
  EXPECT_TRUE(plat::isValidUtf8(e.getKind()));
  EXPECT_LE(strlen(e.str()), 255u);
  EXPECT_GE(strlen(e.str()), 254u);
  EXPECT_TRUE(plat::isValidUtf8(e.str()));
}

} // namespace
