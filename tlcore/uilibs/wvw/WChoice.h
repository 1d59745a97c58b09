// The drop-down choice: a completing entry with an arrow button at its
// right end that pops up a menu of the items. Items are identified by
// integer ids and shown by their labels. An editable choice takes any
// text, completed from the labels; a fixed one only shows the chosen label
// and its entry cannot take the focus.
//
// Ownership: the choice owns its items, its entry, menu and button (as
// members). A handler may destroy the choice from valueChanged or an
// activation. Loop thread only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "wvw/WEdit.h"
#include "wvw/WMenu.h"
#include "wvw/WSmallControls.h"

namespace wvw {

// A bevelled button carrying a downward arrow.
class WArrowButton : public WBevelButton {
public:
  explicit WArrowButton(uint32_t direction = WArrow::kDown) : arrow_(direction) { setContent(&arrow_); }
  WArrow& arrow() { return arrow_; }

private:
  WArrow arrow_;
};

class WChoice : public WLayout {
public:
  static constexpr int kArrowWidth = 19;
  enum class Editable { No, Yes };

  // owner is stored only (the labelled choice passes itself).
  WChoice(Widget* owner, Editable editable, int maxLength);
  ~WChoice() override;

  // --- Items ---
  // Appended to the menu; an item of that id before is destroyed.
  void setItem(int id, const char* label);
  void removeItem(int id);
  void clearItems();
  // "<id>:<label>" per item, in the menu's order.
  void listItems(std::vector<std::string>& out) const;
  // The labels in id order as completions (ignoring case), or none.
  void setCompletions(bool on);

  // --- The shown text (valueChanged only on a change) ---
  void selectItem(int id);
  void setText(const char* text);
  // text when an item has exactly that label, else the label of id.
  void selectText(const char* text, int id);
  const char* getText() const { return entry_.getText(); }
  // The id of the next or previous item, shown; -1 without items.
  int step(bool forward);
  void selectAll();

  void setTooltip(const char* text) override;
  Widget* getOwner() const { return owner_; }
  bool isEditable() const { return editable_; }
  WEditAutocomplete& entry() { return entry_; }
  WRootMenu& popupMenu() { return popupMenu_; }
  WArrowButton& arrowButton() { return arrowButton_; }

  bool activated(Widget* source) override;
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool resized(Widget* source) override;
  rfb::Point preferredSize() override;

private:
  // The drawn box (entry and button) at the choice's top; a parent may
  // stretch the choice taller, the box keeps the entry's height.
  rfb::Rect box();
  void showText(const char* text);
  const WMenuItem* labelled(const char* text) const;

  Widget* owner_;
  bool editable_;
  WEditAutocomplete entry_;
  WRootMenu popupMenu_;
  WArrowButton arrowButton_;
  std::map<int, std::unique_ptr<WMenuItem>> items_;
};

} // namespace wvw
