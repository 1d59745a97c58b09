// The content of a tooltip pop-up: rich text on the "helpBg" colour in a
// thin frame, wrapped at a maximum width and shown beside a widget on that
// widget's popup host, flipped to the other side of the widget where it
// would leave the screen area.
//
// The tooltip owns its text widget and style; it borrows the link callback
// and the host it was last shown on, and hides itself from that host when
// destroyed. Loop thread only.
#pragma once

#include "wvw/WLayout.h"
#include "wvw/WRichText.h"
#include "wvw/WStyle.h"

namespace wvw {

class WTooltip : public WLayout {
public:
  WTooltip(int maxWidth, plat::Markup::LinkCallback* linkCallback);
  ~WTooltip() override;

  // Plain text, shown as it is (escaped as markup).
  void setText(const char* text);
  void setMarkup(const char* markup);
  void setMaxWidth(int maxWidth);
  int maxWidth() const { return maxWidth_; }
  // Wraps the text at the maximum width and takes its size plus the frame.
  virtual void refit();

  // At point relative to widget's origin, on widget's popup host.
  void showAt(const rfb::Point& point, Widget* widget);
  void hide();

  WRichText& text() { return text_; }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  int maxWidth_;
  WRichText text_;
  WStyle style_;
  WRoot* host_ = nullptr;
};

} // namespace wvw
