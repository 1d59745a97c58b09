// The codecs against Debian's Python (binascii, base64, urllib.parse) on
// random data, the refusals, and the exact hexadecimal dump layout.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/encodings.h"
#include "testutil.h"

using namespace plat;

namespace {

using Bytes = std::vector<unsigned char>;

std::string toHex(const std::string& s)
{
  return binToHex((int)s.size(), (const unsigned char*)s.data()).str();
}

Bytes bytesOf(const MBuf<unsigned char>& b)
{
  return Bytes(b.data(), b.data() + b.length());
}

// Runs the reference script once over all requests; one answer a request.
std::vector<std::string> askPython(const std::vector<std::string>& requests)
{
  std::vector<std::string> answers =
      tltest::pythonLines(TL_TEST_SUPPORT_DIR "/encodings_reference.py", requests);
  EXPECT_EQ(answers.size(), requests.size());
  answers.resize(requests.size());
  return answers;
}

std::vector<std::string> split(const std::string& s, char sep)
{
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// A buffer whose contents a failed decode must leave alone.
MBuf<unsigned char> sentinel()
{
  const unsigned char s[] = {0xde, 0xad, 0xbe};
  return MBuf<unsigned char>(s, 3, true);
}

void expectUntouched(const MBuf<unsigned char>& out)
{
  EXPECT_EQ(bytesOf(out), bytesOf(sentinel()));
  EXPECT_TRUE(out.isSecure());
}

} // namespace

TEST(Encodings, RandomDataMatchesPython)
{
  std::mt19937 rng(115);
  std::vector<std::string> data, requests;
  for (int round = 0; round < 3; round++) {
    for (int len = 0; len <= 100; len++) {
      std::string d(len, 0);
      for (char& c : d)
        c = (char)(rng() & 0xff);
      data.push_back(d);
      requests.push_back("enc " + toHex(d));
    }
  }
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < data.size(); i++) {
    const std::string& d = data[i];
    const unsigned char* p = (const unsigned char*)d.data();
    int n = (int)d.size();
    std::vector<std::string> want = split(answers[i], '\t');
    ASSERT_EQ(want.size(), 4u) << answers[i];
    SCOPED_TRACE(want[0]);

    EXPECT_STREQ(binToHex(n, p).str(), want[0].c_str());
    EXPECT_STREQ(binToBase64(n, p, false).str(), want[1].c_str());
    EXPECT_STREQ(binToBase64(n, p, true).str(), want[2].c_str());

    MBuf<unsigned char> out;
    std::string upper = want[0];
    for (char& c : upper)
      c = (char)toupper((unsigned char)c);
    ASSERT_TRUE(hexToBin(upper.c_str(), out));
    EXPECT_EQ(bytesOf(out), Bytes(p, p + n));
    ASSERT_TRUE(base64Decode(want[1].c_str(), out));
    EXPECT_EQ(bytesOf(out), Bytes(p, p + n));
    ASSERT_TRUE(base64Decode(want[2].c_str(), out));
    EXPECT_EQ(bytesOf(out), Bytes(p, p + n));

    // Percent encoding works on NUL-terminated text; the script maps NUL to 1.
    std::string text = d;
    for (char& c : text)
      c = c ? c : 1;
    EXPECT_STREQ(percentEncode(text.c_str(), true).str(), want[3].c_str());
    EXPECT_STREQ(percentDecode(want[3].c_str(), false).str(), text.c_str());
  }
}

TEST(Encodings, Base64DecodeRulesAgreeWithPython)
{
  // Accepted rows that rely on what Python's strict decoder refuses (URL-safe
  // or mixed alphabets, missing padding, a lone "=" closing a two-character
  // group) are checked against Python on the padded standard-alphabet form.
  const struct {
    const char* text;
    bool ok;
  } rows[] = {
      {"", true},           {"QQ==", true},         {"QQ=", true},          {"QQ", true},
      {"QUI=", true},       {"QUI", true},          {"QUJD", true},         {"QUJDQQ", true},
      {"QUJDQUI", true},    {"-_-_", true},         {"+/-_", true},         {"_-/+AP8", true},
      {"Q", false},         {"QUJDR", false},       {"QQ===", false},       {"=QQQ", false},
      {"Q=QQ", false},      {"Q===", false},        {"QUJD=AAA", false},    {"QUJDQ===", false},    {"Q=", false},          {"QUJDQ=", false},
      {"QQ=A", false},      {"QUI=QUJD", false},    {"QQ==QQ==", false},    {"QUI==AAA", false},
      {"QU J", false},      {"QU.J", false},        {"QUJ\n", false},       {"QU\x80J", false},
      {"QU\xffJ", false},   {"QUJD\xc3\xa9QQ", false},
  };
  std::vector<std::string> requests;
  for (const auto& r : rows) {
    std::string t = r.text;
    for (char& c : t)
      c = c == '-' ? '+' : c == '_' ? '/' : c;
    if (r.ok) {
      t = t.substr(0, t.find('='));
      t.append((4 - t.size() % 4) % 4, '=');
    }
    requests.push_back("b64d " + toHex(t));
  }
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < requests.size(); i++) {
    SCOPED_TRACE(rows[i].text);
    MBuf<unsigned char> out = sentinel();
    bool ok = base64Decode(rows[i].text, out);
    ASSERT_EQ(ok, rows[i].ok);
    if (ok) {
      EXPECT_STREQ(binToHex(out.length(), out.data()).str(), answers[i].c_str());
      EXPECT_TRUE(out.isSecure());
    } else {
      EXPECT_EQ(answers[i], "ERR");
      expectUntouched(out);
    }
  }
}

TEST(Encodings, HexDecodeAgreesWithPython)
{
  const char* rows[] = {"",   "00abff", "00ABFF", "00aBfF", "0",    "abc",     "0g",
                        "g0", "zz",     " 0",     "+1",     "0x00", "\xff\xff"};
  std::vector<std::string> requests;
  for (const char* r : rows)
    requests.push_back("hexd " + toHex(r));
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < requests.size(); i++) {
    SCOPED_TRACE(rows[i]);
    MBuf<unsigned char> out = sentinel();
    bool ok = hexToBin(rows[i], out);
    EXPECT_EQ(ok, answers[i] != "ERR");
    if (ok)
      EXPECT_STREQ(binToHex(out.length(), out.data()).str(), answers[i].c_str());
    else
      expectUntouched(out);
  }
  EXPECT_EQ(bytesOf(hexToBinOrThrow("0aFF")), (Bytes{0x0a, 0xff}));
  try {
    hexToBinOrThrow("0");
    FAIL() << "odd length accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Bad hex string");
  }
}

TEST(Encodings, HexToBinFixedStopsAtFirstNonDigit)
{
  const struct {
    const char* text;
    int count;
    bool ok;
    Bytes after; // all four output bytes afterwards; 0xee were not written
  } rows[] = {
      {"00abFF", 3, true, {0x00, 0xab, 0xff, 0xee}},
      {"0102ffff", 2, true, {0x01, 0x02, 0xee, 0xee}},
      {"0102", 3, false, {0x01, 0x02, 0xee, 0xee}},
      {"01x2", 2, false, {0x01, 0xee, 0xee, 0xee}},
      {"0", 1, false, {0xee, 0xee, 0xee, 0xee}},
      {"zz", 0, true, {0xee, 0xee, 0xee, 0xee}},
      {"zz", -1, true, {0xee, 0xee, 0xee, 0xee}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    Bytes out(4, 0xee);
    EXPECT_EQ(hexToBinFixed(r.text, r.count, out.data()), r.ok);
    EXPECT_EQ(out, r.after);
  }
}

TEST(Encodings, HexDigitChecksItsRange)
{
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(hexDigit(i), "0123456789abcdef"[i]);
  for (int i : {-1, 16}) {
    try {
      hexDigit(i);
      ADD_FAILURE() << i;
    } catch (const AssertionFail& e) {
      EXPECT_STREQ(e.getExpression(), "i >= 0 && i <= 15");
    }
  }
}

TEST(Encodings, PercentEncodeKeepsItsSetAndOptionallyUtf8)
{
  EXPECT_STREQ(percentEncode("az09*-._ &~\xc3\xa9", false).str(), "az09*-._%20%26%7E\xc3\xa9");
  EXPECT_STREQ(percentEncode("\xc3\xa9", true).str(), "%C3%A9");
  EXPECT_TRUE(percentEncode(nullptr, true).isNull());
}

TEST(Encodings, PercentDecode)
{
  const struct {
    const char* text;
    bool plusIsSpace;
    const char* want; // null: throws "Bad percent encoding"
  } rows[] = {
      {"a+b", false, "a+b"},
      {"a+b", true, "a b"},
      {"%2B%2b", true, "++"},
      {"%41%6a%C3%a9", false, "Aj\xc3\xa9"},
      {"", false, ""},
      {"%", false, nullptr},
      {"a%4", false, nullptr},
      {"%0", false, nullptr},
      {"%G0", false, nullptr},
      {"%4G", false, nullptr},
      {"%%41", false, nullptr},
      // A NUL would silently cut the value short.
      {"%00", false, nullptr},
      {"key%00.txt", true, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    try {
      String got = percentDecode(r.text, r.plusIsSpace);
      ASSERT_NE(r.want, nullptr) << "accepted as " << got.str();
      EXPECT_STREQ(got.str(), r.want);
    } catch (const Exception& e) {
      EXPECT_EQ(r.want, nullptr);
      EXPECT_STREQ(e.str(), "Bad percent encoding");
    }
  }
  EXPECT_TRUE(percentDecode(nullptr, true).isNull());
}

TEST(Encodings, HexDumpLayout)
{
  const unsigned char bytes[] = {0x00, 0x1f, 0x20, 0x41, 0x7e, 0x7f, 0x80, 0xff, 'a', 'b',
                                 'c',  'd',  'e',  'f',  'g',  'h',  'i',  'j',  'k', 'l'};
  const std::string full = "00 1f 20 41  7e 7f 80 ff  61 62 63 64  65 66 67 68  .. A~...abcdefgh\n";
  const std::string five = "00 1f 20 41  7e " + std::string(36, ' ') + ".. A~\n";
  const std::string tail = "69 6a 6b 6c  " + std::string(39, ' ') + "ijkl\n";
  const struct {
    int length;
    const char* first;
    const char* next;
    std::string want;
  } rows[] = {
      {0, nullptr, nullptr, ""},
      {0, ">> ", ".. ", ""},
      {5, nullptr, nullptr, "0000 " + five},
      {5, ">> ", ".. ", ">> " + five},
      {16, nullptr, nullptr, "0000 " + full},
      {20, nullptr, nullptr, "0000 " + full + "0010 " + tail},
      {20, ">> ", ".. ", ">> " + full + ".. " + tail},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.length);
    testing::internal::CaptureStderr();
    hexDump(MBuf<unsigned char>(bytes, r.length), r.first, r.next);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.want);
  }
}
