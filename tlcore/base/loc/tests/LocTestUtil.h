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

namespace loctest {

// Records "level text" for each line of the Localize source.
class CaptureDest : public plat::LogDest {
public:
  CaptureDest() : LogDest("loccap") {}
  void write(int level, const char*, const char* text) override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::to_string(level) + " " + text);
  }
  std::vector<std::string> take()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(lines_);
  }
  // Lines that contain part.
  std::vector<std::string> grep(const char* part)
  {
    std::vector<std::string> out;
    for (std::string& l : take())
      if (l.find(part) != std::string::npos)
        out.push_back(l);
    return out;
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
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
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p)
    return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.append(buf, n);
  int st = pclose(p);
  if (status)
    *status = st;
  return out;
}

} // namespace loctest
