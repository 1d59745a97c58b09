// A managed top-level window whose content is a canvas of widgets, shown
// modelessly or run modally.
//
// The modal run is a nested loop of its own: it serves only the X
// connection and the timers started while it runs (a nested timer
// manager); the descriptors and timers of the outer loop wait until it
// returns. Runs nest. The dialog owns its canvas and borrows its parent
// window, which only decides the transient-for hint. Message boxes and the
// UI model's dialog back-end derive from it. Loop thread only.
#pragma once

#include "tx/TXWParent.h"
#include "wvw/WSmallControls.h"

namespace tx {

class TXDialog : public TXWParent, public TXDeleteWindowCallback {
public:
  // A centred dialog re-centres itself whenever its size changes.
  TXDialog(TXWindow* parent, const char* name, bool centred);
  ~TXDialog() override;

  // Modeless: clears done and result and shows the window.
  void show();
  // Shows the dialog and serves X and the new timers until it ends; true
  // when it ended with a non-zero result. Throws plat::SystemException
  // "select" (EMFILE) when the X descriptor does not fit a select set.
  bool runModal();
  // Hides the dialog and ends a modal run after the current batch of X
  // events; true.
  bool endDialog(uint8_t result);
  bool isDone() const { return done_; }
  uint8_t result() const { return result_; }

  void resize(int w, int h);
  wvw::WCanvas& canvas() { return canvas_; }
  TXWindow* parentWindow() const { return parent_; }

  void deleteWindow(TXWindow* window) override;

protected:
  // Just before the dialog is shown.
  virtual void showHook() {}
  // Ends the dialog with result 0.
  virtual void cancel();

private:
  void prepareShow();

  bool done_ = false;
  uint8_t result_ = 0;
  bool centred_;
  wvw::WCanvas canvas_;
  TXWindow* parent_;
};

} // namespace tx
