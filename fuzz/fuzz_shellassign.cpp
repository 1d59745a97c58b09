// Shell assignments ("/etc/os-release", the sysconfig proxy file) on
// arbitrary bytes: every line splits without a crash, a value quoted again
// in double quotes reads back unchanged, and the whole input as the
// sysconfig proxy file gives a proxy choice without an exception.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "fuzz_util.h"
#include "io/ProxySettings.h"
#include "os/shellAssignment.h"
#include "plat/DString.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"

namespace {

std::string doubleQuoted(const char* value)
{
  std::string q = "\"";
  for (const char* p = value; *p; p++) {
    if (strchr("\"$'\\`", *p))
      q += '\\';
    q += *p;
  }
  return q + "\"";
}

const char* sysconfigPath()
{
  static FuzzTempDir dir("shellassign");
  static std::string path = dir.path + "/proxy";
  return path.c_str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 16384)
    return 0;
  fuzzQuietLogs();
  rdr::MemInStream in(data, (int)size);
  plat::DString line;
  for (;;) {
    char* value;
    try {
      value = os::parseShellAssignment(in, line);
    } catch (rdr::EndOfStream&) {
      break;
    }
    if (!value)
      continue;
    FUZZ_CHECK(value > line.data() && !strchr(line.get(), '='));
    std::string name = line.get();
    std::string again = name + "=" + doubleQuoted(value);
    std::string copy = value;
    char* back = os::parseShellAssignment(&again[0]);
    FUZZ_CHECK(back && copy == back && name == again.c_str());
  }

  static const char* const vars[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                     "SOCKS_SERVER", "socks_server", "SOCKS_VERSION",
                                     "socks_version", "no_proxy", "NO_PROXY", "ALL_PROXY",
                                     "all_proxy"};
  for (const char* v : vars)
    unsetenv(v);
  FILE* f = fopen(sysconfigPath(), "we");
  FUZZ_CHECK(f);
  FUZZ_CHECK(fwrite(data, 1, size, f) == size || size == 0);
  fclose(f);
  io::setSysconfigProxyPathForTests(sysconfigPath());
  // Root skips libproxy, so only the file answers.
  io::setEffectiveUidForTests(0);
  io::ProxyCredentials credentials;
  std::unique_ptr<io::ProxyFetcher> fetcher =
      io::discoverSystemProxy("target.test", 443, credentials);
  FUZZ_CHECK(fetcher != nullptr);
  return 0;
}
