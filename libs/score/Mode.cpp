#include "score/Mode.h"

#include <strings.h>

#include "loc/Localize.h"
#include "plat/Exception.h"

namespace score {

namespace {

const char* const kNames[] = {"user", "service", "virtual"};
Mode current = kModeUser;

} // namespace

Mode currentMode()
{
  return current;
}

void setCurrentMode(Mode mode)
{
  current = mode;
}

const char* getModeName()
{
  return kNames[current];
}

plat::String getModeDisplayName(int mode)
{
  if (mode == kModeService)
    return plat::String(LOC_TR("score_mode_service"));
  if (mode == kModeVirtual)
    return plat::String(LOC_TR("score_mode_virtual"));
  return plat::String(LOC_TR("score_mode_user"));
}

bool isModeName(const char* text)
{
  for (const char* name : kNames)
    if (text && strcasecmp(text, name) == 0)
      return true;
  return false;
}

Mode parseMode(const char* text)
{
  for (int m = kModeUser; m <= kModeVirtual; m++)
    if (text && strcasecmp(text, kNames[m]) == 0)
      return (Mode)m;
  throw plat::Exception("Bad mode name");
}

} // namespace score
