#include "mui/MuInfoFrame.h"

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuSmallKinds.h"
#include "mui/MuTexts.h"
#include "mui/Mui.h"
#include "plat/Markup.h"

namespace mui {

namespace {

plat::LinkCbOpenUrl openUrl;

} // namespace

const char* MuInfoFrame::iconName(int kind)
{
  static const char* const kIcons[] = {"infoframe_success", "infoframe_warning", "infoframe_error",
                                       "infoframe_locked",  "infoframe_default", "infoframe_preference"};
  return kind >= kSuccess && kind <= kPreference ? kIcons[kind - 1] : "infoframe_notify";
}

MuInfoFrame::MuInfoFrame(MuContainer* parent, const char* name, plat::Markup::LinkCallback* linkCallback,
                         uint32_t frameType)
  : linkCallback_(linkCallback), parent_(parent), frame_(MuFrame::create(parent, name, nullptr, frameType))
{
  frame_->setBackgroundColour("helpBg");
  frame_->setMargin(Size(Mui::scale(20), Mui::scale(20)));
  split_ = MuLayout::create(frame_, "split", MuLayout::kHorizontal);
  split_->setSpacing(Mui::scale(20));
  icon_ = MuImage::create(split_, "icon", iconName(kSuccess), Size());
  split_->setChildLayout(icon_, MuLayout::kAlignStart | MuLayout::kNatural, 1);
  textLayout_ = MuLayout::create(split_, "textLayout", MuLayout::kVertical);
  textLayout_->setSpacing(0);
  split_->setChildLayout(textLayout_, MuLayout::kAlignStart | MuLayout::kStretch, 1);
  text_ = MuText::create(textLayout_, "text", "", &openUrl, 0);
  frame_->setShown(false);
}

MuInfoFrame::~MuInfoFrame()
{
  parent_->removeChild(frame_);
}

void MuInfoFrame::setInfo(int kind, const char* text, const char* linkText)
{
  plat::Markup::Style style;
  style.color = plat::String("helpText");
  plat::DString markup;
  plat::Markup::appendDivStart(markup, 0, &style).append(text).append("</div>");
  text_->setMarkup(markup.get());
  icon_->setImage(iconName(kind), Size());
  if (link_) {
    textLayout_->removeChild(linkSpacer_);
    textLayout_->removeChild(link_);
    linkSpacer_ = nullptr;
    link_ = nullptr;
  }
  if (linkText) {
    linkSpacer_ = MuSpacer::create(textLayout_, 0, 0);
    textLayout_->setChildLayout(linkSpacer_, MuLayout::kFixed, Mui::scale(6));
    plat::DString href;
    href.appendf("app://infoframe//%s", frame_->getName() ? frame_->getName() : "");
    plat::DString linkMarkup;
    plat::Markup::appendLink(linkMarkup, linkText, href.get(), nullptr);
    link_ = MuText::create(textLayout_, "link", linkMarkup.get(), linkCallback_, 0);
  }
  frame_->setShown(text != nullptr);
  split_->relayout();
  parent_->relayout();
}

void MuInfoFrame::setShown(bool shown)
{
  if (frame_->isShown() == shown)
    return;
  frame_->setShown(shown);
  parent_->relayout();
}

} // namespace mui
