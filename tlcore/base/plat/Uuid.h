// Universally unique identifiers and ordered sets of them.
//
// A plat::Uuid is 16 bytes in the order they are printed, written as 32
// lower-case hexadecimal digits (or the dashed 8-4-4-4-12 form). The static
// functions work on plain 16-byte arrays so that records and wire formats
// can hold the bytes directly. Values only: safe on any thread.
#pragma once

#include <string.h>

#include <set>

#include "plat/String.h"

namespace plat {

struct Uuid {
  static constexpr int kSize = 16;

  unsigned char bytes[kSize] = {};

  // A random (version-4) identifier from crypto::RandomStream; throws what
  // seeding the generator throws.
  static void generate(unsigned char* out);
  // Copies length (at most 16) bytes over the start of out, leaving the rest
  // as it was, then sets the version-4 and variant bits.
  static void fromBytes(unsigned char* out, const unsigned char* data, int length);
  // Two digits (either case) per byte, each pair optionally preceded by one
  // '-'; nothing may follow the last pair. Throws Exception "Invalid Uuid
  // '%s'" with the whole text.
  static void parse(unsigned char* out, const char* text);
  // parse returning false; the bytes decoded before the fault stay in out.
  static bool tryParse(unsigned char* out, const char* text);
  // 32 digits; with dashes, '-' before bytes 4, 6, 8 and 10.
  static String toString(const unsigned char* bytes, bool dashes);

  String toString(bool dashes) const { return toString(bytes, dashes); }
};

// Unsigned byte-by-byte order.
inline bool operator<(const Uuid& a, const Uuid& b)
{
  return memcmp(a.bytes, b.bytes, Uuid::kSize) < 0;
}
inline bool operator==(const Uuid& a, const Uuid& b)
{
  return memcmp(a.bytes, b.bytes, Uuid::kSize) == 0;
}
inline bool operator!=(const Uuid& a, const Uuid& b)
{
  return !(a == b);
}

using UuidSet = std::set<Uuid>;

// The members in order, dashed, joined with ","; "" for an empty set.
String uuidSetToString(const UuidSet& set);
// The ','-separated identifiers of text (empty fields skipped); the first
// bad one throws as Uuid::parse does.
UuidSet uuidSetFromList(const char* text);
UuidSet uuidSetFromStrings(const StringSet& strings);

} // namespace plat
