#include "mui/MuAnimation.h"

#include "mui/MuSmallKinds.h"
#include "plat/Colour.h"

namespace mui {

MuAnimation::MuAnimation(MuContainer* parent, const char* name, int interval, const char* firstImage,
                         const Size& size)
  : image_(MuImage::create(parent, name, firstImage, size)), size_(size), timer_(this), interval_(interval)
{
}

MuAnimation::~MuAnimation()
{
  timer_.stop();
}

void MuAnimation::addFrame(const char* imageName)
{
  frames_.emplace_back(imageName);
}

void MuAnimation::setFrame(int index)
{
  frame_ = index;
  if (index >= 0 && index < (int)frames_.size())
    image_->setImage(frames_[index].get(), size_);
}

bool MuAnimation::timerExpired(plat::Timer*)
{
  if (frames_.empty())
    return false;
  if (!image_->isShown() || image_->flags() != 0)
    return true;
  frame_ = (frame_ + 1) % (int)frames_.size();
  image_->setImage(frames_[frame_].get(), size_);
  image_->relayout();
  return true;
}

namespace {

plat::String firstSpinnerFrame(int variant)
{
  return plat::format("spinner%s00", (variant == 1) != plat::isDarkMode() ? "black" : "");
}

} // namespace

MuSpinner::MuSpinner(MuContainer* parent, int variant, const Size& size)
  : MuAnimation(parent, "spinner", 100, firstSpinnerFrame(variant).get(), size)
{
  const char* colour = (variant == 1) != plat::isDarkMode() ? "black" : "";
  for (int i = 0; i < 12; i++)
    addFrame(plat::format("spinner%s%02d", colour, i).get());
  image()->setShown(false);
}

void MuSpinner::setSpinning(bool spinning)
{
  image()->setShown(spinning);
  if (spinning) {
    timer().start(interval());
  } else {
    timer().stop();
    setFrame(0);
  }
}

} // namespace mui
