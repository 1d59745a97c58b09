// The "P2a" password record and PBKDF2, against `openssl kdf` and
// python's hashlib.pbkdf2_hmac.
#include "crypto/PasswordHash.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cryptoTestUtil.h"
#include "plat/Configuration.h"
#include "plat/encodings.h"
#include "testutil.h"

using cryptotest::Bytes;
using cryptotest::hexOf;

namespace {

plat::MBuf<unsigned char> buf(const Bytes& b)
{
  return plat::MBuf<unsigned char>(b.data(), (int)b.size());
}
Bytes bytesOf(const plat::MBuf<unsigned char>& b)
{
  return Bytes(b.data(), b.data() + b.length());
}
std::string upperColons(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i)
      out += ':';
    out += (char)toupper(hex[i]);
    out += (char)toupper(hex[i + 1]);
  }
  return out;
}

void setRounds(int rounds)
{
  plat::Configuration::global()
      .get("PasswordHashRounds")
      .setParam(std::to_string(rounds).c_str(), 30);
}

TEST(Pbkdf2, AgainstHashlibAndOpenssl)
{
  struct Case {
    int bits, passwordLength, rounds, keyLength;
  };
  std::vector<Case> cases;
  for (int bits : {512, 256})
    for (int passwordLength : {0, 1, 128, 129, 1000})
      for (int rounds : {1, 2, 1000})
        cases.push_back({bits, passwordLength, rounds, bits == 512 ? 100 : 40});
  Bytes salt = {'N', 'a', 'C', 'l', 0, 0xFF, 7};
  std::vector<std::string> requests;
  std::vector<Bytes> keys;
  for (const Case& c : cases) {
    std::string password;
    for (int i = 0; i < c.passwordLength; i++)
      password += (char)('!' + (i * 7) % 90);
    crypto::Pbkdf2Result r =
        crypto::pbkdf2(password.c_str(), buf(salt), c.rounds, c.keyLength, c.bits);
    EXPECT_EQ(r.rounds, (uint32_t)c.rounds);
    EXPECT_EQ(r.digestBytes, c.bits / 8);
    EXPECT_EQ(bytesOf(r.salt), salt);
    EXPECT_TRUE(r.key.isSecure() && r.salt.isSecure());
    ASSERT_EQ(r.key.length(), c.keyLength);
    keys.push_back(bytesOf(r.key));
    Bytes pw(password.begin(), password.end());
    requests.push_back("pbkdf2 " + std::to_string(c.bits) + " " + hexOf(pw) + " " + hexOf(salt) +
                       " " + std::to_string(c.rounds) + " " + std::to_string(c.keyLength));
    // openssl takes a hex password only when it is not empty.
    std::string pass = pw.empty() ? "pass:" : "hexpass:" + hexOf(pw);
    std::string theirs = cryptotest::run("openssl kdf -keylen " + std::to_string(c.keyLength) +
                                         " -kdfopt digest:SHA" + std::to_string(c.bits) +
                                         " -kdfopt " + pass + " -kdfopt hexsalt:" + hexOf(salt) +
                                         " -kdfopt iter:" + std::to_string(c.rounds) + " PBKDF2");
    theirs.erase(std::remove(theirs.begin(), theirs.end(), '\n'), theirs.end());
    EXPECT_EQ(theirs, upperColons(hexOf(keys.back())));
  }
  std::vector<std::string> expected = cryptotest::pubkeyHelper(requests);
  ASSERT_EQ(expected.size(), cases.size());
  for (size_t i = 0; i < cases.size(); i++)
    EXPECT_EQ(hexOf(keys[i]), expected[i]) << requests[i];
  // A shorter key is the prefix of the longer one.
  crypto::Pbkdf2Result shorter = crypto::pbkdf2("pw", buf(salt), 2, 30, 512);
  crypto::Pbkdf2Result longer = crypto::pbkdf2("pw", buf(salt), 2, 130, 512);
  EXPECT_EQ(bytesOf(shorter.key), Bytes(longer.key.data(), longer.key.data() + 30));
}

TEST(Pbkdf2, ZeroRoundsAreRefused)
{
  EXPECT_THROW(crypto::pbkdf2("pw", buf({1, 2}), 0, 64, 512), plat::Exception);
}

TEST(Pbkdf2, TimedRoundsAreWholeBatches)
{
  crypto::Pbkdf2Result none = crypto::pbkdf2Timed("pw", 64, 16, 0, 512);
  EXPECT_EQ(none.rounds, 10000u);
  crypto::Pbkdf2Result some = crypto::pbkdf2Timed("pw", 70, 12, 30, 256);
  EXPECT_EQ(some.rounds % 10000, 0u);
  EXPECT_GE(some.rounds, 10000u);
  EXPECT_LE(some.rounds, 10000000u);
  EXPECT_EQ(some.salt.length(), 12);
  EXPECT_TRUE(some.key.isSecure() && some.salt.isSecure());
  EXPECT_EQ(bytesOf(crypto::pbkdf2("pw", some.salt, some.rounds, 70, 256).key), bytesOf(some.key));
  EXPECT_NE(bytesOf(none.salt), bytesOf(crypto::pbkdf2Timed("pw", 64, 16, 0, 512).salt));
}

TEST(PasswordRecord, LayoutAndText)
{
  setRounds(20000);
  plat::MBuf<unsigned char> record = crypto::hashPassword("secret", 0);
  ASSERT_EQ(record.length(), 87);
  EXPECT_TRUE(record.isSecure());
  plat::String text = plat::binToHex(record.length(), record.data());
  std::string t = text.str();
  EXPECT_EQ(t.size(), 174u);
  EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(t.substr(0, 14), "50326100004e20");
  // The salt and key are PBKDF2-HMAC-SHA-512 over the stored salt.
  Bytes salt(record.data() + 7, record.data() + 23);
  EXPECT_EQ(bytesOf(crypto::pbkdf2("secret", buf(salt), 20000, 64, 512).key),
            Bytes(record.data() + 23, record.data() + 87));
  // Checked with its own count after the parameter changed.
  setRounds(1000);
  EXPECT_TRUE(crypto::verifyPassword("secret", 87, record.data()));
  EXPECT_FALSE(crypto::verifyPassword("Secret", 87, record.data()));
}

TEST(PasswordRecord, RoundCounts)
{
  setRounds(1000);
  struct Case {
    int requested;
    uint32_t stored;
  };
  for (Case c : {Case{0, 1000}, Case{-5, 1000}, Case{30000000, 20000000}, Case{1, 1}, Case{7, 7}})
    EXPECT_EQ(crypto::passwordHashRounds(c.requested), c.stored) << c.requested;
  for (int requested : {0, -5, 1}) {
    plat::MBuf<unsigned char> record = crypto::hashPassword("pw", requested);
    uint32_t stored = (uint32_t)record[3] << 24 | record[4] << 16 | record[5] << 8 | record[6];
    EXPECT_EQ(stored, crypto::passwordHashRounds(requested));
    EXPECT_TRUE(crypto::verifyPassword("pw", 87, record.data()));
  }
  setRounds(20000);
}

TEST(PasswordRecord, EdgeCases)
{
  plat::MBuf<unsigned char> a = crypto::hashPassword("same", 1),
                            b = crypto::hashPassword("same", 1);
  EXPECT_NE(bytesOf(a), bytesOf(b));
  EXPECT_TRUE(crypto::verifyPassword("same", 87, a.data()));
  EXPECT_TRUE(crypto::verifyPassword("same", 87, b.data()));

  EXPECT_TRUE(crypto::hashPassword(nullptr, 1).empty());
  EXPECT_FALSE(crypto::verifyPassword(nullptr, 87, a.data()));
  plat::MBuf<unsigned char> empty = crypto::hashPassword("", 1);
  EXPECT_TRUE(crypto::verifyPassword("", 87, empty.data()));
  EXPECT_FALSE(crypto::verifyPassword("x", 87, empty.data()));

  Bytes record = bytesOf(a);
  EXPECT_TRUE(crypto::isPasswordHash(87, record.data()));
  Bytes longer = record;
  longer.push_back(0);
  struct Shape {
    const char* name;
    Bytes bytes;
    int length;
  };
  std::vector<Shape> shapes = {{"86 bytes", record, 86}, {"88 bytes", longer, 88}};
  for (unsigned char third : {'A', 'b'}) {
    Bytes tag = record;
    tag[2] = third;
    shapes.push_back({"tag", tag, 87});
  }
  for (uint32_t rounds : {0u, 20000001u}) {
    Bytes r = record;
    r[3] = rounds >> 24;
    r[4] = rounds >> 16;
    r[5] = rounds >> 8;
    r[6] = rounds;
    shapes.push_back({"rounds", r, 87});
  }
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.name);
    EXPECT_FALSE(crypto::verifyPassword("same", s.length, s.bytes.data()));
    if (s.name[0] != 'r') {
      EXPECT_FALSE(crypto::isPasswordHash(s.length, s.bytes.data()));
    }
  }
  EXPECT_FALSE(crypto::verifyPassword("same", 87, nullptr));
}

// Every bit of the record matters. Flips in bits 11 to 24 of the round
// count make counts of 2049 to 16777217 rounds, which only cost time.
TEST(PasswordRecord, AnyFlippedBitFails)
{
  plat::MBuf<unsigned char> record = crypto::hashPassword("flip", 1);
  for (int bit = 0; bit < 87 * 8; bit++) {
    int countBit = 31 - (bit - 24);
    if (bit >= 24 && bit < 56 && countBit >= 11 && countBit <= 24)
      continue;
    Bytes r = bytesOf(record);
    r[bit / 8] ^= 0x80 >> (bit % 8);
    EXPECT_FALSE(crypto::verifyPassword("flip", 87, r.data())) << "bit " << bit;
  }
}

// The largest count is a record, not a malformed one: its check is still
// deriving long after a refused record would have answered.
TEST(PasswordRecord, LargestRoundCountIsAccepted)
{
  Bytes record = bytesOf(crypto::hashPassword("big", 1));
  uint32_t rounds = 20000000;
  record[3] = rounds >> 24;
  record[4] = rounds >> 16;
  record[5] = rounds >> 8;
  record[6] = rounds;
  pid_t child =
      tltest::spawn([&] { return crypto::verifyPassword("big", 87, record.data()) ? 1 : 0; });
  ASSERT_GT(child, 0);
  usleep(300000);
  int status;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
}

} // namespace
