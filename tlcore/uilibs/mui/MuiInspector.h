// A small developer window meant to show an element's address, type and
// state, refreshed every 200 ms; here the refresh writes empty texts.
//
// Ownership: at most one per process (a second is the fatal assertion
// "!inspector"); it owns its dialog. Loop thread only; the timer runs on
// the loop's timer manager.
#pragma once

#include <memory>

#include "plat/String.h"
#include "plat/Timer.h"

namespace mui {

class MuDialog;
class MuElement;
class MuStatic;

class MuiInspector : public plat::Timer::Callback {
public:
  static constexpr int kRefreshMs = 200;

  // Shows the dialog "MuiInspector" at (100, 100) units and starts the
  // refresh.
  MuiInspector();
  ~MuiInspector() override;
  MuiInspector(const MuiInspector&) = delete;
  MuiInspector& operator=(const MuiInspector&) = delete;

  // The element's path prefixed with its dialog's name and "."; an element
  // with an empty path gives its own name.
  static plat::String fullAddress(MuElement* element);

  MuDialog* dialog() const { return dialog_.get(); }

protected:
  bool timerExpired(plat::Timer* timer) override;

private:
  plat::Timer timer_{this};
  std::unique_ptr<MuDialog> dialog_;
  MuStatic* id_;
  MuStatic* type_;
  MuStatic* state_;
};

} // namespace mui
