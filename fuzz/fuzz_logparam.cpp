// The `Log` parameter text on arbitrary input: routing is applied and a
// message of each level is written; nothing may crash, and the empty text
// then routes nothing to the destination again.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>

#include "fuzz_util.h"
#include "plat/Log.h"

namespace {

plat::LogSrc fuzzSrc("FuzzLogSrc");

class Capture : public plat::LogDest {
public:
  Capture() : LogDest("fuzzcapture") {}
  void write(int, const char*, const char*) override { count++; }
  int count = 0;
};

Capture& capture()
{
  static Capture* c = new Capture;
  return *c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  fuzzQuietLogs();
  Capture& cap = capture();
  std::string text((const char*)data, size);
  // Bad elements are reported on stderr, for nearly every input; the
  // fuzzer's own reports go to descriptor 2 and stay.
  static FILE* null = fopen("/dev/null", "we");
  FILE* saved = std::exchange(stderr, null);
  plat::setLogOverride(text.c_str());
  stderr = saved;
  for (int level : {plat::LogSrc::kError, plat::LogSrc::kStatus, plat::LogSrc::kInfo,
                    plat::LogSrc::kDebug, 1000})
    fuzzSrc.log(level, "message at %d", level);

  plat::setLogOverride("");
  cap.count = 0;
  fuzzSrc.error("after");
  FUZZ_CHECK(cap.count == 0);
  return 0;
}
