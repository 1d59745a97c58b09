#include "crypto/mbedtls/BigNum.h"

#include <algorithm>

#include "crypto/MbedTlsException.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace crypto {

const uint8_t* FieldCursor::get(rdr::InStream& in, int len)
{
  static const uint8_t kNothing = 0;
  if (len == 0)
    return &kNothing;
  if (!reader_.started()) {
    scratch_.resize(len);
    reader_.init(&in, len, scratch_.data());
  }
  return reader_.read(false).data;
}

bool FieldCursor::getU16(rdr::InStream& in, uint32_t* value)
{
  const uint8_t* p = get(in, 2);
  if (!p)
    return false;
  *value = (uint32_t)p[0] << 8 | p[1];
  next(in);
  return true;
}

bool FieldCursor::getU32(rdr::InStream& in, uint32_t* value)
{
  const uint8_t* p = get(in, 4);
  if (!p)
    return false;
  *value = (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
  next(in);
  return true;
}

void FieldCursor::next(rdr::InStream& in)
{
  reader_.reset();
  in.setCheckpoint();
}

void FieldCursor::reset()
{
  reader_.reset();
  scratch_.clear();
  field = 0;
  length = -1;
}

namespace {

bool isZero(const uint8_t* p, int len)
{
  uint8_t any = 0;
  for (int i = 0; i < len; i++)
    any |= p[i];
  return any == 0;
}

void readBinary(mbedtls_mpi* x, const uint8_t* p, int len)
{
  int ret = mbedtls_mpi_read_binary(x, p, len);
  if (ret)
    throw MbedTlsException("MbedTls error", ret);
}

} // namespace

bool bigNumReadF(rdr::InStream& in, mbedtls_mpi* x, int len, FieldCursor& cursor)
{
  const uint8_t* p = cursor.get(in, len);
  if (!p)
    return false;
  if (isZero(p, len))
    throw BigNumOverflow("bigNumReadF invalid bytes");
  readBinary(x, p, len);
  cursor.next(in);
  return true;
}

bool bigNumReadV(rdr::InStream& in, mbedtls_mpi* x, FieldCursor& cursor, int maxLen)
{
  if (cursor.length < 0) {
    uint32_t len;
    if (!cursor.getU16(in, &len))
      return false;
    if ((int)len > maxLen)
      throw BigNumOverflow("bigNumReadV overflow");
    cursor.length = (int)len;
  }
  const uint8_t* p = cursor.get(in, cursor.length);
  if (!p)
    return false;
  readBinary(x, p, cursor.length);
  cursor.length = -1;
  cursor.next(in);
  return true;
}

void bigNumWriteF(rdr::OutStream& out, const mbedtls_mpi* x, int len)
{
  if ((int)mbedtls_mpi_size(x) > len)
    throw BigNumOverflow("bigNumWriteF overflow");
  plat::MBuf<unsigned char> buf(len, true);
  if (len > 0 && mbedtls_mpi_write_binary(x, buf.data(), len) != 0)
    throw BigNumOverflow("bigNumWriteF overflow");
  out.writeBytes(buf.data(), len);
}

void bigNumWriteV(rdr::OutStream& out, const mbedtls_mpi* x, int maxLen, int minLen)
{
  int len = std::max(std::min(maxLen, (int)mbedtls_mpi_size(x)), minLen);
  out.writeU16((uint16_t)len);
  bigNumWriteF(out, x, len);
}

} // namespace crypto
