// Strict UTF-8: decoding, encoding, validation and repair, character
// alignment, ISO-8859-1 conversion, display width and the visible escaping
// of control characters.
//
// "Valid" excludes over-long forms, surrogates, code points above U+10FFFF
// and the Unicode non-characters (U+FDD0..U+FDEF and every code point whose
// low 16 bits are FFFE or FFFF). Repairs substitute U+FFFD. The functions
// keep no state and may be called from any thread.
#pragma once

#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "plat/String.h"

namespace plat {

// --- Decoding and encoding -------------------------------------------------

// The lead byte has been read and *p points after it; available counts the
// bytes from the lead byte to the end of the text (4 when NUL-terminated).
// Returns the code point or -1. *p moves over every continuation byte
// accepted, also before a failure, so a caller resumes after them.
int utf8DecodeRest(int leadByte, const char** p, int available);

// Writes 1 to 4 bytes at *p and advances it; throws plat::Exception above
// U+10FFFF. Surrogates and non-characters are written as they are.
void utf8Encode(unsigned cp, char** p);

// Moves *p back to the first byte of the preceding character, never before
// begin; with a null begin at most 4 bytes back.
void utf8Back(const char** p, const char* begin);

// --- Validation and repair -------------------------------------------------

// A null end means up to the NUL; within an end, a NUL byte is a
// character like any other. An empty (or null) text is valid.
bool isValidUtf8(const char* s, const char* end = nullptr);

// A valid copy of the text up to end or the NUL, whichever comes first:
// each failed decode becomes one U+FFFD. A non-negative maxBytes bounds the output length and
// never splits a character.
String utf8Sanitise(const char* s, const char* end, int maxBytes);

// Moves the byte range [*pos, *pos + *len) onto character boundaries: the
// start forward past continuation bytes, the end forward to the end of its
// character. A null len aligns only the position; a negative *len means the
// rest of the text.
void utf8AlignRange(const char* s, int* pos, int* len);

// Terminal columns under the thread's LC_CTYPE: the sum of wcwidth over
// the characters (negative widths count as 1), stopping at end, the NUL or
// the first invalid sequence.
int utf8DisplayWidth(const char* s, const char* end = nullptr);

// --- ISO-8859-1 ----------------------------------------------------------
// The euro sign maps to 0x80 both ways, as in the Windows code page that
// Latin-1 text usually comes from.

// One byte per character; what Latin-1 cannot hold becomes '?'. A len of
// -1 means up to the NUL. outLen (may be null) receives the bytes written.
void utf8ToLatin1(String& out, const char* s, int len, int* outLen);
MBuf<unsigned char> utf8ToLatin1Buf(int len, const char* s);

// Stops at len bytes or the NUL, whichever comes first.
void latin1ToUtf8(String& out, const unsigned char* s, int len, int* outLen);
MBuf<unsigned char> latin1ToUtf8Buf(int len, const unsigned char* s);

// --- Escaping ------------------------------------------------------------

// Control characters as escape '^' X, bytes of invalid sequences in the
// 'M-' notation after escape, and the escape character doubled, so a log
// line shows every byte and stays on one line.
String escapeControlChars(const char* s, char escape);

// --- Errors --------------------------------------------------------------

// Thrown by callers that refuse invalid text. With the hidden parameter
// _BadUtf8Assert set, constructing one is a fatal assertion instead.
class BadUtf8 : public Exception {
public:
  explicit BadUtf8(const char* message);
  BadUtf8(int, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
};

} // namespace plat
