#include "plat/Configuration.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"

using namespace plat;

namespace {

std::vector<std::string> names(const Configuration& cfg, bool recursive)
{
  std::vector<std::string> out;
  for (Configuration::ParamIterator it(cfg, recursive); it; it.next())
    out.push_back(it->getName());
  return out;
}

TEST(ConfigurationTest, GlobalHoldsTheStaticParameters)
{
  Configuration& g = Configuration::global();
  EXPECT_STREQ(g.getName(), "Global");
  EXPECT_STREQ(g.getDescKey(), "plat_configuration_global_params");
  BoolParameter& p = g.getBoolParam("_badutf8assert");
  EXPECT_FALSE(p.getValue());
  EXPECT_TRUE(p.isAdvanced());
  EXPECT_TRUE(p.isHidden());
  EXPECT_STREQ(p.getDescription(), "Make bad UTF-8 cause an assertion failure for debugging");
}

TEST(ConfigurationTest, FindAndSetIgnoreCaseAndReachChildren)
{
  Configuration root("Root"), child("Child");
  root.addChild(&child);
  root.addChild(&child); // listed once
  EXPECT_EQ(root.getChildren().size(), 1u);
  IntParameter* days = root.addInt("LogKeepDays", "d", 30, ParamLevel::kBasic, 0, INT_MAX);
  StringParameter* dir = child.addString("LogDir", "d", "");

  EXPECT_EQ(root.find("LOGKEEPDAYS", false), days);
  EXPECT_EQ(root.find("logdir", false), nullptr);
  EXPECT_EQ(root.find("logdir", true), dir);
  EXPECT_TRUE(root.set("logkeepdays", "5", kPriorityPreference));
  EXPECT_EQ(days->getValue(), 5);
  EXPECT_TRUE(root.set("LOGDIR", "/tmp/x", kPriorityPreference));
  EXPECT_STREQ(dir->getValue(), "/tmp/x");
  EXPECT_TRUE(root.setFromArgLen("logdirXYZ", 6, "/y", kPriorityPreference));
  EXPECT_STREQ(dir->getValue(), "/y");
  EXPECT_FALSE(root.set("Nope", "1", kPriorityPreference));
  EXPECT_FALSE(root.set("LogKeepDays", "x", kPriorityPreference));

  root.addChild(&child, false);
  EXPECT_EQ(root.find("LogDir", true), nullptr);
}

TEST(ConfigurationTest, ChildCycleIsRefused)
{
  Configuration a("A"), b("B");
  a.addChild(&b);
  EXPECT_THROW(b.addChild(&a), AssertionFail);
  EXPECT_THROW(a.addChild(&a), AssertionFail);
}

TEST(ConfigurationTest, TypedGettersCheckClass)
{
  Configuration cfg("Test");
  cfg.addBool("Flag", "d", true);
  cfg.addInt("Num", "d", 1);
  EXPECT_TRUE(cfg.getBoolParam("flag").getValue());
  EXPECT_TRUE(cfg.getBool("FLAG", false));
  EXPECT_FALSE(cfg.getBool("Num", false)); // wrong class: the fallback
  EXPECT_TRUE(cfg.getBool("Missing", true));
  try {
    cfg.getStringParam("Num");
    FAIL() << "no exception";
  } catch (const AssertionFail& e) {
    EXPECT_STREQ(e.getExpression(), "p");
  }
  try {
    cfg.get("Missing");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Parameter Missing not found");
  }
}

TEST(ConfigurationTest, AliasesExpandIntoTargets)
{
  Configuration root("Root"), child("Child");
  root.addChild(&child);
  BoolParameter* a = child.addBool("Alpha", "d", false);
  BoolParameter* b = root.addBool("Beta", "d", false);
  ParameterAlias alias("Both", *a, &root);
  alias.addTarget("beta");
  EXPECT_TRUE(root.set("BOTH", "yes", kPriorityPreference));
  EXPECT_TRUE(a->getValue());
  EXPECT_TRUE(b->getValue());

  ParameterAlias unregistered("Alpha", nullptr, "Nope");
  EXPECT_EQ(unregistered.getTargets().size(), 2u);
  root.addAliasHandler("Some", &unregistered);
  EXPECT_TRUE(root.set("some", "0", kPriorityPreference)); // Nope fails, Alpha succeeds
  EXPECT_FALSE(a->getValue());
}

TEST(ConfigurationTest, IteratorIsBreadthFirst)
{
  Configuration root("Root"), a("A"), a1("A1"), b("B");
  root.addChild(&a);
  root.addChild(&b);
  a.addChild(&a1);
  root.addInt("r2", "d", 0);
  root.addInt("r1", "d", 0); // lists are newest first
  a.addInt("a", "d", 0);
  a1.addInt("a1", "d", 0);
  b.addInt("b", "d", 0);
  EXPECT_EQ(names(root, true), (std::vector<std::string>{"r1", "r2", "a", "b", "a1"}));
  EXPECT_EQ(names(root, false), (std::vector<std::string>{"r1", "r2"}));
  EXPECT_EQ(names(Configuration("Empty"), true), std::vector<std::string>{});
}

TEST(ConfigurationTest, CopyClonesAndCompares)
{
  const char* const kinds[] = {"one", "two", nullptr};
  const unsigned char bytes[] = {1, 2};
  Configuration src("Src"), child("Child");
  src.addChild(&child);
  src.addInt("Num", "d", 1)->setValue(2, kPriorityPreference);
  src.addBool("Flag", "d", false, ParamLevel::kBasic, "noPolicy")
      ->setParam("1", kPriorityPolicy - 1);
  child.addEnum("Kind", "d", "one", kinds)->setParam("TWO", kPriorityPolicy);
  child.addBinary("Bin", "d", 2, bytes);
  child.addS64("Big", "d", 7);

  Configuration copy(src);
  EXPECT_STREQ(copy.getName(), "Src");
  EXPECT_TRUE(copy.getChildren().empty());
  EXPECT_TRUE(copy.equals(src));
  EXPECT_TRUE(src.equals(copy));
  EXPECT_NE(copy.find("Kind"), child.find("Kind"));
  EXPECT_EQ(copy.getEnumParam("kind").getValue(), 1);
  EXPECT_EQ(copy.getEnumParam("kind").getPriority(), kPriorityPolicy);
  EXPECT_TRUE(copy.getBoolParam("Flag").hasAttribute("noPolicy"));
  EXPECT_STREQ(copy.get("Bin").getValueStr().str(), "0102");
  EXPECT_EQ(copy.getS64Param("Big").getValue(), 7);

  copy.set("Num", "3", kPriorityPolicy);
  copy.set("Big", "int64:0000000000000008", kPriorityPreference);
  EXPECT_FALSE(copy.equals(src));
  EXPECT_STREQ(copy.diffNames(src).str(), "Big,Num");
  EXPECT_STREQ(src.diffNames(copy).str(), "Num,Big");

  Configuration other("Other");
  IntParameter* num = other.addInt("num", "d", 0);
  EXPECT_STREQ(src.diffNames(other).str(), "Num"); // parameters other lacks are left out
  EXPECT_FALSE(src.equals(other));
  other = src;
  EXPECT_EQ(other.find("Num"), num); // existing parameter took the values
  EXPECT_EQ(num->getValue(), 2);
  EXPECT_TRUE(other.equals(src));

  Configuration target("Target");
  IntParameter* tnum = target.addInt("Num", "d", 0);
  target.applyChanges(copy, src);
  EXPECT_EQ(tnum->getValue(), 3);
  EXPECT_EQ(tnum->getPriority(), kPriorityPolicy);

  ParamValueMap pref;
  copy.getValuesAtPriority(kPriorityPreference, pref);
  ASSERT_EQ(pref.size(), 2u);
  EXPECT_STREQ(pref[String("num")].str(), "2");
  EXPECT_STREQ(pref[String("BIG")].str(), "int64:0000000000000008");

  copy.clear();
  EXPECT_EQ(copy.find("Num"), nullptr);
}

} // namespace
