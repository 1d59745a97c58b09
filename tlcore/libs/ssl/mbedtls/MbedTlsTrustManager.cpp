#include "ssl/mbedtls/MbedTlsTrustManager.h"

#include <string.h>

#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>

#include "plat/Log.h"
#include "ssl/SslException.h"
#include "ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl {

namespace {

plat::LogSrc vlog("MbedTlsTrustManager");

void logError(const plat::Exception& e)
{
  char text[plat::Exception::kMessageSize];
  vlog.status("ssl error: %s", e.formatDisplay(text));
}

// Frees a library certificate list on every way out.
struct CrtList {
  CrtList() { mbedtls_x509_crt_init(&head); }
  ~CrtList() { mbedtls_x509_crt_free(&head); }
  CrtList(const CrtList&) = delete;
  CrtList& operator=(const CrtList&) = delete;
  int size() const
  {
    int n = 0;
    for (const mbedtls_x509_crt* c = &head; c && c->raw.p; c = c->next)
      n++;
    return n;
  }
  const mbedtls_x509_crt* last() const
  {
    const mbedtls_x509_crt* c = &head;
    while (c->next)
      c = c->next;
    return c;
  }
  // The DER stays with its certificate object, which outlives the list.
  void add(const SslCertificate& cert)
  {
    int ret = mbedtls_x509_crt_parse_der_nocopy(&head, cert.der().data(), cert.der().length());
    if (ret)
      throw SslException(0, mbedTlsErrorText(ret).str());
  }
  mbedtls_x509_crt head;
};

} // namespace

SslTrustManager::~SslTrustManager() = default;

std::unique_ptr<SslTrustManager> SslTrustManager::create(std::unique_ptr<SslCertLookup> lookup)
{
  return std::make_unique<MbedTlsTrustManager>(std::move(lookup), true);
}

MbedTlsTrustManager::MbedTlsTrustManager(std::unique_ptr<SslCertLookup> lookup, bool strict)
    : strict_(strict), lookup_(std::move(lookup))
{
}

MbedTlsTrustManager::~MbedTlsTrustManager() = default;

const mbedtls_x509_crt_profile* MbedTlsTrustManager::profile() const
{
  return strict_ ? &mbedtls_x509_crt_profile_next : &mbedtls_x509_crt_profile_default;
}

SslCertificatePtr MbedTlsTrustManager::findIssuer(const mbedtls_x509_crt* crt)
{
  return lookup_->find((int)crt->issuer_raw.len, crt->issuer_raw.p);
}

bool MbedTlsTrustManager::gatherTrustedIssuers(const mbedtls_x509_crt* chain,
                                               mbedtls_x509_crt* trusted,
                                               std::vector<SslCertificatePtr>& held)
{
  try {
    std::vector<const mbedtls_x509_crt*> todo;
    for (const mbedtls_x509_crt* c = chain; c && c->raw.p; c = c->next)
      todo.push_back(c);
    for (size_t i = 0; i < todo.size() && held.size() < (size_t)kMaxChain; i++) {
      SslCertificatePtr issuer = findIssuer(todo[i]);
      if (!issuer)
        continue;
      bool known = false;
      for (const SslCertificatePtr& h : held)
        known = known || h == issuer;
      if (known)
        continue;
      int ret =
          mbedtls_x509_crt_parse_der_nocopy(trusted, issuer->der().data(), issuer->der().length());
      if (ret)
        throw SslException(0, mbedTlsErrorText(ret).str());
      held.push_back(issuer);
      const mbedtls_x509_crt* added = trusted;
      while (added->next)
        added = added->next;
      todo.push_back(added);
    }
    return true;
  } catch (const plat::Exception& e) {
    logError(e);
    return false;
  }
}

int MbedTlsTrustManager::verifyCallback(void* self, mbedtls_x509_crt* crt, int depth,
                                        uint32_t* flags)
{
  return static_cast<MbedTlsTrustManager*>(self)->verify(crt, depth, flags);
}

int MbedTlsTrustManager::verify(mbedtls_x509_crt* crt, int depth, uint32_t* flags)
{
  // The library judged validity by the machine's clock; judge it again at
  // the verification time.
  plat::Time now = verifyTime_ ? verifyTime_ : plat::getTime();
  plat::Time from = 0, to = 0;
  *flags &= ~(uint32_t)(MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_FUTURE);
  if (!x509TimeToTicks(crt->valid_to, &to) || now > to)
    *flags |= MBEDTLS_X509_BADCERT_EXPIRED;
  if (!x509TimeToTicks(crt->valid_from, &from) || now < from)
    *flags |= MBEDTLS_X509_BADCERT_FUTURE;
  // The library measures an RSA modulus in whole bytes, so a 2047-bit key
  // would meet a 2048-bit minimum.
  if (mbedtls_pk_get_type(&crt->pk) == MBEDTLS_PK_RSA &&
      mbedtls_mpi_bitlen(&mbedtls_pk_rsa(crt->pk)->N) < profile()->rsa_min_bitlen)
    *flags |= MBEDTLS_X509_BADCERT_BAD_KEY;

  try {
    if (!chain_.empty()) {
      const plat::MBuf<unsigned char>& last = chain_.back()->der();
      if ((size_t)last.length() == crt->raw.len &&
          memcmp(last.data(), crt->raw.p, crt->raw.len) == 0)
        return 0;
    }
    if (depth_ != -1 && depth != depth_ - 1) {
      depth_ = depth;
      if (*flags)
        logFailure(crt, *flags);
      return 0;
    }
    SslCertificatePtr cert(new MbedTlsCertificate((int)crt->raw.len, crt->raw.p));
    chain_.insert(chain_.begin(), cert);
    depth_ = depth;
    if (*flags)
      logFailure(crt, *flags);
    return 0;
  } catch (const plat::Exception& e) {
    // Nothing may be thrown through the library.
    logError(e);
    return MBEDTLS_ERR_X509_FATAL_ERROR;
  }
}

int MbedTlsTrustManager::handshakeVerifyCallback(void* self, mbedtls_x509_crt* crt, int depth,
                                                 uint32_t* flags)
{
  auto* tm = static_cast<MbedTlsTrustManager*>(self);
  uint32_t nameFlags = *flags & MBEDTLS_X509_BADCERT_CN_MISMATCH;
  *flags = 0;
  if (depth != 0)
    return 0;
  tm->chain_.clear();
  tm->depth_ = -1;
  CrtList trusted;
  std::vector<SslCertificatePtr> held;
  if (!tm->gatherTrustedIssuers(crt, &trusted.head, held))
    return MBEDTLS_ERR_X509_FATAL_ERROR;
  uint32_t chainFlags = 0;
  int ret = mbedtls_x509_crt_verify_with_profile(crt, &trusted.head, nullptr, tm->profile(),
                                                 nullptr, &chainFlags, verifyCallback, tm);
  if (ret && ret != MBEDTLS_ERR_X509_CERT_VERIFY_FAILED)
    return ret;
  *flags = chainFlags | nameFlags;
  return 0;
}

void MbedTlsTrustManager::logFailure(const mbedtls_x509_crt* crt, uint32_t flags)
{
  vlog.info("Certificate validation failed for certificate:");
  vlog.info("   Subject = %s", distinguishedName(&crt->subject).str());
  vlog.info("   Issuer  = %s", distinguishedName(&crt->issuer).str());
  char info[256];
  if (mbedtls_x509_crt_verify_info(info, sizeof(info), "", flags) < 0)
    return;
  char* save = nullptr;
  for (char* line = strtok_r(info, "\n", &save); line; line = strtok_r(nullptr, "\n", &save))
    if (*line)
      vlog.info("   %s", line);
}

std::vector<SslCertificatePtr> MbedTlsTrustManager::takeChain()
{
  std::vector<SslCertificatePtr> chain;
  chain.swap(chain_);
  depth_ = -1;
  while (!chain.empty() && chain.size() < (size_t)kMaxChain && !chain.back()->isSelfIssued()) {
    const plat::MBuf<unsigned char>& issuer = chain.back()->issuerDer();
    SslCertificatePtr next = lookup_->find(issuer.length(), issuer.data());
    if (!next)
      break;
    chain.push_back(next);
  }
  return chain;
}

void MbedTlsTrustManager::mapFailure(uint32_t flags, const std::vector<SslCertificatePtr>& chain)
{
  if (flags & MBEDTLS_X509_BADCERT_FUTURE)
    throw SslException(1);
  if (flags & MBEDTLS_X509_BADCERT_EXPIRED)
    throw SslException(2);
  if (flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED)
    throw SslException(!chain.empty() && chain.back()->isSelfIssued() ? 4 : 3);
  if (flags & (MBEDTLS_X509_BADCERT_KEY_USAGE | MBEDTLS_X509_BADCERT_EXT_KEY_USAGE |
               MBEDTLS_X509_BADCERT_NS_CERT_TYPE))
    throw SslException(6);
  if (flags &
      (MBEDTLS_X509_BADCERT_BAD_MD | MBEDTLS_X509_BADCERT_BAD_PK | MBEDTLS_X509_BADCERT_BAD_KEY))
    throw SslException(7);
  throw SslException(0);
}

std::vector<SslCertificatePtr> MbedTlsTrustManager::verifyChain(
    SslCertificate* leaf, const std::vector<SslCertificatePtr>& intermediates, plat::Time time)
{
  struct TimeScope {
    TimeScope(plat::Time& t, plat::Time value) : ref(t), old(t) { t = value; }
    ~TimeScope() { ref = old; }
    plat::Time& ref;
    plat::Time old;
  } scope(verifyTime_, time);

  CrtList chain;
  chain.add(*leaf);
  const SslCertificate* last = leaf;
  while (!last->isSelfIssued() && chain.size() < kMaxChain) {
    const SslCertificate* next = nullptr;
    for (const SslCertificatePtr& c : intermediates) {
      PLAT_ASSERT(dynamic_cast<MbedTlsCertificate*>(c.get()) != nullptr);
      if (c->subjectDer().length() == last->issuerDer().length() &&
          memcmp(c->subjectDer().data(), last->issuerDer().data(), last->issuerDer().length()) ==
              0) {
        next = c.get();
        break;
      }
    }
    if (!next)
      break;
    chain.add(*next);
    last = next;
  }

  chain_.clear();
  depth_ = -1;

  CrtList trusted;
  std::vector<SslCertificatePtr> held;
  if (!gatherTrustedIssuers(&chain.head, &trusted.head, held))
    throw SslException(0, mbedTlsErrorText(MBEDTLS_ERR_X509_FATAL_ERROR).str());

  uint32_t flags = 0;
  int ret = mbedtls_x509_crt_verify_with_profile(&chain.head, &trusted.head, nullptr, profile(),
                                                 nullptr, &flags, verifyCallback, this);
  if (ret == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) {
    std::vector<SslCertificatePtr> recorded;
    recorded.swap(chain_);
    depth_ = -1;
    mapFailure(flags, recorded);
  }
  if (ret) {
    chain_.clear();
    depth_ = -1;
    throw SslException(0, mbedTlsErrorText(ret).str());
  }
  return takeChain();
}

} // namespace ssl
