#include "plat/sanitizers.h"

#ifdef PLAT_THREAD_SANITIZER
// A report ends the process at once, so that it shows in the status of a
// forked child whatever the child would have returned, and in a program
// started through sudo, which drops TSAN_OPTIONS (which can still turn it off).
extern "C" const char* __tsan_default_options()
{
  return "halt_on_error=1";
}
#endif
