#include "io/NetMask.h"

#include <netinet/in.h>
#include <string.h>

#include <string>

#include "io/IpInfo.h"
#include "plat/MBuf.h"

namespace io {

namespace {

// A decimal number of at most three digits and at most 255 at *p.
bool readByte(const char** p, unsigned char* out)
{
  const char* s = *p;
  int v = 0;
  int digits = 0;
  while (*s >= '0' && *s <= '9') {
    v = v * 10 + (*s++ - '0');
    if (++digits > 3 || v > 255)
      return false;
  }
  if (!digits)
    return false;
  *out = (unsigned char)v;
  *p = s;
  return true;
}

// The raw bytes of a numeric address, read as IpInfo reads it, so that a
// short IPv4 text ("127.1", "10.1") means the same here as in a target.
int numericBytes(const char* text, unsigned char* out)
{
  try {
    IpInfo address(text, 0);
    IpInfo::RawAddress raw = address.rawAddress();
    if (raw.length != 4 && raw.length != 16)
      throw NetMask::Exception("Bad IP address/mask");
    memcpy(out, raw.data, raw.length);
    return raw.length;
  } catch (NetMask::Exception&) {
    throw;
  } catch (plat::Exception&) {
    throw NetMask::Exception("Bad IP address/mask");
  }
}

// One address, IPv6 when it holds ":", else IPv4; text after a fourth
// dotted decimal part is not looked at.
void parseAddress(const char* text, unsigned char* out, int* length)
{
  unsigned char bytes[16] = {};
  bool isV6 = strchr(text, ':') != nullptr;
  std::string address = text;
  if (!isV6) {
    const char* p = text;
    unsigned char part;
    int parts = 0;
    while (parts < 4 && (parts == 0 || *p == '.')) {
      const char* q = parts == 0 ? p : p + 1;
      if (!readByte(&q, &part))
        break;
      p = q;
      parts++;
    }
    if (parts == 4)
      address.resize(p - text);
  }
  int len = numericBytes(address.c_str(), bytes);
  if (len != (isV6 ? 16 : 4))
    throw NetMask::Exception("Bad IP address/mask");
  if (*length != 0 && *length != len)
    throw NetMask::Exception("Mismatched IP mask");
  *length = len;
  memcpy(out, bytes, len);
}

// The prefix length of a mask that is a run of leading ones, else -1.
int prefixOf(const unsigned char* mask, int length)
{
  int bits = 0;
  int i = 0;
  for (; i < length && mask[i] == 0xff; i++)
    bits += 8;
  if (i < length) {
    unsigned char m = mask[i];
    while (m & 0x80) {
      m = (unsigned char)(m << 1);
      bits++;
    }
    if (m)
      return -1;
    for (i++; i < length; i++)
      if (mask[i])
        return -1;
  }
  return bits;
}

plat::String addressText(const unsigned char* bytes, int length)
{
  plat::MBuf<unsigned char> raw(bytes, length);
  return plat::String(IpInfo(raw, 0).numericHost());
}

} // namespace

NetMask::NetMask(const char* text)
{
  if (!text || !*text)
    return;
  std::string addr = text;
  const char* maskPart = nullptr;
  size_t slash = addr.find('/');
  if (slash != std::string::npos) {
    maskPart = text + slash + 1;
    addr.resize(slash);
  }
  parseAddress(addr.c_str(), address_, &length_);
  if (!maskPart) {
    memset(mask_, 0xff, length_);
  } else if (!strchr(maskPart, '.') && !strchr(maskPart, ':')) {
    // Characters after the number are not looked at.
    unsigned prefix = 0;
    const char* p = maskPart;
    if (*p < '0' || *p > '9')
      throw Exception("Bad IP mask");
    while (*p >= '0' && *p <= '9') {
      prefix = prefix * 10 + (*p++ - '0');
      if (prefix > (unsigned)length_ * 8)
        throw Exception("Bad IP mask");
    }
    for (int i = 0; i < length_; i++) {
      int start = 8 * i;
      if ((int)prefix >= start + 8)
        mask_[i] = 0xff;
      else if ((int)prefix <= start)
        mask_[i] = 0;
      else
        mask_[i] = (unsigned char)(0xff << (8 * (i + 1) - prefix));
    }
  } else {
    parseAddress(maskPart, mask_, &length_);
  }
  for (int i = 0; i < length_; i++)
    address_[i] &= mask_[i];
}

bool NetMask::matches(const IpInfo& address) const
{
  if (length_ == 0)
    return true;
  IpInfo::RawAddress raw = address.rawAddress();
  if (raw.length != length_)
    return false;
  for (int i = 0; i < length_; i++)
    if (address_[i] != (mask_[i] & raw.data[i]))
      return false;
  return true;
}

bool NetMask::matches(const char* numericAddress) const
{
  return matches(IpInfo(numericAddress, 0));
}

bool NetMask::isEmpty() const
{
  for (int i = 0; i < length_; i++)
    if (mask_[i])
      return false;
  return true;
}

bool NetMask::isHost() const
{
  if (length_ == 0)
    return false;
  for (int i = 0; i < length_; i++)
    if (mask_[i] != 0xff)
      return false;
  return true;
}

plat::String NetMask::toString() const
{
  if (length_ == 0)
    return plat::String("");
  plat::String addr = addressText(address_, length_);
  if (isHost())
    return addr;
  int prefix = prefixOf(mask_, length_);
  if (prefix >= 0)
    return plat::format("%s/%d", addr.get(), prefix);
  return plat::format("%s/%s", addr.get(), addressText(mask_, length_).get());
}

} // namespace io
