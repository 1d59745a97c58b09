#include "wvw/WEdit.h"

#include <string.h>

#include <algorithm>

#include "loc/Localize.h"
#include "plat/Log.h"
#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rfb/Keysym.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "tlutil/LocStrings.h"
#include "wvw/WMenu.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {

plat::LogSrc vlog("WEdit");
const tlutil::LocStringsInit texts;

constexpr uint32_t kHome = 0xFF50, kLeft = 0xFF51, kRight = 0xFF53, kEnd = 0xFF57;
constexpr uint32_t kDelete = 0xFFFF, kBackSpace = 0xFF08, kTab = 0xFF09;
constexpr int kPressWindowMs = 500;

bool isContinuation(char c)
{
  return ((unsigned char)c & 0xC0) == 0x80;
}

// ASCII characters that are not letters or digits separate words.
bool isSeparator(char c)
{
  const unsigned char u = (unsigned char)c;
  return u < 0x80 && !((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'));
}

// The longest prefix of s, at most max bytes, that ends on a character
// boundary (s is valid UTF-8).
int cutLength(const char* s, int length, int max)
{
  if (length <= max)
    return length;
  int p = std::max(max, 0);
  while (p > 0 && isContinuation(s[p]))
    p--;
  return p;
}

std::string encodeUtf8(uint32_t cp)
{
  plat::DString d;
  d.appendChar(cp);
  return d.get();
}

uint32_t lowerAscii(uint32_t c)
{
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

} // namespace

// --- WEditMenu -------------------------------------------------------------------------

WEditMenu::WEditMenu(Callback* callback, int entries)
  : callback_(callback),
    menu_(new WRootMenu(WMenu::CheckColumn::No, nullptr, WMenu::Mnemonics::Shown, nullptr))
{
  menu_->setInputHandler(this);
  if (entries & Callback::kCopy)
    copy_.reset(new WMenuItem(menu_.get(), LOC_TR("tlutil_editmenu_copy")));
  if (entries & Callback::kPaste)
    paste_.reset(new WMenuItem(menu_.get(), LOC_TR("tlutil_editmenu_paste")));
  if (entries & Callback::kSelectAll)
    selectAll_.reset(new WMenuItem(menu_.get(), LOC_TR("tlutil_editmenu_select_all")));
}

WEditMenu::~WEditMenu()
{
  liveness_.markDestroyed();
  selectAll_.reset();
  paste_.reset();
  copy_.reset();
  menu_.reset();
}

void WEditMenu::popup(bool show, const rfb::Point& position, Widget* widget)
{
  menu_->popup(show, position, widget);
}

WMenuItem* WEditMenu::item(int action) const
{
  return action == Callback::kCopy ? copy_.get()
         : action == Callback::kPaste ? paste_.get()
         : action == Callback::kSelectAll ? selectAll_.get()
                                           : nullptr;
}

bool WEditMenu::activated(Widget* source)
{
  int action = 0;
  for (int a : {Callback::kCopy, Callback::kPaste, Callback::kSelectAll}) {
    if (source && source == item(a))
      action = a;
  }
  plat::DestroyGuard guard(liveness_);
  if (action) {
    callback_->menuAction(action);
    if (guard.destroyed())
      return true;
  }
  menu_->hideAll();
  return true;
}

// --- WEdit -----------------------------------------------------------------------------

WEdit::Filter::~Filter() = default;

WEdit::WEdit(int maxLength, const char* initialText, ContextMenu contextMenu)
  : maxLength_(std::max(maxLength, 0)), contextMenu_(contextMenu == ContextMenu::Yes), pressTimer_(this)
{
  if (initialText)
    setText(initialText, Caret::AtEnd);
}

WEdit::~WEdit()
{
  liveness_.markDestroyed();
  wipe(text_);
}

void WEdit::wipe(plat::DString& s) const
{
  if ((password_ || sensitive_) && s.hasBuf())
    memset(s.data(), 0, (size_t)s.capacity());
}

void WEdit::assignText(plat::DString&& text)
{
  wipe(text_);
  text_ = std::move(text);
  textGen_++;
}

void WEdit::setText(const char* text, Caret caret)
{
  plat::DString t;
  t.append(text ? text : "");
  if (!plat::isValidUtf8(t.get())) {
    // Mended here, not in place, so that no copy is freed unwiped.
    plat::String fixed = plat::utf8Sanitise(t.get(), nullptr, -1);
    wipe(t);
    t.clear();
    t.append(fixed.get());
    if (password_ || sensitive_)
      memset(fixed.data(), 0, (size_t)fixed.length());
  }
  t.truncate(cutLength(t.get(), t.length(), maxLength_));
  assignText(std::move(t));
  caret_ = caret == Caret::AtEnd ? length() : 0;
  selLength_ = 0;
  plat::DestroyGuard guard(liveness_);
  repaint();
  if (!guard.destroyed())
    valueChanged(this);
}

void WEdit::setMaxLength(int maxLength)
{
  maxLength_ = std::max(maxLength, 0);
  const int cut = cutLength(text_.get(), length(), maxLength_);
  if (cut < length()) {
    plat::DString t;
    t.append(text_.get(), cut);
    assignText(std::move(t));
  }
  const int len = length();
  const int s = std::min(selectionStart(), len), e = std::min(selectionEnd(), len);
  const bool caretFirst = selLength_ > 0;
  caret_ = caretFirst ? s : e;
  selLength_ = caretFirst ? e - s : s - e;
  repaint();
}

void WEdit::setSelection(int start, int end)
{
  const int len = length();
  auto align = [&](int i) {
    i = std::max(0, std::min(i, len));
    while (i > 0 && i < len && isContinuation(text_.get()[i]))
      i--;
    return i;
  };
  const int s = align(start), e = align(end < 0 ? len : end);
  caret_ = e;
  selLength_ = s - e;
  repaint();
}

bool WEdit::insertText(const char* text, uint32_t typedChar)
{
  if (!text || !plat::isValidUtf8(text))
    return false;
  const int s = selectionStart(), e = selectionEnd();
  plat::DString candidate;
  candidate.reserve(length() + (int)strlen(text) + 1);
  candidate.append(text_.get(), s);
  candidate.append(text);
  candidate.append(text_.get() + e);
  candidate.truncate(cutLength(candidate.get(), candidate.length(), maxLength_));
  plat::DestroyGuard guard(liveness_);
  if (filter_ && !filter_->filter(this, candidate.get(), typedChar)) {
    wipe(candidate);
    return false;
  }
  if (guard.destroyed())
    return false;
  // The measures follow from the changed bytes when nothing was cut.
  const int inserted = (int)strlen(text);
  const bool whole = candidate.length() == length() - (e - s) + inserted;
  const bool known = measures_.gen == textGen_ && measures_.caret == caret_;
  int width = 0, caretX = 0;
  if (whole && known) {
    const int removed = spanWidth(s, e), added = password_ ? 0 : getStyle()->font->textWidth(text);
    const int before = caret_ == s ? measures_.caretX : measures_.caretX - removed;
    const int addedWidth = password_ ? 0 : added;
    width = measures_.width - removed + addedWidth;
    caretX = before + addedWidth;
  }
  assignText(std::move(candidate));
  caret_ = std::min(s + inserted, length());
  selLength_ = 0;
  if (whole && known) {
    if (password_) { // stars: measure the inserted characters in the new text
      const int added = spanWidth(s, caret_);
      width += added;
      caretX += added;
    }
    measures_ = Measures{textGen_, width, caret_, caretX};
  }
  repaint();
  if (!guard.destroyed())
    valueChanged(this);
  return true;
}

void WEdit::setPlaceholder(const char* text)
{
  placeholder_ = plat::String(text);
  repaint();
}

void WEdit::setPassword(bool password)
{
  if (password == password_)
    return;
  password_ = password;
  textGen_++; // measured in stars now, or no longer
  if (password) { // from now on the text lives only in buffers wiped when replaced
    plat::DString t;
    t.append(text_.get());
    assignText(std::move(t));
  }
  repaint();
}

void WEdit::styleChanged()
{
  textGen_++; // another font
  Widget::styleChanged();
}

void WEdit::setAlignment(int hAlign, int vAlign)
{
  hAlign_ = hAlign;
  vAlign_ = vAlign;
  repaint();
}

// --- Moving ----------------------------------------------------------------------------

int WEdit::nextChar(int i) const
{
  const char* t = text_.get();
  const int len = length();
  if (i >= len)
    return len;
  i++;
  while (i < len && isContinuation(t[i]))
    i++;
  return i;
}

int WEdit::prevChar(int i) const
{
  const char* t = text_.get();
  if (i <= 0)
    return 0;
  i--;
  while (i > 0 && isContinuation(t[i]))
    i--;
  return i;
}

int WEdit::wordLeft(int i) const
{
  const char* t = text_.get();
  while (i > 0 && isSeparator(t[prevChar(i)]))
    i = prevChar(i);
  while (i > 0 && !isSeparator(t[prevChar(i)]))
    i = prevChar(i);
  return i;
}

int WEdit::wordRight(int i) const
{
  const char* t = text_.get();
  const int len = length();
  while (i < len && isSeparator(t[i]))
    i = nextChar(i);
  while (i < len && !isSeparator(t[i]))
    i = nextChar(i);
  return i;
}

void WEdit::moveCaret(int to, bool extend)
{
  const int far = caret_ + selLength_;
  const int newSel = extend ? far - to : 0;
  if (to == caret_ && newSel == selLength_)
    return;
  caret_ = to;
  selLength_ = newSel;
  repaint();
}

// --- Keys ------------------------------------------------------------------------------

bool WEdit::key(uint32_t keysym, bool down, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (Widget::key(keysym, down, source) || guard.destroyed())
    return true;
  if (source != this)
    return false;
  std::vector<uint32_t> typed;
  const bool dropped = deadKeys_.processKey(keysym, down, typed);
  for (uint32_t k : typed) {
    processKey(k);
    if (guard.destroyed())
      return true;
  }
  if (!dropped && down)
    processKey(keysym);
  return true;
}

void WEdit::processKey(uint32_t keysym)
{
  const bool shift = isShiftDown(), ctrl = isControlDown();
  switch (keysym) {
  case kHome:
    moveCaret(0, shift);
    return;
  case kEnd:
    moveCaret(length(), shift);
    return;
  case kLeft:
  case kRight: {
    if (!shift && selLength_)
      moveCaret(caret_, false);
    const bool left = keysym == kLeft;
    moveCaret(ctrl ? (left ? wordLeft(caret_) : wordRight(caret_)) : (left ? prevChar(caret_) : nextChar(caret_)),
              shift);
    return;
  }
  case kDelete:
    if (!selLength_) {
      if (caret_ >= length())
        return;
      selLength_ = nextChar(caret_) - caret_;
    }
    insertText("", 0);
    return;
  case kBackSpace: {
    if (selLength_) {
      insertText("", 0);
      return;
    }
    if (caret_ == 0)
      return;
    const int old = caret_;
    caret_ = prevChar(old);
    selLength_ = old - caret_;
    plat::DestroyGuard guard(liveness_);
    if (!insertText("", 0) && !guard.destroyed()) {
      caret_ = old;
      selLength_ = 0;
    }
    return;
  }
  default:
    break;
  }
  if (isAltDown())
    return;
  if (ctrl) {
    if (keysym == 'a' || keysym == 'A')
      setSelection(0, -1);
    return;
  }
  const uint32_t cp = rfb::keysymToUnicode(keysym);
  if (cp < 32 || cp == 127)
    return;
  insertText(encodeUtf8(cp).c_str(), cp);
}

// --- Pointer ---------------------------------------------------------------------------

int WEdit::spanWidth(int a, int b)
{
  tlutil::Font* f = getStyle()->font;
  if (b <= a)
    return 0;
  if (password_) {
    int chars = 0;
    for (int i = a; i < b; i = nextChar(i))
      chars++;
    return chars * f->charWidth('*');
  }
  return f->textWidth(text_.get() + a, text_.get() + b);
}

int WEdit::cachedTextWidth()
{
  if (measures_.gen != textGen_)
    measures_ = Measures{textGen_, widthTo(length()), -1, 0};
  return measures_.width;
}

int WEdit::cachedCaretX()
{
  cachedTextWidth();
  if (measures_.caret != caret_) {
    measures_.caret = caret_;
    measures_.caretX = widthTo(caret_);
  }
  return measures_.caretX;
}

void WEdit::drawVisible(rfb::WritablePixelBuffer& view, const char* shown, int anchor, int anchorX, int y,
                        int areaWidth, int selA, int selB, rfb::Pixel normal, rfb::Pixel selected,
                        rfb::Pixel selectionBg)
{
  tlutil::Font* f = getStyle()->font;
  const int n = (int)strlen(shown);
  auto decode = [&](int i, int* next) {
    const char* p = shown + i + 1;
    const int lead = (unsigned char)shown[i];
    const int c = lead < 0x80 ? lead : plat::utf8DecodeRest(lead, &p, n - i);
    *next = (int)(p - shown);
    return c < 0 ? 0xFFFD : c;
  };
  // Back from the anchor to the first glyph that reaches into the area.
  int i = std::min(anchor, n), x = anchorX;
  while (i > 0 && x > 0) {
    const char* p = shown + i;
    plat::utf8Back(&p, shown);
    int next = 0;
    x -= f->charWidth(decode((int)(p - shown), &next));
    i = (int)(p - shown);
  }
  // The text before the selection, the selection's background, then the
  // rest, so glyphs overhanging a selection edge look as drawn whole.
  const int first = i, firstX = x;
  int bgA = -1, bgB = -1;
  for (int pass = 0; pass < 2; pass++) {
    i = first;
    x = firstX;
    while (i < n && x < areaWidth) {
      int next = 0;
      const int c = decode(i, &next);
      const int w = f->charWidth(c);
      const bool inSel = i >= selA && i < selB;
      if (inSel) {
        bgA = bgA < 0 ? x : bgA;
        bgB = x + w;
      }
      if ((i < selA) == (pass == 0))
        f->drawChar(view, c, rfb::Point(x, y), inSel ? selected : normal);
      x += w;
      i = next;
    }
    if (pass == 0 && bgA >= 0)
      rfb::fillRect(view, rfb::Rect(bgA, y, bgB, y + f->lineHeight), selectionBg);
  }
}

int WEdit::offsetAt(int x)
{
  tlutil::Font* f = getStyle()->font;
  const int xx = x - scrollX_ - kInsetX;
  if (password_) {
    const int w = std::max(f->charWidth('*'), 1);
    const int n = std::max(0, (xx + w / 2) / w);
    int i = 0;
    for (int k = 0; k < n && i < length(); k++)
      i = nextChar(i);
    return i;
  }
  return (int)(f->charIndexAt(xx, text_.get()) - text_.get());
}

bool WEdit::buttonDown(int button, Widget* source)
{
  if (source == this && button == 0) {
    const bool wasRunning = pressTimer_.isStarted();
    pressTimer_.stop();
    rfb::Point offset;
    getRoot(&offset);
    const rfb::Point root = offset.translate(getPointerPos());
    if (wasRunning && root == lastPressRoot_) {
      setSelection(0, -1);
    } else {
      dragging_ = true;
      moveCaret(offsetAt(getPointerPos().x), isShiftDown());
      dragAnchor_ = caret_ + selLength_;
      lastPressRoot_ = root;
      pressTimer_.start(kPressWindowMs);
    }
  }
  return Widget::buttonDown(button, source);
}

bool WEdit::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this && dragging_) {
    const int to = offsetAt(position.x);
    if (to != caret_ || dragAnchor_ - to != selLength_) {
      caret_ = to;
      selLength_ = dragAnchor_ - to;
      repaint();
    }
    return true;
  }
  return Widget::pointerMoved(position, source);
}

bool WEdit::buttonUp(int button, Widget* source)
{
  if (source == this) {
    const bool wasDragging = dragging_;
    dragging_ = false;
    if (button == 2 && contextMenu_) {
      if (!editMenu_)
        editMenu_.reset(new WEditMenu(this, kCopy | kPaste | kSelectAll));
      editMenu_->popup(true, getPointerPos(), this);
      return true;
    }
    if (wasDragging)
      return true;
  }
  return Widget::buttonUp(button, source);
}

// --- Clipboard -------------------------------------------------------------------------

bool WEdit::copy(Widget* source)
{
  if (source != this)
    return Widget::copy(source);
  plat::DestroyGuard guard(liveness_);
  if (Widget::copy(source) || guard.destroyed())
    return true;
  // A hidden password never leaves the field.
  if (selLength_ && !password_ && getParent()) {
    const int s = selectionStart(), e = selectionEnd();
    vlog.info("set cut text length %d", e - s);
    getParent()->setClipboardText(std::string(text_.get() + s, (size_t)(e - s)).c_str());
  }
  return true;
}

bool WEdit::paste(Widget* source)
{
  if (source != this)
    return Widget::paste(source);
  plat::DestroyGuard guard(liveness_);
  if (Widget::paste(source) || guard.destroyed())
    return true;
  if (!getParent())
    return true;
  const plat::String clip = getParent()->getClipboardText();
  if (clip.isNull() || !plat::isValidUtf8(clip.get()))
    return true;
  vlog.info("paste length %d", clip.length());
  std::string kept;
  for (const char* p = clip.get(); *p; p++) {
    const unsigned char c = (unsigned char)*p;
    if (c >= 32 && c != 127)
      kept += (char)c;
  }
  insertText(kept.c_str(), 0);
  return true;
}

void WEdit::menuAction(int action)
{
  plat::DestroyGuard guard(liveness_);
  if (action == kCopy) {
    copy(this);
  } else if (action == kPaste) {
    paste(this);
  } else if (action == kSelectAll) {
    setSelection(0, -1);
    if (!guard.destroyed())
      setFocus();
  }
}

// --- Focus and painting ----------------------------------------------------------------

bool WEdit::focusChanged(bool backward, Widget* source)
{
  if (source == this) {
    if (isKeyDown(kTab))
      setSelection(0, -1);
    repaint();
  }
  return Widget::focusChanged(backward, source);
}

bool WEdit::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return Widget::enabledChanged(source);
}

rfb::Point WEdit::preferredSize()
{
  tlutil::Font* f = getStyle()->font;
  return rfb::Point(widthTo(length()) + 2 * kInsetX, f->lineHeight + 2 * kInsetY);
}

void WEdit::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  tlutil::Font* f = s->font;
  drawBevel(pb, rfb::Rect(0, 0, width(), height()), Bevel::Raised);
  rfb::fillRect(pb, rfb::Rect(2, 2, width() - 2, height() - 2), pixel(pb, isEnabled() ? s->contentBg : s->disabledBg));
  const rfb::Rect area(kInsetX, kInsetY, width() - kInsetX, height() - kInsetY);
  if (area.isEmpty())
    return;
  rfb::FullFramePixelBuffer view(pb, area);

  const bool showPlaceholder = length() == 0 && !placeholder_.isNull();
  // In password mode one '*' per character: shown offsets count characters.
  auto shownOffset = [&](int offset) {
    if (!password_)
      return offset;
    int chars = 0;
    for (int i = 0; i < offset; i = nextChar(i))
      chars++;
    return chars;
  };
  std::string masked;
  if (password_)
    masked.assign((size_t)shownOffset(length()), '*');
  const char* shown = showPlaceholder ? placeholder_.get() : password_ ? masked.c_str() : text_.get();
  const int aw = area.width(), ah = area.height(), cw = s->caretWidth;
  const int tw = showPlaceholder ? f->textWidth(shown) : cachedTextWidth();
  const int caretOffset = showPlaceholder ? 0 : cachedCaretX();
  int x = (aw - tw - cw) * hAlign_ / 2;
  if (tw > aw)
    x = std::max(std::min(std::max(scrollX_, aw - tw - cw), aw - caretOffset - cw), -caretOffset);
  scrollX_ = x;
  const int y = (ah - f->lineHeight) * vAlign_ / 2;
  const rfb::Pixel normal = pixel(pb, !isEnabled() || showPlaceholder ? s->disabledText : s->contentText);
  const bool focused = hasFocus();
  const bool selection = focused && !showPlaceholder && selLength_;
  const int selA = selection ? shownOffset(selectionStart()) : 0, selB = selection ? shownOffset(selectionEnd()) : 0;
  const int anchor = showPlaceholder ? 0 : shownOffset(caret_);
  drawVisible(view, shown, anchor, x + caretOffset, y, aw, selA, selB, normal, pixel(pb, s->selectedText),
              pixel(pb, s->selectionBg));
  if (isEnabled() && focused && !selLength_)
    rfb::fillRect(view, rfb::Rect(x + caretOffset, y, x + caretOffset + cw, y + f->lineHeight),
                  pixel(pb, s->contentText));
}

// --- WEditAutocomplete -----------------------------------------------------------------

bool WEditAutocomplete::isPrefix(const std::string& prefix, const char* text) const
{
  const size_t n = prefix.size();
  if (strlen(text) < n)
    return false;
  for (size_t i = 0; i < n; i++) {
    const uint32_t a = (unsigned char)prefix[i], b = (unsigned char)text[i];
    if (caseSensitive_ ? a != b : lowerAscii(a) != lowerAscii(b))
      return false;
  }
  return true;
}

void WEditAutocomplete::setCompletions(const std::vector<std::string>& completions, Case sensitivity)
{
  caseSensitive_ = sensitivity == Case::Sensitive;
  completions_.clear();
  for (const std::string& c : completions) {
    auto at = std::find_if(completions_.begin(), completions_.end(),
                           [&](const std::string& e) { return isPrefix(c, e.c_str()); });
    completions_.insert(at, c);
  }
}

bool WEditAutocomplete::key(uint32_t keysym, bool down, Widget* source)
{
  if (!down || source != this)
    return WEdit::key(keysym, down, source);
  const int start = selectionStart();
  plat::DestroyGuard guard(liveness_);
  WEdit::key(keysym, down, source);
  if (guard.destroyed())
    return true;
  const int len = length();
  if (keysym == 0xFF08 || keysym == 0xFFFF || len <= start || getSelLength() || getCaret() != len)
    return true;
  for (const std::string& c : completions_) {
    if (isPrefix(getText(), c.c_str())) {
      setText(c.c_str(), Caret::AtEnd);
      if (!guard.destroyed())
        setSelection(len, -1);
      break;
    }
  }
  return true;
}

// --- WEditUnsignedNumberFilter ---------------------------------------------------------

bool WEditUnsignedNumberFilter::filter(WEdit*, const char* candidate, uint32_t)
{
  if (!*candidate)
    return true;
  unsigned value = 0;
  const char* p = candidate;
  return plat::strToUInt(&value, &p, 10) && !*p && value <= 2147483647u;
}

} // namespace wvw
