// The rich-text markup of every formatted text: the style record, the
// builders that compose markup from plain text, and the link-activation
// interface.
//
// Markup is a small HTML-like language parsed as XML (plat/MarkupParser.h):
// div, span, b, i, u, font, a and br. Callers never write tags or escape by
// hand: the builders append well-formed markup to a DString, escaping every
// text and attribute value they are given, so no value can break the markup.
// The builders keep no state and may be called from any thread.
#pragma once

#include <stdint.h>

#include "plat/DString.h"
#include "plat/String.h"

namespace plat {
namespace Markup {

// The style of a piece of text. Sizes are in 1/120 of the normal size (120
// is 100%); colours are colour texts as written in the markup, resolved by
// the renderer. Copies duplicate both texts.
struct Style {
  static constexpr uint32_t kItalic = 1;
  static constexpr uint32_t kUnderline = 2;
  static constexpr uint32_t kLink = 4;
  static constexpr int kNormalSize = 120;
  static constexpr int kNormalWeight = 400;
  static constexpr int kBold = 700;

  Style() = default;
  Style(uint32_t flags, int size, int weight, const char* color = nullptr,
        const char* background = nullptr);

  bool isDefault() const;
  // The declarations for a style attribute: font-size as a percentage,
  // font-weight, then italic, underline, color and background-color when
  // set; each ends with ';'. The link bit is not written.
  String toCss() const;
  // Appends toCss to out, unescaped.
  DString& appendCss(DString& out) const;

  uint32_t flags = 0;
  int32_t size = kNormalSize;
  int32_t weight = kNormalWeight;
  String color;
  String background;
};

bool operator==(const Style& a, const Style& b);
inline bool operator!=(const Style& a, const Style& b)
{
  return !(a == b);
}

// --- Builders: each appends to out and returns it. "markup" arguments are
// inserted as they are; "text" arguments are escaped (made valid UTF-8,
// then & " ' < > as entities); a null text appends nothing.

DString& appendEscaped(DString& out, const char* text);
// The markup as it is when color is null and size is 120; else a span with
// that colour and size.
DString& appendSpan(DString& out, const char* markup, const char* color, int size);
DString& appendSpanText(DString& out, const char* text, const char* color, int size);
// The markup as it is for the default style; else "<span style=...>".
DString& appendStyled(DString& out, const char* markup, const Style& style);
DString& appendStyledText(DString& out, const char* text, const Style& style);
DString& appendBold(DString& out, const char* text, const char* color, int size);
// Opens a div aligned left (0), center (1), right (2) or justify (other);
// the caller appends the content and "</div>".
DString& appendDivStart(DString& out, int align, const Style* style);
// A link showing text (or the href when text is null), coloured when color
// is given.
DString& appendLink(DString& out, const char* text, const char* href, const char* color);
DString& appendLinkStyled(DString& out, const char* text, const char* href, const Style& style);

// What a rich-text element calls when the user activates a link. Called on
// the user-interface thread; the element does not own it.
class LinkCallback {
public:
  virtual ~LinkCallback() = default;
  // True when the link was handled.
  virtual bool linkActivated(const char* href) = 0;
};

} // namespace Markup

// Hands the link to the desktop's URL opener (os::openUrl); its result.
// Stateless.
class LinkCbOpenUrl : public Markup::LinkCallback {
public:
  bool linkActivated(const char* href) override;
};

} // namespace plat
