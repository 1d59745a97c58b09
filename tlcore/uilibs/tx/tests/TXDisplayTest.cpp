// The display connection on an 8-bit PseudoColor server: opening, display
// names, properties, colour allocation in a full colormap, X errors and
// the XImage stride rule.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "tx/TXUtil.h"
#include "tx/TXWindow.h"
#include "txtest.h"

using namespace tltest;

// Must run first: the process's display is opened here.
TEST(TXDisplay, UnreachableServerThenEmptyNameKeepsDisplay)
{
  int n = 4700;
  for (struct stat st; stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &st) == 0;)
    n++;
  const std::string bad = ":" + std::to_string(n);
  try {
    tx::openDisplay(bad.c_str());
    FAIL() << "opened " << bad;
  } catch (plat::Exception& e) {
    EXPECT_EQ("unable to open display \"" + bad + "\"", e.str());
  }
  EXPECT_STREQ("localhost", getenv("XAUTHLOCALHOSTNAME"));
  EXPECT_EQ(-1, tx::displayNumber());

  setenv("DISPLAY", sharedXvfb().display().c_str(), 1);
  tx::openDisplay("");
  ASSERT_NE(nullptr, tx::display());
  EXPECT_EQ(sharedXvfb().display(), getenv("DISPLAY"));
  EXPECT_EQ(sharedXvfb().number(), tx::displayNumber());
}

TEST(TXDisplay, DisplayNames)
{
  const struct {
    const char* name;
    int number;
  } cases[] = {{"host:0.1", 0}, {":12", 12}, {"h:12.x", 12}, {":x.1", 7}, {"nocolon", 7}, {"h:", 7}, {":1a", 7}};
  for (const auto& c : cases)
    EXPECT_EQ(c.number, tx::parseDisplayNumber(c.name, 7)) << c.name;
}

TEST(TXDisplay, CardinalPropertiesNeedFormat32)
{
  openTestDisplay();
  tx::TXWindow w(10, 10);
  const long value = 0x1234;
  const struct {
    int format;
    Atom type, askedType;
    bool read;
  } cases[] = {{32, XA_CARDINAL, XA_CARDINAL, true}, {32, XA_CARDINAL, 0, true}, {32, XA_CARDINAL, XA_WINDOW, false},
               {16, XA_CARDINAL, XA_CARDINAL, false}, {8, XA_CARDINAL, XA_CARDINAL, false}};
  for (const auto& c : cases) {
    char bytes[4] = {0x34, 0x12};
    tx::setProperty(w.window(), XA_WM_COMMAND, c.type, c.format, c.format == 32 ? (const void*)&value : bytes, 1);
    unsigned long got = 0;
    EXPECT_EQ(c.read, tx::getCardinalProperty(w.window(), XA_WM_COMMAND, c.askedType, &got)) << c.format;
    EXPECT_EQ(c.read ? 0x1234u : 0u, got);
  }
  EXPECT_GT(tx::getServerTime(), 0u);
}

TEST(TXDisplay, ErrorCatcherThrowsAndLogs)
{
  openTestDisplay();
  LogCapture log("ErrorCatcher");
  XWindowAttributes attrs;
  try {
    tx::ErrorCatcher catcher;
    XGetWindowAttributes(tx::display(), 0x3fffff, &attrs);
    catcher.check("Reading attributes");
    FAIL() << "no error";
  } catch (tx::XErrorException& e) {
    EXPECT_STREQ("Reading attributes: BadWindow (invalid Window parameter) (3)", e.str());
    EXPECT_STREQ("XError", e.getType());
  }
  EXPECT_EQ(std::vector<std::string>{"X Error: BadWindow (invalid Window parameter) (3)"}, log.lines());
}

// A helper client fills the colormap with distinct read-only colours; our
// colours then take the nearest cells, and only those stay ours.
TEST(TXDisplay, FullColormapGivesNearestCellsAndFreesTheRest)
{
  openTestDisplay();
  Display* dpy = tx::display();
  ASSERT_EQ(PseudoColor, DefaultVisual(dpy, 0)->c_class);
  Display* helper = XOpenDisplay(sharedXvfb().display().c_str());
  Colormap cmap = DefaultColormap(helper, 0);
  std::vector<unsigned long> held;
  for (int i = 1; i < 256; i++) {
    XColor c;
    c.red = (unsigned short)(i * 257);
    c.green = (unsigned short)((i * 97 % 256) * 257);
    c.blue = (unsigned short)(0x1111 + i * 3);
    if (!XAllocColor(helper, cmap, &c))
      break;
    held.push_back(c.pixel);
  }
  XSync(helper, False);
  std::vector<XColor> cells(256);
  for (int i = 0; i < 256; i++)
    cells[i].pixel = (unsigned long)i;
  XQueryColors(dpy, tx::colormap(), cells.data(), 256);

  XColor want[4];
  const unsigned short greys[4] = {0x2222, 0x6666, 0x9999, 0xCCCC};
  for (int i = 0; i < 4; i++) {
    want[i].red = want[i].green = want[i].blue = greys[i];
    want[i].flags = DoRed | DoGreen | DoBlue;
  }
  tx::allocColours(want, 4);
  std::set<unsigned long> chosen;
  for (const XColor& w : want) {
    long long best = -1, bestDist = 0;
    for (int i = 0; i < 256; i++) {
      long long d[3] = {(w.red - cells[i].red) / 2, (w.green - cells[i].green) / 2, (w.blue - cells[i].blue) / 2};
      long long dist = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      if (best < 0 || dist < bestDist) {
        best = i;
        bestDist = dist;
      }
    }
    EXPECT_EQ((unsigned long)best, w.pixel) << std::hex << w.red;
    if (std::find(held.begin(), held.end(), w.pixel) != held.end())
      chosen.insert(w.pixel);
  }
  XSync(dpy, False);

  // Once the helper lets go, every cell but the chosen ones is free again.
  XFreeColors(helper, cmap, held.data(), (int)held.size(), 0);
  size_t freeCells = 0;
  unsigned long pixel;
  while (XAllocColorCells(helper, cmap, False, nullptr, 0, &pixel, 1))
    freeCells++;
  EXPECT_EQ(std::set<unsigned long>(held.begin(), held.end()).size() - chosen.size(), freeCells);
  XCloseDisplay(helper);
}

// The XImage made stride pixels wide has rows of exactly stride x bpp / 8
// bytes by Xlib's own rule, and no narrower width >= the asked one would.
TEST(TXDisplay, StrideRuleAgreesWithXInitImage)
{
  auto xlibRow = [](int width, int bpp, int pad) {
    XImage im{};
    im.width = width;
    im.height = 1;
    im.format = ZPixmap;
    im.byte_order = im.bitmap_bit_order = LSBFirst;
    im.bitmap_unit = im.bitmap_pad = pad;
    im.depth = std::min(bpp, 24);
    im.bits_per_pixel = bpp;
    return XInitImage(&im) ? im.bytes_per_line : -1;
  };
  for (int bpp : {8, 16, 24, 32})
    for (int pad : {8, 16, 32})
      for (int width = 1; width <= 9; width++) {
        const int stride = tx::imageStride(width, bpp, pad);
        ASSERT_GE(stride, width);
        EXPECT_EQ(stride * bpp / 8, xlibRow(stride, bpp, pad)) << bpp << " " << pad << " " << width;
        for (int s = width; s < stride; s++)
          EXPECT_NE(s * bpp / 8, xlibRow(s, bpp, pad)) << bpp << " " << pad << " " << s;
      }
}
