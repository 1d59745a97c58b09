// The rich-text widget over arbitrary markup at arbitrary sizes: laid out,
// painted into a buffer, hit-tested over a grid, every link activated by
// pointer and by keys, Tab travel through all links, everything selected
// and copied. Runs stay inside the text and the widget keeps its indices
// inside its runs; the checks abort on a broken invariant.
//
// Input: width byte, height byte, flags byte (bit 0 word wrap, bits 1-2
// vertical alignment, bit 3 disabled), then the markup.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "plat/Log.h"
#include "wvw/WRichText.h"
#include "wvwhost.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

struct Links : plat::Markup::LinkCallback {
  bool linkActivated(const char* href) override
  {
    check(href != nullptr);
    count++;
    return true;
  }
  int count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static bool quiet = [] {
    plat::setLogOverride("");
    plat::flushMemLog();
    return true;
  }();
  (void)quiet;
  if (size < 3 || size > 4096)
    return 0;
  const rfb::Point widgetSize(data[0] * 2, data[1]);
  const uint8_t flags = data[2];
  const std::string markup((const char*)data + 3, size - 3);

  tltest::WvwHost host(rfb::Point(std::max(1, widgetSize.x), std::max(1, widgetSize.y)));
  Links links;
  wvw::WRichText text(&links, markup.c_str());
  text.setWrap(flags & 1);
  text.setAlignment(0, (flags >> 1) & 3);
  text.setSelectable(true);
  host.setContent(&text, false);
  text.setSize(widgetSize);
  text.setEnabled(!(flags & 8));

  int total = 0, linkRuns = 0;
  for (const auto& r : text.runs()) {
    check(r.text.get() != nullptr && r.rect.width() >= 0 && r.rect.height() > 0);
    total += r.text.length();
    linkRuns += r.link.get() != nullptr;
  }
  check(total == text.totalLength());
  check(text.hasLinks() == (linkRuns > 0));
  const rfb::Point preferred = text.preferredSize();
  check(preferred.y >= 0 && text.preferredHeight(widgetSize.x) >= 0 && text.preferredWidth(0) >= 0);

  host.paint();
  for (int y = -2; y < widgetSize.y + 2; y += 3) {
    for (int x = -2; x < widgetSize.x + 2; x += 5) {
      const int run = text.runAt(rfb::Point(x, y));
      check(run == -1 || text.runs()[run].rect.contains(rfb::Point(x, y)));
      const int at = text.charIndexAt(rfb::Point(x, y));
      check(at >= 0 && at <= total);
    }
  }
  // Each link by pointer, then by keys.
  for (size_t i = 0; i < text.runs().size(); i++) {
    const rfb::Rect r = text.runs()[i].rect;
    if (!text.runs()[i].link.get() || r.isEmpty())
      continue;
    host.pointer(r.topLeft.x, r.topLeft.y);
    host.click(r.topLeft.x, r.topLeft.y);
    host.paint();
  }
  host.leave();
  text.setFocus();
  for (int i = 0; i <= linkRuns && text.hasFocus(); i++) {
    check(text.focusRun() == -1 || text.runs()[text.focusRun()].link.get());
    host.typeKey(0xFF0D);
    host.typeKey(0xFF09);
  }
  text.selectAll();
  host.paint();
  text.copy(&text);
  check(host.clipboard.size() <= (size_t)total + text.runs().size());
  // Narrower: the selection stays inside the new runs.
  text.setSize(rfb::Point(widgetSize.x / 2, widgetSize.y));
  check(text.selectionEnd() <= text.totalLength());
  host.paint();
  text.copy(&text);
  return 0;
}
