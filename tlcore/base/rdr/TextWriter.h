// Writes text into an output stream and keeps it NUL-terminated in memory:
// after every call a zero byte lies at the stream's ptr without being
// counted, so a memory stream's buffer can be used as a C string at any
// time. Holds a borrowed stream; not locked.
#pragma once

#include <stdarg.h>

#include "rdr/OutStream.h"

namespace rdr {

class TextWriter {
public:
  explicit TextWriter(OutStream* os) : os_(os) {}

  OutStream* getStream() const { return os_; }
  void setStream(OutStream* s) { os_ = s; }

  // The bytes before a NUL (within len when len >= 0).
  void write(const char* s, int len = -1);
  // Throws plat::SystemException "vsnprintf" when the C library cannot
  // format the arguments at all.
  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void vprintf(const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));
  // count copies of the code point, UTF-8 encoded; count < 1 writes nothing.
  // Above U+10FFFF throws "Unicode out of range".
  void writeRepeated(unsigned codePoint, int count);

private:
  void terminate();

  OutStream* os_;
};

} // namespace rdr
