// The certificate zoo of the TLS tests (made by make_zoo.sh as the ctest
// fixture ssl_zoo) and helpers to read it and to ask openssl about it.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/Time.h"
#include "ssl/SslCertificate.h"
#include "testutil.h"

namespace ssltest {

inline std::string zooPath(const std::string& name)
{
  return std::string(TL_SSL_ZOO_DIR) + "/" + name;
}

using tltest::readFile;

// The zoo certificate <name>.der.
inline ssl::SslCertificatePtr cert(const std::string& name)
{
  std::string der = readFile(zooPath(name + ".der"));
  return ssl::SslCertificate::createFromDer((int)der.size(),
                                            reinterpret_cast<const unsigned char*>(der.data()));
}

inline std::string bytes(const plat::MBuf<unsigned char>& b)
{
  return std::string(reinterpret_cast<const char*>(b.data()), b.length());
}

// A time inside the validity of everything valid in the zoo.
inline plat::Time zooNow()
{
  return plat::makeTime(2026, 6, 1, 12, 0, 0);
}

} // namespace ssltest
