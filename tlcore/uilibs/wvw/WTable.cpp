#include "wvw/WTable.h"

#include <algorithm>

#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {

constexpr uint32_t kUp = 0xFF52, kDown = 0xFF54;

} // namespace

WTable::Callback::~Callback() = default;

WTable::WTable(Callback* callback, uint32_t options)
    : WLayout(PointerRouting::ToChildren), callback_(callback), hasHeader_((options & kHeader) != 0),
      keepSelection_((options & kKeepSelection) != 0), scrollbar_(false, 1), clickTimer_(this)
{
  addChild(&scrollbar_, nullptr);
  relayout();
}

WTable::~WTable()
{
  clickTimer_.stop();
}

// --- Columns ---------------------------------------------------------------------------

void WTable::addColumn(int id, uint32_t kind, const char* title, int width, const rfb::Point& iconSize, int hAlign,
                       int vAlign)
{
  const rfb::Point icon = iconSize.x == 0 && iconSize.y == 0 ? rfb::Point(16, 16) : iconSize;
  columns_.push_back(Column{id, kind, plat::String(title), width, icon, hAlign, vAlign});
  relayout();
}

void WTable::removeColumn(int id)
{
  const int i = columnIndex(id);
  if (i < 0)
    return;
  columns_.erase(columns_.begin() + i);
  // The selection stays on its column: an index past a removed one drops.
  if (selectedColumn_ == i)
    selectedColumn_ = -1;
  else if (selectedColumn_ > i)
    selectedColumn_--;
  relayout();
}

int WTable::columnIndex(int id) const
{
  for (size_t i = 0; i < columns_.size(); i++) {
    if (columns_[i].id == id)
      return (int)i;
  }
  return -1;
}

int WTable::columnWidth(const Column& c) const
{
  if (c.width >= 0)
    return c.width;
  return c.kind == kIcon ? 2 * kIconPadX + c.iconSize.x : autoWidth_;
}

// --- Layout ----------------------------------------------------------------------------

void WTable::setRowCount(int count)
{
  rowCount_ = std::max(count, 0);
  selectedRow_ = -1;
  relayout();
}

void WTable::relayout()
{
  const tlutil::Font* font = getStyle()->font;
  rowHeight_ = (font ? font->lineHeight : 0) + 2 * kCellPadY;
  headerHeight_ = hasHeader_ ? rowHeight_ : 0;
  for (const Column& c : columns_) {
    if (c.kind == kIcon)
      rowHeight_ = std::max(rowHeight_, 2 * kIconPadY + c.iconSize.y);
  }
  const int W = width(), H = height();
  visibleRows_ = rowHeight_ > 0 ? (H - 2 * kBorder - headerHeight_) / rowHeight_ : 0;
  const int V = std::max(visibleRows_, 0);
  const bool needed = rowCount_ > V;

  int64_t free = (int64_t)W - 2 * kBorder - (needed ? kScrollbarWidth : 0);
  int autoCount = 0;
  for (const Column& c : columns_) {
    if (c.width >= 0)
      free -= c.width;
    else if (c.kind == kIcon)
      free -= 2 * kIconPadX + c.iconSize.x;
    else
      autoCount++;
  }
  free = std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, free));
  autoWidth_ = autoCount ? (int)(free / autoCount) : (int)free;

  plat::DestroyGuard guard(liveness_);
  scrollbar_.setRange(rowCount_ - V, V);
  if (guard.destroyed())
    return;
  setChildRect(&scrollbar_, rfb::Rect(W - kBorder - kScrollbarWidth, kBorder + (hasHeader_ ? rowHeight_ : 0),
                                      W - kBorder, H - kBorder));
  scrollbar_.setVisible(needed);
  repaint();
}

// --- Selection -------------------------------------------------------------------------

void WTable::setSelection(int row, int columnId)
{
  if (row == selectedRow_ && columnId == selectedColumnId())
    return;
  plat::DestroyGuard guard(liveness_);
  const bool selectable = row >= 0 && row < rowCount_ && callback_->canSelect(this, row);
  if (guard.destroyed())
    return;
  selectedRow_ = selectable ? row : -1;
  selectedColumn_ = columnIndex(columnId);
  if (selectedRow_ >= 0) {
    const int first = scrollbar_.value(), V = visibleRows_;
    if (selectedRow_ < first)
      scrollbar_.setValue(selectedRow_);
    else if (V <= 0)
      scrollbar_.setValue(selectedRow_);
    else if (selectedRow_ >= std::min(first + V, rowCount_))
      scrollbar_.setValue(selectedRow_ - V + 1);
    if (guard.destroyed())
      return;
  }
  repaint();
  valueChanged(this);
}

bool WTable::moveSelection(int delta)
{
  int candidate = selectedRow_ + delta;
  plat::DestroyGuard guard(liveness_);
  while (candidate >= 0 && candidate < rowCount_ && !callback_->canSelect(this, candidate)) {
    if (guard.destroyed())
      return false;
    candidate += delta;
  }
  if (guard.destroyed() || candidate >= rowCount_)
    return false;
  if (candidate < 0) {
    scrollbar_.setValue(0);
    return false;
  }
  setSelection(candidate, selectedColumnId());
  return true;
}

// --- Input -----------------------------------------------------------------------------

bool WTable::hitTest(const rfb::Point& p, Hit* hit)
{
  *hit = Hit();
  if (p.x < kBorder || p.x >= width() - kBorder - scrollbarShownWidth() || p.y < kBorder + headerHeight_ ||
      p.y >= height() - kBorder || rowHeight_ <= 0)
    return false;
  const int64_t row = (int64_t)(p.y - kBorder - headerHeight_) / rowHeight_ + scrollbar_.value();
  if (row < 0 || row >= rowCount_)
    return true;
  hit->row = (int)row;
  // No columns: no column, never "the last" of none.
  int offset = p.x - kBorder;
  for (size_t i = 0; i < columns_.size(); i++) {
    const int w = columnWidth(columns_[i]);
    if (offset < w || i + 1 == columns_.size()) {
      hit->columnId = columns_[i].id;
      break;
    }
    offset -= w;
  }
  return true;
}

bool WTable::buttonDown(int button, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (button == 3 || button == 4) {
    const bool moved = moveSelection(button == 3 ? -1 : 1);
    return guard.destroyed() || moved;
  }
  if (button == 0 && source == this) {
    Hit hit;
    if (hitTest(getPointerPos(), &hit)) {
      const bool selectable = hit.row >= 0 && callback_->canSelect(this, hit.row);
      if (guard.destroyed())
        return true;
      if (selectable || !keepSelection_)
        setSelection(hit.row, hit.columnId);
      if (guard.destroyed())
        return true;
    }
  }
  return WLayout::buttonDown(button, source);
}

bool WTable::buttonUp(int button, Widget* source)
{
  Hit hit;
  if (button == 0 && source == this && hitTest(getPointerPos(), &hit) && hit.row >= 0) {
    plat::DestroyGuard guard(liveness_);
    if (clickTimer_.isStarted() && hit.row == lastClickRow_ && hit.columnId == lastClickColumn_) {
      clickTimer_.stop();
      callback_->doubleClicked(this, hit.row, hit.columnId);
    } else {
      lastClickRow_ = hit.row;
      lastClickColumn_ = hit.columnId;
      clickTimer_.start(doubleClickTime);
      activated(this);
    }
    if (guard.destroyed())
      return true;
  }
  return WLayout::buttonUp(button, source);
}

bool WTable::timerExpired(plat::Timer* timer)
{
  if (timer == &clickTimer_)
    return false;
  return WLayout::timerExpired(timer);
}

bool WTable::key(uint32_t keysym, bool down, Widget* source)
{
  if (source == this && (keysym == kUp || keysym == kDown)) {
    if (down)
      moveSelection(keysym == kUp ? -1 : 1);
    return true;
  }
  return WLayout::key(keysym, down, source);
}

bool WTable::focusChanged(bool backward, Widget* source)
{
  if (source == this)
    repaint();
  return WLayout::focusChanged(backward, source);
}

bool WTable::valueChanged(Widget* source)
{
  if (source == &scrollbar_.slider())
    repaint();
  return WLayout::valueChanged(source);
}

bool WTable::resized(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == this)
    relayout();
  return guard.destroyed() || WLayout::resized(source);
}

// --- Painting --------------------------------------------------------------------------

void WTable::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const int W = width(), H = height();
  const int bodyTop = kBorder + headerHeight_, bodyRight = W - kBorder - scrollbarShownWidth();

  if (hasHeader_) {
    // The header sits on the window's background, as the frame round it.
    rfb::fillRect(pb, rfb::Rect(kBorder, kBorder, W - kBorder, bodyTop), pixel(pb, s->bg));
    int x = kBorder;
    for (size_t i = 0; i < columns_.size(); i++) {
      const Column& c = columns_[i];
      const int x1 = x + columnWidth(c);
      if (c.title.get() && s->font) {
        const rfb::Rect cell(x, kBorder, x1, bodyTop);
        rfb::FullFramePixelBuffer view(pb, cell);
        s->font->drawTextInRect(view, c.title.get(),
                                rfb::Rect(kCellPadX, kCellPadY, cell.width() - kCellPadX, cell.height() - kCellPadY),
                                pixel(pb, s->contentText), c.hAlign, 0);
      }
      if (i + 1 < columns_.size()) {
        rfb::fillRect(pb, rfb::Rect(x1 - 1, kBorder, x1, bodyTop), pixel(pb, s->bevelFrame));
        rfb::fillRect(pb, rfb::Rect(x1, kBorder, x1 + 1, bodyTop), pixel(pb, s->bevelLight));
      }
      x = x1;
    }
  }

  const rfb::Rect body(kBorder, bodyTop, bodyRight, H - kBorder);
  rfb::fillRect(pb, body, pixel(pb, s->contentBg));
  if (rowHeight_ > 0) {
    plat::DestroyGuard guard(liveness_);
    for (int row = scrollbar_.value(); row < rowCount_; row++) {
      const int top = bodyTop + (row - scrollbar_.value()) * rowHeight_;
      if (top >= body.bottomRight.y)
        break;
      paintRow(pb, row, rfb::Rect(body.topLeft.x, top, body.bottomRight.x, top + rowHeight_));
      if (guard.destroyed())
        return;
    }
  }

  WLayout::paint(pb);
  const rfb::Rect all(0, 0, W, H);
  rfb::drawRectBorder(pb, all, pixel(pb, s->bg), kBorder);
  drawBevel(pb, all, Bevel::Raised);
  drawFocusRing(pb, all);
}

void WTable::paintRow(rfb::WritablePixelBuffer& pb, int row, const rfb::Rect& rect)
{
  const WStyle* s = getStyle();
  const bool selected = row == selectedRow_;
  if (selected)
    rfb::fillRect(pb, rect, pixel(pb, s->selectionBg));
  plat::DestroyGuard guard(liveness_);
  if (callback_->paintCell(this, row, -1, pb, rect) || guard.destroyed())
    return;
  int x = rect.topLeft.x;
  for (size_t i = 0; i < columns_.size(); i++) {
    // Copied: the callback may change the columns.
    const Column c = columns_[i];
    const rfb::Rect cell(x, rect.topLeft.y, x + columnWidth(c), rect.bottomRight.y);
    x = cell.bottomRight.x;
    if (callback_->paintCell(this, row, c.id, pb, cell) || guard.destroyed()) {
      if (guard.destroyed())
        return;
      continue;
    }
    if (c.kind == kIcon) {
      rfb::PixelBuffer* icon = callback_->cellIcon(this, row, c.id);
      if (guard.destroyed())
        return;
      if (!icon)
        continue;
      const int w = std::min(c.iconSize.x, icon->rect.width()), h = std::min(c.iconSize.y, icon->rect.height());
      const int ix = cell.topLeft.x + kIconPadX + (cell.width() - 2 * kIconPadX - w) * c.hAlign / 2;
      const int iy = cell.topLeft.y + kIconPadY + (cell.height() - 2 * kIconPadY - h) * c.vAlign / 2;
      rfb::blendImage(*icon, icon->rect.topLeft, pb, rfb::Rect(ix, iy, ix + w, iy + h));
      continue;
    }
    plat::Markup::Style request(0, plat::Markup::Style::kNormalSize, plat::Markup::Style::kNormalWeight);
    const bool own = callback_->cellStyle(this, row, c.id, request);
    if (guard.destroyed())
      return;
    plat::Colour colour;
    const char* bgName = request.background.get();
    if (!selected && bgName && *bgName && plat::findColor(bgName, colour))
      rfb::fillRect(pb, cell, pixel(pb, colour));
    const char* fgName = request.color.get();
    if (selected)
      colour = s->selectedText;
    else if (!(fgName && *fgName && plat::findColor(fgName, colour)))
      colour = s->contentText;
    WStyle cellStyle;
    tlutil::Font* font = own ? WStyle::fromSpec(cellStyle, request).font : s->font;
    const char* text = callback_->cellText(this, row, c.id);
    if (guard.destroyed())
      return;
    if (!text || !font)
      continue;
    rfb::FullFramePixelBuffer view(pb, cell);
    font->drawTextInRect(view, text,
                         rfb::Rect(kCellPadX, kCellPadY, cell.width() - kCellPadX, cell.height() - kCellPadY),
                         pixel(pb, colour), c.hAlign, c.vAlign);
  }
}

} // namespace wvw
