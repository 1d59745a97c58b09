// The style record: the font and colours every widget paints with.
//
// A plain record copied by value. Widgets borrow a pointer to one (null
// means "inherit from the layout above"); the shared default lives for the
// whole process and is built on the first getDefault() from the platform
// colours and the light or dark scheme. Loop thread only.
#pragma once

#include "plat/Colour.h"
#include "wvw/Forward.h"

namespace plat {
namespace Markup {
struct Style;
}
} // namespace plat
namespace tlutil {
class Font;
}

namespace wvw {

struct WStyle {
  tlutil::Font* font = nullptr; // from the process-wide font cache
  plat::Colour contentText;
  plat::Colour disabledText;
  plat::Colour contentBg;
  plat::Colour disabledBg;
  plat::Colour bg;
  plat::Colour buttonPressed;
  plat::Colour buttonFace;
  plat::Colour bevelLight;
  plat::Colour bevelFrame;
  plat::Colour selectedText;
  plat::Colour selectionBg;
  plat::Colour mark;
  int caretWidth = 0;

  // The shared default, built on the first call and never changed by later
  // changes of the scheme or the platform colours.
  static const WStyle& getDefault();
  // Replaces the default's font (kept when the default is built later).
  static void setDefaultFont(tlutil::Font* font);
  // The default with the request's font and, when named, its text and
  // background colours. Returns out.
  static WStyle& fromSpec(WStyle& out, const plat::Markup::Style& request);
};

} // namespace wvw
