// The page-like rich text of the golden tests, painted and checked in the
// scheme the test process set up: a large bold centred title, bold and
// coloured words, a right-aligned pair of links with one hovered. Besides
// the golden image, the pixels the drawing rules fix are checked.
#pragma once

#include <string>

#include "plat/Configuration.h"
#include "tlutil/Font.h"
#include "wvwgolden.h"
#include "wvw/WRichText.h"
#include "wvw/WStyle.h"

namespace tltest {

inline void checkRichPage(const std::string& golden)
{
  ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  const wvw::WStyle& style = wvw::WStyle::getDefault();
  WvwHost host(rfb::Point(240, 110));
  wvw::WRichText text(nullptr,
                      "<div style='text-align:center'><span style='font-size:150%'><b>Welcome</b></span></div>"
                      "<div>Install <b>the product</b> on this <span style='color:#008000'>computer</span>, "
                      "then sign in to finish.</div>"
                      "<div style='text-align:right; padding-right:1'><a href='help'>Need help?</a> "
                      "<a href='terms'>Terms</a></div>");
  text.setAlignment(0, 0);
  host.setContent(&text);
  auto runWith = [&](const char* words) -> const wvw::WRichText::Run& {
    for (const auto& r : text.runs()) {
      if (std::string(r.text.str()).find(words) != std::string::npos)
        return r;
    }
    ADD_FAILURE() << "no run " << words;
    return text.runs()[0];
  };
  const auto& terms = runWith("Terms");
  host.pointer(terms.rect.topLeft.x + 2, terms.rect.topLeft.y + 2);
  expectGolden(host.paint(), golden);

  auto count = [&](const rfb::Rect& r, const plat::Colour& c) {
    int n = 0;
    for (int y = r.topLeft.y; y < r.bottomRight.y; y++) {
      for (int x = r.topLeft.x; x < r.bottomRight.x; x++)
        n += host.at(x, y) == c;
    }
    return n;
  };
  EXPECT_EQ(host.at(0, 0), style.bg);
  EXPECT_EQ(host.at(239, 109), style.bg);
  const auto& title = runWith("Welcome");
  EXPECT_EQ(title.style.font, tlutil::Font::bold(180));
  EXPECT_GT(count(title.rect, style.contentText), 0);
  EXPECT_EQ(title.rect.topLeft.x, (240 - title.rect.width()) / 2);
  EXPECT_GT(count(runWith("computer").rect, plat::Colour{0, 128, 0}), 0);
  EXPECT_EQ(count(runWith("computer").rect, style.contentText), 0);
  // Links: the plain link colour, the hovered one in 200, 0, 0, each with
  // its underline two pixels above the bottom of its font's line.
  struct Link {
    const wvw::WRichText::Run& run;
    plat::Colour colour;
    plat::Colour other;
  } links[] = {{runWith("Need help?"), wvw::WRichText::kLinkColour, wvw::WRichText::kActiveLinkColour},
               {terms, wvw::WRichText::kActiveLinkColour, wvw::WRichText::kLinkColour}};
  for (const Link& l : links) {
    const rfb::Rect r = l.run.rect;
    const int w = l.run.style.font->textWidth(l.run.text.str());
    const int y = r.topLeft.y + l.run.style.font->lineHeight - 2;
    EXPECT_EQ(count(rfb::Rect(r.topLeft.x, y, r.topLeft.x + w, y + 1), l.colour), w) << l.run.text.str();
    EXPECT_EQ(count(r, l.other), 0) << l.run.text.str();
  }
  // The links' line ends one line height (the right padding) and the margin
  // before the right edge.
  EXPECT_EQ(terms.rect.bottomRight.x, 240 - style.font->lineHeight - 4);
}

} // namespace tltest
