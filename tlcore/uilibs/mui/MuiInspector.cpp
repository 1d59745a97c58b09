#include "mui/MuiInspector.h"

#include "mui/MuDialog.h"
#include "mui/MuLayout.h"
#include "mui/MuTexts.h"
#include "mui/Mui.h"
#include "plat/Exception.h"

namespace mui {

namespace {

MuiInspector* inspector = nullptr;

} // namespace

MuiInspector::MuiInspector()
{
  PLAT_ASSERT(!inspector);
  inspector = this;
  // 200 by 100 mm.
  dialog_ = MuDialog::create("MuiInspector", "MuiInspector", Size(Mui::scale(1600), Mui::scale(800)),
                             MuDialog::kFitContent, nullptr, nullptr);
  MuLayout* main = MuLayout::create(dialog_.get(), "main", MuLayout::kVertical);
  id_ = MuStatic::create(main, "muiid", "<muiid goes here>", MuStatic::kText);
  type_ = MuStatic::create(main, "muitype", "<type goes here>", MuStatic::kText);
  state_ = MuStatic::create(main, "muistate", "<state goes here>", MuStatic::kText);
  dialog_->setPosition(rfb::Point(Mui::scale(100), Mui::scale(100)));
  dialog_->setShown(true);
  timer_.start(kRefreshMs);
}

MuiInspector::~MuiInspector()
{
  dialog_.reset();
  inspector = nullptr;
  timer_.stop();
}

plat::String MuiInspector::fullAddress(MuElement* element)
{
  const plat::String path = element->getPathName();
  if (path.length() == 0)
    return plat::String(element->getName());
  const char* dialog = element->getDialog()->getName();
  return plat::format("%s.%s", dialog ? dialog : "", path.get());
}

bool MuiInspector::timerExpired(plat::Timer*)
{
  for (MuStatic* text : {id_, type_, state_})
    text->setText("", false, false);
  return true;
}

} // namespace mui
