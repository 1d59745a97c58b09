// The small kinds: the image (a named image or pixels of its own), the
// separator line and the spacer. The image and the line are leaf kinds
// (MuLeaves.h) built through their factories by the bound back-end; the
// spacer needs no back-end and keeps its own geometry. Each is owned by its
// parent from its create operation on. Loop thread only.
#pragma once

#include <memory>

#include "mui/MuElement.h"

namespace rfb {
class PixelBuffer;
}

namespace mui {

class MuImage : public MuElement {
public:
  static MuImage* create(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  const char* typeName() const override;
  plat::DString getState() const override;

  // A named image at that size; the name is kept for the state dump.
  virtual void setImage(const char* name, const Size& size);
  // An image of its own instead of a named one; the name is cleared.
  virtual void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image);
  // The size of the image shown.
  virtual Size imageSize() const = 0;

  const char* imageName() const { return imageName_.get(); }

protected:
  MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  plat::String imageName_;
  Size imageSize_;
};

// A separator: as thick as its thickness across, as long as the back-end
// says along.
class MuLine : public MuElement {
public:
  static MuLine* create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  const char* typeName() const override;
  plat::DString getState() const override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;

  // Etched lines are always 2 thick.
  virtual void setThickness(int thickness);
  int thickness() const { return thickness_; }

protected:
  MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  bool horizontal_;
  bool etched_;
  int thickness_;
};

// Empty space of a fixed preferred size; no back-end.
class MuSpacer : public MuElement {
public:
  static MuSpacer* create(MuContainer* parent, int width, int height);

  void setShown(bool shown) override;
  bool isShown() const override;
  void setSize(const Size& size) override;
  // 0 x 0 while hidden.
  Size getSize() const override;
  void setPosition(const rfb::Point& position) override;
  rfb::Point getPosition() const override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  const char* typeName() const override;
  // "x,y wxh" alone.
  plat::DString getState() const override;

private:
  MuSpacer(MuContainer* parent, int width, int height);

  const Size preferred_;
  Size size_;
  rfb::Point position_;
  bool shown_ = true;
};

} // namespace mui
