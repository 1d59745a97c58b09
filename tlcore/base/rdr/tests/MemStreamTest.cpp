// Memory streams: the growth rule and cap of the output buffer, the ring of
// the IO stream (limits, spare reuse, callbacks, stored errors) and its
// saved form, including the refusal of bad saved bytes.
#include <errno.h>
#include <limits.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"

namespace {

// Reads what is there as a consumer does, with a checkpoint after each
// piece (a failed check would rewind to it).
std::string readAll(rdr::InStream& in)
{
  std::string out;
  try {
    while (in.check(false, 1)) {
      out.append((const char*)in.getPtr(), in.nUnread());
      in.consume(in.nUnread());
      in.setCheckpoint();
    }
  } catch (rdr::EndOfStream&) {
  }
  return out;
}

TEST(MemOutStream, GrowthRule)
{
  // initial size, then the capacity after each write of the given size
  struct Case {
    int initial;
    std::vector<int> writes;
    std::vector<int> capacities;
  } cases[] = {
      {0, {1, 1, 1, 1, 1}, {1, 2, 4, 4, 8}},
      {-1, {200, 100}, {256, 512}},
      {4, {3, 10}, {4, 13}},
  };
  for (const Case& c : cases) {
    rdr::MemOutStream out(c.initial);
    std::string expected;
    for (size_t i = 0; i < c.writes.size(); i++) {
      std::string chunk(c.writes[i], (char)('a' + i));
      out.writeBytes(chunk.data(), (int)chunk.size());
      expected += chunk;
      EXPECT_EQ(out.capacity(), c.capacities[i]) << "initial " << c.initial << " write " << i;
    }
    EXPECT_EQ(std::string((const char*)out.data(), out.length()), expected);
  }
}

TEST(MemOutStream, CapAndOverflow)
{
  rdr::MemOutStream out(0, 10);
  out.writeBytes("0123456789", 10);
  EXPECT_EQ(out.spaceAvailable(), 0);
  try {
    out.writeU8('x');
    FAIL();
  } catch (rdr::OutStreamFull& e) {
    EXPECT_STREQ(e.str(), "OutStream full");
  }
  out.nulTerminate();
  EXPECT_EQ(out.length(), 11);
  plat::DString s;
  out.releaseString(s);
  EXPECT_STREQ(s.get(), "0123456789");
  EXPECT_EQ(out.data(), nullptr);

  // A write too long for the cap fails before copying anything.
  rdr::MemOutStream capped(4, 8);
  capped.writeBytes("abc", 3);
  EXPECT_THROW(capped.writeBytes("defghi", 6), rdr::OutStreamFull);
  EXPECT_EQ(capped.length(), 3);

  // Item counts and sizes near 2^31 neither overflow nor allocate past the cap.
  EXPECT_EQ(capped.overrun(2, INT_MAX), 2);
  EXPECT_EQ(capped.capacity(), 8);
  rdr::MemOutStream big(16);
  big.writeBytes("0123456789", 10);
  EXPECT_THROW(big.overrun(INT_MAX - 5, 1), rdr::OutStreamFull);
  EXPECT_EQ(big.spaceAvailable(), INT_MAX);

  plat::MBuf<unsigned char> buf;
  big.setSecure(true);
  big.releaseInto(buf);
  EXPECT_TRUE(buf.isSecure());
  EXPECT_EQ(std::string((const char*)buf.data(), buf.length()), "0123456789");
}

TEST(MemInStream, EndOfData)
{
  rdr::MemInStream in("ab", 2);
  EXPECT_FALSE(in.atEnd());
  EXPECT_EQ(in.readU16(), 0x6162);
  EXPECT_TRUE(in.atEnd());
  try {
    in.readU8();
    FAIL();
  } catch (rdr::EndOfStream& e) {
    EXPECT_STREQ(e.str(), "End of in-memory input stream");
    EXPECT_STREQ(e.getType(), "EndOfStream");
  }
}

TEST(MemIoStream, BufferLimits)
{
  struct Case {
    int maxBytes, bufSize, maxBufs, space;
  } cases[] = {
      {4096, 2048, 3, 6144},
      {0, 2048, 1, 2048},
      {-1, 2048, INT_MAX / 2048, (INT_MAX / 2048) * 2048},
      {5, 0, 1, 0},
      // (maxBytes + bufSize - 1) would overflow 32 bits.
      {INT_MAX, 2048, INT_MAX / 2048 + 2, INT_MAX},
      {INT_MAX, 2, INT_MAX / 2 + 2, INT_MAX},
  };
  for (const Case& c : cases) {
    rdr::MemIoStream s(nullptr, c.maxBytes, c.bufSize);
    EXPECT_EQ(s.getMaxBufs(), c.maxBufs) << c.maxBytes << "/" << c.bufSize;
    EXPECT_EQ(s.spaceAvailable(), c.space) << c.maxBytes << "/" << c.bufSize;
  }
}

struct RecordingCallback : rdr::MemIoStream::Callback {
  void dataAvailable(rdr::MemIoStream*) override { log += "D"; }
  void spaceAvailable(rdr::MemIoStream*) override { log += "S"; }
  int bytesBuffered(rdr::MemIoStream*) override { return 77; }
  bool writeClosed(rdr::MemIoStream*) override
  {
    log += "C";
    return false;
  }
  std::string log;
};

TEST(MemIoStream, FullRingAndSpareReuse)
{
  RecordingCallback cb;
  rdr::MemIoStream s(&cb, 4096, 2048);
  std::string data(6144, 'x');
  s.writeBytes(data.data(), (int)data.size());
  EXPECT_TRUE(s.isFull());
  try {
    s.writeU8(1);
    FAIL();
  } catch (rdr::OutStreamFull& e) {
    EXPECT_STREQ(e.str(), "MemIoStream: maxBufs exceeded");
  }
  EXPECT_EQ(cb.log, "D"); // the consumer was asked to drain first
  EXPECT_EQ(s.bytesBuffered(), 77);

  // Reading alone frees nothing; the checkpoint recycles the buffers behind
  // the reader and reports the room.
  s.skip(4096);
  EXPECT_THROW(s.writeU8(1), rdr::OutStreamFull);
  cb.log.clear();
  s.setCheckpoint();
  EXPECT_EQ(cb.log, "S");
  EXPECT_EQ(s.bufferCount(), 3);
  // The checkpoint's buffer stays, so one buffer came free.
  s.writeBytes(data.data(), 2048);
  EXPECT_EQ(s.bufferCount(), 3) << "spares were not reused";
  EXPECT_EQ(readAll(s).size(), 4096u);
  EXPECT_EQ(s.pos(), 8192);
  EXPECT_EQ(s.lengthWritten(), 8192);

  // A reader that stays at its checkpoint recycles buffers as it crosses
  // them, so a small ring carries any amount of data.
  rdr::MemIoStream pipe(nullptr, 64, 16);
  pipe.setRewindable(false);
  std::string sent, got;
  for (int i = 0; i < 1000; i++) {
    std::string chunk = std::to_string(i) + ",";
    pipe.writeBytes(chunk.data(), (int)chunk.size());
    sent += chunk;
    got += readAll(pipe);
  }
  EXPECT_EQ(got, sent);
  EXPECT_LE(pipe.bufferCount(), 5);
  EXPECT_THROW(pipe.overrun(17, 1), plat::Exception); // item exceeds buffer size
}

TEST(MemIoStream, EndErrorsAndCallbacks)
{
  RecordingCallback cb;
  rdr::MemIoStream s(&cb, -1, 8);
  EXPECT_FALSE(s.check(false, 1));
  EXPECT_FALSE(s.isReadable());
  s.writeBytes("abcdefghij", 10);
  s.flush();
  EXPECT_EQ(cb.log, "DS");
  s.setError(plat::SystemException("read", ECONNRESET));
  // The stored error comes only after the data written before it.
  char got[10];
  s.readBytes(got, 10);
  EXPECT_EQ(std::string(got, 10), "abcdefghij");
  try {
    s.readU8();
    FAIL();
  } catch (plat::SystemException& e) {
    EXPECT_EQ(e.getErr(), ECONNRESET);
  }
  s.clearError();
  cb.log.clear();
  EXPECT_FALSE(s.closeWrite()); // the callback's answer
  EXPECT_EQ(cb.log, "DC");
  try {
    s.readU8();
    FAIL();
  } catch (rdr::EndOfStream& e) {
    EXPECT_STREQ(e.str(), "End of in-memory IO stream");
  }
  try {
    s.writeU8(1);
    FAIL();
  } catch (rdr::PipeException& e) {
    EXPECT_STREQ(e.str(), "Stream closed for writing");
  }
}

// A stream with data in several buffers, a checkpoint inside the first, a
// gap left by a 4-byte item, and part of the data read.
void buildState(rdr::MemIoStream& s, int variant)
{
  s.writeBytes("0123456789abc", 13); // buffers of 8: "01234567" "89abc..."
  s.writeU32(0x41424344);            // 3 free bytes: left as a gap
  s.writeBytes("tail", 4);
  s.skip(3);
  s.setCheckpoint();
  s.skip(variant == 0 ? 2 : 9);
  if (variant == 2)
    s.closeWrite();
  if (variant == 3)
    s.setRewindable(false);
}

std::string save(rdr::MemIoStream& s)
{
  rdr::MemOutStream out;
  s.serialize(out);
  return std::string((const char*)out.data(), out.length());
}

TEST(MemIoStream, SaveAndRestore)
{
  for (int variant = 0; variant < 4; variant++) {
    SCOPED_TRACE(variant);
    rdr::MemIoStream a(nullptr, 100, 8);
    buildState(a, variant);
    std::string saved = save(a);
    rdr::MemIoStream b(nullptr, 5, 8);
    rdr::MemInStream in(saved.data(), (int)saved.size());
    b.deserialize(in);
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(save(b), saved);
    EXPECT_EQ(b.pos(), a.pos());
    EXPECT_EQ(b.lengthWritten(), a.lengthWritten());
    EXPECT_EQ(b.getMaxBufs(), a.getMaxBufs());
    if (variant != 3) {
      b.rewind();
      EXPECT_EQ(b.pos(), 3);
    }
    std::string rest = readAll(a);
    std::string reread = variant == 0 ? "34" : variant == 3 ? "" : "3456789ab";
    EXPECT_EQ(readAll(b), reread + rest);
  }
}

TEST(MemIoStream, RefusesBadSavedState)
{
  rdr::MemIoStream a(nullptr, 100, 8);
  buildState(a, 0);
  const std::string good = save(a);
  // Offsets into the saved form: maxBufs 0, bufSize 4, readIdx 8, writeIdx
  // 12, closed 16, count 17; buffers of 8, 5 and 8 bytes, each after its
  // length at 21, 33 and 42; then input ptr 54, input end 58, checkpoint
  // 62, checkpointPos 66, rewindable 74, output ptr 75 and end 79.
  ASSERT_EQ(good.size(), 83u);
  struct Case {
    const char* name;
    size_t offset;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"buffer size", 4, std::string("\0\0\0\x10", 4), "buffer size differs"},
      {"no buffers allowed", 0, std::string("\0\0\0\0", 4), "buffer limit"},
      {"limit beyond 2 GiB", 0, std::string("\x7f\0\0\0", 4), "buffer limit"},
      {"reader after writer", 8, std::string("\0\0\0\x03", 4), "buffer index"},
      {"writer beyond limit", 12, std::string("\0\0\0\x0e", 4), "buffer index"},
      {"spares counted", 17, std::string("\0\0\0\x04", 4), "buffer count"},
      {"closed flag", 16, std::string("\x02", 1), "closed flag"},
      {"buffer longer than bufSize", 21, std::string("\0\0\0\x09", 4), "buffer length"},
      {"input beyond data", 58, std::string("\0\0\0\x09", 4), "input offset"},
      {"input ptr after end", 54, std::string("\0\0\0\x09", 4), "input offset"},
      {"checkpoint after reader", 62, std::string("\0\0\0\x06", 4), "checkpoint offset"},
      {"negative position", 66, std::string("\x80\0\0\0", 4), "checkpoint position"},
      {"rewindable flag", 74, std::string("\x05", 1), "rewindable flag"},
      {"output ptr", 75, std::string("\0\0\0\x02", 4), "output offset"},
      {"output end", 79, std::string("\0\0\0\x04", 4), "output offset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bad = good;
    bad.replace(c.offset, c.bytes.size(), c.bytes);
    rdr::MemIoStream b(nullptr, 100, 8);
    b.writeBytes("kept", 4);
    rdr::MemInStream in(bad.data(), (int)bad.size());
    try {
      b.deserialize(in);
      ADD_FAILURE() << "accepted";
    } catch (plat::Exception& e) {
      EXPECT_EQ(std::string(e.str()), std::string("MemIoStream: bad saved state (") + c.reason + ")");
    }
    EXPECT_EQ(readAll(b), "kept") << "the stream changed";
  }
  // Truncated saved bytes end the input.
  rdr::MemIoStream b(nullptr, 100, 8);
  rdr::MemInStream in(good.data(), 40);
  EXPECT_THROW(b.deserialize(in), rdr::EndOfStream);
}

} // namespace
