// Sequences of region operations decoded from bytes, run on our regions and
// on pixman's 16-bit regions side by side; after every step both hold the
// same boxes and ours keep the band rules. Each step is an opcode byte and
// its operands: register numbers (two bits each) and 16-bit coordinates.
#include <stdint.h>

#include <vector>

#include <pixman.h>

#include "fuzz_util.h"
#include "regioncheck.h"
#include "regionpeers.h"
#include "rfb/Region.h"

namespace {

constexpr int kRegs = 4;

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool more() const { return p < end; }
  uint8_t u8() { return p < end ? *p++ : 0; }
  int s16() { return (int16_t)(u8() << 8 | u8()); }
  // A non-empty rectangle inside the 16-bit range.
  rfb::Rect rect()
  {
    int x = s16(), y = s16(), w = u8() + 1, h = u8() + 1;
    if (x + w > 32767)
      x = 32767 - w;
    if (y + h > 32767)
      y = 32767 - h;
    return rfb::Rect(x, y, x + w, y + h);
  }
};

void same(rfb::Region& ours, pixman_region16_t* peer)
{
  std::string err = tltest::regionInvariantError(ours.raw());
  if (!err.empty()) {
    fprintf(stderr, "%s\n", err.c_str());
    abort();
  }
  FUZZ_CHECK(tltest::boxesOf(ours.raw()) == tltest::boxesOf(peer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  rfb::Region regs[kRegs];
  pixman_region16_t pix[kRegs];
  for (pixman_region16_t& p : pix)
    pixman_region_init(&p);

  Reader in{data, data + size};
  for (int step = 0; in.more() && step < 200; step++) {
    uint8_t op = in.u8(), regByte = in.u8();
    int d = regByte & 3, s1 = (regByte >> 2) & 3, s2 = (regByte >> 4) & 3;
    switch (op % 8) {
    case 0: { // in-place union of one rectangle
      rfb::Rect r = in.rect();
      regs[d].assignUnion(r);
      pixman_region_union_rect(&pix[d], &pix[d], r.topLeft.x, r.topLeft.y, r.width(), r.height());
      break;
    }
    case 1:
      Xregion::regionUnion(regs[d].raw(), regs[s1].raw(), regs[s2].raw());
      pixman_region_union(&pix[d], &pix[s1], &pix[s2]);
      break;
    case 2:
      Xregion::regionIntersect(regs[d].raw(), regs[s1].raw(), regs[s2].raw());
      pixman_region_intersect(&pix[d], &pix[s1], &pix[s2]);
      break;
    case 3:
      Xregion::regionSubtract(regs[d].raw(), regs[s1].raw(), regs[s2].raw());
      pixman_region_subtract(&pix[d], &pix[s1], &pix[s2]);
      break;
    case 4: { // translation: pixman inside the range, the clipping rule at its edges
      int dx = in.s16(), dy = in.s16();
      tltest::RegionBoxes want = tltest::clippedMove(regs[d].raw(), dx, dy);
      regs[d].translate(rfb::Point(dx, dy));
      FUZZ_CHECK(tltest::boxesOf(regs[d].raw()) == want);
      // pixman takes over our result, so the registers stay in step.
      std::vector<pixman_box16_t> boxes;
      for (const tltest::RegionBox& b : want)
        boxes.push_back({(int16_t)b.x1, (int16_t)b.y1, (int16_t)b.x2, (int16_t)b.y2});
      pixman_region_fini(&pix[d]);
      pixman_region_init_rects(&pix[d], boxes.data(), (int)boxes.size());
      break;
    }
    case 5: { // addRects of a batch
      std::vector<rfb::Rect> rects(in.u8() % 16);
      for (rfb::Rect& r : rects) {
        r = in.rect();
        pixman_region_union_rect(&pix[d], &pix[d], r.topLeft.x, r.topLeft.y, r.width(), r.height());
      }
      regs[d].addRects((int)rects.size(), rects.data());
      break;
    }
    case 6:
      regs[d] = regs[s1];
      pixman_region_copy(&pix[d], &pix[s1]);
      break;
    default: { // questions
      rfb::Rect r = in.rect();
      Xregion::RgnRect box = {(int16_t)r.topLeft.x, (int16_t)r.topLeft.y, (int16_t)r.bottomRight.x,
                              (int16_t)r.bottomRight.y};
      pixman_box16_t pbox = {box.x1, box.y1, box.x2, box.y2};
      FUZZ_CHECK((int)Xregion::regionContainsRect(regs[s1].raw(), &box) ==
                 (int)pixman_region_contains_rectangle(&pix[s1], &pbox));
      FUZZ_CHECK(regs[s1].contains(r.topLeft) ==
                 (bool)pixman_region_contains_point(&pix[s1], r.topLeft.x, r.topLeft.y, nullptr));
      // Empty regions keep whatever corner they last had; compare the rest.
      if (!regs[s1].isEmpty() || !regs[s2].isEmpty())
        FUZZ_CHECK(regs[s1].equals(regs[s2]) == (bool)pixman_region_equal(&pix[s1], &pix[s2]));
      break;
    }
    }
    same(regs[d], &pix[d]);
  }
  for (pixman_region16_t& p : pix)
    pixman_region_fini(&p);
  return 0;
}
