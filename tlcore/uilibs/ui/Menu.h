// Toolkit-neutral menus: an ordered list of items made through a back-end,
// with numbered sections that get separators between them automatically,
// and an action callback told when the user chooses an item. MenuWvw
// (MenuWvw.h) realises a menu with the widget set's menus; MenuBar is the
// process's one menu bar model with the standard menus.
//
// A menu owns its items and borrows its back-end and callbacks. Loop
// thread only.
#pragma once

#include <memory>
#include <vector>

#include "plat/String.h"

namespace ui {

class Menu {
public:
  class Item;

  class ActionCallback {
  public:
    virtual ~ActionCallback() = default;
    virtual void action(Item* item) = 0;
  };

  class Item {
  public:
    Item(const char* label, const char* secondText);
    virtual void setLabel(const char* label);
    // A keysym with the modifier bits Shift 1<<25, Ctrl 1<<26, Alt 1<<27.
    virtual void setShortcutKey(uint32_t) {}
    virtual void setSecondText(const char* text);
    virtual void setEnabled(bool) {}
    virtual bool isEnabled() { return true; }
    // Neither label nor second text.
    virtual bool isSeparator();
    virtual void setChecked(int) {}
    virtual int isChecked() { return 0; }
    virtual Menu* subMenu() { return nullptr; }
    // What choosing the item calls: its own callback, else the nearest of
    // its menus'; none here.
    virtual ActionCallback* effectiveCallback() const { return nullptr; }
    virtual ~Item();

    const char* label() const { return label_.get(); }
    const char* secondText() const { return second_.get(); }

  private:
    plat::String label_;
    plat::String second_;
  };

  // Flag of createItem and insertItem: the item opens a sub-menu.
  static constexpr unsigned kSubMenu = 4;

  // What makes and shows the items.
  class Backend {
  public:
    virtual ~Backend() = default;
    // A new item for the menu to own.
    virtual std::unique_ptr<Item> createItem(const char* label, const char* secondText, Item* before,
                                             ActionCallback* callback, unsigned flags) = 0;
    virtual void itemRemoved(Item* item) = 0;
    virtual void changed() = 0;
  };

  Menu(Backend* backend, ActionCallback* callback);
  virtual ~Menu();
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  // --- Items ---
  // Before before (at the end when it is not in the menu).
  Item* insertItem(const char* label, const char* secondText, Item* before, ActionCallback* callback = nullptr,
                   unsigned flags = 0);
  // Deletes the item and clears the reference; nothing when absent.
  void removeItem(Item*& item);
  void clear();
  const std::vector<std::unique_ptr<Item>>& items() const { return items_; }
  // Index of the item, or the item count.
  size_t findItem(const Item* item) const;
  // The items with every sub-menu replaced by its leaves, separators left
  // out.
  std::vector<Item*> leafItems();
  Item* defaultItem() const { return default_; }
  void setDefaultItem(Item* item) { default_ = item; }
  ActionCallback* callback() const { return callback_; }

  // --- Sections ---
  // The new last item of section k; separators keep non-empty sections
  // apart.
  Item* addToSection(int section, const char* label, const char* secondText = nullptr,
                     ActionCallback* callback = nullptr, unsigned flags = 0);
  // Removes the item and the separator its section no longer needs.
  void removeFromSection(Item* item);

protected:
  void destroyAll();

private:
  Item* itemAfter(Item* item) const;
  // The first element of the first non-empty section after k.
  Item* nextSectionStart(int k) const;

  Backend* backend_;
  ActionCallback* callback_;
  std::vector<std::unique_ptr<Item>> items_;
  Item* default_ = nullptr;
  std::vector<Item*> sections_;
};

// The action callback under a name other layers can declare ahead (the UI
// model's popup menus take one).
class MenuActionCallback : public Menu::ActionCallback {};

// The application's menu bar: the standard menus, made on first use
// through the derived class's addMenu. One per process.
class MenuBar {
public:
  MenuBar();
  virtual ~MenuBar();
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;

  // The process's menu bar, or null.
  static MenuBar* instance() { return inst_; }

  // A menu with that title before before (at the end when null); its
  // sub-menu holds the items.
  virtual Menu::Item* addMenu(const char* title, Menu::Item* before) = 0;

  Menu* fileMenu();
  Menu* editMenu();
  Menu* viewMenu();
  Menu* windowMenu();
  Menu* helpMenu();
  // "About" in that section of the Help menu, added on first use.
  Menu::Item* aboutItem(int section);
  // Items of the File menu with the caller's label: the first two are
  // cached (added on first use), the last is added on every call.
  Menu::Item* closeItem(const char* label, int section);
  Menu::Item* quitItem(const char* label, int section);
  Menu::Item* addFileItem(const char* label, int section);
  // The leaf items of every menu, menu after menu; here those of the
  // standard menus made so far, in the bar's derived class in its order.
  virtual std::vector<Menu::Item*> allItems();

private:
  Menu* standard(int which);

  static MenuBar* inst_;
  Menu::Item* menus_[5] = {};
  Menu::Item* about_ = nullptr;
  Menu::Item* close_ = nullptr;
  Menu::Item* quit_ = nullptr;
};

} // namespace ui
