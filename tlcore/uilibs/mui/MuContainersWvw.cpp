#include "mui/MuContainersWvw.h"

#include <algorithm>

#include "plat/Colour.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"

namespace wvw {

void WBgLayout::setFlags(uint32_t flags)
{
  flags_ = flags;
  repaint();
}

void WBgLayout::setBackground(const plat::Colour& colour)
{
  background_ = colour;
  flags_ |= kBackground;
  repaint();
}

void WBgLayout::setTooltip(const char* text)
{
  WLayout::setTooltip(plat::String(text).get());
}

void WBgLayout::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const rfb::Rect all(0, 0, width(), height());
  if (flags_ & kBackground)
    rfb::fillRect(pb, (flags_ & kBordered) ? outsetRect(all, -2) : all, pixel(pb, background_));
  WLayout::paint(pb);
  if (flags_ & kTopLine)
    rfb::fillRect(pb, rfb::Rect(0, 0, width(), 1), pixel(pb, s->bevelFrame));
  if (flags_ & kBottomLine)
    rfb::fillRect(pb, rfb::Rect(0, height() - 1, width(), height()), pixel(pb, s->bevelFrame));
  if (flags_ & kBordered) {
    rfb::drawRectBorder(pb, all, pixel(pb, s->bevelFrame), 1);
    rfb::drawRectBorder(pb, outsetRect(all, -1), pixel(pb, s->bevelLight), 1);
  }
}

} // namespace wvw

namespace mui {

namespace {

plat::Colour backgroundOf(const MuElement* e)
{
  return plat::getColor(e->effectiveStyle().background.get(), plat::Colour{216, 216, 216});
}

} // namespace

void ContainerWvw::addWidget(wvw::WLayout& layout, MuElement* element)
{
  if (wvw::Widget* w = MuCommonWvw::getWidget(element, false))
    layout.addChild(w, nullptr);
}

void ContainerWvw::removeWidget(wvw::WLayout& layout, MuElement* element)
{
  if (wvw::Widget* w = element ? MuCommonWvw::getWidget(element, false) : nullptr)
    layout.removeChild(w);
}

// --- Box layout -------------------------------------------------------------

MuLayoutWvw::MuLayoutWvw(MuContainer* parent, const char* name, uint32_t orientation)
  : MuLayout(parent, name, orientation), layout_(wvw::WLayout::PointerRouting::ToChildren)
{
  layout_.setInputHandler(this);
  layout_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &layout_));
}

MuLayoutWvw::~MuLayoutWvw()
{
  destroyChildren();
  setCommon(nullptr);
}

void MuLayoutWvw::addChild(std::unique_ptr<MuElement> element)
{
  addWidget(layout_, element.get());
  MuLayout::addChild(std::move(element));
  if (hasArea(layout_))
    layoutChildren();
}

void MuLayoutWvw::removeChild(MuElement* element)
{
  removeWidget(layout_, element);
  MuLayout::removeChild(element);
  layoutChildren();
}

void MuLayoutWvw::relayout()
{
  layoutChildren();
  layout_.repaint();
}

bool MuLayoutWvw::resized(wvw::Widget* source)
{
  return layoutOnResize(this, source, &layout_);
}

// --- Frame ------------------------------------------------------------------

MuFrameWvw::MuFrameWvw(MuContainer* parent, const char* name, const char* title, uint32_t type)
  : MuFrame(parent, name, title, type)
{
  if (type == kTitled) {
    layout_ = std::make_unique<wvw::WPanel>(title ? title : "");
    if (title && *title)
      titleSpace_ = 10;
  } else {
    auto background = std::make_unique<wvw::WBgLayout>();
    background_ = background.get();
    layout_ = std::move(background);
    background_->setFlags((uint32_t)(type == kBordered ? wvw::WBgLayout::kBordered
                          : type == kFooter ? wvw::WBgLayout::kTopLine
                          : type == kHeader ? wvw::WBgLayout::kBottomLine
                                            : 0u));
  }
  layout_->setInputHandler(this);
  layout_->setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, layout_.get()));
}

MuFrameWvw::~MuFrameWvw()
{
  destroyChildren();
  setCommon(nullptr);
}

void MuFrameWvw::addChild(std::unique_ptr<MuElement> element)
{
  removeWidget(*layout_, getChild(0));
  addWidget(*layout_, element.get());
  MuFrame::addChild(std::move(element));
  layoutChildren();
}

void MuFrameWvw::removeChild(MuElement* element)
{
  if (element != getChild(0))
    return;
  removeWidget(*layout_, element);
  MuFrame::removeChild(element);
  layoutChildren();
}

void MuFrameWvw::layoutChildren()
{
  MuElement* child = getChild(0);
  if (!child)
    return;
  const Size size = getSize();
  const int b = border();
  child->setPosition(rfb::Point(margin_.x + b, margin_.y + b + titleSpace_));
  child->setSize(Size(size.x - 2 * (margin_.x + b), size.y - 2 * (margin_.y + b) - titleSpace_));
}

void MuFrameWvw::styleChanged()
{
  if (background_)
    background_->setBackground(backgroundOf(this));
  MuFrame::styleChanged();
}

int MuFrameWvw::preferredWidth(int height) const
{
  const int b = border();
  const MuElement* child = getChild(0);
  return 2 * (b + margin_.x) + (child ? child->preferredWidth(height - 2 * (b + margin_.y)) : 0);
}

int MuFrameWvw::preferredHeight(int width) const
{
  const int b = border();
  const MuElement* child = getChild(0);
  return titleSpace_ + 2 * (b + margin_.y) + (child ? child->preferredHeight(width - 2 * (b + margin_.x)) : 0);
}

bool MuFrameWvw::resized(wvw::Widget* source)
{
  return layoutOnResize(this, source, layout_.get());
}

// --- Scroll -----------------------------------------------------------------

MuScrollWvw::MuScrollWvw(MuContainer* parent, const char* name, uint32_t style)
  : MuScroll(parent, name, style), view_(15)
{
  const bool bordered = style & kBordered;
  outer_.setFlags(bordered ? wvw::WBgLayout::kBordered : 0u);
  outer_.insertChild(&view_, rfb::Point(bordered ? 2 : 0, bordered ? 2 : 0), nullptr);
  outer_.setInputHandler(this);
  outer_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &outer_));
}

MuScrollWvw::~MuScrollWvw()
{
  view_.setContent(nullptr);
  destroyChildren();
  setCommon(nullptr);
}

void MuScrollWvw::addChild(std::unique_ptr<MuElement> element)
{
  view_.setContent(MuCommonWvw::getWidget(element.get(), false));
  MuScroll::addChild(std::move(element));
  layoutChildren();
}

void MuScrollWvw::removeChild(MuElement* element)
{
  if (element != getChild(0))
    return;
  view_.setContent(nullptr);
  MuScroll::removeChild(element);
  layoutChildren();
}

void MuScrollWvw::layoutChildren()
{
  const Size size = getSize();
  const Size border = (style_ & kBordered) ? borderWidth() : Size();
  const Size view(size.x - 2 * border.x, size.y - 2 * border.y);
  view_.setSize(view);
  if (MuElement* child = getChild(0))
    child->setSize(fitChild(view).child);
  view_.relayout();
}

void MuScrollWvw::styleChanged()
{
  outer_.setBackground(backgroundOf(this));
  MuScroll::styleChanged();
}

rfb::Point MuScrollWvw::scrollPosition() const
{
  return const_cast<wvw::WScrollView&>(view_).scrollOffset();
}

void MuScrollWvw::setScrollPosition(const rfb::Point& position)
{
  view_.hBar().setValue(position.x);
  view_.vBar().setValue(position.y);
}

bool MuScrollWvw::resized(wvw::Widget* source)
{
  return layoutOnResize(this, source, &outer_);
}

// --- Splitter ---------------------------------------------------------------

MuSplitterWvw::MuSplitterWvw(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed)
  : MuSplitter(parent, name, orientation, thin, fixed),
    custom_(this, wvw::WLayout::PointerRouting::ToChildren),
    orientation_(orientation),
    thin_(thin)
{
  custom_.setInputHandler(this);
  custom_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &custom_));
}

MuSplitterWvw::~MuSplitterWvw()
{
  destroyChildren();
  setCommon(nullptr);
}

void MuSplitterWvw::addChild(std::unique_ptr<MuElement> element)
{
  addWidget(custom_, element.get());
  MuSplitter::addChild(std::move(element));
}

void MuSplitterWvw::removeChild(MuElement* element)
{
  removeWidget(custom_, element);
  MuSplitter::removeChild(element);
}

bool MuSplitterWvw::resized(wvw::Widget* source)
{
  return layoutOnResize(this, source, &custom_);
}

void MuSplitterWvw::paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb)
{
  const bool stacked = orientation_ != 0;
  const int across = stacked ? widget->width() : widget->height();
  auto band = [&](int from, int to, const plat::Colour& c) {
    if (to > from)
      rfb::fillRect(pb, stacked ? rfb::Rect(0, from, across, to) : rfb::Rect(from, 0, to, across),
                    widget->pixel(pb, c));
  };
  for (int i = 0; i + 1 < childCount(); i++) {
    const int x = sashPosition(i), w = sashWidth(i);
    if (!thin_ || w < 2) {
      band(x, x + w, wstyle_.disabledText);
    } else {
      band(x, x + w / 2, wstyle_.contentBg);
      band(x + w / 2, x + w / 2 + 1, wstyle_.disabledText);
      band(x + w / 2 + 1, x + w, wstyle_.contentBg);
    }
  }
  widget->WLayout::paint(pb);
}

rfb::Point MuSplitterWvw::preferredSize(wvw::WCustom*)
{
  return rfb::Point(preferredWidth(-1), preferredHeight(-1));
}

// --- Pager ------------------------------------------------------------------

MuPagerWvw::MuPagerWvw(MuContainer* parent, const char* name, uint32_t kind) : MuPager(parent, name, kind)
{
  if (kind == 0) {
    auto tabs = std::make_unique<wvw::WTabSheets>();
    tabs_ = tabs.get();
    layout_ = std::move(tabs);
    tabs_->addCallback(this);
  } else {
    layout_ = std::make_unique<wvw::WLayout>(wvw::WLayout::PointerRouting::ToChildren);
  }
  layout_->setInputHandler(this);
  layout_->setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, layout_.get()));
}

MuPagerWvw::~MuPagerWvw()
{
  destroyChildren();
  if (tabs_)
    tabs_->removeCallback(this);
  setCommon(nullptr);
}

void MuPagerWvw::addChild(std::unique_ptr<MuElement> element)
{
  MuElement* page = element.get();
  if (!tabs_)
    addWidget(*layout_, page);
  MuPager::addChild(std::move(element));
  if (tabs_) {
    selecting_ = true;
    tabs_->addSheet(page->getLabel() ? page->getLabel() : "", MuCommonWvw::getWidget(page, false));
    tabs_->selectSheet(current());
    selecting_ = false;
  }
  layoutChildren();
}

void MuPagerWvw::removeChild(MuElement* element)
{
  int i = 0;
  while (i < childCount() && getChild(i) != element)
    i++;
  PLAT_ASSERT_TEXT(i < childCount(), "isValid(i)");
  if (tabs_) {
    selecting_ = true;
    tabs_->removeSheet(i);
    selecting_ = false;
  } else {
    removeWidget(*layout_, element);
  }
  MuPager::removeChild(element);
  currentPageChanged();
}

void MuPagerWvw::layoutChildren()
{
  MuPager::layoutChildren();
  if (tabs_) {
    tabs_->setSheetMargin(Mui::scale(4) + Mui::metric(Mui::kFrameMargin));
  } else if (MuElement* page = getChild(current())) {
    page->setPosition(rfb::Point());
    page->setSize(getSize());
  }
}

rfb::Point MuPagerWvw::childOrigin() const
{
  return tabs_ ? rfb::Point(0, tabs_->leftArrow().height() - 1) : rfb::Point();
}

void MuPagerWvw::pageTitleChanged(int index)
{
  if (tabs_)
    tabs_->setTabTitle(index, pageTitle(index) ? pageTitle(index) : "");
}

void MuPagerWvw::currentPageChanged()
{
  if (tabs_ && childCount() > 0) {
    selecting_ = true;
    tabs_->selectSheet(current());
    selecting_ = false;
  }
  layoutChildren();
}

bool MuPagerWvw::mayChange(int, int next)
{
  if (!selecting_ && next >= 0)
    pageSelected(next);
  return true;
}

bool MuPagerWvw::resized(wvw::Widget* source)
{
  return layoutOnResize(this, source, layout_.get());
}

// --- List -------------------------------------------------------------------

MuListWvw::MuListWvw(MuContainer* parent, const char* name, uint32_t styleFlags, int option)
  : MuList(parent, name, styleFlags, option),
    table_(this, ((styleFlags & kHeader) ? wvw::WTable::kHeader : 0u) |
                     ((styleFlags & kKeepSelection) ? wvw::WTable::kKeepSelection : 0u))
{
  table_.setInputHandler(this);
  table_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &table_));
}

MuListWvw::~MuListWvw()
{
  setCommon(nullptr);
}

void MuListWvw::select(int row)
{
  MuList::select(row);
  selecting_ = true;
  table_.setSelection(row, -1);
  selecting_ = false;
}

void MuListWvw::addColumn(uint32_t id, uint32_t kind, const char* title, int width)
{
  MuList::addColumn(id, kind, title, width);
  const int icon = Mui::metric(Mui::kRowHeight);
  table_.addColumn((int)id, kind ? wvw::WTable::kIcon : wvw::WTable::kText, title, width, rfb::Point(icon, icon), 0,
                   1);
}

void MuListWvw::refresh(int selection)
{
  selecting_ = true;
  table_.setRowCount(rowCount());
  table_.relayout();
  selected_ = selection;
  table_.setSelection(selection, -1);
  selecting_ = false;
}

void MuListWvw::insertRow(int index)
{
  if (index < 0 || index > rowCount())
    index = rowCount();
  MuList::insertRow(index);
  refresh(selected_ >= 0 && index <= selected_ ? selected_ + 1 : selected_);
}

void MuListWvw::removeRow(int index)
{
  if (index < 0 || index >= rowCount())
    return;
  MuList::removeRow(index);
  refresh(index == selected_ ? -1 : index < selected_ ? selected_ - 1 : selected_);
}

void MuListWvw::clearRows()
{
  MuList::clearRows();
  refresh(-1);
}

void MuListWvw::setCell(int row, uint32_t columnId, const char* text)
{
  PLAT_ASSERT_TEXT(columnIndex(columnId) >= 0, "col >= 0");
  storeCell(row, columnId, text);
  table_.relayout();
  table_.repaint();
}

void MuListWvw::showRow(int row)
{
  if (row < 0 || row >= rowCount() || table_.rowHeight() <= 0)
    return;
  const int visible = (table_.height() - 2 * wvw::WTable::kBorder - table_.headerHeight()) / table_.rowHeight();
  const int first = table_.firstVisibleRow();
  if (row > first + visible - 1)
    table_.scrollbar().setValue(row - visible + 1);
  else if (row < first)
    table_.scrollbar().setValue(row);
}

int MuListWvw::preferredWidth(int) const
{
  int width = 20;
  tlutil::Font* font = wstyle_.font ? wstyle_.font : wvw::WStyle::getDefault().font;
  for (int c = 0; c < columnCount(); c++) {
    if (table_.columns()[c].kind != wvw::WTable::kText) {
      width += Mui::scale(32) + 4;
      continue;
    }
    int widest = 0;
    for (int r = 0; r < rowCount(); r++)
      widest = std::max(widest, font->textWidth(cell(r, c) ? cell(r, c) : ""));
    width += widest + 2 * wvw::WTable::kCellPadX;
  }
  return width;
}

const char* MuListWvw::cellText(wvw::WTable*, int row, int columnId)
{
  const int col = columnIndex(columnId);
  PLAT_ASSERT_TEXT(row >= 0 && row < rowCount(), "isValidRow(row)");
  PLAT_ASSERT_TEXT(col >= 0 && col < columnCount(), "col >= 0 && col < (int)cols.size()");
  return cell(row, col);
}

rfb::PixelBuffer* MuListWvw::cellIcon(wvw::WTable* table, int row, int columnId)
{
  const char* name = cellText(table, row, columnId);
  if (!name || !*name)
    return nullptr;
  const int size = Mui::metric(Mui::kRowHeight);
  icon_ = tlutil::NamedImagePixelBuffer::get(name, rfb::Point(size, size));
  return icon_.get();
}

void MuListWvw::doubleClicked(wvw::WTable*, int, int)
{
  notify(this, kRowSecondary);
}

bool MuListWvw::valueChanged(wvw::Widget* source)
{
  if (source != &table_)
    return false;
  if (!selecting_) {
    selected_ = table_.selectedRow();
    notify(this, kChanged);
  }
  return true;
}

bool MuListWvw::activated(wvw::Widget* source)
{
  if (source != &table_)
    return false;
  notify(this, kActivated);
  return true;
}

} // namespace mui
