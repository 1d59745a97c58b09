// A ui::Menu realised with the widget set's menus: each item is a
// wvw::WMenuItem in the menu widget it fills, and choosing one pops every
// open menu of the cascade down, then tells the item's callback (or the
// nearest one up the parent menus) unless the item is disabled.
//
// The menu borrows its menu widget and callback and owns its items, each
// of which owns its item widget and, for a sub-menu, the nested MenuWvw.
// Loop thread only.
#pragma once

#include "ui/Menu.h"
#include "wvw/WMenu.h"

namespace ui {

class MenuWvw : public Menu, private Menu::Backend {
public:
  class Item : public Menu::Item, public wvw::WInputHandler {
  public:
    Item(MenuWvw* owner, const char* label, const char* secondText, Item* before, ActionCallback* callback,
         unsigned flags);
    ~Item() override;

    void setLabel(const char* label) override;
    void setShortcutKey(uint32_t keyWithModifiers) override;
    void setEnabled(bool enabled) override;
    bool isEnabled() override;
    void setChecked(int checked) override;
    int isChecked() override { return checked_; }
    Menu* subMenu() override { return subMenu_.get(); }

    // What a user's choice does: pops the menus down, then calls the
    // callback when the item is enabled.
    void choose();
    // The item's own callback, else the nearest of its menus'.
    ActionCallback* effectiveCallback() const override;
    wvw::WMenuItem& widget() { return *widget_; }
    MenuWvw* owner() const { return owner_; }

    bool activated(wvw::Widget* source) override;

  private:
    MenuWvw* owner_;
    ActionCallback* callback_;
    std::unique_ptr<wvw::WMenuItem> widget_;
    int checked_ = 0;
    std::unique_ptr<MenuWvw> subMenu_;
  };

  // parentMenu: the menu holding the item whose sub-menu this is.
  MenuWvw(wvw::WMenu* menu, ActionCallback* callback, MenuWvw* parentMenu = nullptr);
  ~MenuWvw() override;

  wvw::WMenu* menuWidget() const { return menu_; }
  MenuWvw* parentMenu() const { return parent_; }

private:
  std::unique_ptr<Menu::Item> createItem(const char* label, const char* secondText, Menu::Item* before,
                                         ActionCallback* callback, unsigned flags) override;
  void itemRemoved(Menu::Item*) override {}
  void changed() override {}

  wvw::WMenu* menu_;
  MenuWvw* parent_;
};

} // namespace ui
