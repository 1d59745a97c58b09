// Numbers of the key interchange forms over mbedtls bignums, and the
// progress of an incremental key read. Shared by the RSA and EC keys.
#pragma once

#include <mbedtls/bignum.h>
#include <stdint.h>

#include "plat/MBuf.h"
#include "rdr/BufferedInStream.h"

namespace crypto {

// Where a key read that the stream interrupted stands: the next field, the
// length prefix already read for it, and the bytes gathered so far (in a
// secure buffer). Every completed field moves the stream's checkpoint past
// it, so nothing is read twice and nothing waits.
class FieldCursor {
public:
  FieldCursor() : scratch_(0, true) {}
  FieldCursor(const FieldCursor&) = delete;
  FieldCursor& operator=(const FieldCursor&) = delete;

  // Called first by every read: progress made on another stream is
  // forgotten, as its item cannot continue on this one. Streams are told
  // apart by serial number, since a new one may live where a dead one did.
  void attach(rdr::InStream& in)
  {
    if (stream_ != in.serial()) {
      reset();
      stream_ = in.serial();
    }
  }
  // The next len bytes once they have all come, else null; valid until
  // next() or reset().
  const uint8_t* get(rdr::InStream& in, int len);
  // A big-endian 16- or 32-bit field; false while incomplete.
  bool getU16(rdr::InStream& in, uint32_t* value);
  bool getU32(rdr::InStream& in, uint32_t* value);
  // Ends the current item: the stream's checkpoint moves past it.
  void next(rdr::InStream& in);
  // Forgets all progress.
  void reset();

  int field = 0;   // the next field of the record
  int length = -1; // the length prefix of a variable field, once read

private:
  uint64_t stream_ = 0; // the serial of the stream read last
  rdr::ByteReader reader_;
  plat::MBuf<unsigned char> scratch_;
};

// An mbedtls bignum owned by scope (wiped when freed).
class Mpi {
public:
  Mpi() { mbedtls_mpi_init(&v); }
  ~Mpi() { mbedtls_mpi_free(&v); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  mbedtls_mpi v;
};

// A number of len bytes; false while incomplete. Zero bytes throw
// BigNumOverflow "bigNumReadF invalid bytes".
bool bigNumReadF(rdr::InStream& in, mbedtls_mpi* x, int len, FieldCursor& cursor);
// A 16-bit length (at most maxLen, else "bigNumReadV overflow"), then the
// number in that many bytes.
bool bigNumReadV(rdr::InStream& in, mbedtls_mpi* x, FieldCursor& cursor, int maxLen);
// The number in len bytes, zero-padded; "bigNumWriteF overflow" when it
// needs more.
void bigNumWriteF(rdr::OutStream& out, const mbedtls_mpi* x, int len);
// Length max(min(maxLen, size), minLen) as 16 bits, then the number.
void bigNumWriteV(rdr::OutStream& out, const mbedtls_mpi* x, int maxLen, int minLen);

} // namespace crypto
