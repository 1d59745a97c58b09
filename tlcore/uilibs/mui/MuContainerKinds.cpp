#include "mui/MuContainerKinds.h"

#include <algorithm>

#include "mui/Mui.h"

namespace mui {

MuFrame* MuFrame::create(MuContainer* parent, const char* name, const char* title, uint32_t type)
{
  return createChild<MuFrame>(muFrameFactory, "muFrameFactory", parent, name, title, type);
}

MuFrame::MuFrame(MuContainer* parent, const char* name, const char*, uint32_t type)
  : MuContainerSingle(parent, name),
    type_(type),
    margin_(Mui::metric(Mui::kFrameMargin), Mui::metric(Mui::kFrameMargin))
{
}

const char* MuFrame::typeName() const
{
  return "frame";
}

MuScroll* MuScroll::create(MuContainer* parent, const char* name, uint32_t style)
{
  return createChild<MuScroll>(muScrollFactory, "muScrollFactory", parent, name, style);
}

MuScroll::MuScroll(MuContainer* parent, const char* name, uint32_t style)
  : MuContainerSingle(parent, name), style_(style), maxSize_(0x7fffffff, 0x7fffffff)
{
}

const char* MuScroll::typeName() const
{
  return "scroll";
}

// --- Child lists ------------------------------------------------------------

MuContainerList::MuContainerList(MuContainer* parent, const char* name) : MuContainer(parent, name) {}

MuContainerList::~MuContainerList() = default;

MuElement* MuContainerList::getChild(int index) const
{
  const int count = (int)children_.size();
  if (index < 0)
    index += count;
  return index >= 0 && index < count ? children_[index].get() : nullptr;
}

int MuContainerList::childCount() const
{
  return (int)children_.size();
}

void MuContainerList::addChild(std::unique_ptr<MuElement> element)
{
  PLAT_ASSERT(element);
  children_.push_back(std::move(element));
}

void MuContainerList::removeChild(MuElement* element)
{
  auto i = std::find_if(children_.begin(), children_.end(),
                        [element](const std::unique_ptr<MuElement>& c) { return c.get() == element; });
  if (i == children_.end())
    return;
  std::unique_ptr<MuElement> gone = std::move(*i);
  children_.erase(i);
}

void MuContainerList::destroyChildren()
{
  while (!children_.empty()) {
    std::unique_ptr<MuElement> last = std::move(children_.back());
    children_.pop_back();
  }
}

MuPager* MuPager::create(MuContainer* parent, const char* name, uint32_t kind)
{
  return createChild<MuPager>(muPagerFactory, "muPagerFactory", parent, name, kind);
}

MuPager::MuPager(MuContainer* parent, const char* name, uint32_t kind) : MuContainerList(parent, name), kind_(kind)
{
}

const char* MuPager::typeName() const
{
  return "pager";
}

MuSplitter* MuSplitter::create(MuContainer* parent, const char* name, uint32_t orientation, bool thin,
                               bool fixed)
{
  return createChild<MuSplitter>(muSplitterFactory, "muSplitterFactory", parent, name, orientation, thin, fixed);
}

MuSplitter::MuSplitter(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed)
  : MuContainerList(parent, name), orientation_(orientation), thin_(thin), fixed_(fixed)
{
}

const char* MuSplitter::typeName() const
{
  return "splitter";
}

// --- Window-level interfaces ------------------------------------------------

std::unique_ptr<MuPopupMenu> MuPopupMenu::create(const char* name, ui::MenuActionCallback* callback)
{
  return std::unique_ptr<MuPopupMenu>(
      boundFactory(muPopupMenuFactory, "muPopupMenuFactory", __FILE__, __LINE__)(name, callback));
}

MuPopupMenu::~MuPopupMenu() = default;

MuAutoHiderCallback::~MuAutoHiderCallback() = default;

std::unique_ptr<MuAutoHider> MuAutoHider::create(const char* name, const Size& size, int side, int visibleStrip,
                                                 Callback* callback)
{
  return std::unique_ptr<MuAutoHider>(boundFactory(muAutoHiderFactory, "muAutoHiderFactory", __FILE__,
                                                   __LINE__)(name, size, side, visibleStrip, callback));
}

MuAutoHider::~MuAutoHider() = default;

void MuAutoHider::visibilityChanged(bool visible, bool animating)
{
  if (callback_)
    callback_->visibilityChanged(visible, animating);
}

} // namespace mui
