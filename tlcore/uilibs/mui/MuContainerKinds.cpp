#include "mui/MuContainerKinds.h"

#include <string.h>

#include <algorithm>

#include "mui/Mui.h"

namespace mui {

// --- Frame ------------------------------------------------------------------

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

plat::DString MuFrame::getState() const
{
  static const char* const kTypes[] = {"Plain", "Titled", "Header", "Footer", "Bordered"};
  plat::DString s = MuContainerSingle::getState();
  s.appendf("element Frame\ntype %s\nmargin %d%s%d\n", type_ < 5 ? kTypes[type_] : "Unknown", margin_.x, ",",
            margin_.y);
  return s;
}

void MuFrame::setMargin(const Size& margin)
{
  margin_ = margin;
}

// --- Scroll -----------------------------------------------------------------

namespace {

// "No limit" for the axis that scrolls.
const int kUnbounded = 0x3fffffff;

} // namespace

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

plat::DString MuScroll::getState() const
{
  plat::DString s = MuContainerSingle::getState();
  s.appendf("element Scroll\nstyle %d\n", (int)style_);
  return s;
}

rfb::Point MuScroll::scrollPosition() const
{
  return rfb::Point();
}

void MuScroll::setScrollPosition(const rfb::Point&) {}

Size MuScroll::borderWidth() const
{
  return Size();
}

int MuScroll::horizontalBarHeight() const
{
  return 0;
}

int MuScroll::verticalBarWidth() const
{
  return 0;
}

Size MuScroll::decorationSize() const
{
  const Size border = borderWidth();
  Size d;
  if (style_ & kBordered)
    d = Size(2 * border.x, 2 * border.y);
  if (style_ & kVertical)
    d.x += verticalBarWidth();
  if (style_ & kHorizontal)
    d.y += horizontalBarHeight();
  return d;
}

int MuScroll::childWidth(int height) const
{
  const MuElement* child = getChild(0);
  return child ? child->preferredWidth(height) : 0;
}

int MuScroll::childHeight(int width) const
{
  const MuElement* child = getChild(0);
  return child ? child->preferredHeight(width) : 0;
}

int MuScroll::preferredWidth(int height) const
{
  const Size d = decorationSize();
  const int h = (style_ & kVertical) ? kUnbounded : height;
  return std::min(childWidth(h - d.y) + d.x, maxSize_.x);
}

int MuScroll::preferredHeight(int width) const
{
  const Size d = decorationSize();
  const int w = (style_ & kHorizontal) ? kUnbounded : width;
  return std::min(childHeight(w - d.x) + d.y, maxSize_.y);
}

bool MuScroll::addVertical(Fit& fit, bool keepChildWidth) const
{
  if (!(style_ & kVertical) || childHeight(keepChildWidth ? fit.child.x : fit.view.x) <= fit.view.y)
    return false;
  fit.view.x -= verticalBarWidth();
  if (!keepChildWidth)
    fit.child.x = fit.view.x;
  fit.child.y = std::max(fit.view.y, childHeight(fit.child.x));
  fit.needVertical = true;
  return true;
}

bool MuScroll::addHorizontal(Fit& fit, bool keepChildHeight) const
{
  if (!(style_ & kHorizontal) || childWidth(fit.child.y) <= fit.view.x)
    return false;
  fit.view.y -= horizontalBarHeight();
  if (!keepChildHeight)
    fit.child.y = fit.view.y;
  fit.child.x = std::max(fit.view.x, childWidth(fit.child.y));
  fit.needHorizontal = true;
  return true;
}

MuScroll::Fit MuScroll::fitChild(const Size& view) const
{
  Fit fit{view, view};
  const bool vertical = addVertical(fit, false);
  const bool horizontal = addHorizontal(fit, vertical);
  if (!vertical && horizontal)
    addVertical(fit, true);
  return fit;
}

MuScroll::Fit MuScroll::fitVertical(const Size& view) const
{
  Fit fit{view, view};
  addVertical(fit, false);
  return fit;
}

MuScroll::Fit MuScroll::fitHorizontal(const Size& view) const
{
  Fit fit{view, view};
  addHorizontal(fit, false);
  return fit;
}

// --- Pager ------------------------------------------------------------------

MuPager* MuPager::create(MuContainer* parent, const char* name, uint32_t kind)
{
  return createChild<MuPager>(muPagerFactory, "muPagerFactory", parent, name, kind);
}

MuPager::MuPager(MuContainer* parent, const char* name, uint32_t kind) : MuContainer(parent, name), kind_(kind) {}

MuPager::~MuPager() = default;

const char* MuPager::typeName() const
{
  return "pager";
}

plat::DString MuPager::getState() const
{
  plat::DString s = MuContainer::getState();
  s.appendf("element Pager\npage %d\n", current_);
  return s;
}

plat::DString MuPager::getItems() const
{
  plat::DString s;
  for (int i = 0; i < pages_.count(); i++)
    s.appendf("%d:%s\n", i, pages_[i].title.str());
  return s;
}

bool MuPager::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "select") != 0 || !intArgument(argument, &n) || flags() != 0)
    return false;
  if (n >= 0 && n < childCount()) {
    current_ = n;
    layoutChildren();
    currentPageChanged();
  }
  notify(this, kChanged);
  return true;
}

MuElement* MuPager::getChild(int index) const
{
  return pages_.get(index);
}

int MuPager::childCount() const
{
  return pages_.count();
}

void MuPager::addChild(std::unique_ptr<MuElement> element)
{
  pages_.add(Page{std::move(element), plat::String()});
}

void MuPager::removeChild(MuElement* element)
{
  const int i = pages_.indexOf(element);
  PLAT_ASSERT_TEXT(i >= 0, "i != pages.end()");
  if (i <= current_)
    current_ = std::max(current_ - 1, 0);
  pages_.destroy(element);
}

void MuPager::layoutChildren()
{
  for (int i = 0; i < pages_.count(); i++)
    pages_[i].element->setShown(i == current_);
}

void MuPager::destroyChildren()
{
  pages_.destroyAll();
  current_ = 0;
}

void MuPager::pageTitleChanged(int) {}

void MuPager::currentPageChanged() {}

void MuPager::setPageTitle(MuElement* page, const char* title)
{
  const int i = pages_.indexOf(page);
  if (i < 0 || plat::strCmpNull(pages_[i].title.get(), title) == 0)
    return;
  pages_[i].title = plat::String(title);
  pageTitleChanged(i);
}

const char* MuPager::pageTitle(int index) const
{
  return index >= 0 && index < childCount() ? pages_[index].title.get() : nullptr;
}

void MuPager::setCurrent(int index)
{
  if (index < 0 || index >= childCount())
    return;
  current_ = index;
  layoutChildren();
  currentPageChanged();
}

void MuPager::pageSelected(int index)
{
  PLAT_ASSERT_TEXT(index >= 0 && index < childCount(), "isValid(i)");
  current_ = index;
  layoutChildren();
  notify(this, kChanged);
}

// --- Splitter ---------------------------------------------------------------

MuSplitter* MuSplitter::create(MuContainer* parent, const char* name, uint32_t orientation, bool thin,
                               bool fixed)
{
  return createChild<MuSplitter>(muSplitterFactory, "muSplitterFactory", parent, name, orientation, thin, fixed);
}

MuSplitter::MuSplitter(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed)
  : MuContainer(parent, name), orientation_(orientation), thin_(thin), fixed_(fixed)
{
}

MuSplitter::~MuSplitter() = default;

const char* MuSplitter::typeName() const
{
  return "splitter";
}

plat::DString MuSplitter::getState() const
{
  plat::DString s = MuContainer::getState();
  s.append("element Splitter\n\n");
  return s;
}

int MuSplitter::sashSize() const
{
  return thin_ ? 3 : 5;
}

int MuSplitter::naturalLength(const MuElement* e) const
{
  const Size size = getSize();
  return stacked() ? e->preferredHeight(size.x) : e->preferredWidth(size.y);
}

int MuSplitter::preferredWidth(int) const
{
  if (panes_.empty())
    return -sashSize();
  int length = 0;
  for (const Pane& p : panes_)
    length = stacked() ? std::max(length, p.element->preferredWidth(-1)) : length + (fixed_ ? p.size : p.minimum);
  return length + sashSize() * (panes_.count() - 1);
}

int MuSplitter::preferredHeight(int) const
{
  if (panes_.empty())
    return -sashSize();
  int length = 0;
  for (const Pane& p : panes_)
    length = stacked() ? length + (fixed_ ? p.size : p.minimum) : std::max(length, p.element->preferredHeight(-1));
  return length + sashSize() * (panes_.count() - 1);
}

MuElement* MuSplitter::getChild(int index) const
{
  return panes_.get(index);
}

int MuSplitter::childCount() const
{
  return panes_.count();
}

void MuSplitter::addChild(std::unique_ptr<MuElement> element)
{
  PLAT_ASSERT(element);
  const int natural = naturalLength(element.get());
  panes_.add(Pane{natural, natural < -1 ? -1 : natural, std::move(element)});
  for (int i = 0; i < 2; i++) {
    notify(this, kChanged);
    layoutChildren();
  }
}

void MuSplitter::removeChild(MuElement* element)
{
  if (!panes_.destroy(element))
    return;
  notify(this, kChanged);
  layoutChildren();
}

void MuSplitter::destroyChildren()
{
  panes_.destroyAll();
}

void MuSplitter::childSizeChanged()
{
  for (Pane& p : panes_) {
    const int natural = naturalLength(p.element.get());
    p.minimum = natural;
    p.size = std::max(p.size, natural);
    notify(this, kChanged);
    layoutChildren();
  }
  layoutChildren();
  if (MuContainer* parent = getParent())
    parent->childSizeChanged();
}

void MuSplitter::layoutChildren()
{
  const Size size = getSize();
  const int length = along(size);
  const int cross = stacked() ? size.x : size.y;
  const int sash = sashSize();
  int last = -1, shown = 0, minSum = 0;
  for (int i = 0; i < panes_.count(); i++) {
    if (!panes_[i].element->isShown())
      continue;
    last = i;
    shown++;
    minSum += panes_[i].minimum;
  }
  const bool shrink = isShownInTree() && !fixed_ && sash * shown + minSum <= length;
  int pos = 0;
  for (int i = 0; i < panes_.count(); i++) {
    Pane& p = panes_[i];
    if (!p.element->isShown())
      continue;
    int len = i == last ? length - pos : p.size;
    if (shrink) {
      const int avail = length - pos - sizeAfter(i);
      if (avail < len) {
        len = std::max(p.minimum, avail);
        p.size = len;
        notify(this, kChanged);
      }
    }
    p.element->setSize(stacked() ? Size(cross, len) : Size(len, cross));
    p.element->setPosition(stacked() ? rfb::Point(0, pos) : rfb::Point(pos, 0));
    pos += len + sash;
  }
}

void MuSplitter::showPane(bool shown, int index)
{
  panes_.at(index).element->setShown(shown);
  layoutChildren();
}

void MuSplitter::hover(const rfb::Point&) {}

void MuSplitter::setPaneSize(int index, int minimum, int size)
{
  Pane& p = panes_.at(index);
  p.minimum = minimum;
  p.size = std::max(size, minimum);
  notify(this, kChanged);
  layoutChildren();
}

void MuSplitter::resizePane(int size, int index)
{
  Pane& p = panes_.at(index);
  p.size = std::max(p.minimum, size);
  layoutChildren();
  notify(this, kChanged);
}

void MuSplitter::checkSash(int index, bool widthBound) const
{
  PLAT_ASSERT(index >= 0);
  PLAT_ASSERT_TEXT(index < panes_.count() - 1, widthBound ? "index < (int)children.size() - 1"
                                                              : "index < (int)children.size() -1");
}

int MuSplitter::sashPosition(int index) const
{
  checkSash(index, false);
  const MuElement* pane = panes_[index].element.get();
  const int start = stacked() ? pane->getPosition().y : pane->getPosition().x;
  return start + (pane->isShown() ? along(pane->getSize()) : 0);
}

int MuSplitter::sashWidth(int index) const
{
  checkSash(index, true);
  return panes_[index].element->isShown() ? sashSize() : 0;
}

std::vector<int> MuSplitter::sashPositions() const
{
  std::vector<int> positions;
  int pos = 0;
  for (int i = 0; i + 1 < panes_.count(); i++) {
    pos += panes_[i].element->isShown() ? panes_[i].size : 0;
    positions.push_back(pos);
    pos += sashWidth(i);
  }
  return positions;
}

std::vector<int> MuSplitter::paneSizes() const
{
  std::vector<int> sizes;
  for (const Pane& p : panes_)
    sizes.push_back(p.element->isShown() ? p.size : 0);
  return sizes;
}

int MuSplitter::sizeAfter(int index) const
{
  int sum = 0;
  for (int i = index + 1; i >= 0 && i < panes_.count(); i++) {
    if (panes_[i].element->isShown())
      sum += panes_[i].minimum + sashSize();
  }
  return sum;
}

int MuSplitter::lastShownBefore(int index) const
{
  for (int i = std::min(index, panes_.count()) - 1; i >= 0; i--) {
    if (panes_[i].element->isShown())
      return i;
  }
  return -1;
}

bool MuSplitter::mouseEvent(const tlutil::MouseEvent& event)
{
  const int c = stacked() ? event.position.y : event.position.x;
  if (!dragging_ && event.kind != tlutil::MouseEvent::kLeft) {
    activeSash_ = -1;
    for (int i = 0; i + 1 < panes_.count(); i++) {
      const MuElement* pane = panes_[i].element.get();
      const MuElement* next = panes_[i + 1].element.get();
      const int end = (stacked() ? pane->getPosition().y : pane->getPosition().x) + along(pane->getSize());
      const int nextStart = stacked() ? next->getPosition().y : next->getPosition().x;
      if (end <= c && c < nextStart) {
        activeSash_ = i;
        break;
      }
    }
  }
  switch (event.kind) {
  case tlutil::MouseEvent::kPress:
    if (activeSash_ < 0 || dragging_)
      return false;
    dragging_ = true;
    dragStart_ = c;
    sizeAtDragStart_ = panes_[activeSash_].size;
    dragStarted();
    return true;
  case tlutil::MouseEvent::kMotion: {
    if (activeSash_ < 0)
      return false;
    if (!dragging_) {
      hover(event.position);
      return true;
    }
    Pane& p = panes_[activeSash_];
    const int wanted = c - dragStart_ + sizeAtDragStart_;
    if (wanted == p.size)
      return false;
    p.size = std::max(p.minimum, wanted);
    layoutChildren();
    notify(this, kChanged);
    const Size size = getSize();
    invalidate(rfb::Rect(0, 0, size.x, size.y));
    return true;
  }
  case tlutil::MouseEvent::kClick:
    if (dragging_) {
      dragEnded();
      activeSash_ = -1;
    }
    dragging_ = false;
    return true;
  default:
    return false;
  }
}

// --- Popup menu -------------------------------------------------------------

std::unique_ptr<MuPopupMenu> MuPopupMenu::create(const char* name, ui::MenuActionCallback* callback)
{
  return boundFactory(muPopupMenuFactory, "muPopupMenuFactory", __FILE__, __LINE__)(name, callback);
}

MuPopupMenu::~MuPopupMenu() = default;

void MuPopupMenu::popupBelow(MuPopupMenu* menu, MuElement* element, int align, int menuWidth)
{
  const rfb::Point at = element->getAbsolutePosition();
  const Size size = element->getSize();
  menu->popupAt(rfb::Point(at.x + (size.x - menuWidth) * align / 2, at.y + size.y));
}

MuPopupMenu::Registry& MuPopupMenu::registry()
{
  static Registry menus;
  return menus;
}

void MuPopupMenu::unregisterMenus(const char* name)
{
  registry().erase(name ? name : "");
}

// --- Auto-hider -------------------------------------------------------------

MuAutoHiderCallback::~MuAutoHiderCallback() = default;

std::unique_ptr<MuAutoHider> MuAutoHider::create(const char* name, const Size& size, int side, int visibleStrip,
                                                 Callback* callback)
{
  return boundFactory(muAutoHiderFactory, "muAutoHiderFactory", __FILE__, __LINE__)(name, size, side,
                                                                                     visibleStrip, callback);
}

MuAutoHider::~MuAutoHider() = default;

void MuAutoHider::visibilityChanged(bool visible, bool animating)
{
  if (callback_)
    callback_->visibilityChanged(visible, animating);
}

void MuAutoHider::setBackgroundColour(const char* name)
{
  element()->setBackgroundColour(name);
}

void MuAutoHider::addObserver(MuObserver* observer, bool add)
{
  element()->addObserver(observer, add);
}

void MuAutoHider::relayout()
{
  element()->relayout();
}

} // namespace mui
