// A dialog's menu bar: an element that is also the process's ui::MenuBar.
// Each menu added is an item whose sub-menu is a ui::MenuWvw over that
// title's drop-down. The dialog back-end makes it on first request and
// stacks it at the top; create adds it to the dialog, which owns it. The
// bar owns its items. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "mui/MuiWvw.h"
#include "ui/MenuWvw.h"
#include "wvw/WMenu.h"

namespace mui {

class MuMenuBarWvwItem : public ui::Menu::Item {
public:
  MuMenuBarWvwItem(wvw::WMenuBar::Menu* menu, ui::Menu::ActionCallback* callback);
  ui::Menu* subMenu() override { return &subMenu_; }
  wvw::WMenuBar::Menu* widgetMenu() const { return menu_; }

private:
  wvw::WMenuBar::Menu* menu_;
  ui::MenuWvw subMenu_;
};

class MuMenuBarWvw : public MuElement, public ui::MenuBar {
public:
  // A new bar added to dialog.
  static MuMenuBarWvw* create(MuDialog* dialog, ui::Menu::ActionCallback* callback);
  MuMenuBarWvw(MuDialog* dialog, ui::Menu::ActionCallback* callback);
  ~MuMenuBarWvw() override;

  const char* typeName() const override { return "menubar"; }
  // Before before, or last when it is null.
  ui::Menu::Item* addMenu(const char* title, ui::Menu::Item* before) override;
  // The leaves of every menu, in order.
  std::vector<ui::Menu::Item*> allItems() override;
  wvw::WMenuBar& widget() { return bar_; }

private:
  wvw::WMenuBar bar_;
  ui::Menu::ActionCallback* callback_;
  std::vector<std::unique_ptr<MuMenuBarWvwItem>> items_;
};

} // namespace mui
