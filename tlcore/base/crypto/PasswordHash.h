// Device passwords are stored as salted hash records, never in plain text.
//
// A record ("P2a") is 87 bytes: the tag "P2a", the round count (32 bits,
// big-endian, 1 to 20000000), a 16-byte random salt and the 64-byte
// PBKDF2-HMAC-SHA-512 key of the password. New records use the
// `PasswordHashRounds` parameter; a record is checked with its own count.
// Salts, keys and records are secure buffers (wiped when freed). Every
// call runs on the caller's thread and keeps no state.
#pragma once

#include <stdint.h>

#include "plat/MBuf.h"

namespace crypto {

constexpr int kPasswordHashLength = 87;
constexpr uint32_t kMaxPasswordHashRounds = 20000000;

struct Pbkdf2Result {
  plat::MBuf<unsigned char> key;  // exactly the requested length (secure)
  uint32_t rounds;                // PRF iterations applied to each block
  plat::MBuf<unsigned char> salt; // (secure)
  int32_t digestBytes;            // output size of the PRF's digest
};

// The record for a new password; empty for a null password. rounds below
// 1 means the current PasswordHashRounds; larger values are capped.
plat::MBuf<unsigned char> hashPassword(const char* password, int rounds);
// True when the bytes are a well-formed record of this password. Never
// throws for malformed records; the keys are compared in constant time.
bool verifyPassword(const char* password, int length, const unsigned char* record);
// The round count a new record gets for a requested count: below 1 the
// current PasswordHashRounds, otherwise at most 20000000.
uint32_t passwordHashRounds(int requested);
// The record's length and tag; nothing else is examined.
bool isPasswordHash(int length, const unsigned char* data);

// PBKDF2 (RFC 8018) with HMAC over the digest of that many bits. A round
// count of 0 throws plat::Exception.
Pbkdf2Result pbkdf2(const char* password, plat::MBuf<unsigned char> salt, unsigned rounds,
                    int keyLength, int digestBits);
// PBKDF2 with a fresh random salt of saltLength bytes and as many rounds
// (a multiple of 10000, 10000 to 10000000) as fit the budget.
Pbkdf2Result pbkdf2Timed(const char* password, int keyLength, int saltLength, int budgetMs,
                         int digestBits);

} // namespace crypto
