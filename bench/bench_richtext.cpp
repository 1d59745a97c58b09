// Rich text: laying out and painting a 2 KB page of markup (bold words,
// coloured spans, links, paragraphs) at 480 pixels against a plain label
// wrapping and painting the same words at the same width. Prints the ratio
// with its goal.
#include <stdio.h>

#include <string>

#include "bench_util.h"
#include "plat/MarkupParser.h"
#include "wvw/WLabel.h"
#include "wvw/WRichText.h"
#include "wvwhost.h"

namespace {

using rfb::Point;
using rfb::Rect;

constexpr int kWidth = 480, kHeight = 900;

const std::string& markup()
{
  static const std::string text = [] {
    std::string s;
    for (int i = 0; s.size() < 2048; i++) {
      s += "<div style='text-align:" + std::string(i % 3 == 1 ? "center" : "left") + "'>";
      s += "The setup program downloads <b>the installation package</b> and installs it, then "
           "<span style='color:#008000'>signs you in</span> so the device joins your account. "
           "<a href='https://help.example/" + std::to_string(i) + "'>Read more about it</a> before you start.";
      s += "</div>";
    }
    return s;
  }();
  return text;
}

void BM_RichTextLayoutAndPaint(benchmark::State& state)
{
  tltest::WvwHost host(Point(kWidth, kHeight));
  wvw::WRichText text(nullptr, markup().c_str());
  host.setContent(&text);
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, kWidth, kHeight));
  for (auto _ : state) {
    text.splitLines();
    text.paint(fb);
    benchmark::ClobberMemory();
  }
  state.counters["runs"] = (double)text.runs().size();
}
BENCHMARK(BM_RichTextLayoutAndPaint);

void BM_LabelLayoutAndPaint(benchmark::State& state)
{
  tltest::WvwHost host(Point(kWidth, kHeight));
  plat::Markup::Stripper words(markup().c_str());
  wvw::WLabel label(words.get());
  host.setContent(&label);
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, kWidth, kHeight));
  for (auto _ : state) {
    label.splitLines();
    label.paint(fb);
    benchmark::ClobberMemory();
  }
  state.counters["lines"] = (double)label.lines().size();
}
BENCHMARK(BM_LabelLayoutAndPaint);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Both draw the same glyphs; the rich text also parses the markup,
  // measures through the layout's guided search and keeps a styled run
  // per piece of line.
  tlbench::printRatio(reporter, "2 KB rich text laid out and painted / plain label of the same words",
                      "BM_RichTextLayoutAndPaint", "BM_LabelLayoutAndPaint", 3.0);
  benchmark::Shutdown();
  return 0;
}
