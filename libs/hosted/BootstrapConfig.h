// The bootstrap configuration: where the hosted services live (bootstrap
// servers, the number of numbered configurations each offers, the first
// discovery address) and how long an answer may be cached.
//
// The document is a BED map: "any/signed-data" holds the record and
// "any/signed-data-signature" an optional RSASSA-PSS (SHA-256) signature
// over the record's encoded bytes exactly as they lie in the body. The
// signing certificate travels in the record's "certificates" parameter and
// must chain to the vendor configuration's trust manager and name the host
// of the address the document came from. Since a repeated text refers to
// the texts before it in the whole document, a signed record must be the
// document's first entry.
//
// Construction decodes and checks everything or throws HostedException
// (category "Bootstrap"); a finished object is an immutable value, copied
// freely and shared through BootstrapConfigPtr. Loop thread.
#pragma once

#include <stdint.h>

#include <map>
#include <vector>

#include "hosted/Forward.h"
#include "plat/String.h"
#include "plat/Time.h"

namespace ssl {
class SslTrustManager;
} // namespace ssl

namespace hosted {

class BootstrapConfig {
public:
  enum class Signature { Optional, Required };
  typedef std::map<plat::String, plat::String, plat::StringLess> Parameters;

  // trustManager and url may be null; a signed document then cannot be
  // verified. The trust manager is borrowed for the call only.
  BootstrapConfig(int length, const void* body, ssl::SslTrustManager* trustManager,
                  const char* url, Signature signature);

  // The "any/value" of the first "any/parameters" element named name, or
  // null; points into record.
  static const char* getParameter(const BedMap& record, const char* name);

  // The valid-from time is at most an hour ahead of the clock.
  bool isValidNow() const;

  // The most numbered configurations a server may offer: each is one
  // address per bootstrap server to try.
  static constexpr int kMaxConfigCount = 1000;

  // --- The record
  int configCount() const { return configCount_; }
  const std::vector<plat::String>& bootstrapUris() const { return bootstrapUris_; }
  // At most the initial discovery address.
  const std::vector<plat::String>& discoveryUris() const { return discoveryUris_; }
  plat::Time validFrom() const { return validFrom_; }
  // In ticks.
  plat::Time maxAge() const { return maxAge_; }
  uint32_t maxBackoffSecs() const { return maxBackoffSecs_; }
  // A name given twice keeps its last value here.
  const Parameters& parameters() const { return parameters_; }
  // The parameter's value, or null.
  const char* parameter(const char* name) const;
  bool isSigned() const { return signed_; }

private:
  void decode(int length, const void* body, ssl::SslTrustManager* trustManager, const char* url,
              Signature signature);
  void readRecord(const BedMap& record);
  void verify(int length, const void* body, const BedMap& record, const BedOpaque& signature,
              ssl::SslTrustManager& trustManager, const char* url);

  int configCount_ = 0;
  std::vector<plat::String> bootstrapUris_;
  std::vector<plat::String> discoveryUris_;
  plat::Time validFrom_ = 0;
  plat::Time maxAge_ = 0;
  uint32_t maxBackoffSecs_ = 300;
  Parameters parameters_;
  bool signed_ = false;
};

typedef plat::SharedHandle<BootstrapConfig> BootstrapConfigPtr;

} // namespace hosted
