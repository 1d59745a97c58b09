// Security-type names and families, and the expansion of "<auto>" compared
// with a python reference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loc/Locale.h"
#include "rfb/SecTypes.h"
#include "svr/SecurityTypes.h"
#include "svrtest.h"
#include "testutil.h"

namespace {

std::string listed(const std::vector<uint32_t>& v)
{
  std::string s;
  for (uint32_t t : v)
    s += (s.empty() ? "" : " ") + std::to_string(t);
  return s;
}

std::string parsed(const char* text)
{
  std::vector<uint32_t> out;
  rfb::parseSecTypes(text, out);
  return listed(out);
}

TEST(SecurityTypesTest, Table)
{
  struct Row {
    int type;
    const char* name;
    int keyBits, encryptionBits;
  } rows[] = {
      {1, "None", 0, 0},          {2, "ZarnAuth", 0, 0},       {3, "S3", 128, 128},
      {4, "S3ne", 128, 0},        {5, "RA2_128", 128, 128},    {6, "RA2ne_128", 128, 0},
      {7, "SSPI", 128, 128},      {8, "SSPIne", 128, 0},       {9, "Ticket", 128, 128},
      {10, "Ticketne", 128, 0},   {11, "SSO_128", 128, 128},   {12, "SSOne_128", 128, 0},
      {13, "RA2r_128", 128, 128}, {14, "SSOr_128", 128, 128},  {15, "KvmMgmt", 0, 0},
      {30, "Ard", 0, 0},          {129, "RA2_256", 256, 256},  {130, "RA2ne_256", 256, 0},
      {131, "SSO_256", 256, 256}, {132, "SSOne_256", 256, 0},  {133, "RA2r_256", 256, 256},
      {134, "SSOr_256", 256, 256},
  };
  auto catalogue = svrtest::readCatalogue(TL_TEST_SOURCE_DIR "/../../rfb/rfb.catalogue");
  loc::LocaleSetter setter("de_DE");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(r.name, rfb::secTypeName(r.type).get());
    EXPECT_EQ(r.type, rfb::secTypeFromName(r.name));
    std::string upper = r.name;
    for (char& c : upper)
      c = (char)toupper(c);
    EXPECT_EQ(r.type, rfb::secTypeFromName(upper.c_str()));
    EXPECT_EQ(r.keyBits, rfb::secTypeKeyBits(r.type));
    EXPECT_EQ(r.encryptionBits, rfb::secTypeEncryptionBits(r.type));
    const char* key = r.encryptionBits == 128   ? "rfb_security_128_AES"
                      : r.encryptionBits == 256 ? "rfb_security_256_AES"
                                                : "rfb_security_no_encryption";
    EXPECT_EQ(catalogue["de"].at(key), rfb::secTypeDisplayName(r.type).str());
  }
  EXPECT_STREQ("[unknown secType 99]", rfb::secTypeName(99).get());
  EXPECT_EQ(0, rfb::secTypeFromName("RA2"));
  EXPECT_EQ(0, rfb::secTypeFromName(nullptr));
  std::string inSet;
  for (unsigned t = 0; t < 300; t++)
    if (rfb::secTypeInSet(t))
      inSet += (inSet.empty() ? "" : " ") + std::to_string(t);
  EXPECT_EQ("6 12 13 14 130 132 133 134", inSet);
  EXPECT_EQ(nullptr, rfb::secTypeFamily("RA3"));
  EXPECT_EQ(12u, rfb::secTypeFamily("ssone")[0]);
}

TEST(SecurityTypesTest, ParsedLists)
{
  struct Case {
    const char* text;
    const char* types;
  } cases[] = {
      {"RA2:256+", "133 129"},
      {"RA2:128", "13 5"},
      {"RA2", "13 133 5 129"},
      {"ra2_128", "5"},
      {"Bogus", ""},
      {"RA2:", ""},
      {"RA2:x", ""},
      {"RA2:4294967296+", ""},
      {"RA2:4294967295+", ""},
      {"sso:0+", "14 134 11 131"},
      {"SSOne:256x+,RA2r:128zz,None,None", "132 13 1 1"},
      {",,", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.types, parsed(c.text)) << (c.text ? c.text : "(null)");
}

TEST(SecurityTypesTest, AutoExpansion)
{
  svrtest::Methods methods;
  auto expanded = [](const char* securityTypes, const char* encryption, const char* auth) {
    std::vector<uint32_t> out{99};
    svr::securityTypesFor(securityTypes, encryption, auth, out);
    return listed(out);
  };
  EXPECT_EQ("99 13 133 5 129 6 130 1", expanded("<auto>", "PreferOn", "None"));
  EXPECT_EQ("99 12 132", expanded("<AUTO>", "AlwaysOff", "SingleSignOn"));
  EXPECT_EQ("99 133 129", expanded("RA2:256+", "AlwaysOff", "SingleSignOn"));
  EXPECT_EQ("99", expanded("<auto>", "Bogus", "None"));
  svrtest::Settings s("<auto>", "AlwaysOff", "ZarnAuth");
  std::vector<uint32_t> fromConfig;
  svr::securityTypesFromConfig(s.config, fromConfig);
  EXPECT_EQ("6 130 2", listed(fromConfig));

  // Every level with a set of "Authentication" values, against the
  // reference.
  const char* values[] = {"None", "ZarnAuth", "zarnauth", "SingleSignOn", "singlesignon,NONE",
                          "SystemAuth", "InteractiveSystemAuth", "ZarnAuth+Radius",
                          "SingleSignOn,SystemAuth,ZarnAuth,None", ",ZarnAuth,,Bogus", ""};
  std::vector<std::string> requests, ours;
  for (unsigned level = 0; level <= 6; level++)
    for (const char* v : values) {
      requests.push_back("auto\t" + std::to_string(level) + "\t" + v);
      std::vector<uint32_t> out;
      svr::expandSecurityTypes(level, v, out);
      ours.push_back(listed(out));
    }
  for (const char* text : {"RA2:256+", "RA2:128", "ra2_128", "SSO:0", "RA2ne:128+,ssor:256",
                           "RA2:99999999999", "RA2r:00128", "ticket,KVMMGMT,RA2:127+"}) {
    requests.push_back(std::string("parse\t") + text);
    ours.push_back(parsed(text));
  }
  std::string args = TL_TEST_SUPPORT_DIR "/svr_sectypes_reference.py";
  for (const auto& m : svrtest::kMethods)
    args += std::string(" ") + m[0] + "=" + m[1];
  std::vector<std::string> reference = tltest::pythonLines(args, requests);
  ASSERT_EQ(requests.size(), reference.size());
  for (size_t i = 0; i < requests.size(); i++)
    EXPECT_EQ(reference[i], ours[i]) << requests[i];
}

} // namespace
