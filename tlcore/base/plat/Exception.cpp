#include "plat/Exception.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <vector>

#include "os/host.h"
#include "plat/Log.h"
#include "plat/String.h"

// The XSI form of strerror_r, which the GNU headers hide behind this name.
extern "C" int __xpg_strerror_r(int errnum, char* buf, size_t buflen);

namespace plat {

namespace {

// Set by the first fatal assertion on any thread; a second one aborts at once.
volatile unsigned char fatalInProgress = 0;

std::atomic<FatalFlushHook> fatalFlushHook{nullptr};

// Fatal assertions may fire during static initialisation, before this
// source's constructor has run; the log keeps such messages all the same.
LogSrc vlog("Assertion");

} // namespace

// --- Exception ---------------------------------------------------------------

Exception::Exception()
{
  message_[0] = 0;
  type_[0] = 0;
}

Exception::Exception(const char* text) : Exception()
{
  setMessage(text);
}

Exception::Exception(int, const char* fmt, ...) : Exception()
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
}

Exception::~Exception() = default;

Exception& Exception::appendFmt(const char* fmt, ...)
{
  strCat(message_, kMessageSize, ": ");
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(message_, kMessageSize, fmt, ap);
  va_end(ap);
  return *this;
}

const char* Exception::formatDisplay(char (&out)[kMessageSize]) const
{
  out[0] = 0;
  if (type_[0])
    strCatFormat(out, "[%s] ", type_);
  strCat(out, kMessageSize, message_);
  return out;
}

void Exception::setMessage(const char* text)
{
  message_[0] = 0;
  strCat(message_, kMessageSize, text);
}

void Exception::vsetMessage(const char* fmt, va_list ap)
{
  message_[0] = 0;
  strCatVFormat(message_, kMessageSize, fmt, ap);
}

void Exception::setType(const char* type)
{
  type_[0] = 0;
  strCat(type_, kTypeSize, type);
}

void Exception::setTypeFmt(const char* fmt, ...)
{
  type_[0] = 0;
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(type_, kTypeSize, fmt, ap);
  va_end(ap);
}

ExceptionFmt::ExceptionFmt(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
}

// --- System errors -------------------------------------------------------------

SystemException::SystemException(const char* what, int err)
{
  setMessage(what);
  setErr(err);
}

void SystemException::setErr(int err)
{
  err_ = err;
  setTypeFmt("System-%d", err);
  if (message_[0])
    strCat(message_, kMessageSize, ": ");
  if (err == 0) {
    strCat(message_, kMessageSize, "Success");
  } else {
    char text[kMessageSize];
    if (__xpg_strerror_r(err, text, sizeof(text)) != 0)
      strCopy(text, "Unknown error", sizeof(text));
    strCat(message_, kMessageSize, text);
  }
  strCatFormat(message_, " (%d)", err);
}

StdlibException::StdlibException(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setErr(errno);
}

SystemExceptionFmt::SystemExceptionFmt(int err, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setErr(err);
}

// --- Assertions -------------------------------------------------------------------

AssertionFail::AssertionFail(const char* expression, const char* file, int line)
    : expression_(expression), file_(file), line_(line)
{
  strCatFormat(message_, "Assertion '%s' failed at %s:%d", expression, file, line);
  setType("AssertionFail");
}

void AssertionFail::fatalFmt(const char* fmt, ...)
{
  strCat(message_, kMessageSize, ": ");
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(message_, kMessageSize, fmt, ap);
  va_end(ap);
  fatal();
}

void AssertionFail::fatal() const
{
  if (fatalInProgress)
    abort();
  fatalInProgress = 1;

  fprintf(stderr, "%s\n", message_);
  try {
    vlog.error("%s", message_);
    std::vector<String> frames;
    os::getBacktrace(frames);
    for (const String& frame : frames)
      vlog.error("stacktrace: %s", frame.str());
  } catch (...) {
  }
  // Even when logging failed: what is already queued may still get out.
  try {
    if (FatalFlushHook hook = fatalFlushHook.load())
      hook();
  } catch (...) {
  }
  abort();
}

void AssertionFail::warn() const
{
  try {
    vlog.error("Warning: %s", message_);
  } catch (...) {
  }
}

void setFatalFlushHook(FatalFlushHook hook)
{
  fatalFlushHook.store(hook);
}

TimedOut::TimedOut()
{
  setMessage("Timed out");
  setType("TimedOut");
}

} // namespace plat
