#include "os/AppLoop.h"

#include "io/FdSelectManager.h"
#include "plat/Exception.h"
#include "plat/Log.h"

namespace os {

namespace {

AppLoop* inst = nullptr;
int exitStatusValue = 0;

} // namespace

AppLoop::AppLoop(std::unique_ptr<Impl> impl) : impl_(std::move(impl))
{
  PLAT_ASSERT(!inst);
  if (!impl_)
    impl_ = std::make_unique<AppLoopImpl>(&selectManager());
  inst = this;
}

AppLoop::~AppLoop()
{
  impl_.reset();
  inst = nullptr;
}

int AppLoop::run()
{
  plat::flushMemLog();
  return impl_->run();
}

void AppLoop::exit(int status)
{
  PLAT_ASSERT(inst);
  exitStatusValue = status;
  inst->impl_->quit();
}

AppLoop* AppLoop::instance()
{
  return inst;
}

io::FdSelectManager& AppLoop::selectManager()
{
  static io::FdSelectManager manager(false);
  return manager;
}

int AppLoopImpl::exitStatus()
{
  return exitStatusValue;
}

int AppLoopImpl::run()
{
  while (!stop_) {
    PLAT_ASSERT(manager_);
    manager_->processOnce(-1);
  }
  return exitStatusValue;
}

void AppLoopImpl::quit()
{
  stop_ = true;
  if (manager_)
    manager_->wake();
}

} // namespace os
