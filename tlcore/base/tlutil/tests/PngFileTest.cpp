// PNG decoding: files of every colour type and bit depth, with and without
// tRNS and Adam7 interlacing, written here through libpng, decode to the
// RGBA that PIL (Debian's /usr/bin/python3) reads from the same files;
// premultiplication; truncated, corrupt and oversized files give
// PngException with the decoder's message and the image name.
#include <png.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testutil.h"
#include "tlutil/PngFile.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::Point;
using rfb::Rect;
using tlutil::PngFile;

struct Spec {
  int colourType, bitDepth;
  bool interlaced, trns;
  int w, h;
};

void appendBytes(png_structp pp, png_bytep data, size_t n)
{
  static_cast<std::string*>(png_get_io_ptr(pp))->append(reinterpret_cast<char*>(data), n);
}

// A PNG of random samples.
std::string writePng(const Spec& s, std::mt19937& rng)
{
  std::string out;
  png_structp pp = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop ip = png_create_info_struct(pp);
  if (setjmp(png_jmpbuf(pp))) {
    ADD_FAILURE() << "libpng write failed";
    png_destroy_write_struct(&pp, &ip);
    return out;
  }
  png_set_write_fn(pp, &out, appendBytes, nullptr);
  png_set_IHDR(pp, ip, s.w, s.h, s.bitDepth, s.colourType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  const int maxSample = (1 << s.bitDepth) - 1;
  if (s.colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color pal[256];
    png_byte alpha[256];
    for (int i = 0; i < 256; i++) {
      pal[i] = png_color{(png_byte)rng(), (png_byte)rng(), (png_byte)rng()};
      alpha[i] = (png_byte)rng();
    }
    png_set_PLTE(pp, ip, pal, maxSample + 1);
    if (s.trns)
      png_set_tRNS(pp, ip, alpha, maxSample + 1, nullptr);
  } else if (s.trns) {
    png_color_16 key{};
    key.gray = key.red = (png_uint_16)(rng() % 2 ? 0 : maxSample);
    key.green = key.blue = key.red;
    png_set_tRNS(pp, ip, nullptr, 0, &key);
  }
  png_write_info(pp, ip);
  const int channels = png_get_channels(pp, ip);
  const size_t rowBytes = ((size_t)s.w * channels * s.bitDepth + 7) / 8;
  std::vector<std::vector<png_byte>> rows(s.h, std::vector<png_byte>(rowBytes));
  std::vector<png_bytep> ptrs;
  for (auto& r : rows) {
    for (auto& b : r)
      b = (png_byte)(rng() % 4 == 0 ? 0 : rng()); // zeros meet the tRNS key now and then
    ptrs.push_back(r.data());
  }
  png_write_image(pp, ptrs.data());
  png_write_end(pp, nullptr);
  png_destroy_write_struct(&pp, &ip);
  return out;
}

std::string decodeRgba(const std::string& png, PngFile::Premultiply pm = PngFile::Premultiply::No)
{
  PngFile f((int)png.size(), reinterpret_cast<const uint8_t*>(png.data()), pm, "test");
  ManagedPixelBuffer buf(&f);
  std::string out;
  for (int y = 0; y < buf.rect.height(); y++)
    for (int x = 0; x < buf.rect.width(); x++) {
      uint32_t p = buf.getPixel(Point(x, y));
      out += (char)(p >> 16);
      out += (char)(p >> 8);
      out += (char)p;
      out += (char)(f.getPf().alphaMax ? p >> 24 : 255);
    }
  return out;
}

TEST(PngFile, EveryKindDecodesAsPilReadsIt)
{
  std::mt19937 rng(38);
  std::vector<Spec> specs;
  const int kinds[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                          {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  for (const auto& k : kinds)
    for (int il = 0; il < 2; il++)
      for (int t = 0; t < 2; t++) {
        if (t && (k[0] == 4 || k[0] == 6))
          continue;
        specs.push_back(Spec{k[0], k[1], il == 1, t == 1, 1 + (int)(rng() % 37), 1 + (int)(rng() % 23)});
      }
  tltest::TempDir dir("pngtest");
  std::vector<std::string> files;
  for (size_t i = 0; i < specs.size(); i++) {
    std::string png = writePng(specs[i], rng);
    files.push_back(dir.write("f" + std::to_string(i) + ".png", png));
  }
  std::string cmd = "/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/png_rgba.py";
  for (size_t i = 0; i < files.size(); i++)
    cmd += " " + files[i] + ":" + std::to_string(specs[i].bitDepth);
  std::istringstream pil(tltest::commandOutput(cmd));
  for (size_t i = 0; i < specs.size(); i++) {
    const Spec& s = specs[i];
    SCOPED_TRACE("type " + std::to_string(s.colourType) + " depth " + std::to_string(s.bitDepth) +
                 (s.interlaced ? " interlaced" : "") + (s.trns ? " tRNS" : ""));
    std::string hex;
    std::getline(pil, hex);
    std::string want;
    for (size_t k = 0; k + 1 < hex.size(); k += 2)
      want += (char)std::stoi(hex.substr(k, 2), nullptr, 16);
    EXPECT_EQ(want, decodeRgba(tltest::readFile(files[i])));
  }
}

TEST(PngFile, Premultiplies)
{
  std::mt19937 rng(1);
  std::string png = writePng(Spec{6, 8, false, false, 3, 2}, rng);
  std::string plain = decodeRgba(png), pm = decodeRgba(png, PngFile::Premultiply::Yes);
  for (size_t i = 0; i < plain.size(); i += 4) {
    const int a = (uint8_t)plain[i + 3];
    for (int c = 0; c < 3; c++)
      EXPECT_EQ(((uint8_t)plain[i + c] * a + 127) / 255, (uint8_t)pm[i + c]);
    EXPECT_EQ(a, (uint8_t)pm[i + 3]);
  }
}

TEST(PngFile, RefusesBadFiles)
{
  std::mt19937 rng(2);
  const std::string good = writePng(Spec{2, 8, false, false, 9, 9}, rng);
  std::string corrupt = good;
  corrupt[good.size() / 2] ^= 0x55;
  std::string huge = writePng(Spec{0, 1, false, false, 8193, 1}, rng);
  struct Case {
    std::string data;
    const char* message; // a prefix
  } cases[] = {
      {good.substr(0, 20), "Bad PNG data: test"},
      {good.substr(0, good.size() - 30), "Bad PNG data: test"},
      {"not a png at all, really", "Not a PNG file: test"},
      {corrupt, ""},
      {huge, "Invalid IHDR data: test"},
  };
  for (const auto& c : cases) {
    try {
      decodeRgba(c.data);
      ADD_FAILURE() << c.message;
    } catch (const tlutil::PngException& e) {
      EXPECT_STREQ("PngException", e.getType());
      EXPECT_EQ(0, strncmp(c.message, e.str(), strlen(c.message))) << e.str();
    }
  }
  // Decoding into a buffer of another format is a broken invariant.
  PngFile f((int)good.size(), reinterpret_cast<const uint8_t*>(good.data()), PngFile::Premultiply::No, "test");
  ManagedPixelBuffer other(rfb::rgb565Format(), rfb::Rect(Point(), f.getSize()));
  EXPECT_DEATH(f.getImage(&other, Point()), "pb->getPf\\(\\)\\.equal\\(pf\\)");
}

} // namespace
