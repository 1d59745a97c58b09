// Turning markup (plat/Markup.h) into paragraphs of styled runs, the events
// that deliver them, and the two handlers of those events: the line layout
// of the rich-text widget and the plain-text stripper.
//
// The parser wraps the markup into a small XML document and parses it with
// the XML library, whose options are process-wide: markup is parsed on the
// user-interface thread only. A Layout and a Stripper belong to their owner
// and are used on that thread.
#pragma once

#include <vector>

#include "plat/DString.h"
#include "plat/Markup.h"
#include "plat/String.h"

namespace plat {
namespace Markup {

// One run of text in one style; a run with a link target is a link.
struct TextRun {
  DString text;
  String href;
  Style style;
};

// A block of runs: alignment (0 left, 1 center, 2 right, 3 justify) and
// paddings in line heights.
struct Paragraph {
  int align = 0;
  float padRight = 0;
  float padLeft = 0;
  std::vector<TextRun> runs;
};

// Receives a parsed text: for each paragraph beginParagraph, its runs in
// order, endParagraph; then endDocument.
class Handler {
public:
  virtual ~Handler() = default;
  virtual void beginParagraph(int align, float padLeft, float padRight) = 0;
  virtual void endParagraph(bool last) = 0;
  virtual void text(const Style& style, const char* text) = 0;
  virtual void link(const Style& style, const char* href, const char* text) = 0;
  virtual void endDocument() = 0;
};

class Parser {
public:
  virtual ~Parser() = default;
  // Sends the events of the markup to handler (null only validates). Bad
  // markup is logged and gives false; then no event is sent.
  virtual bool parse(const char* markup, Handler* handler) = 0;
  // Appends the paragraphs of the markup; throws plat::Exception.
  virtual void parseParagraphs(const char* markup, std::vector<Paragraph>& out) = 0;
};

class ParserHtml : public Parser {
public:
  // The one process-wide parser.
  static ParserHtml& instance();

  bool parse(const char* markup, Handler* handler) override;
  void parseParagraphs(const char* markup, std::vector<Paragraph>& out) override;
};

// Lays the runs out into lines of a maximum width, drawing through a
// callback. Lines break after the last word that fits, inside a word only
// when no word fits an empty line, and at every LF. Width measuring is the
// costly call: a pixels-per-byte estimate, kept for the life of the Layout,
// steers each line's search so a line costs a few measurements, not one per
// word. The Layout does not own its callback.
class Layout : public Handler {
public:
  struct Rect {
    int left, top, right, bottom;
  };

  // Implemented by the widget that draws; widths and heights in pixels.
  class Callback {
  public:
    virtual ~Callback() = default;
    virtual void beginParagraph(int align, float padLeft, float padRight) = 0;
    virtual void endParagraph(int padLeftPx, int padRightPx) = 0;
    // Selects the font and colours of the following text; href is null for
    // plain text, text is null for a link showing its href.
    virtual void setStyle(const Style& style, const char* href, const char* text) = 0;
    // The height of a line in the current style, also the unit of paddings.
    virtual int lineHeight() = 0;
    virtual int paragraphSpacing() = 0;
    virtual int textWidth(const char* begin, const char* end) = 0;
    virtual void drawText(const char* begin, const char* end, const Rect& rect) = 0;
    virtual void drawLink(const char* href, const char* begin, const char* end,
                          const Rect& rect) = 0;
    virtual void finish() = 0;
  };

  // maxWidth 0 or less means unlimited.
  Layout(Callback* callback, int maxWidth);

  void beginParagraph(int align, float padLeft, float padRight) override;
  void endParagraph(bool last) override;
  void text(const Style& style, const char* text) override;
  void link(const Style& style, const char* href, const char* text) override;
  void endDocument() override;

  // The size used: the largest right and bottom edges drawn.
  int extentRight() const { return extentRight_; }
  int extentBottom() const { return extentBottom_; }
  int paragraphCount() const { return paragraphs_; }
  int lineIndex() const { return lineIndex_; }

private:
  struct Fit;
  void layOut(const char* text, const char* href);
  bool fitSegment(const char* c, const char* s, long long space, Fit& fit);
  bool search(const char* c, const char* s, long long space, bool chars, Fit& fit);
  void newLine();

  Callback* callback_;
  int x_ = 0;
  int y_ = 0;
  int extentRight_ = 0;
  int extentBottom_ = 0;
  int padLeftPx_ = 0;
  int padRightPx_ = 0;
  int lineWidth_ = 0;
  int maxWidth_;
  int paragraphs_ = 0;
  int lineIndex_ = 0;
  int lineHeight_ = 0;
  double estimate_ = 3.0; // pixels per byte
};

// The plain text of a markup text: run texts (a link's href when it shows
// no text) without any paragraph breaks. Markup that does not parse leaves
// it empty.
class Stripper : public DString, public Handler {
public:
  explicit Stripper(const char* markup);

  void beginParagraph(int, float, float) override {}
  void endParagraph(bool) override {}
  void text(const Style& style, const char* text) override;
  void link(const Style& style, const char* href, const char* text) override;
  void endDocument() override {}
};

} // namespace Markup
} // namespace plat
