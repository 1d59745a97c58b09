#include "tlOrbSetup/Page.h"

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/Mui.h"
#include "tlOrbSetup/SetupDlg.h"

namespace tlOrbSetup {

Page::Page(SetupDlg* dlg, const char* name)
  : dlg_(dlg), root_(mui::MuLayout::create(dlg->deck(), name, mui::MuLayout::kVertical)), deck_(dlg->deck())
{
  root_->addObserver(this, true);
}

Page::~Page()
{
  root_->addObserver(this, false);
  deck_->removeChild(root_);
}

namespace {

struct KindLook {
  const char* image;
  const char* text;
};
const KindLook kLooks[] = {{"bluebtnbg", "white"}, {"whitebtnbg", "#288cf4"}};
const char kDisabledImage[] = "graybtnbg";

} // namespace

void PageButton::setup(mui::MuContainer* parent, const char* name, Kind k)
{
  kind = k;
  button = mui::MuButton::create(parent, name, "", mui::MuButton::kCustom, 0, mui::MuButton::kCentre);
  button->setImage(kLooks[kind].image, mui::Size(), 0, false);
  button->setEnabled(true);
  const mui::Size inset(mui::Mui::scale(30), mui::Mui::scale(10));
  button->setImageSizes(inset, inset);
  plat::Markup::Style& style = button->ensureStyle();
  style.size = 140;
  style.weight = plat::Markup::Style::kBold;
  style.color = plat::String(kLooks[kind].text);
  button->styleChanged();
}

void PageButton::enable(bool enabled)
{
  button->setImage(enabled ? kLooks[kind].image : kDisabledImage, mui::Size(), 0, false);
  button->setEnabled(enabled);
}

void PageButton::label(const char* text)
{
  button->setLabel(text);
}

} // namespace tlOrbSetup
