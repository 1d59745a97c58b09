#include "mui/MuLayout.h"

#include <limits.h>
#include <stdint.h>

#include <algorithm>

#include "mui/MuSmallKinds.h"
#include "mui/Mui.h"
#include "plat/Exception.h"

namespace mui {

namespace {

// Lengths are summed in 64 bits: children may answer up to INT_MAX, and a
// scroll view asks at 0x3fffffff.
int clampToInt(int64_t v)
{
  return (int)std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, v));
}

} // namespace

plat::BoolParameter debugLayout("_DebugLayout", "", false);

MuLayout* MuLayout::create(MuContainer* parent, const char* name, uint32_t orientation)
{
  return createChild<MuLayout>(muLayoutFactory, "muLayoutFactory", parent, name, orientation);
}

MuLayout::MuLayout(MuContainer* parent, const char* name, uint32_t orientation)
  : MuContainer(parent, name), orientation_(orientation), spacing_(Mui::metric(Mui::kSpacing))
{
}

MuLayout::~MuLayout() = default;

const char* MuLayout::typeName() const
{
  return "layout";
}

plat::DString MuLayout::getState() const
{
  plat::DString s = MuContainer::getState();
  s.appendf("element Layout\ntype %s\n", orientation_ == kVertical ? "Vertical" : "Horizontal");
  return s;
}

// --- Children ---------------------------------------------------------------

MuElement* MuLayout::getChild(int index) const
{
  return children_.get(index);
}

int MuLayout::childCount() const
{
  return children_.count();
}

void MuLayout::addChild(std::unique_ptr<MuElement> element)
{
  children_.add(Child{std::move(element), defaultMode_, 1});
}

void MuLayout::removeChild(MuElement* element)
{
  children_.destroy(element);
}

void MuLayout::destroyChildren()
{
  children_.destroyAll();
}

void MuLayout::setChildLayout(MuElement* child, uint32_t mode, int value)
{
  Child* c = children_.find(child);
  PLAT_ASSERT_TEXT_FMT(c, "i != children.end()", "Element '%s' is not a child of '%s'",
                       child->getPathName().str(), getPathName().str());
  c->mode = mode;
  c->value = value;
}

uint32_t MuLayout::childMode(const MuElement* child) const
{
  const Child* c = children_.find(child);
  return c ? c->mode : 0;
}

int MuLayout::childValue(const MuElement* child) const
{
  const Child* c = children_.find(child);
  return c ? c->value : 0;
}

void MuLayout::childrenReordered() {}

void MuLayout::moveChild(MuElement* child, uint32_t where, MuElement* reference)
{
  const int from = children_.indexOf(child);
  PLAT_ASSERT_TEXT(from >= 0, "i != children.end()");
  Child moved = children_.take(from);
  int at = children_.count();
  if (where == kToFront) {
    at = 0;
  } else if (where == kBefore || where == kAfter) {
    const int i = children_.indexOf(reference);
    if (i >= 0)
      at = where == kAfter ? i + 1 : i;
  }
  children_.insert(at, std::move(moved));
  childrenReordered();
  layoutChildren();
}

MuSpacer* MuLayout::addIndent(bool stretchAfter)
{
  MuSpacer* spacer = MuSpacer::create(this, 0, 0);
  setChildLayout(spacer, kFixed, Mui::metric(Mui::kIndent) - spacing_);
  if (stretchAfter)
    defaultMode_ = kStretch;
  return spacer;
}

// --- Sizes ------------------------------------------------------------------

int MuLayout::lengthAlong(const MuElement* e, int c) const
{
  return orientation_ == kVertical ? e->preferredHeight(c) : e->preferredWidth(c);
}

int MuLayout::lengthAcross(const MuElement* e, int l) const
{
  return orientation_ == kVertical ? e->preferredWidth(l) : e->preferredHeight(l);
}

int MuLayout::preferredAlong(int cross) const
{
  int n = 0, unit = 0;
  int64_t sum = 0, weights = 0;
  for (const Child& c : children_) {
    if (!c.element->isShown())
      continue;
    n++;
    switch (c.mode & kSizeMask) {
    case kNatural:
      sum += lengthAlong(c.element.get(), cross);
      break;
    case kFixed:
      sum += c.value;
      break;
    case kStretch:
      if (c.value > 0) {
        weights += c.value;
        unit = std::max(unit, lengthAlong(c.element.get(), cross) / c.value);
      }
      break;
    }
  }
  return clampToInt((int64_t)(n - 1) * spacing_ + unit * weights + sum);
}

int MuLayout::preferredAcross(int length) const
{
  int n = 0, cross = 0;
  int64_t used = 0, weights = 0;
  for (const Child& c : children_) {
    if (!c.element->isShown())
      continue;
    n++;
    int l;
    switch (c.mode & kSizeMask) {
    case kNatural:
      l = lengthAlong(c.element.get(), 0);
      break;
    case kFixed:
      l = c.value;
      break;
    case kStretch:
      weights += std::max(c.value, 0);
      continue;
    default:
      continue;
    }
    cross = std::max(cross, lengthAcross(c.element.get(), l));
    used += l;
  }
  const int64_t rest = length - used - (int64_t)(n - 1) * spacing_;
  for (const Child& c : children_) {
    if (!c.element->isShown() || (c.mode & kSizeMask) != kStretch)
      continue;
    const int l = weights > 0 && c.value > 0 ? clampToInt(c.value * rest / weights) : 0;
    cross = std::max(cross, lengthAcross(c.element.get(), l));
  }
  return cross;
}

int MuLayout::preferredWidth(int height) const
{
  return orientation_ == kVertical ? preferredAcross(height) : preferredAlong(height);
}

int MuLayout::preferredHeight(int width) const
{
  return orientation_ == kVertical ? preferredAlong(width) : preferredAcross(width);
}

// --- Layout -----------------------------------------------------------------

void MuLayout::layoutChildren()
{
  if (orientation_ != kVertical && orientation_ != kHorizontal)
    return;
  const bool vertical = orientation_ == kVertical;
  const Size size = getSize();
  const int along = vertical ? size.y : size.x;
  const int across = vertical ? size.x : size.y;
  int n = 0;
  int64_t weights = 0, fixedSum = 0;
  for (Child& c : children_) {
    if (!c.element->isShown())
      continue;
    n++;
    switch (c.mode & kSizeMask) {
    case kStretch:
      weights += std::max(c.value, 0);
      break;
    case kNatural:
      c.value = lengthAlong(c.element.get(), across);
      fixedSum += c.value;
      break;
    case kFixed:
      fixedSum += c.value;
      break;
    }
  }
  const int64_t avail = along - (int64_t)(n - 1) * spacing_;
  const int64_t extra = std::max<int64_t>(avail - fixedSum, 0);
  int64_t pos = 0;
  // By index: a child's own layout may raise events whose observers change
  // this list.
  for (int i = 0; i < children_.count(); i++) {
    Child& c = children_[i];
    if (!c.element->isShown())
      continue;
    int length = c.value;
    if ((c.mode & kSizeMask) == kStretch)
      length = weights > 0 && c.value > 0 ? clampToInt(c.value * extra / weights) : 0;
    int offset = 0, cross = across;
    const uint32_t align = c.mode & kAlignMask;
    if (align != kAlignFill) {
      const int p = lengthAcross(c.element.get(), length);
      if (across > p) {
        cross = p;
        offset = align == kAlignEnd ? across - p : align == kAlignCentre ? (across - p) / 2 : 0;
      }
    }
    if (vertical) {
      c.element->setPosition(rfb::Point(offset, clampToInt(pos)));
      c.element->setSize(Size(cross, length));
    } else {
      c.element->setPosition(rfb::Point(clampToInt(pos), offset));
      c.element->setSize(Size(length, cross));
    }
    pos += (int64_t)length + spacing_;
  }
}

void MuLayout::checkLayout(MuLayoutCheckObserver* observer)
{
  const Size size = getSize();
  int64_t pos = 0;
  for (const Child& c : children_) {
    if (!c.element->isShown())
      continue;
    const Size cs = c.element->getSize();
    int64_t end, limit;
    const char* axis;
    if (orientation_ == kHorizontal) {
      end = pos + cs.x;
      limit = size.x;
      axis = "H";
    } else {
      end = pos + cs.y;
      limit = size.y;
      axis = "V";
    }
    if (end > limit) {
      plat::DString message = plat::DString::format("Overflowing %s layout by %d units", axis, clampToInt(end - limit));
      observer->layoutProblem(c.element.get(), message.get());
    }
    pos = end + spacing_;
  }
  MuContainer::checkLayout(observer);
}

} // namespace mui
