#include "mui/MuDialog.h"

#include "mui/MuButtons.h"
#include "mui/MuList.h"
#include "mui/Mui.h"
#include "plat/Exception.h"
#include "rfb/KeysymNames.h"

namespace mui {

namespace {

class ExceptButtons : public MuDialog::MoveCallback {
public:
  bool mayMoveFrom(const rfb::Point&, MuElement* element) override
  {
    return !dynamic_cast<MuButton*>(element);
  }
};

class ExceptControls : public MuDialog::MoveCallback {
public:
  bool mayMoveFrom(const rfb::Point&, MuElement* element) override
  {
    return !dynamic_cast<MuButton*>(element) && !dynamic_cast<MuList*>(element) &&
           !dynamic_cast<MuCheck*>(element);
  }
};

ExceptButtons exceptButtonsPolicy;
ExceptControls exceptControlsPolicy;

} // namespace

MuDialog::CloseCallback::~CloseCallback() = default;
MuDialog::MoveCallback::~MoveCallback() = default;
MuDialog::KeyHandler::~KeyHandler() = default;

MuDialog::MoveCallback* MuDialog::MoveCallback::exceptButtons()
{
  return &exceptButtonsPolicy;
}

MuDialog::MoveCallback* MuDialog::MoveCallback::exceptControls()
{
  return &exceptControlsPolicy;
}

std::unique_ptr<MuDialog> MuDialog::create(const char* name, const char* title, const Size& size, uint32_t flags,
                                           MuDialog* owner, WindowHandle ownerWindow)
{
  PLAT_ASSERT(muDialogFactory);
  return muDialogFactory(name, title, size, flags, owner, ownerWindow);
}

MuDialog::MuDialog(const char* name, const char*, const Size& size, uint32_t flags, MuDialog* owner,
                   WindowHandle ownerWindow)
  : MuContainer(nullptr, name),
    flags_(flags),
    contentHeight_(size.y),
    margin_(Mui::metric(Mui::kDialogMargin)),
    ownerWindow_(owner ? owner->windowHandle() : ownerWindow)
{
  Mui::instance().registerDialog(this, true);
  ensureStyle();
}

MuDialog::~MuDialog()
{
  Mui::instance().registerDialog(this, false);
  panels_.destroyAll();
}

void MuDialog::setPosition(const rfb::Point& position)
{
  positioned_ = true;
  MuContainer::setPosition(position);
}

const char* MuDialog::typeName() const
{
  return "dialog";
}

plat::DString MuDialog::getState() const
{
  plat::DString s = MuContainer::getState();
  s.append("element Dialog\n");
  s.appendf("fixedsize %d\ndisableclose %d\nnohide %d\nmodal %d\nabsfixedsize %d\n",
            (flags_ & kFixedSize) ? 1 : 0, (flags_ & kDisableClose) ? 1 : 0, (flags_ & kNoHide) ? 1 : 0,
            (flags_ & (kModal | kStrongModal)) ? 1 : 0, (flags_ & kAbsFixedSize) ? 1 : 0);
  return s;
}

void MuDialog::relayout()
{
  layoutChildren();
  if ((flags_ & kAbsFixedSize) || !(flags_ & (kFixedSize | kFitContent)))
    return;
  const int w = getSize().x;
  int height = 0;
  for (const Panel& p : panels_) {
    if (!p.element->isShown())
      continue;
    if (p.kind == kTop || p.kind == kBottom)
      height += p.element->preferredHeight(w);
    else if (flags_ & kFitContent)
      height += p.element->preferredHeight(w - 2 * margin_) + 2 * margin_;
    else
      height += contentHeight_;
  }
  setSize(Size(w, height));
}

// --- Panels -----------------------------------------------------------------

MuElement* MuDialog::getChild(int index) const
{
  return panels_.get(index);
}

int MuDialog::childCount() const
{
  return panels_.count();
}

void MuDialog::addChild(std::unique_ptr<MuElement> element)
{
  panels_.add(Panel{std::move(element), kFill});
}

void MuDialog::removeChild(MuElement* element)
{
  panels_.destroy(element);
}

void MuDialog::setPanelKind(MuElement* element, uint32_t kind)
{
  Panel* panel = panels_.find(element);
  PLAT_ASSERT_TEXT(panel, "i != panels.end()");
  panel->kind = kind;
}

void MuDialog::layoutChildren()
{
  const Size size = getSize();
  const int w = size.x;
  if (w == 0 || size.y == 0)
    return;
  int top = 0;
  int bottom = size.y;
  for (const Panel& p : panels_) {
    MuElement* panel = p.element.get();
    if (!panel->isShown() || (p.kind != kTop && p.kind != kBottom))
      continue;
    const int ph = panel->preferredHeight(w);
    if (p.kind == kBottom) {
      bottom -= ph;
      panel->setPosition(rfb::Point(0, bottom));
    } else {
      panel->setPosition(rfb::Point(0, top));
      top += ph;
    }
    panel->setSize(Size(w, ph));
  }
  for (const Panel& p : panels_) {
    if (p.element->isShown() && p.kind == kFill) {
      p.element->setPosition(rfb::Point(margin_, top + margin_));
      p.element->setSize(Size(w - 2 * margin_, bottom - top - 2 * margin_));
    }
  }
  notify(this, kLaidOut);
}

void MuDialog::destroyChildren()
{
  panels_.destroyAll();
}

// --- Window -----------------------------------------------------------------

void MuDialog::setMinSize(const Size&) {}

MuDialog::WindowHandle MuDialog::windowHandle() const
{
  return nullptr;
}

void MuDialog::setOwnerWindow(WindowHandle window)
{
  ownerWindow_ = window;
}

void MuDialog::setButton(int which, MuElement* button)
{
  if (which == kDefaultButton)
    defaultButton_ = button;
  else if (which == kCancelButton)
    cancelButton_ = button;
}

Size MuDialog::outerSize() const
{
  return getSize();
}

MuElement* MuDialog::getMenuBar()
{
  return nullptr;
}

void MuDialog::copyToClipboard(const char*) {}

void MuDialog::copySecretToClipboard(const char* text)
{
  copyToClipboard(text);
}

void MuDialog::focusChanged(MuElement*) {}

// --- Input ------------------------------------------------------------------

bool MuDialog::handleKey(uint32_t keysym)
{
  int which;
  if (keysym == rfb::keysym::Return)
    which = kDefaultButton;
  else if (keysym == rfb::keysym::Escape)
    which = kCancelButton;
  else
    return false;
  if (keyHandler_ && keyHandler_->dialogKey(which, this))
    return true;
  return pressButton(which);
}

bool MuDialog::pressButton(int which)
{
  MuElement* target = button(which);
  if ((which != kDefaultButton && which != kCancelButton) || !target || target->flags() != 0)
    return false;
  target->notify(target, kActivated);
  return true;
}

bool MuDialog::requestClose()
{
  if (closeCallback_ && !closeCallback_->mayClose(this))
    return false;
  setShown(false);
  notify(this, kDialogClosed);
  return true;
}

} // namespace mui
