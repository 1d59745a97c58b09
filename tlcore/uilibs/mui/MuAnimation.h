// An image element cycled through a list of named images on a timer, and
// the busy spinner made of one.
//
// The animation creates its image element in the parent, which owns it; the
// animation owns its frame names and its timer. Whoever owns the animation
// starts and stops the timer with interval(); each expiry shows the next
// frame unless the image is hidden, disabled or locked, which keeps the
// frame where it is. An animation must not outlive its parent. Loop thread
// only.
#pragma once

#include <vector>

#include "mui/MuElement.h"
#include "plat/Timer.h"

namespace mui {

class MuAnimation : public plat::Timer::Callback {
public:
  MuAnimation(MuContainer* parent, const char* name, int interval, const char* firstImage, const Size& size);
  ~MuAnimation() override;
  MuAnimation(const MuAnimation&) = delete;
  MuAnimation& operator=(const MuAnimation&) = delete;

  void addFrame(const char* imageName);
  // Shows that frame at once.
  void setFrame(int index);
  // Without frames the timer stops.
  bool timerExpired(plat::Timer* timer) override;

  MuImage* image() const { return image_; }
  int frame() const { return frame_; }
  int interval() const { return interval_; }
  plat::Timer& timer() { return timer_; }

private:
  MuImage* image_;
  Size size_;
  std::vector<plat::String> frames_;
  plat::Timer timer_;
  int frame_ = 0;
  int interval_;
};

// Twelve frames every 100 ms in an image named "spinner", hidden until it
// spins; variant 1 asks for the black frames, inverted in dark mode.
class MuSpinner : public MuAnimation {
public:
  MuSpinner(MuContainer* parent, int variant, const Size& size);
  // Shows the image and starts the frames, or hides it and goes back to
  // the first frame.
  void setSpinning(bool spinning);
};

} // namespace mui
