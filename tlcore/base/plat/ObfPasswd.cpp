#include "plat/ObfPasswd.h"

#include <string.h>

#include <memory>

#include "crypto/Des.h"
#include "plat/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace plat {

namespace {

// Only obscures stored passwords from a casual look; anyone with the
// program can reverse it.
const uint8_t kObfKey[8] = {0x5c, 0x0e, 0x91, 0xa2, 0xd4, 0x7b, 0x3f, 0x68};
const char kUtf8Marker[4] = {'U', 'T', 'F', '8'};

// A DES key schedule that is wiped when it goes.
struct Schedule {
  explicit Schedule(bool encrypt)
  {
    if (encrypt)
      crypto::Des::setKeyEncrypt(words, kObfKey);
    else
      crypto::Des::setKeyDecrypt(words, kObfKey);
  }
  ~Schedule() { secureZero(words, sizeof(words)); }
  crypto::Des::Schedule words;
};

} // namespace

MBuf<unsigned char> makeSecureBuf(int n)
{
  MBuf<unsigned char> buf(n, true);
  if (n > 0)
    memset(buf.data(), 0, n);
  return buf;
}

void obfuscatePasswd(MBuf<unsigned char>& out, const char* password)
{
  out.setSecure(true);
  out.clear();
  if (!password)
    return;
  size_t len = strlen(password);
  // Block arithmetic is in int; no real password comes near this.
  PLAT_CHECK(len < (size_t)1 << 30);
  int l = (int)len;
  int padded = l == 0 ? 8 : (l + 7) / 8 * 8;
  bool nonAscii = false;
  for (int i = 0; i < l; i++)
    nonAscii = nonAscii || (unsigned char)password[i] >= 0x80;
  MBuf<unsigned char> buf = makeSecureBuf(padded + (nonAscii ? 4 : 0));
  memcpy(buf.data(), password, l);
  Schedule schedule(true);
  for (int i = 0; i < padded; i += 8)
    crypto::Des::cryptBlock(schedule.words, buf.data() + i, buf.data() + i);
  if (nonAscii)
    memcpy(buf.data() + padded, kUtf8Marker, 4);
  out = std::move(buf);
}

SecureString deobfuscatePasswd(const MBuf<unsigned char>& in)
{
  int n = in.length();
  if (n == 0)
    return SecureString();
  if (n % 8 == 4 && memcmp(in.data() + n - 4, kUtf8Marker, 4) == 0)
    n -= 4;
  if (n % 8 != 0)
    throw Exception("bad obfuscated password length");
  MBuf<unsigned char> buf = makeSecureBuf(n + 1);
  Schedule schedule(false);
  for (int i = 0; i < n; i += 8)
    crypto::Des::cryptBlock(schedule.words, in.data() + i, buf.data() + i);
  // The text ends at the first zero byte; the copy holds only that much.
  return SecureString((const char*)buf.data());
}

void writeObfPasswd(rdr::OutStream& os, const char* password)
{
  MBuf<unsigned char> obf;
  obfuscatePasswd(obf, password);
  if (obf.length() > kMaxObfPasswdLength)
    throw Exception("writeObfPasswd: password too long");
  os.writeU16((uint16_t)obf.length());
  os.writeBytes(obf.data(), obf.length());
}

SecureString readObfPasswd(rdr::InStream& is)
{
  int len = is.readU16();
  if (len > kMaxObfPasswdLength)
    throw Exception("readObfPasswd: password too long");
  MBuf<unsigned char> buf = makeSecureBuf(len);
  is.readBytes(buf.data(), len);
  return deobfuscatePasswd(buf);
}

} // namespace plat
