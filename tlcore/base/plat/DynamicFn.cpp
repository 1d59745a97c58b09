#include "plat/DynamicFn.h"

#include <dlfcn.h>
#include <string.h>

#include <string>
#include <vector>

#include "plat/Log.h"
#include "plat/Mutex.h"

namespace plat {

namespace {

LogSrc vlog("DynamicFn");

// Never destroyed: holders in static objects may be released after every
// other static is gone.
Mutex& loadMutex()
{
  static Mutex* mutex = new Mutex;
  return *mutex;
}

std::vector<std::string> splitList(const char* text)
{
  std::vector<std::string> parts;
  const char* p = text ? text : "";
  for (;;) {
    const char* end = p + strcspn(p, ",");
    if (end > p)
      parts.emplace_back(p, end - p);
    if (!*end)
      break;
    p = end + 1;
  }
  return parts;
}

// The files a library candidate list names, in the order to try them.
std::vector<std::string> candidateFiles(const char* libList)
{
  std::vector<std::string> files;
  const char* p = libList ? libList : "";
  while (*p) {
    const char* stemEnd = p + strcspn(p, ",[");
    std::string stem(p, stemEnd - p);
    const char* q = stemEnd;
    bool haveVersions = *q == '[';
    std::vector<std::string> versions;
    if (haveVersions) {
      const char* close = strchr(q, ']');
      const char* listEnd = close ? close : q + strlen(q);
      versions = splitList(std::string(q + 1, listEnd - q - 1).c_str());
      q = close ? close + 1 : listEnd;
      // Whatever stands between "]" and the next "," is not part of it.
      q += strcspn(q, ",");
    }
    if (stem.find('/') != std::string::npos)
      files.push_back(stem);
    else if (!stem.empty() && !haveVersions)
      files.push_back("lib" + stem + ".so");
    else if (!stem.empty())
      for (const std::string& v : versions)
        files.push_back("lib" + stem + ".so." + v);
    p = *q ? q + 1 : q;
  }
  return files;
}

} // namespace

DynamicFnLoadFailed::DynamicFnLoadFailed(const char* function, const char* library)
    : Exception(0, "Function %s not found in %s library", function ? function : "",
                library ? library : "")
{
}

DynamicFn::DynamicFn(const char* libSpec, const char* symbols, bool plainList)
{
  std::vector<std::string> files = plainList ? splitList(libSpec) : candidateFiles(libSpec);
  for (const std::string& file : files)
    if (tryLibrary(file.c_str(), symbols))
      return;
}

DynamicFn::~DynamicFn()
{
  if (!handle)
    return;
  MutexLock lock(loadMutex());
  dlclose(handle);
}

bool DynamicFn::tryLibrary(const char* file, const char* symbols)
{
  MutexLock lock(loadMutex());
  handle = dlopen(file, RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    vlog.debug(" [DynFnOpen(%s) failed]", file);
    return false;
  }
  for (const std::string& symbol : splitList(symbols)) {
    void* address = dlsym(handle, symbol.c_str());
    if (address) {
      fn = address;
      vlog.debug("found '%s' in '%s'", symbol.c_str(), file);
      return true;
    }
    vlog.debug("  [DynFnFind(%s) failed]", symbol.c_str());
  }
  dlclose(handle);
  handle = nullptr;
  return false;
}

} // namespace plat
