// Pop-up menus, their entries and the menu bar.
//
// A menu is a column (or several, when the screen area is short) of
// entries with keyboard navigation and one highlighted entry. A root menu
// shows as a pop-up on the popup host (WRoot) it takes from the widget it
// is shown against. Entries report activation through their input
// handlers; the owner closes the menus with hideAll.
//
// Ownership: a menu does not own its entries (their creator does; an entry
// inserts itself on construction and removes itself on destruction); an
// entry owns its submenu; a menu-bar title owns its drop-down by value and
// the bar owns its titles. A menu destroyed before its entries clears their
// link to it. Handlers may destroy an entry, a menu or the bar from an
// activation: dispatchers check their liveness first. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "wvw/WLabel.h"
#include "wvw/WSmallControls.h"
#include "wvw/WStyle.h"

namespace wvw {

class WMenu : public WLayout {
public:
  static constexpr int kMargin = 4;

  enum class CheckColumn { No, Yes };
  enum class Mnemonics { Hidden, Shown };

  WMenu(CheckColumn checkColumn, Mnemonics mnemonics, WMenu* parentMenu);
  ~WMenu() override;

  // --- Showing ---
  // Shows the menu at position relative to relativeTo (or to the stored
  // host's origin), or takes it down.
  virtual void popup(bool show, const rfb::Point& position, Widget* relativeTo) = 0;
  virtual std::unique_ptr<WMenu> createSubmenu() = 0;
  // Takes this menu down, then every parent menu.
  void hideAll();

  // --- Entries ---
  // Before before (at the end when null or unknown); an entry already in
  // the list moves.
  void insertItem(WMenuItem* item, WMenuItem* before);
  void removeItem(WMenuItem* item);
  const std::vector<WMenuItem*>& items() const { return items_; }
  void setCurrent(WMenuItem* item);
  WMenuItem* getCurrent() const { return current_; }
  // Activates the first enabled entry with that shortcut.
  bool activateShortcut(uint32_t keyWithModifiers);

  // --- Geometry ---
  void relayout();
  // Places the entries in columns of that width; the column count.
  int placeInColumns(int columnWidth);
  void setMinWidth(int minWidth);
  int getMinWidth() const { return minWidth_; }
  void setMaxHeight(int maxHeight) { maxHeight_ = maxHeight; }
  int getMaxHeight() const { return maxHeight_; }
  int columns() const { return columns_; }

  bool hasCheckColumn() const { return checkColumn_; }
  bool showsMnemonics() const { return showMnemonics_; }
  WMenu* getParentMenu() const { return parentMenu_; }
  const WStyle& highlightStyle() const { return highlightStyle_; }

  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool attached(Widget* source) override;
  void styleChanged() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  friend class WMenuItem;
  void moveHighlight(bool up);

  WMenu* parentMenu_;
  std::vector<WMenuItem*> items_;
  WMenuItem* current_ = nullptr;
  int maxHeight_ = 0;
  int minWidth_ = 0;
  WStyle highlightStyle_;
  bool checkColumn_;
  bool showMnemonics_;
  int columns_ = 1;
};

class WRootMenu : public WMenu {
public:
  // host may be null until the menu is first shown against a widget.
  WRootMenu(CheckColumn checkColumn, WRoot* host, Mnemonics mnemonics, WMenu* parentMenu);
  ~WRootMenu() override;

  void popup(bool show, const rfb::Point& position, Widget* relativeTo) override;
  std::unique_ptr<WMenu> createSubmenu() override;
  WRoot* getHost() const { return host_; }

private:
  WRoot* host_;
};

class WMenuItem : public WButton {
public:
  enum class Submenu { No, Yes };
  static const uint8_t kCheckMarkBits[8];

  // Inserts itself into menu before before; a null text makes a separator.
  WMenuItem(WMenu* menu, const char* text, WMenuItem* before = nullptr, Submenu submenu = Submenu::No);
  ~WMenuItem() override;

  void setText(const char* text);
  const char* getText() const { return label_.getText(); }
  bool isSeparator() const;
  // A keysym with the modifier bits of rfb::kKeyShift, kKeyCtrl, kKeyAlt.
  void setShortcutKey(uint32_t keyWithModifiers);
  uint32_t getShortcutKey() const { return shortcutKey_; }
  void setChecked(bool checked);
  bool isChecked() const { return checked_; }
  bool isCurrent() const;
  // Opens or closes the submenu; true when it changed.
  bool openSubmenu(bool open);
  bool isSubmenuOpen() const { return submenu_ && submenu_->isAttached(); }
  WMenu* getSubmenu() const { return submenu_.get(); }
  WMenu* getMenu() const { return menu_; }
  WLabelWithMnemonic& label() { return label_; }
  WLabel& shortcutLabel() { return shortcutLabel_; }

  bool activated(Widget* source) override;
  bool valueChanged(Widget* source) override;
  bool detached(Widget* source) override;
  bool resized(Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool wantsFocus() override { return false; }
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  friend class WMenu;
  void placeParts();
  Widget& rightPart();

  WMenu* menu_;
  WLabelWithMnemonic label_;
  WLabel shortcutLabel_;
  WArrow arrow_;
  std::unique_ptr<WMenu> submenu_;
  uint32_t shortcutKey_ = 0;
  bool checked_ = false;
};

class WMenuBar : public WLayout {
public:
  // One title of the bar with its drop-down.
  class Menu : public WButton {
  public:
    static constexpr int kPadding = 3;

    explicit Menu(const char* text);
    ~Menu() override;

    void setOpen(bool open);
    bool isOpen() const { return dropDown_.isAttached(); }
    WRootMenu& dropDown() { return dropDown_; }
    WLabelWithMnemonic& label() { return label_; }

    bool activated(Widget* source) override;
    bool detached(Widget* source) override;
    rfb::Point preferredSize() override;
    void paint(rfb::WritablePixelBuffer& pb) override;

  private:
    WLabelWithMnemonic label_;
    WRootMenu dropDown_;
  };

  WMenuBar();
  ~WMenuBar() override;

  // Owned by the bar.
  Menu* addMenu(const char* text, Menu* before = nullptr);
  const std::vector<std::unique_ptr<Menu>>& menus() const { return menus_; }
  // A key with modifier bits; the held Shift, Ctrl and Alt are added.
  bool handleKey(uint32_t keyWithModifiers);

  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool resized(Widget* source) override;
  bool wantsFocus() override { return false; }
  rfb::Point preferredSize() override;

private:
  void placeTitles();
  Menu* openMenu() const;

  std::vector<std::unique_ptr<Menu>> menus_;
};

} // namespace wvw
