// The certificate zoo of the TLS tests (made by make_zoo.sh as the ctest
// fixture ssl_zoo) and helpers to read it and to ask openssl about it.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/Time.h"
#include "ssl/SslCertificate.h"
#include "ssl/SslException.h"
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

// What f throws: "code N: message" for an SslException, the message for
// another error, "" when nothing is thrown.
template <class F> std::string errorOf(F f)
{
  try {
    f();
    return "";
  } catch (const ssl::SslException& e) {
    return "code " + std::to_string(e.getCode()) + ": " + e.str();
  } catch (const plat::Exception& e) {
    return e.str();
  }
}

// A time inside the validity of everything valid in the zoo.
inline plat::Time zooNow()
{
  return plat::makeTime(2026, 6, 1, 12, 0, 0);
}

} // namespace ssltest
