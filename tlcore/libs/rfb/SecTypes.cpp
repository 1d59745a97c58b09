#include "rfb/SecTypes.h"

#include <string.h>
#include <strings.h>

#include "loc/Localize.h"

namespace rfb {

namespace {

struct Named {
  int type;
  const char* name;
};

const Named kTypes[] = {
    {1, "None"},       {2, "ZarnAuth"},     {3, "S3"},         {4, "S3ne"},
    {5, "RA2_128"},    {6, "RA2ne_128"},    {7, "SSPI"},       {8, "SSPIne"},
    {9, "Ticket"},     {10, "Ticketne"},    {11, "SSO_128"},   {12, "SSOne_128"},
    {13, "RA2r_128"},  {14, "SSOr_128"},    {15, "KvmMgmt"},   {30, "Ard"},
    {129, "RA2_256"},  {130, "RA2ne_256"},  {131, "SSO_256"},  {132, "SSOne_256"},
    {133, "RA2r_256"}, {134, "SSOr_256"},
};

struct Family {
  const char* name;
  uint32_t members[5];
};

const Family kFamilies[] = {
    {"RA2", {13, 133, 5, 129, 0}}, {"RA2r", {13, 133, 0}}, {"RA2ne", {6, 130, 0}},
    {"SSO", {14, 134, 11, 131, 0}}, {"SSOr", {14, 134, 0}}, {"SSOne", {12, 132, 0}},
};

// A qualifier: a decimal number of at most 32 bits, then anything; "+" at
// the end means "at least". False when it does not parse.
bool parseQualifier(const char* q, uint32_t* bits, bool* atLeast)
{
  if (*q < '0' || *q > '9')
    return false;
  uint64_t v = 0;
  for (; *q >= '0' && *q <= '9'; q++) {
    v = v * 10 + (unsigned)(*q - '0');
    if (v > UINT32_MAX)
      return false;
  }
  *bits = (uint32_t)v;
  size_t len = strlen(q);
  *atLeast = len > 0 && q[len - 1] == '+';
  return true;
}

void addPiece(const char* piece, std::vector<uint32_t>& out)
{
  if (int type = secTypeFromName(piece)) {
    out.push_back((uint32_t)type);
    return;
  }
  plat::String family(piece);
  const char* qualifier = "0+";
  if (char* colon = strchr(family.data(), ':')) {
    *colon = 0;
    qualifier = colon + 1;
  }
  uint32_t bits;
  bool atLeast;
  const uint32_t* members = secTypeFamily(family.get());
  if (!members || !parseQualifier(qualifier, &bits, &atLeast))
    return;
  for (; *members; members++) {
    uint32_t keyBits = (uint32_t)secTypeKeyBits((int)*members);
    if (keyBits == bits || (atLeast && keyBits > bits))
      out.push_back(*members);
  }
}

} // namespace

plat::String secTypeName(int type)
{
  for (const Named& t : kTypes)
    if (t.type == type)
      return plat::String(t.name);
  return plat::format("[unknown secType %d]", type);
}

int secTypeFromName(const char* name)
{
  if (name)
    for (const Named& t : kTypes)
      if (strcasecmp(name, t.name) == 0)
        return t.type;
  return 0;
}

int secTypeKeyBits(int type)
{
  if (type >= 3 && type <= 14)
    return 128;
  if (type >= 129 && type <= 134)
    return 256;
  return 0;
}

int secTypeEncryptionBits(int type)
{
  return (type & 1) || type == 14 || type == 134 ? secTypeKeyBits(type) : 0;
}

plat::String secTypeDisplayName(int type)
{
  switch (secTypeEncryptionBits(type)) {
  case 128:
    return plat::String(LOC_TR("rfb_security_128_AES"));
  case 256:
    return plat::String(LOC_TR("rfb_security_256_AES"));
  default:
    return plat::String(LOC_TR("rfb_security_no_encryption"));
  }
}

bool secTypeInSet(unsigned type)
{
  switch (type) {
  case 6: case 12: case 13: case 14: case 130: case 132: case 133: case 134:
    return true;
  default:
    return false;
  }
}

const uint32_t* secTypeFamily(const char* name)
{
  if (name)
    for (const Family& f : kFamilies)
      if (strcasecmp(name, f.name) == 0)
        return f.members;
  return nullptr;
}

void parseSecTypes(const char* text, std::vector<uint32_t>& out)
{
  if (!text)
    return;
  plat::String copy(text);
  char* cursor = copy.data();
  while (cursor)
    addPiece(plat::strTok(&cursor, ','), out);
}

} // namespace rfb
