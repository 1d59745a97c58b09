// The User-Agent text this program sends to proxies and web servers, and the
// process-wide texts it is built from.
//
// The product layer sets the version text at start-up; until it does, the
// product part is the application name alone. The setters copy their text
// and are meant for start-up on the main thread; userAgent may then be
// called on any thread.
#pragma once

#include "plat/String.h"

namespace http {

// "name[/version] ([prefix; ][distribution; ]os; arch; locale)[ suffix]".
plat::String userAgent();

// The product's version text; only its first word is used. Null unsets it.
void setUserAgentVersion(const char* version);
// Optional texts around the platform details; null unsets them.
void setUserAgentPrefix(const char* prefix);
void setUserAgentSuffix(const char* suffix);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") of a time in 100-ns ticks
// since 1601, with English names whatever the thread's locale.
plat::String formatHttpDate(int64_t time);

} // namespace http
