// The automation channel's menu commands, on the X layer's menus.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "mui/MuContainerKinds.h"
#include "mui/MuiComms.h"
#include "plat/String.h"
#include "ui/Menu.h"

namespace mui {

namespace {

// A selector that is all digits is an index; the first item at that index
// or whose text holds the selector (any case) wins. No selector: the first.
ui::Menu::Item* selectItem(const std::vector<ui::Menu::Item*>& items, const char* selector)
{
  long long index = -1;
  if (selector && *selector && strspn(selector, "0123456789") == strlen(selector) && strlen(selector) < 12)
    index = atoll(selector);
  for (size_t i = 0; i < items.size(); i++) {
    const char* text = items[i]->label() ? items[i]->label() : "";
    if ((long long)i == index || plat::strCaseStr(text, selector))
      return items[i];
  }
  return nullptr;
}

} // namespace

bool MuiComms::menuCommand(const char* popupName, char* rest, plat::DString& reply)
{
  std::vector<ui::Menu::Item*> items;
  if (popupName) {
    auto found = MuPopupMenu::registry().find(popupName);
    if (found == MuPopupMenu::registry().end())
      return false;
    items = found->second->leafItems();
  } else {
    if (!ui::MenuBar::instance())
      return false;
    items = ui::MenuBar::instance()->allItems();
  }
  if (!rest || !*rest || *rest == ' ')
    return false;
  char* space = strchr(rest, ' ');
  char* selector = space ? space + 1 : nullptr;
  if (space)
    *space = 0;
  const char* word = rest;
  if (strcmp(word, "listitems") == 0) {
    for (ui::Menu::Item* item : items)
      reply.appendf("%s\n", item->label() ? item->label() : "");
    return true;
  }
  const bool state = strcmp(word, "state") == 0;
  if (!state && strcmp(word, "invoke") != 0)
    selector = rest;
  ui::Menu::Item* item = selectItem(items, selector);
  if (!item)
    return false;
  if (state) {
    reply.appendf("%d %d\n", item->isEnabled() ? 1 : 0, item->isChecked() ? 1 : 0);
    return true;
  }
  ui::Menu::ActionCallback* callback = item->effectiveCallback();
  if (item->isEnabled() && callback)
    callback->action(item);
  reply.append("1\n");
  return true;
}

void MuiComms::listPopupMenus(plat::DString& reply)
{
  for (const auto& entry : MuPopupMenu::registry())
    reply.appendf("%s\n", entry.first.c_str());
}

} // namespace mui
