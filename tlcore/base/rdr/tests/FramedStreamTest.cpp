// Frames on the wire: the writer's exact bytes, its misuse errors, and the
// reader over whole buffers and over a source fed one byte at a time, where
// every blocked read must resume from the last checkpoint.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rdr/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/tests/TrickleInStream.h"

using namespace rdr;

namespace {

std::string hdr(int len, bool last)
{
  return {(char)((last ? 0x80 : 0) | len >> 8), (char)(len & 0xFF)};
}

std::string pattern(size_t n)
{
  std::string s(n, 0);
  for (size_t i = 0; i < n; i++)
    s[i] = (char)(i * 7 + i / 251);
  return s;
}

std::string written(MemOutStream& mem)
{
  return std::string((const char*)mem.data(), mem.length());
}

TEST(FramedOutStream, WireBytes)
{
  const std::string big = pattern(32767);
  struct Case {
    const char* name;
    std::function<void(OutStreamV4&)> write;
    std::string expected;
  } cases[] = {
      {"empty message", [](OutStreamV4&) {}, hdr(0, true)},
      {"32767 bytes take two frames",
       [&](OutStreamV4& out) { out.writeBytes(big.data(), (int)big.size()); },
       hdr(32766, false) + big.substr(0, 32766) + hdr(1, true) + big.substr(32766)},
      {"flush closes a frame, twice writes no empty frame",
       [](OutStreamV4& out) {
         out.writeBytes("ab", 2);
         out.flush();
         out.flush();
         out.writeU8('c');
       },
       hdr(2, false) + "ab" + hdr(1, true) + "c"},
      {"flush at the end", [](OutStreamV4& out) {
         out.writeU16(0x4142);
         out.flush();
       },
       hdr(2, false) + "AB" + hdr(0, true)},
  };
  for (const Case& c : cases) {
    MemOutStream mem(70000);
    OutStreamV4 out(&mem);
    out.startMsg();
    c.write(out);
    out.endMsg(false);
    EXPECT_TRUE(written(mem) == c.expected) << c.name;
    EXPECT_FALSE(out.inMessage());
  }
}

TEST(FramedOutStream, Misuse)
{
  struct Case {
    std::function<void(OutStreamV4&)> act;
    const char* message;
  } cases[] = {
      {[](OutStreamV4& o) {
         o.startMsg();
         o.startMsg();
       },
       "FramedOutStream::startMsg: already in msg"},
      {[](OutStreamV4& o) { o.endMsg(true); }, "FramedOutStream::endMsg: not in frame"},
      {[](OutStreamV4& o) { o.writeU32(1); }, "FramedOutStream::endFrame: not in frame"},
  };
  for (const Case& c : cases) {
    MemOutStream mem;
    OutStreamV4 out(&mem);
    try {
      c.act(out);
      ADD_FAILURE() << "no exception, expected " << c.message;
    } catch (FrameException& e) {
      EXPECT_STREQ(e.str(), c.message);
      EXPECT_STREQ(e.getType(), "FrameException");
    }
  }
}

// Reads every message there is: nonblocking when the source is a trickle,
// resuming each message from its checkpoint after a blocked read.
std::vector<std::string> readAll(InStream& src, TrickleInStream* trickle)
{
  InStreamV4 in(&src);
  std::vector<std::string> messages;
  // copyRestOfMsg checkpoints after every piece, so what it has copied
  // before a block stays copied.
  MemOutStream body;
  for (;;) {
    try {
      if (!in.startMsg(false)) {
        PLAT_ASSERT(trickle && !trickle->allArrived());
        trickle->arrive(1);
        continue;
      }
      in.copyRestOfMsg(body);
      in.endMsg();
      messages.push_back(written(body));
      body.clear();
    } catch (BlockException&) {
      PLAT_ASSERT(trickle && !trickle->allArrived());
      trickle->arrive(1);
    } catch (EndOfStream&) {
      EXPECT_FALSE(in.inMessage());
      return messages;
    }
  }
}

// A reader of fixed fields restarts its message from the checkpoint that
// startMsg set after every block.
struct Fields {
  uint32_t u32;
  uint16_t u16;
  std::string rest;
};

std::vector<Fields> readFields(InStream& src, TrickleInStream* trickle)
{
  InStreamV4 in(&src);
  std::vector<Fields> out;
  for (;;) {
    try {
      if (!in.startMsg(false)) {
        trickle->arrive(1);
        continue;
      }
      Fields f;
      f.u32 = in.readU32();
      f.u16 = in.readU16();
      while (!in.atEnd())
        f.rest += (char)in.readU8();
      in.endMsg();
      out.push_back(f);
    } catch (BlockException&) {
      trickle->arrive(1);
    } catch (EndOfStream&) {
      return out;
    }
  }
}

TEST(FramedInStream, WholeAndByteByByte)
{
  const std::string big = pattern(32767);
  MemOutStream w(1 << 17);
  OutStreamV4 out(&w);
  out.startMsg();
  out.writeBytes(big.data(), (int)big.size());
  out.writeBytes(big.data(), 100);
  out.endMsg(false);
  const std::string viaWriter = written(w);

  struct Case {
    const char* name;
    std::string wire;
    std::vector<std::string> messages;
  } cases[] = {
      {"empty message", hdr(0, true), {""}},
      {"empty non-last frames anywhere",
       hdr(0, false) + hdr(2, false) + "ab" + hdr(0, false) + hdr(0, false) + hdr(1, true) + "c",
       {"abc"}},
      {"a 32767-byte frame", hdr(32767, false) + big + hdr(0, true), {big}},
      {"two messages", hdr(1, true) + "x" + hdr(3, false) + "abc" + hdr(2, true) + "de",
       {"x", "abcde"}},
      {"written by the writer", viaWriter, {big + big.substr(0, 100)}},
  };
  for (const Case& c : cases) {
    MemInStream whole(c.wire.data(), (int)c.wire.size());
    // Compared as a whole so that a mismatch does not print 32 KiB.
    EXPECT_TRUE(readAll(whole, nullptr) == c.messages) << c.name;
    TrickleInStream trickle(c.wire);
    EXPECT_TRUE(readAll(trickle, &trickle) == c.messages) << c.name << " byte by byte";
  }
}

TEST(FramedInStream, FieldsAcrossFramesByteByByte)
{
  // The U32 and the U16 straddle frames, one frame boundary is an empty
  // frame.
  std::string wire = hdr(2, false) + "\x12\x34" + hdr(3, false) + "\x56\x78\xAB" + hdr(0, false) +
                     hdr(3, true) + "\xCDxy" + hdr(6, true) + std::string("\0\0\0\1\0\2", 6);
  TrickleInStream trickle(wire);
  std::vector<Fields> got = readFields(trickle, &trickle);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].u32, 0x12345678u);
  EXPECT_EQ(got[0].u16, 0xABCD);
  EXPECT_EQ(got[0].rest, "xy");
  EXPECT_EQ(got[1].u32, 1u);
  EXPECT_EQ(got[1].u16, 2);
  EXPECT_EQ(got[1].rest, "");
}

TEST(FramedInStream, EndOfMessage)
{
  std::string wire = hdr(2, false) + "ab" + hdr(1, true) + "c" + hdr(1, true) + "d";
  MemInStream mem(wire.data(), (int)wire.size());
  InStreamV4 in(&mem);
  ASSERT_TRUE(in.startMsg(true));
  EXPECT_EQ(in.readU16(), 0x6162);
  EXPECT_THROW(in.endMsg(), FrameException);
  EXPECT_TRUE(in.inMessage());
  EXPECT_EQ(in.readU8(), 'c');
  EXPECT_EQ(in.pos(), 3);
  try {
    in.readU8();
    ADD_FAILURE() << "read past the message";
  } catch (EndOfMsg& e) {
    EXPECT_STREQ(e.str(), "End of message");
  }
  EXPECT_TRUE(in.atEnd());
  in.endMsg();
  ASSERT_TRUE(in.startMsg(true));
  EXPECT_EQ(in.readU8(), 'd');
  in.endMsg();
}

TEST(FramedInStream, DataLeftAndPartialHeader)
{
  std::string wire = hdr(1, true) + "a";
  MemInStream mem(wire.data(), (int)wire.size());
  InStreamV4 in(&mem);
  in.startMsg(true);
  try {
    in.endMsg();
    ADD_FAILURE();
  } catch (FrameException& e) {
    EXPECT_STREQ(e.str(), "FramedInStream::endMsg: data left in msg");
  }
  in.skipRestOfMsg();
  in.endMsg();

  TrickleInStream oneByte(hdr(1, true) + "a", false);
  oneByte.arrive(1);
  InStreamV4 partial(&oneByte);
  EXPECT_FALSE(partial.startMsg(false));
  EXPECT_EQ(oneByte.pos(), 0);
}

} // namespace
