// The markup parser and layout on arbitrary bytes, and the builders on
// arbitrary values. Markup either fails cleanly or is laid out with every
// drawn range inside its run and every rectangle inside the width; markup
// built from any text and colour parses back to exactly that text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "plat/Log.h"
#include "plat/MarkupParser.h"
#include "plat/utf8.h"

using namespace plat;
using namespace plat::Markup;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

// Monospaced but wider for bytes above 0x7F, so character breaks matter.
class Checker : public Layout::Callback {
public:
  explicit Checker(int maxWidth) : maxWidth_(maxWidth > 0 ? maxWidth : INT32_MAX) {}

  void beginParagraph(int, float, float) override {}
  void endParagraph(int l, int r) override { check(l >= 0 && r >= 0 && l <= maxWidth_); }
  void setStyle(const Style&, const char* href, const char* text) override
  {
    const char* shown = text ? text : href;
    begin_ = shown;
    end_ = shown + strlen(shown);
  }
  int lineHeight() override { return 12; }
  int paragraphSpacing() override { return 4; }
  int textWidth(const char* b, const char* e) override
  {
    check(b >= begin_ && e <= end_ && b <= e);
    int w = 0;
    for (const char* p = b; p < e; p++)
      w += (unsigned char)*p < 0x80 ? 5 : 3;
    return w;
  }
  void drawText(const char* b, const char* e, const Layout::Rect& r) override { drawn(b, e, r); }
  void drawLink(const char* href, const char*, const char* e, const Layout::Rect& r) override
  {
    check(href != nullptr);
    check(e <= end_);
    check(r.left <= r.right && r.right <= maxWidth_);
  }
  void finish() override {}

private:
  void drawn(const char* b, const char* e, const Layout::Rect& r)
  {
    check(b >= begin_ && e <= end_ && b <= e);
    check(r.left <= r.right && r.right <= maxWidth_ && r.top < r.bottom);
  }

  int maxWidth_;
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static bool quiet = [] {
    setLogOverride("");
    flushMemLog();
    return true;
  }();
  (void)quiet;
  if (size > 4096)
    return 0;
  std::string input((const char*)data, size);
  input = input.c_str(); // markup is a NUL-terminated text

  // As markup.
  int maxWidth = size ? data[0] : 0;
  Checker checker(maxWidth);
  Layout layout(&checker, maxWidth);
  ParserHtml::instance().parse(input.c_str(), &layout);
  Stripper stripped(input.c_str());

  // As values for the builders: a text and a colour.
  size_t cut = input.size() / 2;
  String text = utf8Sanitise(input.c_str(), input.c_str() + cut, -1);
  String colour = utf8Sanitise(input.c_str() + cut, nullptr, -1);
  DString markup;
  appendStyledText(markup, text.str(), Style(size % 4, (int)size - 100, 700, colour.str()));
  appendLink(markup, nullptr, colour.str(), colour.str());
  appendDivStart(markup, (int)size % 5, nullptr);
  appendBold(markup, text.str(), colour.str(), 90);
  markup.append("</div>");
  Stripper back(markup.get());
  std::string want = std::string(text.str()) + colour.str() + text.str();
  check(want == back.get());
  return 0;
}
