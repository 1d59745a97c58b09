#include "plat/Markup.h"

#include <string.h>

#include "3rdparty/xml/Xml.h"
#include "os/desktop.h"
#include "plat/utf8.h"

namespace plat {
namespace Markup {

Style::Style(uint32_t flags_, int size_, int weight_, const char* color_, const char* background_)
    : flags(flags_), size(size_), weight(weight_), color(color_), background(background_)
{
}

bool Style::isDefault() const
{
  return flags == 0 && size == kNormalSize && weight == kNormalWeight && color.isNull() &&
         background.isNull();
}

bool operator==(const Style& a, const Style& b)
{
  return a.flags == b.flags && a.size == b.size && a.weight == b.weight && a.color == b.color &&
         a.background == b.background;
}

namespace {

// A ';' in a colour text would end its declaration and start another; no
// colour text has one, so the value ends there.
void appendCssValue(DString& out, const char* value)
{
  out.append(value, (int)strcspn(value, ";"));
}

} // namespace

DString& Style::appendCss(DString& out) const
{
  // Rounded to the nearest percent, halves away from zero; 64-bit so that
  // any size converts.
  int64_t scaled = (int64_t)size * 100;
  int percent = (int)((scaled + (scaled < 0 ? -60 : 60)) / 120);
  out.appendf("font-size:%d%%;font-weight:%d;", percent, weight);
  if (flags & kItalic)
    out.append("font-style:italic;");
  if (flags & kUnderline)
    out.append("text-decoration:underline;");
  if (!color.isNull()) {
    out.append("color:");
    appendCssValue(out, color.get());
    out.append(";");
  }
  if (!background.isNull()) {
    out.append("background-color:");
    appendCssValue(out, background.get());
    out.append(";");
  }
  return out;
}

String Style::toCss() const
{
  DString out;
  appendCss(out);
  return out.takeString();
}

// --- Builders ------------------------------------------------------------------

namespace {

// The XML library's escaping, written straight into out's buffer.
void appendEscapedValid(DString& out, const char* text)
{
  size_t n = strlen(text);
  size_t escaped = xml::XmlEscaper::escapedLength(text, n);
  if (escaped == n) {
    out.append(text, (int)n);
    return;
  }
  int length = out.length();
  out.reserve(length + (int)escaped + 1);
  *xml::XmlEscaper::escapeInto(out.data() + length, text, n) = 0;
}

// A style attribute holding the style's declarations, escaped.
void appendStyleAttr(DString& out, const Style& style)
{
  DString css;
  style.appendCss(css);
  out.append(" style=\"");
  appendEscaped(out, css.get());
  out.append("\"");
}

} // namespace

DString& appendEscaped(DString& out, const char* text)
{
  if (!text)
    return out;
  if (isValidUtf8(text)) {
    appendEscapedValid(out, text);
  } else {
    String valid = utf8Sanitise(text, nullptr, -1);
    appendEscapedValid(out, valid.str());
  }
  return out;
}

DString& appendSpan(DString& out, const char* markup, const char* color, int size)
{
  if (!color && size == Style::kNormalSize)
    return out.append(markup);
  return appendStyled(out, markup, Style(0, size, Style::kNormalWeight, color));
}

DString& appendSpanText(DString& out, const char* text, const char* color, int size)
{
  DString escaped;
  appendEscaped(escaped, text);
  return appendSpan(out, escaped.get(), color, size);
}

DString& appendStyled(DString& out, const char* markup, const Style& style)
{
  if (style.isDefault())
    return out.append(markup);
  out.append("<span");
  appendStyleAttr(out, style);
  out.append(">");
  out.append(markup);
  return out.append("</span>");
}

DString& appendStyledText(DString& out, const char* text, const Style& style)
{
  DString escaped;
  appendEscaped(escaped, text);
  return appendStyled(out, escaped.get(), style);
}

DString& appendBold(DString& out, const char* text, const char* color, int size)
{
  DString bold;
  bold.append("<b>");
  appendEscaped(bold, text);
  bold.append("</b>");
  return appendSpan(out, bold.get(), color, size);
}

DString& appendDivStart(DString& out, int align, const Style* style)
{
  static const char* const kAligns[] = {"left", "center", "right"};
  out.append("<div style=\"text-align:");
  out.append(align >= 0 && align <= 2 ? kAligns[align] : "justify");
  if (style) {
    DString css;
    style->appendCss(css);
    out.append(";");
    appendEscaped(out, css.get());
  }
  return out.append("\">");
}

namespace {

DString& appendLinkEnd(DString& out, const char* text, const char* href)
{
  out.append(">");
  appendEscaped(out, text ? text : href);
  return out.append("</a>");
}

} // namespace

DString& appendLink(DString& out, const char* text, const char* href, const char* color)
{
  out.append("<a href=\"");
  appendEscaped(out, href);
  out.append("\"");
  if (color) {
    DString css;
    appendCssValue(css, color);
    out.append(" style=\"color:");
    appendEscaped(out, css.get());
    out.append("\"");
  }
  return appendLinkEnd(out, text, href);
}

DString& appendLinkStyled(DString& out, const char* text, const char* href, const Style& style)
{
  out.append("<a href=\"");
  appendEscaped(out, href);
  out.append("\"");
  appendStyleAttr(out, style);
  return appendLinkEnd(out, text, href);
}

} // namespace Markup

bool LinkCbOpenUrl::linkActivated(const char* href)
{
  return os::openUrl(href);
}

} // namespace plat
