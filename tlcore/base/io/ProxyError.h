// The exception of every proxy failure: a kind compared by its text, the
// proxy it happened at, and a copy of the error that led to it.
//
// The cause is copied (keeping the kinds userMessage tells apart), so the
// error stays whole after the caller's original is gone, for instance
// after the failure callback it was passed to has returned. Copies share
// the immutable cause. A value; any thread.
#pragma once

#include <memory>

#include "plat/Exception.h"
#include "plat/String.h"

namespace io {

class ProxyError : public plat::Exception {
public:
  // The eight kinds; compare kinds with strcmp, never by address.
  static const char* const kBadConnection;
  static const char* const kConnectionError;
  static const char* const kBadProtocol;
  static const char* const kAuthenticationUnsupported;
  static const char* const kAuthenticationRequired;
  static const char* const kAuthenticationFailed;
  static const char* const kConnectFailed;
  static const char* const kConnectDenied;

  // Message "Proxy error via %s: %s (%s)": via, detail (null: the kind's
  // text, or "invalid" for an unknown kind) and the kind. Type "ProxyError".
  ProxyError(const char* kind, const char* via, const char* detail = nullptr);
  ProxyError(const char* kind, const char* via, const char* detail, const plat::Exception& cause);

  const char* getKind() const { return kind_; }
  const char* getVia() const { return via_.str(); }
  bool isKind(const char* kind) const;

  // Keeps a copy of cause, replacing any earlier one.
  void setCause(const plat::Exception& cause);
  // The copy, or null.
  const plat::Exception* getCause() const { return cause_.get(); }

  // The translated "Unable to connect via %1$S: %2$S" with the proxy and
  // the most helpful detail: a disconnect, a connection or lookup failure
  // in words, else fallback, else the cause's message.
  plat::String userMessage(const char* fallback) const;

private:
  char kind_[32];
  plat::String via_;
  std::shared_ptr<const plat::Exception> cause_;
};

} // namespace io
