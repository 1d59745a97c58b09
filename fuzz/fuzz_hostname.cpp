// The host-name matcher on host and pattern texts from a peer's
// certificate: first line the host, the rest the pattern.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "fuzz_util.h"
#include "ssl/SslVerifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t nl = text.find('\n');
  std::string host = text.substr(0, nl),
              pattern = nl == std::string::npos ? "" : text.substr(nl + 1);
  host = host.c_str();
  pattern = pattern.c_str();
  bool match = ssl::matchHostName(host.c_str(), pattern.c_str());
  // A match without a wildcard is equality, and a pattern never matches
  // with a different number of labels.
  if (match && pattern.find('*') == std::string::npos)
    FUZZ_CHECK(host == pattern);
  if (match)
    FUZZ_CHECK(std::count(host.begin(), host.end(), '.') ==
               std::count(pattern.begin(), pattern.end(), '.'));
  // Every label of a matching pattern is non-empty.
  if (match)
    FUZZ_CHECK(pattern.find("..") == std::string::npos && pattern.front() != '.' &&
               pattern.back() != '.');
  return 0;
}
