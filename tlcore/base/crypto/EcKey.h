// Elliptic-curve keys over mbedtls: X25519 and X448 key agreement, and
// deterministic ECDSA (RFC 6979) on the NIST curves P-224 to P-521.
//
// Keys travel in the system's interchange forms (see the read and write
// calls). Reads are incremental like those of the RSA keys: false while
// the stream has not delivered the whole item, progress kept in the key,
// never waiting. Bad input is plat::Exception, library failures
// MbedTlsException; using a key of the wrong kind for an operation that
// the caller controls is a fatal assertion. A single-owner value, used on
// one thread; the private value is wiped when freed.
#pragma once

#include <memory>

#include "plat/MBuf.h"
#include "plat/String.h"
#include "rdr/Forward.h"

namespace crypto {

struct EcKeyImpl;

class EcKey {
public:
  // Stored in this order; Montgomery curves first.
  enum Curve { Curve25519 = 0, Curve448 = 1, P224 = 2, P256 = 3, P384 = 4, P521 = 5 };

  explicit EcKey(Curve curve);
  EcKey(const EcKey& other);
  EcKey& operator=(const EcKey& other);
  ~EcKey();

  Curve curve() const;
  // The size of a Montgomery key or of a Weierstrass field element.
  int keyBytes() const;
  // "EC key with curve %s".
  plat::String description() const;
  // Same curve and the same public point.
  bool operator==(const EcKey& other) const;
  bool operator!=(const EcKey& other) const { return !(*this == other); }
  // Forgets the private value and the public point.
  void clear();

  // --- Interchange forms
  // Montgomery: a length byte, then the u-coordinate little-endian.
  // Weierstrass: FF FE CD 5A, a length byte, then the SEC1 point
  // (uncompressed). raw, when given, receives the bytes as read.
  bool readPublic(rdr::InStream& in, plat::MBuf<unsigned char>* raw = nullptr);
  void writePublic(rdr::OutStream& out) const;
  // Weierstrass only: the uncompressed point with no prefix.
  void writeRawPublic(rdr::OutStream& out) const;
  // A 16-bit length, then the private value big-endian; the public point
  // is derived from it.
  bool readPrivate(rdr::InStream& in);
  void writePrivate(rdr::OutStream& out) const;

  // --- Making keys
  void generate();
  // The other key's public point (same curve); no private value.
  void copyPublicFrom(const EcKey& pubKey);
  // Curve25519 only: a private value from a 32-byte seed, put into the
  // curve's scalar range by shifting (see the source), and its public point.
  void setFromNcwSeed(const plat::MBuf<unsigned char>& seed, bool shift);

  // --- Operations
  // Montgomery curves: the RFC 7748 shared secret (little-endian, secure).
  plat::MBuf<unsigned char> sharedSecret(const EcKey& peerKey);
  // Weierstrass curves: the signature form (16-bit total length, then r
  // and s in equal halves) of the data's digest (224 to 512 bits).
  void sign(rdr::OutStream& out, int length, const void* data, int digestBits);
  // Reads a signature (waiting for it) and checks it: true, or throws.
  bool verify(rdr::InStream& in, int length, const void* data, int digestBits);

private:
  std::unique_ptr<EcKeyImpl> impl_;
};

} // namespace crypto
