#include "wvw/WLabel.h"

#include <algorithm>
#include <string>

#include "plat/Mnemonic.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {

tlutil::Font* fontOf(const Widget* w)
{
  return w->getStyle()->font;
}

} // namespace

int WLabel::charStart(const char* text, int length, int offset)
{
  offset = std::max(0, std::min(offset, length));
  while (offset > 0 && offset < length && ((unsigned char)text[offset] & 0xC0) == 0x80)
    offset--;
  return offset;
}

WLabel::WLabel(const char* text, int hAlign) : text_(text), hAlign_(hAlign)
{
  splitLines();
}

void WLabel::clearSelection()
{
  selecting_ = false;
  selAnchor_ = 0;
  selLength_ = 0;
}

void WLabel::setText(const char* text)
{
  if (plat::strCmpNull(text, text_.get()) == 0 && (text == nullptr) == text_.isNull())
    return;
  text_ = plat::String(text);
  // Old offsets may lie past the new text or inside its characters.
  clearSelection();
  splitLines();
  repaint();
}

void WLabel::stripMnemonic()
{
  if (text_.isNull())
    return;
  plat::parseMnemonic(text_.data(), nullptr);
  clearSelection();
  splitLines();
  repaint();
}

void WLabel::setAlignment(int hAlign, int vAlign)
{
  hAlign_ = hAlign;
  if (vAlign != vAlign_) {
    vAlign_ = vAlign;
    splitLines(); // a rich text places its runs there
  }
  repaint();
}

void WLabel::setMargin(int margin)
{
  margin_ = margin;
  splitLines();
  repaint();
}

void WLabel::setWrap(bool wrap)
{
  wrap_ = wrap;
  splitLines();
  repaint();
}

void WLabel::setTransparent(bool transparent)
{
  transparent_ = transparent;
  repaint();
}

void WLabel::setUnderline(bool underline)
{
  underline_ = underline;
  repaint();
}

void WLabel::setSelectable(bool selectable)
{
  selectable_ = selectable;
  repaint();
}

void WLabel::selectAll()
{
  if (!selectable_)
    return;
  selAnchor_ = 0;
  selLength_ = totalLength_;
  plat::DestroyGuard guard(liveness_);
  setFocus();
  if (!guard.destroyed())
    repaint();
}

int WLabel::selectionStart() const
{
  return std::max(0, std::min({selAnchor_, selAnchor_ + selLength_, totalLength_}));
}

int WLabel::selectionEnd() const
{
  return std::min(totalLength_, std::max({selAnchor_, selAnchor_ + selLength_, 0}));
}

void WLabel::splitLines()
{
  lines_.clear();
  totalLength_ = 0;
  if (text_.isNull())
    return;
  if (wrap_)
    fontOf(this)->splitLines(text_.get(), width() - 2 * margin_, lines_);
  else
    lines_.emplace_back(text_.get());
  for (const plat::String& l : lines_)
    totalLength_ += l.length();
}

int WLabel::lineTop(int i) const
{
  tlutil::Font* f = fontOf(this);
  const int block = (int)lines_.size() * f->lineHeight;
  const int top = vAlign_ == kStart ? margin_ : vAlign_ == kCentre ? (height() - block) / 2 : height() - block - margin_;
  return top + i * f->lineHeight;
}

int WLabel::lineLeft(int i) const
{
  const int w = fontOf(this)->textWidth(lines_[i].str());
  return hAlign_ == kStart ? margin_ : hAlign_ == kCentre ? (width() - w) / 2 : width() - w - margin_;
}

rfb::Point WLabel::preferredSize()
{
  tlutil::Font* f = fontOf(this);
  int widest = 0;
  for (const plat::String& l : lines_)
    widest = std::max(widest, f->textWidth(l.str()));
  return rfb::Point(widest + 2 * margin_, (int)lines_.size() * f->lineHeight);
}

int WLabel::preferredWidth(int)
{
  if (lines_.empty())
    return 0;
  tlutil::Font* f = fontOf(this);
  // Wrapped lines keep the white space they broke at; joined with one
  // space each, they must not count it twice.
  int w = f->charWidth(' ') * ((int)lines_.size() - 1);
  for (const plat::String& l : lines_) {
    const char* end = l.str() + l.length();
    while (end > l.str() && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r'))
      end--;
    w += f->textWidth(l.str(), end);
  }
  return w;
}

int WLabel::preferredHeight(int width)
{
  tlutil::Font* f = fontOf(this);
  if (!wrap_)
    return f->lineHeight;
  std::vector<plat::String> lines;
  f->splitLines(text_.get(), width - 2 * margin_, lines);
  return (int)lines.size() * f->lineHeight;
}

int WLabel::charIndexAt(const rfb::Point& point)
{
  if (lines_.empty() || point.y < lineTop(0))
    return 0;
  const int i = (point.y - lineTop(0)) / fontOf(this)->lineHeight;
  if (i >= (int)lines_.size())
    return totalLength_;
  int before = 0;
  for (int k = 0; k < i; k++)
    before += lines_[k].length();
  const char* line = lines_[i].str();
  return before + (int)(fontOf(this)->charIndexAt(point.x - lineLeft(i), line) - line);
}

void WLabel::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  tlutil::Font* f = s->font;
  if (!transparent_)
    rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, s->bg));
  const rfb::Pixel text = pixel(pb, isEnabled() ? s->contentText : s->disabledText);
  const int selStart = selectionStart(), selEnd = selectionEnd();
  const bool showSelection = selStart < selEnd && hasFocus();
  int offset = 0;
  for (int i = 0; i < (int)lines_.size(); i++) {
    const char* line = lines_[i].str();
    const int length = lines_[i].length();
    const int x = lineLeft(i), y = lineTop(i);
    if (showSelection && selStart < offset + length && selEnd > offset) {
      const int a = charStart(line, length, selStart - offset);
      const int b = charStart(line, length, selEnd - offset);
      const int xa = x + f->textWidth(line, line + a), xb = xa + f->textWidth(line + a, line + b);
      f->drawText(pb, line, rfb::Point(x, y), text, line + a);
      rfb::fillRect(pb, rfb::Rect(xa, y, xb, y + f->lineHeight), pixel(pb, s->selectionBg));
      f->drawText(pb, line + a, rfb::Point(xa, y), pixel(pb, s->selectedText), line + b);
      f->drawText(pb, line + b, rfb::Point(xb, y), text);
    } else {
      f->drawText(pb, line, rfb::Point(x, y), text);
      if (underline_) {
        const int w = f->textWidth(line);
        rfb::fillRect(pb, rfb::Rect(x, y + f->lineHeight - 2, x + w, y + f->lineHeight - 1), text);
      }
    }
    offset += length;
  }
}

bool WLabel::copy(Widget* source)
{
  if (Widget::copy(source))
    return true;
  if (!selectable_ || !getParent())
    return false;
  const int selStart = selectionStart(), selEnd = selectionEnd();
  // Nothing selected leaves the clipboard as it was.
  if (selStart == selEnd)
    return true;
  std::string out;
  int offset = 0;
  bool first = true;
  for (const plat::String& l : lines_) {
    const int length = l.length();
    if (selStart < offset + length && selEnd > offset) {
      const int a = charStart(l.str(), length, selStart - offset);
      const int b = charStart(l.str(), length, selEnd - offset);
      if (!first)
        out += '\n';
      out.append(l.str() + a, (size_t)(b - a));
      first = false;
    }
    offset += length;
  }
  getParent()->setClipboardText(out.c_str());
  return true;
}

void WLabel::menuAction(int action)
{
  if (action == kCopy)
    copy(this);
  else if (action == kSelectAll)
    selectAll();
}

bool WLabel::focusChanged(bool backward, Widget* source)
{
  if (source == this)
    repaint();
  return Widget::focusChanged(backward, source);
}

bool WLabel::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return Widget::enabledChanged(source);
}

bool WLabel::resized(Widget* source)
{
  if (source == this)
    splitLines();
  return Widget::resized(source);
}

void WLabel::styleChanged()
{
  splitLines();
  repaint();
}

bool WLabel::buttonDown(int button, Widget* source)
{
  if (source == this && button == 0 && selectable_) {
    selAnchor_ = charIndexAt(getPointerPos());
    selLength_ = 0;
    selecting_ = true;
    repaint();
  }
  return Widget::buttonDown(button, source);
}

bool WLabel::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this && selecting_) {
    if (getButtonMask()) {
      selLength_ = charIndexAt(getPointerPos()) - selAnchor_;
      repaint();
    } else {
      selecting_ = false;
    }
  }
  return Widget::pointerMoved(position, source);
}

bool WLabel::buttonUp(int button, Widget* source)
{
  if (source == this && selectable_) {
    repaint();
    selecting_ = false;
    if (button == 2) {
      if (!editMenu_)
        editMenu_.reset(new WEditMenu(this, kCopy | kSelectAll));
      editMenu_->popup(true, getPointerPos(), this);
      return true;
    }
  }
  return Widget::buttonUp(button, source);
}

// --- WLabelWithMnemonic ---------------------------------------------------------------

WLabelWithMnemonic::WLabelWithMnemonic(const char* text, int hAlign) : WLabel(nullptr, hAlign)
{
  setText(text);
}

void WLabelWithMnemonic::setText(const char* text)
{
  if (!text) {
    mnemonic_ = 0;
    mnemonicIndex_ = -1;
    WLabel::setText(nullptr);
    return;
  }
  plat::String copy(text);
  char* pos = nullptr;
  const int cp = plat::parseMnemonic(copy.data(), &pos);
  mnemonic_ = cp > 0 ? cp : 0;
  mnemonicIndex_ = cp > 0 && pos ? (int)(pos - copy.get()) : -1;
  WLabel::setText(copy.get());
}

void WLabelWithMnemonic::paint(rfb::WritablePixelBuffer& pb)
{
  WLabel::paint(pb);
  const char* text = getText();
  if (!showMnemonic_ || mnemonicIndex_ < 0 || !text || lines().empty())
    return;
  const WStyle* s = getStyle();
  tlutil::Font* f = s->font;
  const char* mark = text + mnemonicIndex_;
  const char* after = mark + 1;
  while (((unsigned char)*after & 0xC0) == 0x80)
    after++;
  const int left = lineLeft(0), top = lineTop(0);
  const int x0 = left + f->textWidth(text, mark), x1 = left + f->textWidth(text, after);
  rfb::fillRect(pb, rfb::Rect(x0, top + f->lineHeight - 2, x1, top + f->lineHeight - 1),
                pixel(pb, isEnabled() ? s->contentText : s->disabledText));
}

// --- WLabelButton ------------------------------------------------------------------------

WLabelButton::WLabelButton(const char* text) : label_(text, WLabel::kCentre)
{
  label_.setMargin(0);
  label_.setTransparent(true);
  label_.setAlignment(WLabel::kCentre, WLabel::kCentre);
  setContent(&label_);
}

rfb::Point WLabelButton::preferredSize()
{
  rfb::Point p = WBevelButton::preferredSize();
  p.x = std::max(p.x, kMinWidth);
  return p;
}

} // namespace wvw
