// An IPv4 or IPv6 address with a mask ("10.0.0.0/8", "192.168.1.0/255.255.0.255",
// "::1/128"), as written in proxy bypass lists. A value; any thread.
#pragma once

#include "plat/Exception.h"
#include "plat/String.h"

namespace io {

class IpInfo;

class NetMask {
public:
  // "Bad IP mask", "Bad IP address/mask" or "Mismatched IP mask".
  class Exception : public plat::Exception {
  public:
    explicit Exception(const char* message) : plat::Exception(message) {}
  };

  // The empty mask, which matches every address.
  NetMask() = default;
  // "address[/prefix or mask address]"; addresses are read as IpInfo reads
  // numeric text, so short IPv4 forms mean the same ("127.1" is 127.0.0.1).
  // Empty text gives the empty mask; no mask part means the host alone.
  // Throws NetMask::Exception.
  explicit NetMask(const char* text);

  bool matches(const IpInfo& address) const;
  // The text must be a numeric address; else the address parser's error.
  bool matches(const char* numericAddress) const;

  // Every mask byte 0 (the empty mask too).
  bool isEmpty() const;
  // A single address: every mask byte 255.
  bool isHost() const;
  // "" for the empty mask; else the address, then "/<prefix>" or
  // "/<mask address>" unless it is a host.
  plat::String toString() const;

  // 0 (empty), 4 or 16 significant bytes.
  int getLength() const { return length_; }
  const unsigned char* getAddress() const { return address_; }
  const unsigned char* getMask() const { return mask_; }

private:
  unsigned char address_[16] = {};
  unsigned char mask_[16] = {};
  int length_ = 0;
};

} // namespace io
