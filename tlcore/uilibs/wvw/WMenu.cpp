#include "wvw/WMenu.h"

#include <algorithm>

#include "plat/Exception.h"
#include "rfb/Keysym.h"
#include "rfb/PixDraw.h"

namespace wvw {

namespace {

constexpr uint32_t kLeft = 0xFF51, kUp = 0xFF52, kRight = 0xFF53, kDown = 0xFF54;
constexpr uint32_t kReturn = 0xFF0D, kEscape = 0xFF1B;
constexpr int kArrowSize = 11;

uint32_t lowerAZ(uint32_t c)
{
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

} // namespace

// --- WMenu -----------------------------------------------------------------------------

WMenu::WMenu(CheckColumn checkColumn, Mnemonics mnemonics, WMenu* parentMenu)
  : WLayout(PointerRouting::ToChildren), parentMenu_(parentMenu), checkColumn_(checkColumn == CheckColumn::Yes),
    showMnemonics_(mnemonics == Mnemonics::Shown)
{
  rightPadding_ = kMargin;
  bottomPadding_ = kMargin;
  styleChanged();
}

WMenu::~WMenu()
{
  // Entries outlive their menu when their owner deletes them later.
  for (WMenuItem* item : items_)
    item->menu_ = nullptr;
}

void WMenu::hideAll()
{
  std::vector<std::pair<WMenu*, plat::DestroyGuard>> chain;
  for (WMenu* m = this; m; m = m->parentMenu_)
    chain.emplace_back(m, plat::DestroyGuard(m->liveness_));
  for (auto& m : chain) {
    if (!m.second.destroyed())
      m.first->popup(false, rfb::Point(), nullptr);
  }
}

void WMenu::insertItem(WMenuItem* item, WMenuItem* before)
{
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  if (item->getParentLayout() == this)
    removeChild(item);
  auto at = before ? std::find(items_.begin(), items_.end(), before) : items_.end();
  Widget* sibling = at == items_.end() ? nullptr : before;
  items_.insert(at, item);
  addChild(item, sibling);
  relayout();
}

void WMenu::removeItem(WMenuItem* item)
{
  if (current_ == item)
    current_ = nullptr;
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  removeChild(item);
  item->menu_ = nullptr;
  relayout();
}

void WMenu::setCurrent(WMenuItem* item)
{
  if (item == current_)
    return;
  plat::DestroyGuard guard(liveness_);
  WMenuItem* previous = current_;
  current_ = item;
  if (previous) {
    plat::DestroyGuard entry(previous->livenessToken());
    previous->setStyle(nullptr);
    if (!entry.destroyed())
      previous->valueChanged(previous);
    if (guard.destroyed())
      return;
  }
  if (item && current_ == item) {
    item->setStyle(&highlightStyle_);
    item->valueChanged(item);
  }
}

bool WMenu::activateShortcut(uint32_t keyWithModifiers)
{
  if (!keyWithModifiers)
    return false;
  for (WMenuItem* item : items_) {
    if (item->isEnabled() && item->shortcutKey_ == keyWithModifiers) {
      item->activated(item);
      return true;
    }
  }
  return false;
}

int WMenu::placeInColumns(int columnWidth)
{
  int x = kMargin, y = kMargin, columns = 1;
  for (WMenuItem* item : items_) {
    const int h = item->preferredSize().y;
    if (maxHeight_ && y + h > maxHeight_ && y != kMargin) {
      x += columnWidth + kMargin;
      y = kMargin;
      columns++;
    }
    setChildRect(item, rfb::Rect(x, y, x + columnWidth, y + h));
    y += h;
  }
  return columns;
}

void WMenu::relayout()
{
  int widest = 0;
  for (WMenuItem* item : items_)
    widest = std::max(widest, item->preferredSize().x);
  columns_ = placeInColumns(std::max(widest, minWidth_));
  if (columns_ > 1)
    columns_ = placeInColumns(std::max(widest, (minWidth_ + kMargin) / columns_ - kMargin));
  setSize(preferredSize());
}

void WMenu::setMinWidth(int minWidth)
{
  minWidth_ = minWidth;
  relayout();
}

void WMenu::moveHighlight(bool up)
{
  const int n = (int)items_.size();
  if (!n)
    return;
  int start = up ? 0 : n - 1;
  for (int i = 0; i < n; i++) {
    if (items_[i] == current_)
      start = i;
  }
  for (int k = 1; k <= n; k++) {
    WMenuItem* item = items_[((start + (up ? -k : k)) % n + n) % n];
    if (!item->isSeparator() && item->isEnabled()) {
      setCurrent(item);
      return;
    }
  }
}

bool WMenu::key(uint32_t keysym, bool down, Widget* source)
{
  if (!down)
    return WLayout::key(keysym, down, source);
  plat::DestroyGuard guard(liveness_);
  // Left and Right also arrive from an entry's submenu (through the entry).
  if ((keysym == kLeft || keysym == kRight) && current_) {
    if (current_->openSubmenu(keysym == kRight) || guard.destroyed())
      return true;
  }
  // The rest only for keys typed into this menu.
  if (source == this) {
    switch (keysym) {
    case kUp:
    case kDown:
      moveHighlight(keysym == kUp);
      return true;
    case kReturn:
      if (current_)
        current_->activated(current_);
      return true;
    case kEscape:
      hideAll();
      return true;
    default:
      break;
    }
    const uint32_t k = lowerAZ(keysym);
    const uint32_t typed = lowerAZ(rfb::keysymToUnicode(k));
    for (WMenuItem* item : items_) {
      if (!item->isEnabled())
        continue;
      const uint32_t mnemonic = lowerAZ((uint32_t)item->label_.getMnemonic());
      if ((item->shortcutKey_ && item->shortcutKey_ == k) || (mnemonic && typed && mnemonic == typed)) {
        item->activated(item);
        return true;
      }
    }
  }
  return WLayout::key(keysym, down, source);
}

bool WMenu::attached(Widget* source)
{
  if (source == this) {
    plat::DestroyGuard guard(liveness_);
    setCurrent(items_.empty() ? nullptr : items_.front());
    if (guard.destroyed())
      return true;
    relayout();
  }
  return WLayout::attached(source);
}

void WMenu::styleChanged()
{
  highlightStyle_ = *getStyle();
  highlightStyle_.disabledBg = highlightStyle_.selectionBg;
  highlightStyle_.bg = highlightStyle_.selectionBg;
  highlightStyle_.contentText = highlightStyle_.selectedText;
  WLayout::styleChanged();
}

void WMenu::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  rfb::fillRect(pb, rfb::Rect(1, 1, width() - 1, height() - 1), pixel(pb, s->bg));
  rfb::drawRectBorder(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, s->bevelFrame), 1);
  WLayout::paint(pb);
}

// --- WRootMenu -------------------------------------------------------------------------

WRootMenu::WRootMenu(CheckColumn checkColumn, WRoot* host, Mnemonics mnemonics, WMenu* parentMenu)
  : WMenu(checkColumn, mnemonics, parentMenu), host_(host)
{
}

WRootMenu::~WRootMenu()
{
  if (host_)
    host_->showPopup(this, false, false, rfb::Point());
}

void WRootMenu::popup(bool show, const rfb::Point& position, Widget* relativeTo)
{
  if (!show) {
    if (host_)
      host_->showPopup(this, false, false, rfb::Point());
    return;
  }
  rfb::Point base;
  if (relativeTo)
    host_ = relativeTo->getRoot(&base);
  PLAT_ASSERT_TEXT(host_, "root");
  const rfb::Point wanted = base.translate(position);
  const rfb::Rect area = host_->screenArea();
  setMaxHeight(area.height());
  relayout();
  const int y = std::max(std::min(wanted.y, area.bottomRight.y - height()), area.topLeft.y);
  const int x = std::max(std::min(wanted.x, area.bottomRight.x - width()), area.topLeft.x);
  host_->showPopup(this, true, true, rfb::Point(x, y));
}

std::unique_ptr<WMenu> WRootMenu::createSubmenu()
{
  return std::unique_ptr<WMenu>(new WRootMenu(hasCheckColumn() ? CheckColumn::Yes : CheckColumn::No, nullptr,
                                              showsMnemonics() ? Mnemonics::Shown : Mnemonics::Hidden, this));
}

// --- WMenuItem -------------------------------------------------------------------------

const uint8_t WMenuItem::kCheckMarkBits[8] = {0x02, 0x06, 0x8e, 0xdc, 0xf8, 0x70, 0x20, 0x00};

WMenuItem::WMenuItem(WMenu* menu, const char* text, WMenuItem* before, Submenu submenu)
  : menu_(menu), label_(nullptr), shortcutLabel_(""), arrow_(WArrow::kRight)
{
  label_.setMargin(2);
  label_.setWrap(false);
  arrow_.setSize(rfb::Point(kArrowSize, kArrowSize));
  if (submenu == Submenu::Yes) {
    submenu_ = menu->createSubmenu();
    submenu_->setInputHandler(this);
    submenu_->setMouseHandler(this);
  }
  label_.setShowMnemonic(menu->showsMnemonics());
  if (text)
    setText(text);
  menu->insertItem(this, before);
}

WMenuItem::~WMenuItem()
{
  liveness_.markDestroyed();
  submenu_.reset();
  if (menu_)
    menu_->removeItem(this);
}

bool WMenuItem::isSeparator() const
{
  const char* t = label_.getText();
  return !t || !*t;
}

void WMenuItem::setText(const char* text)
{
  label_.setText(text);
  label_.setSize(label_.preferredSize());
  if (!isSeparator() && !label_.getParentLayout()) {
    addChild(&label_, nullptr);
    addChild(&rightPart(), nullptr);
  }
  placeParts();
}

Widget& WMenuItem::rightPart()
{
  return submenu_ ? static_cast<Widget&>(arrow_) : static_cast<Widget&>(shortcutLabel_);
}

void WMenuItem::setShortcutKey(uint32_t keyWithModifiers)
{
  shortcutKey_ = keyWithModifiers;
  shortcutLabel_.setText(keyWithModifiers ? rfb::keyToString(keyWithModifiers).get() : "");
  shortcutLabel_.setSize(keyWithModifiers ? shortcutLabel_.preferredSize() : rfb::Point());
  placeParts();
}

void WMenuItem::setChecked(bool checked)
{
  if (checked == checked_)
    return;
  checked_ = checked;
  repaint();
}

bool WMenuItem::isCurrent() const
{
  return menu_ && menu_->getCurrent() == this;
}

bool WMenuItem::openSubmenu(bool open)
{
  if (!submenu_ || isSubmenuOpen() == open)
    return false;
  submenu_->popup(open, rfb::Point(width(), 0), this);
  return true;
}

void WMenuItem::placeParts()
{
  if (isSeparator() || !label_.getParentLayout())
    return;
  setChildPosition(&label_, rfb::Point(menu_ && menu_->hasCheckColumn() ? 10 : 0, 0));
  if (submenu_)
    setChildPosition(&arrow_, rfb::Point(width() - kArrowSize, (height() - kArrowSize) / 2));
  else
    setChildPosition(&shortcutLabel_, rfb::Point(width() - shortcutLabel_.width(), 0));
}

rfb::Point WMenuItem::preferredSize()
{
  if (isSeparator())
    return rfb::Point(2, 5);
  const rfb::Point l = label_.getSize(), r = rightPart().getSize();
  const int extra = menu_ && menu_->hasCheckColumn() ? 13 : 3;
  return rfb::Point(l.x + r.x + extra, std::max(l.y, r.y) + 2);
}

bool WMenuItem::activated(Widget* source)
{
  if (source == this && submenu_)
    return true;
  return WButton::activated(source);
}

bool WMenuItem::valueChanged(Widget* source)
{
  if (source == this) {
    plat::DestroyGuard guard(liveness_);
    repaint();
    if (!isCurrent())
      openSubmenu(false);
    if (guard.destroyed())
      return true;
  }
  return WButton::valueChanged(source);
}

bool WMenuItem::detached(Widget* source)
{
  if (source == this) {
    plat::DestroyGuard guard(liveness_);
    openSubmenu(false);
    if (guard.destroyed())
      return true;
  }
  return WButton::detached(source);
}

bool WMenuItem::resized(Widget* source)
{
  if (source == this)
    placeParts();
  return WButton::resized(source);
}

bool WMenuItem::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this && !isSeparator() && menu_) {
    plat::DestroyGuard guard(liveness_);
    if (!isCurrent())
      menu_->setCurrent(this);
    if (!guard.destroyed() && submenu_ && !isSubmenuOpen())
      submenu_->popup(true, rfb::Point(width(), 0), this);
    if (guard.destroyed())
      return true;
  }
  return WButton::pointerMoved(position, source);
}

void WMenuItem::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, s->bg));
  WButton::paint(pb);
  if (isSeparator()) {
    rfb::fillRect(pb, rfb::Rect(1, 2, width() - 1, 3), pixel(pb, s->bevelFrame));
    rfb::fillRect(pb, rfb::Rect(1, 3, width() - 1, 4), pixel(pb, s->bevelLight));
  }
  if (checked_ && menu_ && menu_->hasCheckColumn()) {
    const int y = (height() - 8) / 2;
    rfb::drawBitmap(pb, rfb::Rect(1, y, 9, y + 8), pixel(pb, s->contentText), kCheckMarkBits, 1, 0);
  }
}

// --- WMenuBar::Menu --------------------------------------------------------------------

WMenuBar::Menu::Menu(const char* text)
    : label_(text), dropDown_(WMenu::CheckColumn::Yes, nullptr, WMenu::Mnemonics::Shown, nullptr)
{
  rightPadding_ = kPadding;
  bottomPadding_ = kPadding;
  const rfb::Point size = label_.preferredSize();
  addChildRect(&label_, rfb::Rect(kPadding, kPadding, kPadding + size.x, kPadding + size.y), nullptr);
  dropDown_.setInputHandler(this);
}

WMenuBar::Menu::~Menu() = default;

void WMenuBar::Menu::setOpen(bool open)
{
  plat::DestroyGuard guard(liveness_);
  dropDown_.popup(open, rfb::Point(0, height()), this);
  if (!guard.destroyed())
    repaint();
}

bool WMenuBar::Menu::activated(Widget* source)
{
  if (source == this) {
    setOpen(!isOpen());
    return true;
  }
  return WButton::activated(source);
}

bool WMenuBar::Menu::detached(Widget* source)
{
  if (source == &dropDown_)
    repaint();
  return WButton::detached(source);
}

rfb::Point WMenuBar::Menu::preferredSize()
{
  return label_.preferredSize().translate(rfb::Point(2 * kPadding, 2 * kPadding));
}

void WMenuBar::Menu::paint(rfb::WritablePixelBuffer& pb)
{
  if (isOpen())
    drawBevel(pb, rfb::Rect(0, 0, width(), height()), isPressed() ? Bevel::Raised : Bevel::Sunken);
  WButton::paint(pb);
}

// --- WMenuBar --------------------------------------------------------------------------

WMenuBar::WMenuBar() : WLayout(PointerRouting::ToChildren) {}

WMenuBar::~WMenuBar()
{
  liveness_.markDestroyed();
  while (!menus_.empty())
    menus_.pop_back();
}

WMenuBar::Menu* WMenuBar::addMenu(const char* text, Menu* before)
{
  std::unique_ptr<Menu> title(new Menu(text));
  Menu* m = title.get();
  m->setSize(m->preferredSize());
  auto at = std::find_if(menus_.begin(), menus_.end(), [&](const std::unique_ptr<Menu>& p) { return p.get() == before; });
  addChild(m, at == menus_.end() ? nullptr : before);
  menus_.insert(at, std::move(title));
  placeTitles();
  return m;
}

void WMenuBar::placeTitles()
{
  int x = 0;
  for (const auto& m : menus_) {
    setChildPosition(m.get(), rfb::Point(x, 0));
    x += m->width();
  }
}

WMenuBar::Menu* WMenuBar::openMenu() const
{
  for (const auto& m : menus_) {
    if (m->isOpen())
      return m.get();
  }
  return nullptr;
}

bool WMenuBar::handleKey(uint32_t keyWithModifiers)
{
  uint32_t mods = keyWithModifiers & ~rfb::kKeyMask;
  if (isShiftDown())
    mods |= rfb::kKeyShift;
  if (isControlDown())
    mods |= rfb::kKeyCtrl;
  if (isAltDown())
    mods |= rfb::kKeyAlt;
  const uint32_t plain = keyWithModifiers & rfb::kKeyMask;
  const uint32_t typed = lowerAZ(rfb::keysymToUnicode(plain));
  plat::DestroyGuard guard(liveness_);
  for (size_t i = 0; i < menus_.size(); i++) {
    Menu* m = menus_[i].get();
    const uint32_t mnemonic = lowerAZ((uint32_t)m->label().getMnemonic());
    if (mods == rfb::kKeyAlt && !m->isOpen() && mnemonic && mnemonic == typed) {
      m->setOpen(true);
      return true;
    }
    if (m->dropDown().activateShortcut(plain | mods) || guard.destroyed())
      return true;
  }
  return false;
}

bool WMenuBar::key(uint32_t keysym, bool down, Widget* source)
{
  if (down && (keysym == kLeft || keysym == kRight) && !menus_.empty()) {
    plat::DestroyGuard guard(liveness_);
    const int n = (int)menus_.size();
    int next = keysym == kRight ? 0 : n - 1;
    if (Menu* open = openMenu()) {
      int i = 0;
      while (menus_[i].get() != open)
        i++;
      next = ((keysym == kRight ? i + 1 : i - 1) + n) % n;
      open->setOpen(false);
      if (guard.destroyed())
        return true;
    }
    Menu* m = menus_[next].get();
    m->activated(m);
    return true;
  }
  return WLayout::key(keysym, down, source);
}

bool WMenuBar::pointerMoved(const rfb::Point& position, Widget* source)
{
  Menu* open = openMenu();
  if (!open)
    return WLayout::pointerMoved(position, source);
  Menu* under = nullptr;
  for (const auto& m : menus_) {
    if (source == m.get())
      under = m.get();
  }
  if (source == this) {
    for (const auto& m : menus_) {
      if (getChildRect(m.get()).contains(position))
        under = m.get();
    }
  }
  if (under && under != open) {
    plat::DestroyGuard guard(under->livenessToken());
    open->setOpen(false);
    if (!guard.destroyed())
      under->setOpen(true);
  }
  return true;
}

bool WMenuBar::resized(Widget* source)
{
  if (source == this)
    placeTitles();
  return WLayout::resized(source);
}

rfb::Point WMenuBar::preferredSize()
{
  return WLayout::preferredSize().translate(rfb::Point(0, 2));
}

} // namespace wvw
