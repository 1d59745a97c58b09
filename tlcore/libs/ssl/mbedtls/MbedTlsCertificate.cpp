#include "ssl/mbedtls/MbedTlsCertificate.h"

#include <arpa/inet.h>
#include <string.h>

#include <mbedtls/asn1.h>
#include <mbedtls/error.h>
#include <mbedtls/oid.h>
#include <mbedtls/pem.h>

#include "crypto/EcKey.h"
#include "crypto/MbedTlsException.h"
#include "crypto/RsaKey.h"
#include "plat/DString.h"
#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rdr/MemInStream.h"
#include "ssl/SslException.h"

namespace ssl {

namespace {

// Extension OIDs (DER content).
const unsigned char kOidSubjectAltName[] = {0x55, 0x1d, 0x11};
const unsigned char kOidCrlDistributionPoints[] = {0x55, 0x1d, 0x1f};
const unsigned char kOidAuthorityInfoAccess[] = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01};
const unsigned char kOidAdOcsp[] = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x01};

// General-name tags inside the extensions.
constexpr unsigned char kTagOtherName = 0xa0;
constexpr unsigned char kTagRfc822Name = 0x81;
constexpr unsigned char kTagDnsName = 0x82;
constexpr unsigned char kTagUri = 0x86;
constexpr unsigned char kTagIpAddress = 0x87;

bool isTextString(int tag)
{
  return tag == MBEDTLS_ASN1_UTF8_STRING || tag == MBEDTLS_ASN1_PRINTABLE_STRING ||
         tag == MBEDTLS_ASN1_IA5_STRING;
}

bool hasNul(const mbedtls_x509_buf& b)
{
  return memchr(b.p, 0, b.len) != nullptr;
}

plat::String oidText(const mbedtls_x509_buf& oid)
{
  char buf[128];
  if (mbedtls_oid_get_numeric_string(buf, sizeof(buf), &oid) < 0)
    return plat::String("unsupported OID");
  return plat::String(buf);
}

void appendHex(plat::DString& out, const unsigned char* p, size_t len)
{
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < len; i++) {
    char pair[2] = {kDigits[p[i] >> 4], kDigits[p[i] & 15]};
    out.append(pair, 2);
  }
}

void appendEscaped(plat::DString& out, const mbedtls_x509_buf& v)
{
  const char* s = reinterpret_cast<const char*>(v.p);
  if (!plat::isValidUtf8(s, s + v.len))
    throw plat::Exception("bad UTF-8 in certificate");
  for (size_t i = 0; i < v.len; i++) {
    char c = s[i];
    bool escape = strchr("\"+,;<>\\", c) != nullptr || (i == 0 && (c == ' ' || c == '#')) ||
                  (i == v.len - 1 && c == ' ');
    if (escape)
      out.append("\\", 1);
    out.append(&c, 1);
  }
}

// Reads DER elements out of one extension value; malformed input throws
// SslException code 0 with the library's text.
class DerReader {
public:
  DerReader(const unsigned char* p, size_t len) : p_(const_cast<unsigned char*>(p)), end_(p_ + len)
  {
  }
  bool atEnd() const { return p_ >= end_; }
  // The next element of the given tag; its content.
  DerReader expect(int tag)
  {
    size_t len;
    check(mbedtls_asn1_get_tag(&p_, end_, &len, tag));
    DerReader inner(p_, len);
    p_ += len;
    return inner;
  }
  // The next element of any tag.
  DerReader any(unsigned char* tag)
  {
    if (p_ >= end_)
      check(MBEDTLS_ERR_ASN1_OUT_OF_DATA);
    *tag = *p_++;
    size_t len;
    check(mbedtls_asn1_get_len(&p_, end_, &len));
    DerReader inner(p_, len);
    p_ += len;
    return inner;
  }
  bool peek(unsigned char tag) const { return p_ < end_ && *p_ == tag; }
  const unsigned char* data() const { return p_; }
  size_t size() const { return end_ - p_; }
  bool equals(const unsigned char* what, size_t len) const
  {
    return size() == len && memcmp(p_, what, len) == 0;
  }

private:
  static void check(int ret)
  {
    if (ret)
      throw SslException(0, mbedTlsErrorText(ret).str());
  }
  unsigned char* p_;
  unsigned char* end_;
};

// The value of the extension with that OID; false when absent.
bool findExtension(const mbedtls_x509_crt& crt, const unsigned char* oid, size_t oidLen,
                   DerReader* value)
{
  if (!crt.v3_ext.p || !crt.v3_ext.len)
    return false;
  DerReader all = DerReader(crt.v3_ext.p, crt.v3_ext.len)
                      .expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (!all.atEnd()) {
    DerReader ext = all.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    DerReader id = ext.expect(MBEDTLS_ASN1_OID);
    if (ext.peek(MBEDTLS_ASN1_BOOLEAN))
      ext.expect(MBEDTLS_ASN1_BOOLEAN);
    DerReader v = ext.expect(MBEDTLS_ASN1_OCTET_STRING);
    if (id.equals(oid, oidLen)) {
      *value = v;
      return true;
    }
  }
  return false;
}

bool hasPrefix(const DerReader& r, const char* prefix)
{
  size_t n = strlen(prefix);
  return r.size() >= n && memcmp(r.data(), prefix, n) == 0;
}

plat::String text(const DerReader& r)
{
  return plat::String(reinterpret_cast<const char*>(r.data()), (int)r.size());
}

std::vector<NameAttribute> attributes(const mbedtls_x509_name* name)
{
  std::vector<NameAttribute> out;
  for (; name; name = name->next) {
    if (!name->oid.p || !isTextString(name->val.tag) || hasNul(name->val))
      continue;
    out.push_back({oidText(name->oid),
                   plat::String(reinterpret_cast<const char*>(name->val.p), (int)name->val.len)});
  }
  return std::vector<NameAttribute>(out.rbegin(), out.rend());
}

std::vector<AltName> readAltNames(const mbedtls_x509_crt& crt)
{
  std::vector<AltName> out;
  DerReader ext(nullptr, 0);
  if (!findExtension(crt, kOidSubjectAltName, sizeof(kOidSubjectAltName), &ext))
    return out;
  DerReader names = ext.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (!names.atEnd()) {
    unsigned char tag;
    DerReader v = names.any(&tag);
    bool nul = memchr(v.data(), 0, v.size()) != nullptr;
    switch (tag) {
    case kTagRfc822Name:
      if (!nul)
        out.push_back({AltName::kEmail, text(v), plat::String("")});
      break;
    case kTagDnsName:
      if (!nul)
        out.push_back({AltName::kDns, text(v), plat::String("")});
      break;
    case kTagIpAddress:
      if (v.size() == 4 || v.size() == 16) {
        char buf[INET6_ADDRSTRLEN];
        inet_ntop(v.size() == 4 ? AF_INET : AF_INET6, v.data(), buf, sizeof(buf));
        out.push_back({AltName::kIp, plat::String(buf), plat::String("")});
      }
      break;
    case kTagOtherName: {
      DerReader id = v.expect(MBEDTLS_ASN1_OID);
      mbedtls_x509_buf oid = {MBEDTLS_ASN1_OID, id.size(), const_cast<unsigned char*>(id.data())};
      plat::DString extra;
      extra.append("#", 1);
      appendHex(extra, v.data(), v.size());
      out.push_back({AltName::kOther, oidText(oid), extra.takeString()});
      break;
    }
    default:
      break;
    }
  }
  return out;
}

// X.509 KeyUsage bit n (the library keeps the string's bytes low first) as
// 1 << n.
unsigned keyUsageBits(unsigned libraryBits)
{
  unsigned out = 0;
  for (int n = 0; n < 16; n++)
    if ((libraryBits >> (8 * (n / 8))) & (0x80u >> (n % 8)))
      out |= 1u << n;
  return out;
}

} // namespace

plat::String mbedTlsErrorText(int code)
{
  char buf[256];
  mbedtls_strerror(code, buf, sizeof(buf));
  return plat::String(buf);
}

crypto::EcKey::Curve ecCurveOf(mbedtls_ecp_group_id id)
{
  switch (id) {
  case MBEDTLS_ECP_DP_SECP224R1:
    return crypto::EcKey::P224;
  case MBEDTLS_ECP_DP_SECP256R1:
    return crypto::EcKey::P256;
  case MBEDTLS_ECP_DP_SECP384R1:
    return crypto::EcKey::P384;
  case MBEDTLS_ECP_DP_SECP521R1:
    return crypto::EcKey::P521;
  default:
    throw plat::Exception("Unsupported curve");
  }
}

int keyKindOf(const mbedtls_pk_context& pk)
{
  switch (mbedtls_pk_get_type(&pk)) {
  case MBEDTLS_PK_RSA:
    return SslCertificate::kRsaKey;
  case MBEDTLS_PK_ECKEY:
  case MBEDTLS_PK_ECDSA:
    return SslCertificate::kEcKey;
  default:
    return SslCertificate::kOtherKey;
  }
}

bool x509TimeToTicks(const mbedtls_x509_time& t, plat::Time* out)
{
  return plat::dateToTime(out, t.year, t.mon, t.day, t.hour, t.min, t.sec);
}

plat::String distinguishedName(const mbedtls_x509_name* name)
{
  struct Piece {
    const mbedtls_x509_name* attr;
    bool mergedWithNext;
  };
  std::vector<Piece> pieces;
  for (; name; name = name->next)
    if (name->oid.p)
      pieces.push_back({name, name->next_merged != 0});
  plat::DString out;
  for (size_t i = pieces.size(); i-- > 0;) {
    const mbedtls_x509_name* a = pieces[i].attr;
    if (i + 1 < pieces.size())
      out.append(pieces[i].mergedWithNext ? "+" : ",", 1);
    const char* shortName = nullptr;
    if (mbedtls_oid_get_attr_short_name(&a->oid, &shortName) == 0 && shortName)
      out.append(shortName);
    else
      out.append(oidText(a->oid).str());
    out.append("=", 1);
    if (isTextString(a->val.tag) && !hasNul(a->val)) {
      appendEscaped(out, a->val);
    } else {
      out.append("#", 1);
      appendHex(out, a->val.p, a->val.len);
    }
  }
  return out.takeString();
}

SslCertificatePtr SslCertificate::createFromPem(const char* pem)
{
  mbedtls_pem_context ctx;
  mbedtls_pem_init(&ctx);
  size_t used = 0;
  int ret =
      mbedtls_pem_read_buffer(&ctx, "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----",
                              reinterpret_cast<const unsigned char*>(pem), nullptr, 0, &used);
  if (ret) {
    mbedtls_pem_free(&ctx);
    throw SslException(0, mbedTlsErrorText(ret).str());
  }
  try {
    SslCertificatePtr cert = createFromDer((int)ctx.buflen, ctx.buf);
    mbedtls_pem_free(&ctx);
    return cert;
  } catch (...) {
    mbedtls_pem_free(&ctx);
    throw;
  }
}

SslCertificatePtr SslCertificate::createFromDer(int length, const unsigned char* der)
{
  return SslCertificatePtr(new MbedTlsCertificate(length, der));
}

MbedTlsCertificate::MbedTlsCertificate(int length, const unsigned char* der)
{
  mbedtls_x509_crt_init(&crt_);
  try {
    int ret = mbedtls_x509_crt_parse_der(&crt_, der, length < 0 ? 0 : (size_t)length);
    if (ret)
      throw SslException(0, mbedTlsErrorText(ret).str());
    der_.assign(crt_.raw.p, (int)crt_.raw.len);
    issuerName_ = distinguishedName(&crt_.issuer);
    subjectName_ = distinguishedName(&crt_.subject);
    issuerDer_.assign(crt_.issuer_raw.p, (int)crt_.issuer_raw.len);
    subjectDer_.assign(crt_.subject_raw.p, (int)crt_.subject_raw.len);

    // The key as the library writes it must be the one inside the DER.
    size_t room = crt_.raw.len + 64;
    plat::MBuf<unsigned char> buf((int)room);
    int n = mbedtls_pk_write_pubkey_der(&crt_.pk, buf.data(), room);
    if (n < 0)
      throw crypto::MbedTlsException("MbedTls error", n);
    const unsigned char* key = buf.data() + room - n;
    const void* at = memmem(der_.data(), der_.length(), key, n);
    if (!at)
      throw SslException(0, "key not substring");
    publicKeyOffset_ = (int)(static_cast<const unsigned char*>(at) - der_.data());
    publicKeyLength_ = n;

    issuerAttrs_ = attributes(&crt_.issuer);
    subjectAttrs_ = attributes(&crt_.subject);
    if (!x509TimeToTicks(crt_.valid_from, &notBefore_) ||
        !x509TimeToTicks(crt_.valid_to, &notAfter_))
      throw SslException(0);

    if (crt_.ext_types & MBEDTLS_X509_EXT_KEY_USAGE) {
      hasKeyUsage_ = true;
      keyUsage_ = keyUsageBits(crt_.key_usage);
    }
    if (crt_.ext_types & MBEDTLS_X509_EXT_EXTENDED_KEY_USAGE) {
      hasExtKeyUsageExt_ = true;
      for (const mbedtls_x509_sequence* s = &crt_.ext_key_usage; s && s->buf.p; s = s->next)
        extKeyUsages_.push_back(oidText(s->buf));
    }
    altNames_ = readAltNames(crt_);
    keyKind_ = keyKindOf(crt_.pk);
  } catch (...) {
    mbedtls_x509_crt_free(&crt_);
    throw;
  }
}

MbedTlsCertificate::~MbedTlsCertificate()
{
  mbedtls_x509_crt_free(&crt_);
}

std::unique_ptr<crypto::RsaPublicKey> MbedTlsCertificate::rsaPublicKey() const
{
  if (mbedtls_pk_get_type(&crt_.pk) != MBEDTLS_PK_RSA)
    throw plat::Exception("Certificate public key is not an RSA key");
  const mbedtls_rsa_context* rsa = mbedtls_pk_rsa(crt_.pk);
  // The interchange form: bit count, then N and E in the modulus's size.
  int bits = (int)mbedtls_pk_get_bitlen(&crt_.pk);
  int bytes = (bits + 7) / 8;
  plat::MBuf<unsigned char> form(4 + 2 * bytes);
  unsigned char* p = form.data();
  p[0] = bits >> 24;
  p[1] = bits >> 16;
  p[2] = bits >> 8;
  p[3] = bits;
  if (mbedtls_mpi_write_binary(&rsa->N, p + 4, bytes) ||
      mbedtls_mpi_write_binary(&rsa->E, p + 4 + bytes, bytes))
    throw crypto::MbedTlsException(0, "Certificate RSA key does not fit");
  auto key = std::make_unique<crypto::RsaPublicKey>();
  rdr::MemInStream in(form.data(), form.length());
  key->read(in, crypto::RsaExponent::Fixed);
  return key;
}

std::unique_ptr<crypto::EcKey> MbedTlsCertificate::ecPublicKey() const
{
  mbedtls_pk_type_t type = mbedtls_pk_get_type(&crt_.pk);
  if (type != MBEDTLS_PK_ECKEY && type != MBEDTLS_PK_ECDSA)
    throw plat::Exception("Certificate public key is not an ECDSA key");
  const mbedtls_ecp_keypair* ec = mbedtls_pk_ec(crt_.pk);
  auto key = std::make_unique<crypto::EcKey>(ecCurveOf(ec->grp.id));
  unsigned char form[4 + 1 + 256] = {0xff, 0xfe, 0xcd, 0x5a};
  size_t len = 0;
  int ret = mbedtls_ecp_point_write_binary(&ec->grp, &ec->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &len,
                                           form + 5, 256);
  PLAT_ASSERT(!ret && len < 256);
  form[4] = (unsigned char)len;
  rdr::MemInStream in(form, (int)(5 + len));
  key->readPublic(in);
  return key;
}

std::vector<plat::String> MbedTlsCertificate::ocspUrls() const
{
  std::vector<plat::String> out;
  DerReader ext(nullptr, 0);
  if (!findExtension(crt_, kOidAuthorityInfoAccess, sizeof(kOidAuthorityInfoAccess), &ext))
    return out;
  DerReader all = ext.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (!all.atEnd()) {
    DerReader desc = all.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    DerReader method = desc.expect(MBEDTLS_ASN1_OID);
    unsigned char tag;
    DerReader location = desc.any(&tag);
    if (method.equals(kOidAdOcsp, sizeof(kOidAdOcsp)) && tag == kTagUri &&
        (hasPrefix(location, "http://") || hasPrefix(location, "https://")))
      out.push_back(text(location));
  }
  return out;
}

std::vector<plat::String> MbedTlsCertificate::crlUrls() const
{
  std::vector<plat::String> out;
  DerReader ext(nullptr, 0);
  if (!findExtension(crt_, kOidCrlDistributionPoints, sizeof(kOidCrlDistributionPoints), &ext))
    return out;
  bool relativeName = false, anyUri = false, allReasons = true, allIssuers = true;
  DerReader points = ext.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
  while (!points.atEnd()) {
    DerReader point = points.expect(MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE);
    bool reasons = false, issuer = false;
    while (!point.atEnd()) {
      unsigned char tag;
      DerReader field = point.any(&tag);
      if (tag == 0xa0) { // distributionPoint
        unsigned char nameTag;
        DerReader name = field.any(&nameTag);
        if (nameTag == 0xa1) {
          relativeName = true;
          continue;
        }
        if (nameTag != 0xa0)
          continue;
        while (!name.atEnd()) {
          unsigned char gnTag;
          DerReader gn = name.any(&gnTag);
          if (gnTag != kTagUri)
            continue;
          anyUri = true;
          for (const char* scheme : {"http://", "https://", "ldap://", "ldaps://"})
            if (hasPrefix(gn, scheme)) {
              out.push_back(text(gn));
              break;
            }
        }
      } else if (tag == 0x81) {
        reasons = true;
      } else if (tag == 0xa2) {
        issuer = true;
      }
    }
    allReasons = allReasons && reasons;
    allIssuers = allIssuers && issuer;
  }
  if (!out.empty())
    return out;
  plat::DString detail;
  auto add = [&](bool applies, const char* reason) {
    if (!applies)
      return;
    if (detail.length())
      detail.append(", ");
    detail.append(reason);
  };
  add(relativeName, "nameRelativeToCRLIssuer given");
  add(!anyUri, "no URLs specifying the CRL given");
  add(allReasons, "no CRL found with all reasons");
  add(allIssuers, "no CRL with matching issuer given");
  throw SslException(10, detail.length() ? detail.get() : nullptr);
}

} // namespace ssl
