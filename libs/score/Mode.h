// Server modes: the server runs for one user (user mode), as the system
// service, or in a virtual desktop. The current mode chooses whose control
// pipe the engine talks to; the admin helper switches it to service mode.
// Main thread only.
#pragma once

#include "plat/String.h"

namespace score {

enum Mode { kModeUser = 0, kModeService = 1, kModeVirtual = 2 };

// kModeUser until set.
Mode currentMode();
void setCurrentMode(Mode mode);

// "user", "service" or "virtual" for the current mode.
const char* getModeName();
// Translated; anything but service and virtual is user mode.
plat::String getModeDisplayName(int mode);
// One of the three names, in any case.
bool isModeName(const char* text);
// Throws plat::Exception "Bad mode name" for anything else.
Mode parseMode(const char* text);

} // namespace score
