// Elliptic-curve keys: RFC 7748 and RFC 6979 vectors, X25519/X448 and
// ECDSA against openssl (keys and signatures converted by the
// python3-cryptography helper), and the interchange forms' edge cases.
#include "crypto/EcKey.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/MbedTlsException.h"
#include "cryptoTestUtil.h"
#include "rdr/MemInStream.h"
#include "testutil.h"

using crypto::EcKey;
using cryptotest::Bytes;
using cryptotest::hexOf;
using cryptotest::unhex;
using cryptotest::written;

namespace {

std::vector<std::string> helper(const std::vector<std::string>& requests)
{
  return cryptotest::pubkeyHelper(requests);
}

using cryptotest::errorOf;

Bytes bytes(const std::string& s)
{
  return Bytes(s.begin(), s.end());
}

void readPublic(EcKey& key, const Bytes& form)
{
  rdr::MemInStream in(form.data(), (int)form.size());
  EXPECT_TRUE(key.readPublic(in));
}
void readPrivate(EcKey& key, const Bytes& form)
{
  rdr::MemInStream in(form.data(), (int)form.size());
  EXPECT_TRUE(key.readPrivate(in));
}

// An RFC 7748 scalar (little-endian) as the private form: clamped,
// big-endian, minimal.
Bytes privateForm(Bytes k, bool x25519)
{
  if (x25519) {
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;
  } else {
    k[0] &= 252;
    k[55] |= 128;
  }
  std::reverse(k.begin(), k.end());
  Bytes out{0, (unsigned char)k.size()};
  out.insert(out.end(), k.begin(), k.end());
  return out;
}
Bytes publicForm(const Bytes& u)
{
  Bytes out{(unsigned char)u.size()};
  out.insert(out.end(), u.begin(), u.end());
  return out;
}

TEST(EcKey, Rfc7748Vectors)
{
  struct Vector {
    EcKey::Curve curve;
    const char *scalar, *u, *result;
  };
  // Section 5.2, then the Diffie-Hellman of section 6 (Alice's key, Bob's
  // public value, the shared secret).
  const Vector vectors[] = {
      {EcKey::Curve25519, "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      {EcKey::Curve25519, "4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
       "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
       "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
      {EcKey::Curve25519, "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
      {EcKey::Curve448,
       "3d262fddf9ec8e88495266fea19a34d28882acef045104d0d1aae121700a779c984c24f8cdd78fbff44943eba36"
       "8f54b29259a4f1c600ad3",
       "06fce640fa3487bfda5f6cf2d5263f8aad88334cbd07437f020f08f9814dc031ddbdc38c19c6da2583fa5429db9"
       "4ada18aa7a7fb4ef8a086",
       "ce3e4ff95a60dc6697da1db1d85e6afbdf79b50a2412d7546d5f239fe14fbaadeb445fc66a01b0779d982239611"
       "11e21766282f73dd96b6f"},
      {EcKey::Curve448,
       "203d494428b8399352665ddca42f9de8fef600908e0d461cb021f8c538345dd77c3e4806e25f46d3315c44e0a5b"
       "4371282dd2c8d5be3095f",
       "0fbcc2f993cd56d3305b0b7d9e55d4c1a8fb5dbb52f8e9a1e9b6201b165d015894e56c4d3570bee52fe205e28a7"
       "8b91cdfbde71ce8d157db",
       "884a02576239ff7a2f2f63b2db6a9ff37047ac13568e1e30fe63c4a7ad1b3ee3a5700df34321d62077e63633c57"
       "5c1c954514e99da7c179d"},
      {EcKey::Curve448,
       "9a8f4925d1519f5775cf46b04b5800d4ee9ee8bae8bc5565d498c28dd9c9baf574a9419744897391006382a6f12"
       "7ab1d9ac2d8c0a598726b",
       "3eb7a829b0cd20f5bcfc0b599b6feccf6da4627107bdb0d4f345b43027d8b972fc3e34fb4232a13ca706dcb57ae"
       "c3dae07bdc1c67bf33609",
       "07fff4181ac6cc95ec1c16a94a0f74d12da232ce40a77552281d282bb60c0b56fd2464c335543936521c2440308"
       "5d59a449a5037514a879d"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.scalar);
    bool x25519 = v.curve == EcKey::Curve25519;
    EcKey mine(v.curve), peer(v.curve);
    readPrivate(mine, privateForm(unhex(v.scalar), x25519));
    readPublic(peer, publicForm(unhex(v.u)));
    plat::MBuf<unsigned char> secret = mine.sharedSecret(peer);
    EXPECT_EQ(cryptotest::hex(secret.data(), secret.length()), v.result);
    EXPECT_TRUE(secret.isSecure());
  }
}

// Our key against openssl's: each side derives with the other's public key.
TEST(EcKey, AgreementAgainstOpenssl)
{
  tltest::TempDir dir("ecdh");
  struct Kind {
    EcKey::Curve curve;
    const char* name;
    const char* spkiPrefix;
  };
  const Kind kinds[] = {{EcKey::Curve25519, "X25519", "302a300506032b656e032100"},
                        {EcKey::Curve448, "X448", "3042300506032b656f033900"}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    std::string theirPem = dir / "their.pem", theirPub = dir / "their.der";
    cryptotest::run(std::string("openssl genpkey -algorithm ") + k.name + " -out " + theirPem);
    cryptotest::run("openssl pkey -in " + theirPem + " -pubout -outform DER -out " + theirPub);
    Bytes spki = bytes(cryptotest::run("cat " + theirPub));
    EcKey mine(k.curve), theirs(k.curve);
    mine.generate();
    int n = mine.keyBytes();
    readPublic(theirs, publicForm(Bytes(spki.end() - n, spki.end())));
    Bytes minePublic = written([&](rdr::OutStream& o) { mine.writePublic(o); });
    ASSERT_EQ((int)minePublic.size(), n + 1);
    Bytes mineSpki = unhex(k.spkiPrefix);
    mineSpki.insert(mineSpki.end(), minePublic.begin() + 1, minePublic.end());
    std::string minePub = dir.write("mine.der", std::string(mineSpki.begin(), mineSpki.end()));
    std::string derived = cryptotest::run("openssl pkeyutl -derive -inkey " + theirPem +
                                          " -peerform DER -peerkey " + minePub);
    plat::MBuf<unsigned char> secret = mine.sharedSecret(theirs);
    EXPECT_EQ(std::string(secret.data(), secret.data() + secret.length()), derived);
  }
}

TEST(EcKey, EcdsaAgainstOpenssl)
{
  tltest::TempDir dir("ecdsa");
  struct Kind {
    EcKey::Curve curve;
    const char* name;
  };
  const Kind kinds[] = {{EcKey::P224, "secp224r1"},
                        {EcKey::P256, "prime256v1"},
                        {EcKey::P384, "secp384r1"},
                        {EcKey::P521, "secp521r1"}};
  Bytes data = bytes("signed on every NIST curve");
  std::string dataFile = dir.write("data", std::string(data.begin(), data.end()));
  for (const Kind& k : kinds) {
    std::string pem = dir / (std::string(k.name) + ".pem");
    std::string pub = dir / (std::string(k.name) + ".pub");
    cryptotest::run(std::string("openssl ecparam -name ") + k.name + " -genkey -noout -out " + pem);
    cryptotest::run("openssl ec -in " + pem + " -pubout -out " + pub + " 2>/dev/null");
    std::vector<std::string> forms = helper({"ecpriv " + pem, "ecpub " + pem});
    EcKey key(k.curve), pubKey(k.curve);
    readPrivate(key, unhex(forms[0]));
    readPublic(pubKey, unhex(forms[1]));
    EXPECT_TRUE(key == pubKey);
    for (int md : {256, 384, 512}) {
      SCOPED_TRACE(std::string(k.name) + " sha" + std::to_string(md));
      std::string digest = " -sha" + std::to_string(md);
      // Ours, checked by openssl.
      Bytes sig =
          written([&](rdr::OutStream& o) { key.sign(o, (int)data.size(), data.data(), md); });
      Bytes der = unhex(helper({"sig2der " + hexOf(sig)})[0]);
      std::string sigFile = dir.write("sig.der", std::string(der.begin(), der.end()));
      EXPECT_EQ(cryptotest::run("openssl dgst" + digest + " -verify " + pub + " -signature " +
                                sigFile + " " + dataFile),
                "Verified OK\n");
      // Theirs, checked by us.
      cryptotest::run("openssl dgst" + digest + " -sign " + pem + " -out " + sigFile + " " +
                      dataFile);
      Bytes theirs = unhex(helper({"der2sig " + sigFile})[0]);
      rdr::MemInStream in(theirs.data(), (int)theirs.size());
      EXPECT_TRUE(pubKey.verify(in, (int)data.size(), data.data(), md));
      rdr::MemInStream again(theirs.data(), (int)theirs.size());
      EXPECT_EQ(
          errorOf([&] { pubKey.verify(again, 3, "abc", md); }).rfind("Invalid signature: ", 0), 0u);
    }
  }
}

TEST(EcKey, Rfc6979P256Sha256)
{
  EcKey key(EcKey::P256);
  readPrivate(key, unhex("0020c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"));
  Bytes pub = written([&](rdr::OutStream& o) { key.writePublic(o); });
  EXPECT_EQ(hexOf(pub), "fffecd5a4104"
                        "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
                        "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
  struct Case {
    const char *message, *rs;
  };
  // s of "test" has a leading zero byte: both halves keep 32 bytes.
  const Case cases[] = {
      {"sample", "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
                 "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8"},
      {"test", "f1abb023518351cd71d881567b1ea663ed3efcf6c5132b354f28d3b0b7d38367"
               "019f4113742a2b14bd25926b49c649155f267e60d3814b4c0cc84250e46f0083"},
  };
  for (const Case& c : cases) {
    Bytes sig =
        written([&](rdr::OutStream& o) { key.sign(o, (int)strlen(c.message), c.message, 256); });
    EXPECT_EQ(hexOf(sig), std::string("0040") + c.rs);
  }
}

TEST(EcKey, FormsAndRefusals)
{
  EcKey x(EcKey::Curve25519), y(EcKey::Curve25519);
  x.generate();
  y.generate();
  Bytes xPub = written([&](rdr::OutStream& o) { x.writePublic(o); });
  EXPECT_EQ(xPub.size(), 33u);
  EXPECT_EQ(xPub[0], 0x20);
  EcKey back(EcKey::Curve25519);
  plat::MBuf<unsigned char> raw;
  rdr::MemInStream xin(xPub.data(), (int)xPub.size());
  EXPECT_TRUE(back.readPublic(xin, &raw));
  EXPECT_TRUE(back == x);
  EXPECT_EQ(Bytes(raw.data(), raw.data() + raw.length()), xPub);
  plat::MBuf<unsigned char> xy = x.sharedSecret(y), yx = y.sharedSecret(x);
  ASSERT_EQ(xy.length(), 32);
  EXPECT_EQ(cryptotest::hex(xy.data(), 32), cryptotest::hex(yx.data(), yx.length()));
  EXPECT_EQ(x.description(), plat::String("EC key with curve Curve25519"));

  EcKey p(EcKey::P256);
  p.generate();
  Bytes pPub = written([&](rdr::OutStream& o) { p.writePublic(o); });
  ASSERT_EQ(pPub.size(), 70u);
  EXPECT_EQ(hexOf(Bytes(pPub.begin(), pPub.begin() + 6)), "fffecd5a4104");
  Bytes rawPoint = written([&](rdr::OutStream& o) { p.writeRawPublic(o); });
  EXPECT_EQ(rawPoint, Bytes(pPub.begin() + 5, pPub.end()));

  Bytes badMarker = pPub;
  badMarker[3] = 0x5B;
  Bytes offCurve = pPub;
  offCurve.back() ^= 1;
  Bytes compressed(pPub.begin(), pPub.begin() + 4);
  compressed.push_back(33);
  compressed.push_back(0x02 + (pPub.back() & 1));
  compressed.insert(compressed.end(), pPub.begin() + 6, pPub.begin() + 38);
  Bytes infinity = {0xFF, 0xFE, 0xCD, 0x5A, 1, 0};
  struct Refusal {
    EcKey::Curve curve;
    Bytes form;
    const char* error; // the start of the message
    bool isPrivate;
  };
  const Refusal refusals[] = {
      {EcKey::P256, badMarker, "Invalid public key", false},
      {EcKey::P256, offCurve, "Invalid public key: ", false},
      {EcKey::P256, compressed, "Invalid public key", false},
      {EcKey::P256, infinity, "Invalid public key: ", false},
      {EcKey::Curve25519, Bytes(32, 9), "Bad length", false},
      {EcKey::Curve448, publicForm(Bytes(32, 9)), "Bad length", false},
      {EcKey::P256, Bytes{0, 67}, "Invalid private key", true},
      {EcKey::P256, {0, 1, 0}, "Invalid private key: ", true},
      {EcKey::Curve25519, {0, 1, 7}, "Invalid private key: ", true},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(hexOf(r.form));
    EcKey key(r.curve);
    rdr::MemInStream in(r.form.data(), (int)r.form.size());
    std::string error = errorOf([&] { r.isPrivate ? key.readPrivate(in) : key.readPublic(in); });
    EXPECT_EQ(error.rfind(r.error, 0), 0u) << error;
    if (r.error[strlen(r.error) - 1] != ' ') {
      EXPECT_EQ(error, r.error);
    }
  }

  EcKey x448(EcKey::Curve448);
  x448.generate();
  rdr::MemOutStream sink;
  EXPECT_EQ(errorOf([&] { x448.sign(sink, 1, "x", 256); }), "Operation not supported for key type");
  EXPECT_EQ(errorOf([&] { p.sharedSecret(p); }), "Operation not supported for key type");
  for (Bytes sig : {Bytes{0, 0}, Bytes{0, 65}, Bytes{0, 66}}) {
    sig.resize(sig.size() + 66, 1);
    rdr::MemInStream in(sig.data(), (int)sig.size());
    EXPECT_EQ(errorOf([&] { p.verify(in, 1, "x", 256); }), "Invalid signature length");
  }
}

TEST(EcKey, FormsAreReadAtEverySplit)
{
  for (EcKey::Curve curve : {EcKey::Curve25519, EcKey::P384}) {
    EcKey key(curve);
    key.generate();
    Bytes pub = written([&](rdr::OutStream& o) { key.writePublic(o); });
    Bytes priv = written([&](rdr::OutStream& o) { key.writePrivate(o); });
    EcKey other(curve);
    cryptotest::expectIncremental(
        pub, [&](rdr::InStream& in) { return other.readPublic(in); },
        [&] { EXPECT_TRUE(other == key); });
    cryptotest::expectIncremental(
        priv, [&](rdr::InStream& in) { return other.readPrivate(in); },
        [&] {
          EXPECT_TRUE(other == key);
          EXPECT_EQ(written([&](rdr::OutStream& o) { other.writePrivate(o); }), priv);
        });
  }
}

// The scalar made from a seed gives the public key python computes for it.
TEST(EcKey, NcwSeedAgainstPython)
{
  struct Case {
    Bytes seed;
    bool shift;
  };
  std::vector<Case> cases = {{Bytes(32, 0xFF), true},  {Bytes(32, 0xFF), false},
                             {Bytes(32, 0x01), false}, {Bytes(32, 0x01), true},
                             {Bytes(32, 0x5A), false}, {Bytes(32, 0x00), false}};
  std::vector<std::string> requests;
  std::vector<Bytes> publics;
  for (const Case& c : cases) {
    EcKey key(EcKey::Curve25519);
    key.setFromNcwSeed(plat::MBuf<unsigned char>(c.seed.data(), 32), c.shift);
    Bytes priv = written([&](rdr::OutStream& o) { key.writePrivate(o); });
    ASSERT_EQ(priv.size(), 34u);
    EXPECT_EQ(priv[2] & 0xC0, 0x40); // bit 254 is the top bit
    EXPECT_EQ(priv[33] & 7, 0);
    requests.push_back("xpub 25519 " + hexOf(Bytes(priv.begin() + 2, priv.end())));
    Bytes pub = written([&](rdr::OutStream& o) { key.writePublic(o); });
    publics.emplace_back(pub.begin() + 1, pub.end());
  }
  std::vector<std::string> expected = helper(requests);
  for (size_t i = 0; i < cases.size(); i++)
    EXPECT_EQ(hexOf(publics[i]), expected[i]) << i;
  // The two ways of fitting all-ones into range differ only in bit 0..2.
  EcKey a(EcKey::Curve25519);
  a.setFromNcwSeed(plat::MBuf<unsigned char>(Bytes(32, 0xFF).data(), 32), true);
  Bytes d = written([&](rdr::OutStream& o) { a.writePrivate(o); });
  EXPECT_EQ(hexOf(d), "0020" + std::string("7f") + std::string(60, 'f') + "f8");
}

} // namespace
