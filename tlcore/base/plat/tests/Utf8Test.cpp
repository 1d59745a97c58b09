#include "plat/utf8.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "testutil.h"

using namespace plat;

namespace {

std::string fromHex(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      i++;
      continue;
    }
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

using tltest::toHex;

// Independent of the code under test, so that inputs are built without it.
std::string encode(unsigned cp)
{
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | cp >> 18);
    s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

bool isNonChar(unsigned cp)
{
  return (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
}

std::string writeTemp(const std::string& content)
{
  std::string path = testing::TempDir() + "utf8XXXXXX";
  int fd = mkstemp(&path[0]);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  return path;
}

std::string run(const std::string& command)
{
  return tltest::commandOutput(command);
}

const std::string kFFFD = "\xEF\xBF\xBD";

// Repairs may group the bytes of a bad stretch differently; runs of U+FFFD
// make them comparable.
std::string collapseReplacements(const std::string& s)
{
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 3, kFFFD) == 0) {
      if (out.size() < 3 || out.compare(out.size() - 3, 3, kFFFD) != 0)
        out += kFFFD;
      i += 3;
    } else {
      out += s[i++];
    }
  }
  return out;
}

std::string sanitise(const std::string& s, bool bounded, int maxBytes = -1)
{
  return utf8Sanitise(s.c_str(), bounded ? s.data() + s.size() : nullptr, maxBytes).str();
}

// Random text of characters chosen for interesting width and length.
unsigned randomCodePoint(std::mt19937& rng)
{
  static const unsigned ranges[][2] = {
      {0x20, 0x7E},     {0x01, 0x1F},       {0xA0, 0xFF},       {0x300, 0x36F},
      {0x900, 0x97F},   {0x1100, 0x115F},   {0x4E00, 0x9FFF},   {0xAC00, 0xD7A3},
      {0xFF01, 0xFF60}, {0x1F300, 0x1F64F}, {0x20000, 0x2A6DF}, {0x80, 0x10FFFF},
  };
  for (;;) {
    auto& r = ranges[rng() % (sizeof(ranges) / sizeof(ranges[0]))];
    unsigned cp = r[0] + rng() % (r[1] - r[0] + 1);
    if ((cp < 0xD800 || cp > 0xDFFF) && !isNonChar(cp))
      return cp;
  }
}

// Byte strings that probe the decoder: random bytes, random mixes of valid
// characters and broken fragments, and every two-byte sequence plus the
// interesting three- and four-byte ones.
std::vector<std::string> probeInputs()
{
  std::vector<std::string> inputs;
  std::mt19937 rng(1234);
  static const std::string fragments[] = {
      "\xC0\x80",
      "\xC1\xBF",
      "\xE0\x80\x80",
      "\xE0\x9F\xBF",
      "\xED\xA0\x80",
      "\xED\xBF\xBF",
      "\xEF\xBF\xBE",
      "\xEF\xB7\x90",
      "\xF4\x90\x80\x80",
      "\xF0\x8F\xBF\xBF",
      "\xF5\x80\x80\x80",
      "\xF8\x88\x80\x80\x80",
      "\xFF",
      "\x80",
      "\xBF\xBF",
      "\xE2\x82",
      "\xF0\x9F\x98",
      "\xC3",
      "\xEF\xBF\xBD",
      "\xF4\x8F\xBF\xBD",
      std::string(1, '\0'),
  };
  for (int i = 0; i < 3000; i++) {
    std::string s;
    int len = rng() % 24;
    for (int j = 0; j < len; j++)
      s += static_cast<char>(rng() & 0xFF);
    inputs.push_back(s);
  }
  for (int i = 0; i < 3000; i++) {
    std::string s;
    int parts = rng() % 10;
    for (int j = 0; j < parts; j++) {
      switch (rng() % 3) {
      case 0:
        s += static_cast<char>(0x20 + rng() % 95);
        break;
      case 1:
        s += encode(randomCodePoint(rng));
        break;
      default:
        s += fragments[rng() % (sizeof(fragments) / sizeof(fragments[0]))];
        break;
      }
    }
    inputs.push_back(s);
  }
  for (int a = 0; a < 256; a++)
    for (int b = 0; b < 256; b++)
      inputs.push_back(std::string{static_cast<char>(a), static_cast<char>(b)});
  for (int a = 0xE0; a < 0x100; a++)
    for (int b = 0; b < 256; b++)
      for (int c : {0x41, 0x80, 0xBF})
        inputs.push_back(
            std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
  for (int a = 0xF0; a < 0x100; a++)
    for (int b = 0; b < 256; b++)
      for (int c : {0x80, 0xBF})
        for (int d : {0x80, 0xBF})
          inputs.push_back(std::string{static_cast<char>(a), static_cast<char>(b),
                                       static_cast<char>(c), static_cast<char>(d)});
  return inputs;
}

} // namespace

// --- Decoding --------------------------------------------------------------

TEST(Utf8Test, DecodeRestResultAndCursor)
{
  struct Case {
    const char* hex;
    int available;
    int cp;
    int consumed; // bytes after the lead that the cursor passes
  } cases[] = {
      {"c3 a9", 4, 0xE9, 1},     {"f4 8f bf bd", 4, 0x10FFFD, 3}, {"e2 82 ac", 3, 0x20AC, 2},
      {"e2 82 ac", 2, -1, 0},    // truncated by the bound: nothing consumed
      {"c3 28", 4, -1, 0},       // stops before the non-continuation byte
      {"e2 82 28", 4, -1, 1},    // but passes the continuation bytes before it
      {"f0 9f 98 00", 4, -1, 2}, // the NUL of a terminated text
      {"ed a0 80", 4, -1, 2},    // whole sequences are consumed before the
      {"f0 8f bf bf", 4, -1, 3}, // range checks
      {"80 80", 4, -1, 0},       {"f8 88 80 80 80", 5, -1, 0},    {"41", 4, -1, 0},
  };
  for (const Case& c : cases) {
    std::string s = fromHex(c.hex);
    const char* p = s.c_str() + 1;
    EXPECT_EQ(utf8DecodeRest(static_cast<unsigned char>(s[0]), &p, c.available), c.cp) << c.hex;
    EXPECT_EQ(p - (s.c_str() + 1), c.consumed) << c.hex;
    // A plain char's (negative) value is the same lead byte.
    p = s.c_str() + 1;
    EXPECT_EQ(utf8DecodeRest(s[0], &p, c.available), c.cp) << c.hex;
  }
}

TEST(Utf8Test, EncodeBoundariesAndRange)
{
  struct Case {
    unsigned cp;
    const char* hex;
  } cases[] = {
      {0, "00"},
      {0x7F, "7f"},
      {0x80, "c2 80"},
      {0x7FF, "df bf"},
      {0x800, "e0 a0 80"},
      {0xFFFF, "ef bf bf"},
      {0x10000, "f0 90 80 80"},
      {0x10FFFF, "f4 8f bf bf"},
      {0xD800, "ed a0 80"},
      {0xFFFE, "ef bf be"},
  };
  for (const Case& c : cases) {
    char buf[8];
    char* p = buf;
    utf8Encode(c.cp, &p);
    EXPECT_EQ(std::string(buf, p - buf), fromHex(c.hex)) << c.hex;
  }
  char buf[8];
  char* p = buf;
  try {
    utf8Encode(0x110000, &p);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Unicode out of range");
  }
  EXPECT_EQ(p, buf);
}

TEST(Utf8Test, Back)
{
  const char* s = "a\xE2\x82\xAC"
                  "b";
  struct Case {
    int from;
    bool bounded;
    int to;
  } cases[] = {{5, true, 4}, {4, true, 1}, {1, true, 0}, {0, true, 0}, {3, true, 1}, {4, false, 1}};
  for (const Case& c : cases) {
    const char* p = s + c.from;
    utf8Back(&p, c.bounded ? s : nullptr);
    EXPECT_EQ(p - s, c.to) << c.from;
  }
  const char* conts = "\x80\x80\x80\x80\x80\x80";
  const char* p = conts + 6;
  utf8Back(&p, nullptr);
  EXPECT_EQ(p - conts, 2); // at most 4 bytes back without a bound
  p = conts + 6;
  utf8Back(&p, conts + 1);
  EXPECT_EQ(p - conts, 1);
}

// --- Validity and repair ------------------------------------------------------

TEST(Utf8Test, EdgeSequenceValidity)
{
  struct Case {
    const char* hex;
    bool valid;
  } cases[] = {
      {"", true},
      {"c0 80", false},
      {"ed a0 80", false},
      {"ef bf be", false},
      {"ef b7 90", false},
      {"f4 90 80 80", false},
      {"ef bf bd", true},
      {"e0 9f bf", false},
      {"e0 a0 80", true},
      {"ed 9f bf", true},
      {"ee 80 80", true},
      {"f0 8f bf bf", false},
      {"f0 90 80 80", true},
      {"f4 8f bf bd", true},
      {"c1 bf", false},
      {"c2 80", true},
      {"f8 88 80 80 80", false},
      {"61 e2 82 ac 62", true},
      {"61 80 62", false},
  };
  for (const Case& c : cases) {
    std::string s = fromHex(c.hex);
    EXPECT_EQ(isValidUtf8(s.c_str()), c.valid) << c.hex;
    EXPECT_EQ(isValidUtf8(s.data(), s.data() + s.size()), c.valid) << c.hex;
  }
  // A bound inside a character makes the text invalid.
  const char* s = "ab\xF0\x9F\x98\x80";
  for (int len = 3; len < 6; len++)
    EXPECT_FALSE(isValidUtf8(s, s + len)) << len;
  EXPECT_TRUE(isValidUtf8(s, s + 6));
}

TEST(Utf8Test, NonCharactersAreInvalid)
{
  std::vector<unsigned> nonChars;
  for (unsigned cp = 0xFDD0; cp <= 0xFDEF; cp++)
    nonChars.push_back(cp);
  for (unsigned plane = 0; plane <= 0x10; plane++) {
    nonChars.push_back(plane << 16 | 0xFFFE);
    nonChars.push_back(plane << 16 | 0xFFFF);
  }
  ASSERT_EQ(nonChars.size(), 66u);
  for (unsigned cp : nonChars) {
    std::string s = "x" + encode(cp) + "y";
    EXPECT_FALSE(isValidUtf8(s.c_str())) << std::hex << cp;
    EXPECT_EQ(sanitise(s, true), "x" + kFFFD + "y") << std::hex << cp;
  }
  for (unsigned cp : {0xFDCFu, 0xFDF0u, 0xFFFDu, 0x1FFFDu, 0x10FFFDu, 0x10000u})
    EXPECT_TRUE(isValidUtf8(encode(cp).c_str())) << std::hex << cp;
}

TEST(Utf8Test, ValidityAndRepairAgreeWithPython)
{
  std::vector<std::string> inputs = probeInputs();
  std::string lines;
  for (const std::string& s : inputs)
    lines += toHex(s) + "\n";
  std::string path = writeTemp(lines);
  std::string out = run("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/utf8_reference.py " + path);
  unlink(path.c_str());

  std::mt19937 rng(99);
  size_t pos = 0;
  for (const std::string& s : inputs) {
    size_t nl = out.find('\n', pos);
    ASSERT_NE(nl, std::string::npos) << "python gave too few lines";
    std::string line = out.substr(pos, nl - pos);
    pos = nl + 1;
    ASSERT_GE(line.size(), 5u) << line;
    bool valid = line[0] == '1';
    bool prefixValid = line[2] == '1';
    std::string repaired = line.substr(4) == "-" ? "" : fromHex(line.substr(4));
    std::string prefix = s.substr(0, s.find('\0'));
    std::string h = toHex(s);

    ASSERT_EQ(isValidUtf8(s.data(), s.data() + s.size()), valid) << h;
    ASSERT_EQ(isValidUtf8(s.c_str()), prefixValid) << h;
    for (bool bounded : {true, false}) {
      std::string fixed = sanitise(s, bounded);
      ASSERT_TRUE(isValidUtf8(fixed.c_str())) << h;
      if (prefixValid) {
        ASSERT_EQ(fixed, prefix) << h;
      }
      ASSERT_EQ(collapseReplacements(fixed), collapseReplacements(repaired)) << h;

      // A limit keeps a prefix that is cut only between characters.
      int maxBytes = rng() % (fixed.size() + 2);
      std::string cut = sanitise(s, bounded, maxBytes);
      ASSERT_LE(cut.size(), static_cast<size_t>(maxBytes)) << h;
      ASSERT_EQ(fixed.compare(0, cut.size(), cut), 0) << h;
      if (cut.size() < fixed.size()) {
        const char* next = fixed.c_str() + cut.size();
        ASSERT_NE(static_cast<unsigned char>(*next) & 0xC0, 0x80u) << h;
        const char* after = next + 1;
        while ((static_cast<unsigned char>(*after) & 0xC0) == 0x80)
          after++;
        ASSERT_GT(cut.size() + (after - next), static_cast<size_t>(maxBytes)) << h;
      }
    }
  }
  EXPECT_EQ(pos, out.size());
}

// One U+FFFD per failed decode; decoding resumes after the bytes it consumed.
TEST(Utf8Test, SanitiseGrouping)
{
  std::string r = kFFFD;
  struct Case {
    const char* hex;
    bool bounded;
    int maxBytes;
    std::string expected;
  } cases[] = {
      {"61 ff 62", true, -1, "a" + r + "b"},
      {"61 ff 62", false, -1, "a" + r + "b"},
      {"61 ff 62", true, 3, "a"},
      {"61 ff 62", true, 4, "a" + r},
      {"61 ff 62", true, 0, ""},
      {"e2 82 ac e2 82 ac", true, 5, "\xE2\x82\xAC"},
      {"e0 80 80", true, -1, r},
      {"ed a0 80 41", true, -1, r + "A"},
      {"f0 80 80 41", true, -1, r + "A"},
      {"c3 28", true, -1, r + "("},
      {"80 80", true, -1, r + r},
      {"f8 88 80 80 80", true, -1, r + r + r + r + r},
      {"e2 82", true, -1, r + r}, // the bound refuses the lead before reading on
      {"e2 82", false, -1, r},    // the NUL stops it after the continuation byte
      {"61 00 62", true, -1, "a"},
  };
  for (const Case& c : cases) {
    std::string s = fromHex(c.hex);
    EXPECT_EQ(toHex(sanitise(s, c.bounded, c.maxBytes)), toHex(c.expected)) << c.hex;
  }
  EXPECT_STREQ(utf8Sanitise(nullptr, nullptr, -1).get(), "");
}

// --- Ranges and width -------------------------------------------------------

TEST(Utf8Test, AlignRange)
{
  const char* s = "a\xE2\x82\xAC"
                  "b"; // a, euro sign, b
  struct Case {
    int pos, len;
    int wantPos, wantLen;
  } cases[] = {
      {2, 2, 4, 0},  {2, 3, 4, 1},  {0, 2, 0, 4}, {1, 1, 1, 3}, {-5, -1, 0, 5}, {99, 3, 5, 0},
      {1, 99, 1, 4}, {2, -1, 4, 1}, {0, 0, 0, 0}, {3, 1, 4, 0}, {3, 2, 4, 1},
  };
  for (const Case& c : cases) {
    int pos = c.pos, len = c.len;
    utf8AlignRange(s, &pos, &len);
    EXPECT_EQ(pos, c.wantPos) << c.pos << "," << c.len;
    EXPECT_EQ(len, c.wantLen) << c.pos << "," << c.len;
  }
  int pos = 3;
  utf8AlignRange(s, &pos, nullptr);
  EXPECT_EQ(pos, 4);
}

TEST(Utf8Test, DisplayWidthAgreesWithWcwidth)
{
  const char* old = setlocale(LC_CTYPE, nullptr);
  std::string saved = old ? old : "C";
  ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);

  // Reference: the C library's own decoder and wcwidth.
  auto reference = [](const std::string& s) {
    mbstate_t st{};
    int width = 0;
    for (size_t i = 0; i < s.size();) {
      wchar_t wc;
      size_t n = mbrtowc(&wc, s.data() + i, s.size() - i, &st);
      if (n == 0 || n > s.size())
        break;
      int w = wcwidth(wc);
      width += w < 0 ? 1 : w;
      i += n;
    }
    return width;
  };
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; i++) {
    std::string s;
    int len = rng() % 16;
    for (int j = 0; j < len; j++)
      s += encode(randomCodePoint(rng));
    ASSERT_EQ(utf8DisplayWidth(s.c_str()), reference(s)) << toHex(s);
    ASSERT_EQ(utf8DisplayWidth(s.data(), s.data() + s.size()), reference(s)) << toHex(s);
  }

  struct Case {
    const char* hex;
    int bound; // -1: to the NUL
    int width;
  } cases[] = {
      {"e4 b8 80 61", -1, 3},      // wide CJK character
      {"61 cc 81", -1, 1},         // combining accent adds nothing
      {"61 09 62", -1, 3},         // a control character counts 1
      {"61 ff e4 b8 80", -1, 1},   // stops at the invalid byte
      {"e4 b8 80 e4 b8 80", 4, 2}, // and at a character cut by the bound
      {"61 00 62", 3, 1},
  };
  for (const Case& c : cases) {
    std::string s = fromHex(c.hex);
    const char* end = c.bound < 0 ? nullptr : s.data() + c.bound;
    EXPECT_EQ(utf8DisplayWidth(s.c_str(), end), c.width) << c.hex;
  }
  setlocale(LC_CTYPE, saved.c_str());
}

// --- ISO-8859-1 ---------------------------------------------------------------

TEST(Utf8Test, ToLatin1)
{
  struct Case {
    const char* hex;
    int len;
    const char* expected;
  } cases[] = {
      {"e2 82 ac", -1, "80"}, {"c4 80", -1, "3f"},       {"c3 a9 41", -1, "e9 41"},
      {"c2 80", -1, "80"},    {"ff 41", -1, "3f 41"},    {"61 00 62", 3, "61"},
      {"c3 a9", 1, "3f"},     {"f0 9f 98 80", -1, "3f"}, {"", -1, ""},
  };
  for (const Case& c : cases) {
    std::string s = fromHex(c.hex);
    String out;
    int outLen = -1;
    utf8ToLatin1(out, s.c_str(), c.len, &outLen);
    std::string want = fromHex(c.expected);
    EXPECT_EQ(toHex(std::string(out.str(), outLen)), toHex(want)) << c.hex;
    EXPECT_EQ(out.length(), outLen);
    MBuf<unsigned char> buf = utf8ToLatin1Buf(c.len, s.c_str());
    EXPECT_EQ(toHex(std::string(reinterpret_cast<const char*>(buf.data()), buf.length())),
              toHex(want))
        << c.hex;
  }
}

TEST(Utf8Test, FromLatin1AndRoundTrip)
{
  String out;
  int outLen = -1;
  const unsigned char euro[] = {0x80, 0xE9, 0x41, 0};
  latin1ToUtf8(out, euro, -1, &outLen);
  EXPECT_EQ(toHex(out.str()), "e282acc3a941");
  EXPECT_EQ(outLen, 6);
  latin1ToUtf8(out, euro, 1, &outLen);
  EXPECT_EQ(toHex(out.str()), "e282ac");
  const unsigned char withNul[] = {0x41, 0, 0x42};
  latin1ToUtf8(out, withNul, 3, &outLen);
  EXPECT_STREQ(out.str(), "A");

  unsigned char all[255];
  for (int i = 0; i < 255; i++)
    all[i] = static_cast<unsigned char>(i + 1);
  MBuf<unsigned char> utf8 = latin1ToUtf8Buf(255, all);
  std::string text(reinterpret_cast<const char*>(utf8.data()), utf8.length());
  EXPECT_TRUE(isValidUtf8(text.data(), text.data() + text.size()));
  MBuf<unsigned char> back = utf8ToLatin1Buf(static_cast<int>(text.size()), text.c_str());
  ASSERT_EQ(back.length(), 255);
  EXPECT_EQ(memcmp(back.data(), all, 255), 0);
}

// --- Escaping -----------------------------------------------------------------

TEST(Utf8Test, EscapeExamples)
{
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\xC3", "~M-C"},
      {"\xFF", "~M^?"},
      {"\n", "~^J"},
      {"\x7F", "~^?"},
      {"~", "~~"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"a\xC3(", "a~M-C("},
      {"\xED\xA0\x80", "~M-m~M^`~M^@"},
      {"\xA0", "~M^`"},
      {"\x80", "~M^@"},
      {"\xE1\xA0", "~M-a~M^`"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(escapeControlChars(c.in, '~').str(), std::string(c.out)) << toHex(c.in);
  EXPECT_STREQ(escapeControlChars("a\tb", '\\').str(), "a\\^Ib");
  EXPECT_STREQ(escapeControlChars(nullptr, '~').str(), "");
}

TEST(Utf8Test, EscapeAgreesWithCatV)
{
  // cat's notation for every byte, one per line (LF itself stays raw).
  std::string bytes;
  for (int b = 0; b < 256; b++) {
    bytes += static_cast<char>(b);
    bytes += '\n';
  }
  std::string path = writeTemp(bytes);
  std::string out = run("/usr/bin/cat -vT " + path);
  unlink(path.c_str());
  std::vector<std::string> cat;
  for (size_t pos = 0, nl; (nl = out.find('\n', pos)) != std::string::npos; pos = nl + 1)
    cat.push_back(out.substr(pos, nl - pos));
  ASSERT_EQ(cat.size(), 257u); // byte 10 gives an empty line of its own
  cat.erase(cat.begin() + 11);
  cat[10] = "^J";
  // Our notation for a high byte has a single marker after 'M': cat's
  // "M-^X" is "M^X" here, and "M- " (0xA0) is "M^`", so an escape never
  // holds a space.
  ASSERT_EQ(cat[0xA0], "M- ");
  cat[0xA0] = "M-^`";
  for (std::string& n : cat)
    if (n.compare(0, 3, "M-^") == 0)
      n.erase(1, 1);

  // Random texts built from pieces whose class is known by construction.
  static const char* broken[] = {
      "\xC0\x80",
      "\xE0\x80\x80",
      "\xED\xA0\x80",
      "\xEF\xBF\xBE",
      "\xF4\x90\x80\x80",
      "\xF8",
      "\xFE",
      "\xFF",
      "\x80",
      "\xBF",
      "\xA0",
      "\xC3"
      "A",
      "\xE2\x82"
      "B",
      "\xF0\x9F\x98"
      "C",
      "\xF0"
      "D", // cut before ASCII
  };
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; i++) {
    std::string in, expected;
    auto escapeBytes = [&](const std::string& piece) {
      for (unsigned char b : piece) {
        if (b == '~')
          expected += "~~";
        else if (b >= 32 && b < 127)
          expected += static_cast<char>(b);
        else
          expected += "~" + cat[b];
      }
    };
    int parts = rng() % 12;
    for (int j = 0; j < parts; j++) {
      std::string piece;
      switch (rng() % 4) {
      case 0:
        piece = std::string(1, static_cast<char>(0x20 + rng() % 95));
        break;
      case 1:
        piece = std::string(1, static_cast<char>(rng() % 2 ? 0x7F : 1 + rng() % 31));
        break;
      case 2: {
        unsigned cp;
        do
          cp = randomCodePoint(rng);
        while (cp < 0x80);
        piece = encode(cp);
        in += piece;
        expected += piece; // valid characters stay as they are
        continue;
      }
      default:
        piece = broken[rng() % (sizeof(broken) / sizeof(broken[0]))];
        break;
      }
      in += piece;
      escapeBytes(piece);
    }
    ASSERT_EQ(escapeControlChars(in.c_str(), '~').str(), expected) << toHex(in);
  }
}

// --- BadUtf8 ------------------------------------------------------------------

TEST(Utf8Test, BadUtf8IsAnException)
{
  try {
    throw BadUtf8(1, "Bad UTF-8 string for %s", "Name");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Bad UTF-8 string for Name");
    EXPECT_STREQ(e.getType(), "");
  }
  EXPECT_STREQ(BadUtf8("Bad UTF-8 string").str(), "Bad UTF-8 string");
}

TEST(Utf8DeathTest, AssertParameterMakesBadUtf8Fatal)
{
  EXPECT_FALSE(Configuration::global().getBool("_BadUtf8Assert", true));
  EXPECT_DEATH(
      {
        Configuration::global().set("_BadUtf8Assert", "1", kPriorityPreference);
        BadUtf8 e("Bad UTF-8 string");
      },
      "Assertion '0' failed at [^ ]*utf8\\.cpp:[0-9]+: Bad UTF-8 string");
  EXPECT_DEATH(
      {
        Configuration::global().set("_BadUtf8Assert", "1", kPriorityPreference);
        BadUtf8 e(1, "Bad UTF-8 string for %s", "Name");
      },
      "Bad UTF-8 string for Name");
}
