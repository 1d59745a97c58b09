// The widget back-ends of the container kinds and the list: each owns one
// container widget and keeps the widgets of its child elements in it, in
// step with the element tree. A child's widget joins the container widget
// before the element is added (so the element can place it) and leaves it
// before the element is deleted. Loop thread only.
#pragma once

#include <memory>

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuiWvw.h"
#include "wvw/WLabelWidget.h"
#include "wvw/WTabSheets.h"
#include "wvw/WTable.h"

namespace wvw {

// A layout with an optional background, a line at its top or bottom and an
// optional etched outline.
class WBgLayout : public WLayout {
public:
  enum Flags : uint32_t { kBordered = 1, kTopLine = 2, kBottomLine = 4, kBackground = 8 };

  WBgLayout() : WLayout(PointerRouting::ToChildren) {}
  void setFlags(uint32_t flags);
  uint32_t flags() const { return flags_; }
  void setBackground(const plat::Colour& colour);
  void setTooltip(const char* text) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  uint32_t flags_ = 0;
  plat::Colour background_;
};

} // namespace wvw

namespace mui {

// What every container back-end shares: the style copy, and the child
// widgets kept in a container widget.
class ContainerWvw : public wvw::WInputHandler {
protected:
  ContainerWvw() : wstyle_(MuiWvw::instance().getStyle()) {}
  // Puts the element's widget (if any) into layout.
  static void addWidget(wvw::WLayout& layout, MuElement* element);
  static void removeWidget(wvw::WLayout& layout, MuElement* element);
  // Lays out unless the element's own setSize is under way (it lays out
  // itself) or the widget has no area yet.
  template <class Element> bool layoutOnResize(Element* e, wvw::Widget* source, const wvw::Widget* own)
  {
    if (source != own)
      return false;
    if (!sizing_)
      e->layoutChildren();
    return true;
  }
  template <class Element> void sizeTo(Element* e, const Size& size)
  {
    sizing_ = true;
    e->Element::setSize(size);
    sizing_ = false;
  }
  static bool hasArea(const wvw::Widget& w) { return w.width() > 0 && w.height() > 0; }
  wvw::WStyle wstyle_;
  bool sizing_ = false;
};

class MuLayoutWvw : public MuLayout, public ContainerWvw {
public:
  MuLayoutWvw(MuContainer* parent, const char* name, uint32_t orientation);
  ~MuLayoutWvw() override;

  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void relayout() override;
  void setSize(const Size& size) override { sizeTo<MuLayout>(this, size); }
  bool resized(wvw::Widget* source) override;

  wvw::WLayout& widget() { return layout_; }

private:
  wvw::WLayout layout_;
};

class MuFrameWvw : public MuFrame, public ContainerWvw {
public:
  MuFrameWvw(MuContainer* parent, const char* name, const char* title, uint32_t type);
  ~MuFrameWvw() override;

  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  void styleChanged() override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  void setSize(const Size& size) override { sizeTo<MuFrame>(this, size); }
  bool resized(wvw::Widget* source) override;

  wvw::WLayout& widget() { return *layout_; }
  wvw::WBgLayout* background() { return background_; }

private:
  int border() const { return type_ == kTitled || type_ == kBordered ? 2 : 0; }

  std::unique_ptr<wvw::WLayout> layout_;
  wvw::WBgLayout* background_ = nullptr;
  int titleSpace_ = 0;
};

class MuScrollWvw : public MuScroll, public ContainerWvw {
public:
  MuScrollWvw(MuContainer* parent, const char* name, uint32_t style);
  ~MuScrollWvw() override;

  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  void styleChanged() override;
  rfb::Point scrollPosition() const override;
  void setScrollPosition(const rfb::Point& position) override;
  Size borderWidth() const override { return Size(2, 2); }
  int horizontalBarHeight() const override { return wvw::WScrollView::kBarThickness; }
  int verticalBarWidth() const override { return wvw::WScrollView::kBarThickness; }
  void setSize(const Size& size) override { sizeTo<MuScroll>(this, size); }
  bool resized(wvw::Widget* source) override;

  wvw::WBgLayout& widget() { return outer_; }
  wvw::WScrollView& view() { return view_; }

private:
  wvw::WBgLayout outer_;
  wvw::WScrollView view_;
};

class MuSplitterWvw : public MuSplitter, public ContainerWvw, public wvw::WCustom::Callback {
public:
  MuSplitterWvw(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed);
  ~MuSplitterWvw() override;

  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void dragStarted() override {}
  void dragEnded() override {}
  void setSize(const Size& size) override { sizeTo<MuSplitter>(this, size); }
  bool resized(wvw::Widget* source) override;

  void paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb) override;
  rfb::Point preferredSize(wvw::WCustom* widget) override;
  bool wantsFocus(wvw::WCustom* widget) override { return widget->WLayout::wantsFocus(); }

  wvw::WCustom& widget() { return custom_; }

private:
  wvw::WCustom custom_;
  uint32_t orientation_;
  bool thin_;
};

class MuPagerWvw : public MuPager, public ContainerWvw, public wvw::WTabSheets::Callback {
public:
  MuPagerWvw(MuContainer* parent, const char* name, uint32_t kind);
  ~MuPagerWvw() override;

  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  rfb::Point childOrigin() const override;
  void pageTitleChanged(int index) override;
  void currentPageChanged() override;
  void setSize(const Size& size) override { sizeTo<MuPager>(this, size); }
  bool resized(wvw::Widget* source) override;
  bool mayChange(int current, int next) override;

  wvw::WLayout& widget() { return *layout_; }
  wvw::WTabSheets* tabs() { return tabs_; }

private:
  std::unique_ptr<wvw::WLayout> layout_;
  wvw::WTabSheets* tabs_ = nullptr;
  bool selecting_ = false;
};

class MuListWvw : public MuList, public ContainerWvw, public wvw::WTable::Callback {
public:
  enum Flags : uint32_t { kHeader = 1, kKeepSelection = 8 };

  MuListWvw(MuContainer* parent, const char* name, uint32_t styleFlags, int option);
  ~MuListWvw() override;

  void select(int row) override;
  void addColumn(uint32_t id, uint32_t kind, const char* title, int width) override;
  void insertRow(int index) override;
  void removeRow(int index) override;
  void clearRows() override;
  void setCell(int row, uint32_t columnId, const char* text) override;
  int preferredWidth(int height) const override;
  // Scrolls the row into view.
  void showRow(int row);

  // --- The table ---
  const char* cellText(wvw::WTable* table, int row, int columnId) override;
  rfb::PixelBuffer* cellIcon(wvw::WTable* table, int row, int columnId) override;
  bool canSelect(wvw::WTable*, int) override { return true; }
  bool paintCell(wvw::WTable*, int, int, rfb::WritablePixelBuffer&, const rfb::Rect&) override { return false; }
  bool cellStyle(wvw::WTable*, int, int, plat::Markup::Style&) override { return false; }
  void doubleClicked(wvw::WTable* table, int row, int columnId) override;
  bool valueChanged(wvw::Widget* source) override;
  bool activated(wvw::Widget* source) override;
  using MuObserver::activated;

  wvw::WTable& widget() { return table_; }

private:
  // Row count and layout refreshed, then the selection restored.
  void refresh(int selection);

  wvw::WTable table_;
  plat::SharedHandle<tlutil::NamedImagePixelBuffer> icon_;
  bool selecting_ = false;
};

} // namespace mui
