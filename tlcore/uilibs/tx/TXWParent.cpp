#include "tx/TXWParent.h"

#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "plat/Log.h"
#include "tlutil/NamedImage.h"
#include "tx/TXContext.h"
#include "tx/TXUtil.h"

namespace tx {

static plat::LogSrc vlog("TXWParent");

namespace {

constexpr uint32_t kShiftL = XK_Shift_L;
// The keycode under which the Shift of a translated ISO_Left_Tab is held
// while its Tab goes down (X keycodes start at 8).
constexpr unsigned kSyntheticShift = 0;

// Every hosting window, for restartPendingRedraws.
std::set<TXWParent*>& allWindows()
{
  static std::set<TXWParent*>* all = new std::set<TXWParent*>;
  return *all;
}

// The pixels of r of a buffer, seen at `at`: a band of the window drawn
// into the rows of a band-sized buffer.
class ClipView : public rfb::FullFramePixelBuffer {
public:
  ClipView(rfb::FullFramePixelBuffer& pb, const rfb::Rect& r, const rfb::Rect& at)
    : FullFramePixelBuffer(pb.format, at, pb.colourMap, pb.getPixelsRW(r, nullptr), pb.stride)
  {
  }
};

} // namespace

// --- Construction ---------------------------------------------------------------------

TXWParent::TXWParent(wvw::Widget* content, TXWindow* parent, bool overrideRedirect)
  : TXWindow(1, 1, parent, 0, overrideRedirect), redrawTimer_(this), bandTimer_(this),
    tooltipTimer_(this), tooltip_(320, nullptr)
{
  addEventHandler(this, true);
  addEventMask(KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | EnterWindowMask |
               LeaveWindowMask | PointerMotionMask | ExposureMask | StructureNotifyMask);
  XSetWindowBackgroundPixmap(display(), window(), None);
  allWindows().insert(this);
  setChild(content);
}

TXWParent::~TXWParent()
{
  liveness_.markDestroyed();
  allWindows().erase(this);
  addEventHandler(this, false);
  tooltipTimer_.stop();
  tooltipGuard_.reset();
  tooltipWidget_ = nullptr;
  if (attached_ && content_) {
    attached_ = false;
    content_->detach();
  }
  redrawTimer_.stop();
  bandTimer_.stop();
}

// --- The hosted tree ------------------------------------------------------------------

void TXWParent::setChild(wvw::Widget* content)
{
  plat::DestroyGuard guard(liveness_);
  if (attached_ && content_ != content) {
    attached_ = false;
    content_->detach();
    if (guard.destroyed())
      return;
  }
  content_ = content;
  if (!content) {
    if (isMapped())
      unmap();
    redrawTimer_.stop();
    bandTimer_.stop();
    backBuffer_.reset();
    return;
  }
  content->setEnabled(true);
  content->setVisible(true);
  if (!guard.destroyed())
    updateAttachment();
}

void TXWParent::setVisible(bool visible)
{
  if (!visible) {
    unmap();
  } else if (!hasWMProperties() || isOverrideRedirect()) {
    map();
  } else if (isMapped()) {
    raiseAndActivate();
  } else {
    remap();
  }
  updateAttachment();
}

void TXWParent::updateAttachment()
{
  const bool want = isMapped() && content_;
  if (want == attached_)
    return;
  plat::DestroyGuard guard(liveness_);
  attached_ = want;
  if (want) {
    content_->attach(this, this, this);
    if (guard.destroyed() || !attached_)
      return;
    content_->focusChanged(false, content_);
    if (guard.destroyed() || !attached_)
      return;
    damage_.clear();
    backBuffer_ = makeBackBuffer();
  } else {
    content_->detach();
    if (guard.destroyed())
      return;
    redrawTimer_.stop();
    bandTimer_.stop();
    backBuffer_.reset();
  }
}

void TXWParent::resizeToContent()
{
  if (content_)
    resize(content_->width(), content_->height());
}

void TXWParent::resized()
{
  const rfb::Point size(width(), height());
  if (content_ && content_->getSize() != size)
    content_->setSize(size);
  if (backBuffer_)
    backBuffer_->setSize(banded_ ? rfb::Point(size.x, std::min(size.y, kBandRows)) : size);
}

std::unique_ptr<TXImage> TXWParent::makeBackBuffer()
{
  if (!banded_)
    return std::make_unique<TXImage>(rfb::Point(width(), height()));
  return std::make_unique<TXImage>(rfb::Point(width(), std::min(height(), kBandRows)), nullptr, 0,
                                   TXImage::Shm::Never);
}

// --- Damage and painting --------------------------------------------------------------

void TXWParent::childInvalidated(wvw::Widget*, const rfb::Region& region)
{
  if (!content_)
    return;
  damage_.assignUnion(region);
  if (!redrawTimer_.isStarted())
    redrawTimer_.start(kRedrawMs);
}

void TXWParent::restartPendingRedraws()
{
  for (TXWParent* w : allWindows())
    if (!w->damage_.isEmpty() && !w->redrawTimer_.isStarted())
      w->redrawTimer_.start(kRedrawMs);
}

void TXWParent::paintAndPut(const rfb::Rect& r)
{
  if (!backBuffer_ || !content_)
    return;
  rfb::Rect clipped = rfb::clipRect(r, rfb::Rect(0, 0, width(), height()));
  clipped = rfb::clipRect(clipped, rfb::Rect(0, 0, content_->width(), content_->height()));
  if (clipped.isEmpty())
    return;
  // A buffer shorter than the window takes the area a band at a time, each
  // band drawn into its top rows; a plain put has copied the pixels when it
  // returns.
  const int rows = backBuffer_->rect.height();
  if (rows <= 0)
    return;
  const bool shorter = rows < height();
  for (int y = clipped.topLeft.y; y < clipped.bottomRight.y; y += rows) {
    const rfb::Rect part(clipped.topLeft.x, y, clipped.bottomRight.x,
                         std::min(y + rows, clipped.bottomRight.y));
    const int dy = shorter ? y : 0;
    const rfb::Rect inBuffer = part.translate(rfb::Point(0, -dy));
    ClipView view(*backBuffer_, inBuffer, part);
    content_->paint(view);
    backBuffer_->put(window(), inBuffer, rfb::Point(0, dy));
  }
  if (banded_ && !bandTimer_.isStarted())
    bandTimer_.start(kBandedMs);
}

void TXWParent::flushDamage()
{
  redrawTimer_.stop();
  rfb::Region todo;
  todo.swap(damage_);
  if (!backBuffer_)
    return;
  todo.assignIntersect(rfb::Rect(0, 0, width(), height()));
  plat::DestroyGuard guard(liveness_);
  for (const rfb::Rect& r : todo.rects()) {
    paintAndPut(r);
    if (guard.destroyed())
      return;
  }
}

void TXWParent::expose(XEvent* ev)
{
  rfb::Rect bounds;
  for (bool more = true; more;) {
    const rfb::Rect r(ev->xexpose.x, ev->xexpose.y, ev->xexpose.x + ev->xexpose.width,
                      ev->xexpose.y + ev->xexpose.height);
    if (!r.isEmpty())
      bounds = bounds.isEmpty() ? r : bounds.unionBoundary(r);
    more = XCheckTypedWindowEvent(display(), window(), Expose, ev) ||
           XCheckTypedWindowEvent(display(), window(), GraphicsExpose, ev);
  }
  paintAndPut(bounds);
}

void TXWParent::bell() { XBell(display(), 0); }

// --- Keys -----------------------------------------------------------------------------

bool TXWParent::isKeyDown(uint32_t keysym)
{
  for (const auto& k : keysDown_)
    if (k.second == keysym)
      return true;
  return false;
}

void TXWParent::sendKey(uint32_t keysym, bool down)
{
  if (attached_ && content_)
    content_->keyEvent(keysym, down);
}

void TXWParent::keyEvent(XKeyEvent* ev)
{
  plat::DestroyGuard guard(liveness_);
  hideTooltip();
  const unsigned keycode = ev->keycode;
  if (ev->type == KeyRelease) {
    auto range = keysDown_.equal_range(keycode);
    if (range.first == range.second)
      return;
    const uint32_t keysym = range.first->second;
    keysDown_.erase(range.first, range.second);
    vlog.debug("keycode %d keysym 0x%x down %d win 0x%lx", keycode, keysym, 0, window());
    sendKey(keysym, false);
    return;
  }
  char text[256];
  KeySym ks = NoSymbol;
  XLookupString(ev, text, sizeof(text), &ks, nullptr);
  uint32_t keysym = (uint32_t)ks;
  vlog.debug("keycode %d keysym 0x%x down %d win 0x%lx", keycode, keysym, 1, window());
  if (keysym == XK_ISO_Left_Tab) {
    keysym = XK_Tab;
    if (!(ev->state & ShiftMask)) {
      // The content always sees a shifted Tab; the Shift counts as held
      // while the Tab goes down.
      auto shift = keysDown_.emplace(kSyntheticShift, kShiftL);
      sendKey(kShiftL, true);
      if (guard.destroyed())
        return;
      keysDown_.emplace(keycode, keysym);
      sendKey(keysym, true);
      if (guard.destroyed())
        return;
      keysDown_.erase(shift);
      sendKey(kShiftL, false);
      return;
    }
  }
  keysDown_.emplace(keycode, keysym);
  sendKey(keysym, true);
}

// --- Events ---------------------------------------------------------------------------

bool TXWParent::handleEvent(XEvent* ev)
{
  if (ev->type == MotionNotify)
    while (XCheckTypedWindowEvent(display(), window(), MotionNotify, ev)) {
    }
  if (drag_.handleEvent(this, ev))
    return true;
  if (ev->type < KeyPress || ev->type > MapNotify)
    return true;
  plat::DestroyGuard guard(liveness_);
  switch (ev->type) {
  case KeyPress:
  case KeyRelease:
    keyEvent(&ev->xkey);
    break;
  case ButtonPress:
  case ButtonRelease:
  case MotionNotify: {
    uint32_t mask = (ev->xbutton.state >> 8) & 0x1f;
    // Any client can send a button number: those without a bit are ignored.
    const unsigned button = ev->xbutton.button;
    const uint32_t bit = ev->type != MotionNotify && button >= 1 && button <= 32 ? 1u << (button - 1) : 0;
    if (ev->type == ButtonPress)
      mask |= bit;
    else if (ev->type == ButtonRelease)
      mask &= ~bit;
    hideTooltip();
    if (attached_ && content_ && !guard.destroyed())
      content_->pointerEvent(rfb::Point(ev->xbutton.x, ev->xbutton.y), mask);
    break;
  }
  case LeaveNotify:
    if (ev->xcrossing.mode == NotifyNormal && attached_ && content_)
      content_->pointerLeave();
    break;
  case FocusOut: {
    std::multimap<unsigned, uint32_t> held;
    held.swap(keysDown_);
    for (const auto& k : held) {
      sendKey(k.second, false);
      if (guard.destroyed())
        return true;
    }
    break;
  }
  case Expose:
  case GraphicsExpose:
    expose(ev);
    break;
  case MapNotify:
  case UnmapNotify:
    updateAttachment();
    break;
  default:
    break;
  }
  return true;
}

bool TXWParent::timerExpired(plat::Timer* timer)
{
  if (timer == &redrawTimer_) {
    flushDamage();
  } else if (timer == &bandTimer_) {
    banded_ = false;
    if (backBuffer_)
      backBuffer_ = makeBackBuffer();
  } else if (timer == &tooltipTimer_) {
    showTooltip();
  }
  return false;
}

// --- Tooltips ---------------------------------------------------------------------------

void TXWParent::showTooltipLater(const rfb::Point& position, wvw::Widget* widget)
{
  tooltipPos_ = position;
  tooltipWidget_ = widget;
  tooltipGuard_ = widget ? std::make_unique<plat::DestroyGuard>(widget->livenessToken()) : nullptr;
  tooltipTimer_.start(kTooltipMs);
}

void TXWParent::hideTooltip()
{
  tooltipWidget_ = nullptr;
  tooltipGuard_.reset();
  tooltipTimer_.stop();
  tooltip_.hide();
}

void TXWParent::hideTooltipFor(wvw::Widget* widget)
{
  if (widget && widget == tooltipWidget_)
    hideTooltip();
}

void TXWParent::showTooltip()
{
  if (!tooltipWidget_ || tooltipGuard_->destroyed())
    return;
  const char* text = tooltipWidget_->getTooltip();
  if (!text || !*text || !tooltipWidget_->isAttached())
    return;
  tooltip_.setText(text);
  tooltip_.showAt(tooltipPos_.translate(rfb::Point(2, 16)), tooltipWidget_);
}

bool TXWParent::moved(const rfb::Point& position, wvw::Widget* source)
{
  showTooltipLater(position, source);
  return false;
}

bool TXWParent::left(wvw::Widget*)
{
  hideTooltip();
  return false;
}

bool TXWParent::detached(wvw::Widget* source)
{
  hideTooltipFor(source);
  return false;
}

// --- Clipboard, root and drag -------------------------------------------------------------

plat::String TXWParent::getClipboardText()
{
  const char* text = getSelection(xa::CLIPBOARD());
  return plat::String(text ? text : "");
}

void TXWParent::setClipboardText(const char* text)
{
  ownSelection(text ? (int)strlen(text) : 0, text, getServerTime());
}

wvw::WRoot* TXWParent::getRoot(rfb::Point* origin)
{
  if (origin)
    *origin = getRootOrigin();
  return TXWRoot::instance();
}

void TXWParent::startDrag(wvw::WDragDropData* data, rfb::PixelBuffer* image) { drag_.startDrag(data, this, image); }

// --- The default icon -------------------------------------------------------------------

void TXWParent::setDefaultIcon(const char* imageName)
{
  std::vector<long> data;
  data.reserve(2 + 16 * 16 + 2 + 48 * 48);
  for (int size : {16, 48}) {
    try {
      tlutil::NamedImageLoader loader(imageName, rfb::Point(size, size), tlutil::PngFile::Premultiply::No);
      if (!loader.found())
        return;
      rfb::ManagedPixelBuffer pb(&loader);
      const rfb::PixelFormat& pf = pb.format;
      const int w = pb.rect.width(), h = pb.rect.height();
      if (pf.bpp != 32 || !pf.trueColour)
        return;
      data.push_back(w);
      data.push_back(h);
      for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
          const uint32_t p = (uint32_t)pb.getPixel(rfb::Point(x, y));
          auto channel = [p](int shift, int max) { return max ? ((p >> shift) & max) * 255 / max : 255u; };
          const uint32_t a = pf.alphaMax ? channel(pf.alphaShift, pf.alphaMax) : 0xff;
          data.push_back((long)((a << 24) | (channel(pf.redShift, pf.redMax) << 16) |
                                (channel(pf.greenShift, pf.greenMax) << 8) | channel(pf.blueShift, pf.blueMax)));
        }
    } catch (plat::Exception& e) {
      vlog.info("No icon %s at %d: %s", imageName, size, e.str());
      return;
    }
  }
  TXWindow::setDefaultIconData(data);
}

// --- Drag and drop ------------------------------------------------------------------------

TXDragDrop::~TXDragDrop()
{
  if (allowed_)
    XFreeCursor(display(), allowed_);
  if (refused_)
    XFreeCursor(display(), refused_);
}

void TXDragDrop::startDrag(wvw::WDragDropData* data, TXWParent* window, rfb::PixelBuffer* image)
{
  data_ = data;
  dropAllowed_ = true;
  Display* dpy = display();
  if (allowed_)
    XFreeCursor(dpy, allowed_);
  if (refused_)
    XFreeCursor(dpy, refused_);
  allowed_ = XCreateFontCursor(dpy, XC_hand2);
  refused_ = XCreateFontCursor(dpy, XC_circle);
  XDefineCursor(dpy, window->window(), allowed_);
  image_.reset();
  if (image && !image->rect.isEmpty()) {
    try {
      image_ = std::make_unique<TXImage>(rfb::Point(image->rect.width(), image->rect.height()));
      image_->setPF(image->format);
      image_->setColourMap(image->getColourMap());
      image->getImage(image_->data, image->rect, image_->stride);
    } catch (plat::Exception& e) {
      vlog.status("No drag image: %s", e.str());
      image_.reset();
    }
  }
}

void TXDragDrop::reset(TXWParent* window)
{
  XUndefineCursor(display(), window->window());
  image_.reset();
  data_ = nullptr;
  dropAllowed_ = false;
}

bool TXDragDrop::handleEvent(TXWParent* window, XEvent* ev)
{
  if (!data_ || (ev->type != ButtonRelease && ev->type != MotionNotify))
    return false;
  wvw::Widget* content = window->attached_ ? window->content_ : nullptr;
  if (!content) {
    reset(window);
    return false;
  }
  plat::DestroyGuard guard(window->liveness_);
  // The whole content again, which takes the previous drag image away.
  try {
    TXImage frame(content->getSize());
    content->paint(frame);
    frame.put(window->window(), frame.rect);
  } catch (plat::Exception& e) {
    vlog.debug("No drag frame: %s", e.str());
  }
  const rfb::Point pos(ev->xbutton.x, ev->xbutton.y);
  wvw::WDragDropData* data = data_;
  const bool allowed = content->dragOver(data, pos);
  if (guard.destroyed())
    return true;
  if (ev->type == ButtonRelease) {
    reset(window);
    content->dragEnded();
    if (allowed && !guard.destroyed())
      content->drop(data, pos);
    return true;
  }
  if (allowed != dropAllowed_)
    XDefineCursor(display(), window->window(), allowed ? allowed_ : refused_);
  dropAllowed_ = allowed;
  if (image_)
    image_->put(window->window(), image_->rect, pos);
  return true;
}

// --- Popups -------------------------------------------------------------------------------

TXWRoot* TXWRoot::instance()
{
  static TXWRoot root;
  return &root;
}

TXWRoot::~TXWRoot() { closeAll(); }

rfb::Rect TXWRoot::screenArea()
{
  Display* dpy = display();
  return rfb::Rect(0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy)));
}

TXWParent* TXWRoot::popupWindow(wvw::Widget* widget) const
{
  for (const auto& p : popups_)
    if (p->child() == widget)
      return p.get();
  return nullptr;
}

void TXWRoot::showPopup(wvw::Widget* widget, bool show, bool grab, const rfb::Point& position)
{
  std::unique_ptr<TXWParent> win;
  for (auto it = popups_.begin(); it != popups_.end(); ++it)
    if ((*it)->child() == widget) {
      win = std::move(*it);
      popups_.erase(it);
      break;
    }
  if (!show)
    return;
  if (!win) {
    win = std::make_unique<TXWParent>(widget, nullptr, true);
    win->addEventHandler(this, true);
  }
  TXWParent* w = win.get();
  popups_.push_back(std::move(win));
  w->resize(widget->width(), widget->height());
  w->setPosition(position);
  w->setVisible(true);
  if (grab)
    w->setGrab(true, true, None, true);
}

void TXWRoot::closeAll()
{
  std::vector<std::unique_ptr<TXWParent>> all;
  all.swap(popups_);
  all.clear();
}

bool TXWRoot::handleEvent(XEvent* ev)
{
  if (ev->type != ButtonPress)
    return false;
  TXWParent* popup = nullptr;
  for (const auto& p : popups_)
    if (p->window() == ev->xbutton.window)
      popup = p.get();
  if (!popup || !popup->wantsPointerGrab())
    return false;
  const int x = ev->xbutton.x, y = ev->xbutton.y;
  if (x >= 0 && x < popup->width() && y >= 0 && y < popup->height())
    return false;
  closeAll();
  return true;
}

} // namespace tx
