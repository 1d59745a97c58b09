#include "wvw/WChoice.h"

#include <string.h>

#include "plat/Exception.h"

namespace wvw {

namespace {

constexpr uint32_t kUp = 0xFF52, kDown = 0xFF54, kEscape = 0xFF1B;

} // namespace

WChoice::WChoice(Widget* owner, Editable editable, int maxLength)
  : WLayout(PointerRouting::ToChildren), owner_(owner), editable_(editable == Editable::Yes),
    entry_(maxLength, nullptr, editable_ ? WEdit::ContextMenu::Yes : WEdit::ContextMenu::No),
    popupMenu_(WMenu::CheckColumn::No, nullptr, WMenu::Mnemonics::Hidden, nullptr)
{
  propagateEnabled_ = true;
  entry_.setFocusable(editable_);
  popupMenu_.setInputHandler(this);
  const int h = entry_.preferredSize().y;
  addChildRect(&entry_, rfb::Rect(0, 0, entry_.preferredSize().x, h), nullptr);
  addChildRect(&arrowButton_, rfb::Rect(0, 0, kArrowWidth, h), nullptr);
}

WChoice::~WChoice()
{
  liveness_.markDestroyed();
  items_.clear();
}

void WChoice::setItem(int id, const char* label)
{
  std::unique_ptr<WMenuItem> item(new WMenuItem(&popupMenu_, label));
  items_[id] = std::move(item);
}

void WChoice::removeItem(int id)
{
  items_.erase(id);
}

void WChoice::clearItems()
{
  items_.clear();
}

void WChoice::listItems(std::vector<std::string>& out) const
{
  for (const WMenuItem* item : popupMenu_.items()) {
    auto j = items_.begin();
    while (j != items_.end() && j->second.get() != item)
      ++j;
    PLAT_ASSERT_TEXT(j != items_.end(), "j != items.end()");
    out.push_back(std::to_string(j->first) + ":" + (item->getText() ? item->getText() : ""));
  }
}

void WChoice::setCompletions(bool on)
{
  std::vector<std::string> labels;
  if (on) {
    for (const auto& i : items_)
      labels.push_back(i.second->getText() ? i.second->getText() : "");
  }
  entry_.setCompletions(labels, WEditAutocomplete::Case::Insensitive);
}

void WChoice::showText(const char* text)
{
  if (strcmp(text, entry_.getText()) == 0)
    return;
  plat::DestroyGuard guard(liveness_);
  entry_.setText(text, WEdit::Caret::AtStart);
  if (!guard.destroyed())
    valueChanged(this);
}

void WChoice::selectItem(int id)
{
  auto i = items_.find(id);
  showText(i == items_.end() || !i->second->getText() ? "" : i->second->getText());
}

void WChoice::setText(const char* text)
{
  showText(text ? text : "");
}

const WMenuItem* WChoice::labelled(const char* text) const
{
  for (const auto& i : items_) {
    if (i.second->getText() && strcmp(i.second->getText(), text) == 0)
      return i.second.get();
  }
  return nullptr;
}

void WChoice::selectText(const char* text, int id)
{
  if (text && labelled(text))
    showText(text);
  else
    selectItem(id);
}

int WChoice::step(bool forward)
{
  if (items_.empty())
    return -1;
  const WMenuItem* current = labelled(entry_.getText());
  auto at = items_.end();
  for (auto i = items_.begin(); i != items_.end(); ++i) {
    if (i->second.get() == current)
      at = i;
  }
  if (at == items_.end()) {
    at = forward ? items_.begin() : std::prev(items_.end());
  } else if (forward) {
    ++at;
    if (at == items_.end())
      at = items_.begin();
  } else {
    at = at == items_.begin() ? std::prev(items_.end()) : std::prev(at);
  }
  const int id = at->first;
  selectItem(id);
  return id;
}

void WChoice::selectAll()
{
  if (editable_)
    entry_.setSelection(0, -1);
}

void WChoice::setTooltip(const char* text)
{
  WLayout::setTooltip(text);
  arrowButton_.setTooltip(text);
  if (!editable_)
    entry_.setTooltip(text);
}

bool WChoice::activated(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == &arrowButton_) {
    if (!popupMenu_.isAttached()) {
      if (!items_.empty())
        popupMenu_.popup(true, rfb::Point(0, box().bottomRight.y), this);
      return true;
    }
    source = popupMenu_.getCurrent();
    if (!source)
      return true;
  }
  for (const auto& i : items_) {
    if (i.second.get() != source)
      continue;
    showText(i.second->getText() ? i.second->getText() : "");
    if (guard.destroyed())
      return true;
    selectAll();
    popupMenu_.popup(false, rfb::Point(), nullptr);
    return true;
  }
  return WLayout::activated(source);
}

bool WChoice::key(uint32_t keysym, bool down, Widget* source)
{
  if (down && source == &entry_ && (keysym == kDown || keysym == kUp)) {
    plat::DestroyGuard guard(liveness_);
    step(keysym == kDown);
    if (!guard.destroyed())
      selectAll();
    return true;
  }
  if (down && source == &arrowButton_ && popupMenu_.isAttached()) {
    if (keysym == kDown || keysym == kUp)
      popupMenu_.keyEvent(keysym, true);
    else if (keysym == kEscape)
      popupMenu_.popup(false, rfb::Point(), nullptr);
    return true;
  }
  return WLayout::key(keysym, down, source);
}

rfb::Rect WChoice::box()
{
  return rfb::Rect(0, 0, width(), getChildRect(&entry_).height());
}

bool WChoice::resized(Widget* source)
{
  if (source == this) {
    const int h = box().height();
    setChildRect(&entry_, rfb::Rect(0, 0, width() - kArrowWidth + 4, h));
    setChildRect(&arrowButton_, rfb::Rect(width() - kArrowWidth, 0, width(), h));
    popupMenu_.setMinWidth(width() - 7);
  }
  return WLayout::resized(source);
}

rfb::Point WChoice::preferredSize()
{
  int widest = 0;
  for (const auto& i : items_)
    widest = std::max(widest, i.second->preferredSize().x);
  return rfb::Point(widest + 8 + kArrowWidth, arrowButton_.height());
}

} // namespace wvw
