#include "tlOrbSetup/EngineUi.h"

#include "plat/Log.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("EngineUi");

class NoUi : public EngineUi {
public:
  bool messageBox(const char* text, int, TextKind) override
  {
    vlog.status("No user interface to show, answered No: %s", text);
    return false;
  }
  int detectDesktopKind() override { return 0; }
};

NoUi noUi;
EngineUi* current = &noUi;

} // namespace

EngineUi::Registration::Registration(EngineUi* ui) : previous_(current)
{
  current = ui;
}

EngineUi::Registration::~Registration()
{
  current = previous_;
}

EngineUi& EngineUi::get()
{
  return *current;
}

} // namespace tlOrbSetup
