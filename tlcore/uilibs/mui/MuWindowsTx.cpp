#include "mui/MuWindowsTx.h"

#include <string.h>

#include "mui/MuMenuBarWvw.h"
#include "plat/Colour.h"
#include "rfb/PixDraw.h"
#include "tx/TXUtil.h"

namespace mui {

namespace {

// The dialog's adapter: the window, not the canvas, has the position.
class DialogCommon : public MuCommonWvw {
public:
  using MuCommonWvw::MuCommonWvw;
  void setPosition(const rfb::Point&) override {}
};

// Motif functions: resize 2, move 4, minimise 8, maximise 16, close 32.
long motifFunctions(uint32_t flags)
{
  long f = 62;
  if (flags & MuDialog::kFixedSize)
    f &= ~(2 | 16);
  if (flags & MuDialog::kNoHide)
    f &= ~8;
  if (flags & MuDialog::kDisableClose)
    f &= ~32;
  return f;
}

MuElement* elementOfWidget(MuElement* element, wvw::Widget* widget)
{
  if (MuCommonWvw::getWidget(element, false) == widget)
    return element;
  if (auto* c = dynamic_cast<MuContainer*>(element)) {
    for (int i = 0; i < c->childCount(); i++) {
      if (MuElement* found = elementOfWidget(c->getChild(i), widget))
        return found;
    }
  }
  return nullptr;
}

} // namespace

tx::TXWindow* windowOf(MuDialog* dialog)
{
  return dialog ? static_cast<tx::TXWindow*>(dialog->windowHandle()) : nullptr;
}

// --- Border -----------------------------------------------------------------

WDialogBorder::WDialogBorder(wvw::Widget* content) : WLayout(PointerRouting::ToChildren), content_(content)
{
  addChild(content, nullptr);
}

bool WDialogBorder::resized(wvw::Widget* source)
{
  if (source == this)
    setChildRect(content_, rfb::Rect(0, 0, width(), height()));
  return WLayout::resized(source);
}

void WDialogBorder::paint(rfb::WritablePixelBuffer& pb)
{
  WLayout::paint(pb);
  rfb::drawRectBorder(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, getStyle()->bevelFrame), width_);
}

// --- Dialog -----------------------------------------------------------------

MuDialogTx::MuDialogTx(const char* name, const char* title, const Size& size, uint32_t flags, MuDialog* owner,
                       WindowHandle ownerWindow)
  : MuDialog(name, title, size, flags, owner, ownerWindow),
    tx::TXDialog(nullptr, name, false),
    wstyle_(MuiWvw::instance().getStyle())
{
  setCommon(std::make_unique<DialogCommon>(this, &canvas()));
  tx::TXDialog::resize(size.x, size.y);
  setFixedSize((flags & (kFixedSize | kAbsFixedSize)) != 0);
  if (flags & (kOverride | kGrabbed))
    setOverrideRedirect(true);
  decorated_ = !(flags & kNoDecorations) || !tx::wmSupports(tx::xa::NET_WM_MOVERESIZE());
  const long hints[5] = {3, motifFunctions(flags), decorated_ ? 1 : 0, 0, 0};
  setMotifWmHints(hints);
  if (flags & kBorder) {
    border_ = std::make_unique<WDialogBorder>(&canvas());
    border_->setStyle(&wstyle_);
    setChild(border_.get());
  }
  canvas().setStyle(&wstyle_);
  setTitle(title);
}

MuDialogTx::~MuDialogTx()
{
  destroyChildren();
  focusGuard_.reset();
  setCommon(nullptr);
  setChild(nullptr);
}

void MuDialogTx::setShown(bool shown)
{
  const uint32_t flags = dialogFlags();
  if (!shown) {
    endDialog(0);
    if (flags & kGrabbed)
      setGrab(false, false);
    return;
  }
  relayout();
  tx::TXWindow* owner = ownerTx();
  if (!positioned() && !isMapped()) {
    if (owner && owner->isMapped()) {
      const rfb::Point o = owner->getRootOrigin();
      tx::TXWindow::setPosition(
          rfb::Point(o.x + (owner->width() - width()) / 2, o.y + (owner->height() - height()) / 2), true);
    } else {
      centreOnScreen();
    }
  }
  if (flags & kNoInput)
    setInputHint(false);
  if (flags & kStrongModal) {
    runModal();
    return;
  }
  show();
  if (flags & (kOverride | kGrabbed))
    XRaiseWindow(tx::display(), window());
  if (flags & kAbove)
    changeNetWmState(1, tx::xa::NET_WM_STATE_ABOVE());
  if (flags & kModal)
    pushModal();
  if ((flags & kNoInput) && !(flags & kOverride))
    setInputHint(true);
  if (flags & kGrabbed)
    setGrab(true, true, None, false);
}

void MuDialogTx::showHook()
{
  tx::TXWindow* owner = ownerTx();
  setTransientFor(owner ? owner->window() : 0);
}

void MuDialogTx::setFocus()
{
  raiseAndActivate();
}

void MuDialogTx::setSize(const Size& size)
{
  tx::TXDialog::resize(size.x, size.y);
}

void MuDialogTx::setPosition(const rfb::Point& position)
{
  MuDialog::setPosition(position);
  tx::TXWindow::setPosition(position, true);
}

rfb::Point MuDialogTx::getPosition() const
{
  return const_cast<MuDialogTx*>(this)->getRootOrigin();
}

void MuDialogTx::styleChanged()
{
  wstyle_.bg = plat::getColor(effectiveStyle().background.get(), plat::Colour{216, 216, 216});
  canvas().repaint();
  MuDialog::styleChanged();
}

void MuDialogTx::relayout()
{
  layOutContent();
  MuDialog::relayout();
  layoutChildren();
}

void MuDialogTx::layOutContent()
{
  if (border_)
    border_->setSize(rfb::Point(width(), height()));
  layoutChildren();
}

void MuDialogTx::addChild(std::unique_ptr<MuElement> element)
{
  if (wvw::Widget* w = MuCommonWvw::getWidget(element.get(), false))
    canvas().addChild(w, nullptr);
  MuDialog::addChild(std::move(element));
  layOutContent();
}

void MuDialogTx::removeChild(MuElement* element)
{
  if (wvw::Widget* w = element ? MuCommonWvw::getWidget(element, false) : nullptr)
    canvas().removeChild(w);
  if (element == menuBar_)
    menuBar_ = nullptr;
  MuDialog::removeChild(element);
  layoutChildren();
}

void MuDialogTx::setMinSize(const Size& size)
{
  tx::TXWindow::setMinSize(size.x, size.y);
}

MuDialog::WindowHandle MuDialogTx::windowHandle() const
{
  return static_cast<tx::TXWindow*>(const_cast<MuDialogTx*>(this));
}

void MuDialogTx::setTitle(const char* title)
{
  setName(title ? title : "");
}

Size MuDialogTx::outerSize() const
{
  Size size = getSize();
  if (hasWMProperties() && !isOverrideRedirect() && decorated_)
    size = size.translate(tx::getWMDecorationSize());
  return size;
}

Size MuDialogTx::workAreaSize() const
{
  const rfb::Rect area = tx::getWorkArea();
  return Size(area.width(), area.height());
}

MuElement* MuDialogTx::getMenuBar()
{
  if (!menuBar_) {
    menuBar_ = MuMenuBarWvw::create(this, nullptr);
    setPanelKind(menuBar_, kTop);
    layOutContent();
  }
  return menuBar_;
}

void MuDialogTx::copyToClipboard(const char* text)
{
  ownSelection(text ? (int)strlen(text) : 0, text ? text : "", tx::getServerTime());
}

void MuDialogTx::copySecretToClipboard(const char* text)
{
  setWipeSelectionText(true);
  copyToClipboard(text);
}

void MuDialogTx::focusChanged(MuElement* element)
{
  MuDialog::focusChanged(element);
  focusGuard_.reset();
  focusWidget_ = element ? MuCommonWvw::getWidget(element, false) : nullptr;
  if (focusWidget_)
    focusGuard_ = std::make_unique<plat::DestroyGuard>(focusWidget_->livenessToken());
}

wvw::Widget* MuDialogTx::focusWidget()
{
  if (focusGuard_ && focusGuard_->destroyed()) {
    focusGuard_.reset();
    focusWidget_ = nullptr;
  }
  return focusWidget_;
}

bool MuDialogTx::attached(wvw::Widget* source)
{
  if (wvw::Widget* w = focusWidget(); w && w == source)
    w->setFocus();
  return false;
}

bool MuDialogTx::resized(wvw::Widget* source)
{
  if (source != &canvas())
    return false;
  layoutChildren();
  return true;
}

bool MuDialogTx::handleEvent(XEvent* ev)
{
  if ((dialogFlags() & kGrabbed) && ev->type == ButtonPress && ev->xbutton.button >= 1 && ev->xbutton.button <= 3) {
    const rfb::Point o = getRootOrigin();
    const int x = ev->xbutton.x_root - o.x, y = ev->xbutton.y_root - o.y;
    if (x < 0 || y < 0 || x > width() - 1 || y > height() - 1) {
      setShown(false);
      return true;
    }
  }
  return tx::TXDialog::handleEvent(ev);
}

bool MuDialogTx::key(uint32_t keysym, bool down, wvw::Widget*)
{
  if (!down)
    return false;
  if (menuBar_ && menuBar_->widget().handleKey(keysym))
    return true;
  return handleKey(keysym);
}

bool MuDialogTx::buttonDown(int button, wvw::Widget* source)
{
  if (button != 0 || !moveCallback())
    return false;
  MuElement* element = elementOfWidget(this, source);
  if (!element || !moveCallback()->mayMoveFrom(source->getPointerPos(), element))
    return false;
  XUngrabPointer(tx::display(), CurrentTime);
  const rfb::Point p = tx::getPointerPosition();
  tx::sendClientMessage(window(), tx::xa::NET_WM_MOVERESIZE(), p.x, p.y, 8, 1, 1);
  return true;
}

void MuDialogTx::deleteWindow(tx::TXWindow*)
{
  requestClose();
}

void MuDialogTx::cancel()
{
  requestClose();
}

void MuDialogTx::tellFocus()
{
  notify(this, isMapped() && tx::TXWindow::hasFocus() ? MuObserver::kFocusIn : MuObserver::kFocusOut);
}

void MuDialogTx::focusChanged()
{
  tx::TXDialog::focusChanged();
  tellFocus();
}

void MuDialogTx::mapChanged()
{
  tx::TXDialog::mapChanged();
  tellFocus();
}

// --- Popup menu -------------------------------------------------------------

MuPopupMenuTx::MuPopupMenuTx(const char* name, ui::MenuActionCallback* callback)
  : rootMenu_(wvw::WMenu::CheckColumn::Yes, tx::TXWRoot::instance(), wvw::WMenu::Mnemonics::Hidden, nullptr),
    menu_(&rootMenu_, callback),
    name_(name ? name : "")
{
  registry().emplace(name_, &menu_);
}

MuPopupMenuTx::~MuPopupMenuTx()
{
  unregisterMenus(name_.c_str());
}

void MuPopupMenuTx::popupAtPointer()
{
  popupAt(tx::getPointerPosition());
}

void MuPopupMenuTx::popupAt(const rfb::Point& position)
{
  rootMenu_.popup(true, position, nullptr);
}

// --- Superbox ---------------------------------------------------------------

MuSuperboxTx::MuSuperboxTx(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                           int popupHeight)
  : MuSuperboxWvw(parent, name, label, keyHandler, popupHeight)
{
  if (tx::TXWindow* w = windowOf(popup()))
    w->addEventHandler(this, true);
}

MuSuperboxTx::~MuSuperboxTx()
{
  if (tx::TXWindow* w = windowOf(popup()))
    w->addEventHandler(this, false);
}

void MuSuperboxTx::showPopup(bool show)
{
  MuSuperboxWvw::showPopup(show);
  if (tx::TXWindow* w = windowOf(popup()))
    w->setGrab(show, show, None, true);
}

bool MuSuperboxTx::handleEvent(XEvent* ev)
{
  tx::TXWindow* w = windowOf(popup());
  if (ev->type == ButtonPress && ev->xbutton.button >= 1 && ev->xbutton.button <= 3) {
    const rfb::Point o = w->getRootOrigin();
    if (rfb::Rect(o.x, o.y, o.x + w->width(), o.y + w->height())
            .contains(rfb::Point(ev->xbutton.x_root, ev->xbutton.y_root)))
      return false;
    showPopup(false);
    return true;
  }
  if (ev->type == KeyPress || ev->type == KeyRelease) {
    if (auto* dialog = dynamic_cast<MuDialogTx*>(getDialog()))
      return dialog->handleEvent(ev);
  }
  return false;
}

// --- Auto-hider -------------------------------------------------------------

MuAutoHiderTx::MuAutoHiderTx(const char* name, const Size& size, int side, int visibleStrip, MuAutoHiderCallback* callback)
  : MuAutoHider(callback),
    dialog_(MuDialog::create(name, "", size, MuDialogTx::kBorder | 0x0800, nullptr, nullptr)),
    hider_(windowOf(dialog_.get()), side, visibleStrip, this)
{
}

MuAutoHiderTx::~MuAutoHiderTx() = default;

void MuAutoHiderTx::setParentWindow(MuDialog::WindowHandle parent)
{
  if (!parent) {
    dialog_->setShown(false);
    hider_.setParent(nullptr);
    return;
  }
  hider_.setParent(static_cast<tx::TXWindow*>(parent));
  dialog_->relayout();
  dialog_->setShown(true);
  hider_.updatePosition();
}

} // namespace mui
