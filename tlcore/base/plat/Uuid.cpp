#include "plat/Uuid.h"

#include "crypto/RandomStream.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/encodings.h"

namespace plat {

void Uuid::generate(unsigned char* out)
{
  crypto::RandomStream random;
  random.readBytes(out, kSize);
  fromBytes(out, out, 0);
}

void Uuid::fromBytes(unsigned char* out, const unsigned char* data, int length)
{
  PLAT_CHECK(length >= 0 && length <= kSize);
  if (length > 0)
    memcpy(out, data, length);
  out[6] = (out[6] & 0x0F) | 0x40;
  out[8] = (out[8] & 0x3F) | 0x80;
}

bool Uuid::tryParse(unsigned char* out, const char* text)
{
  if (!text)
    return false;
  const char* p = text;
  for (int i = 0; i < kSize; i++) {
    if (*p == '-')
      p++;
    unsigned value = 0;
    if (!addHexDigit(p[0], &value) || !addHexDigit(p[1], &value))
      return false;
    out[i] = static_cast<unsigned char>(value);
    p += 2;
  }
  return *p == 0;
}

void Uuid::parse(unsigned char* out, const char* text)
{
  if (!tryParse(out, text))
    throw Exception(0, "Invalid Uuid '%s'", text ? text : "");
}

String Uuid::toString(const unsigned char* bytes, bool dashes)
{
  static const char kDigits[] = "0123456789abcdef";
  char text[2 * kSize + 4 + 1];
  char* w = text;
  for (int i = 0; i < kSize; i++) {
    if (dashes && (i == 4 || i == 6 || i == 8 || i == 10))
      *w++ = '-';
    *w++ = kDigits[bytes[i] >> 4];
    *w++ = kDigits[bytes[i] & 15];
  }
  *w = 0;
  return String(text);
}

String uuidSetToString(const UuidSet& set)
{
  DString out;
  for (const Uuid& uuid : set) {
    if (&uuid != &*set.begin())
      out.append(",");
    out.append(uuid.toString(true).str());
  }
  return String(out.get());
}

UuidSet uuidSetFromList(const char* text)
{
  UuidSet set;
  String copy(text);
  char* cursor = copy.data();
  while (char* field = strTok(&cursor, ',', true)) {
    if (!*field)
      continue;
    Uuid uuid;
    Uuid::parse(uuid.bytes, field);
    set.insert(uuid);
  }
  return set;
}

UuidSet uuidSetFromStrings(const StringSet& strings)
{
  UuidSet set;
  for (const String& s : strings) {
    Uuid uuid;
    Uuid::parse(uuid.bytes, s.get());
    set.insert(uuid);
  }
  return set;
}

} // namespace plat
