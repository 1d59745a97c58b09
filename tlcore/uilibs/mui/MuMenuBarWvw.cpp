#include "mui/MuMenuBarWvw.h"

#include "mui/MuDialog.h"

namespace mui {

MuMenuBarWvwItem::MuMenuBarWvwItem(wvw::WMenuBar::Menu* menu, ui::Menu::ActionCallback* callback)
  : ui::Menu::Item(nullptr, nullptr), menu_(menu), subMenu_(&menu->dropDown(), callback)
{
}

MuMenuBarWvw* MuMenuBarWvw::create(MuDialog* dialog, ui::Menu::ActionCallback* callback)
{
  auto bar = std::make_unique<MuMenuBarWvw>(dialog, callback);
  MuMenuBarWvw* added = bar.get();
  dialog->addChild(std::move(bar));
  return added;
}

MuMenuBarWvw::MuMenuBarWvw(MuDialog* dialog, ui::Menu::ActionCallback* callback)
  : MuElement(dialog, "menubar", nullptr), callback_(callback)
{
  setCommon(std::make_unique<MuCommonWvw>(this, &bar_));
}

MuMenuBarWvw::~MuMenuBarWvw()
{
  setCommon(nullptr);
  items_.clear();
}

ui::Menu::Item* MuMenuBarWvw::addMenu(const char* title, ui::Menu::Item* before)
{
  auto* b = dynamic_cast<MuMenuBarWvwItem*>(before);
  wvw::WMenuBar::Menu* menu = bar_.addMenu(title, b ? b->widgetMenu() : nullptr);
  items_.push_back(std::make_unique<MuMenuBarWvwItem>(menu, callback_));
  return items_.back().get();
}

std::vector<ui::Menu::Item*> MuMenuBarWvw::allItems()
{
  std::vector<ui::Menu::Item*> all;
  for (auto& item : items_) {
    std::vector<ui::Menu::Item*> leaves = item->subMenu()->leafItems();
    all.insert(all.end(), leaves.begin(), leaves.end());
  }
  return all;
}

} // namespace mui
