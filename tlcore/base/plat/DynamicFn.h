// One function looked up at run time in the first of several candidate
// shared libraries, for facilities the running system may lack (a newer
// libc call, an optional library). A miss is not an error: the holder is
// empty and the caller decides whether to throw DynamicFnLoadFailed or to
// fall back.
//
// The library that supplied the function stays loaded while the holder
// lives, with its symbols kept to itself (RTLD_LOCAL). Callers that may run
// as root decide before making a holder, since loading runs the library's
// constructors. Loading and lookup are serialised by one process-wide mutex, so
// holders may be made on any thread; each holder belongs to its maker.
#pragma once

#include "plat/Exception.h"

namespace plat {

// "Function %s not found in %s library".
class DynamicFnLoadFailed : public Exception {
public:
  DynamicFnLoadFailed(const char* function, const char* library);
};

class DynamicFn {
public:
  // libSpec lists candidate libraries, tried in order, separated by ",":
  // a stem "proxy" means libproxy.so; "c[6,7]" means libc.so.6 then
  // libc.so.7 (not libc.so; "[]" means none); an entry with "/" is opened
  // as it is. With plainList every entry, split only at ",", is opened as
  // it is. symbols lists candidate names, tried in order in each library.
  DynamicFn(const char* libSpec, const char* symbols, bool plainList = false);
  ~DynamicFn();
  DynamicFn(const DynamicFn&) = delete;
  DynamicFn& operator=(const DynamicFn&) = delete;

  explicit operator bool() const { return fn != nullptr; }
  template <class F> F as() const { return reinterpret_cast<F>(fn); }

  void* fn = nullptr;
  void* handle = nullptr;

private:
  // Opens one file and looks the symbols up in it; keeps it when found.
  bool tryLibrary(const char* file, const char* symbols);
};

} // namespace plat
