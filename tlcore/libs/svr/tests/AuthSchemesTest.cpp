// Authentication schemes, the method registry and "Authentication" values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loc/Locale.h"
#include "plat/Exception.h"
#include "svr/AuthSchemes.h"
#include "svrtest.h"

namespace {

std::string errorOf(const std::function<void()>& fn)
{
  try {
    fn();
  } catch (const plat::Exception& e) {
    return e.str();
  }
  return "no exception";
}

std::string joined(const std::vector<plat::String>& v)
{
  std::string s;
  for (size_t i = 0; i < v.size(); i++)
    s += std::string(i ? "," : "") + v[i].str();
  return s;
}

TEST(AuthSchemesTest, TableBothWays)
{
  const char* values[] = {"None",
                          "ZarnAuth",
                          "SystemAuth",
                          "SingleSignOn,SystemAuth",
                          "InteractiveSystemAuth",
                          "Certificate",
                          "SystemAuth+Radius",
                          "SystemAuth+Duo",
                          "SystemAuth+SecurID"};
  for (unsigned id = 0; id < 9; id++) {
    EXPECT_STREQ(values[id], svr::authSchemeName(id, "x").get());
    EXPECT_EQ(id, svr::authSchemeFromName(values[id]));
    std::string lower = values[id];
    for (char& c : lower)
      c = (char)tolower(c);
    EXPECT_EQ(id, svr::authSchemeFromName(lower.c_str()));
  }
  EXPECT_STREQ("x", svr::authSchemeName(12, "x").get());
  EXPECT_TRUE(svr::authSchemeName(9, nullptr).isNull());
  EXPECT_EQ(7u, svr::authSchemeFromName("systemauth+duo"));
  // Order matters.
  EXPECT_EQ(9u, svr::authSchemeFromName("SystemAuth,SingleSignOn"));
  EXPECT_EQ(9u, svr::authSchemeFromName(nullptr));
  EXPECT_EQ(9u, svr::authSchemeFromName(""));
  EXPECT_STREQ("UNIX", svr::systemAuthPlatformName());
}

TEST(AuthSchemesTest, DisplayNamesAndDescriptionsInEveryLanguage)
{
  auto catalogue = svrtest::readCatalogue(TL_TEST_SOURCE_DIR "/../svr.catalogue");
  struct Row {
    const char* display;
    const char* desc;
    const char* second; // ids 6 to 8: the display of 2, " + " and this
  } rows[] = {
      {"none", "desc_none", nullptr},
      {"zarn_password", "desc_zarn_password", nullptr},
      {"system_password", "desc_system_password", nullptr},
      {"single_sign_on", "desc_single_sign_on", nullptr},
      {"interactivesystem", "desc_interactivesystem", nullptr},
      {"public_key", "desc_public_key", nullptr},
      {nullptr, "desc_system_radius", "radius"},
      {nullptr, "desc_system_duo", "duo"},
      {nullptr, "desc_system_securid", "securid"},
      {"custom", nullptr, nullptr},
  };
  const char* locales[][2] = {
      {"en", "en_US"}, {"de", "de_DE"}, {"es", "es_ES"}, {"fr", "fr_FR"}, {"pt", "pt_BR"}};
  for (const auto& l : locales) {
    loc::LocaleSetter setter(l[1]);
    auto& texts = catalogue[l[0]];
    auto text = [&](const char* suffix) {
      std::string t = texts.at(std::string("svr_sauthentication_") + suffix);
      size_t at = t.find("%1$S");
      return at == std::string::npos ? t : t.replace(at, 4, "UNIX");
    };
    for (unsigned id = 0; id < 10; id++) {
      SCOPED_TRACE(std::string(l[0]) + " " + std::to_string(id));
      const Row& r = rows[id];
      std::string display = r.display ? text(r.display)
                                      : text("system_password") + " + " + text(r.second);
      EXPECT_EQ(display, svr::authSchemeDisplayName(id).str());
      EXPECT_EQ(r.desc ? text(r.desc) : "", svr::authSchemeDescription(id).str());
    }
    EXPECT_STREQ("", svr::authSchemeDisplayName(10).str());
    EXPECT_STREQ("", svr::authSchemeDescription(10).str());
  }
}

std::vector<int> changes;
void changedA()
{
  changes.push_back(1);
}
void changedB()
{
  changes.push_back(2);
}

TEST(AuthSchemesTest, RegistryCallsChangeFunctionsInOrder)
{
  EXPECT_EQ(0u, svr::authMethodNumber("Radius"));
  svr::addAuthMethodsChangedFn(changedB);
  svr::addAuthMethodsChangedFn(changedA);
  svr::registerAuthMethod("Radius", 7, true);
  EXPECT_EQ(7u, svr::authMethodNumber("Radius"));
  EXPECT_EQ(0u, svr::authMethodNumber("radius"));
  svr::registerAuthMethod("Radius", 0, false);
  EXPECT_EQ(0u, svr::authMethodNumber("Radius"));
  EXPECT_EQ((std::vector<int>{2, 1, 2, 1}), changes);
  svr::removeAuthMethodsChangedFn(changedA);
  svr::removeAuthMethodsChangedFn(changedB);
}

TEST(AuthSchemesTest, ParsingAndPrinting)
{
  struct Case {
    const char* value;
    const char* lenient;
    const char* strictError; // null: strict gives the same
  } withMethods[] = {
      {"SystemAuth+Radius,ZarnAuth", "SystemAuth+Radius,ZarnAuth", nullptr},
      {"None,,None", "None,None", nullptr},
      {",none,", "None", nullptr},
      {"SystemAuth+Bogus,ZarnAuth", "SystemAuth,ZarnAuth", "Unknown auth method \"Bogus\""},
      {"Bogus+Other", "", "Unknown auth method \"Bogus\""},
      {"SystemAuth++Radius", "SystemAuth+Radius", "Unknown auth method \"\""},
      {"systemauth", "", "Unknown auth method \"systemauth\""},
      {"", "", nullptr},
      {nullptr, "", nullptr},
  };
  svrtest::Methods methods;
  for (const Case& c : withMethods) {
    SCOPED_TRACE(c.value ? c.value : "(null)");
    EXPECT_STREQ(c.lenient, svr::authenticationToString(svr::parseAuthentication(c.value, false)).get());
    std::string strict = errorOf([&] {
      EXPECT_STREQ(c.lenient,
                   svr::authenticationToString(svr::parseAuthentication(c.value, true)).get());
    });
    EXPECT_EQ(c.strictError ? c.strictError : "no exception", strict);
  }
  tlauth::SAuthFlows flows = svr::parseAuthentication("SystemAuth+Radius", true);
  ASSERT_EQ(1u, flows.size());
  EXPECT_EQ(2u, flows[0][0].number);
  EXPECT_EQ(7u, flows[0][1].number);
}

TEST(AuthSchemesTest, EmptyRegistry)
{
  tlauth::SAuthFlows flows = svr::parseAuthentication("SystemAuth,None", false);
  ASSERT_EQ(1u, flows.size());
  EXPECT_TRUE(flows[0].empty());
  EXPECT_EQ("Unknown auth method \"SystemAuth\"",
            errorOf([] { svr::parseAuthentication("SystemAuth", true); }));
  EXPECT_TRUE(svr::authenticationAllowsNone("SystemAuth,None"));
}

TEST(AuthSchemesTest, Questions)
{
  svrtest::Methods methods;
  EXPECT_EQ("ZarnAuth,none,InteractiveSystemAuth",
            joined(svr::singleStepAuthNames(
                "ZarnAuth,none,SystemAuth,InteractiveSystemAuth,ZarnAuth+Radius,Bogus,")));
  EXPECT_EQ("", joined(svr::singleStepAuthNames(nullptr)));

  EXPECT_TRUE(svr::authenticationAllowsNone("SystemAuth,NONE"));
  EXPECT_FALSE(svr::authenticationAllowsNone("SystemAuth,Bogus"));
  EXPECT_FALSE(svr::authenticationAllowsNone(nullptr));

  struct Mention {
    const char* method;
    const char* value;
    const char* fallback;
    bool expected;
  } mentions[] = {
      {"Radius", "SystemAuth+Radius", nullptr, true},
      {"radius", "SystemAuth+Radius", nullptr, false},
      {"Radius", "ZarnAuth", "SystemAuth+Radius", true},
      {"Radius", "ZarnAuth", nullptr, false},
      {"Radius", nullptr, "Radius", true},
      {"Bogus", "Bogus", "Bogus", false},
  };
  for (const Mention& m : mentions)
    EXPECT_EQ(m.expected, svr::authenticationMentions(m.method, m.value, m.fallback))
        << m.method << " " << (m.value ? m.value : "(null)");
}

TEST(AuthSchemesTest, FromConfiguration)
{
  svrtest::Methods methods;
  struct Case {
    const char* securityTypes;
    const char* authentication;
    unsigned scheme;
    bool method1;
  } cases[] = {
      {"<auto>", "systemauth+radius", 6, false},
      {"<AUTO>", "ZarnAuth", 1, true},
      {"RA2", "ZarnAuth", 9, true},
      {"<auto>", "SystemAuth,ZarnAuth+Radius", 9, true},
  };
  for (const Case& c : cases) {
    svrtest::Settings s(c.securityTypes, "AlwaysOn", c.authentication);
    EXPECT_EQ(c.scheme, svr::authSchemeFromConfig(s.config)) << c.authentication;
    EXPECT_EQ(c.method1, svr::configAuthenticationHasMethod1(s.config)) << c.authentication;
  }
  plat::Configuration empty("empty");
  EXPECT_EQ("Parameter SecurityTypes not found", errorOf([&] { svr::authSchemeFromConfig(empty); }));
  EXPECT_EQ("Parameter Authentication not found",
            errorOf([&] { svr::configAuthenticationHasMethod1(empty); }));
}

} // namespace
