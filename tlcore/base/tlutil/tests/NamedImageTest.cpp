// Named images: every branch and message of the name rule against a fake
// finder, the built-in images at three scales, and the cache.
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "plat/Resource.h"
#include "tlutil/NamedImage.h"

namespace {

using rfb::Point;
using tlutil::NamedImagePixelBuffer;

// Resource names with their natural sizes; records what was asked.
class FakeFinder : public tlutil::NamedImageFinder {
public:
  explicit FakeFinder(std::map<std::string, Point> images) : images_(std::move(images)) {}
  bool tryName(const char* name) override
  {
    tried.push_back(name);
    auto it = images_.find(name);
    if (it == images_.end())
      return false;
    current = name;
    return true;
  }
  Point naturalSize() override { return images_.at(current); }
  bool found() override { return !current.empty(); }

  std::string current;
  std::vector<std::string> tried;

private:
  std::map<std::string, Point> images_;
};

struct ScaleGuard {
  explicit ScaleGuard(int s) { plat::ppmm.setParam(s, plat::kPriorityPolicy); }
  ~ScaleGuard() { plat::ppmm.setParam(4, plat::kPriorityPolicy); }
};

TEST(NamedImage, NameRule)
{
  struct Case {
    int ppmm;
    std::map<std::string, Point> images;
    Point size;
    const char* chosen; // null: an error
    Point resolved;
    const char* error;
  } cases[] = {
      {4, {{"x@2x", Point(21, 21)}}, Point(), "x@2x", Point(11, 11), nullptr},
      {8, {{"x", Point(10, 12)}}, Point(), "x", Point(20, 24), nullptr},
      {6, {{"x", Point(10, 10)}, {"x@2x", Point(20, 20)}}, Point(), "x@2x", Point(15, 15), nullptr},
      {6, {{"x", Point(10, 10)}, {"x@2x", Point(21, 21)}}, Point(), nullptr, Point(),
       "Badly sized image 'x': @2x/@1x images differ"},
      {4, {{"x", Point(10, 10)}, {"x@2x", Point(21, 21)}}, Point(), "x", Point(10, 10), nullptr},
      {8, {{"x", Point(10, 10)}, {"x@2x", Point(20, 20)}}, Point(), "x@2x", Point(20, 20), nullptr},
      {4, {{"x", Point(30, 30)}, {"x16x16", Point(16, 16)}}, Point(16, 16), "x16x16", Point(16, 16), nullptr},
      {4, {{"x16x16", Point(16, 17)}}, Point(16, 16), nullptr, Point(), "Badly sized image 'x16x16'"},
      {4, {{"x", Point(30, 30)}, {"x@2x", Point(60, 60)}}, Point(20, 20), "x", Point(20, 20), nullptr},
      {4, {{"x", Point(10, 10)}, {"x@2x", Point(20, 20)}}, Point(16, 16), "x@2x", Point(16, 16), nullptr},
      {4, {{"x", Point(10, 10)}}, Point(16, 16), "x", Point(16, 16), nullptr},
      {4, {}, Point(), nullptr, Point(), "Bad image name 'x'"},
      {4, {}, Point(5, 5), nullptr, Point(), "Bad image name 'x'"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(n++);
    ScaleGuard g(c.ppmm);
    FakeFinder f(c.images);
    Point size = c.size;
    try {
      tlutil::findNamedImage(f, "x", size);
      ASSERT_TRUE(c.chosen);
      EXPECT_EQ(c.chosen, f.current);
      EXPECT_EQ(c.resolved, size);
    } catch (const plat::Exception& e) {
      ASSERT_TRUE(c.error) << e.str();
      EXPECT_STREQ(c.error, e.str());
    }
  }
}

TEST(NamedImage, BuiltInImagesAtThreeScales)
{
  struct Case {
    int ppmm;
    Point status, spinner;
  } cases[] = {{4, Point(49, 49), Point(48, 48)}, {6, Point(73, 74), Point(72, 72)}, {8, Point(97, 98), Point(96, 96)}};
  for (const auto& c : cases) {
    ScaleGuard g(c.ppmm);
    // An @2x image of odd size; at ppmm 4 its built-in variant stands in
    // for scaling it and must hold the same pixels.
    NamedImagePixelBuffer status("statusPrivate", Point(), NamedImagePixelBuffer::Log::Errors);
    NamedImagePixelBuffer scaled("statusPrivate@2x", c.status, NamedImagePixelBuffer::Log::Errors);
    EXPECT_EQ(c.status, Point(status.rect.width(), status.rect.height())) << c.ppmm;
    EXPECT_EQ(0, memcmp(status.data, scaled.data, (size_t)scaled.sizeBytes())) << c.ppmm;
    EXPECT_TRUE(status.format.equal(rfb::argb8888Format()));
    NamedImagePixelBuffer spinner("spinner03", Point(), NamedImagePixelBuffer::Log::Errors);
    EXPECT_EQ(c.spinner, Point(spinner.rect.width(), spinner.rect.height())) << c.ppmm;
    // The first page's pictures, built in as premultiplied pixels too, load
    // as their PNGs decoded and premultiplied do.
    for (const char* name : {"files", "tlzarnconnectsetup48x48", "bluebtnbg110x32"}) {
      NamedImagePixelBuffer pix(name, Point(), NamedImagePixelBuffer::Log::Errors);
      plat::BuiltInResource r = plat::findBuiltInResource((std::string(name) + ".png").c_str());
      tlutil::PngFile png((int)r.size, static_cast<const uint8_t*>(r.data), tlutil::PngFile::Premultiply::Yes, name);
      tlutil::ScaledImageLoader scaled(&png, Point(pix.rect.width(), pix.rect.height()));
      rfb::ManagedPixelBuffer decoded(&scaled);
      ASSERT_EQ(decoded.sizeBytes(), pix.sizeBytes()) << name;
      EXPECT_EQ(0, memcmp(decoded.data, pix.data, (size_t)pix.sizeBytes())) << name << " " << c.ppmm;
    }
  }
  NamedImagePixelBuffer missing("noSuchImage", Point(), NamedImagePixelBuffer::Log::Quiet);
  EXPECT_TRUE(missing.rect.isEmpty());
}

TEST(NamedImage, CacheKeepsBuffersAndFailures)
{
  auto a = NamedImagePixelBuffer::getCached("eyeOpen", Point(), NamedImagePixelBuffer::Log::Errors);
  EXPECT_EQ(a.get(), NamedImagePixelBuffer::get("eyeOpen").get());
  EXPECT_EQ(Point(48, 48), Point(a->rect.width(), a->rect.height()));
  // The same size asked explicitly is another entry.
  auto b = NamedImagePixelBuffer::getCached("eyeOpen", Point(48, 48), NamedImagePixelBuffer::Log::Errors);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(b.get(), NamedImagePixelBuffer::get("eyeOpen", Point(48, 48)).get());
  auto bad = NamedImagePixelBuffer::get("noSuchImage");
  EXPECT_TRUE(bad->rect.isEmpty());
  EXPECT_EQ(bad.get(), NamedImagePixelBuffer::get("noSuchImage").get());
}

} // namespace
