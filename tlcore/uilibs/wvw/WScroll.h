// Scrolling: the one-axis scrollbar (two arrow buttons and a slider, with
// auto-repeat while an arrow is held) and the scroll view, which shows one
// content widget through a viewport and brings in a bar on each axis where
// the content does not fit.
//
// The scroll view owns its viewport and bars, never the content; the
// content sits at the negated slider values inside the viewport. A
// scrollbar's repeat runs on the thread's timer manager and stops when the
// bar is destroyed. Loop thread only.
#pragma once

#include "wvw/WButton.h"
#include "wvw/WSlider.h"

namespace wvw {

class WScrollbar : public WLayout {
public:
  static constexpr int kGrey = 184;
  static constexpr int kFirstRepeat = 300;
  static constexpr int kFastestRepeat = 100;

  WScrollbar(bool horizontal, int step);
  ~WScrollbar() override;

  // --- The position along the bar ---
  int value() const;
  void setValue(int value);
  // Range below 0 becomes 0 (pulling the value back).
  void setRange(int range, int page);
  int range() const;
  int step() const { return step_; }
  bool isHorizontal() const { return horizontal_; }

  WSlider& slider() { return slider_; }
  WBevelButton& lessButton() { return lessButton_; }
  WBevelButton& moreButton() { return moreButton_; }
  const plat::Timer& repeatTimer() const { return repeatTimer_; }

  bool activated(Widget* source) override;
  bool valueChanged(Widget* source) override;
  bool resized(Widget* source) override;
  bool timerExpired(plat::Timer* timer) override;
  bool wantsFocus() override { return false; }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  // An arrow button that never takes the focus.
  class Arrow : public WIconButton {
  public:
    explicit Arrow(const uint8_t* bits) : WIconButton(bits, rfb::Point(8, 8)) {}
    bool wantsFocus() override { return false; }
  };

  // Moves the value by delta along the axis (clamped).
  void stepBy(int delta);

  WSlider slider_;
  bool horizontal_;
  int step_;
  Arrow lessButton_;
  Arrow moreButton_;
  plat::Timer repeatTimer_;
};

class WScrollView : public WLayout {
public:
  static constexpr int kBarThickness = 16;

  explicit WScrollView(int step);
  ~WScrollView() override;

  // Replaces the content (not owned; null detaches it) and relays out.
  void setContent(Widget* content);
  Widget* getContent() const { return content_; }
  WLayout& viewport() { return viewport_; }
  WScrollbar& hBar() { return hBar_; }
  WScrollbar& vBar() { return vBar_; }
  // The scroll offset (horizontal value, vertical value).
  rfb::Point scrollOffset() const { return rfb::Point(hBar_.value(), vBar_.value()); }
  void relayout();

  // rect arrives in viewport coordinates; never passed further up.
  void showChildRect(Widget* child, const rfb::Rect& rect) override;
  bool attached(Widget* source) override;
  bool resized(Widget* source) override;
  bool valueChanged(Widget* source) override;
  bool buttonDown(int button, Widget* source) override;

private:
  // The viewport forgets a content destroyed while it is shown.
  class Viewport : public WLayout {
  public:
    explicit Viewport(WScrollView* view) : WLayout(PointerRouting::ToChildren), view_(view) {}

  protected:
    void childDestroyed(Widget* child) override;

  private:
    WScrollView* view_;
  };

  void placeContent();

  Widget* content_ = nullptr;
  Viewport viewport_;
  WScrollbar hBar_;
  WScrollbar vBar_;
};

} // namespace wvw
