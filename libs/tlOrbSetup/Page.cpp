#include "tlOrbSetup/Page.h"

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/Mui.h"
#include "plat/Markup.h"

namespace tlOrbSetup {

Page::Page(PageHost* dlg, const char* name)
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

int units(int n)
{
  return mui::Mui::scale(n);
}

void spacer(mui::MuLayout* layout, int height)
{
  mui::MuSpacer::create(layout, 0, units(height));
}

void centred(mui::MuLayout* layout, mui::MuElement* child)
{
  layout->setChildLayout(child, mui::MuLayout::kNatural | mui::MuLayout::kAlignCentre, 1);
}

plat::DString escaped(const char* text)
{
  plat::DString s;
  plat::Markup::appendEscaped(s, text);
  return s;
}

plat::DString centredMarkup(const char* markup)
{
  plat::DString s;
  plat::Markup::appendDivStart(s, 1, nullptr);
  s.append(markup);
  s.append("</div>");
  return s;
}

plat::DString centredText(const char* text, int size, int weight)
{
  plat::DString inner;
  plat::Markup::appendStyledText(inner, text, plat::Markup::Style(0, size, weight));
  return centredMarkup(inner.get());
}

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
