// The base of every error the system reports, its system-error and
// assertion forms, and the fatal and throwing checks.
//
// An exception carries its whole text inline (at most 255 bytes of UTF-8,
// cut on a character boundary) and a short type tag (at most 63 bytes), so
// throwing allocates nothing and the text survives any unwinding. Exceptions
// are values: any thread may build and throw them.
#pragma once

#include <stdarg.h>
#include <stddef.h>

namespace plat {

class Exception {
public:
  static constexpr int kMessageSize = 256;
  static constexpr int kTypeSize = 64;

  // A copy of the text (null gives an empty message).
  explicit Exception(const char* text);
  // printf-style; the integer only selects this form and is not stored.
  Exception(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  virtual ~Exception();

  // Appends ": " and the formatted text, within the same 256 bytes.
  Exception& appendFmt(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  const char* str() const { return message_; }
  const char* getType() const { return type_; }

  // What top-level handlers log and show: "[%s] " with the type when there
  // is one, then the message.
  const char* formatDisplay(char (&out)[kMessageSize]) const;

protected:
  Exception();
  void setMessage(const char* text);
  void vsetMessage(const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));
  void setType(const char* type);
  void setTypeFmt(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  char message_[kMessageSize];
  char type_[kTypeSize];
};

class ExceptionFmt : public Exception {
public:
  explicit ExceptionFmt(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

// A failed system call: the message ends with the system's text for the
// error number and " (%d)"; the type is "System-%d".
class SystemException : public Exception {
public:
  SystemException(const char* what, int err);
  void setErr(int err);
  int getErr() const { return err_; }

protected:
  SystemException() = default;
  int err_ = 0;
};

// Takes the error number from errno as it is after the message was built.
class StdlibException : public SystemException {
public:
  explicit StdlibException(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

class SystemExceptionFmt : public SystemException {
public:
  SystemExceptionFmt(int err, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

// A failed internal check. fatal() reports it and ends the process; the
// throwing check throws it like any other exception.
class AssertionFail : public Exception {
public:
  AssertionFail(const char* expression, const char* file, int line);

  [[noreturn]] void fatal() const;
  // Appends ": " and the formatted detail (as appendFmt), then fatal().
  [[noreturn]] void fatalFmt(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Logs "Warning: %s" at error level and returns.
  void warn() const;

  const char* getExpression() const { return expression_; }
  const char* getFile() const { return file_; }
  int getLine() const { return line_; }

private:
  const char* expression_;
  const char* file_;
  int line_;
};

// Run by AssertionFail::fatal after the stack trace is logged and before the
// abort, so that log lines still queued for another process get out (the
// IPC log destination, a higher layer, installs it). Null removes it.
using FatalFlushHook = void (*)();
void setFatalFlushHook(FatalFlushHook hook);

class TimedOut : public Exception {
public:
  TimedOut();
};

} // namespace plat

// Fatal check: a broken invariant ends the process with a stack trace.
#define PLAT_ASSERT(cond)                                                                          \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::plat::AssertionFail(#cond, __FILE__, __LINE__).fatal();                                    \
  } while (0)

// Fatal check whose message names the invariant in words of its own.
#define PLAT_ASSERT_TEXT(cond, text) PLAT_ASSERT_AT(cond, text, __FILE__, __LINE__)

// ... reported at a given place (a helper reporting its caller's line).
#define PLAT_ASSERT_AT(cond, text, file, line)                                                     \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::plat::AssertionFail(text, file, line).fatal();                                             \
  } while (0)

// A place that is never reached: ends the process as a failed check does.
#define PLAT_FAIL(text) ::plat::AssertionFail(text, __FILE__, __LINE__).fatal()
#define PLAT_FAIL_AT(text, file, line) ::plat::AssertionFail(text, file, line).fatal()

// The same with a printf-style detail after the expression text:
// "Assertion '<text>' failed at <file>:<line>: <detail>". The arguments are
// evaluated only when the check fails.
#define PLAT_ASSERT_FMT(cond, ...) PLAT_ASSERT_TEXT_FMT(cond, #cond, __VA_ARGS__)
#define PLAT_ASSERT_TEXT_FMT(cond, text, ...)                                                      \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::plat::AssertionFail(text, __FILE__, __LINE__).fatalFmt(__VA_ARGS__);                       \
  } while (0)
#define PLAT_FAIL_FMT(text, ...)                                                                   \
  ::plat::AssertionFail(text, __FILE__, __LINE__).fatalFmt(__VA_ARGS__)
#define PLAT_FAIL_AT_FMT(text, file, line, ...)                                                    \
  ::plat::AssertionFail(text, file, line).fatalFmt(__VA_ARGS__)

// Throwing check, for sites whose caller can recover.
#define PLAT_CHECK(cond)                                                                           \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      throw ::plat::AssertionFail(#cond, __FILE__, __LINE__);                                      \
  } while (0)
