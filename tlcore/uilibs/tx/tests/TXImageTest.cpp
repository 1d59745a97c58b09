// Images on screen: what is drawn in a 32-bit buffer reads back with
// XGetImage as the server's native pixels. Run at depths 24, 16 and 8, and
// at 24 without MIT-SHM and over TCP (where the server refuses to attach).
#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "tx/ColorCube.h"
#include "tx/TXImage.h"
#include "tx/TXWindow.h"
#include "txtest.h"

using namespace tltest;

TEST(TXImage, ColourCubeIndexes)
{
  rfb::ColorCubeOrth four(4, 4, 4), two(2, 2, 2);
  const int white[3] = {255, 255, 255}, grey[3] = {128, 128, 128};
  EXPECT_EQ(63, four.lookup(white));
  EXPECT_EQ(42, four.lookup(grey));
  ASSERT_EQ(8, two.size());
  for (int i = 0; i < 8; i++) {
    int rgb[3];
    two.getColour(i, rgb);
    EXPECT_EQ(i, two.lookup(rgb));
    for (int c : rgb)
      EXPECT_TRUE(c == 0 || c == 255);
  }
}

// The core font's lookup waits until the first image has gone out: the
// default GC gets the font only a while after the first put. Runs before
// any other test of this program puts an image.
TEST(TXImage, CoreFontFollowsTheFirstPut)
{
  openTestDisplay();
  os::AppLoop::selectManager(); // the thread's timers
  Display* dpy = tx::display();
  auto gcFont = [dpy] {
    XGCValues v;
    return XGetGCValues(dpy, tx::defaultGC(), GCFont, &v) ? v.font : ~0ul;
  };
  ASSERT_EQ(~0ul, gcFont());
  tx::TXWindow win(16, 16);
  win.map();
  tx::TXImage img(rfb::Point(16, 16));
  const plat::Time put = plat::getMonoTime();
  img.put(win.window(), img.rect);
  EXPECT_EQ(~0ul, gcFont());
  ASSERT_TRUE(loopUntil([&] { return gcFont() != ~0ul; }, 5000));
  EXPECT_GE(plat::getMonoTime() - put, (plat::Time)tx::kCoreFontDelayMs * plat::kTicksPerMilli);
  ASSERT_NE(nullptr, tx::defaultFont());
  EXPECT_EQ(tx::defaultFont()->fid, gcFont());
}

TEST(TXImage, DrawnPixelsReadBackAsNativePixels)
{
  openTestDisplay();
  LogCapture log("TXImage");
  const XvfbOptions server = XvfbOptions::fromEnv();
  Display* dpy = tx::display();
  Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
  const bool mapped = visual->c_class == PseudoColor;
  const int colours[][3] = {{255, 255, 255}, {0, 0, 0}, {128, 128, 128}, {255, 0, 0}, {0, 0, 255}, {12, 200, 77}};
  const int n = sizeof(colours) / sizeof(colours[0]);
  tx::TXWindow win(8 * n, 16);
  win.map();

  for (int cube : mapped ? std::vector<int>{2, 4} : std::vector<int>{4}) {
    SCOPED_TRACE("cube " + std::to_string(cube));
    plat::Configuration::global().set("ColorCubeSize", std::to_string(cube).c_str(), plat::kPriorityPreference);
    std::vector<int> segments;
    {
      tx::TXImage img(rfb::Point(8 * n, 16));
      EXPECT_EQ(server.shm && !server.tcp, img.isShared());
      img.setPF(rfb::xrgb8888Format());
      for (int i = 0; i < n; i++)
        for (int y = 0; y < 16; y++)
          for (int x = 0; x < 8; x++)
            img.setPixel(rfb::Point(i * 8 + x, y), rfb::xrgb8888Format().pixelFromRGB(colours[i], nullptr));
      // Growing and shrinking keep what both sizes share.
      for (rfb::Point size : {rfb::Point(8 * n + 13, 21), rfb::Point(8 * n, 16)}) {
        segments.push_back(img.shmId());
        img.setSize(size);
      }
      segments.push_back(img.shmId());
      img.put(win.window(), img.rect);
      XImage* got = XGetImage(dpy, win.window(), 0, 0, 8 * n, 16, AllPlanes, ZPixmap);
      ASSERT_NE(nullptr, got);
      for (int i = 0; i < n; i++) {
        unsigned long pixel = XGetPixel(got, i * 8 + 3, 15);
        EXPECT_EQ(pixel, XGetPixel(got, i * 8, 0));
        if (mapped) {
          XColor c;
          c.pixel = pixel;
          XQueryColor(dpy, tx::colormap(), &c);
          const unsigned short rgb[3] = {c.red, c.green, c.blue};
          for (int k = 0; k < 3; k++)
            EXPECT_EQ((((cube - 1) * colours[i][k] + 127) / 255 * 255 / (cube - 1)) * 257, rgb[k]) << i << " " << k;
        } else {
          unsigned long want = 0;
          const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
          for (int k = 0; k < 3; k++) {
            unsigned long low = masks[k] & -masks[k], max = masks[k] / low;
            want |= (colours[i][k] * max + 127) / 255 * low;
          }
          EXPECT_EQ(want, pixel) << std::hex << i;
        }
      }
      XDestroyImage(got);
      screenshot(win.window(), 8 * n, 16, "tximage-depth" + std::to_string(server.depth) + (server.shm ? "" : "-noshm") +
                                             (server.tcp ? "-tcp" : "") + "-cube" + std::to_string(cube));
    }
    // No shared segment outlives its image.
    for (int id : segments) {
      if (id >= 0) {
        EXPECT_NE(std::string::npos, commandOutput("ipcs -m -i " + std::to_string(id) + " 2>&1").find("not found"));
      }
    }
  }

  std::string lines = joinLines(log.lines());
  if (server.tcp) {
    EXPECT_NE(std::string::npos, lines.find("[XError] XShmAttach failed: BadAccess")) << lines;
  }
  EXPECT_NE(std::string::npos,
            lines.find(server.shm && !server.tcp ? "Using shared memory XImage" : "Using non-shm XImage"))
    << lines;
}
