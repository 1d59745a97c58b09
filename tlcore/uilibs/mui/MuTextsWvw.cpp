#include "mui/MuTextsWvw.h"

#include <limits.h>

#include <algorithm>

#include "mui/MuLayout.h"
#include "tlutil/Font.h"

namespace mui {

// --- Static text ------------------------------------------------------------

MuStaticWvw::MuStaticWvw(MuContainer* parent, const char* name, const char* text, uint32_t type)
  : MuStatic(parent, name, text, type), text_(nullptr, "")
{
  text_.setAlignment(wvw::WLabel::kStart, wvw::WLabel::kStart);
  if (type == kSelectable)
    text_.setSelectable(true);
  if (type == kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
  text_.setMargin(0);
  text_.setTransparent(!debugLayout);
  text_.setInputHandler(this);
  text_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &text_));
  rebuild();
}

MuStaticWvw::~MuStaticWvw()
{
  setCommon(nullptr);
}

plat::DString MuStaticWvw::markup(int width) const
{
  plat::String shown(getLabel() ? getLabel() : "");
  const plat::Markup::Style& style = effectiveStyle();
  if (singleLine_ && width > 0) {
    tlutil::FontSpec spec;
    spec.size = style.size;
    spec.weight = style.weight;
    int w = width;
    plat::String cut = tlutil::Font::forStyle(spec)->ellipsize(w, shown.get());
    if (cut.get())
      shown = std::move(cut);
  }
  plat::DString out;
  plat::Markup::appendDivStart(out, type_ == kCenteredText ? 1 : type_ == kRightText ? 2 : 0, nullptr);
  plat::Markup::appendStyledText(out, shown.get(), style);
  out.append("</div>");
  return out;
}

void MuStaticWvw::rebuild()
{
  builtWidth_ = text_.width();
  text_.setWrap(!singleLine_);
  const plat::DString m = markup(builtWidth_);
  if (plat::strCmpNull(m.get(), text_.getText()) == 0)
    return;
  text_.setText(m.get());
  naturalWidth_ = -1;
  heightFor_ = rfb::Point(-1, 0);
}

void MuStaticWvw::setText(const char* text, bool bold, bool singleLine)
{
  MuStatic::setText(text ? text : "", bold, singleLine);
  rebuild();
}

void MuStaticWvw::setSize(const Size& size)
{
  MuStatic::setSize(size);
  if (singleLine_ && size.x != builtWidth_)
    rebuild();
}

bool MuStaticWvw::resized(wvw::Widget* source)
{
  // Only a single line is cut to the width.
  if (source == &text_ && singleLine_ && text_.width() != builtWidth_)
    rebuild();
  return false;
}

void MuStaticWvw::styleChanged()
{
  naturalWidth_ = -1;
  heightFor_ = rfb::Point(-1, 0);
  rebuild();
}

int MuStaticWvw::preferredWidth(int) const
{
  if (naturalWidth_ < 0 && !singleLine_)
    naturalWidth_ = const_cast<wvw::WRichText&>(text_).preferredWidth(-1);
  if (naturalWidth_ < 0) {
    wvw::WRichText measure(nullptr, markup(0).get());
    measure.setMargin(0);
    measure.setWrap(false);
    measure.setStyle(&wstyle_);
    naturalWidth_ = measure.preferredSize().x;
  }
  return naturalWidth_;
}

int MuStaticWvw::preferredHeight(int width) const
{
  if (heightFor_.x != width || width < 0)
    heightFor_ = rfb::Point(width, MuStatic::preferredHeight(width));
  return heightFor_.y;
}

// --- Marked-up text ---------------------------------------------------------

MuTextWvw::MuTextWvw(MuContainer* parent, const char* name, const char* markup,
                     plat::Markup::LinkCallback* linkCallback, uint32_t flag)
  : MuText(parent, name, markup, linkCallback, flag), text_(this, markup ? markup : "")
{
  text_.setAlignment(wvw::WLabel::kStart, wvw::WLabel::kStart);
  text_.setSelectable(flag != 0);
  text_.setMargin(0);
  text_.setTransparent(true);
  text_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &text_));
}

MuTextWvw::~MuTextWvw()
{
  setCommon(nullptr);
}

void MuTextWvw::setMarkup(const char* markup)
{
  MuText::setMarkup(markup);
  text_.setText(markup ? markup : "");
}

void MuTextWvw::styleChanged()
{
  const plat::Markup::Style& s = effectiveStyle();
  text_.setTransparent(!s.background.get());
  wvw::WStyle::fromSpec(wstyle_, s);
  text_.setText(markup() ? markup() : "");
}

bool MuTextWvw::linkActivated(const char* href)
{
  return linkCallback_ && linkCallback_->linkActivated(href);
}

} // namespace mui
