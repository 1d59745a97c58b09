#include "hosted/BootstrapConfig.h"

#include <stdint.h>
#include <string.h>
#include <strings.h>

#include "crypto/RsaKey.h"
#include "hosted/Bed.h"
#include "hosted/HostedException.h"
#include "io/Endpoint.h"
#include "plat/Log.h"
#include "plat/calendar.h"
#include "ssl/SslCertificate.h"
#include "ssl/SslTrustManager.h"
#include "ssl/SslVerifier.h"

namespace hosted {

namespace {

plat::LogSrc vlog("BootstrapConfig");

constexpr const char* kSignedData = "any/signed-data";
constexpr const char* kSignature = "any/signed-data-signature";
constexpr const char* kAlgorithm = "zarn/rsapss-sha256";
constexpr plat::Time kValidSlack = 3600 * plat::kTicksPerSecond;

[[noreturn]] void fail(const char* detail)
{
  throw HostedException(HostedException::kBootstrap, "GeneralError", detail);
}

[[noreturn]] void failFmt(const char* fmt, const char* arg)
{
  plat::String text = plat::format(fmt, arg);
  fail(text.str());
}

enum class Http { Allowed, Refused };

void checkUri(const char* uri, Http http)
{
  io::EndpointUri parts(uri);
  if (!parts.query.isNull() || !parts.fragment.isNull())
    failFmt("Invalid URI query: %s", uri);
  const char* scheme = parts.scheme.get();
  if (!scheme || (strcmp(scheme, "https") != 0 && (http == Http::Refused || strcmp(scheme, "http") != 0)))
    failFmt("Invalid URI scheme: %s", uri);
  plat::String host;
  int port = 0;
  io::parseEndpointName(parts.hostPort.str(), host, &port, 8080, 0);
}

} // namespace

BootstrapConfig::BootstrapConfig(int length, const void* body, ssl::SslTrustManager* trustManager,
                                 const char* url, Signature signature)
{
  try {
    decode(length, body, trustManager, url, signature);
  } catch (const HostedException&) {
    throw;
  } catch (const BedException& e) {
    throw HostedException(HostedException::kBootstrap, "BED", e.str());
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::kBootstrap, "GeneralError", e.str());
  }
}

void BootstrapConfig::decode(int length, const void* body, ssl::SslTrustManager* trustManager,
                             const char* url, Signature signature)
{
  BedReader reader(length, body);
  BedValuePtr root = decodeBed(reader, nullptr, true);
  const BedMap& doc = root->asMap();
  const BedMap& record = doc.get(kSignedData).asMap();

  const BedMap::Entry* sigEntry = doc.find(kSignature);
  const BedOpaque* sig = sigEntry && sigEntry->value ? &sigEntry->value->asOpaque() : nullptr;
  // Repeat indexes count from the document's start: signed bytes mean what
  // the signer meant only when no text comes before them.
  if (sig && sig->length() > 0 && plat::strCmpNull(doc.begin()->key(), kSignedData) != 0)
    fail("Signed data is not the first entry");

  readRecord(record);

  signed_ = sig && sig->length() > 0;
  if (!signed_) {
    if (signature == Signature::Required)
      fail("Unable to find signature for Bootstrap");
    return;
  }
  if (!trustManager || !url)
    fail("Bootstrap signature unverifiable");
  verify(length, body, record, *sig, *trustManager, url);
}

void BootstrapConfig::readRecord(const BedMap& record)
{
  for (const BedValuePtr& p : record.getSeq("any/parameters")) {
    const BedMap& m = p->asMap();
    parameters_[plat::String(m.get("any/name").asString().value())] =
        plat::String(m.get("any/value").asString().value());
  }
  validFrom_ = record.get("any/valid-from").asTime().value();
  for (const BedValuePtr& u : record.get("btp/bootstrap-uris").asSeq()) {
    bootstrapUris_.emplace_back(u->asString().value());
    checkUri(bootstrapUris_.back().str(), Http::Allowed);
  }
  int64_t count = record.get("btp/config-count").asInt().value();
  if (count < 1)
    fail("Invalid \"btp/config-count\", must be >= 1");
  if (count > kMaxConfigCount)
    fail(plat::format("Invalid \"btp/config-count\", must be <= %d", kMaxConfigCount).str());
  configCount_ = (int)count;
  const char* discovery = record.get("btp/initial-discovery-uri").asString().value();
  if (*discovery) {
    checkUri(discovery, Http::Refused);
    discoveryUris_.emplace_back(discovery);
  }
  maxAge_ = plat::saturateTicks((__int128)record.get("btp/max-age-secs").asInt().value() *
                                plat::kTicksPerSecond);
  int64_t backoff = record.get("btp/max-backoff-secs").asInt().value();
  maxBackoffSecs_ = backoff >= INT32_MAX ? INT32_MAX : backoff < 1 ? 0 : (uint32_t)backoff;
}

void BootstrapConfig::verify(int length, const void* body, const BedMap& record,
                             const BedOpaque& signature, ssl::SslTrustManager& trustManager,
                             const char* url)
{
  const char* pem = getParameter(record, "certificates");
  std::vector<ssl::SslCertificatePtr> certs;
  if (pem)
    certs = ssl::parsePemCertificates((int)strlen(pem), pem);
  if (certs.empty())
    throw HostedException(HostedException::kBootstrap, nullptr, "Package has no issuing certificate");

  ssl::SslCertificatePtr signer = certs.front();
  certs.erase(certs.begin());
  std::vector<ssl::SslCertificatePtr> chain;
  try {
    chain = trustManager.verifyChain(signer.get(), certs, plat::getTime());
  } catch (const plat::Exception& e) {
    vlog.info("Bootstrap not issued by HostedConfig: %s", e.str());
    throw HostedException(HostedException::kBootstrap, nullptr, "Untrusted Bootstrap certificate");
  }
  try {
    io::EndpointUri parts(url);
    ssl::SslPublicHttpsVerifier::instance().verify(chain, parts.hostPort.str());
  } catch (const plat::Exception& e) {
    vlog.info("Bootstrap not valid for URL: %s", e.str());
    throw HostedException(HostedException::kBootstrap, nullptr,
                          "Bootstrap certificate not valid for URL");
  }

  BedSpan signedBytes = findBedKey(length, body, kSignedData);
  const char* algorithm = getParameter(record, "algorithm");
  if (!algorithm || strcasecmp(algorithm, kAlgorithm) != 0)
    fail("Signed with unsupported algorithm");
  try {
    std::unique_ptr<crypto::RsaPublicKey> key = signer->rsaPublicKey();
    key->verifyPss(signature.length(), signature.data(), signedBytes.length, signedBytes.data, 256,
                   crypto::PssSalt::AnyLength);
  } catch (const plat::Exception&) {
    fail("Invalid signature");
  }
}

const char* BootstrapConfig::getParameter(const BedMap& record, const char* name)
{
  for (const BedValuePtr& p : record.getSeq("any/parameters")) {
    const BedMap& m = p->asMap();
    if (strcmp(m.get("any/name").asString().value(), name) == 0)
      return m.get("any/value").asString().value();
  }
  return nullptr;
}

bool BootstrapConfig::isValidNow() const
{
  return validFrom_ <= plat::addTimeSat(plat::getTime(), kValidSlack);
}

const char* BootstrapConfig::parameter(const char* name) const
{
  auto i = parameters_.find(plat::String(name));
  return i == parameters_.end() ? nullptr : i->second.str();
}

} // namespace hosted
