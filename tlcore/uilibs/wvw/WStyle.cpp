#include "wvw/WStyle.h"

#include "plat/Markup.h"
#include "tlutil/Font.h"

namespace wvw {

namespace {

struct DefaultStyle {
  WStyle style;
  bool built = false;
};

DefaultStyle& shared()
{
  static DefaultStyle* d = new DefaultStyle; // lives until exit, never freed
  return *d;
}

plat::Colour grey(int light, int dark)
{
  const int v = plat::isDarkMode() ? dark : light;
  return plat::Colour{v, v, v};
}

} // namespace

const WStyle& WStyle::getDefault()
{
  DefaultStyle& d = shared();
  if (d.built)
    return d.style;
  WStyle& s = d.style;
  if (!s.font)
    s.font = tlutil::Font::regular(plat::Markup::Style::kNormalSize);
  const plat::Colour black;
  s.contentText = plat::getColor("contentText", black);
  s.disabledText = plat::getColor("disabledText", black);
  s.contentBg = plat::getColor("contentBg", black);
  s.disabledBg = grey(216, 48);
  s.bg = grey(216, 48);
  s.buttonPressed = grey(216, 85);
  s.buttonFace = grey(184, 102);
  s.bevelLight = grey(238, 68);
  s.bevelFrame = grey(165, 119);
  s.selectedText = plat::Colour{255, 255, 255};
  s.selectionBg = plat::Colour{56, 56, 200};
  s.mark = black;
  s.caretWidth = 2;
  d.built = true;
  return s;
}

void WStyle::setDefaultFont(tlutil::Font* font)
{
  shared().style.font = font;
}

WStyle& WStyle::fromSpec(WStyle& out, const plat::Markup::Style& request)
{
  out = getDefault();
  out.font = tlutil::Font::forStyle(tlutil::FontSpec{request.size, request.weight});
  // An unknown name keeps the default colour.
  plat::Colour c;
  if (request.color.get() && *request.color.get() && plat::findColor(request.color.get(), c))
    out.contentText = c;
  if (request.background.get() && *request.background.get() && plat::findColor(request.background.get(), c))
    out.bg = c;
  return out;
}

} // namespace wvw
