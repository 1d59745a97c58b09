// The memory IO stream from outside bytes: a restore from arbitrary saved
// bytes either throws or yields a stream that saves back to the same bytes
// and reads back consistently; and a run of writes, reads, checkpoints,
// rewinds and save/restore cycles driven by the input matches a plain deque.
//
// Input: byte 0 odd = restore mode (the rest is the saved form, for a stream
// with 8-byte buffers); even = operations mode, byte 1 picks the buffer
// size and byte 2 the limit, the rest are operations.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <memory>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

void restoreMode(const uint8_t* data, size_t size)
{
  rdr::MemIoStream s(nullptr, 100, 8);
  rdr::MemInStream in(data, (int)size);
  try {
    s.deserialize(in);
  } catch (plat::Exception&) {
    return;
  }
  rdr::MemOutStream again;
  s.serialize(again);
  check(again.length() == in.pos() && memcmp(again.data(), data, (size_t)in.pos()) == 0);

  int64_t unread = s.lengthWritten() - s.pos();
  check(unread >= 0);
  s.skip(unread); // all there: must not block
  check(s.pos() == s.lengthWritten());
  try {
    check(!s.check(false, 1));
    if (s.isRewindable())
      check(s.pos() == s.getCheckpointPos());
  } catch (rdr::EndOfStream&) {
    check(s.isClosedForWrite());
  }
  if (!s.isClosedForWrite()) {
    int64_t before = s.lengthWritten();
    int n = s.spaceAvailable() < 20 ? s.spaceAvailable() : 20;
    for (int i = 0; i < n; i++)
      s.writeU8((uint8_t)i);
    check(s.lengthWritten() == before + n);
  }
}

// The model holds the bytes from the checkpoint on and the reader's offset.
struct Model {
  std::deque<uint8_t> bytes;
  size_t readOff = 0;
  size_t unread() const { return bytes.size() - readOff; }
};

void verify(rdr::MemIoStream& s, const Model& m)
{
  check(s.pos() - s.getCheckpointPos() == (int64_t)m.readOff);
  check(s.lengthWritten() - s.getCheckpointPos() == (int64_t)m.bytes.size());
  check(s.bufferCount() <= s.getMaxBufs());
}

void opsMode(const uint8_t* data, size_t size)
{
  if (size < 2)
    return;
  const int bufSize = data[0] % 16 + 1;
  const int maxBytes = data[1] % 64;
  data += 2;
  size -= 2;
  auto s = std::make_unique<rdr::MemIoStream>(nullptr, maxBytes, bufSize);
  Model m;
  uint8_t next = 0;
  for (size_t i = 0; i < size; i++) {
    int op = data[i] & 7;
    int arg = data[i] >> 3;
    switch (op) {
    case 0:
    case 1: { // write arg bytes; a full ring takes what fits, then throws
      int space = s->spaceAvailable();
      uint8_t buf[32];
      for (int k = 0; k < arg; k++)
        buf[k] = next++;
      try {
        s->writeBytes(buf, arg);
        check(arg <= space);
        m.bytes.insert(m.bytes.end(), buf, buf + arg);
      } catch (rdr::OutStreamFull&) {
        check(arg > space);
        m.bytes.insert(m.bytes.end(), buf, buf + space);
      }
      break;
    }
    case 2: { // one 4-byte item: all or nothing, may leave a gap
      uint32_t v = next++;
      try {
        s->writeU32(v);
        for (int k = 3; k >= 0; k--)
          m.bytes.push_back((uint8_t)(v >> (8 * k)));
      } catch (rdr::OutStreamFull&) {
        check(s->spaceAvailable() < 4);
      } catch (plat::Exception&) {
        check(bufSize < 4); // item exceeds buffer size
      }
      break;
    }
    case 3: { // read what is there, at most arg bytes
      size_t n = m.unread() < (size_t)arg ? m.unread() : (size_t)arg;
      uint8_t buf[32];
      s->readBytes(buf, (int)n);
      for (size_t k = 0; k < n; k++)
        check(buf[k] == m.bytes[m.readOff + k]);
      m.readOff += n;
      if (m.unread() == 0) {
        check(!s->check(false, 1)); // rewinds to the checkpoint
        m.readOff = 0;
      }
      break;
    }
    case 4:
      s->setCheckpoint();
      m.bytes.erase(m.bytes.begin(), m.bytes.begin() + m.readOff);
      m.readOff = 0;
      break;
    case 5:
      s->rewind();
      m.readOff = 0;
      break;
    case 6: { // save and restore into a fresh stream
      rdr::MemOutStream saved;
      s->serialize(saved);
      auto t = std::make_unique<rdr::MemIoStream>(nullptr, 0, bufSize);
      rdr::MemInStream in(saved.data(), (int)saved.length());
      t->deserialize(in);
      check(in.atEnd());
      s = std::move(t);
      break;
    }
    case 7: // reposition within what was written since the checkpoint
      if (!m.bytes.empty()) {
        size_t to = arg % (m.bytes.size() + 1);
        s->reposition(s->getCheckpointPos() + (int64_t)to);
        m.readOff = to;
      }
      break;
    }
    verify(*s, m);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  if (data[0] & 1)
    restoreMode(data + 1, size - 1);
  else
    opsMode(data + 1, size - 1);
  return 0;
}
