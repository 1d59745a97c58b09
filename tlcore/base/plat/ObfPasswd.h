// Reversible (not secure) storage of passwords: the bytes, zero-padded to
// whole 8-byte blocks, each block enciphered with DES under a fixed key,
// followed by the marker "UTF8" when the text holds non-ASCII bytes. In a
// stream the form is a big-endian u16 length (at most 512) and the bytes.
//
// Every buffer on the way is a secure one, wiped on every path. Stateless;
// any thread.
#pragma once

#include "plat/MBuf.h"
#include "plat/String.h"

#include "rdr/Forward.h"

namespace plat {

// The longest obfuscated form a stream field carries.
constexpr int kMaxObfPasswdLength = 512;

// n zero bytes, with the secure flag.
MBuf<unsigned char> makeSecureBuf(int n);

// out is wiped and emptied first; a null password leaves it empty.
void obfuscatePasswd(MBuf<unsigned char>& out, const char* password);
// An empty buffer gives a null string; a length that is not whole blocks
// (after an optional "UTF8" marker) throws "bad obfuscated password length".
SecureString deobfuscatePasswd(const MBuf<unsigned char>& in);

// Throws "writeObfPasswd: password too long" (writing nothing) when the
// obfuscated form exceeds 512 bytes.
void writeObfPasswd(rdr::OutStream& os, const char* password);
// Throws "readObfPasswd: password too long" for a length above 512.
SecureString readObfPasswd(rdr::InStream& is);

} // namespace plat
