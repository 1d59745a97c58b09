// The frame reader on arbitrary bytes, checked against a plain model of the
// wire format: every complete message is read with the same bytes (with
// reads of mixed sizes over a whole buffer, and in pieces from a source
// that makes every read wait), nothing after a cut is taken for a message.
// The messages then go back through the writer, whose frames must parse to
// the same messages.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "rdr/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/tests/TrickleInStream.h"

using namespace rdr;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

struct Model {
  std::vector<std::string> messages;
  int maxFrame = 0;
  bool emptyNonLast = false;
};

Model parse(const uint8_t* p, size_t n)
{
  Model m;
  std::string cur;
  size_t i = 0;
  while (i + 2 <= n) {
    int len = (p[i] & 0x7F) << 8 | p[i + 1];
    bool last = p[i] & 0x80;
    i += 2;
    if (i + len > n)
      break;
    cur.append((const char*)p + i, len);
    i += len;
    m.maxFrame = std::max(m.maxFrame, len);
    m.emptyNonLast |= len == 0 && !last;
    if (last) {
      m.messages.push_back(cur);
      cur.clear();
    }
  }
  return m;
}

// Whole buffer, reads of 1, 2, 4, 8 and 300 bytes in a rotation chosen by
// the first byte.
std::vector<std::string> readMixed(const uint8_t* data, size_t size, const Model& m)
{
  MemInStream mem(data, (int)size);
  InStreamV4 in(&mem);
  static const int sizes[] = {1, 2, 4, 8, 300};
  unsigned turn = size ? data[0] : 0;
  std::vector<std::string> got;
  for (;;) {
    try {
      in.startMsg(true);
    } catch (EndOfStream&) {
      break;
    }
    std::string msg;
    int64_t start = in.pos();
    try {
      for (;;) {
        uint8_t buf[300];
        int n = sizes[turn++ % 5];
        uint64_t v = 0;
        switch (n) {
        case 1: v = in.readU8(); break;
        case 2: v = in.readU16(); break;
        case 4: v = in.readU32(); break;
        case 8: v = in.readU64(); break;
        default: msg.append((const char*)in.getBytes(buf, n), n); continue;
        }
        for (int b = n - 1; b >= 0; b--)
          msg += (char)(v >> (8 * b));
      }
    } catch (EndOfMsg&) {
    } catch (EndOfStream&) {
      break; // the message was cut: it is not one
    }
    // A read cut by the end of the message still moved to that end.
    check(got.size() < m.messages.size());
    const std::string& want = m.messages[got.size()];
    check(in.atEnd() && in.pos() - start == (int64_t)want.size());
    check(want.compare(0, msg.size(), msg) == 0);
    in.endMsg();
    got.push_back(want);
  }
  return got;
}

std::vector<std::string> readTrickled(const std::string& wire)
{
  TrickleInStream src(wire);
  InStreamV4 in(&src);
  // Each wait re-reads the message from its start: small inputs arrive byte
  // by byte (every cut is tried), large ones in growing pieces, released a
  // few bytes per refill, so no input costs quadratic time.
  src.setGrain(1 + wire.size() / 1024);
  size_t piece = 1;
  std::vector<std::string> got;
  MemOutStream body;
  for (;;) {
    try {
      if (in.startMsg(false)) {
        in.copyRestOfMsg(body);
        in.endMsg();
        got.emplace_back((const char*)body.data(), body.length());
        body.clear();
        continue;
      }
    } catch (BlockException&) {
    } catch (EndOfStream&) {
      return got;
    }
    check(!src.allArrived());
    src.arrive(piece);
    if (wire.size() > 256)
      piece += piece / 4 + 1;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  Model m = parse(data, size);
  check(readMixed(data, size, m) == m.messages);
  check(readTrickled(std::string((const char*)data, size)) == m.messages);

  MemOutStream wire(16);
  OutStreamV4 out(&wire);
  for (size_t i = 0; i < m.messages.size(); i++) {
    const std::string& msg = m.messages[i];
    out.startMsg();
    out.writeBytes(msg.data(), (int)msg.size() / 2);
    if (i & 1)
      out.flush();
    out.writeBytes(msg.data() + msg.size() / 2, (int)(msg.size() - msg.size() / 2));
    out.endMsg(false);
  }
  Model back = parse(wire.data(), (size_t)wire.length());
  check(back.messages == m.messages && back.maxFrame <= OutStreamV4::kMaxFrame &&
        !back.emptyNonLast);
  return 0;
}
