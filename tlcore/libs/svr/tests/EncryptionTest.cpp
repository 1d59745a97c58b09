// Encryption levels and the stored forms of the device password.
#include <gtest/gtest.h>

#include <string>

#include "loc/Locale.h"
#include "opensslobf.h"
#include "plat/Configuration.h"
#include "plat/ConfigParameter.h"
#include "plat/Exception.h"
#include "plat/encodings.h"
#include "svr/Encryption.h"
#include "svrtest.h"
#include "testutil.h"

namespace {

std::string bytes(const plat::MBuf<unsigned char>& b)
{
  return std::string((const char*)b.data(), (size_t)b.length());
}

plat::MBuf<unsigned char> buf(const std::string& s)
{
  return plat::MBuf<unsigned char>((const unsigned char*)s.data(), (int)s.size());
}

class EncryptionTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::Configuration::global().get("PasswordHashRounds").setParam("1000", 30);
  }
};

TEST_F(EncryptionTest, Levels)
{
  const char* values[] = {"AlwaysMaximum", "AlwaysOn", "PreferOn", "PreferOff", "AlwaysOff"};
  const char* names[] = {"always_maximum", "always_on", "prefer_on", "prefer_off", "always_off"};
  const char* shorts[] = {"always_maximum_display", "always_on_display", "custom_display",
                          "custom_display", "custom_display"};
  auto catalogue = svrtest::readCatalogue(TL_TEST_SOURCE_DIR "/../svr.catalogue");
  loc::LocaleSetter setter("fr_FR");
  auto fr = [&](const char* k) { return catalogue["fr"].at(std::string("svr_sencryption_") + k); };
  for (unsigned level = 0; level < 5; level++) {
    EXPECT_STREQ(values[level], svr::encryptionName(level, "x").get());
    EXPECT_EQ(level, svr::encryptionFromName(values[level]));
    EXPECT_EQ(fr(names[level]), svr::encryptionDisplayName(level).str());
    EXPECT_EQ(fr(shorts[level]), svr::encryptionShortDisplayName((int)level).str());
  }
  EXPECT_EQ(2u, svr::encryptionFromName("preferon"));
  EXPECT_EQ(5u, svr::encryptionFromName("Prefer"));
  EXPECT_EQ(5u, svr::encryptionFromName(nullptr));
  EXPECT_STREQ("x", svr::encryptionName(5, "x").get());
  EXPECT_STREQ("", svr::encryptionDisplayName(5).str());
  EXPECT_STREQ("", svr::encryptionShortDisplayName(-1).str());

  svrtest::Settings autoOn("<Auto>", "alwayson", "None");
  EXPECT_TRUE(svr::securityTypesAuto(autoOn.config));
  EXPECT_EQ(1u, svr::encryptionFromConfig(autoOn.config));
  svrtest::Settings listed("RA2", "AlwaysOn", "None");
  EXPECT_FALSE(svr::securityTypesAuto(listed.config));
  EXPECT_EQ(5u, svr::encryptionFromConfig(listed.config));
  plat::Configuration empty("empty");
  EXPECT_THROW(svr::encryptionFromConfig(empty), plat::Exception);
}

TEST_F(EncryptionTest, EncodedLengthsAndFreshSalts)
{
  plat::SecureString a = svr::encodePassword("a", false);
  plat::SecureString b = svr::encodePassword("a", false);
  EXPECT_EQ(174, a.length());
  EXPECT_EQ(0, strncmp(a.get(), "503261", 6));
  EXPECT_STRNE(a.get(), b.get());
  plat::MBuf<unsigned char> stored = plat::hexToBinOrThrow(a.get());
  EXPECT_TRUE(svr::checkPassword("a", stored, nullptr));
  EXPECT_FALSE(svr::checkPassword("b", stored, nullptr));
  EXPECT_TRUE(svr::hasPassword(stored));
  try {
    svr::classicPassword(stored);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ("ZarnAuth sectype not supported with salted hash", e.str());
  }

  EXPECT_EQ(16, svr::encodePassword("a", true).length());
  EXPECT_EQ(24, svr::encodePassword("\xc3\xa9", true).length());
  EXPECT_EQ(32, svr::encodePassword("123456789", true).length());
  EXPECT_TRUE(svr::makeStoredPassword("a", true).isSecure());
  EXPECT_TRUE(svr::makeStoredPassword("a", false).isSecure());
}

TEST_F(EncryptionTest, ClassicFormAgainstOpenssl)
{
  for (std::string password : {"a", "secret12", "p\xc3\xa4sswort", "0123456789abcdefX"}) {
    SCOPED_TRACE(password);
    bool marker = false;
    for (unsigned char c : password)
      marker = marker || c >= 0x80;
    size_t blocks = password.size() < 8 ? 8 : (password.size() + 7) / 8 * 8;
    std::string padded = password + std::string(blocks - password.size(), '\0');

    // Ours, deciphered by openssl.
    std::string ours = bytes(svr::makeStoredPassword(password.c_str(), true));
    ASSERT_EQ(blocks + (marker ? 4 : 0), ours.size());
    EXPECT_EQ(tltest::toHex(padded), tltest::toHex(tltest::opensslDes(ours.substr(0, blocks), true)));
    EXPECT_EQ(tltest::toHex(ours), svr::encodePassword(password.c_str(), true).str());

    // openssl's, read by us.
    std::string theirs = tltest::opensslDes(padded) + (marker ? "UTF8" : "");
    EXPECT_STREQ(password.c_str(), svr::classicPassword(buf(theirs)).get());
    EXPECT_TRUE(svr::checkPassword(password.c_str(), buf(theirs), "u"));
    EXPECT_FALSE(svr::checkPassword((password + "x").c_str(), buf(theirs), "u"));
    EXPECT_FALSE(svr::checkPassword(nullptr, buf(theirs), "u"));
    EXPECT_TRUE(svr::hasPassword(buf(theirs)));
  }
}

TEST_F(EncryptionTest, MissingAndUndecodablePasswordsAreLogged)
{
  struct Case {
    std::string stored;
    const char* user;
    bool has;
    std::vector<std::string> lines;
    std::vector<int> levels;
  } cases[] = {
      {"", nullptr, false, {"No password configured for default user"}, {0}},
      {"", "", false, {"No password configured for default user"}, {0}},
      {tltest::opensslDes(std::string(8, '\0')), "alice", false,
       {"No password configured for alice user"}, {0}},
      {"1234567", "bob", false,
       {"Error getting password for bob user: bad obfuscated password length",
        "No password configured for bob user"},
       {100, 0}},
      // 87 bytes without the tag are read as the classic form.
      {std::string(87, 'x'), nullptr, false,
       {"Error getting password for default user: bad obfuscated password length",
        "No password configured for default user"},
       {100, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(tltest::toHex(c.stored));
    tltest::LogCapture capture("ZarnAuthUtil");
    EXPECT_EQ(c.has, svr::hasPassword(buf(c.stored)));
    EXPECT_FALSE(svr::checkPassword("x", buf(c.stored), c.user));
    EXPECT_EQ(c.lines, capture.lines());
    EXPECT_EQ(c.levels, capture.levels());
  }
}

} // namespace
