// Bootstrap documents and vendor packages for the hosted tests, made by
// tests/support/bootstrap_sign.py with the keys and certificates that the
// build made with openssl (TL_BOOTSTRAP_KEYS), and a replaceable wall clock.
#pragma once

#include <string>

#include "plat/Time.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"
#include "testutil.h"

namespace bootstraptest {

const std::string kKeys = TL_BOOTSTRAP_KEYS;
const std::string kSign = "/usr/bin/python3 " + std::string(TL_TEST_SUPPORT_DIR) + "/bootstrap_sign.py";
// The address the test signer is certified for.
constexpr const char* kUrl = "https://127.0.0.1:8443/btp/0";

// Runs the script's command over a JSON desc; the bytes it wrote.
inline std::string run(const char* command, const std::string& desc)
{
  tltest::TempDir dir("tltest_boot");
  std::string in = dir.write("desc.json", desc);
  tltest::commandOutput(kSign + " " + command + " " + in + " " + dir / "out");
  return tltest::readFile(dir / "out");
}

// A document; desc is the inside of the JSON object. Signed by "signer"
// with its certificate unless desc names a key.
inline std::string signedDoc(const std::string& desc = "")
{
  std::string base = "\"uris\": [\"https://127.0.0.1:8443/btp\"], \"count\": 3, \"key\": \"" + kKeys +
                     "/signer.key\", \"certs\": [\"" + kKeys + "/signer.pem\"]";
  return run("doc", "{" + base + (desc.empty() ? "" : ", " + desc) + "}");
}
inline std::string unsignedDoc(const std::string& desc = "")
{
  return run("doc", "{\"uris\": [\"https://127.0.0.1:8443/btp\"], \"count\": 3" +
                        (desc.empty() ? "" : ", " + desc) + "}");
}

// A trust manager over the test CA, or over the outside CA.
inline std::unique_ptr<ssl::SslTrustManager> trustManager(const char* ca = "ca")
{
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  std::string pem = tltest::readFile(kKeys + "/" + ca + ".pem");
  lookup->addCertsFromPem((int)pem.size(), pem.c_str());
  return ssl::SslTrustManager::create(std::move(lookup));
}

// The wall clock stands at `now` plus the offset while one of these lives.
class ClockOffset {
public:
  explicit ClockOffset(plat::Time offset)
  {
    offset_ = offset;
    old_ = plat::setWallClock([] { return clock_gettime_ticks() + offset_; });
  }
  ~ClockOffset() { plat::setWallClock(old_); }
  static void set(plat::Time offset) { offset_ = offset; }

private:
  static plat::Time clock_gettime_ticks()
  {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return plat::timespecToTime(ts.tv_sec, ts.tv_nsec);
  }
  static inline plat::Time offset_ = 0;
  plat::WallClockFn old_;
};

} // namespace bootstraptest
