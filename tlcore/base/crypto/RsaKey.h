// RSA public and private keys over mbedtls.
//
// Keys travel in the system's interchange form: a 32-bit bit count
// (FF FF FF FF for no key), then N and E, and for a private key D, P, Q,
// DP, DQ and QP, all big-endian. Reads are incremental: read() answers
// false while the stream has not delivered the whole key, keeps what came
// in the key object, and is called again when more data arrives; it never
// waits and never lets rdr::BlockException out. Signatures and ciphertexts
// travel framed: a 16-bit length (the modulus size), then the bytes.
//
// Library failures are MbedTlsException, malformed numbers BigNumOverflow.
// Keys are single-owner values, used on one thread; randomness comes from
// the process-wide generator (mbedTlsRandom). Private material lives in
// the mbedtls context, which wipes it when freed.
#pragma once

#include <memory>
#include <vector>

#include "plat/MBuf.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "rdr/Forward.h"

namespace crypto {

struct RsaKeyImpl;

// How the public exponent is written: in the modulus's size, or as a
// 16-bit length and its own minimal bytes.
enum class RsaExponent { Fixed, Variable };
// The salt length a PSS verification accepts.
enum class PssSalt { DigestLength, AnyLength };

// What both key kinds share: the mbedtls context and the progress of a read.
class RsaKey {
public:
  // Modulus length in bits; 0 for an empty key.
  int bits() const;
  // "RSA key with %d bits".
  plat::String description() const;

protected:
  RsaKey();
  ~RsaKey();
  RsaKey(const RsaKey&) = delete;
  RsaKey& operator=(const RsaKey&) = delete;

  std::unique_ptr<RsaKeyImpl> impl_;
};

class RsaPublicKey : public RsaKey {
public:
  RsaPublicKey();
  RsaPublicKey(const RsaPublicKey& other);
  RsaPublicKey& operator=(const RsaPublicKey& other);
  RsaPublicKey(RsaPublicKey&& other) noexcept;
  ~RsaPublicKey();

  // N and E both equal.
  bool operator==(const RsaPublicKey& other) const;
  bool operator!=(const RsaPublicKey& other) const { return !(*this == other); }

  // --- Interchange form
  bool read(rdr::InStream& in, RsaExponent exponent);
  void write(rdr::OutStream& out, RsaExponent exponent) const;

  // --- PEM and DER
  // A PEM or DER public key (SubjectPublicKeyInfo or PKCS#1); length -1
  // means a NUL-terminated text.
  void setFromText(const char* text, int length = -1);
  // Every RSA public key in a text of PEM blocks; blocks that are no RSA
  // public key are skipped.
  static std::vector<RsaPublicKey> keysFromBundle(const char* text);
  // The PKCS#1 RSAPublicKey.
  plat::MBuf<unsigned char> der() const;

  // --- Signatures (true, or they throw)
  // digestBits 256 or 512; MGF1 over the same digest.
  bool verifyPss(int sigLength, const unsigned char* sig, int length, const void* data,
                 int digestBits, PssSalt salt);
  // digestBits 160, 256 or 512.
  void verifyPkcs1v15(int sigLength, const unsigned char* sig, int length, const void* data,
                      int digestBits);
  // A framed signature from the stream, then verified; false while it has
  // not all come.
  bool readAndVerifyPss(rdr::InStream& in, int length, const void* data, int digestBits,
                        PssSalt salt);
  bool readAndVerifyPkcs1v15(rdr::InStream& in, int length, const void* data, int digestBits);

  // --- Encryption: the framed ciphertext is written to out
  void encryptOaep(rdr::OutStream& out, int length, const void* data, int digestBits);
  void encryptPkcs1v15(rdr::OutStream& out, int length, const void* data);
  // A framed block made with the private key (PKCS#1 v1.5 signature
  // padding over raw bytes), unpadded with the public key.
  bool readAndDecryptPublic(rdr::InStream& in, plat::MBuf<unsigned char>& out);
};

class RsaPrivateKey : public RsaKey, private plat::Timer::Callback {
public:
  class GenerateCallback {
  public:
    // Called once, when the key is complete.
    virtual void rsaKeyGenerated(RsaPrivateKey* key) = 0;

  protected:
    ~GenerateCallback() = default;
  };
  enum class Generation { Synchronous, Asynchronous };

  RsaPrivateKey();
  // Stops a generation in progress.
  ~RsaPrivateKey() override;

  // --- Interchange form (the public form with the fixed exponent first)
  bool read(rdr::InStream& in);
  void write(rdr::OutStream& out) const;

  // --- Signatures, written framed to out
  // digestBits 256 or 512.
  void signPss(rdr::OutStream& out, int length, const void* data, int digestBits);
  // digestBits 160, 256 or 512.
  void signPkcs1v15(rdr::OutStream& out, int length, const void* data, int digestBits);

  // --- Decryption of framed ciphertexts; false while incomplete
  bool readAndDecryptOaep(rdr::InStream& in, plat::MBuf<unsigned char>& out, int digestBits);
  // With expectedLength >= 0, bad padding or another length gives that
  // many random bytes instead of an error (no padding oracle); -1 lets
  // every error through.
  bool readAndDecryptPkcs1v15(rdr::InStream& in, plat::MBuf<unsigned char>& out,
                              int expectedLength);

  // Throws MbedTlsException "RSA key invalid" when the key is inconsistent.
  void check() const;

  // Makes a new key of RsaModulusBits bits with E = 65537. Synchronous
  // generation calls back before it returns; asynchronous generation runs
  // in slices of about 10 ms from a timer on the calling thread's loop and
  // calls back from the last. The callback is borrowed; one generation at
  // a time.
  void generate(GenerateCallback* callback, Generation mode);
  bool isGenerating() const { return generateBits_ != 0; }

private:
  bool timerExpired(plat::Timer* timer) override;
  // One slice; true when the key is complete (and the callback called).
  bool generateSlice();

  int generateBits_ = 0;
  plat::Timer timer_;
  GenerateCallback* generateCb_ = nullptr;
};

} // namespace crypto
