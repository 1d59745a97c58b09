// DES against `openssl enc -des-ecb` and the published test vectors, with
// each key byte's bit order reversed (how this cipher reads its key).
#include "crypto/Des.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cryptoTestUtil.h"

using crypto::Des;

namespace {

typedef std::vector<uint8_t> Bytes;

uint8_t reverseBits(uint8_t b)
{
  uint8_t r = 0;
  for (int i = 0; i < 8; i++)
    if (b & (1 << i))
      r |= 0x80 >> i;
  return r;
}

Bytes fromHex(const char* s)
{
  Bytes b;
  for (; s[0] && s[1]; s += 2)
    b.push_back(static_cast<uint8_t>(strtoul(std::string(s, 2).c_str(), nullptr, 16)));
  return b;
}

using cryptotest::hex;

// Encrypts blocks under a standard key, the way this cipher sees it.
Bytes encrypt(const Bytes& standardKey, const Bytes& data)
{
  uint8_t key[8];
  for (int i = 0; i < 8; i++)
    key[i] = reverseBits(standardKey[i]);
  Des::Schedule s;
  Des::setKeyEncrypt(s, key);
  Bytes out(data.size());
  for (size_t i = 0; i < data.size(); i += 8)
    Des::cryptBlock(s, &data[i], &out[i]);
  return out;
}

Bytes openssl(const Bytes& key, const Bytes& data)
{
  std::string path = cryptotest::writeTemp(data.data(), data.size());
  std::string out = cryptotest::run("openssl enc -des-ecb -nopad -K " + hex(key.data(), 8) +
                                    " -provider legacy -provider default -in " + path);
  unlink(path.c_str());
  return Bytes(out.begin(), out.end());
}

} // namespace

TEST(Des, EqualsStandardDesUnderBitReversedKey)
{
  std::mt19937 rng(42);
  for (int k = 0; k < 12; k++) {
    Bytes key(8), data(64);
    for (uint8_t& b : key)
      b = static_cast<uint8_t>(rng());
    for (uint8_t& b : data)
      b = static_cast<uint8_t>(rng());
    EXPECT_EQ(hex(encrypt(key, data).data(), data.size()),
              hex(openssl(key, data).data(), data.size()))
        << "key " << hex(key.data(), 8);
  }
}

TEST(Des, PublishedVectors)
{
  // Key, plaintext, ciphertext (FIPS 81 and the NBS validation set).
  const char* vectors[][3] = {
      {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
      {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
      {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
      {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
      {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
      {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
      {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
  };
  for (auto& v : vectors)
    EXPECT_EQ(hex(encrypt(fromHex(v[0]), fromHex(v[1])).data(), 8), v[2]) << v[0];
}

TEST(Des, DecryptInvertsEncryptInPlace)
{
  std::mt19937 rng(7);
  for (int i = 0; i < 50; i++) {
    uint8_t key[8], block[8], orig[8];
    for (int j = 0; j < 8; j++) {
      key[j] = static_cast<uint8_t>(rng());
      orig[j] = block[j] = static_cast<uint8_t>(rng());
    }
    Des::Schedule enc, dec;
    Des::setKeyEncrypt(enc, key);
    Des::setKeyDecrypt(dec, key);
    Des::cryptBlock(enc, block, block);
    EXPECT_NE(memcmp(block, orig, 8), 0);
    Des::cryptBlock(dec, block, block);
    EXPECT_EQ(memcmp(block, orig, 8), 0);

    // A saved schedule loads back into one that encrypts alike.
    uint8_t saved[Des::kScheduleBytes];
    Des::Schedule loaded;
    Des::saveSchedule(enc, saved);
    Des::loadSchedule(loaded, saved);
    EXPECT_EQ(memcmp(loaded, enc, sizeof(enc)), 0);
  }
}

TEST(Des, MostSignificantBitsAreParity)
{
  const uint8_t key[8] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0};
  uint8_t flipped[8];
  for (int i = 0; i < 8; i++)
    flipped[i] = key[i] ^ 0x80;
  Des::Schedule a, b;
  Des::setKeyEncrypt(a, key);
  Des::setKeyEncrypt(b, flipped);
  EXPECT_EQ(memcmp(a, b, sizeof(a)), 0);
  flipped[3] ^= 0x01;
  Des::setKeyEncrypt(b, flipped);
  EXPECT_NE(memcmp(a, b, sizeof(a)), 0);
}
