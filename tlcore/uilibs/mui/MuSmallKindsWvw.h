// The widget back-ends of the image and the separator line, each with the
// widget that shows it, which it owns. The spacer needs none.
// Loop thread only.
#pragma once

#include <memory>

#include "mui/MuLeafWvw.h"
#include "mui/MuSmallKinds.h"

namespace mui {

class MuImageWvw : public MuImage, public LeafWvw {
public:
  MuImageWvw(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  ~MuImageWvw() override;

  void setImage(const char* name, const Size& size) override;
  void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image) override;
  Size imageSize() const override;

private:
  WImageWvw image_;
};

// Two grey lines across (etched) or one colour over the whole area.
class WLineWvw : public wvw::Widget {
public:
  WLineWvw(bool horizontal, bool etched, const MuElement* element)
    : horizontal_(horizontal), etched_(etched), element_(element)
  {
  }
  rfb::Point preferredSize() override { return rfb::Point(2, 2); }
  bool wantsFocus() override { return false; }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  bool horizontal_;
  bool etched_;
  const MuElement* element_;
};

class MuLineWvw : public MuLine, public LeafWvw {
public:
  MuLineWvw(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  ~MuLineWvw() override;
  void styleChanged() override { line_.repaint(); }

private:
  WLineWvw line_;
};

} // namespace mui
