// XmlConfig::load on arbitrary text. A document that fails leaves the
// configuration as it was; one that loads is written out, and the text
// written reaches a fixed point: loaded and written again it is the same.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_util.h"
#include "plat/Configuration.h"
#include "plat/XmlConfig.h"

using namespace plat;

namespace {

std::string xmlOf(Configuration& cfg)
{
  std::unique_ptr<char[]> text(XmlConfig::toXml(&cfg, plat::XmlParts::kHiddenParams));
  return text.get();
}

const char* const kModes[] = {"off", "on", nullptr};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 65536)
    return 0;
  fuzzQuietLogs();
  std::string text((const char*)data, size);
  Configuration cfg("fuzz");
  cfg.logChanges = false;
  cfg.addBool("Flag", "a flag", true);
  cfg.addEnum("Mode", "a mode", "on", kModes);
  std::string before = xmlOf(cfg);
  try {
    XmlConfig::load(cfg, text.c_str());
  } catch (Exception&) {
    FUZZ_CHECK(xmlOf(cfg) == before);
    return 0;
  }
  // The writer repairs invalid UTF-8 (in names too, which can change their
  // order), so the first text written is the normal form: it must load
  // and write out unchanged.
  std::string written = xmlOf(cfg);
  Configuration again("fuzz");
  again.logChanges = false;
  XmlConfig::load(again, written.c_str());
  std::string once = xmlOf(again);
  Configuration third("fuzz");
  third.logChanges = false;
  XmlConfig::load(third, once.c_str());
  std::string twice = xmlOf(third);
  if (twice != once)
    fprintf(stderr, "written:\n%s\nread back:\n%s\n", once.c_str(), twice.c_str());
  FUZZ_CHECK(twice == once);
  return 0;
}
