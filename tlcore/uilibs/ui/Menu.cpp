#include "ui/Menu.h"

#include <string.h>

#include <algorithm>

#include "loc/Localize.h"
#include "plat/Exception.h"

namespace ui {

static bool sameText(const plat::String& have, const char* text)
{
  const char* h = have.get();
  return (!h && !text) || (h && text && strcmp(h, text) == 0);
}

// --- Items ----------------------------------------------------------------------------

Menu::Item::Item(const char* label, const char* secondText) : label_(label), second_(secondText) {}

Menu::Item::~Item() = default;

void Menu::Item::setLabel(const char* label)
{
  if (!sameText(label_, label))
    label_ = plat::String(label);
}

void Menu::Item::setSecondText(const char* text)
{
  if (!sameText(second_, text))
    second_ = plat::String(text);
}

bool Menu::Item::isSeparator()
{
  return (!label_.get() || !*label_.get()) && (!second_.get() || !*second_.get());
}

// --- Menu -----------------------------------------------------------------------------

Menu::Menu(Backend* backend, ActionCallback* callback) : backend_(backend), callback_(callback) {}

Menu::~Menu() { destroyAll(); }

void Menu::destroyAll()
{
  default_ = nullptr;
  sections_.clear();
  items_.clear();
}

size_t Menu::findItem(const Item* item) const
{
  for (size_t i = 0; i < items_.size(); i++)
    if (items_[i].get() == item)
      return i;
  return items_.size();
}

Menu::Item* Menu::itemAfter(Item* item) const
{
  const size_t i = findItem(item);
  return i + 1 < items_.size() ? items_[i + 1].get() : nullptr;
}

Menu::Item* Menu::insertItem(const char* label, const char* secondText, Item* before, ActionCallback* callback,
                             unsigned flags)
{
  const size_t at = findItem(before);
  std::unique_ptr<Item> made =
      backend_->createItem(label, secondText, at < items_.size() ? before : nullptr, callback, flags);
  Item* item = made.get();
  items_.insert(items_.begin() + (ptrdiff_t)std::min(at, items_.size()), std::move(made));
  backend_->changed();
  return item;
}

void Menu::removeItem(Item*& item)
{
  if (item == default_)
    default_ = nullptr;
  const size_t at = findItem(item);
  if (at < items_.size()) {
    std::unique_ptr<Item> gone = std::move(items_[at]);
    items_.erase(items_.begin() + (ptrdiff_t)at);
    for (Item*& s : sections_)
      if (s == item)
        s = nullptr;
    backend_->itemRemoved(item);
    gone.reset();
  }
  item = nullptr;
  backend_->changed();
}

void Menu::clear()
{
  default_ = nullptr;
  while (!items_.empty()) {
    Item* item = items_.back().get();
    removeItem(item);
  }
  sections_.clear();
}

std::vector<Menu::Item*> Menu::leafItems()
{
  std::vector<Item*> out;
  for (const auto& item : items_) {
    if (Menu* sub = item->subMenu()) {
      std::vector<Item*> leaves = sub->leafItems();
      out.insert(out.end(), leaves.begin(), leaves.end());
    } else if (!item->isSeparator()) {
      out.push_back(item.get());
    }
  }
  return out;
}

// --- Sections ---------------------------------------------------------------------------

Menu::Item* Menu::nextSectionStart(int k) const
{
  for (size_t j = (size_t)k + 1; j < sections_.size(); j++)
    if (sections_[j])
      return sections_[j];
  return nullptr;
}

Menu::Item* Menu::addToSection(int k, const char* label, const char* secondText, ActionCallback* callback,
                               unsigned flags)
{
  PLAT_ASSERT(k >= 0);
  if (sections_.size() < (size_t)k + 1)
    sections_.resize((size_t)k + 1);
  Item* next = nextSectionStart(k);
  if (sections_[k])
    return insertItem(label, secondText, next, callback, flags);
  const bool earlier = std::any_of(sections_.begin(), sections_.begin() + k, [](Item* s) { return s; });
  if (earlier) {
    sections_[k] = insertItem(nullptr, nullptr, next);
    return insertItem(label, secondText, next, callback, flags);
  }
  if (next) {
    Item* separator = insertItem(nullptr, nullptr, next);
    for (Item*& s : sections_)
      if (s == next)
        s = separator;
    sections_[k] = insertItem(label, secondText, separator, callback, flags);
    return sections_[k];
  }
  sections_[k] = insertItem(label, secondText, nullptr, callback, flags);
  return sections_[k];
}

void Menu::removeFromSection(Item* item)
{
  if (!item)
    return;
  const size_t at = findItem(item);
  if (at == items_.size())
    return;
  // The section whose items run from its entry up to the next section's.
  int section = -1;
  size_t start = 0, end = 0;
  for (size_t k = 0; k < sections_.size(); k++) {
    if (!sections_[k])
      continue;
    start = findItem(sections_[k]);
    Item* next = nextSectionStart((int)k);
    end = next ? findItem(next) : items_.size();
    if (start <= at && at < end) {
      section = (int)k;
      break;
    }
  }
  if (section < 0)
    return;
  const bool earlier =
      std::any_of(sections_.begin(), sections_.begin() + section, [](Item* s) { return s; });
  if (earlier) {
    if (end - start == 2 && at == start + 1) {
      Item* separator = sections_[section];
      sections_[section] = nullptr;
      removeItem(separator);
    }
  } else if (item == sections_[section]) {
    sections_[section] = at + 1 < end ? items_[at + 1].get() : nullptr;
    if (!sections_[section]) {
      for (size_t j = (size_t)section + 1; j < sections_.size(); j++) {
        if (!sections_[j])
          continue;
        Item* separator = sections_[j];
        sections_[j] = itemAfter(separator);
        removeItem(separator);
        break;
      }
    }
  }
  removeItem(item);
}

// --- The menu bar -------------------------------------------------------------------------

MenuBar* MenuBar::inst_ = nullptr;

MenuBar::MenuBar()
{
  PLAT_ASSERT(!inst_);
  inst_ = this;
}

MenuBar::~MenuBar() { inst_ = nullptr; }

Menu* MenuBar::standard(int which)
{
  static const char* const keys[5] = {"ui_menu_file", "ui_menu_edit", "ui_menu_view", "ui_menu_window",
                                      "ui_menu_help"};
  if (!menus_[which])
    menus_[which] = addMenu(LOC_TR(keys[which]), nullptr);
  return menus_[which]->subMenu();
}

Menu* MenuBar::fileMenu() { return standard(0); }
Menu* MenuBar::editMenu() { return standard(1); }
Menu* MenuBar::viewMenu() { return standard(2); }
Menu* MenuBar::windowMenu() { return standard(3); }
Menu* MenuBar::helpMenu() { return standard(4); }

std::vector<Menu::Item*> MenuBar::allItems()
{
  std::vector<Menu::Item*> out;
  for (Menu::Item* menu : menus_) {
    if (menu && menu->subMenu()) {
      std::vector<Menu::Item*> leaves = menu->subMenu()->leafItems();
      out.insert(out.end(), leaves.begin(), leaves.end());
    }
  }
  return out;
}

Menu::Item* MenuBar::aboutItem(int section)
{
  if (!about_)
    about_ = helpMenu()->addToSection(section, LOC_TR("ui_menu_about"));
  return about_;
}

Menu::Item* MenuBar::closeItem(const char* label, int section)
{
  if (!close_)
    close_ = fileMenu()->addToSection(section, label);
  return close_;
}

Menu::Item* MenuBar::quitItem(const char* label, int section)
{
  if (!quit_)
    quit_ = fileMenu()->addToSection(section, label);
  return quit_;
}

Menu::Item* MenuBar::addFileItem(const char* label, int section) { return fileMenu()->addToSection(section, label); }

} // namespace ui
