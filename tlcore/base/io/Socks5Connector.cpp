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
      state(&Socks5Connector::ReadMethodReply)
{
}

Socks5Connector::~Socks5Connector()
{
  if (prompt && promptOpen)
    prompt->cancel(this);
}

void Socks5Connector::sendFirst()
{
  outStream->writeU8(kVersion);
  if (!prompt && (user.isNull() || password.isNull()) && !retried) {
    outStream->writeU8(1);
    outStream->writeU8(kMethodNone);
    offeredUserPass = false;
  } else {
    outStream->writeU8(2);
    outStream->writeU8(kMethodUserPass);
    outStream->writeU8(kMethodNone);
    offeredUserPass = true;
  }
  outStream->flush();
}

bool Socks5Connector::step()
{
  return state.run(this, inStream);
}

bool Socks5Connector::retryWithUserPass()
{
  retried = true;
  state.setState(&Socks5Connector::ReadMethodReply);
  vlog.info("SOCKS 5 proxy %s wants authentication; connecting again", proxy.str());
  reconnect();
  return false;
}

bool Socks5Connector::ReadMethodReply()
{
  if (inStream->readU8() != kVersion)
    throw ProxyError(ProxyError::kBadProtocol, proxy.str());
  uint8_t method = inStream->readU8();
  inStream->setCheckpoint();
  switch (method) {
  case kMethodNone:
    state.setState(&Socks5Connector::SendConnectRequest);
    return true;
  case kMethodUserPass:
    if (!user.isNull() && !password.isNull()) {
      state.setState(&Socks5Connector::SendUserPass);
      return true;
    }
    if (prompt) {
      stopTimeout();
      state.setState(&Socks5Connector::WaitForPrompt);
      promptOpen = true;
      prompt->ask(true, true, proxy.str(), this);
      return state.getState() != &Socks5Connector::WaitForPrompt;
    }
    throw ProxyError(ProxyError::kAuthenticationRequired, proxy.str(),
                     "UserPass authentication selected by proxy but no password supplied");
  case kMethodRefused:
    if (!offeredUserPass && !retried)
      return retryWithUserPass();
    throw ProxyError(ProxyError::kAuthenticationUnsupported, proxy.str());
  default:
    throw ProxyError(ProxyError::kAuthenticationUnsupported, proxy.str());
  }
}

bool Socks5Connector::WaitForPrompt()
{
  if (inStream->check(false, 1))
    throw plat::Exception("unexpected data");
  return false;
}

void Socks5Connector::passwordEntered(const char* user_, const char* password_)
{
  promptOpen = false;
  prompt = nullptr;
  user.assign(user_);
  password.assign(password_);
  state.setState(&Socks5Connector::SendUserPass);
  if (io)
    io->markReadable();
  restartTimeout();
}

bool Socks5Connector::SendUserPass()
{
  if (user.isNull() || !*user.get())
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy.str(), "Username not provided");
  if (password.isNull() || !*password.get())
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy.str(), "Password not provided");
  // RFC 1929 fields are one length byte; cutting would send other credentials.
  if (user.length() > 255 || password.length() > 255)
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy.str(),
                     "Username or password longer than 255 bytes");
  outStream->writeU8(kAuthVersion);
  outStream->writeShortString(user.get());
  outStream->writeShortString(password.get());
  outStream->flush();
  user.assign(nullptr);
  password.assign(nullptr);
  state.setState(&Socks5Connector::ReadAuthReply);
  return true;
}

bool Socks5Connector::ReadAuthReply()
{
  if (inStream->readU8() != kAuthVersion)
    throw ProxyError(ProxyError::kBadProtocol, proxy.str());
  if (inStream->readU8() != 0)
    throw ProxyError(ProxyError::kAuthenticationFailed, proxy.str());
  state.setState(&Socks5Connector::SendConnectRequest);
  return true;
}

bool Socks5Connector::SendConnectRequest()
{
  IpInfo address;
  bool numeric = isNumericAddress(host.str(), port, &address);
  int nameLen = host.length();
  // The name's length travels in one byte: a longer name is refused, never cut.
  if (!numeric && nameLen > 255)
    throw ProxyError(ProxyError::kConnectFailed, proxy.str(), "Host name longer than 255 bytes");

  outStream->writeU8(kVersion);
  outStream->writeU8(kCmdConnect);
  outStream->writeU8(0);
  if (numeric) {
    IpInfo::RawAddress raw = address.rawAddress();
    outStream->writeU8(raw.length == 4 ? kAtypIPv4 : kAtypIPv6);
    outStream->writeBytes(raw.data, raw.length);
  } else {
    outStream->writeU8(kAtypName);
    outStream->writeU8((uint8_t)nameLen);
    outStream->writeBytes(host.str(), nameLen);
  }
  outStream->writeU16((uint16_t)port);
  outStream->flush();
  state.setState(&Socks5Connector::ReadConnectReply);
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
  int code = parseConnectReply(*inStream, proxy.str());
  switch (code) {
  case 0x00:
    inStream->setCheckpoint();
    finish();
    return false;
  case 0x02:
    if (!offeredUserPass && !retried)
      return retryWithUserPass();
    throw ProxyError(ProxyError::kConnectDenied, proxy.str());
  case 0x03:
  case 0x04:
  case 0x05:
  case 0x06:
    throw ProxyError(ProxyError::kConnectFailed, proxy.str());
  case 0x08:
    throw ProxyError(ProxyError::kConnectDenied, proxy.str());
  default:
    throw ProxyError(ProxyError::kBadProtocol, proxy.str());
  }
}

} // namespace io
