// A parsed X.509 certificate with everything the TLS layer asks of it
// already extracted: its DER and the DER of its names, the names as text and
// as attributes, alternative names, key usages, validity and public key.
//
// Certificates are immutable once made and are always held through shared
// handles (SslCertificatePtr); they are used on the event-loop thread.
// Construction failures are SslException code 0 with the library's text,
// or plat::Exception "bad UTF-8 in certificate" for a name that is no
// valid UTF-8. The implementation is MbedTlsCertificate.
#pragma once

#include <memory>
#include <vector>

#include "plat/MBuf.h"
#include "plat/NonCopyable.h"
#include "plat/String.h"
#include "plat/Time.h"
#include "ssl/Forward.h"

namespace crypto {
class RsaPublicKey;
class EcKey;
} // namespace crypto

namespace ssl {

// One name attribute: its OID in dotted text and its value.
struct NameAttribute {
  plat::String oid;
  plat::String value;
};

// One subject alternative name.
struct AltName {
  enum Kind { kDns = 0, kIp = 1, kEmail = 2, kOther = 3 };
  int kind;
  // The DNS name, the numeric address text, the e-mail address, or for an
  // otherName its type OID.
  plat::String value;
  // otherName: "#" and the hexadecimal of its value; "" for the rest.
  plat::String extra;
};

class SslCertificate : private plat::NonCopyable {
public:
  enum KeyKind { kRsaKey = 0, kEcKey = 1, kOtherKey = 2 };

  // Key usage bits as in the X.509 KeyUsage bit string (bit 0 is 1).
  static constexpr unsigned kDigitalSignature = 1;
  static constexpr unsigned kKeyEncipherment = 4;

  // --- Making certificates (MbedTlsCertificate)
  // The first CERTIFICATE block of a NUL-terminated PEM text.
  static SslCertificatePtr createFromPem(const char* pem);
  static SslCertificatePtr createFromDer(int length, const unsigned char* der);

  virtual ~SslCertificate();

  // --- Key material
  // "Certificate public key is not an RSA key" for another key.
  virtual std::unique_ptr<crypto::RsaPublicKey> rsaPublicKey() const = 0;
  // "Certificate public key is not an ECDSA key", "Unsupported curve".
  virtual std::unique_ptr<crypto::EcKey> ecPublicKey() const = 0;

  // --- Checks
  // Against the wall clock (plat::getTime): code 2 after not-after, code 1
  // before not-before.
  virtual void checkValidity() const;
  void checkValidityAt(plat::Time now) const;
  // http(s) and ldap(s) URLs of the CRL distribution points; a list with
  // none of them throws code 10 with the reasons as detail.
  virtual std::vector<plat::String> crlUrls() const = 0;
  // http(s) OCSP locations of the authority-information-access extension.
  virtual std::vector<plat::String> ocspUrls() const = 0;

  // --- What was extracted
  int keyKind() const { return keyKind_; }
  const plat::MBuf<unsigned char>& der() const { return der_; }
  const plat::String& issuerName() const { return issuerName_; }
  const plat::String& subjectName() const { return subjectName_; }
  const plat::MBuf<unsigned char>& issuerDer() const { return issuerDer_; }
  const plat::MBuf<unsigned char>& subjectDer() const { return subjectDer_; }
  bool isSelfIssued() const;
  plat::Time notBefore() const { return notBefore_; }
  plat::Time notAfter() const { return notAfter_; }
  // The SubjectPublicKeyInfo, a part of der().
  plat::MBuf<unsigned char> publicKeyDer() const;
  // Last attribute of the name first.
  const std::vector<NameAttribute>& issuerAttributes() const { return issuerAttrs_; }
  const std::vector<NameAttribute>& subjectAttributes() const { return subjectAttrs_; }
  const std::vector<AltName>& altNames() const { return altNames_; }
  const std::vector<plat::String>& extKeyUsages() const { return extKeyUsages_; }
  bool hasExtKeyUsageExtension() const { return hasExtKeyUsageExt_; }
  bool hasExtKeyUsage(const char* oid) const;
  bool hasKeyUsageExtension() const { return hasKeyUsage_; }
  unsigned keyUsage() const { return keyUsage_; }

  // SHA-1 of the DER (20 bytes).
  plat::MBuf<unsigned char> fingerprint() const;
  // The commonName, else OU, O, e-mail attribute, else the first e-mail
  // alternative name, else the first attribute; "" without attributes.
  plat::String displayName() const;

  // The first value with that OID, or null.
  static const char* getAttribute(const std::vector<NameAttribute>& attributes, const char* oid);
  static std::vector<plat::String> getAttributeValues(const std::vector<NameAttribute>& attributes,
                                                      const char* oid);

protected:
  SslCertificate() = default;

  int keyKind_ = kOtherKey;
  plat::MBuf<unsigned char> der_;
  plat::String issuerName_;
  plat::String subjectName_;
  plat::MBuf<unsigned char> issuerDer_;
  plat::MBuf<unsigned char> subjectDer_;
  plat::Time notBefore_ = 0;
  plat::Time notAfter_ = 0;
  // The SubjectPublicKeyInfo inside der_.
  int publicKeyOffset_ = 0;
  int publicKeyLength_ = 0;
  std::vector<NameAttribute> issuerAttrs_;
  std::vector<NameAttribute> subjectAttrs_;
  std::vector<AltName> altNames_;
  std::vector<plat::String> extKeyUsages_;
  bool hasExtKeyUsageExt_ = false;
  bool hasKeyUsage_ = false;
  unsigned keyUsage_ = 0;
};

// Every CERTIFICATE block of a PEM text (which need not end in a NUL). A
// block that cannot be parsed is logged and skipped; a certificate that is
// not valid now is logged and kept.
std::vector<SslCertificatePtr> parsePemCertificates(int length, const char* text);

} // namespace ssl
