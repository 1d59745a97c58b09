// Configuration-file lines and command-line words, on arbitrary bytes.
// The input read as a file must not crash the reader, and every entry that
// the writer accepts must read back unchanged; applied to a configuration
// holding a parameter of each type it must leave valid values. The input
// split at line feeds is then given to parseArgs as words and to setParam
// of each parameter.
#include <stdint.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "plat/Configuration.h"
#include "plat/ConfigParameter.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "tlutil/ConfigFile.h"

using namespace plat;

namespace {

const char* const kModes[] = {"off", "on", "auto", nullptr};
const unsigned char kBlob[] = {1, 2, 3};

void addParams(Configuration& c)
{
  c.logChanges = false;
  c.addBool("Flag", "", false);
  c.addInt("Count", "", 5, plat::ParamLevel::kBasic, -10, 1000);
  c.addString("Name", "", "x");
  c.addEnum("Mode", "", "auto", kModes);
  c.addBinary("Blob", "", sizeof(kBlob), kBlob);
  c.addS64("Big", "", 7);
}

CaseInsensitiveStringMap readLines(const void* data, size_t size)
{
  CaseInsensitiveStringMap map;
  rdr::MemInStream in(data, (int)size);
  try {
    readConfigLines(in, map, nullptr);
  } catch (Exception&) {
    // A refused file (a line too long, say) is an error, not a crash.
  }
  return map;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 65536)
    return 0;
  CaseInsensitiveStringMap map = readLines(data, size);

  // What the writer takes reads back as it was.
  CaseInsensitiveStringMap writable;
  for (const auto& entry : map) {
    try {
      checkConfigEntry(entry.first.str(), entry.second.get());
      writable[entry.first] = entry.second;
    } catch (Exception&) {
    }
  }
  rdr::MemOutStream out;
  writeConfigLines(out, writable);
  CaseInsensitiveStringMap back = readLines(out.data(), out.length());
  FUZZ_CHECK(back.size() == writable.size());
  for (const auto& entry : writable) {
    auto it = back.find(entry.first);
    FUZZ_CHECK(it != back.end() && strCmpNull(it->second.get(), entry.second.get()) == 0);
  }

  Configuration cfg("fuzz");
  addParams(cfg);
  rdr::MemInStream in(data, (int)size);
  try {
    applyConfigLines(in, cfg, 20);
  } catch (Exception&) {
  }
  IntParameter& count = cfg.getIntParam("Count");
  FUZZ_CHECK(count.getValue() >= -10 && count.getValue() <= 1000);
  EnumParameter& mode = cfg.getEnumParam("Mode");
  FUZZ_CHECK(mode.getValue() >= 0 && mode.getValue() < mode.count());

  // The same bytes as command-line words, and as values of each parameter.
  std::string text((const char*)data, size);
  std::vector<std::string> words;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    words.push_back(text.substr(start, nl - start));
  words.push_back(text.substr(start));
  std::vector<char*> argv;
  for (std::string& w : words)
    argv.push_back(&w[0]);
  argv.push_back(nullptr);
  char** cursor = argv.data();
  try {
    while (*cursor) {
      char** before = cursor;
      cfg.parseArgs(&cursor);
      // Left at a word it could not take: skip it, as a caller reporting
      // it would.
      if (cursor == before)
        cursor++;
    }
  } catch (Exception&) {
  }
  for (ConfigParameter* p = cfg.getParams(); p; p = p->getNext()) {
    for (const std::string& w : words) {
      try {
        p->setParam(w.c_str(), 30);
      } catch (Exception&) {
      }
    }
  }
  FUZZ_CHECK(count.getValue() >= -10 && count.getValue() <= 1000);
  FUZZ_CHECK(mode.getValue() >= 0 && mode.getValue() < mode.count());
  return 0;
}
