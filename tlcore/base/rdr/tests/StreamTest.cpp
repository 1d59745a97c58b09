// The stream base: every reader gives the same result whether its bytes come
// at once or trickle in with retries from the checkpoint; the wire encodings;
// the text writer over bounded windows; 64-bit positions.
#include <errno.h>
#include <limits.h>
#include <wchar.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/TextWriter.h"

namespace {

using Reader = std::function<std::string(rdr::InStream&)>;

std::string be32(uint32_t v)
{
  return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
}

// The reader's result (or the exception's type), then the position it left.
std::string describe(rdr::InStream& in, const Reader& r)
{
  std::string result;
  try {
    result = r(in);
  } catch (rdr::BlockException&) {
    throw;
  } catch (plat::Exception& e) {
    result = std::string("!") + e.getType();
  }
  return result + "@" + std::to_string(in.pos());
}

std::string whole(const std::string& data, const Reader& r)
{
  rdr::MemInStream in(data.data(), (int)data.size());
  return describe(in, r);
}

// Feeds the data in pieces into a ring of 3-byte buffers (so every integer
// straddles buffers) and reruns the reader from the checkpoint after every
// BlockException, as a non-blocking consumer does.
std::string trickled(const std::string& data, const Reader& r, size_t piece)
{
  rdr::MemIoStream s(nullptr, -1, 3);
  s.setCheckpoint();
  size_t fed = 0;
  for (;;) {
    try {
      return describe(s, r);
    } catch (rdr::BlockException&) {
      EXPECT_EQ(s.pos(), 0) << "not back at the checkpoint";
      if (fed == data.size()) {
        EXPECT_FALSE(s.isClosedForWrite()) << "blocked after the end";
        if (s.isClosedForWrite())
          return "stuck";
        s.closeWrite();
        continue;
      }
      size_t n = std::min(piece, data.size() - fed);
      s.writeBytes(data.data() + fed, (int)n);
      fed += n;
    }
  }
}

Reader lines(int maxLen = 0)
{
  return [maxLen](rdr::InStream& in) {
    std::string out;
    plat::DString line;
    try {
      for (;;) {
        bool nul = false;
        in.readLine(line, maxLen, &nul);
        out += std::to_string(line.length()) + (nul ? "n" : "") + ":" + line.get() + "|";
      }
    } catch (rdr::EndOfStream&) {
      out += "EOS";
    }
    return out;
  };
}

TEST(InStream, ReadersGiveTheSameResultWholeAndTrickled)
{
  const std::string longLine(262144, 'x');
  struct Case {
    const char* name;
    std::string data;
    Reader read;
    std::string expected;
    size_t piece;
  } cases[] = {
      {"U8", "\xfe", [](rdr::InStream& in) { return std::to_string(in.readU8()); }, "254@1", 1},
      {"U16", "\x12\x34", [](rdr::InStream& in) { return std::to_string(in.readU16()); }, "4660@2", 1},
      {"U32", "\x81\x02\x03\x04", [](rdr::InStream& in) { return std::to_string(in.readU32()); },
       "2164392708@4", 1},
      {"U64", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8),
       [](rdr::InStream& in) { return std::to_string(in.readU64()); }, "72623859790382856@8", 1},
      {"string at max", be32(5) + "hello",
       [](rdr::InStream& in) { return std::string(in.readString(5).str()); }, "hello@9", 1},
      // The length is consumed, the text is not.
      {"string over max", be32(6) + "hello!",
       [](rdr::InStream& in) { return std::string(in.readString(5).str()); }, "!StringTooLongException@4", 1},
      {"string repaired", be32(2) + "a\xff",
       [](rdr::InStream& in) { return std::string(in.readString(8, true).str()); }, "a\xef\xbf\xbd@6", 1},
      {"short string", "\x03" "abcd",
       [](rdr::InStream& in) { return std::string(in.readShortString().str()); }, "abc@4", 1},
      {"secure short string", "\x02" "\xc3\xa9",
       [](rdr::InStream& in) { return std::string(in.readSecureShortString(true).str()); }, "\xc3\xa9@3", 1},
      {"lines with CR", "ab\r\ncd", lines(), "2:ab|2:cd|EOS@6", 1},
      {"lines without CR", "ab\n\ncd\n", lines(), "2:ab|0:|2:cd|EOS@7", 1},
      {"line with NUL", std::string("a\0b\n", 4), lines(), "1n:a|EOS@4", 1},
      {"line at limit", "abc\n", lines(3), "3:abc|EOS@4", 1},
      {"line over limit", "abcd\n", lines(3), "!StringTooLongException@4", 1},
      {"default limit", longLine + "\n", lines(), "262144:" + longLine + "|EOS@262145", 4096},
      {"over default limit", longLine + "y\n", lines(), "!StringTooLongException@262145", 4096},
      // 2^32 mod 3 is 1: a 0 is drawn again.
      {"U32 below 3", be32(0) + be32(7),
       [](rdr::InStream& in) { return std::to_string(in.readU32Below(3)); }, "1@8", 1},
      // Every value below 0x7fffffff is rejected; the ninth is used anyway.
      {"U32 below, nine draws", std::string(36, '\0'),
       [](rdr::InStream& in) { return std::to_string(in.readU32Below(0x80000001u)); }, "0@36", 1},
      {"U32 below 1", be32(12345),
       [](rdr::InStream& in) { return std::to_string(in.readU32Below(1)); }, "0@4", 1},
      {"U32 below 0", be32(12345),
       [](rdr::InStream& in) { return std::to_string(in.readU32Below(0)); }, "12345@4", 1},
      {"find NUL", std::string("ab\0c\0", 5),
       [](rdr::InStream& in) {
         char buf[5];
         return std::to_string(in.readBytesFindNul(buf, 5));
       },
       "2@5", 1},
      {"bytes", "0123456789",
       [](rdr::InStream& in) {
         char buf[7];
         return std::string((const char*)in.getBytes(buf, 7), 7);
       },
       "0123456@7", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(whole(c.data, c.read), c.expected);
    EXPECT_EQ(trickled(c.data, c.read, c.piece), c.expected);
  }
}

TEST(InStream, ShortDataRewindsToTheCheckpoint)
{
  rdr::MemIoStream s(nullptr, -1, 16);
  s.writeBytes("\x01\x02\x03\x04\x05\x06", 6);
  s.readU32();
  s.setCheckpoint();
  EXPECT_THROW(s.readU32(), rdr::BlockException);
  EXPECT_EQ(s.pos(), 4);
  EXPECT_EQ(s.readU16(), 0x0506);
  EXPECT_FALSE(s.check(false, 4));
  EXPECT_EQ(s.pos(), 4);
}

TEST(InStream, RewindAndRepositionErrors)
{
  const char data[] = "0123456789";
  rdr::MemInStream in(data, 10);
  in.skip(4);
  in.setCheckpoint();
  in.skip(3);
  in.reposition(5);
  EXPECT_EQ(in.readU8(), '5');
  try {
    in.reposition(3);
    FAIL();
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "Can't reposition before checkpoint");
  }
  in.setRewindable(false);
  try {
    in.rewind();
    FAIL();
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "Attempt to rewind a non-rewindable stream");
  }
}

// An endless stream of zeros through one 1 MiB window (not rewindable while
// it skips): positions, checkpoints and repositioning keep working past 2
// and 4 GiB.
class ZeroInStream : public rdr::InStream {
public:
  ZeroInStream() : buf(1 << 20) { ptr_ = end_ = checkpointPtr_ = buf.data(); }
  int64_t pos() override { return offset + (ptr_ - buf.data()); }
  bool overrun(int) override
  {
    offset += ptr_ - buf.data();
    ptr_ = checkpointPtr_ = buf.data();
    end_ = buf.data() + buf.size();
    return true;
  }
  int64_t offset = 0;
  std::vector<uint8_t> buf;
};

TEST(InStream, PositionsPassFourGiB)
{
  ZeroInStream in;
  in.setRewindable(false);
  const int64_t far = (5ll << 30) + 7;
  in.skip(far);
  EXPECT_EQ(in.pos(), far);
  in.setCheckpoint();
  EXPECT_EQ(in.getCheckpointPos(), far);
  in.setRewindable(true);
  in.reposition(far + 3);
  EXPECT_EQ(in.pos(), far + 3);

  // The same through a ring of 1 MiB buffers, 2.5 GiB in and out.
  rdr::MemIoStream ring(nullptr, 2 << 20, 1 << 20);
  for (int i = 0; i < 2560; i++) {
    ring.skipBytes(1 << 20);
    ring.skip(1 << 20);
    ring.setCheckpoint();
  }
  ring.writeU32(7);
  EXPECT_EQ(ring.lengthWritten(), (2560ll << 20) + 4);
  EXPECT_EQ(ring.readU32(), 7u);
  EXPECT_EQ(ring.pos(), (2560ll << 20) + 4);
}

TEST(OutStream, Encodings)
{
  rdr::MemOutStream out(0);
  out.writeU8(1);
  out.writeU16(0x0203);
  out.writeU32(0x04050607);
  out.writeU64(0x08090a0b0c0d0e0full);
  out.writeString("xyz");
  out.writeString("abcdef", 2);
  out.writeString(nullptr);
  out.skipBytes(2);
  std::string expected("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 15);
  expected += be32(3) + "xyz" + be32(2) + "ab" + be32(0);
  ASSERT_EQ(out.length(), (int64_t)expected.size() + 2);
  EXPECT_EQ(std::string((const char*)out.data(), expected.size()), expected);

  // A short string keeps the first 255 bytes of a longer text.
  rdr::MemOutStream shortOut;
  std::string text(300, 'q');
  text[254] = 'L';
  shortOut.writeShortString(text.c_str());
  ASSERT_EQ(shortOut.length(), 256);
  EXPECT_EQ(shortOut.data()[0], 255);
  EXPECT_EQ(shortOut.data()[255], 'L');
}

// Text longer than any window of the stream (a ring of 16-byte buffers) is
// written whole; the text is NUL-terminated in memory after every call.
TEST(TextWriter, TextLongerThanTheWindow)
{
  rdr::MemIoStream ring(nullptr, -1, 16);
  rdr::TextWriter w(&ring);
  std::string expected;
  w.printf("%s-%d", std::string(100, 'a').c_str(), 42);
  expected += std::string(100, 'a') + "-42";
  w.write("tail");
  expected += "tail";
  w.writeRepeated(' ', 20);
  expected += std::string(20, ' ');
  w.writeRepeated(0x20ac, 9);
  for (int i = 0; i < 9; i++)
    expected += "\xe2\x82\xac";
  w.printf("%c", 'z');
  expected += "z";
  EXPECT_EQ(ring.lengthWritten(), (int64_t)expected.size());
  EXPECT_EQ(*ring.OutStream::getPtr(), 0);
  std::string got(expected.size(), 0);
  ring.readBytes(&got[0], (int)got.size());
  EXPECT_EQ(got, expected);

  rdr::MemOutStream mem(0);
  rdr::TextWriter mw(&mem);
  mw.printf("%05d", 7);
  mw.write("abc");
  EXPECT_EQ(mem.length(), 8);
  EXPECT_STREQ((const char*)mem.data(), "00007abc");
  try {
    mw.writeRepeated(0x110000, 1);
    FAIL();
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "Unicode out of range");
  }
}

TEST(TextWriter, FormattingErrorThrows)
{
  const wchar_t wide[] = {0xe9, 0}; // unconvertible under the C locale
  rdr::MemOutStream mem;
  rdr::TextWriter w(&mem);
  w.write("kept");
  try {
    w.printf("%s%ls", "partial", wide);
    FAIL();
  } catch (plat::SystemException& e) {
    EXPECT_EQ(e.getErr(), EILSEQ);
  }
  EXPECT_EQ(mem.length(), 4);
  EXPECT_STREQ((const char*)mem.data(), "kept");
}

} // namespace
