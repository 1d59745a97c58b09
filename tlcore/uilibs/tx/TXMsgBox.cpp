#include "tx/TXMsgBox.h"

#include <stdio.h>

#include <algorithm>

#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "tx/TXUtil.h"

namespace tx {

static plat::LogSrc vlog("TXMsgBox");

namespace {

const char* iconName(uint32_t flags)
{
  switch (flags & TXMsgBox::kIconMask) {
  case TXMsgBox::kIconError:
    return "statusError";
  case TXMsgBox::kIconQuestion:
    return "statusQuestion";
  case TXMsgBox::kIconWarning:
    return "statusWarning";
  case TXMsgBox::kIconInfo:
    return "statusInfo";
  default:
    return nullptr;
  }
}

} // namespace

plat::String TXMsgBox::titleText(const char* title)
{
  const char* app = os::AppInfo::isAppNameSet() ? os::AppInfo::getDisplayName(true) : "";
  std::string t = app;
  if (title && *title)
    t += (t.empty() ? "" : " - ") + std::string(title);
  return plat::String(t.c_str());
}

TXMsgBox::TXMsgBox(TXWindow* parent, const char* text, uint32_t flags, const char* title)
  : TXDialog(parent, titleText(title).get(), true), label_(text), flags_(flags)
{
  label_.setAlignment(wvw::WLabel::kCentre, wvw::WLabel::kCentre);
  if (const char* name = iconName(flags)) {
    const int side = 8 * plat::ppmm;
    icon_ = std::make_unique<wvw::WImage>();
    icon_->setSize(rfb::Point(side, side));
    icon_->setImage(name);
  }
  std::vector<const char*> keys;
  if ((flags & kButtonMask) == kOkCancel)
    keys = {"tx_msgbox_ok", "tx_msgbox_cancel"};
  else if ((flags & kButtonMask) == kYesNo)
    keys = {"tx_msgbox_yes", "tx_msgbox_no"};
  else
    keys = {"tx_msgbox_ok"};
  for (const char* key : keys)
    buttons_.push_back(std::make_unique<wvw::WLabelButton>(LOC_TR(key)));
  if (icon_)
    canvas().addChild(icon_.get(), nullptr);
  canvas().addChild(&label_, nullptr);
  for (auto& b : buttons_)
    canvas().addChild(b.get(), nullptr);
  layout();
}

TXMsgBox::~TXMsgBox()
{
  for (auto& b : buttons_)
    canvas().removeChild(b.get());
  canvas().removeChild(&label_);
  if (icon_)
    canvas().removeChild(icon_.get());
}

void TXMsgBox::setText(const char* text, int hAlign, int vAlign)
{
  label_.setText(text);
  label_.setAlignment(hAlign, vAlign);
  layout();
}

void TXMsgBox::layout()
{
  int bw = 60;
  for (auto& b : buttons_)
    bw = std::max(bw, b->preferredSize().x + 6);
  label_.setSize(rfb::Point(450, label_.preferredHeight(450)));
  const rfb::Point l = label_.preferredSize();
  const int n = (int)buttons_.size();
  const int rowWidth = n * (bw + 3) - 3;
  const int w = std::max(rowWidth, l.x);
  const int iconH = icon_ ? icon_->height() : 0;
  const int h = std::max(l.y, iconH);
  int x = 10;
  if (icon_) {
    canvas().setChildPosition(icon_.get(), rfb::Point(10, (h - iconH) / 2 + 10));
    x = icon_->width() + 20;
  }
  canvas().setChildRect(&label_, rfb::Rect(x, (h - l.y) / 2 + 10, x + l.x, (h - l.y) / 2 + 10 + l.y));
  const int total = w + x;
  int bx = (total + 10 - rowWidth) / 2;
  for (auto& b : buttons_) {
    canvas().setChildRect(b.get(), rfb::Rect(bx, h + 20, bx + bw, h + 45));
    bx += bw + 3;
  }
  resize(total + 10, h + 55);
}

bool TXMsgBox::buttonActivated(wvw::Widget* widget)
{
  for (size_t i = 0; i < buttons_.size(); i++)
    if (buttons_[i].get() == widget) {
      chosen_ = (int)i;
      return endDialog(i == 0 ? 1 : 0);
    }
  return false;
}

void TXMsgBox::widgetAttached(wvw::Widget* widget)
{
  if (widget == &canvas())
    layout();
  else if ((flags_ & kFocusLast) && !buttons_.empty() && widget == buttons_.back().get())
    widget->setFocus();
}

bool TXMsgBox::activated(wvw::Widget* source) { return buttonActivated(source); }

bool TXMsgBox::attached(wvw::Widget* source)
{
  widgetAttached(source);
  return false;
}

void TXMsgBox::showError(const char* text)
{
  try {
    openDisplay(nullptr);
    static bool iconSet = false;
    if (!iconSet && os::AppInfo::isAppNameSet()) {
      iconSet = true;
      TXWParent::setDefaultIcon(os::AppInfo::getAppName(true));
    }
    TXMsgBox box(nullptr, text, kIconError | kOk);
    box.runModal();
  } catch (plat::Exception& e) {
    char shown[plat::Exception::kMessageSize];
    vlog.error("%s", e.formatDisplay(shown));
    vlog.error("%s", text);
    fprintf(stderr, "%s\n", e.str());
  }
}

} // namespace tx
