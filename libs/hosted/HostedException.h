// The one error of hosted-service operations: the protocol stage that
// failed (its category) and a short kind name that callers compare as text;
// the message is for logs and users. HostedBootstrapException is the same
// error fixed to the bootstrap stage. Values; any thread.
#pragma once

#include "plat/Exception.h"
#include "plat/String.h"

namespace hosted {

class HostedException : public plat::Exception {
public:
  enum Category : unsigned {
    kNoError,
    kConfiguration,
    kBootstrap,
    kDiscovery,
    kConnectionBroker,
    kRendezvous,
    kDataRelay,
    kPeerToPeer,
    kApplication,
  };

  // "Hosted %s error" with the category's name, then ": " and the detail,
  // or the kind's fixed detail text when none is given. A null kind is
  // "GeneralError".
  HostedException(unsigned category, const char* kind, const char* detail);
  // From any failure: the kind from an HttpError's status ("Network"
  // otherwise), a ProxyError's kind kept, the cause's message appended
  // unless it is an HttpError. detail replaces the kind's text or "HTTP %s".
  HostedException(unsigned category, const plat::Exception& cause, const char* detail = nullptr);
  // other under a new category; one without a category becomes a general
  // error of the new one.
  HostedException(unsigned category, const HostedException& other);

  unsigned getCategory() const { return category_; }
  const char* getKind() const { return kind_; }
  const char* getProxyFailureKind() const { return proxyKind_; }

  static const char* categoryName(unsigned category);
  // The kind of an HTTP status; "Network" for -1.
  static plat::String httpKind(int status);

private:
  void init(unsigned category, const char* kind);

  unsigned category_ = 0;
  char kind_[32];
  char proxyKind_[64];
};

class HostedBootstrapException : public HostedException {
public:
  explicit HostedBootstrapException(const plat::Exception& cause);
  // A null detail is the bootstrap kind's default text.
  HostedBootstrapException(const char* kind, const char* detail);
};

} // namespace hosted
