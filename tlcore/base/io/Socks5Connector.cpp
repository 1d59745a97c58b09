#include "io/Socks5Connector.h"

#include <string.h>

#include "io/IpInfo.h"
#include "loc/Localize.h"
#include "plat/Log.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace io {

static plat::LogSrc vlog("ProxyTcpConnector");

namespace {
enum : uint8_t {
  kVersion = 0x05,
  kAuthVersion = 0x01,
  kMethodNone = 0x00,
  kMethodUserPass = 0x02,
  kMethodRefused = 0xFF,
  kCmdConnect = 0x01,
  kAtypIPv4 = 0x01,
  kAtypName = 0x03,
  kAtypIPv6 = 0x04,
};
} // namespace

Socks5Connector::Socks5Connector(const char* host, int port, const char* proxy, IoPtr existing,
                                 ProxyPasswdPrompt* prompt)
    : ProxyTcpConnector(
          host, port, proxy,
          plat::format("Direct TCP via SOCKS5 proxy %s", proxy ? proxy : "").str(),
          loc::formatArgs(LOC_TR_RAW("io_socks5_connection_type"), proxy ? proxy : "").str(),
          std::move(existing), prompt),
      state_(&Socks5Connector::ReadMethodReply)
{
}

Socks5Connector::~Socks5Connector()
{
  if (prompt_ && promptOpen_)
    prompt_->cancel(this);
}

void Socks5Connector::sendFirst()
{
  outStream_->writeU8(kVersion);
  if (!prompt_ && (user_.isNull() || password_.isNull()) && !retried_) {
    outStream_->writeU8(1);
    outStream_->writeU8(kMethodNone);
    offeredUserPass_ = false;
  } else {
    outStream_->writeU8(2);
    outStream_->writeU8(kMethodUserPass);
    outStream_->writeU8(kMethodNone);
    offeredUserPass_ = true;
  }
  outStream_->flush();
}

bool Socks5Connector::step()
{
  return state_.run(this, inStream_);
}

bool Socks5Connector::retryWithUserPass()
{
  retried_ = true;
  state_.setState(&Socks5Connector::ReadMethodReply);
  vlog.info("SOCKS 5 proxy %s wants authentication; connecting again", proxy_.str());
  reconnect();
  return false;
}

bool Socks5Connector::ReadMethodReply()
{
  if (inStream_->readU8() != kVersion)
    throw ProxyError(ProxyError::kBadProtocol, proxy_.str());
  uint8_t method = inStream_->readU8();
  inStream_->setCheckpoint();
  switch (method) {
  case kMethodNone:
    state_.setState(&Socks5Connector::SendConnectRequest);
    return true;
  case kMethodUserPass:
    if (!user_.isNull() && !password_.isNull()) {
      state_.setState(&Socks5Connector::SendUserPass);
      return true;
    }
    if (prompt_) {
      stopTimeout();
      state_.setState(&Socks5Connector::WaitForPrompt);
      promptOpen_ = true;
      prompt_->ask(ProxyNeeds::kUser | ProxyNeeds::kPassword, proxy_.str(), this);
      return state_.getState() != &Socks5Connector::WaitForPrompt;
    }
    throw ProxyError(ProxyError::kAuthenticationRequired, proxy_.str(),
                     "UserPass authentication selected by proxy but no password supplied");
  case kMethodRefused:
    if (!offeredUserPass_ && !retried_)
      return retryWithUserPass();
    throw ProxyError(ProxyError::kAuthenticationUnsupported, proxy_.str());
  default:
    throw ProxyError(ProxyError::kAuthenticationUnsupported, proxy_.str());
  }
}

bool Socks5Connector::WaitForPrompt()
{
  if (inStream_->check(false, 1))
    throw plat::Exception("unexpected data");
  return false;
}

void Socks5Connector::passwordEntered(const char* user, const char* password)
{
  promptOpen_ = false;
  prompt_ = nullptr;
  user_.assign(user);
  password_.assign(password);
  state_.setState(&Socks5Connector::SendUserPass);
  if (io_)
    io_->markReadable();
  restartTimeout();
}

bool Socks5Connector::SendUserPass()
{
  if (user_.isNull() || !*user_.get())
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy_.str(), "Username not provided");
  if (password_.isNull() || !*password_.get())
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy_.str(), "Password not provided");
  // RFC 1929 fields are one length byte; cutting would send other credentials.
  if (user_.length() > 255 || password_.length() > 255)
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy_.str(),
                     "Username or password longer than 255 bytes");
  outStream_->writeU8(kAuthVersion);
  outStream_->writeShortString(user_.get());
  outStream_->writeShortString(password_.get());
  outStream_->flush();
  user_.assign(nullptr);
  password_.assign(nullptr);
  state_.setState(&Socks5Connector::ReadAuthReply);
  return true;
}

bool Socks5Connector::ReadAuthReply()
{
  if (inStream_->readU8() != kAuthVersion)
    throw ProxyError(ProxyError::kBadProtocol, proxy_.str());
  if (inStream_->readU8() != 0)
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy_.str());
  state_.setState(&Socks5Connector::SendConnectRequest);
  return true;
}

bool Socks5Connector::SendConnectRequest()
{
  IpInfo address;
  bool numeric = isNumericAddress(host_.str(), port_, &address);
  int nameLen = host_.length();
  // The name's length travels in one byte: a longer name is refused, never cut.
  if (!numeric && nameLen > 255)
    throw ProxyError(ProxyError::kConnectFailed, proxy_.str(), "Host name longer than 255 bytes");

  outStream_->writeU8(kVersion);
  outStream_->writeU8(kCmdConnect);
  outStream_->writeU8(0);
  if (numeric) {
    IpInfo::RawAddress raw = address.rawAddress();
    outStream_->writeU8(raw.length == 4 ? kAtypIPv4 : kAtypIPv6);
    outStream_->writeBytes(raw.data, raw.length);
  } else {
    outStream_->writeU8(kAtypName);
    outStream_->writeU8((uint8_t)nameLen);
    outStream_->writeBytes(host_.str(), nameLen);
  }
  outStream_->writeU16((uint16_t)port_);
  outStream_->flush();
  state_.setState(&Socks5Connector::ReadConnectReply);
  return true;
}

int Socks5Connector::parseConnectReply(rdr::InStream& is, const char* via)
{
  if (is.readU8() != kVersion)
    throw ProxyError(ProxyError::kBadProtocol, via);
  int code = is.readU8();
  if (code != 0)
    return code;
  is.skip(1);
  switch (is.readU8()) {
  case kAtypIPv4:
    is.skip(4);
    break;
  case kAtypIPv6:
    is.skip(16);
    break;
  case kAtypName:
    // Proxies may report the bound address as a name; it is read and dropped.
    is.skip(is.readU8());
    break;
  default:
    throw ProxyError(ProxyError::kBadProtocol, via);
  }
  is.skip(2);
  return 0;
}

bool Socks5Connector::ReadConnectReply()
{
  int code = parseConnectReply(*inStream_, proxy_.str());
  switch (code) {
  case 0x00:
    inStream_->setCheckpoint();
    finish();
    return false;
  case 0x02:
    if (!offeredUserPass_ && !retried_)
      return retryWithUserPass();
    throw ProxyError(ProxyError::kConnectDenied, proxy_.str());
  case 0x03:
  case 0x04:
  case 0x05:
  case 0x06:
    throw ProxyError(ProxyError::kConnectFailed, proxy_.str());
  case 0x08:
    throw ProxyError(ProxyError::kConnectDenied, proxy_.str());
  default:
    throw ProxyError(ProxyError::kBadProtocol, proxy_.str());
  }
}

} // namespace io
