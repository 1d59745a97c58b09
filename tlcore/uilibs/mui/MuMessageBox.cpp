#include "mui/MuMessageBox.h"

#include <algorithm>

#include "mui/MuButtonBar.h"
#include "mui/MuButtons.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuSmallKinds.h"
#include "mui/MuTexts.h"
#include "mui/Mui.h"
#include "os/AppInfo.h"
#include "plat/Markup.h"

namespace mui {

namespace {

plat::String boxTitle(const char* title)
{
  const char* app = os::AppInfo::getDisplayName(true);
  plat::DString s;
  s.append(app);
  if (*app && title && *title)
    s.append(" - ");
  s.append(title);
  return s.takeString();
}

} // namespace

const char* MuMessageBox::statusIconName(uint32_t flags)
{
  switch (flags & kIconMask) {
  case 0:
    return nullptr;
  case kError:
    return "statusError";
  case kQuestion:
    return "statusQuestion";
  case kWarning:
    return "statusWarning";
  default:
    return "statusInfo";
  }
}

MuMessageBox::MuMessageBox(MuDialog* owner, const char* text, uint32_t flags, const char* title,
                           const char* detail, bool strongModal, MuDialog::WindowHandle ownerWindow)
{
  const uint32_t buttonSet = flags & kButtonsMask;
  uint32_t dialogFlags = owner || ownerWindow ? 0x4B + (strongModal ? 0x8 : 0) : 0x43 + (strongModal ? 0x10 : 0);
  if (buttonSet >= 2)
    dialogFlags |= MuDialog::kDisableClose;
  const int width = Mui::scale(960);
  dialog_ = MuDialog::create("messagebox", boxTitle(title).get(), Size(width, 0), dialogFlags, owner,
                             ownerWindow);
  dialog_->addObserver(this, true);

  MuLayout* main = main_ = MuLayout::create(dialog_.get(), "main", MuLayout::kVertical);
  MuFrame* frame = MuFrame::create(main, "frame", nullptr, MuFrame::kPlain);
  frame->setMargin(Size(Mui::scale(16), Mui::scale(16)));
  MuLayout* info;
  if (const char* icon = statusIconName(flags)) {
    MuLayout* split = MuLayout::create(frame, "split", MuLayout::kHorizontal);
    split->setSpacing(Mui::scale(32));
    MuImage* image = MuImage::create(split, "icon", icon, Size(Mui::scale(64), Mui::scale(64)));
    split->setChildLayout(image, MuLayout::kAlignStart | MuLayout::kNatural, 1);
    info = MuLayout::create(split, "info", MuLayout::kVertical);
    split->setChildLayout(info, MuLayout::kAlignCentre | MuLayout::kStretch, 1);
  } else {
    info = MuLayout::create(frame, "info", MuLayout::kVertical);
    dialog_->setSize(Size(width - Mui::scale(150), dialog_->getSize().y));
  }

  plat::DString message;
  if (detail && *detail)
    plat::Markup::appendBold(message, text, nullptr, plat::Markup::Style::kNormalSize);
  else
    plat::Markup::appendEscaped(message, text);
  MuContainer* messageParent = info;
  if (flags & kScrollText) {
    scroll_ = MuScroll::create(info, "scroll", MuScroll::kVertical);
    info->setChildLayout(scroll_, MuLayout::kStretch, 1);
    messageParent = scroll_;
  }
  message_ = MuText::create(messageParent, "msg", message.get(), nullptr, 0);
  if (detail && *detail)
    MuText::create(info, "detail", detail, nullptr, 0);

  uint32_t buttons = 0;
  uint32_t defaultBit = 0;
  const bool second = (flags & 0xf00) != 0;
  if (buttonSet == kOk) {
    buttons = defaultBit = MuButtonBar::kOk;
  } else if (buttonSet == kOkCancel) {
    buttons = MuButtonBar::kOk | MuButtonBar::kCancel;
    defaultBit = second ? MuButtonBar::kCancel : MuButtonBar::kOk;
  } else if (buttonSet == kYesNo) {
    buttons = MuButtonBar::kYes | MuButtonBar::kNo;
    defaultBit = second ? MuButtonBar::kNo : MuButtonBar::kYes;
  }
  bar_ = std::make_unique<MuButtonBar>(main, buttons, false);
  if (MuButton* button = bar_->find(defaultBit)) {
    dialog_->setButton(MuDialog::kDefaultButton, button);
    button->setFocus();
  }
}

MuMessageBox::~MuMessageBox()
{
  bar_.reset();
  dialog_.reset();
}

bool MuMessageBox::run(bool show)
{
  result_ = false;
  dialog_->setShown(show);
  return result_;
}

void MuMessageBox::setText(const char* markup)
{
  message_->setMarkup(markup);
}

void MuMessageBox::setFixedSize(const Size& size)
{
  dialog_->setSize(size);
  if (!scroll_)
    return;
  const int unbounded = 0x7fffffff;
  scroll_->setMaxSize(Size(unbounded, 0));
  const int margin = dialog_->margin();
  const int rest = main_->preferredHeight(size.x - 2 * margin) + 2 * margin;
  scroll_->setMaxSize(Size(unbounded, std::max(0, size.y - rest)));
}

void MuMessageBox::setLinkCallback(plat::Markup::LinkCallback* callback)
{
  message_->setLinkCallback(callback);
}

void MuMessageBox::activated(MuElement* element, uint32_t)
{
  const uint32_t bit = bar_ ? bar_->bitOf(element) : 0;
  if (!bit)
    return;
  result_ = bit == MuButtonBar::kYes || bit == MuButtonBar::kOk;
  dialog_->setShown(false);
}

void MuMessageBox::dialogClosed(MuElement*)
{
  if (!bar_)
    return;
  if (bar_->find(MuButtonBar::kCancel))
    result_ = false;
  else if (bar_->find(MuButtonBar::kOk))
    result_ = true;
}

} // namespace mui
