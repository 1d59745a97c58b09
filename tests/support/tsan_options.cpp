// Linked into every test program of the ThreadSanitizer build: a report
// ends the process at once with the sanitizer's exit code (66), so that a
// forked child's status shows it whatever the child would have returned
// (tltest::checkedChildStatus). TSAN_OPTIONS still overrides it.
extern "C" const char* __tsan_default_options()
{
  return "halt_on_error=1";
}
