// Whether this build runs under ThreadSanitizer, for the few places that
// must act differently under it, and under AddressSanitizer (always built
// with UndefinedBehaviorSanitizer here).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define PLAT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLAT_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define PLAT_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PLAT_THREAD_SANITIZER 1
#endif
#endif

namespace plat {

#ifdef PLAT_THREAD_SANITIZER
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// The status a process of this build ends with once ThreadSanitizer has
// reported: every program stops at its first report (sanitizers.cpp).
constexpr int kThreadSanitizerExit = 66;

} // namespace plat
