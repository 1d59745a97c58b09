#include "wvw/WTabSheets.h"

#include <algorithm>
#include <cmath>

#include "plat/Exception.h"
#include "rfb/PixDraw.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {

constexpr uint32_t kTab = 0xFF09, kLeftTab = 0xFE20;
const char* const kSheetsBound = "index < (int)sheets.size()";

void fill(WLayout& w, rfb::WritablePixelBuffer& pb, const rfb::Rect& r, const plat::Colour& c)
{
  rfb::fillRect(pb, r, w.pixel(pb, c));
}

} // namespace

// --- WTab ------------------------------------------------------------------------------

WTab::WTab(const char* title) : label_(title, WLabel::kCentre)
{
  label_.setMargin(0);
  label_.setTransparent(true);
  label_.setAlignment(WLabel::kCentre, WLabel::kCentre);
  setContent(&label_);
}

void WTab::setSelected(bool selected)
{
  if (selected == selected_)
    return;
  selected_ = selected;
  repaint();
}

rfb::Point WTab::preferredSize()
{
  if (!getContent())
    return rfb::Point(6, 10);
  return label_.preferredSize().translate(rfb::Point(6, 10));
}

bool WTab::resized(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  const bool taken = WBevelButton::resized(source);
  if (guard.destroyed())
    return true;
  if (source == this && getContent())
    setChildRect(&label_, rfb::Rect(3, 3, width() - 3, height() - 4));
  return taken;
}

void WTab::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const int w = width(), h = height();
  const int top = isPressed() || selected_ ? kFaceTop : kFaceUnselected;
  const int t[3] = {top, top, top}, b[3] = {s->bg.r, s->bg.g, s->bg.b};
  rfb::fillVerticalGradient(pb, rfb::Rect(2, 2, w - 2, h - 5), t, b);
  WButton::paint(pb);
  const int d = selected_ ? 0 : 1;
  rfb::drawRoundedRect(pb, rfb::Rect(1, 1 + d, w - 1, h - 1 + d), 2, pixel(pb, s->bevelLight));
  const rfb::Rect frame(0, d, w, h + d);
  if (!(wantsFocus() && drawFocusRing(pb, frame)))
    rfb::drawRoundedRect(pb, frame, 3, pixel(pb, s->bevelFrame));
}

// --- WSheet ----------------------------------------------------------------------------

WSheet::WSheet(Widget* content) : WLayout(PointerRouting::ToChildren), content_(content)
{
  if (content_) {
    insertChild(content_, rfb::Point(margin_, margin_), nullptr);
    setSize(content_->preferredSize().translate(rfb::Point(2 * margin_, 2 * margin_)));
  }
}

void WSheet::childDestroyed(Widget* child)
{
  if (child == content_)
    content_ = nullptr;
}

void WSheet::setMargin(int margin)
{
  margin_ = margin;
  if (content_)
    setChildRect(content_, rfb::Rect(margin_, margin_, width() - margin_, height() - margin_));
}

rfb::Point WSheet::preferredSize()
{
  const rfb::Point c = content_ ? content_->preferredSize() : rfb::Point(0, 0);
  return c.translate(rfb::Point(2 * margin_, 2 * margin_));
}

bool WSheet::resized(Widget* source)
{
  if (source == this && content_)
    setChildRect(content_, rfb::Rect(margin_, margin_, width() - margin_, height() - margin_));
  return WLayout::resized(source);
}

void WSheet::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  WLayout::paint(pb);
  const rfb::Rect all(0, 0, width(), height());
  rfb::drawRoundedRect(pb, outsetRect(all, -1), 2, pixel(pb, s->bevelLight));
  rfb::drawRoundedRect(pb, all, 3, pixel(pb, s->bevelFrame));
  // The join: the frame is opened under the selected tab.
  const int a = stripOffset_ + tabRect_.topLeft.x, b = stripOffset_ + tabRect_.bottomRight.x;
  fill(*this, pb, rfb::Rect(a + 2, 0, b - 2, 2), s->bg);
  if (stripOffset_ == 0)
    fill(*this, pb, rfb::Rect(0, 0, 1, 3), s->bevelFrame);
  fill(*this, pb, rfb::Rect(a, 0, a + 1, 2), s->bevelFrame);
  fill(*this, pb, rfb::Rect(a + 1, 0, a + 2, 3), s->bevelLight);
  fill(*this, pb, rfb::Rect(b - 1, 0, b, 2), s->bevelFrame);
  fill(*this, pb, rfb::Rect(b - 2, 0, b - 1, 3), s->bevelLight);
}

// --- WTabSheets ------------------------------------------------------------------------

WTabSheets::Callback::~Callback() = default;

WTabSheets::WTabSheets()
    : WLayout(PointerRouting::ToChildren), leftArrow_(WArrow::kLeft), rightArrow_(WArrow::kRight)
{
  leftArrow_.setSize(rfb::Point(0, 0));
  rightArrow_.setSize(rfb::Point(0, 0));
  addChild(&strip_, nullptr);
  relayout();
}

WTabSheets::~WTabSheets() = default;

void WTabSheets::checkIndex(int index, size_t size, const char* bound) const
{
  PLAT_ASSERT(index >= 0);
  PLAT_ASSERT_TEXT(index < (int)size, bound);
}

int WTabSheets::addSheet(const char* title, Widget* content, int index)
{
  std::unique_ptr<WTab> tab(new WTab(title));
  tab->setSize(tab->preferredSize().translate(rfb::Point(6, 4)));
  if (leftArrow_.height() == 0) {
    const int h = tab->height();
    const rfb::Point size((int)std::lround(h * 0.85), h);
    leftArrow_.setSize(size);
    rightArrow_.setSize(size);
  }
  if (index < 0 || index > (int)sheets_.size())
    index = (int)sheets_.size();
  strip_.addChild(tab.get(), index < (int)tabs_.size() ? tabs_[index].get() : nullptr);
  tabs_.insert(tabs_.begin() + index, std::move(tab));
  sheets_.insert(sheets_.begin() + index, std::unique_ptr<WSheet>(new WSheet(content)));
  // The current sheet stays current.
  if (current_ >= index)
    current_++;
  relayout();
  return index;
}

void WTabSheets::removeSheet(int index)
{
  checkIndex(index, sheets_.size(), kSheetsBound);
  std::unique_ptr<WSheet> sheet = std::move(sheets_[index]);
  std::unique_ptr<WTab> tab = std::move(tabs_[index]);
  sheets_.erase(sheets_.begin() + index);
  tabs_.erase(tabs_.begin() + index);
  if (sheet->getParentLayout() == this)
    removeChild(sheet.get());
  sheet.reset();
  strip_.removeChild(tab.get());
  tab.reset();
  if (current_ == index)
    current_ = -1;
  else if (current_ > index)
    current_--;
  relayout();
  repaint();
}

WSheet* WTabSheets::sheetAt(int index)
{
  checkIndex(index, sheets_.size(), kSheetsBound);
  return sheets_[index].get();
}

WTab* WTabSheets::tabAt(int index)
{
  checkIndex(index, sheets_.size(), kSheetsBound);
  return tabs_[index].get();
}

void WTabSheets::removeCallback(Callback* callback)
{
  const auto i = std::find(callbacks_.begin(), callbacks_.end(), callback);
  if (i != callbacks_.end())
    callbacks_.erase(i);
}

void WTabSheets::selectSheet(int index)
{
  PLAT_ASSERT_TEXT(index < (int)sheets_.size(), kSheetsBound);
  index = std::max(index, -1);
  plat::DestroyGuard guard(liveness_);
  // A copy: callbacks may come and go while they are asked.
  const std::list<Callback*> callbacks = callbacks_;
  for (Callback* c : callbacks) {
    if (std::find(callbacks_.begin(), callbacks_.end(), c) == callbacks_.end())
      continue;
    const bool may = c->mayChange(current_, index);
    if (guard.destroyed())
      return;
    if (!may)
      return;
  }
  // A callback may have removed sheets.
  if (index >= (int)sheets_.size())
    return;
  if (current_ >= 0 && sheets_[current_]->getParentLayout() == this)
    removeChild(sheets_[current_].get());
  if (index >= 0) {
    insertChild(sheets_[index].get(), rfb::Point(0, stripHeight() - 1), nullptr);
    if (guard.destroyed())
      return;
    placeTabs();
    const rfb::Rect r = strip_.getChildRect(tabs_[index].get());
    const int left = r.topLeft.x + stripOffset_, right = r.bottomRight.x, ws = strip_.width();
    if (left < 0)
      stripOffset_ += std::min(kTabMargin - left, ws - right);
    else if (ws < right)
      stripOffset_ += std::max(ws - right - kTabMargin, -left);
  }
  current_ = index;
  relayout();
  if (!guard.destroyed())
    repaint();
}

void WTabSheets::setTabTitle(int index, const char* text)
{
  checkIndex(index, tabs_.size(), "index < (int)tabs.size()");
  WTab* tab = tabs_[index].get();
  tab->label().setText(text);
  tab->setSize(tab->preferredSize().translate(rfb::Point(6, 4)));
  relayout();
}

void WTabSheets::setSheetMargin(int margin)
{
  for (auto& s : sheets_)
    s->setMargin(margin);
}

rfb::Point WTabSheets::contentOrigin()
{
  if (current_ < 0)
    return rfb::Point(0, 0);
  WSheet* sheet = sheets_[current_].get();
  rfb::Point at = getChildPosition(sheet);
  if (sheet->getContent())
    at = at.translate(sheet->getChildPosition(sheet->getContent()));
  return at;
}

// --- Layout ----------------------------------------------------------------------------

void WTabSheets::placeTabs()
{
  int x = 0;
  for (size_t i = 0; i < tabs_.size(); i++) {
    WTab* tab = tabs_[i].get();
    const bool current = (int)i == current_;
    strip_.setChildPosition(tab, rfb::Point(x, current ? 0 : 1));
    tab->setSelected(current);
    sheets_[i]->setTabRect(rfb::Rect(x, current ? 0 : 1, x + tab->width(), (current ? 0 : 1) + tab->height()));
    x += tab->width();
  }
}

void WTabSheets::relayout()
{
  placeTabs();
  const int W = width(), aw = leftArrow_.width(), sh = stripHeight();
  int64_t total = 0;
  for (const auto& t : tabs_)
    total += t->width();
  const int S = (int)std::min<int64_t>(total, INT32_MAX);
  const bool show = W < S;
  if (show != arrowsShown_) {
    arrowsShown_ = show;
    if (show) {
      addChild(&leftArrow_, nullptr);
      addChild(&rightArrow_, nullptr);
    } else {
      removeChild(&leftArrow_);
      removeChild(&rightArrow_);
    }
  }
  const int x1 = arrowsShown_ ? W - 2 * aw : W;
  const int m = std::min(x1 - S, 0);
  rightArrow_.setEnabled(stripOffset_ > m);
  stripOffset_ = std::max(stripOffset_, m);
  leftArrow_.setEnabled(stripOffset_ < 0);
  stripOffset_ = std::min(stripOffset_, 0);
  for (auto& s : sheets_)
    s->setStripOffset(stripOffset_);
  setChildRect(&strip_, rfb::Rect(stripOffset_, 0, x1, sh));
  if (arrowsShown_) {
    setChildPosition(&leftArrow_, rfb::Point(W - 2 * aw, 2));
    setChildPosition(&rightArrow_, rfb::Point(W - aw, 2));
  }
  if (current_ >= 0)
    sheets_[current_]->setSize(rfb::Point(W, height() - sh));
}

void WTabSheets::scrollStrip(int delta)
{
  stripOffset_ += delta;
  strip_.repaint();
  relayout();
  repaint();
}

// --- Input -----------------------------------------------------------------------------

bool WTabSheets::key(uint32_t keysym, bool down, Widget* source)
{
  if ((keysym == kTab || keysym == kLeftTab) && isControlDown()) {
    // Without sheets there is nothing to switch to.
    const int n = (int)sheets_.size();
    if (down && n > 0) {
      if (isShiftDown() || keysym == kLeftTab)
        selectSheet(current_ <= 0 ? n - 1 : current_ - 1);
      else
        selectSheet(current_ + 1 >= n ? 0 : current_ + 1);
    }
    return true;
  }
  return WLayout::key(keysym, down, source);
}

bool WTabSheets::activated(Widget* source)
{
  if (source == &leftArrow_ || source == &rightArrow_) {
    scrollStrip(source == &leftArrow_ ? kStripStep : -kStripStep);
    return true;
  }
  for (size_t i = 0; i < tabs_.size(); i++) {
    if (tabs_[i].get() == source) {
      selectSheet((int)i);
      return true;
    }
  }
  return WLayout::activated(source);
}

bool WTabSheets::resized(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == this)
    relayout();
  return guard.destroyed() || WLayout::resized(source);
}

rfb::Point WTabSheets::preferredSize()
{
  rfb::Point p(0, 0);
  for (auto& s : sheets_) {
    const rfb::Point q = s->preferredSize();
    p = rfb::Point(std::max(p.x, q.x), std::max(p.y, q.y));
  }
  return p.translate(rfb::Point(0, stripHeight()));
}

} // namespace wvw
