#include "HeadlessFrontEnd.h"

#include <stdio.h>

#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "plat/Log.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("HeadlessWindow");

} // namespace

void HeadlessFrontEnd::StandInWindow::record(plat::String call)
{
  vlog.status("%s", call.str());
  calls_.push_back(std::move(call));
}

void HeadlessFrontEnd::StandInWindow::show()
{
  record(plat::String("show"));
}

void HeadlessFrontEnd::StandInWindow::raiseAndActivate()
{
  record(plat::String("raiseAndActivate"));
}

void HeadlessFrontEnd::StandInWindow::handleUri(const char* uri)
{
  record(plat::format("uri %s", uri));
}

std::unique_ptr<os::AppLoop> HeadlessFrontEnd::makeLoop()
{
  return std::make_unique<os::AppLoop>();
}

void HeadlessFrontEnd::showError(const char* text)
{
  const char* app = os::AppInfo::getAppName(true);
  fprintf(stderr, "%s: %s\n", *app ? app : "tlzarnconnectsetup", text);
  fflush(stderr);
}

std::unique_ptr<FrontEnd::Window> HeadlessFrontEnd::makeWindow(hosted::HostedClientContextPtr)
{
  return std::make_unique<StandInWindow>();
}

} // namespace tlOrbSetup
