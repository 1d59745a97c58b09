// RSA keys against openssl: keys made by `openssl genrsa` at test time and
// converted by the python3-cryptography helper; signatures, encryption and
// DER checked both ways. Then the interchange form's incremental reads and
// limits, and key generation (synchronous and in slices on a loop).
#include "crypto/RsaKey.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/MbedTlsException.h"
#include "cryptoTestUtil.h"
#include "io/FdSelectManager.h"
#include "plat/Configuration.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"
#include "testutil.h"

using crypto::PssSalt;
using crypto::RsaExponent;
using crypto::RsaPrivateKey;
using crypto::RsaPublicKey;
using cryptotest::Bytes;
using cryptotest::unhex;
using cryptotest::written;

namespace {

std::vector<std::string> helper(const std::vector<std::string>& requests)
{
  return cryptotest::pubkeyHelper(requests);
}

std::string str(const Bytes& b)
{
  return std::string(b.begin(), b.end());
}
Bytes bytes(const std::string& s)
{
  return Bytes(s.begin(), s.end());
}
Bytes framed(const Bytes& b)
{
  Bytes out{(unsigned char)(b.size() >> 8), (unsigned char)b.size()};
  out.insert(out.end(), b.begin(), b.end());
  return out;
}
// A framed block as written, without its length.
Bytes unframed(const Bytes& b)
{
  EXPECT_GE(b.size(), 2u);
  EXPECT_EQ((size_t)(b[0] << 8 | b[1]), b.size() - 2);
  return Bytes(b.begin() + 2, b.end());
}

using cryptotest::errorOf;

// One 2048-bit key pair from openssl, shared by the suite.
class RsaTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    dir = new tltest::TempDir("rsatest");
    pem = *dir / "key.pem";
    pubPem = *dir / "pub.pem";
    cryptotest::run("openssl genrsa -out " + pem + " 2048 2>/dev/null");
    cryptotest::run("openssl rsa -in " + pem + " -pubout -out " + pubPem + " 2>/dev/null");
    std::vector<std::string> forms =
        helper({"rsapriv " + pem, "rsapub " + pem + " fixed", "rsapub " + pem + " var"});
    privForm = new Bytes(unhex(forms[0]));
    pubFixed = new Bytes(unhex(forms[1]));
    pubVar = new Bytes(unhex(forms[2]));
    priv = new RsaPrivateKey;
    rdr::MemInStream in(privForm->data(), (int)privForm->size());
    EXPECT_TRUE(priv->read(in));
    pub = new RsaPublicKey;
    rdr::MemInStream pin(pubVar->data(), (int)pubVar->size());
    EXPECT_TRUE(pub->read(pin, RsaExponent::Variable));
  }
  static void TearDownTestSuite()
  {
    delete priv;
    delete pub;
    delete privForm;
    delete pubFixed;
    delete pubVar;
    delete dir;
  }

  static std::string file(const std::string& name, const Bytes& content)
  {
    return dir->write(name, str(content));
  }
  static Bytes readFile(const std::string& path) { return bytes(cryptotest::run("cat " + path)); }

  static tltest::TempDir* dir;
  static std::string pem, pubPem;
  static Bytes *privForm, *pubFixed, *pubVar;
  static RsaPrivateKey* priv;
  static RsaPublicKey* pub;
};

tltest::TempDir* RsaTest::dir;
std::string RsaTest::pem, RsaTest::pubPem;
Bytes *RsaTest::privForm, *RsaTest::pubFixed, *RsaTest::pubVar;
RsaPrivateKey* RsaTest::priv;
RsaPublicKey* RsaTest::pub;

const char* const kMd[] = {"", "sha1", "sha256", "sha512"};
const char* mdName(int bits)
{
  return bits == 160 ? kMd[1] : bits == 256 ? kMd[2] : kMd[3];
}

// openssl signs, we verify (whole and framed); we sign, openssl verifies.
// PSS rows name openssl's salt length; our verification with the digest
// length as salt accepts only "digest".
TEST_F(RsaTest, SignaturesAgainstOpenssl)
{
  Bytes data = bytes("message signed by both sides"), other = bytes("another message");
  std::string dataFile = file("data", data), sigFile = *dir / "sig";
  struct Row {
    int md;
    const char* salt; // null: PKCS#1 v1.5
  };
  const Row rows[] = {{256, "0"},   {256, "digest"}, {256, "max"},   {512, "0"},    {512, "digest"},
                      {512, "max"}, {160, nullptr},  {256, nullptr}, {512, nullptr}};
  for (const Row& r : rows) {
    bool pss = r.salt != nullptr;
    bool digestSalt = pss && std::string(r.salt) == "digest";
    std::string dgst = std::string("openssl dgst -") + mdName(r.md);
    std::string opts =
        pss ? std::string(" -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:") : std::string();
    SCOPED_TRACE(dgst + opts + (pss ? r.salt : ""));
    auto verify = [&](const Bytes& sig, const Bytes& msg, PssSalt salt) {
      if (pss)
        pub->verifyPss((int)sig.size(), sig.data(), (int)msg.size(), msg.data(), r.md, salt);
      else
        pub->verifyPkcs1v15((int)sig.size(), sig.data(), (int)msg.size(), msg.data(), r.md);
    };
    cryptotest::run(dgst + " -sign " + pem + opts + (pss ? r.salt : "") + " -out " + sigFile + " " +
                    dataFile);
    Bytes sig = readFile(sigFile);
    EXPECT_EQ(errorOf([&] { verify(sig, data, PssSalt::AnyLength); }), "no error");
    std::string digestOnly = errorOf([&] { verify(sig, data, PssSalt::DigestLength); });
    EXPECT_EQ(digestOnly == "no error", !pss || digestSalt) << digestOnly;
    EXPECT_EQ(
        errorOf([&] { verify(sig, other, PssSalt::AnyLength); }).rfind("RSA verify error: ", 0),
        0u);
    Bytes frame = framed(sig);
    rdr::MemInStream in(frame.data(), (int)frame.size());
    EXPECT_TRUE(
        pss ? pub->readAndVerifyPss(in, (int)data.size(), data.data(), r.md, PssSalt::AnyLength)
            : pub->readAndVerifyPkcs1v15(in, (int)data.size(), data.data(), r.md));
    if (pss && !digestSalt)
      continue;
    Bytes ours = unframed(written([&](rdr::OutStream& o) {
      if (pss)
        priv->signPss(o, (int)data.size(), data.data(), r.md);
      else
        priv->signPkcs1v15(o, (int)data.size(), data.data(), r.md);
    }));
    EXPECT_EQ(cryptotest::run(dgst + " -verify " + pubPem + opts + (pss ? "digest" : "") +
                              " -signature " + file("oursig", ours) + " " + dataFile),
              "Verified OK\n");
  }
}

TEST_F(RsaTest, EncryptionAgainstOpenssl)
{
  Bytes msg = bytes("a secret of some forty-eight bytes, give or take");
  std::string msgFile = file("msg", msg);
  struct Scheme {
    const char* name;
    int md;
    std::string opts;
  };
  const Scheme schemes[] = {
      {"OAEP-256", 256,
       " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256"},
      {"OAEP-512", 512,
       " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha512 -pkeyopt rsa_mgf1_md:sha512"},
      {"PKCS1", 0, " -pkeyopt rsa_padding_mode:pkcs1"},
  };
  for (const Scheme& s : schemes) {
    SCOPED_TRACE(s.name);
    Bytes ours = unframed(written([&](rdr::OutStream& o) {
      if (s.md)
        pub->encryptOaep(o, (int)msg.size(), msg.data(), s.md);
      else
        pub->encryptPkcs1v15(o, (int)msg.size(), msg.data());
    }));
    EXPECT_EQ(cryptotest::run("openssl pkeyutl -decrypt -inkey " + pem + " -in " +
                              file("ct", ours) + s.opts),
              str(msg));
    std::string theirs = *dir / "theirs";
    cryptotest::run("openssl pkeyutl -encrypt -pubin -inkey " + pubPem + " -in " + msgFile +
                    " -out " + theirs + s.opts);
    Bytes frame = framed(readFile(theirs));
    rdr::MemInStream in(frame.data(), (int)frame.size());
    plat::MBuf<unsigned char> plain;
    EXPECT_TRUE(s.md ? priv->readAndDecryptOaep(in, plain, s.md)
                     : priv->readAndDecryptPkcs1v15(in, plain, -1));
    EXPECT_EQ(Bytes(plain.data(), plain.data() + plain.length()), msg);
    EXPECT_TRUE(plain.isSecure());
  }
  // A block that openssl signs over raw bytes comes back in public mode.
  std::string block = *dir / "block";
  cryptotest::run("openssl pkeyutl -sign -inkey " + pem + " -in " + msgFile + " -out " + block +
                  " -pkeyopt rsa_padding_mode:pkcs1");
  Bytes frame = framed(readFile(block));
  rdr::MemInStream in(frame.data(), (int)frame.size());
  plat::MBuf<unsigned char> raw;
  EXPECT_TRUE(pub->readAndDecryptPublic(in, raw));
  EXPECT_EQ(Bytes(raw.data(), raw.data() + raw.length()), msg);
}

TEST_F(RsaTest, Pkcs1DecryptWithExpectedLengthAnswersRandomBytes)
{
  Bytes msg48(48, 'x'), msg20(20, 'y');
  Bytes oaep = written([&](rdr::OutStream& o) { pub->encryptOaep(o, 48, msg48.data(), 256); });
  Bytes short20 = written([&](rdr::OutStream& o) { pub->encryptPkcs1v15(o, 20, msg20.data()); });
  Bytes right48 = written([&](rdr::OutStream& o) { pub->encryptPkcs1v15(o, 48, msg48.data()); });
  struct Case {
    const Bytes* ciphertext;
    int expected;
    const char* log; // prefix of the one log line; null for none
    const char* error;
  };
  const Case cases[] = {
      {&oaep, 48, "Ignoring RSA decrypt error (PKCS#1 v1.5 padding: RSA decrypt error: ", nullptr},
      {&short20, 48, "Ignoring RSA decrypt length mismatch", nullptr},
      {&right48, 48, nullptr, nullptr},
      {&short20, -1, nullptr, nullptr},
      {&oaep, -1, nullptr, "RSA decrypt error: "},
  };
  std::vector<Bytes> randoms;
  for (const Case& c : cases) {
    tltest::LogCapture capture("RsaPrivateKey");
    rdr::MemInStream in(c.ciphertext->data(), (int)c.ciphertext->size());
    plat::MBuf<unsigned char> out;
    std::string error =
        errorOf([&] { EXPECT_TRUE(priv->readAndDecryptPkcs1v15(in, out, c.expected)); });
    std::vector<std::string> lines = capture.lines();
    if (c.error) {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
      continue;
    }
    EXPECT_EQ(error, "no error");
    Bytes got(out.data(), out.data() + out.length());
    if (c.log) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind(c.log, 0), 0u) << lines[0];
      EXPECT_EQ(capture.levels()[0], 100);
      EXPECT_EQ((int)got.size(), c.expected);
      EXPECT_NE(got, msg48);
      randoms.push_back(got);
    } else {
      EXPECT_TRUE(lines.empty());
      EXPECT_EQ(got, c.ciphertext == &short20 ? msg20 : msg48);
    }
  }
  ASSERT_EQ(randoms.size(), 2u);
  EXPECT_NE(randoms[0], randoms[1]);
}

TEST_F(RsaTest, PemDerAndBundles)
{
  std::string derFile = *dir / "pub.der";
  cryptotest::run("openssl rsa -in " + pem + " -RSAPublicKey_out -outform DER -out " + derFile +
                  " 2>/dev/null");
  plat::MBuf<unsigned char> der = pub->der();
  EXPECT_EQ(Bytes(der.data(), der.data() + der.length()), readFile(derFile));

  std::string pemText = cryptotest::run("cat " + pubPem);
  RsaPublicKey fromPem;
  fromPem.setFromText(pemText.c_str());
  EXPECT_TRUE(fromPem == *pub);
  cryptotest::run("openssl rsa -in " + pem + " -pubout -outform DER -out " + derFile +
                  " 2>/dev/null");
  Bytes spki = readFile(derFile);
  RsaPublicKey fromDer;
  fromDer.setFromText((const char*)spki.data(), (int)spki.size());
  EXPECT_TRUE(fromDer == *pub);
  EXPECT_EQ(fromDer.description(), plat::String("RSA key with 2048 bits"));

  std::string other =
      cryptotest::run("openssl genrsa 1024 2>/dev/null | openssl rsa -pubout 2>/dev/null");
  std::string ec = cryptotest::run(
      "openssl ecparam -name prime256v1 -genkey -noout | openssl ec -pubout 2>/dev/null");
  std::string bundle = "before\n" + pemText + "between\n" + ec + other + "after\n";
  std::vector<RsaPublicKey> keys = RsaPublicKey::keysFromBundle(bundle.c_str());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0] == *pub);
  EXPECT_EQ(keys[1].bits(), 1024);
  EXPECT_TRUE(RsaPublicKey::keysFromBundle("no keys here").empty());
  EXPECT_TRUE(RsaPublicKey::keysFromBundle(nullptr).empty());

  RsaPublicKey key;
  EXPECT_EQ(errorOf([&] { key.setFromText(ec.c_str()); }),
            "Invalid key type, expected an RSA public key");
  EXPECT_EQ(errorOf([&] {
              key.setFromText("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
            }).rfind("mbedtls_pk_parse_public_key: ", 0),
            0u);
}

TEST_F(RsaTest, CopiesAndSelfAssignmentKeepTheKey)
{
  RsaPublicKey copy(*pub);
  EXPECT_TRUE(copy == *pub);
  RsaPublicKey& same = copy;
  copy = same;
  EXPECT_TRUE(copy == *pub);
  EXPECT_EQ(copy.bits(), 2048);
  RsaPublicKey empty;
  copy = empty;
  EXPECT_EQ(copy.bits(), 0);
  EXPECT_TRUE(copy != *pub);
}

TEST_F(RsaTest, InterchangeFormsAreReadAtEverySplit)
{
  for (RsaExponent e : {RsaExponent::Fixed, RsaExponent::Variable}) {
    const Bytes& form = e == RsaExponent::Fixed ? *pubFixed : *pubVar;
    RsaPublicKey key;
    cryptotest::expectIncremental(
        form, [&](rdr::InStream& in) { return key.read(in, e); },
        [&] {
          EXPECT_TRUE(key == *pub);
          EXPECT_EQ(written([&](rdr::OutStream& o) { key.write(o, e); }), form);
        });
  }
  RsaPrivateKey key;
  cryptotest::expectIncremental(
      *privForm, [&](rdr::InStream& in) { return key.read(in); },
      [&] { EXPECT_EQ(written([&](rdr::OutStream& o) { key.write(o); }), *privForm); });
  // The private form begins with the public one.
  RsaPublicKey fromPrivate;
  rdr::MemInStream in(privForm->data(), (int)privForm->size());
  EXPECT_TRUE(fromPrivate.read(in, RsaExponent::Fixed));
  EXPECT_TRUE(fromPrivate == *pub);
}

TEST_F(RsaTest, FramedBlocksAreReadAtEverySplit)
{
  Bytes data = bytes("framed");
  Bytes sig = written([&](rdr::OutStream& o) { priv->signPss(o, 6, data.data(), 256); });
  cryptotest::expectIncremental(
      sig,
      [&](rdr::InStream& in) {
        return pub->readAndVerifyPss(in, 6, data.data(), 256, PssSalt::DigestLength);
      },
      [] {});
  // A read left unfinished on a stream that is gone starts again on the next.
  {
    cryptotest::PieceStream gone(sig, false);
    gone.avail = 100;
    EXPECT_FALSE(pub->readAndVerifyPss(gone, 6, data.data(), 256, PssSalt::DigestLength));
  }
  rdr::MemInStream next(sig.data(), (int)sig.size());
  EXPECT_TRUE(pub->readAndVerifyPss(next, 6, data.data(), 256, PssSalt::DigestLength));
}

Bytes u32(uint32_t v)
{
  return {(unsigned char)(v >> 24), (unsigned char)(v >> 16), (unsigned char)(v >> 8),
          (unsigned char)v};
}
Bytes cat(std::initializer_list<Bytes> parts)
{
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(RsaInterchange, Limits)
{
  Bytes e3 = {0, 3, 1, 0, 1};
  struct Case {
    const char* name;
    Bytes form;
    const char* error;
    int bits;
  };
  const Case cases[] = {
      {"511 bits", cat({u32(511), Bytes(64, 0xFF), e3}), "Unsupported RSA key length", 0},
      {"8193 bits", cat({u32(8193), Bytes(1025, 0xFF), e3}), "Unsupported RSA key length", 0},
      {"512 bits", cat({u32(512), Bytes(64, 0xFF), e3}), nullptr, 512},
      {"8192 bits", cat({u32(8192), Bytes(1024, 0xFF), e3}), nullptr, 8192},
      {"no key", u32(0xFFFFFFFF), nullptr, 0},
      {"zero modulus", cat({u32(512), Bytes(64, 0), e3}), "bigNumReadF invalid bytes", 0},
      {"long exponent", cat({u32(512), Bytes(64, 0xFF), {0, 65}, Bytes(65, 1)}),
       "bigNumReadV overflow", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RsaPublicKey key;
    rdr::MemInStream in(c.form.data(), (int)c.form.size());
    std::string error = errorOf([&] { EXPECT_TRUE(key.read(in, RsaExponent::Variable)); });
    EXPECT_EQ(error, c.error ? c.error : "no error");
    EXPECT_EQ(key.bits(), c.bits);
    if (!c.error) {
      EXPECT_EQ(written([&](rdr::OutStream& o) { key.write(o, RsaExponent::Variable); }), c.form);
    }
  }
}

TEST_F(RsaTest, WrongSignatureLengthsAreNamed)
{
  Bytes sig(255, 1), data = bytes("x");
  EXPECT_EQ(
      errorOf([&] { pub->verifyPss(255, sig.data(), 1, data.data(), 256, PssSalt::AnyLength); }),
      "RSA verify error: bad length 255 (should be 256)");
  Bytes frame = framed(sig);
  rdr::MemInStream in(frame.data(), (int)frame.size());
  EXPECT_EQ(errorOf([&] { pub->readAndVerifyPss(in, 1, data.data(), 256, PssSalt::AnyLength); }),
            "RSA decrypt/check error: bad length 255 (should be 256)");
}

// --- Generation ------------------------------------------------------------------

class GenerateTest : public ::testing::Test, public RsaPrivateKey::GenerateCallback {
protected:
  void rsaKeyGenerated(RsaPrivateKey* key) override
  {
    EXPECT_EQ(key, &key_);
    calls_++;
    ticksAtDone_ = ticks_;
    doneAt_ = plat::getMonoTime();
  }
  void TearDown() override
  {
    plat::Configuration::global().get("RsaModulusBits").setParam("2048", 30);
  }

  // E = 65537, the exact size, P > Q, the library's check and openssl's.
  void expectSound(int bits)
  {
    EXPECT_EQ(key_.bits(), bits);
    key_.check();
    Bytes form = written([&](rdr::OutStream& o) { key_.write(o); });
    int b = (bits + 7) / 8, h = (((bits + 1) / 2) + 7) / 8;
    Bytes e(form.begin() + 4 + b, form.begin() + 4 + 2 * b);
    EXPECT_EQ(Bytes(e.end() - 3, e.end()), (Bytes{1, 0, 1}));
    EXPECT_EQ(std::count(e.begin(), e.end() - 3, 0), b - 3);
    Bytes p(form.begin() + 4 + 3 * b, form.begin() + 4 + 3 * b + h);
    Bytes q(form.begin() + 4 + 3 * b + h, form.begin() + 4 + 3 * b + 2 * h);
    EXPECT_GT(p, q);
    tltest::TempDir dir("rsagen");
    helper({"rsapem " + cryptotest::hexOf(form) + " " + dir / "k.pem"});
    EXPECT_EQ(cryptotest::run("openssl rsa -check -noout -in " + dir / "k.pem"), "RSA key ok\n");
  }

  RsaPrivateKey key_;
  int calls_ = 0;
  int ticks_ = 0;
  int ticksAtDone_ = -1;
  plat::Time doneAt_ = 0;
};

TEST_F(GenerateTest, Synchronous)
{
  for (int bits : {1024, 2048}) {
    plat::Configuration::global().get("RsaModulusBits").setParam(std::to_string(bits).c_str(), 30);
    calls_ = 0;
    key_.generate(this, RsaPrivateKey::Generation::Synchronous);
    EXPECT_EQ(calls_, 1);
    EXPECT_FALSE(key_.isGenerating());
    expectSound(bits);
  }
}

// Slices run from a timer while another timer keeps firing between them.
TEST_F(GenerateTest, InSlicesOnARunningLoop)
{
  io::FdSelectManager loop;
  struct Ticker : plat::Timer::Callback {
    explicit Ticker(int& n) : count(n) {}
    bool timerExpired(plat::Timer*) override
    {
      count++;
      return true;
    }
    int& count;
  } ticker(ticks_);
  plat::Timer tick(&ticker);
  for (int bits : {1024, 2047}) {
    plat::Configuration::global().get("RsaModulusBits").setParam(std::to_string(bits).c_str(), 30);
    calls_ = 0;
    ticks_ = 0;
    tick.start(1);
    plat::Time started = plat::getMonoTime();
    key_.generate(this, RsaPrivateKey::Generation::Asynchronous);
    EXPECT_EQ(calls_, 0);
    EXPECT_TRUE(key_.isGenerating());
    plat::Time limit = plat::getMonoTime() + 600 * plat::kTicksPerSecond;
    while (calls_ == 0 && plat::getMonoTime() < limit)
      loop.processOnce(1000);
    for (int i = 0; i < 3; i++)
      loop.processOnce(5);
    tick.stop();
    EXPECT_EQ(calls_, 1);
    // A key found within its first 10-ms slice leaves no gap for the ticker;
    // one that took several slices must have let it run between them.
    if (doneAt_ - started > 50 * plat::kTicksPerSecond / 1000) {
      EXPECT_GT(ticksAtDone_, 0);
    }
    expectSound(bits);
  }
}

} // namespace
