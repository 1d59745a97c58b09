// Shared state of the loc folder's units; not for use outside it.
#pragma once

#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/String.h"

namespace loc {

// Guards the locale table, the loaded set, every translation map and the
// records' states. Never destroyed: lookups may run during exit.
plat::Mutex& translationMutex();
extern plat::LogSrc logSrc;
// `Locale`: the ':'-separated locale list; empty takes the environment's.
extern plat::StringParameter localeParam;

// Rebuilds list from `Locale` (when set) or the environment, and makes the
// process locale record from it.
void buildLocaleList(std::vector<plat::String>& list);

} // namespace loc
