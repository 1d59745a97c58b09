#include "ssl/mbedtls/MbedTlsEngine.h"

#include <arpa/inet.h>
#include <limits.h>

#include <mbedtls/debug.h>
#include <mbedtls/net_sockets.h>

#include "crypto/MbedTlsException.h"
#include "crypto/RandomStream.h"
#include "io/Endpoint.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"
#include "ssl/SslException.h"
#include "ssl/mbedtls/MbedTlsCertificate.h"
#include "ssl/mbedtls/MbedTlsPrivateKey.h"
#include "ssl/mbedtls/MbedTlsTrustManager.h"

namespace ssl {

namespace {

plat::LogSrc vlog("SslEngine");

const char* const kProfileNames[] = {"Normal", "High", nullptr};

// Numeric hosts are left to the host-name verifier.
bool isAddress(const char* host)
{
  unsigned char buf[16];
  return inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1;
}

// The name for server-name indication and the library's own check: the
// host part of a host, host:port, host::port or [IPv6]:port. None for an
// address (bare, bracketed or with a port), nor for a text that is no
// endpoint name: the verifier still checks the peer's name.
plat::String serverName(const char* hostName)
{
  // A bare IPv6 literal would read as a host and a port.
  if (!hostName || !*hostName || isAddress(hostName))
    return plat::String();
  plat::String host;
  int port = 0;
  try {
    io::parseEndpointName(hostName, host, &port, 443, 0);
  } catch (const plat::Exception&) {
    return plat::String();
  }
  if (host.str()[0] == '[' || isAddress(host.str()))
    return plat::String();
  return host;
}

} // namespace

const uint32_t kNormalSuites[32] = {
    0xC02B, 0xC02F, 0xCCA9, 0xCCA8, 0xC02C, 0xC030, 0xC02D, 0xC031, 0xC02E, 0xC032, 0x009C,
    0x009D, 0xC0AC, 0xC09C, 0xC0AD, 0xC09D, 0xC023, 0xC027, 0xC024, 0xC028, 0xC025, 0xC029,
    0xC026, 0xC02A, 0x003C, 0x003D, 0xC009, 0xC004, 0x002F, 0xC008, 0xC003, 0x000A};
const uint32_t kHighSuites[7] = {0xC0AD, 0xC02C, 0xC030, 0xC02E, 0xC032, 0xC09D, 0x009D};

plat::EnumParameter tlsProfileParam("TlsProfile", plat::LocKey{"ssl_param_tlsprofile"}, "Normal",
                                    kProfileNames);
plat::IntParameter tlsLoggingParam("_TlsLogging", "TLS library debug threshold", 0,
                                   plat::ParamLevel::kAdvanced, nullptr, 0, INT_MAX);

SslEngine::~SslEngine() = default;

std::unique_ptr<SslEngine> SslEngine::create(SslTrustManager* trustManager, int nSuites,
                                             const uint32_t* suites, int nProtocols,
                                             const int* protocols, const char* hostName,
                                             const ClientIdentity* identity)
{
  auto* mbedtlsTm = dynamic_cast<MbedTlsTrustManager*>(trustManager);
  PLAT_ASSERT(mbedtlsTm);
  return std::make_unique<MbedTlsEngine>(mbedtlsTm, nSuites, suites, nProtocols, protocols,
                                         hostName, identity);
}

// Installs the streams of one operation and restores the previous ones on
// every way out.
class MbedTlsEngine::StreamScope {
public:
  StreamScope(MbedTlsEngine* engine, rdr::InStream* in, rdr::OutStream* out)
      : engine_(engine), in_(engine->in_), out_(engine->out_)
  {
    engine->in_ = in;
    engine->out_ = out;
  }
  ~StreamScope()
  {
    engine_->in_ = in_;
    engine_->out_ = out_;
  }
  StreamScope(const StreamScope&) = delete;
  StreamScope& operator=(const StreamScope&) = delete;

private:
  MbedTlsEngine* engine_;
  rdr::InStream* in_;
  rdr::OutStream* out_;
};

MbedTlsEngine::MbedTlsEngine(MbedTlsTrustManager* trustManager, int nSuites,
                             const uint32_t* suites, int nProtocols, const int* protocols,
                             const char* hostName, const ClientIdentity* identity)
    : trustManager_(trustManager)
{
  // First, as nothing is freed when the constructor throws.
  plat::String sni = serverName(hostName);
  mbedtls_ssl_init(&ssl_);
  mbedtls_ssl_config_init(&conf_);
  mbedtls_x509_crt_init(&noCa_);
  mbedtls_ssl_config_defaults(&conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                              MBEDTLS_SSL_PRESET_DEFAULT);
  mbedtls_ssl_conf_authmode(&conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_rng(&conf_, crypto::mbedTlsRandom, nullptr);
  mbedtls_ssl_conf_dbg(&conf_, debugCallback, this);
  mbedtls_ssl_conf_cert_profile(&conf_, trustManager->profile());
  mbedtls_debug_set_threshold(tlsLoggingParam.getValue());

  suites_.assign(suites, suites + nSuites);
  suites_.push_back(0);
  mbedtls_ssl_conf_ciphersuites(&conf_, suites_.data());

  protocols_.assign(protocols, protocols + nProtocols);
  int minMinor = MBEDTLS_SSL_MINOR_VERSION_3;
  for (int p : protocols_)
    minMinor = std::min(minMinor, std::min(p + 1, MBEDTLS_SSL_MINOR_VERSION_3));
  mbedtls_ssl_conf_max_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  mbedtls_ssl_conf_min_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, minMinor);

  // This mbedtls has no trusted-CA callback: the trust manager looks the
  // issuers up from the verify callback instead.
  mbedtls_ssl_conf_ca_chain(&conf_, &noCa_, nullptr);
  mbedtls_ssl_conf_verify(&conf_, MbedTlsTrustManager::handshakeVerifyCallback, trustManager);

  if (identity && identity->key) {
    auto* cert = dynamic_cast<MbedTlsCertificate*>(identity->certificate.get());
    PLAT_ASSERT_TEXT(cert, "MbedTlsCertificate is null");
    auto* key = dynamic_cast<MbedTlsPrivateKey*>(identity->key.get());
    PLAT_ASSERT_TEXT(key, "MbedTlsPrivateKey is null");
    clientCert_ = identity->certificate;
    clientKey_ = identity->key;
    // The library's own-cert list keeps a non-const pointer it never writes.
    mbedtls_ssl_conf_own_cert(&conf_, const_cast<mbedtls_x509_crt*>(cert->crt()),
                              key->context());
  }

  mbedtls_ssl_setup(&ssl_, &conf_);
  mbedtls_ssl_set_bio(&ssl_, this, sendCallback, recvCallback, nullptr);

  if (*sni.str())
    mbedtls_ssl_set_hostname(&ssl_, sni.str());
}

MbedTlsEngine::~MbedTlsEngine()
{
  mbedtls_ssl_free(&ssl_);
  mbedtls_ssl_config_free(&conf_);
  mbedtls_x509_crt_free(&noCa_);
}

bool MbedTlsEngine::handshake(rdr::InStream* in, rdr::OutStream* out)
{
  StreamScope scope(this, in, out);
  for (;;) {
    trustManager_->takeChain();
    int ret = mbedtls_ssl_handshake(&ssl_);
    std::vector<SslCertificatePtr> chain = trustManager_->takeChain();
    if (peerChain_.empty())
      peerChain_ = std::move(chain);
    if (ret == MBEDTLS_ERR_SSL_WANT_READ) {
      out->flush();
      return false;
    }
    if (ret == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED)
      MbedTlsTrustManager::mapFailure(mbedtls_ssl_get_verify_result(&ssl_), peerChain_);
    if (ret == MBEDTLS_ERR_SSL_CONN_EOF)
      throw SslException(8);
    if (ret)
      throw crypto::MbedTlsException("ssl_handshake", ret);
    if (ssl_.state == MBEDTLS_SSL_HANDSHAKE_OVER)
      break;
    out->flush();
  }

  int version = ssl_.minor_ver - 1;
  if (version < 0 || version > 2)
    version = -1;
  bool protocolOk = false, cipherOk = false;
  for (int p : protocols_)
    protocolOk = protocolOk || p == version;
  int suite = mbedtls_ssl_get_ciphersuite_id(mbedtls_ssl_get_ciphersuite(&ssl_));
  for (int s : suites_)
    cipherOk = cipherOk || (s != 0 && s == suite);
  PLAT_ASSERT(protocolOk && cipherOk);
  bool etm = ssl_.session && ssl_.session->encrypt_then_mac == MBEDTLS_SSL_ETM_ENABLED;
  vlog.log(100, "Established TLS 1.%d connection using %s%s", version,
           mbedtls_ssl_get_ciphersuite(&ssl_), etm ? " (EtM)" : "");
  out->flush();
  return true;
}

int MbedTlsEngine::write(int length, const uint8_t* data, rdr::OutStream* out)
{
  if (closed_)
    throw SslException(8);
  StreamScope scope(this, in_, out);
  int done = 0;
  while (done < length) {
    int ret = mbedtls_ssl_write(&ssl_, data + done, length - done);
    if (ret < 1)
      throw crypto::MbedTlsException("ssl_write", ret);
    done += ret;
  }
  return length;
}

int MbedTlsEngine::read(rdr::InStream* in, rdr::OutStream* dest)
{
  PLAT_CHECK(!closed_);
  StreamScope scope(this, in, out_);
  for (;;) {
    int room = dest->spaceAvailable();
    if (room <= 0)
      return 0;
    int n = dest->nFree();
    if (n <= 0)
      n = dest->overrun(1, room);
    n = std::min(n, room);
    int ret = mbedtls_ssl_read(&ssl_, dest->getPtr(), n);
    if (ret > 0) {
      dest->setPtr(dest->getPtr() + ret);
      continue;
    }
    if (ret == MBEDTLS_ERR_SSL_WANT_READ)
      return ret;
    if (ret == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY) {
      closed_ = true;
      throw SslException(8);
    }
    if (ret == 0 || ret == MBEDTLS_ERR_SSL_CONN_EOF) {
      closed_ = true;
      throw rdr::EndOfStream("SSL connection truncated");
    }
    throw crypto::MbedTlsException("ssl_read", ret);
  }
}

void MbedTlsEngine::close(rdr::OutStream* out)
{
  closed_ = true;
  StreamScope scope(this, in_, out);
  int ret = mbedtls_ssl_close_notify(&ssl_);
  if (ret)
    throw crypto::MbedTlsException("ssl_close_notify", ret);
  out->flush();
}

const std::vector<SslCertificatePtr>& MbedTlsEngine::peerCertificates() const
{
  if (peerChain_.empty())
    throw plat::AssertionFail("peerCerts.size()", __FILE__, __LINE__);
  return peerChain_;
}

bool MbedTlsEngine::clientCertificateUsed() const
{
  return ssl_.client_auth && clientCert_;
}

int MbedTlsEngine::sendCallback(void* self, const unsigned char* buf, size_t len)
{
  auto* this_ = static_cast<MbedTlsEngine*>(self);
  if (!this_->out_) {
    vlog.log(100, "Discarding peer alert");
    return (int)len;
  }
  try {
    this_->out_->writeBytes(buf, (int)len);
    return (int)len;
  } catch (const plat::Exception& e) {
    vlog.log(100, "Write failed: %s", e.str());
    return MBEDTLS_ERR_NET_SEND_FAILED;
  }
}

int MbedTlsEngine::recvCallback(void* self, unsigned char* buf, size_t len)
{
  auto* this_ = static_cast<MbedTlsEngine*>(self);
  PLAT_ASSERT(this_->in_);
  rdr::InStream* is = this_->in_;
  try {
    if (is->nUnread() == 0 && !is->check(false, 1))
      return MBEDTLS_ERR_SSL_WANT_READ;
  } catch (const rdr::BlockException&) {
    return MBEDTLS_ERR_SSL_WANT_READ;
  } catch (const rdr::EndOfStream&) {
    return 0;
  } catch (const plat::Exception& e) {
    vlog.log(100, "Read failed: %s", e.str());
    return MBEDTLS_ERR_NET_RECV_FAILED;
  }
  int n = std::min((int)std::min(len, (size_t)INT_MAX), is->nUnread());
  memcpy(buf, is->getPtr(), n);
  is->consume(n);
  is->setCheckpoint();
  return n;
}

void MbedTlsEngine::debugCallback(void*, int level, const char*, int, const char* msg)
{
  int len = (int)strlen(msg);
  if (len > 0 && msg[len - 1] == '\n')
    len--;
  vlog.log(100, "DEBUG<%d> %.*s", level, len, msg);
}

} // namespace ssl
