// Marked-up text (plat/Markup.h): a label whose text is laid out by
// plat::Markup::Layout into positioned runs with their own fonts, colours,
// underlines and link targets. Links light up under the pointer, activate
// on press and release over the same link, and take keyboard focus one
// after another with Tab and Shift+Tab; Return or space activates the
// focused one.
//
// The link callback is borrowed and may destroy the widget (or its page):
// the widget then touches nothing of itself afterwards. Selection offsets
// count bytes of the concatenated run texts. Loop thread only.
#pragma once

#include <vector>

#include "plat/MarkupParser.h"
#include "wvw/WLabel.h"
#include "wvw/WStyle.h"

namespace wvw {

class WRichText : public WLabel, public plat::Markup::Layout::Callback {
public:
  // One piece of text on one line, in one style.
  struct Run {
    WStyle style;
    int alignment = 0; // of its paragraph: 0 left, 1 centre, 2 right
    int leftIndent = 0;
    int rightIndent = 0;
    bool underline = false;
    plat::String text;
    plat::String link; // null for plain text
    rfb::Rect rect;    // widget coordinates once placed
  };

  static constexpr plat::Colour kLinkColour{56, 56, 200};
  static constexpr plat::Colour kActiveLinkColour{200, 0, 0};

  WRichText(plat::Markup::LinkCallback* linkCallback, const char* markup);

  const std::vector<Run>& runs() const { return runs_; }
  const rfb::Point& layoutSize() const { return layoutSize_; }
  bool hasLinks() const { return hasLinks_; }
  int hoverRun() const { return hoverRun_; }
  int pressedRun() const { return pressedRun_; }
  int focusRun() const { return focusRun_; }
  // The first run containing point, or -1.
  int runAt(const rfb::Point& point) const;

  // --- plat::Markup::Layout::Callback ---
  void beginParagraph(int align, float padLeft, float padRight) override;
  void endParagraph(int padLeftPx, int padRightPx) override;
  void setStyle(const plat::Markup::Style& style, const char* href, const char* text) override;
  int lineHeight() override;
  int paragraphSpacing() override;
  int textWidth(const char* begin, const char* end) override;
  void drawText(const char* begin, const char* end, const plat::Markup::Layout::Rect& rect) override;
  void drawLink(const char* href, const char* begin, const char* end,
                const plat::Markup::Layout::Rect& rect) override;
  void finish() override {}

  // --- WLabel and Widget ---
  using Widget::setStyle;
  void splitLines() override;
  int charIndexAt(const rfb::Point& point) override;
  rfb::Point preferredSize() override;
  int preferredWidth(int height) override;
  int preferredHeight(int width) override;
  void paint(rfb::WritablePixelBuffer& pb) override;
  bool copy(Widget* source) override;
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool pointerLeft(Widget* source) override;

private:
  // Lays the text out at maxWidth (0 = unlimited); keeps the runs unless
  // only measuring. The size used.
  rfb::Point layOut(int maxWidth, bool keepRuns);
  void addRun(const char* href, const char* begin, const char* end, const plat::Markup::Layout::Rect& rect);
  void placeLines();
  bool isLink(int run) const;
  const char* linkOf(int run) const { return isLink(run) ? runs_[run].link.get() : nullptr; }
  // Sets hoverRun_ to the run under the pointer; repaints when a link
  // gained or lost it.
  void updateHover();
  // The next (or previous) link after focusRun_ with another target, or -1.
  int nextLink(bool backward) const;
  // Tells the callback; true when the widget was destroyed meanwhile.
  bool activate(int run);

  plat::Markup::LinkCallback* linkCallback_;
  std::vector<Run> runs_;
  rfb::Point layoutSize_;
  int hoverRun_ = -1;
  int pressedRun_ = -1;
  int focusRun_ = -1;
  int alignment_ = 0;
  size_t paragraphStart_ = 0;
  WStyle runStyle_;
  bool runUnderline_ = false;
  bool hasLinks_ = false;
  bool keepRuns_ = false;
};

} // namespace wvw
