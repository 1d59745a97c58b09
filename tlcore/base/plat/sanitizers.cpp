#include "plat/sanitizers.h"

// Every sanitized program stops at its first report whatever its environment:
// a fuzz target run by hand, a forked child, or a program started through
// sudo, which drops the *_OPTIONS variables (which can still override these).
#ifdef PLAT_THREAD_SANITIZER
// The report shows in the status of a forked child whatever the child would
// have returned.
extern "C" const char* __tsan_default_options()
{
  return "halt_on_error=1";
}
#endif

#ifdef PLAT_ADDRESS_SANITIZER
// Built together with UndefinedBehaviorSanitizer: a report comes with its
// stack, and ends the process even where the check could recover.
extern "C" const char* __ubsan_default_options()
{
  return "halt_on_error=1:print_stacktrace=1";
}

extern "C" const char* __asan_default_options()
{
  return "strict_string_checks=1";
}
#endif
