#include "plat/ObfPasswd.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "opensslobf.h"
#include "plat/Exception.h"
#include "plat/Mnemonic.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

namespace {

using tltest::opensslDes;

std::string bytes(const plat::MBuf<unsigned char>& b)
{
  return std::string((const char*)b.data(), b.length());
}

std::string exceptionText(const std::function<void()>& fn)
{
  try {
    fn();
  } catch (const plat::Exception& e) {
    return e.str();
  }
  return "no exception";
}

TEST(ObfPasswdTest, MatchesDesOfThePaddedBlocks)
{
  struct Case {
    std::string password;
    int length;
    bool marker;
  } cases[] = {
      {"", 8, false},
      {"abcdefgh", 8, false},
      {"abcdefghi", 16, false},
      // One two-byte character and six ASCII bytes: one block and the marker.
      {"caf\xc3\xa9" "abc", 12, true},
      {"\xe2\x82\xac-sign and more", 24 + 4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    plat::MBuf<unsigned char> obf;
    plat::obfuscatePasswd(obf, c.password.c_str());
    ASSERT_EQ(c.length, obf.length());
    EXPECT_TRUE(obf.isSecure());
    int blocks = c.length - (c.marker ? 4 : 0);
    std::string padded = c.password + std::string(blocks - c.password.size(), '\0');
    EXPECT_EQ(opensslDes(padded), bytes(obf).substr(0, blocks));
    EXPECT_EQ(c.marker ? "UTF8" : "", bytes(obf).substr(blocks));
    EXPECT_STREQ(c.password.c_str(), plat::deobfuscatePasswd(obf).get());
  }
}

TEST(ObfPasswdTest, DeobfuscateChecksTheLength)
{
  plat::MBuf<unsigned char> obf;
  plat::obfuscatePasswd(obf, nullptr);
  EXPECT_TRUE(obf.empty());
  EXPECT_TRUE(plat::deobfuscatePasswd(obf).isNull());

  plat::MBuf<unsigned char> markerOnly((const unsigned char*)"UTF8", 4);
  plat::SecureString empty = plat::deobfuscatePasswd(markerOnly);
  EXPECT_FALSE(empty.isNull());
  EXPECT_STREQ("", empty.get());

  for (const char* bad : {"12345678UTF9", "1234567", "123456789"}) {
    plat::MBuf<unsigned char> in((const unsigned char*)bad, (int)strlen(bad));
    EXPECT_EQ("bad obfuscated password length",
              exceptionText([&] { plat::deobfuscatePasswd(in); }))
        << bad;
  }
}

TEST(ObfPasswdTest, StreamFieldHoldsAtMost512Bytes)
{
  struct Case {
    std::string password;
    bool fits;
  } cases[] = {
      {std::string(512, 'a'), true},
      {std::string(513, 'a'), false},
      {std::string(502, 'a') + "\xc3\xa9", true}, // 504 bytes and the marker
      {std::string(503, 'a') + "\xc3\xa9", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password.size());
    rdr::MemOutStream out;
    if (!c.fits) {
      EXPECT_EQ("writeObfPasswd: password too long",
                exceptionText([&] { plat::writeObfPasswd(out, c.password.c_str()); }));
      EXPECT_EQ(0, out.length());
      continue;
    }
    plat::writeObfPasswd(out, c.password.c_str());
    ASSERT_GE(out.length(), 2);
    EXPECT_EQ(out.length() - 2, out.data()[0] << 8 | out.data()[1]);
    rdr::MemInStream in(out.data(), (int)out.length());
    EXPECT_STREQ(c.password.c_str(), plat::readObfPasswd(in).get());
  }

  std::string field = std::string("\x02\x01", 2) + std::string(513, '\0');
  rdr::MemInStream in(field.data(), (int)field.size());
  EXPECT_EQ("readObfPasswd: password too long", exceptionText([&] { plat::readObfPasswd(in); }));
}

TEST(MnemonicTest, ParsesMarkers)
{
  struct Case {
    const char* label;
    const char* shown;
    int mnemonic;
    int pos; // -1: none
  } cases[] = {
      {"Save &As", "Save As", 'A', 5},
      {"Fish && &Chips", "Fish & Chips", 'C', 7},
      {"A&", "A", 0, -1},
      {"&&", "&", 0, -1},
      {"&First &Second", "First Second", 'F', 0},
      {"&\xc3\x9c" "ber", "\xc3\x9c" "ber", 0xDC, 0},
      {"x&\xff", "x\xff", -1, 1},
      {"plain", "plain", 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string label = c.label;
    char* pos = nullptr;
    EXPECT_EQ(c.mnemonic, plat::parseMnemonic(&label[0], &pos));
    EXPECT_STREQ(c.shown, label.c_str());
    EXPECT_EQ(c.pos, pos ? (int)(pos - &label[0]) : -1);
  }
}

} // namespace
