// Golden images of widget tests: expectGolden compares a painted buffer
// with <TL_GOLDEN_DIR>/<name>.png pixel for pixel; a mismatch writes
// <name>.actual.png and <name>.diff.png into TL_GOLDEN_OUT_DIR. Only
// TL_REWRITE_GOLDENS=1 in the environment rewrites the goldens.
#pragma once

#include <png.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testutil.h"
#include "tlutil/PngFile.h"
#include "wvwhost.h"

namespace tltest {

// --- Golden images ---------------------------------------------------------------------

// Writes the buffer (xrgb8888) as an 8-bit RGB PNG.
inline bool writeRgbPng(const std::string& path, rfb::FullFramePixelBuffer& pb)
{
  FILE* f = fopen(path.c_str(), "wbe");
  if (!f)
    return false;
  png_structp pp = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop ip = png_create_info_struct(pp);
  const int w = pb.rect.width(), h = pb.rect.height();
  std::vector<png_byte> row((size_t)w * 3);
  if (setjmp(png_jmpbuf(pp))) {
    png_destroy_write_struct(&pp, &ip);
    fclose(f);
    return false;
  }
  png_init_io(pp, f);
  png_set_IHDR(pp, ip, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(pp, ip);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const plat::Colour c = WvwHost::colourAt(pb, pb.rect.topLeft.x + x, pb.rect.topLeft.y + y);
      row[x * 3] = (png_byte)c.r;
      row[x * 3 + 1] = (png_byte)c.g;
      row[x * 3 + 2] = (png_byte)c.b;
    }
    png_write_row(pp, row.data());
  }
  png_write_end(pp, ip);
  png_destroy_write_struct(&pp, &ip);
  return fclose(f) == 0;
}

// Compares pb with the golden image name.png pixel for pixel.
inline void expectGolden(rfb::FullFramePixelBuffer& pb, const std::string& name)
{
  const std::string golden = std::string(TL_GOLDEN_DIR) + "/" + name + ".png";
  const char* rewrite = getenv("TL_REWRITE_GOLDENS");
  if (rewrite && std::string(rewrite) == "1") {
    EXPECT_TRUE(writeRgbPng(golden, pb)) << golden;
    return;
  }
  const std::string bytes = readFileIfAny(golden);
  if (bytes.empty()) {
    ADD_FAILURE() << "no golden " << golden << " (TL_REWRITE_GOLDENS=1 writes it)";
    return;
  }
  tlutil::PngFile png((int)bytes.size(), (const uint8_t*)bytes.data(), tlutil::PngFile::Premultiply::No,
                      golden.c_str());
  rfb::ManagedPixelBuffer want(&png);
  const int w = pb.rect.width(), h = pb.rect.height();
  const std::string outDir = TL_GOLDEN_OUT_DIR;
  mkdir(outDir.c_str(), 0755);
  if (want.rect.width() != w || want.rect.height() != h) {
    writeRgbPng(outDir + "/" + name + ".actual.png", pb);
    ADD_FAILURE() << name << ": golden is " << want.rect.width() << "x" << want.rect.height() << ", drawn " << w
                  << "x" << h;
    return;
  }
  rfb::ManagedPixelBuffer diff(rfb::xrgb8888Format(), rfb::Rect(0, 0, w, h));
  int differing = 0;
  std::string first;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const plat::Colour a = WvwHost::colourAt(pb, pb.rect.topLeft.x + x, pb.rect.topLeft.y + y);
      const plat::Colour b = WvwHost::colourAt(want, x, y);
      int rgb[3] = {255, 0, 0};
      if (a == b) {
        const int grey = 128 + (a.r + a.g + a.b) / 6;
        rgb[0] = rgb[1] = rgb[2] = grey;
      } else if (differing++ == 0) {
        first = std::to_string(x) + "," + std::to_string(y);
      }
      diff.setPixel(rfb::Point(x, y), diff.format.pixelFromRGB(rgb, nullptr));
    }
  }
  if (differing) {
    writeRgbPng(outDir + "/" + name + ".actual.png", pb);
    writeRgbPng(outDir + "/" + name + ".diff.png", diff);
    ADD_FAILURE() << name << ": " << differing << " pixel(s) differ from the golden, first at " << first
                  << "; actual and diff in " << outDir;
  }
}

} // namespace tltest
