// Digests and HMAC against Python's hashlib/hmac and `openssl dgst`.
#include "crypto/Hmac.h"
#include "crypto/Sha.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cryptoTestUtil.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

using crypto::Hmac;
using crypto::Sha;

namespace {

typedef std::vector<unsigned char> Bytes;

const int kSizes[] = {160, 224, 256, 384, 512};
// Around the 64- and 128-byte block and padding boundaries.
const int kLengths[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 300, 1000};
// Empty, short, exactly one SHA-256 block, one over (hashed first), the
// 131 bytes of RFC 4231, and beyond the SHA-512 block.
const int kKeyLengths[] = {0, 20, 64, 65, 128, 131, 200};

Bytes randomBytes(std::mt19937& rng, int n)
{
  Bytes b(n);
  for (unsigned char& c : b)
    c = static_cast<unsigned char>(rng());
  return b;
}

using cryptotest::hex;
std::string hex(const Bytes& b)
{
  return hex(b.data(), b.size());
}

std::vector<std::string> python(const std::vector<std::string>& requests)
{
  std::string input;
  for (const std::string& r : requests)
    input += r + "\n";
  std::string path = cryptotest::writeTemp(input.data(), input.size());
  std::vector<std::string> out = cryptotest::split(
      cryptotest::run("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/crypto_reference.py < " + path),
      "\n");
  unlink(path.c_str());
  EXPECT_EQ(out.size(), requests.size());
  out.resize(requests.size());
  return out;
}

// The first word of `openssl dgst -r` output.
std::string opensslDgst(const std::string& args, const Bytes& data)
{
  std::string path = cryptotest::writeTemp(data.data(), data.size());
  std::string out = cryptotest::run("openssl dgst -r " + args + " " + path);
  unlink(path.c_str());
  return out.substr(0, out.find(' '));
}

std::string ourDigest(int bits, const Bytes& data)
{
  plat::MBuf<unsigned char> out;
  Sha::digest(bits, static_cast<int>(data.size()), data.data(), out, true);
  return hex(out.data(), out.length());
}

// The same message in uneven pieces through one reused object.
std::string ourDigestPieces(Sha& sha, const Bytes& data, std::mt19937& rng)
{
  sha.start();
  size_t at = 0;
  while (at < data.size()) {
    size_t n = std::min<size_t>(rng() % 70, data.size() - at);
    sha.update(static_cast<int>(n), data.data() + at);
    at += n;
  }
  unsigned char out[64];
  sha.final(out, sizeof(out));
  return hex(out, sha.getDigestBytes());
}

std::string ourHmac(Hmac& h, const Bytes& data, std::mt19937& rng)
{
  size_t at = 0;
  while (at < data.size()) {
    size_t n = std::min<size_t>(rng() % 70, data.size() - at);
    h.update(static_cast<int>(n), data.data() + at);
    at += n;
  }
  unsigned char out[64];
  h.final(out, sizeof(out));
  h.reset();
  return hex(out, h.getDigestBytes());
}

struct Case {
  int bits;
  Bytes key; // HMAC cases only
  Bytes data;
  bool hmac;
};

std::vector<Case> makeCases()
{
  std::mt19937 rng(1234);
  std::vector<Case> cases;
  for (int bits : kSizes) {
    for (int len : kLengths)
      cases.push_back({bits, {}, randomBytes(rng, len), false});
    for (int keyLen : kKeyLengths)
      cases.push_back({bits, randomBytes(rng, keyLen), randomBytes(rng, rng() % 300), true});
  }
  return cases;
}

} // namespace

TEST(Sha, DigestsAndHmacMatchPython)
{
  std::vector<Case> cases = makeCases();
  std::vector<std::string> requests;
  for (const Case& c : cases)
    requests.push_back(c.hmac ? "hmac " + std::to_string(c.bits) + " " + hex(c.key) + " " + hex(c.data)
                              : "sha " + std::to_string(c.bits) + " " + hex(c.data));
  std::vector<std::string> want = python(requests);

  std::mt19937 rng(99);
  for (size_t i = 0; i < cases.size(); i++) {
    const Case& c = cases[i];
    SCOPED_TRACE(requests[i].substr(0, 60));
    if (!c.hmac) {
      EXPECT_EQ(ourDigest(c.bits, c.data), want[i]);
      Sha sha(c.bits, true);
      EXPECT_EQ(ourDigestPieces(sha, c.data, rng), want[i]);
      // The object restarts cleanly for a second message.
      EXPECT_EQ(ourDigestPieces(sha, c.data, rng), want[i]);
    } else {
      // A reused object after reset and a fresh one agree.
      Hmac h(c.bits, static_cast<int>(c.key.size()), c.key.data());
      EXPECT_EQ(ourHmac(h, c.data, rng), want[i]);
      EXPECT_EQ(ourHmac(h, c.data, rng), want[i]);
      plat::MBuf<unsigned char> key(c.key.data(), static_cast<int>(c.key.size()));
      Hmac fromBuf(c.bits, key);
      EXPECT_EQ(ourHmac(fromBuf, c.data, rng), want[i]);
    }
  }
}

TEST(Sha, DigestsAndHmacMatchOpenssl)
{
  std::mt19937 rng(77);
  const char* names[] = {"-sha1", "-sha224", "-sha256", "-sha384", "-sha512"};
  for (int s = 0; s < 5; s++) {
    for (int len : {0, 64, 129, 1000}) {
      Bytes data = randomBytes(rng, len);
      Bytes key = randomBytes(rng, 1 + rng() % 150);
      EXPECT_EQ(ourDigest(kSizes[s], data), opensslDgst(names[s], data));
      Hmac h(kSizes[s], static_cast<int>(key.size()), key.data());
      EXPECT_EQ(ourHmac(h, data, rng),
                opensslDgst(std::string(names[s]) + " -mac HMAC -macopt hexkey:" + hex(key), data));
    }
  }
}

TEST(Sha, SizesOutsideTheListAndUndeclaredSha1AreFatal)
{
  EXPECT_DEATH(Sha(160, false), "digestBits == 160 && allowSha1ForLegacyCode");
  EXPECT_DEATH(Sha(200, true), "digestBits == 512");
  EXPECT_DEATH(
      {
        Sha sha(256, false);
        unsigned char small[31];
        sha.final(small, sizeof(small));
      },
      "bufSize >= digestBits/8");
}

TEST(Sha, SavedStateContinuesInAnotherObject)
{
  std::mt19937 rng(5);
  for (int bits : kSizes) {
    SCOPED_TRACE(bits);
    Bytes data = randomBytes(rng, 300);
    rdr::MemOutStream saved;
    {
      Sha first(bits, true);
      first.update(100, data.data());
      first.writeState(saved);
    }
    rdr::MemInStream in(saved.data(), static_cast<int>(saved.length()));
    Sha second(bits, true);
    second.readState(in);
    EXPECT_EQ(in.nUnread(), 0);
    second.update(200, data.data() + 100);
    unsigned char out[64];
    second.final(out, sizeof(out));
    EXPECT_EQ(hex(out, bits / 8), ourDigest(bits, data));

    Hmac h1(bits, 10, data.data());
    h1.update(100, data.data());
    rdr::MemOutStream hs;
    h1.writeState(hs);
    rdr::MemInStream hin(hs.data(), static_cast<int>(hs.length()));
    Hmac h2(bits, 0, nullptr);
    h2.readState(hin);
    h1.update(50, data.data() + 100);
    h2.update(50, data.data() + 100);
    unsigned char o1[64], o2[64];
    h1.final(o1, sizeof(o1));
    h2.final(o2, sizeof(o2));
    EXPECT_EQ(hex(o1, bits / 8), hex(o2, bits / 8));
  }
  // A SHA-256 state does not load into a SHA-224 object.
  rdr::MemOutStream s256;
  Sha(256, false).writeState(s256);
  rdr::MemInStream in(s256.data(), static_cast<int>(s256.length()));
  Sha sha224(224, false);
  EXPECT_THROW(sha224.readState(in), plat::Exception);
}

TEST(Sha, DigestStreamReadsToTheEnd)
{
  std::mt19937 rng(8);
  for (int len : {0, 5000, 10000}) {
    Bytes data = randomBytes(rng, len);
    rdr::MemInStream in(data.data(), len);
    plat::MBuf<unsigned char> d = Sha::digestStream(256, in, false);
    EXPECT_EQ(hex(d.data(), d.length()), ourDigest(256, data)) << len;
    EXPECT_EQ(in.nUnread(), 0);
  }
}

namespace {

// SHA-224 and SHA-256 on the portable code and, where the CPU has them, on
// its SHA extensions.
std::vector<bool> sha256Paths()
{
  Sha::setPortableSha256ForTests(true);
  std::vector<bool> portable = {true};
  Sha::setPortableSha256ForTests(false);
  if (Sha::usesSha256Extensions())
    portable.push_back(false);
  return portable;
}

} // namespace

// The examples of FIPS 180-4 (one block, two blocks, the padding spilling
// into a block of its own, a million bytes), on every path.
TEST(Sha, Sha256MatchesTheStandardsExamples)
{
  struct Vector {
    std::string message;
    const char* sha256;
    const char* sha224;
  };
  const Vector vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
       "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
       "mnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
       "c97ca9a559850ce97a04a96def6d99a9e0e0e2ab14e6b8df265fc0b3"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
       "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
  };
  for (bool portable : sha256Paths()) {
    Sha::setPortableSha256ForTests(portable);
    for (const Vector& v : vectors) {
      SCOPED_TRACE(std::to_string(v.message.size()) + (portable ? " bytes, portable" : " bytes, extensions"));
      Bytes m(v.message.begin(), v.message.end());
      EXPECT_EQ(ourDigest(256, m), v.sha256);
      EXPECT_EQ(ourDigest(224, m), v.sha224);
    }
  }
  Sha::setPortableSha256ForTests(false);
}

// Random messages fed in pieces that end at every kind of place relative
// to the 64-byte block (empty, inside, one short of its end, at it, one
// past, whole blocks from aligned and unaligned starts), each piece on a
// path drawn at random, so the paths also take over each other's state;
// against hashlib.
TEST(Sha, Sha256InPiecesMatchesHashlib)
{
  std::mt19937 rng(2024);
  struct Case {
    int bits;
    Bytes data;
    std::vector<size_t> pieces;
  };
  std::vector<Case> cases;
  for (int i = 0; i < 120; i++) {
    Case c;
    c.bits = i % 2 ? 224 : 256;
    c.data = randomBytes(rng, i < 100 ? (int)(rng() % 700) : (int)(rng() % 70000));
    for (size_t at = 0; at < c.data.size();) {
      const size_t offset = at % 64, left = c.data.size() - at;
      size_t n = 0;
      switch (rng() % 7) {
      case 0: n = 0; break;
      case 1: n = rng() % 64; break;
      case 2: n = 63 - offset; break;
      case 3: n = 64 - offset; break;
      case 4: n = 65 - offset; break;
      case 5: n = 64 * (1 + rng() % 20); break;
      case 6: n = 64 - offset + 64 * (rng() % 20); break;
      }
      n = std::min(n, left);
      c.pieces.push_back(n);
      at += n;
    }
    cases.push_back(c);
  }
  std::vector<std::string> requests;
  for (const Case& c : cases)
    requests.push_back("sha " + std::to_string(c.bits) + " " + hex(c.data));
  std::vector<std::string> want = python(requests);

  const std::vector<bool> paths = sha256Paths();
  for (size_t i = 0; i < cases.size(); i++) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::to_string(c.bits) + " of " + std::to_string(c.data.size()) + " bytes");
    Sha sha(c.bits, false);
    size_t at = 0;
    for (size_t n : c.pieces) {
      Sha::setPortableSha256ForTests(paths[rng() % paths.size()]);
      sha.update((int)n, c.data.data() + at);
      at += n;
    }
    Sha::setPortableSha256ForTests(paths[rng() % paths.size()]);
    unsigned char out[32];
    sha.final(out, sizeof(out));
    EXPECT_EQ(hex(out, (size_t)c.bits / 8), want[i]);
  }
  Sha::setPortableSha256ForTests(false);
}

// Short runs of blocks take the portable code until a long run has asked the
// CPU; a digest that changes paths on the way (in a process that has not
// asked yet, as each test case under ctest) still gives the standard's value.
TEST(Sha, PathChangeWithinOneDigest)
{
  Bytes m(1000000, 'a');
  Sha sha(256, false);
  sha.update(100, m.data());
  sha.update(static_cast<int>(m.size()) - 100, m.data() + 100);
  unsigned char out[32];
  sha.final(out, sizeof(out));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", hex(out, 32));
}
