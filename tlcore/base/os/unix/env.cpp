#include "os/env.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "plat/Exception.h"

namespace os {

void setEnv(const char* name, const char* value)
{
  if (!value) {
    unsetEnv(name);
    return;
  }
  if (setenv(name, value, 1) != 0)
    throw plat::SystemExceptionFmt(errno, "setenv(%s)", name ? name : "<null>");
}

void unsetEnv(const char* name)
{
  if (unsetenv(name) != 0)
    throw plat::SystemExceptionFmt(errno, "unsetenv(%s)", name ? name : "<null>");
}

void clearEnv()
{
  if (environ)
    environ[0] = nullptr;
}

EnvBlanker::EnvBlanker(const char* name) : name_(name)
{
  value_ = getenv(name);
  if (value_) {
    saved_ = value_[0];
    value_[0] = 0;
  }
}

EnvBlanker::~EnvBlanker()
{
  if (value_ && getenv(name_.str()) == value_)
    value_[0] = saved_;
}

} // namespace os
