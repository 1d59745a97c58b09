// The markup builders' exact output, the parser's events, builder-to-parser
// round trips, and the line layout against a plain greedy word wrap.
#include "plat/MarkupParser.h"

#include <limits.h>
#include <math.h>
#include <string.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plat/Exception.h"

using namespace plat;
using namespace plat::Markup;
using ::testing::HasSubstr;

namespace {

std::string styleText(const Style& s)
{
  std::string out = "f" + std::to_string(s.flags) + " s" + std::to_string(s.size) + " w" +
                    std::to_string(s.weight);
  if (!s.color.isNull())
    out += std::string(" c=") + s.color.get();
  if (!s.background.isNull())
    out += std::string(" bg=") + s.background.get();
  return out;
}

// Writes every event as one line.
class Recorder : public Handler {
public:
  void beginParagraph(int align, float padLeft, float padRight) override
  {
    char buf[80];
    snprintf(buf, sizeof buf, "begin %d %g %g", align, padLeft, padRight);
    events.push_back(buf);
  }
  void endParagraph(bool last) override { events.push_back(last ? "end last" : "end"); }
  void text(const Style& style, const char* text) override
  {
    events.push_back("text [" + std::string(text) + "] " + styleText(style));
  }
  void link(const Style& style, const char* href, const char* text) override
  {
    events.push_back("link " + std::string(href) + " [" + std::string(text ? text : "(null)") +
                     "] " + styleText(style));
  }
  void endDocument() override { events.push_back("doc"); }

  std::vector<std::string> events;
};

// The parser's error text, or "" when the markup parses.
std::string parseError(const char* markup)
{
  try {
    std::vector<Paragraph> paragraphs;
    ParserHtml::instance().parseParagraphs(markup, paragraphs);
  } catch (Exception& e) {
    return e.str();
  }
  return "";
}

// --- Builders ---------------------------------------------------------------------

TEST(MarkupTest, BuildersWriteExactMarkup)
{
  const Style all(Style::kItalic | Style::kUnderline | Style::kLink, 120, 700, "#f00", "blue");
  const Style bold(0, 120, 700);
  using Build = std::function<void(DString&)>;
  const std::pair<Build, const char*> cases[] = {
      {[](DString& o) { appendEscaped(o, "a&b\"c'd<e>f"); }, "a&amp;b&quot;c&apos;d&lt;e&gt;f"},
      {[](DString& o) { appendEscaped(o, "x\xC3y"); }, "x\xEF\xBF\xBDy"},
      {[](DString& o) { appendEscaped(o, nullptr); }, ""},
      {[](DString& o) { appendSpan(o, "<b>m</b>", nullptr, 120); }, "<b>m</b>"},
      {[](DString& o) { appendSpan(o, "m", nullptr, 121); },
       "<span style=\"font-size:101%;font-weight:400;\">m</span>"},
      {[](DString& o) { appendSpanText(o, "a<b", "red", 180); },
       "<span style=\"font-size:150%;font-weight:400;color:red;\">a&lt;b</span>"},
      {[](DString& o) { appendStyled(o, "<i>m</i>", Style()); }, "<i>m</i>"},
      {[&](DString& o) { appendStyledText(o, "t", all); },
       "<span style=\"font-size:100%;font-weight:700;font-style:italic;"
       "text-decoration:underline;color:#f00;background-color:blue;\">t</span>"},
      {[](DString& o) { appendBold(o, "x&y", nullptr, 120); }, "<b>x&amp;y</b>"},
      {[](DString& o) { appendBold(o, "x", "red", 120); },
       "<span style=\"font-size:100%;font-weight:400;color:red;\"><b>x</b></span>"},
      {[](DString& o) { appendDivStart(o, 2, nullptr); }, "<div style=\"text-align:right\">"},
      {[](DString& o) { appendDivStart(o, 7, nullptr); }, "<div style=\"text-align:justify\">"},
      {[&](DString& o) { appendDivStart(o, 1, &bold); },
       "<div style=\"text-align:center;font-size:100%;font-weight:700;\">"},
      {[](DString& o) { appendLink(o, "go", "http://x/?a=1&b=2", nullptr); },
       "<a href=\"http://x/?a=1&amp;b=2\">go</a>"},
      {[](DString& o) { appendLink(o, nullptr, "u<v", "red"); },
       "<a href=\"u&lt;v\" style=\"color:red\">u&lt;v</a>"},
      {[](DString& o) { appendLinkStyled(o, "go", "h", Style(0, 120, 400, "blue")); },
       "<a href=\"h\" style=\"font-size:100%;font-weight:400;color:blue;\">go</a>"},
      // Values cannot break out of their attribute or their declaration.
      {[](DString& o) { appendLink(o, "t", "h", "red\" onclick=\"x"); },
       "<a href=\"h\" style=\"color:red&quot; onclick=&quot;x\">t</a>"},
      {[](DString& o) { appendLink(o, "t", "h", "red;font-size:900%"); },
       "<a href=\"h\" style=\"color:red\">t</a>"},
      {[](DString& o) { appendStyledText(o, "t", Style(0, 120, 400, "a\"<b&'>")); },
       "<span style=\"font-size:100%;font-weight:400;color:a&quot;&lt;b&amp;&apos;&gt;;\">t</span>"},
  };
  for (const auto& c : cases) {
    DString out;
    out.append("|");
    c.first(out);
    EXPECT_STREQ((std::string("|") + c.second).c_str(), out.get());
  }
}

TEST(MarkupTest, ToCssRoundsPercentHalfAwayFromZero)
{
  const std::pair<int, int> cases[] = {{120, 100}, {150, 125}, {121, 101}, {59, 49},
                                       {1, 1},     {0, 0},     {-1, -1},   {-120, -100},
                                       {INT_MAX, 1789569706},  {INT_MIN, -1789569707}};
  for (const auto& c : cases)
    EXPECT_EQ("font-size:" + std::to_string(c.second) + "%;font-weight:400;",
              Style(Style::kLink, c.first, 400).toCss().get());
}

// --- Parser events ---------------------------------------------------------------

TEST(MarkupTest, ParserEvents)
{
  const struct {
    const char* markup;
    std::vector<std::string> events;
  } cases[] = {
      {"plain <b>bold</b> <i>it</i>",
       {"begin 0 0 0", "text [plain ] f0 s120 w400", "text [bold] f0 s120 w700",
        "text [ ] f0 s120 w400", "text [it] f1 s120 w400", "end last", "doc"}},
      {"before<div style='text-align:center; padding-left:1.5'>x</div>",
       {"begin 0 0 0", "text [before] f0 s120 w400", "end", "begin 1 1.5 0",
        "text [x] f0 s120 w400", "end last", "doc"}},
      {"<div></div>", {"begin 0 0 0", "end last", "doc"}},
      {"<a href='x'>go</a>", {"begin 0 0 0", "link x [go] f4 s120 w400", "end last", "doc"}},
      {"<span class='k'>x</span>", {"begin 0 0 0", "text [x] f0 s120 w400", "end last", "doc"}},
      {"<span style='font-size:150%'>a</span><span style='font-size:90'>b</span>"
       "<span style='font-weight:bold'>c</span>",
       {"begin 0 0 0", "text [a] f0 s180 w400", "text [b] f0 s90 w400", "text [c] f0 s120 w0",
        "end last", "doc"}},
      {"a<br/>b", {"begin 0 0 0", "text [a\n] f0 s120 w400", "text [b] f0 s120 w400", "end last",
                   "doc"}},
      {"<br/>x", {"begin 0 0 0", "text [\n] f0 s120 w400", "text [x] f0 s120 w400", "end last",
                  "doc"}},
      {"<font color='red' size='150'><u>x</u></font><FONT SIZE='z'>y</FONT>",
       {"begin 0 0 0", "text [x] f2 s150 w400 c=red", "text [y] f0 s0 w400", "end last", "doc"}},
      // The span and div resets as specified: later span children start
      // from the default style, the parent's own text keeps its style.
      {"<span style='font-size:150%'>a<span>b</span><span>c</span>d</span>",
       {"begin 0 0 0", "text [a] f0 s180 w400", "text [b] f0 s180 w400",
        "text [c] f0 s120 w400", "text [d] f0 s180 w400", "end last", "doc"}},
      {"<span style='font-size:2000000000%'>a</span>",
       {"begin 0 0 0", "text [a] f0 s2147483647 w400", "end last", "doc"}},
      {"<span style='color:red;background-color:blue;font-style:italic'>x</span>",
       {"begin 0 0 0", "text [x] f1 s120 w400 c=red bg=blue", "end last", "doc"}},
      {"", {"doc"}},
  };
  for (const auto& c : cases) {
    Recorder r;
    EXPECT_TRUE(ParserHtml::instance().parse(c.markup, &r)) << c.markup;
    EXPECT_EQ(c.events, r.events) << c.markup;
  }
}

TEST(MarkupTest, BadMarkupFailsWithItsReason)
{
  const struct {
    const char* markup;
    const char* error;
  } cases[] = {
      {"<a>go</a>", "Invalid hyperlink spec!"},
      {"<p>x</p>", "Unexpected tag p"},
      {"<b class='k'>x</b>", "Unexpected attribute (class = k)"},
      {"x<![CDATA[y]]>", "Unexpected node type 3"},
      // Documents the XML layer repairs (truncated, mismatched) fail.
      {"<b>x", "Warning: Unmatched end tag"},
      {"<b><i>x</b>", "Warning: Unmatched end tag"},
      {"x</b>", "Error: Unmatched end tag"},
      // Closing the wrapper and opening another would drop text silently.
      {"x</body><body>y", "Unexpected tag body"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(parseError(c.markup), HasSubstr(c.error)) << c.markup;
    Recorder r;
    EXPECT_FALSE(ParserHtml::instance().parse(c.markup, &r));
    EXPECT_TRUE(r.events.empty());
  }
  EXPECT_THAT(parseError("<b>x"), ::testing::StartsWith("XML error "));
}

TEST(MarkupTest, StripperKeepsThePlainText)
{
  EXPECT_STREQ("ab\ncgo", Stripper("<div>a<b>b</b></div><br/>c<a href='h'>go</a>").get());
  EXPECT_STREQ("", Stripper("<b>x").get());
}

// --- Round trips ------------------------------------------------------------------

std::string randomText(std::mt19937& rng, int maxLen, const char* alphabet)
{
  static const char* const kWide[] = {"\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"};
  std::string s;
  int n = 1 + (int)(rng() % (unsigned)maxLen);
  for (int i = 0; i < n; i++) {
    if (rng() % 10 == 0)
      s += kWide[rng() % 3];
    else
      s += alphabet[rng() % strlen(alphabet)];
  }
  return s;
}

TEST(MarkupTest, BuiltMarkupParsesBackToItsStyle)
{
  std::mt19937 rng(7);
  const char* textChars = "ab &<>\"'\n\t;:%#";
  const char* colourChars = "abz09#&<>\"' :";
  for (int round = 0; round < 400; round++) {
    Style style;
    style.flags = rng() % 4;
    style.size = (int)(rng() % 200001) - 100000;
    style.weight = (int)rng();
    if (rng() % 2)
      style.color = String(("c" + randomText(rng, 8, colourChars) + "c").c_str());
    if (rng() % 3 == 0)
      style.background = String(("b" + randomText(rng, 8, colourChars) + "b").c_str());
    std::string text = randomText(rng, 20, textChars);
    std::string href = randomText(rng, 20, textChars);
    DString markup;
    int kind = round % 3;
    if (kind == 0) {
      appendStyledText(markup, text.c_str(), style);
    } else if (kind == 1) {
      appendLinkStyled(markup, text.c_str(), href.c_str(), style);
    } else {
      appendDivStart(markup, round % 4, &style);
      appendEscaped(markup, text.c_str());
      markup.append("</div>");
    }

    std::vector<Paragraph> ps;
    ASSERT_EQ("", parseError(markup.get())) << markup.get();
    ParserHtml::instance().parseParagraphs(markup.get(), ps);
    ASSERT_EQ(1u, ps.size()) << markup.get();
    ASSERT_EQ(1u, ps[0].runs.size()) << markup.get();
    const TextRun& run = ps[0].runs[0];
    EXPECT_EQ(text, run.text.get());
    Style want = style;
    if (kind == 1) {
      EXPECT_EQ(href, run.href.get());
      want.flags |= Style::kLink;
    } else {
      EXPECT_EQ(kind == 2 ? round % 4 : 0, ps[0].align);
      EXPECT_TRUE(run.href.isNull());
    }
    // Sizes travel as whole percents: the CSS text is the fixed point.
    int64_t scaled = (int64_t)style.size * 100;
    int64_t percent = (scaled + (scaled < 0 ? -60 : 60)) / 120;
    want.size = (int)((percent * 120 + (percent < 0 ? -50 : 50)) / 100);
    EXPECT_EQ(styleText(want), styleText(run.style)) << markup.get();
    EXPECT_STREQ(style.toCss().get(), run.style.toCss().get());
  }
}

// --- Layout -----------------------------------------------------------------------

// Widths of a proportional font, scaled by the style's size; bytes above
// 0x7F count one by one, so a cut inside a character would be seen.
int charWidth(const char* p)
{
  unsigned char ch = (unsigned char)*p;
  return ch >= 0x80 ? 5 : strchr(" il", ch) ? 3 : strchr("mw", ch) ? 11 : ch == '\t' ? 9 : 7;
}

int measure(const Style& style, const char* b, const char* e)
{
  int w = 0;
  for (const char* p = b; p < e; p++)
    w += charWidth(p) * style.size / 120;
  return w;
}

int lineHeightOf(const Style& style)
{
  return style.size / 6;
}

const int kSpacing = 7;

std::string rectText(const char* kind, const char* href, const char* b, const char* e, int l,
                     int t, int r, int bo)
{
  return std::string(kind) + (href ? std::string(" ") + href : "") + " [" + std::string(b, e) +
         "] " + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," +
         std::to_string(bo);
}

class RecordingCallback : public Layout::Callback {
public:
  void beginParagraph(int align, float, float) override
  {
    ops.push_back("para " + std::to_string(align));
  }
  void endParagraph(int l, int r) override
  {
    ops.push_back("endpara " + std::to_string(l) + " " + std::to_string(r));
  }
  void setStyle(const Style& s, const char*, const char*) override { style = s; }
  int lineHeight() override { return lineHeightOf(style); }
  int paragraphSpacing() override { return kSpacing; }
  int textWidth(const char* b, const char* e) override
  {
    measures++;
    return measure(style, b, e);
  }
  void drawText(const char* b, const char* e, const Layout::Rect& r) override
  {
    ops.push_back(rectText("text", nullptr, b, e, r.left, r.top, r.right, r.bottom));
  }
  void drawLink(const char* href, const char* b, const char* e, const Layout::Rect& r) override
  {
    ops.push_back(rectText("link", href, b, e, r.left, r.top, r.right, r.bottom));
  }
  void finish() override { ops.push_back("finish"); }

  Style style;
  std::vector<std::string> ops;
  long measures = 0;
};

// The reference: lines filled word by word, measuring each candidate line
// in turn; a word wider than an empty line is cut between characters.
class GreedyWrap : public Handler {
public:
  explicit GreedyWrap(int maxWidth) : maxW_(maxWidth > 0 ? maxWidth : INT_MAX) {}

  void beginParagraph(int align, float padLeft, float padRight) override
  {
    ops.push_back("para " + std::to_string(align));
    auto px = [&](float pad) {
      double v = (double)pad * lineHeightOf(style_);
      return !(v > 0) ? 0 : v >= maxW_ ? maxW_ : (int)v;
    };
    padL_ = px(padLeft);
    padR_ = px(padRight);
    lineW_ = maxW_ - padL_ - padR_;
    x_ = padL_;
    if (paras_++)
      y_ += kSpacing + lineH_;
    lineH_ = 0;
  }
  void endParagraph(bool) override
  {
    ops.push_back("endpara " + std::to_string(padL_) + " " + std::to_string(padR_));
  }
  void text(const Style& style, const char* text) override { wrap(style, text, nullptr); }
  void link(const Style& style, const char* href, const char* text) override
  {
    wrap(style, text ? text : href, href);
  }
  void endDocument() override { ops.push_back("finish"); }

  std::vector<std::string> ops;
  long measures = 0;
  int right = 0, bottom = 0;

private:
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  void newLine()
  {
    x_ = padL_;
    y_ += lineH_;
    lineH_ = 0;
  }
  // The last break in (c, s] whose part fits the rest of the line, or c.
  const char* longest(const char* c, const char* s, bool chars, int* w)
  {
    const char* best = c;
    *w = 0;
    for (const char* b = c + 1; b <= s; b++) {
      if (b < s && (chars ? ((unsigned char)*b & 0xC0) == 0x80 : !blank(*b) || blank(b[-1])))
        continue;
      measures++;
      int bw = measure(style_, c, b);
      if (bw > (long long)lineW_ - x_)
        break;
      best = b;
      *w = bw;
    }
    return best;
  }

  void wrap(const Style& style, const char* t, const char* href)
  {
    style_ = style;
    const int h = lineHeightOf(style_);
    const char* end = t + strlen(t);
    if (t == end)
      return;
    for (const char* c = t;;) {
      const char* s = std::find(c, end, '\n');
      int w;
      const char* e = longest(c, s, false, &w);
      if (e == c && c < s && x_ != padL_) {
        newLine();
        while (c < s && blank(*c))
          c++;
        e = longest(c, s, false, &w);
      }
      if (e == c && c < s && (e = longest(c, s, true, &w)) == c)
        return;
      ops.push_back(rectText(href ? "link" : "text", href, c, e, x_, y_, x_ + w, y_ + h));
      x_ += w;
      right = std::max(right, x_);
      bottom = std::max(bottom, y_ + h);
      lineH_ = std::max(lineH_, h);
      if (e == end)
        return;
      newLine();
      for (c = e == s ? s + 1 : e; e != s && c < end && blank(*c);)
        c++;
    }
  }

  Style style_;
  int maxW_, padL_ = 0, padR_ = 0, lineW_ = 0, x_ = 0, y_ = 0, lineH_ = 0, paras_ = 0;
};

std::string randomWords(std::mt19937& rng, int words)
{
  static const char* const kSeparators[] = {" ", " ", " ", " ", " ", "  ", "\t", "\n", " \n "};
  std::string s;
  if (rng() % 6 == 0)
    s += " ";
  for (int i = 0; i < words; i++) {
    int len = rng() % 12 == 0 ? 20 + rng() % 60 : 1 + rng() % 9; // some longer than a line
    s += randomText(rng, len, "abcilmwxyz");
    if (i + 1 < words || rng() % 5 == 0)
      s += kSeparators[rng() % 9];
  }
  return s;
}

TEST(MarkupTest, LayoutEqualsGreedyWordWrap)
{
  std::mt19937 rng(12345);
  const float kPads[] = {0, 0, 0.5f, 1.5f, 4};
  const int kSizes[] = {120, 120, 180, 96};
  long layoutMeasures = 0, greedyMeasures = 0;
  for (int round = 0; round < 600; round++) {
    int maxWidth = round % 10 == 0 ? 0 : (int)(rng() % 400);
    RecordingCallback cb;
    Layout layout(&cb, maxWidth);
    GreedyWrap ref(maxWidth);
    std::vector<Handler*> both = {&layout, &ref};
    int paragraphs = 1 + rng() % 3;
    for (int p = 0; p < paragraphs; p++) {
      int align = rng() % 4;
      float pl = kPads[rng() % 5], pr = kPads[rng() % 5];
      for (Handler* h : both)
        h->beginParagraph(align, pl, pr);
      for (int runs = 1 + rng() % 4; runs > 0; runs--) {
        Style style(0, kSizes[rng() % 4], 400);
        std::string text = randomWords(rng, 1 + rng() % 40);
        bool isLink = rng() % 4 == 0;
        const char* shown = rng() % 2 ? text.c_str() : nullptr;
        for (Handler* h : both) {
          if (isLink)
            h->link(style, "href", shown);
          else
            h->text(style, text.c_str());
        }
      }
      for (Handler* h : both)
        h->endParagraph(p + 1 == paragraphs);
    }
    for (Handler* h : both)
      h->endDocument();
    ASSERT_EQ(ref.ops, cb.ops) << "round " << round << " width " << maxWidth;
    EXPECT_EQ(ref.right, layout.extentRight());
    EXPECT_EQ(ref.bottom, layout.extentBottom());
    layoutMeasures += cb.measures;
    greedyMeasures += ref.measures;
  }
  EXPECT_LT(layoutMeasures * 2, greedyMeasures);
}

TEST(MarkupTest, LayoutMeasuresAFewTimesPerLine)
{
  std::mt19937 rng(99);
  std::string text;
  int words = 3000;
  for (int i = 0; i < words; i++)
    text += randomText(rng, 8, "abcdefghijklmnopqrstuvwxyz") + " ";
  RecordingCallback cb;
  Layout layout(&cb, 600); // about 16 words a line
  layout.beginParagraph(0, 0, 0);
  layout.text(Style(), text.c_str());
  long lines = (long)cb.ops.size() - 1;
  EXPECT_GT(lines, words / 20);
  EXPECT_LE(cb.measures, lines * 4);
  EXPECT_LT(cb.measures * 3, words);
}

// Outside text can give any padding; none may reach a float or int
// conversion out of range.
TEST(MarkupTest, PaddingsAreClamped)
{
  std::vector<Paragraph> ps;
  ParserHtml::instance().parseParagraphs(
      "<div style='padding-left:1e300;padding-right:nan'>x</div>"
      "<div style='padding-left:-3;padding-right:2.5'>y</div>",
      ps);
  ASSERT_EQ(2u, ps.size());
  EXPECT_EQ(std::make_pair(1000.0f, 0.0f), std::make_pair(ps[0].padLeft, ps[0].padRight));
  EXPECT_EQ(std::make_pair(0.0f, 2.5f), std::make_pair(ps[1].padLeft, ps[1].padRight));

  const struct {
    int maxWidth;
    float pl, pr;
    const char* endPara;
  } cases[] = {
      {300, 1e30f, NAN, "endpara 300 0"},
      {0, INFINITY, -INFINITY, "endpara 2147483647 0"},
      {0, 1e30f, 1e30f, "endpara 2147483647 2147483647"},
      {300, -5, 2, "endpara 0 40"},
  };
  for (const auto& c : cases) {
    RecordingCallback cb;
    Layout layout(&cb, c.maxWidth);
    layout.beginParagraph(0, c.pl, c.pr);
    layout.text(Style(), "some words here");
    layout.endParagraph(true);
    EXPECT_EQ(c.endPara, cb.ops.back());
  }
}

} // namespace
