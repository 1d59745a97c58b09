#include "mui/MuElement.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>

#include "mui/MuContainer.h"
#include "mui/MuDialog.h"
#include "plat/Exception.h"

namespace mui {

void MuObserver::event(MuElement* source, uint32_t code)
{
  switch (code) {
  case kChanged:
    changed(source, code);
    break;
  case kActivated:
    activated(source, code);
    break;
  case kDialogClosed:
    dialogClosed(source->getDialog());
    break;
  case kLaidOut:
    dialogLaidOut(source->getDialog());
    break;
  default:
    break;
  }
}

MuObserver::~MuObserver() = default;
MuCommon::~MuCommon() = default;
MuLayoutCheckObserver::~MuLayoutCheckObserver() = default;

MuElement::MuElement(MuContainer* parent, const char* name, const char* label)
  : label_(label), name_(name), parent_(parent)
{
}

MuElement::~MuElement()
{
  for (Notification* n = activeNotifications_; n; n = n->previous) {
    n->destroyed = true;
    n->pending.clear();
  }
  common_.reset();
}

void MuElement::setCommon(std::unique_ptr<MuCommon> common)
{
  common_ = std::move(common);
}

// --- Back-end forwarding ----------------------------------------------------

void MuElement::setShown(bool shown)
{
  if (common_)
    common_->setShown(shown);
}

bool MuElement::isShown() const
{
  return common_ && common_->isShown();
}

bool MuElement::isLocked() const
{
  return (flags_ & kLocked) != 0;
}

void MuElement::setFocus()
{
  if (common_)
    common_->setFocus();
  if (MuDialog* dialog = dynamic_cast<MuDialog*>(getDialog()))
    dialog->focusChanged(this);
}

bool MuElement::hasFocus() const
{
  return common_ && common_->hasFocus();
}

MuElement* MuElement::focusedElement()
{
  return hasFocus() ? this : nullptr;
}

void MuElement::setTooltip(const char* text)
{
  if (common_)
    common_->setTooltip(text);
}

void MuElement::setSize(const Size& size)
{
  if (common_)
    common_->setSize(size);
}

Size MuElement::getSize() const
{
  return common_ ? common_->getSize() : Size();
}

void MuElement::setPosition(const rfb::Point& position)
{
  if (common_)
    common_->setPosition(position);
}

rfb::Point MuElement::getPosition() const
{
  return common_ ? common_->getPosition() : rfb::Point();
}

rfb::Point MuElement::getAbsolutePosition() const
{
  PLAT_ASSERT_TEXT(parent_, "parent");
  return parent_->getAbsolutePosition().translate(getPosition());
}

int MuElement::preferredWidth(int height) const
{
  return common_ ? common_->preferredWidth(height) : 0;
}

int MuElement::preferredHeight(int width) const
{
  return common_ ? common_->preferredHeight(width) : 0;
}

void MuElement::styleChanged()
{
  if (common_)
    common_->styleChanged();
}

void MuElement::ensureVisible(const rfb::Rect& rect)
{
  if (common_)
    common_->ensureVisible(rect);
}

void MuElement::invalidate(const rfb::Rect& rect)
{
  if (common_)
    common_->invalidate(rect);
}

void MuElement::setLabelWidth(int, int) {}

int MuElement::labelWidth() const
{
  return preferredWidth(1);
}

// --- Automation -------------------------------------------------------------

const char* MuElement::typeName() const
{
  return "element";
}

plat::DString MuElement::getState() const
{
  const rfb::Point pos = getPosition();
  const Size size = getSize();
  plat::DString s;
  s.appendf("shown %d\nenabled %d\nlocked %d\npos %d%s%d\nsize %d%s%d\n", isShownInTree() ? 1 : 0,
            (flags_ & kDisabled) ? 0 : 1, (flags_ & kLocked) ? 1 : 0, pos.x, ",", pos.y, size.x, ",",
            size.y);
  if (!label_.isNull())
    s.appendf("label %s\n", label_.get());
  return s;
}

plat::DString MuElement::getItems() const
{
  return plat::DString();
}

MuElement* MuElement::findElement(const char* path)
{
  return path ? nullptr : this;
}

void MuElement::relayout() {}

bool MuElement::doAction(const char*, const char*)
{
  return false;
}

bool MuElement::mouseEvent(const tlutil::MouseEvent& event)
{
  return mouseCallback_ && mouseCallback_->mouseEvent(event);
}

bool MuElement::intArgument(const char* argument, int* value)
{
  if (!argument || !*argument)
    return false;
  char* end = nullptr;
  errno = 0;
  const long n = strtol(argument, &end, 10);
  if (*end || errno == ERANGE || n < INT_MIN || n > INT_MAX)
    return false;
  *value = (int)n;
  return true;
}

void MuElement::checkLayout(MuLayoutCheckObserver* observer)
{
  const Size size = getSize();
  const int wanted = preferredHeight(size.x);
  if (wanted > size.y) {
    plat::DString message = plat::DString::format("Overflowing by %d units", wanted - size.y);
    observer->layoutProblem(this, message.get());
  }
}

void MuElement::stateChanged() {}

// --- State flags ------------------------------------------------------------

void MuElement::setEnabled(bool enabled)
{
  flags_ = enabled ? (flags_ & ~kDisabled) : (flags_ | kDisabled);
  if (common_)
    common_->setEnabled(flags_ == 0);
  stateChanged();
}

void MuElement::setLocked(bool locked)
{
  flags_ = locked ? (flags_ | kLocked) : (flags_ & ~kLocked);
  if (common_)
    common_->setEnabled(flags_ == 0);
  stateChanged();
}

bool MuElement::isShownInTree() const
{
  for (const MuElement* e = this; e; e = e->parent_) {
    if (!e->isShown())
      return false;
  }
  return true;
}

// --- Observers --------------------------------------------------------------

void MuElement::addObserver(MuObserver* observer, bool add)
{
  if (add) {
    observers_.push_back(observer);
    return;
  }
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
  for (Notification* n = activeNotifications_; n; n = n->previous)
    n->pending.erase(std::remove(n->pending.begin(), n->pending.end(), observer), n->pending.end());
}

void MuElement::notify(MuElement* source, uint32_t code)
{
  Notification record;
  record.pending.assign(observers_.rbegin(), observers_.rend());
  record.previous = activeNotifications_;
  activeNotifications_ = &record;
  try {
    while (!record.pending.empty()) {
      MuObserver* next = record.pending.back();
      record.pending.pop_back();
      next->event(source, code);
    }
  } catch (...) {
    if (!record.destroyed)
      activeNotifications_ = record.previous;
    throw;
  }
  if (record.destroyed)
    return;
  activeNotifications_ = record.previous;
  if (parent_)
    parent_->notify(source, code);
}

// --- Tree -------------------------------------------------------------------

plat::String MuElement::getPathName() const
{
  if (!parent_)
    return plat::String("");
  plat::String path = parent_->getPathName();
  if (name_.isNull())
    return path;
  plat::DString joined;
  joined.append(path.get());
  if (path.length() > 0)
    joined.append(".");
  joined.append(name_.get());
  return joined.takeString();
}

MuElement* MuElement::getDialog()
{
  MuElement* e = this;
  while (e->parent_)
    e = e->parent_;
  return e;
}

// --- Style ------------------------------------------------------------------

const plat::Markup::Style& MuElement::effectiveStyle() const
{
  for (const MuElement* e = this; e; e = e->parent_) {
    if (e->style_)
      return *e->style_;
  }
  PLAT_FAIL("parent");
}

plat::Markup::Style& MuElement::ensureStyle()
{
  if (!style_)
    style_ = std::make_unique<plat::Markup::Style>();
  return *style_;
}

void MuElement::setStyle(const plat::Markup::Style& style)
{
  plat::Markup::Style& own = ensureStyle();
  own.flags = style.flags;
  own.size = style.size;
  own.weight = style.weight;
  if (own.color != style.color)
    own.color = style.color;
  if (own.background != style.background)
    own.background = style.background;
  styleChanged();
}

void MuElement::setColour(const char* name)
{
  plat::Markup::Style& own = ensureStyle();
  if (plat::strCmpNull(own.color.get(), name) != 0)
    own.color = plat::String(name);
  styleChanged();
}

void MuElement::setBackgroundColour(const char* name)
{
  plat::Markup::Style& own = ensureStyle();
  if (plat::strCmpNull(own.background.get(), name) != 0)
    own.background = plat::String(name);
  styleChanged();
}

void MuElement::setTextSize(int size)
{
  ensureStyle().size = size;
  styleChanged();
}

} // namespace mui
