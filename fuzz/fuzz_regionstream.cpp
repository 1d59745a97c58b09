// The region stream reader on outside bytes, then every operation on what
// it accepted. Input: two regions in stream form, then parameter bytes
// (translation, grid, tiles, a probe point). A refused region must be empty;
// every result must keep the band rules, agree with pixel membership of its
// operands, and survive writing and reading back.
#include <stdint.h>
#include <string.h>

#include "fuzz_util.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "regioncheck.h"
#include "rfb/Region.h"

namespace {

void check(const rfb::Region& r)
{
  std::string err = tltest::regionInvariantError(r.raw());
  if (!err.empty()) {
    fprintf(stderr, "%s\n", err.c_str());
    abort();
  }
}

bool readRegion(rdr::InStream& in, rfb::Region& r)
{
  int state = -1;
  try {
    r.read(in, state);
  } catch (plat::Exception&) {
    FUZZ_CHECK(r.isEmpty() && state == -1);
    return false;
  }
  FUZZ_CHECK(state == -1);
  check(r);
  return true;
}

using Op = bool (*)(Xregion::Region*, const Xregion::Region*, const Xregion::Region*);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  rdr::MemInStream in(data, (int)size);
  rfb::Region a, b;
  if (!readRegion(in, a))
    return 0;
  if (!readRegion(in, b))
    b = rfb::Region(rfb::Rect(-5, -5, 40, 9));
  uint8_t p[12] = {};
  size_t rest = size - (size_t)in.pos();
  memcpy(p, data + in.pos(), rest < sizeof(p) ? rest : sizeof(p));
  int16_t px = (int16_t)(p[0] << 8 | p[1]), py = (int16_t)(p[2] << 8 | p[3]);

  const Op ops[] = {Xregion::regionUnion, Xregion::regionIntersect, Xregion::regionSubtract};
  for (int k = 0; k < 3; k++) {
    rfb::Region sep, dstA(a), dstB(b), self(a);
    FUZZ_CHECK(ops[k](sep.raw(), a.raw(), b.raw()));
    FUZZ_CHECK(ops[k](dstA.raw(), dstA.raw(), b.raw()));
    FUZZ_CHECK(ops[k](dstB.raw(), a.raw(), dstB.raw()));
    FUZZ_CHECK(ops[k](self.raw(), self.raw(), self.raw()));
    for (const rfb::Region* r : {&sep, &dstA, &dstB, &self})
      check(*r);
    // Empty results keep their destination's corner, so compare boxes.
    FUZZ_CHECK(sep.rects() == dstA.rects() && sep.rects() == dstB.rects());
    bool inA = a.contains(rfb::Point(px, py)), inB = b.contains(rfb::Point(px, py));
    bool want = k == 0 ? (inA || inB) : k == 1 ? (inA && inB) : (inA && !inB);
    FUZZ_CHECK(sep.contains(rfb::Point(px, py)) == want);
    FUZZ_CHECK(self.contains(rfb::Point(px, py)) == (k == 2 ? false : inA));
  }

  rfb::Region moved(a);
  moved.translate(rfb::Point((int16_t)(p[4] << 8 | p[5]), (int16_t)(p[6] << 8 | p[7])));
  check(moved);

  rfb::Region grid = a.roundToGrid(rfb::Point(p[8] % 64 + 1, -(p[9] % 64 + 1)), rfb::Point(px, py));
  check(grid);
  FUZZ_CHECK(!a.contains(rfb::Point(px, py)) || grid.contains(rfb::Point(px, py)));

  // Tiles: bounded so that a huge region stays quick.
  int multipleOf = p[10] % 16 + 1;
  int maxArea = 65536 + p[11] * 1024;
  int64_t area = 0;
  for (rfb::Region::TileIterator it(a, multipleOf, maxArea); !it.done(); it.next()) {
    rfb::Rect t = it.tile();
    FUZZ_CHECK(!t.isEmpty() && t.area() <= maxArea && a.containsRect(t) == Xregion::kOverlapIn);
    area += t.area();
  }
  int64_t want = 0;
  for (const rfb::Rect& r : a.rects())
    want += r.area();
  FUZZ_CHECK(area == want);

  rdr::MemOutStream out;
  a.write(out);
  rdr::MemInStream back(out.data(), (int)out.length());
  rfb::Region again;
  FUZZ_CHECK(readRegion(back, again) && again.equals(a));
  plat::DString text;
  a.debugPrint(text);
  return 0;
}
