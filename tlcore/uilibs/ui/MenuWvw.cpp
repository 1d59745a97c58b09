#include "ui/MenuWvw.h"

#include "plat/LivenessToken.h"

namespace ui {

MenuWvw::MenuWvw(wvw::WMenu* menu, ActionCallback* callback, MenuWvw* parentMenu)
  : Menu(this, callback), menu_(menu), parent_(parentMenu)
{
}

MenuWvw::~MenuWvw() { destroyAll(); }

std::unique_ptr<Menu::Item> MenuWvw::createItem(const char* label, const char* secondText, Menu::Item* before,
                                                ActionCallback* callback, unsigned flags)
{
  return std::make_unique<Item>(this, label, secondText, static_cast<Item*>(before), callback, flags);
}

MenuWvw::Item::Item(MenuWvw* owner, const char* label, const char* secondText, Item* before,
                    ActionCallback* callback, unsigned flags)
  : Menu::Item(label, secondText), owner_(owner), callback_(callback)
{
  const bool sub = flags & kSubMenu;
  widget_ = std::make_unique<wvw::WMenuItem>(owner->menu_, label, before ? before->widget_.get() : nullptr,
                                             sub ? wvw::WMenuItem::Submenu::Yes : wvw::WMenuItem::Submenu::No);
  widget_->setInputHandler(this);
  if (sub)
    subMenu_ = std::make_unique<MenuWvw>(widget_->getSubmenu(), callback, owner);
}

MenuWvw::Item::~Item()
{
  subMenu_.reset();
  widget_.reset();
}

void MenuWvw::Item::setLabel(const char* label)
{
  Menu::Item::setLabel(label);
  widget_->setText(label);
}

void MenuWvw::Item::setShortcutKey(uint32_t keyWithModifiers) { widget_->setShortcutKey(keyWithModifiers); }

void MenuWvw::Item::setEnabled(bool enabled) { widget_->setEnabled(enabled); }

bool MenuWvw::Item::isEnabled() { return widget_->isEnabled(); }

void MenuWvw::Item::setChecked(int checked)
{
  checked_ = checked;
  widget_->setChecked(checked != 0);
}

MenuWvw::ActionCallback* MenuWvw::Item::effectiveCallback() const
{
  if (callback_)
    return callback_;
  for (MenuWvw* m = owner_; m; m = m->parent_)
    if (m->callback())
      return m->callback();
  return nullptr;
}

void MenuWvw::Item::choose()
{
  ActionCallback* callback = effectiveCallback();
  const bool enabled = isEnabled();
  owner_->menu_->hideAll();
  if (enabled && callback)
    callback->action(this);
}

bool MenuWvw::Item::activated(wvw::Widget* source)
{
  if (source != widget_.get() || subMenu_)
    return false;
  choose();
  return true;
}

} // namespace ui
