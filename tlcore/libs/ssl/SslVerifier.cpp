#include "ssl/SslVerifier.h"

#include <string.h>

#include "io/Endpoint.h"
#include "io/IpInfo.h"
#include "ssl/SslException.h"

namespace ssl {

namespace {

const char kServerAuth[] = "1.3.6.1.5.5.7.3.1";
const char kCommonName[] = "2.5.4.3";

struct Label {
  const char* p;
  size_t len;
  bool is(const char* s) const { return strlen(s) == len && memcmp(p, s, len) == 0; }
  bool operator==(const Label& o) const { return len == o.len && memcmp(p, o.p, len) == 0; }
};

std::vector<Label> labels(const char* s)
{
  std::vector<Label> out;
  for (const char* start = s;; s++) {
    if (*s == '.' || !*s) {
      out.push_back({start, (size_t)(s - start)});
      if (!*s)
        return out;
      start = s + 1;
    }
  }
}

// The numeric address of text, or false when it is no numeric address.
bool numericAddress(const char* text, io::IpInfo* out)
{
  try {
    *out = io::IpInfo(text, 0);
    return true;
  } catch (const plat::Exception&) {
    return false;
  }
}

bool sameAddress(const io::IpInfo& a, const io::IpInfo& b)
{
  io::IpInfo::RawAddress x = a.rawAddress(), y = b.rawAddress();
  return x.length == y.length && memcmp(x.data, y.data, x.length) == 0;
}

} // namespace

SslVerifier::~SslVerifier() = default;

bool matchHostName(const char* host, const char* pattern)
{
  if (!*pattern)
    return false;
  std::vector<Label> h = labels(host), p = labels(pattern);
  if (p.size() == 1)
    return p[0].is("localhost") && h.size() == 1 && h[0].is("localhost");
  if (p.size() == 2 && p[0].is("*"))
    return false;
  for (size_t i = 0; i < p.size(); i++) {
    if (!p[i].len)
      return false;
    if (memchr(p[i].p, '*', p[i].len) && (i != 0 || p[i].len != 1))
      return false;
  }
  if (h.size() != p.size())
    return false;
  for (size_t i = 1; i < p.size(); i++)
    if (!(h[i] == p[i]))
      return false;
  return p[0].is("*") ? h[0].len > 0 : h[0] == p[0];
}

SslHostnameVerifier& SslHostnameVerifier::instance()
{
  static SslHostnameVerifier v;
  return v;
}

void SslHostnameVerifier::verify(const std::vector<SslCertificatePtr>& chain,
                                 const char* endpointName)
{
  PLAT_CHECK(chain.size() > 0);
  const SslCertificate& leaf = *chain.front();
  plat::String hostText;
  int port = 0;
  io::parseEndpointName(endpointName, hostText, &port, 443, 0);
  plat::String host = io::unbracketHost(hostText.str());

  std::vector<plat::String> cns =
      SslCertificate::getAttributeValues(leaf.subjectAttributes(), kCommonName);
  const char* cn = cns.size() == 1 ? cns[0].str() : nullptr;

  io::IpInfo address, sanAddress;
  if (numericAddress(host.str(), &address)) {
    for (const AltName& a : leaf.altNames())
      if (a.kind == AltName::kIp && numericAddress(a.value.str(), &sanAddress) &&
          sameAddress(address, sanAddress))
        return;
  } else {
    bool anyDns = false;
    for (const AltName& a : leaf.altNames()) {
      if (a.kind != AltName::kDns)
        continue;
      anyDns = true;
      if (matchHostName(host.str(), a.value.str()))
        return;
    }
    if (!anyDns && cn && matchHostName(host.str(), cn))
      return;
  }
  throw SslException(9);
}

SslPublicUsageVerifier& SslPublicUsageVerifier::instance()
{
  static SslPublicUsageVerifier v;
  return v;
}

void SslPublicUsageVerifier::verify(const std::vector<SslCertificatePtr>& chain, const char*)
{
  PLAT_CHECK(chain.size() > 0);
  const SslCertificate& leaf = *chain.front();
  if (!leaf.hasExtKeyUsage(kServerAuth))
    throw SslException(6, "missing serverAuth ext usage");
  if (leaf.hasKeyUsageExtension() &&
      !(leaf.keyUsage() & (SslCertificate::kDigitalSignature | SslCertificate::kKeyEncipherment)))
    throw SslException(6, "missing digitalSignature/keyEncipherment usage");
  for (size_t i = 1; i + 1 < chain.size(); i++)
    if (chain[i]->hasExtKeyUsageExtension() && !chain[i]->hasExtKeyUsage(kServerAuth))
      throw SslException(6, "missing intermediate serverAuth ext usage");
}

SslPublicHttpsVerifier& SslPublicHttpsVerifier::instance()
{
  static SslPublicHttpsVerifier v;
  return v;
}

void SslPublicHttpsVerifier::verify(const std::vector<SslCertificatePtr>& chain,
                                    const char* endpointName)
{
  SslHostnameVerifier::instance().verify(chain, endpointName);
  SslPublicUsageVerifier::instance().verify(chain, endpointName);
}

} // namespace ssl
