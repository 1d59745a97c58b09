#include "ssl/SslCertificate.h"

#include <string.h>

#include "crypto/Sha.h"
#include "plat/Log.h"
#include "ssl/SslException.h"

namespace ssl {

namespace {

plat::LogSrc vlog("SslCertificate");

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

const char* findText(const char* from, const char* end, const char* what)
{
  return static_cast<const char*>(memmem(from, end - from, what, strlen(what)));
}

void logBadCert(const plat::Exception& e)
{
  char text[plat::Exception::kMessageSize];
  vlog.info("Bad cert in PEM file: %s", e.formatDisplay(text));
}

} // namespace

SslCertificate::~SslCertificate() = default;

void SslCertificate::checkValidity() const
{
  checkValidityAt(plat::getTime());
}

void SslCertificate::checkValidityAt(plat::Time now) const
{
  if (now > notAfter_)
    throw SslException(2);
  if (now < notBefore_)
    throw SslException(1);
}

bool SslCertificate::isSelfIssued() const
{
  return issuerDer_.length() == subjectDer_.length() &&
         memcmp(issuerDer_.data(), subjectDer_.data(), issuerDer_.length()) == 0;
}

plat::MBuf<unsigned char> SslCertificate::publicKeyDer() const
{
  return plat::MBuf<unsigned char>(der_.data() + publicKeyOffset_, publicKeyLength_);
}

bool SslCertificate::hasExtKeyUsage(const char* oid) const
{
  for (const plat::String& u : extKeyUsages_)
    if (strcmp(u.str(), oid) == 0)
      return true;
  return false;
}

plat::MBuf<unsigned char> SslCertificate::fingerprint() const
{
  plat::MBuf<unsigned char> out;
  crypto::Sha::digest(160, der_.length(), der_.data(), out, true);
  return out;
}

plat::String SslCertificate::displayName() const
{
  static const char* const kOids[] = {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"};
  for (const char* oid : kOids)
    if (const char* v = getAttribute(subjectAttrs_, oid))
      return plat::String(v);
  for (const AltName& a : altNames_)
    if (a.kind == AltName::kEmail)
      return a.value;
  if (!subjectAttrs_.empty())
    return subjectAttrs_.front().value;
  return plat::String("");
}

const char* SslCertificate::getAttribute(const std::vector<NameAttribute>& attributes,
                                         const char* oid)
{
  for (const NameAttribute& a : attributes)
    if (strcmp(a.oid.str(), oid) == 0)
      return a.value.str();
  return nullptr;
}

std::vector<plat::String>
SslCertificate::getAttributeValues(const std::vector<NameAttribute>& attributes, const char* oid)
{
  std::vector<plat::String> out;
  for (const NameAttribute& a : attributes)
    if (strcmp(a.oid.str(), oid) == 0)
      out.push_back(a.value);
  return out;
}

std::vector<SslCertificatePtr> parsePemCertificates(int length, const char* text)
{
  std::vector<SslCertificatePtr> out;
  if (length <= 0)
    return out;
  const char* end = text + length;
  const char* p = text;
  while (p < end) {
    const char* begin = findText(p, end, kBegin);
    if (!begin)
      break;
    const char* stop = findText(begin + strlen(kBegin), end, kEnd);
    if (!stop)
      break;
    // A block that lost its END line ends where the next one begins: it
    // fails alone and the next block is read whole.
    for (const char* next; (next = findText(begin + 1, stop, kBegin)) != nullptr;) {
      plat::String damaged(begin, (int)(next - begin));
      try {
        SslCertificate::createFromPem(damaged.str());
      } catch (const plat::Exception& e) {
        logBadCert(e);
      }
      begin = next;
    }
    stop += strlen(kEnd);
    plat::String block(begin, (int)(stop - begin));
    try {
      SslCertificatePtr cert = SslCertificate::createFromPem(block.str());
      out.push_back(cert);
      cert->checkValidity();
    } catch (const plat::Exception& e) {
      logBadCert(e);
    }
    p = stop;
    while (p < end && (*p == '\r' || *p == '\n'))
      p++;
  }
  return out;
}

} // namespace ssl
