#include "mui/MuButtons.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "mui/Mui.h"

namespace mui {

// --- Button -----------------------------------------------------------------

MuButton* MuButton::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                           uint32_t styleFlags, uint32_t alignment)
{
  return createChild<MuButton>(muButtonFactory, "muButtonFactory", parent, name, label, type, styleFlags,
                               alignment);
}

MuButton::MuButton(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
                   uint32_t alignment)
  : MuElement(parent, name, label), type_(type), styleFlags_(styleFlags), alignment_(alignment)
{
}

const char* MuButton::typeName() const
{
  return "button";
}

plat::DString MuButton::getState() const
{
  static const char* const kTypes[] = {"Normal", "Custom", "Hyperlink"};
  plat::DString s = MuElement::getState();
  s.appendf("element Button\ntype %s\n", nameOf(kTypes, type_));
  if (!imageName_.isNull())
    s.appendf("image %s\n", imageName_.get());
  return s;
}

bool MuButton::doAction(const char* action, const char*)
{
  if (strcmp(action, "click") != 0 || flags() != 0)
    return false;
  notify(this, kActivated);
  return true;
}

void MuButton::setLabel(const char* label)
{
  if (plat::strCmpNull(getLabel(), label) != 0)
    setLabelText(label);
}

void MuCheck::setLabel(const char* label)
{
  if (plat::strCmpNull(getLabel(), label) != 0)
    setLabelText(label);
}

void MuButton::setImage(const char* name, const Size&, int, bool keepName)
{
  if (!keepName)
    imageName_ = plat::String(name);
}

void MuButton::setImageSizes(const Size& topLeft, const Size& bottomRight)
{
  insetTopLeft_ = topLeft;
  insetBottomRight_ = bottomRight;
  const Size size = getSize();
  invalidate(rfb::Rect(0, 0, size.x, size.y));
}

// --- Check ------------------------------------------------------------------

// The members of a radio group, in join order; each holds the group.
class MuCheck::Group : public MuObserver {
public:
  void join(MuCheck* check)
  {
    members_.push_back(check);
    check->addObserver(this, true);
  }
  void leave(MuCheck* check)
  {
    check->addObserver(this, false);
    members_.erase(std::remove(members_.begin(), members_.end(), check), members_.end());
  }
  void changed(MuElement* source, uint32_t) override
  {
    for (MuCheck* member : members_)
      member->setChecked(member == source);
  }

private:
  std::vector<MuCheck*> members_;
};

MuCheck* MuCheck::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         MuCheck* radioPeer)
{
  return createChild<MuCheck>(muCheckFactory, "muCheckFactory", parent, name, label, type, radioPeer);
}

MuCheck::MuCheck(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer)
  : MuElement(parent, name, label), type_(type)
{
  if (type_ != kRadio)
    return;
  group_ = radioPeer && radioPeer->group_ ? radioPeer->group_ : std::make_shared<Group>();
  group_->join(this);
}

MuCheck::~MuCheck()
{
  if (group_)
    group_->leave(this);
}

const char* MuCheck::typeName() const
{
  return "check";
}

plat::DString MuCheck::getState() const
{
  static const char* const kTypes[] = {"Normal", "Radio"};
  plat::DString s = MuElement::getState();
  s.appendf("element Check\ntype %s\nvalue %d\nindeterminate %d\n", nameOf(kTypes, type_), isChecked() ? 1 : 0,
            isIndeterminate() ? 1 : 0);
  return s;
}

bool MuCheck::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || flags() != 0 || !isShownInTree())
    return false;
  setChecked(n != 0);
  notify(this, kChanged);
  return true;
}

} // namespace mui
