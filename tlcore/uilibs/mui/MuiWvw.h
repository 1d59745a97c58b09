// The widget back-end of the UI model: the Mui singleton that stands for it,
// the adapter through which every element drives the one widget that shows
// it, and the binding of the element factories to the back-end's creators.
//
// Each element object of this back-end derives from its kind, owns the
// widgets that show it and a copy of the back-end's style record, and
// attaches a MuCommonWvw over its top widget. The adapter does not own the
// widget; the element deletes the adapter before its widgets go. The
// program's entry makes one static MuiWvw the instance and binds the
// factories before any element is built. Loop thread only.
#pragma once

#include "mui/Mui.h"
#include "wvw/WStyle.h"
#include "wvw/Widget.h"

namespace mui {

class MuCommonWvw : public MuCommon {
public:
  // Every pointer gesture the widget receives is offered to element first.
  MuCommonWvw(MuElement* element, wvw::Widget* widget);

  void setShown(bool shown) override { widget_->setVisible(shown); }
  bool isShown() const override { return widget_->isVisible(); }
  void setEnabled(bool enabled) override { widget_->setEnabled(enabled); }
  void setFocus() override { widget_->setFocus(); }
  bool hasFocus() const override { return widget_->hasFocus(); }
  void setTooltip(const char* text) override { widget_->setTooltip(text); }
  void setSize(const Size& size) override { widget_->setSize(size); }
  Size getSize() const override { return widget_->getSize(); }
  int preferredWidth(int height) const override { return widget_->preferredWidth(height); }
  int preferredHeight(int width) const override { return widget_->preferredHeight(width); }
  // The widget must sit in a layout.
  void setPosition(const rfb::Point& position) override { widget_->setPosition(position); }
  // Plus the parent element's child origin.
  rfb::Point getPosition() const override;
  void styleChanged() override {}
  void ensureVisible(const rfb::Rect& rect) override;
  // Coordinates clamped to 16 bits.
  void invalidate(const rfb::Rect& rect) override;

  wvw::Widget* widget() const { return widget_; }
  // The widget behind element: null when it has no back-end of this kind,
  // a fatal assertion then when assertCommon is set.
  static wvw::Widget* getWidget(const MuElement* element, bool assertCommon);

private:
  MuElement* element_;
  wvw::Widget* widget_;
};

class MuiWvw : public Mui {
public:
  // Measures the check-box indicator into the last metric.
  MuiWvw();
  ~MuiWvw() override;

  // The instance, which must be a MuiWvw.
  static MuiWvw& instance();
  // The style every new element copies; with `_DebugLayout` each call
  // answers a new random background.
  wvw::WStyle getStyle() const;

  // Binds all twenty factories to this back-end's creators.
  static void bindFactories();

private:
  wvw::WStyle style_;
};

} // namespace mui
