// The markup parser: markup wrapped into an XML document, parsed by the XML
// library, and walked into paragraphs of styled runs.
#include "plat/MarkupParser.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "3rdparty/xml/Xml.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/numbers.h"

namespace plat {
namespace Markup {

namespace {

LogSrc logSrc("MarkupParser");

// Paddings are in line heights; more leaves no room for text on any screen.
constexpr double kMaxPadding = 1000;

const char* const kDocHead = "<?xml version=\"1.0\"?>\n";

bool nameIs(const char* name, const char* wanted)
{
  return name && strcasecmp(name, wanted) == 0;
}

bool contains(const char* name, const char* part)
{
  return strCaseStr(name, part) != nullptr;
}

// Markup keeps whitespace-only text between elements, so the XML options
// are switched for the parse and back to the library's defaults after it.
class MarkupXmlOptions {
public:
  MarkupXmlOptions() { xml::setGlobalOptions(xml::kXmlEncodingUtf8, true, false, true); }
  ~MarkupXmlOptions() { xml::setGlobalOptions(xml::kXmlEncodingUtf8, true, true, true); }
};

// Calls fn(name, value) for each "name:value" of a style attribute, the
// value trimmed of spaces, tabs, CR and LF; pieces without ':' are skipped.
template <typename Fn> void forEachDeclaration(const char* css, Fn fn)
{
  if (!css)
    return;
  String copy(css);
  char* cursor = copy.data();
  while (cursor) {
    char* piece = strTok(&cursor, ';');
    char* colon = strchr(piece, ':');
    if (!colon)
      continue;
    *colon = 0;
    char* value = colon + 1;
    value += strspn(value, " \t\r\n");
    char* end = value + strlen(value);
    while (end > value && strchr(" \t\r\n", end[-1]))
      end--;
    *end = 0;
    fn(piece, value);
  }
}

int clampToInt(int64_t v)
{
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int)v;
}

void applyDeclaration(Style& style, const char* name, const char* value)
{
  if (contains(name, "font-style")) {
    if (strcasecmp(value, "normal") == 0)
      style.flags = 0;
    else if (strcasecmp(value, "italic") == 0)
      style.flags |= Style::kItalic;
  } else if (contains(name, "font-size")) {
    int n;
    const char* p = value;
    if (strToInt(&n, &p, 10)) {
      if (*p == '%') {
        // Percent of the normal size, rounded half away from zero.
        int64_t scaled = (int64_t)n * Style::kNormalSize;
        style.size = clampToInt((scaled + (scaled < 0 ? -50 : 50)) / 100);
      } else {
        style.size = n;
      }
    }
  } else if (contains(name, "font-weight")) {
    const char* p = value;
    strToInt(&style.weight, &p, 10); // a value that does not read gives 0
  } else if (contains(name, "text-decoration")) {
    if (strcasecmp(value, "underline") == 0)
      style.flags |= Style::kUnderline;
  } else if (contains(name, "background")) {
    // Checked before "color": background-color is the background, not the
    // text colour the builders wrote beside it.
    style.background = String(value);
  } else if (contains(name, "color")) {
    style.color = String(value);
  }
}

void applyStyle(Style& style, const char* css)
{
  forEachDeclaration(css, [&](const char* name, const char* value) {
    applyDeclaration(style, name, value);
  });
}

float readPadding(const char* value)
{
  double v = strtod(value, nullptr);
  if (!(v > 0))
    return 0; // negative, zero or nan
  return (float)(v > kMaxPadding ? kMaxPadding : v);
}

class Walker {
public:
  explicit Walker(std::vector<Paragraph>& out) : out_(out) {}

  void walk(const xml::XmlNode& e, Paragraph& p, Style& s);

private:
  void endParagraph(Paragraph& p)
  {
    out_.push_back(std::move(p));
    p = Paragraph();
  }
  void divStyle(Paragraph& p, Style& s, const char* css);

  std::vector<Paragraph>& out_;
};

void Walker::divStyle(Paragraph& p, Style& s, const char* css)
{
  forEachDeclaration(css, [&](const char* name, const char* value) {
    if (contains(name, "text-align")) {
      if (strcasecmp(value, "right") == 0)
        p.align = 2;
      else if (strcasecmp(value, "center") == 0)
        p.align = 1;
      else if (strcasecmp(value, "justify") == 0)
        p.align = 3;
    } else if (contains(name, "padding-right")) {
      p.padRight = readPadding(value);
    } else if (contains(name, "padding-left")) {
      p.padLeft = readPadding(value);
    } else {
      applyDeclaration(s, name, value);
    }
  });
}

// Inline elements style a local copy of s for their own content; span and
// div change s itself and reset it to the default style afterwards.
void Walker::walk(const xml::XmlNode& e, Paragraph& p, Style& s)
{
  Style l = s;
  const char* tag = e.name();
  const bool isLink = nameIs(tag, "a");
  const bool otherAttrsOk = isLink || nameIs(tag, "div") || nameIs(tag, "span") ||
                            nameIs(tag, "body");
  const char* href = isLink ? e.attribute("href") : nullptr;
  const int count = e.contentCount();
  for (int i = 0; i < count; i++) {
    xml::XmlNodeContents c = e.enumContents(i);
    switch (c.kind) {
    case xml::kXmlContentAttribute: {
      const char* name = c.attribute.name;
      const char* value = c.attribute.value;
      if (nameIs(name, "style")) {
        applyStyle(l, value);
      } else if (nameIs(name, "color")) {
        l.color = String(value);
        s.color = String(value);
      } else if (nameIs(name, "size")) {
        int n = 0;
        const char* q = value;
        if (!strToInt(&n, &q, 10) || *q)
          n = 0;
        l.size = s.size = n;
      } else if (!otherAttrsOk) {
        throw ExceptionFmt("Unexpected attribute (%s = %s)", name, value ? value : "");
      }
      break;
    }
    case xml::kXmlContentText: {
      p.runs.emplace_back();
      TextRun& run = p.runs.back();
      run.text.append(c.text);
      run.style = l;
      if (isLink) {
        run.href = String(href);
        run.style.flags |= Style::kLink;
      }
      break;
    }
    case xml::kXmlContentElement: {
      const xml::XmlNode& child = c.child;
      const char* name = child.name();
      if (nameIs(name, "div")) {
        if (!p.runs.empty()) {
          endParagraph(p);
          s = Style();
        }
        divStyle(p, s, child.attribute("style"));
        walk(child, p, s);
        endParagraph(p);
        s = Style();
      } else if (nameIs(name, "span")) {
        applyStyle(s, child.attribute("style"));
        walk(child, p, s);
        s = Style();
      } else if (nameIs(name, "b") || nameIs(name, "i") || nameIs(name, "u") ||
                 nameIs(name, "font") || nameIs(name, "a")) {
        if (nameIs(name, "b"))
          l.weight = Style::kBold;
        else if (nameIs(name, "i"))
          l.flags |= Style::kItalic;
        else if (nameIs(name, "u"))
          l.flags |= Style::kUnderline;
        else if (nameIs(name, "a") && !child.attribute("href"))
          throw Exception("Invalid hyperlink spec!");
        walk(child, p, l);
        l = s;
      } else if (nameIs(name, "br")) {
        if (p.runs.empty()) {
          p.runs.emplace_back();
          p.runs.back().text.append("\n");
        } else {
          p.runs.back().text.append("\n");
        }
        l = s;
      } else {
        throw ExceptionFmt("Unexpected tag %s", name ? name : "");
      }
      break;
    }
    default:
      throw ExceptionFmt("Unexpected node type %d", (int)c.kind);
    }
  }
}

} // namespace

ParserHtml& ParserHtml::instance()
{
  static ParserHtml parser;
  return parser;
}

void ParserHtml::parseParagraphs(const char* markup, std::vector<Paragraph>& out)
{
  DString doc;
  doc.reserve((int)strlen(kDocHead) + strLen(markup) + 48);
  doc.append(kDocHead);
  doc.append("\n<body class=\"mui-markup\">");
  doc.append(markup);
  doc.append("</body>");

  xml::XmlResults results;
  xml::XmlNode root;
  {
    MarkupXmlOptions options;
    root = xml::XmlNode::parseString(doc.get(), nullptr, &results);
  }
  // A repaired document (an unclosed or mismatched tag) is not the markup
  // that was written: warnings fail like errors.
  if (results.error != xml::kXmlNoError)
    throw Exception(0, "XML error %i:%i %s", results.line, results.column,
                    xml::errorText(results.error));
  // The body must be the document's only element: markup that closes it
  // and opens another would otherwise lose everything after that.
  xml::XmlNode body;
  // The parse gives the unnamed root, or the document's one element alone.
  const bool single = root.name() != nullptr;
  for (int i = 0, n = single ? 1 : root.childCount(); i < n; i++) {
    xml::XmlNode child = single ? root : root.child(i);
    if (child.isDeclaration())
      continue;
    if (!body.isEmpty() || !nameIs(child.name(), "body"))
      throw ExceptionFmt("Unexpected tag %s", child.name() ? child.name() : "");
    body = child;
  }
  if (body.isEmpty())
    throw Exception(0, "XML error 1:1 %s", xml::errorText(xml::kXmlFirstTagNotFound));

  std::vector<Paragraph> paragraphs;
  Paragraph p;
  Style s;
  Walker(paragraphs).walk(body, p, s);
  if (!p.runs.empty())
    paragraphs.push_back(std::move(p));
  for (Paragraph& q : paragraphs)
    out.push_back(std::move(q));
}

bool ParserHtml::parse(const char* markup, Handler* handler)
{
  std::vector<Paragraph> paragraphs;
  try {
    parseParagraphs(markup, paragraphs);
  } catch (Exception& e) {
    logSrc.error("Invalid markup (%s): ### %s ###", e.str(), markup ? markup : "");
    return false;
  }
  if (!handler)
    return true;
  for (size_t i = 0; i < paragraphs.size(); i++) {
    const Paragraph& p = paragraphs[i];
    handler->beginParagraph(p.align, p.padLeft, p.padRight);
    for (const TextRun& run : p.runs) {
      if (!run.href.isNull())
        handler->link(run.style, run.href.get(), run.text.get());
      else
        handler->text(run.style, run.text.get());
    }
    handler->endParagraph(i + 1 == paragraphs.size());
  }
  handler->endDocument();
  return true;
}

Stripper::Stripper(const char* markup)
{
  reserve(strLen(markup) + 1);
  ParserHtml::instance().parse(markup, this);
}

void Stripper::text(const Style&, const char* text)
{
  append(text);
}

void Stripper::link(const Style&, const char* href, const char* text)
{
  append(text ? text : href);
}

} // namespace Markup
} // namespace plat
