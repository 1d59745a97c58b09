#include "mui/MuSmallKinds.h"

#include "mui/MuContainer.h"
#include "mui/Mui.h"
#include "rfb/PixBuffer.h"

namespace mui {

// --- Image ------------------------------------------------------------------

MuImage* MuImage::create(MuContainer* parent, const char* name, const char* imageName, const Size& size)
{
  return createChild<MuImage>(muImageFactory, "muImageFactory", parent, name, imageName, size);
}

MuImage::MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size)
  : MuElement(parent, name, nullptr), imageName_(imageName), imageSize_(size)
{
}

const char* MuImage::typeName() const
{
  return "image";
}

plat::DString MuImage::getState() const
{
  const Size size = getSize();
  plat::DString s = MuElement::getState();
  s.appendf("element Image\nvalue %s\nimSize %d%s%d\n", imageName_.isNull() ? "<unknown>" : imageName_.get(),
            size.x, ",", size.y);
  return s;
}

void MuImage::setImage(const char* name, const Size& size)
{
  imageName_ = plat::String(name);
  imageSize_ = size;
}

void MuImage::setImageBuffer(std::unique_ptr<rfb::PixelBuffer>)
{
  imageName_ = plat::String();
}

// --- Line -------------------------------------------------------------------

MuLine* MuLine::create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
{
  return createChild<MuLine>(muLineFactory, "muLineFactory", parent, name, horizontal, etched, thickness);
}

MuLine::MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
  : MuElement(parent, name, nullptr), horizontal_(horizontal), etched_(etched), thickness_(etched ? 2 : thickness)
{
}

const char* MuLine::typeName() const
{
  return "line";
}

plat::DString MuLine::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Line\ntype %s type %s\n", horizontal_ ? "horizontal" : "vertical",
            etched_ ? "etched" : "color");
  return s;
}

int MuLine::preferredWidth(int height) const
{
  return horizontal_ ? MuElement::preferredWidth(height) : thickness_;
}

int MuLine::preferredHeight(int width) const
{
  return horizontal_ ? thickness_ : MuElement::preferredHeight(width);
}

void MuLine::setThickness(int thickness)
{
  thickness_ = etched_ ? 2 : thickness;
  styleChanged();
}

// --- Spacer -----------------------------------------------------------------

MuSpacer* MuSpacer::create(MuContainer* parent, int width, int height)
{
  std::unique_ptr<MuSpacer> spacer(new MuSpacer(parent, width, height));
  MuSpacer* added = spacer.get();
  parent->addChild(std::move(spacer));
  return added;
}

MuSpacer::MuSpacer(MuContainer* parent, int width, int height)
  : MuElement(parent, nullptr, nullptr), preferred_(width, height)
{
}

void MuSpacer::setShown(bool shown)
{
  shown_ = shown;
}

bool MuSpacer::isShown() const
{
  return shown_;
}

void MuSpacer::setSize(const Size& size)
{
  size_ = size;
}

Size MuSpacer::getSize() const
{
  return shown_ ? size_ : Size();
}

void MuSpacer::setPosition(const rfb::Point& position)
{
  position_ = position;
}

rfb::Point MuSpacer::getPosition() const
{
  return position_;
}

int MuSpacer::preferredWidth(int) const
{
  return preferred_.x;
}

int MuSpacer::preferredHeight(int) const
{
  return preferred_.y;
}

const char* MuSpacer::typeName() const
{
  return "spacer";
}

plat::DString MuSpacer::getState() const
{
  const Size size = getSize();
  return plat::DString::format("%d,%d %dx%d", position_.x, position_.y, size.x, size.y);
}

} // namespace mui
