#include "wvw/WRichText.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "rfb/PixDraw.h"
#include "tlutil/Font.h"

namespace wvw {

namespace {

constexpr uint32_t kTab = 0xFF09;
constexpr uint32_t kReturn = 0xFF0D;
constexpr uint32_t kSpace = 0x20;

// Sizes come from outside text; the font choice multiplies them.
constexpr int kLargestSize = 120 * 40;

} // namespace

WRichText::WRichText(plat::Markup::LinkCallback* linkCallback, const char* markup)
    : WLabel(nullptr, kStart), linkCallback_(linkCallback), runStyle_(*getStyle())
{
  text_ = plat::String(markup);
  splitLines();
}

// --- Layout -------------------------------------------------------------------------------

void WRichText::beginParagraph(int align, float, float)
{
  alignment_ = align;
  paragraphStart_ = runs_.size();
}

void WRichText::endParagraph(int padLeftPx, int padRightPx)
{
  // The layout knows the paragraph's indents in pixels only now.
  for (size_t i = paragraphStart_; i < runs_.size(); i++) {
    runs_[i].leftIndent = padLeftPx;
    runs_[i].rightIndent = padRightPx;
  }
}

void WRichText::setStyle(const plat::Markup::Style& style, const char* href, const char*)
{
  runStyle_ = *getStyle();
  const bool link = href || (style.flags & plat::Markup::Style::kLink);
  plat::Colour named;
  if (style.color.get() && *style.color.get() && plat::findColor(style.color.get(), named))
    runStyle_.contentText = named;
  else if (link)
    runStyle_.contentText = kLinkColour;
  const int size = std::max(0, std::min((int)style.size, kLargestSize));
  runStyle_.font = tlutil::Font::forStyle(tlutil::FontSpec{size, style.weight});
  runUnderline_ = link || (style.flags & plat::Markup::Style::kUnderline);
}

int WRichText::lineHeight()
{
  return runStyle_.font->lineHeight;
}

int WRichText::paragraphSpacing()
{
  return (getStyle()->font->lineHeight + 1) / 2;
}

int WRichText::textWidth(const char* begin, const char* end)
{
  return runStyle_.font->textWidth(begin, end);
}

void WRichText::drawText(const char* begin, const char* end, const plat::Markup::Layout::Rect& rect)
{
  addRun(nullptr, begin, end, rect);
}

void WRichText::drawLink(const char* href, const char* begin, const char* end,
                         const plat::Markup::Layout::Rect& rect)
{
  addRun(href, begin, end, rect);
  if (keepRuns_)
    hasLinks_ = true;
}

void WRichText::addRun(const char* href, const char* begin, const char* end, const plat::Markup::Layout::Rect& rect)
{
  if (!keepRuns_)
    return;
  Run run;
  run.style = runStyle_;
  run.alignment = alignment_;
  run.underline = runUnderline_;
  run.text = plat::String(std::string(begin, end).c_str());
  run.link = plat::String(href);
  run.rect = rfb::Rect(rect.left, rect.top, rect.right, rect.bottom);
  totalLength_ += (int)(end - begin);
  runs_.push_back(std::move(run));
}

rfb::Point WRichText::layOut(int maxWidth, bool keepRuns)
{
  if (!text_.get())
    return rfb::Point();
  keepRuns_ = keepRuns;
  alignment_ = 0;
  paragraphStart_ = runs_.size();
  runStyle_ = *getStyle();
  runUnderline_ = false;
  plat::Markup::Layout layout(this, maxWidth);
  plat::Markup::ParserHtml::instance().parse(text_.get(), &layout);
  keepRuns_ = false;
  return rfb::Point(layout.extentRight(), layout.extentBottom());
}

void WRichText::splitLines()
{
  runs_.clear();
  hasLinks_ = false;
  totalLength_ = 0;
  layoutSize_ = layOut(wrap_ ? width() - 2 * margin_ : 0, true);
  placeLines();
  // Old offsets may lie past the new runs.
  selAnchor_ = std::max(0, std::min(selAnchor_, totalLength_));
  selLength_ = std::max(0, std::min(selAnchor_ + selLength_, totalLength_)) - selAnchor_;
}

void WRichText::placeLines()
{
  const int top = vAlign_ == kStart    ? margin_
                  : vAlign_ == kCentre ? (height() - layoutSize_.y) / 2
                                       : height() - margin_ - layoutSize_.y;
  for (size_t first = 0; first < runs_.size();) {
    size_t end = first;
    int lineWidth = 0;
    for (; end < runs_.size() && runs_[end].rect.topLeft.y == runs_[first].rect.topLeft.y; end++)
      lineWidth += runs_[end].rect.width();
    const Run& last = runs_[end - 1];
    // The line's left edge within the widget; the layout placed it at its
    // paragraph's left indent.
    int left;
    if (last.alignment == kEnd)
      left = width() - (lineWidth + last.rightIndent) - margin_;
    else if (last.alignment == kCentre)
      left = (width() - last.leftIndent - last.rightIndent - lineWidth) / 2 + last.leftIndent;
    else
      left = last.leftIndent + margin_;
    const rfb::Point shift(left - runs_[first].rect.topLeft.x, top);
    for (size_t i = first; i < end; i++)
      runs_[i].rect = runs_[i].rect.translate(shift);
    first = end;
  }
}

// --- Sizes ----------------------------------------------------------------------------------

rfb::Point WRichText::preferredSize()
{
  return rfb::Point(2 * margin_ + layoutSize_.x, layoutSize_.y);
}

int WRichText::preferredWidth(int)
{
  return 2 * margin_ + layOut(0, false).x;
}

int WRichText::preferredHeight(int width)
{
  return layOut(wrap_ ? width - 2 * margin_ : 0, false).y;
}

// --- Hit tests ------------------------------------------------------------------------------

int WRichText::runAt(const rfb::Point& point) const
{
  for (size_t i = 0; i < runs_.size(); i++) {
    if (runs_[i].rect.contains(point))
      return (int)i;
  }
  return -1;
}

int WRichText::charIndexAt(const rfb::Point& point)
{
  int offset = 0;
  for (size_t first = 0; first < runs_.size();) {
    const int y0 = runs_[first].rect.topLeft.y;
    size_t end = first;
    int bottom = y0, lineLength = 0;
    for (; end < runs_.size() && runs_[end].rect.topLeft.y == y0; end++) {
      bottom = std::max(bottom, runs_[end].rect.bottomRight.y);
      lineLength += runs_[end].text.length();
    }
    if (point.y < y0)
      return offset;
    if (point.y < bottom) {
      for (size_t i = first; i < end; i++) {
        const Run& r = runs_[i];
        if (point.x < r.rect.topLeft.x)
          return offset;
        if (point.x < r.rect.bottomRight.x) {
          const char* t = r.text.str();
          return offset + (int)(r.style.font->charIndexAt(point.x - r.rect.topLeft.x, t) - t);
        }
        offset += r.text.length();
      }
      return offset;
    }
    offset += lineLength;
    first = end;
  }
  return totalLength_;
}

// --- Painting -------------------------------------------------------------------------------

void WRichText::paint(rfb::WritablePixelBuffer& pb)
{
  if (!transparent_)
    rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, getStyle()->bg));
  const char* hoverLink = linkOf(hoverRun_);
  const char* focusLink = linkOf(focusRun_);
  const int selStart = selectionStart(), selEnd = selectionEnd();
  const bool showSelection = selStart < selEnd && hasFocus();
  int offset = 0;
  for (const Run& r : runs_) {
    tlutil::Font* f = r.style.font;
    const char* link = r.link.get();
    plat::Colour colour = r.style.contentText;
    if (!isEnabled())
      colour = r.style.disabledText;
    else if (link && ((hoverLink && !strcmp(link, hoverLink)) || (focusLink && !strcmp(link, focusLink))))
      colour = kActiveLinkColour;
    const rfb::Pixel p = pixel(pb, colour);
    const char* t = r.text.str();
    const int length = r.text.length();
    const rfb::Point at = r.rect.topLeft;
    if (showSelection && selStart < offset + length && selEnd > offset) {
      const int a = charStart(t, length, selStart - offset);
      const int b = charStart(t, length, selEnd - offset);
      const int xa = at.x + f->textWidth(t, t + a), xb = xa + f->textWidth(t + a, t + b);
      f->drawText(pb, t, at, p, t + a);
      rfb::fillRect(pb, rfb::Rect(xa, at.y, xb, at.y + f->lineHeight), pixel(pb, r.style.selectionBg));
      f->drawText(pb, t + a, rfb::Point(xa, at.y), pixel(pb, r.style.selectedText), t + b);
      f->drawText(pb, t + b, rfb::Point(xb, at.y), p);
    } else {
      f->drawText(pb, t, at, p);
    }
    if (r.underline) {
      const int y = at.y + f->lineHeight - 2;
      rfb::fillRect(pb, rfb::Rect(at.x, y, at.x + f->textWidth(t), y + 1), p);
    }
    offset += length;
  }
}

bool WRichText::copy(Widget* source)
{
  const int selStart = selectionStart(), selEnd = selectionEnd();
  if (Widget::copy(source) || !selectable_ || !getParent() || selStart == selEnd)
    return true;
  std::string out;
  int offset = 0;
  for (size_t i = 0; i < runs_.size(); i++) {
    const Run& r = runs_[i];
    const int length = r.text.length();
    if (selStart < offset + length && selEnd > offset) {
      const int a = charStart(r.text.str(), length, selStart - offset);
      const int b = charStart(r.text.str(), length, selEnd - offset);
      if (!out.empty() && i > 0 && runs_[i - 1].rect.topLeft.y != r.rect.topLeft.y)
        out += '\n';
      out.append(r.text.str() + a, (size_t)(b - a));
    }
    offset += length;
  }
  getParent()->setClipboardText(out.c_str());
  return true;
}

// --- Links ----------------------------------------------------------------------------------

bool WRichText::isLink(int run) const
{
  return run >= 0 && run < (int)runs_.size() && runs_[run].link.get();
}

void WRichText::updateHover()
{
  const int now = runAt(getPointerPos());
  if (now == hoverRun_)
    return;
  const bool links = isLink(now) || isLink(hoverRun_);
  hoverRun_ = now;
  if (links)
    repaint();
}

bool WRichText::activate(int run)
{
  if (!isEnabled() || !isLink(run) || !linkCallback_)
    return false;
  // The callback may set a new text, which frees the runs.
  const plat::String target(runs_[run].link.get());
  plat::DestroyGuard guard(liveness_);
  linkCallback_->linkActivated(target.get());
  return guard.destroyed();
}

int WRichText::nextLink(bool backward) const
{
  const char* current = linkOf(focusRun_);
  const int step = backward ? -1 : 1;
  for (int i = focusRun_ + step; i >= 0 && i < (int)runs_.size(); i += step) {
    const char* link = runs_[i].link.get();
    if (link && !(current && !strcmp(link, current)))
      return i;
  }
  return -1;
}

bool WRichText::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this)
    updateHover();
  return WLabel::pointerMoved(position, source);
}

bool WRichText::buttonDown(int button, Widget* source)
{
  if (source == this && button == 0) {
    updateHover();
    pressedRun_ = isLink(hoverRun_) ? hoverRun_ : -1;
  }
  return WLabel::buttonDown(button, source);
}

bool WRichText::buttonUp(int button, Widget* source)
{
  if (source == this && button == 0) {
    updateHover();
    const int pressed = pressedRun_;
    pressedRun_ = -1;
    if (pressed >= 0 && hoverRun_ == pressed && activate(pressed))
      return true;
  }
  return WLabel::buttonUp(button, source);
}

bool WRichText::pointerLeft(Widget* source)
{
  if (source == this) {
    const bool wasLink = isLink(hoverRun_);
    hoverRun_ = -1;
    pressedRun_ = -1;
    if (wasLink)
      repaint();
  }
  return WLabel::pointerLeft(source);
}

bool WRichText::focusChanged(bool backward, Widget* source)
{
  if (source == this) {
    focusRun_ = -1;
    if (hasLinks_ && hasFocus()) {
      for (size_t k = 0; k < runs_.size(); k++) {
        const int i = backward ? (int)(runs_.size() - 1 - k) : (int)k;
        if (isLink(i)) {
          focusRun_ = i;
          break;
        }
      }
    }
  }
  return WLabel::focusChanged(backward, source);
}

bool WRichText::key(uint32_t keysym, bool down, Widget* source)
{
  if (source == this && hasFocus()) {
    if (keysym == kTab && down && !isControlDown()) {
      focusRun_ = nextLink(isShiftDown());
      if (focusRun_ >= 0) {
        repaint();
        return true;
      }
      repaint();
    } else if ((keysym == kReturn || keysym == kSpace) && isLink(focusRun_)) {
      // Without a focused link the key goes on (to a default button).
      if (down)
        activate(focusRun_);
      return true;
    }
  }
  return WLabel::key(keysym, down, source);
}

} // namespace wvw
