// A private key read from PEM text (PKCS#1, PKCS#8 or SEC1, optionally
// encrypted), the key of a client identity. It hands its material to the
// crypto key classes on request. Held through SslPrivateKeyPtr; used on the
// event-loop thread. The implementation is MbedTlsPrivateKey.
#pragma once

#include <memory>

#include "plat/NonCopyable.h"
#include "ssl/Forward.h"

namespace crypto {
class RsaPrivateKey;
class EcKey;
} // namespace crypto

namespace ssl {

class SslPrivateKey : private plat::NonCopyable {
public:
  enum KeyKind { kRsaKey = 0, kEcKey = 1, kOtherKey = 2 };

  // An empty handle when the key needs a password that was not given or
  // the password is wrong; other failures throw SslException code 17.
  static SslPrivateKeyPtr createFromPem(const char* pem, const char* password);

  virtual ~SslPrivateKey();

  int keyKind() const { return keyKind_; }
  // "Private key is not an RSA key" for another key.
  virtual std::unique_ptr<crypto::RsaPrivateKey> rsaPrivateKey() const = 0;
  // "Private key is not an ECDSA key", "Unsupported curve".
  virtual std::unique_ptr<crypto::EcKey> ecPrivateKey() const = 0;

protected:
  SslPrivateKey() = default;

  int keyKind_ = kOtherKey;
};

} // namespace ssl
