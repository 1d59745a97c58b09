// Message digests: SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512.
//
// The one digest class of the system. SHA-1 is refused (a fatal assertion)
// unless the caller states that an existing format needs it. The context is
// allocated once per object and wiped when freed, so one object can digest
// many messages without allocating. A plain value with no shared state: one
// thread at a time per object, any number of objects at once.
//
// SHA-224 and SHA-256 run their blocks on the CPU's SHA extensions where it
// has them (x86), else on the library's portable code; both keep the same
// running state, so saved states move between machines.
#pragma once

#include "plat/MBuf.h"

#include "rdr/Forward.h"

namespace crypto {

class Sha {
public:
  // digestBits: 224, 256, 384, 512, or 160 with allowSha1ForLegacyCode.
  Sha(int digestBits, bool allowSha1ForLegacyCode);
  ~Sha();
  Sha(const Sha&) = delete;
  Sha& operator=(const Sha&) = delete;

  int getDigestBits() const { return digestBits_; }
  int getDigestBytes() const { return digestBits_ / 8; }

  // Restarts the digest (the object is started on construction).
  void start();
  void update(int length, const void* data);
  // Writes getDigestBytes() bytes; bufferSize must allow them. Start again
  // before the next message.
  void final(unsigned char* buffer, int bufferSize);

  // Takes over the running state of a digest of the same size (to resume
  // from a saved point without digesting again).
  void copyStateFrom(const Sha& other);

  // The running state, host byte order (the library context's raw fields).
  // readState accepts only the state of a digest of this object's size.
  void writeState(rdr::OutStream& out) const;
  void readState(rdr::InStream& in);

  // One-shot digest; out becomes digestBits/8 bytes (its secure flag kept).
  static void digest(int digestBits, int length, const void* data, plat::MBuf<unsigned char>& out,
                     bool allowSha1ForLegacyCode);
  // Digests everything the stream holds now, up to its end; stops early
  // when the stream would wait.
  static plat::MBuf<unsigned char> digestStream(int digestBits, rdr::InStream& in,
                                                bool allowSha1ForLegacyCode);

  // Whether SHA-224 and SHA-256 use the CPU's SHA extensions.
  static bool usesSha256Extensions();
#ifdef TL_TEST_HOOKS
  // Makes SHA-224 and SHA-256 use the portable code (true) or whatever the
  // CPU offers (false), so that tests check both on one machine.
  static void setPortableSha256ForTests(bool portable);
#endif

private:
  struct Context;

  int digestBits_;
  Context* ctx_;
};

} // namespace crypto
