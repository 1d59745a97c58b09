// Codecs between bytes and text: hexadecimal, base64 (standard and
// URL-safe alphabets) and percent encoding, plus a hexadecimal dump for
// debugging.
//
// Every function works on whole buffers and returns owned results. Decoders
// never leave a partial result in the caller's buffer: on failure the output
// is untouched; on success it is replaced, and its old contents are released
// (wiped first when it was a secure buffer, whose flag it keeps). All
// functions are reentrant.
#pragma once

#include "plat/MBuf.h"
#include "plat/String.h"

namespace plat {

// --- Hexadecimal -------------------------------------------------------------

// Value of a digit of either case; -1 for any other character.
constexpr int hexValue(int c)
{
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}
// Two lower-case digits per byte, high nibble first.
String binToHex(int length, const unsigned char* data);
// '0'..'9', 'a'..'f'; any other value throws AssertionFail.
char hexDigit(int i);
// For a digit of either case, *acc = *acc * 16 + value and true; otherwise
// false with *acc unchanged.
bool addHexDigit(char c, unsigned* acc);
// An even number of digits of either case; an odd length or any other
// character is false.
bool hexToBin(const char* text, MBuf<unsigned char>& out);
// Exactly count bytes from the first 2 * count characters; false at the first
// non-digit (a text that ends early included), with the bytes before it
// already written. A count below 1 is true at once.
bool hexToBinFixed(const char* text, int count, unsigned char* out);
inline bool hexToBinN(const char* text, int count, unsigned char* out)
{
  return hexToBinFixed(text, count, out);
}
// hexToBin throwing Exception "Bad hex string".
MBuf<unsigned char> hexToBinOrThrow(const char* text);

// --- Base64 --------------------------------------------------------------------

// Standard: "+/" with "=" padding; urlSafe: "-_" without padding.
String binToBase64(int length, const unsigned char* data, bool urlSafe);
// Accepts both alphabets, even mixed, padded or not; false for anything else.
bool base64Decode(const char* text, MBuf<unsigned char>& out);

// --- Percent encoding ----------------------------------------------------------

// Keeps letters, digits and "*-._"; other ASCII bytes become "%XX" (upper
// case). Bytes of 128 and above become "%XX" only with encodeNonAscii, so
// UTF-8 text can pass unchanged. Null gives null.
String percentEncode(const char* text, bool encodeNonAscii);
// "%XX" (either case) gives that byte, "+" a blank when plusIsSpace. Throws
// Exception "Bad percent encoding" for a "%" without two digits after it, and
// for "%00", which a NUL-terminated result cannot carry. Null gives null.
String percentDecode(const char* text, bool plusIsSpace);

// --- Debugging -------------------------------------------------------------------

// Sixteen bytes a line on standard error: the offset ("%04x ") or the
// prefixes (firstPrefix on the first line, nextPrefix after), the bytes in
// hexadecimal, then the printable characters.
void hexDump(const MBuf<unsigned char>& data, const char* firstPrefix = nullptr,
             const char* nextPrefix = nullptr);

} // namespace plat
