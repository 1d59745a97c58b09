// The front end without a display, for tests of the engine: the plain
// application loop, errors on standard error, and a stand-in for the wizard
// window that logs and records what it is asked to do.
#pragma once

#include <memory>
#include <vector>

#include "plat/String.h"
#include "tlOrbSetup/FrontEnd.h"

namespace tlOrbSetup {

class HeadlessFrontEnd : public FrontEnd {
public:
  // Logs each call on "HeadlessWindow" and keeps it ("show",
  // "raiseAndActivate", "uri <uri>").
  class StandInWindow : public FrontEnd::Window {
  public:
    void show() override;
    void raiseAndActivate() override;
    void handleUri(const char* uri) override;
    const std::vector<plat::String>& calls() const { return calls_; }

  private:
    void record(plat::String call);
    std::vector<plat::String> calls_;
  };

  std::unique_ptr<os::AppLoop> makeLoop() override;
  // "<program>: <text>" on standard error.
  void showError(const char* text) override;
  void bindUiModel() override {}
  std::unique_ptr<Window> makeWindow(hosted::HostedClientContextPtr cloudConfig) override;
};

} // namespace tlOrbSetup
