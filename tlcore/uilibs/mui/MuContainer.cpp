#include "mui/MuContainer.h"

#include <string.h>

#include "plat/Exception.h"

namespace mui {

MuContainer::MuContainer(MuContainer* parent, const char* name) : MuElement(parent, name, nullptr) {}

bool MuContainer::isLocked() const
{
  if (MuElement::isLocked())
    return true;
  for (int i = 0; i < childCount(); i++) {
    MuElement* child = getChild(i);
    if (child->isShown() && child->isLocked())
      return true;
  }
  return false;
}

MuElement* MuContainer::focusedElement()
{
  for (int i = 0; i < childCount(); i++) {
    if (MuElement* focused = getChild(i)->focusedElement())
      return focused;
  }
  return nullptr;
}

void MuContainer::setSize(const Size& size)
{
  MuElement::setSize(size);
  layoutChildren();
}

void MuContainer::styleChanged()
{
  for (int i = 0; i < childCount(); i++)
    getChild(i)->styleChanged();
  MuElement::styleChanged();
}

const char* MuContainer::typeName() const
{
  return "container";
}

MuElement* MuContainer::findElement(const char* path)
{
  if (!path)
    return this;
  const char* dot = strchr(path, '.');
  const size_t headLength = dot ? (size_t)(dot - path) : strlen(path);
  const char* rest = dot ? dot + 1 : nullptr;
  for (int i = 0; i < childCount(); i++) {
    MuElement* child = getChild(i);
    const char* name = child->getName();
    MuElement* found = nullptr;
    if (!name)
      found = child->findElement(path);
    else if (strlen(name) == headLength && memcmp(name, path, headLength) == 0)
      found = child->findElement(rest);
    if (found)
      return found;
  }
  return nullptr;
}

void MuContainer::relayout()
{
  layoutChildren();
}

void MuContainer::checkLayout(MuLayoutCheckObserver* observer)
{
  for (int i = 0; i < childCount(); i++) {
    MuElement* child = getChild(i);
    if (child->isShown())
      child->checkLayout(observer);
  }
}

void MuContainer::childSizeChanged()
{
  layoutChildren();
  if (MuContainer* parent = getParent())
    parent->childSizeChanged();
}

rfb::Point MuContainer::childOrigin() const
{
  return rfb::Point();
}

void MuContainer::layoutChildren() {}

void MuContainer::destroyChildren() {}

void MuContainer::destroyChild(MuElement* element)
{
  PLAT_ASSERT(element);
  removeChild(element);
}

// --- Single child -----------------------------------------------------------

MuContainerSingle::MuContainerSingle(MuContainer* parent, const char* name) : MuContainer(parent, name) {}

MuContainerSingle::~MuContainerSingle() = default;

MuElement* MuContainerSingle::getChild(int index) const
{
  return index == 0 || index == -1 ? child_.get() : nullptr;
}

int MuContainerSingle::childCount() const
{
  return child_ ? 1 : 0;
}

void MuContainerSingle::addChild(std::unique_ptr<MuElement> element)
{
  std::unique_ptr<MuElement> previous = std::move(child_);
  child_ = std::move(element);
}

void MuContainerSingle::removeChild(MuElement* element)
{
  PLAT_ASSERT_TEXT(element == child_.get(), "element == child.get()");
  std::unique_ptr<MuElement> gone = std::move(child_);
}

void MuContainerSingle::destroyChildren()
{
  std::unique_ptr<MuElement> gone = std::move(child_);
}

} // namespace mui
