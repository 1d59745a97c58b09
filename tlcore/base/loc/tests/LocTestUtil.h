// Shared helpers of the loc tests: a capturing log destination for the
// "Localize" source and a way to set `Locale`.
#pragma once

#include <stdio.h>

#include <mutex>
#include <string>
#include <vector>

#include "loc/Localize.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "testutil.h"

namespace loctest {

// Records "level text" for each line of the Localize source.
class CaptureDest : public tltest::CaptureDest {
public:
  CaptureDest() : tltest::CaptureDest("loccap", kLevelText) {}
};

inline CaptureDest& capture()
{
  static CaptureDest* dest = new CaptureDest;
  return *dest;
}

// Routes the Localize source to the capture for one scope.
struct CaptureScope {
  explicit CaptureScope(int level = 110)
  {
    capture();
    plat::setLogOverride(("Localize:loccap:" + std::to_string(level)).c_str());
    capture().take();
  }
  ~CaptureScope() { plat::setLogOverride(nullptr); }
};

// Makes the store follow `Locale` (once) and sets it at the preference level.
inline void setLocale(const char* value)
{
  static bool initialised = [] {
    loc::Localize::instance()->init({});
    return true;
  }();
  (void)initialised;
  plat::Configuration::global().set("Locale", value, plat::kPriorityPreference);
}

// Runs a shell command and returns its standard output.
inline std::string run(const std::string& cmd, int* status = nullptr)
{
  int st;
  std::string out = tltest::runCommand(cmd, &st);
  if (status)
    *status = st;
  return out;
}

} // namespace loctest
