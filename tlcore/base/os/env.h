// Changes to the process environment.
//
// These change process-wide state without a lock: main thread only, before
// other threads read the environment.
#pragma once

#include "plat/String.h"

namespace os {

// Sets the variable, replacing an existing value; a null value removes it.
// A name that is null, empty or holds '=' throws plat::SystemException.
void setEnv(const char* name, const char* value);
void unsetEnv(const char* name);
// Empties the whole environment.
void clearEnv();

// Makes one variable read as empty for the object's lifetime without
// copying or freeing any environment text: the value's first byte is
// overwritten in place and written back by the destructor, unless the
// variable has been given another value meanwhile.
class EnvBlanker {
public:
  explicit EnvBlanker(const char* name);
  ~EnvBlanker();
  EnvBlanker(const EnvBlanker&) = delete;
  EnvBlanker& operator=(const EnvBlanker&) = delete;

private:
  plat::String name_;
  char* value_;
  char saved_ = 0;
};

} // namespace os
