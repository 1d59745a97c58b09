// The gzip header parser and the inflater on arbitrary bytes, in both gzip
// and zlib mode, against zlib's own decoder: both must accept the same
// inputs with the same output (ours refuses exactly what zlib refuses,
// including bad trailers and cut data), and reading byte by byte from a
// source that makes every step wait must give the same result.
#include <stdint.h>
#include <stdlib.h>
#include <zlib.h>

#include <string>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/ZlibInStream.h"
#include "rdr/tests/TrickleInStream.h"

using namespace rdr;

namespace {

const size_t kMaxOutput = 1 << 22;

void check(bool ok)
{
  if (!ok)
    abort();
}

struct Outcome {
  bool ok = false;
  bool tooBig = false;
  std::string data;
};

Outcome ours(const std::string& in, bool gzip, bool trickled)
{
  TrickleInStream trickle(in);
  MemInStream mem(in.data(), (int)in.size());
  InStream* src = trickled ? (InStream*)&trickle : &mem;
  ZlibInStream z(trickled ? 512 : 0, gzip);
  Outcome o;
  try {
    for (;;) {
      try {
        z.setUnderlying(src);
        break;
      } catch (BlockException&) {
        check(trickled && !trickle.allArrived());
        trickle.arrive(1);
      }
    }
    while (o.data.size() <= kMaxOutput) {
      if (!z.check(false, 1)) {
        check(trickled && !trickle.allArrived());
        trickle.arrive(1);
        continue;
      }
      o.data.append((const char*)z.getPtr(), z.nUnread());
      z.setPtr(z.getEnd());
      z.setCheckpoint();
    }
    o.tooBig = true;
  } catch (ZlibEndOfStream&) {
    o.ok = true;
  } catch (EndOfStream&) {
    abort(); // never a plain end of stream
  } catch (plat::Exception&) {
  }
  return o;
}

Outcome reference(const std::string& in, bool gzip)
{
  z_stream zs{};
  check(inflateInit2(&zs, gzip ? 16 + MAX_WBITS : MAX_WBITS) == Z_OK);
  zs.next_in = (Bytef*)in.data();
  zs.avail_in = (uInt)in.size();
  Outcome o;
  unsigned char buf[65536];
  for (;;) {
    zs.next_out = buf;
    zs.avail_out = sizeof(buf);
    int rc = inflate(&zs, Z_NO_FLUSH);
    o.data.append((const char*)buf, sizeof(buf) - zs.avail_out);
    if (o.data.size() > kMaxOutput) {
      o.tooBig = true;
      break;
    }
    if (rc == Z_STREAM_END) {
      o.ok = true;
      break;
    }
    if (rc != Z_OK)
      break;
  }
  inflateEnd(&zs);
  return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string in((const char*)data, size);
  for (bool gzip : {true, false}) {
    Outcome a = ours(in, gzip, false);
    Outcome ref = reference(in, gzip);
    if (a.tooBig || ref.tooBig)
      continue;
    check(a.ok == ref.ok);
    check(!a.ok || a.data == ref.data);
    Outcome b = ours(in, gzip, true);
    check(b.ok == a.ok && (!a.ok || b.data == a.data));
  }
  return 0;
}
