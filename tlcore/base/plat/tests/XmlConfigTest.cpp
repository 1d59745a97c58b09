// XML parameter descriptions: the written layout, reading them back, and
// the refusals.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "plat/XmlConfig.h"

using namespace plat;

namespace {

std::string toXml(Configuration& cfg, XmlParts parts = XmlParts::kNone,
                  XmlConfig::Filter* filter = nullptr)
{
  std::unique_ptr<char[]> text(XmlConfig::toXml(&cfg, parts, filter));
  return text.get();
}

const char* const kModes[] = {"fast", "slow", nullptr};

TEST(XmlConfig, LayoutSortingAndHidden)
{
  Configuration cfg("T");
  cfg.logChanges = false;
  cfg.addString("Name", "A \"q\" & b", "v");
  cfg.addEnum("Mode", "M", "slow", kModes, ParamLevel::kBasic, "x,noPolicy");
  cfg.addInt("level", "Lvl <1>", 3, ParamLevel::kAdvanced, 0, 10);
  cfg.addBool("Foo", "D", true);
  cfg.addString("_Secret", "S", "pw");
  cfg.set("Name", "w", 10);
  const std::string body = "<bool   name=\"Foo\"\n"
                           "        description=\"D\"\n"
                           "        advanced=\"false\">\n"
                           "    <value data=\"1\" priority=\"0\"/>\n"
                           "</bool>\n"
                           "<int    name=\"level\"\n"
                           "        description=\"Lvl &lt;1&gt;\"\n"
                           "        advanced=\"true\"\n"
                           "        min=\"0\"\n"
                           "        max=\"10\">\n"
                           "    <value data=\"3\" priority=\"0\"/>\n"
                           "</int>\n"
                           "<enum   name=\"Mode\"\n"
                           "        description=\"M\"\n"
                           "        advanced=\"false\"\n"
                           "        flags=\"noPolicy,x\"\n"
                           "        min=\"0\"\n"
                           "        max=\"1\">\n"
                           "    <value data=\"slow\" priority=\"0\"/>\n"
                           "    <opt data=\"fast\"/>\n"
                           "    <opt data=\"slow\"/>\n"
                           "</enum>\n"
                           "<string name=\"Name\"\n"
                           "        description=\"A &quot;q&quot; &amp; b\"\n"
                           "        advanced=\"false\">\n"
                           "    <value data=\"v\" priority=\"0\"/>\n"
                           "    <value data=\"w\" priority=\"10\"/>\n"
                           "</string>\n";
  const std::string hidden = "<string name=\"_Secret\"\n"
                             "        description=\"S\"\n"
                             "        advanced=\"false\">\n"
                             "    <value data=\"pw\" priority=\"0\"/>\n"
                             "</string>\n";
  const std::string head = "<?xml version=\"1.0\"?>\n<config>\n", tail = "</config>\n";
  EXPECT_EQ(toXml(cfg), head + body + tail);
  EXPECT_EQ(toXml(cfg, XmlParts::kHiddenParams), head + hidden + body + tail);

  // The usage printer writes the same for "-help xml" unless given its own writer.
  UsagePrinter printer("Prog 1.0");
  FILE* f = tmpfile();
  printer.print(2, cfg, f);
  std::string printed(size_t(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(fread(&printed[0], 1, printed.size(), f), printed.size());
  fclose(f);
  EXPECT_EQ(printed, head + body + tail);
}

// Every type, several priorities, flags and keys: written, read and written
// again gives the same text.
TEST(XmlConfig, RoundTripEveryType)
{
  static const unsigned char bytes[] = {0, 0xff, 0x10};
  Configuration child("Child");
  child.logChanges = false;
  child.addS64("Big", "A 64-bit number", -5)->setValue(INT64_C(1) << 40, 10);
  child.adoptParam(new BinaryParameter("Blob", LocKey{"plat_test_blob_desc"}, 3, bytes,
                                       ParamLevel::kBasic, &child, "noPolicy"));
  Configuration cfg("Top");
  cfg.logChanges = false;
  cfg.addChild(&child);
  cfg.addBool("Flag", "On or off", false, ParamLevel::kAdvanced, "a,b")->setParam("yes", 30);
  cfg.addInt("Count", "How many", -3, ParamLevel::kBasic, -10, 99)->setParam("42", 10);
  cfg.adoptParam(new EnumParameter("Mode", LocKey{"plat_test_mode_desc"}, "fast", kModes,
                                   ParamLevel::kBasic, &cfg));
  cfg.set("Mode", "slow", 30);
  cfg.addString("Text", "Some <text>", "caf\xc3\xa9 & 'more'")->setParam("x\"y", 10);
  cfg.addString("_Hidden", "Hidden", "h");

  for (XmlParts parts :
       {XmlParts::kHiddenParams, XmlParts::kHiddenParams | XmlParts::kLocDescKeys}) {
    std::string first = toXml(cfg, parts);
    Configuration loaded("Loaded");
    loaded.logChanges = false;
    XmlConfig::load(loaded, first.c_str());
    EXPECT_EQ(toXml(loaded, parts), first);
    EXPECT_EQ(loaded.getEnumParam("Mode").getInt(), 1);
    EXPECT_EQ(loaded.getS64Param("Big").getValue(), INT64_C(1) << 40);
    EXPECT_TRUE(loaded.get("Blob").hasAttribute("noPolicy"));
    // The loaded parameters own their texts and choices.
    Configuration copy("Copy");
    copy.logChanges = false;
    XmlConfig::load(copy, first.c_str());
    loaded.clear();
    EXPECT_EQ(toXml(copy, parts), first);
  }
  EXPECT_NE(toXml(cfg, XmlParts::kHiddenParams | XmlParts::kLocDescKeys)
                .find("locDesc=\"plat_test_mode_desc\""),
            std::string::npos);

  // The document is well-formed for a real XML parser too.
  char path[] = "/tmp/xmlconfig_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text = toXml(cfg, XmlParts::kHiddenParams);
  EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
  close(fd);
  EXPECT_EQ(system(("xmllint --noout " + std::string(path)).c_str()), 0);
  unlink(path);
  cfg.addChild(&child, false);
}

// A refused document leaves the configuration as it was.
TEST(XmlConfig, RefusedDocuments)
{
  const std::string value = "<value data=\"1\" priority=\"0\"/>";
  const std::string good = "<bool name=\"New\" description=\"D\">" + value + "</bool>";
  struct Case {
    std::string doc;
    const char* message;
  } cases[] = {
      {"<bool description=\"D\">" + value + "</bool>", "Incompatible XML config"},
      {"<bool name=\"A\" advanced=\"true\">" + value + "</bool>", "Incompatible XML config"},
      {"<bool name=\"A\" description=\"D\"/>", "Incompatible XML config"},
      {"<float name=\"A\" description=\"D\">" + value + "</float>", "Incompatible XML config"},
      {"<bool name=\"A\" description=\"D\"><value priority=\"0\"/></bool>",
       "Incompatible XML config"},
      {"<bool name=\"A\" description=\"D\"><value data=\"1\"/></bool>", "Incompatible XML config"},
      {"<enum name=\"A\" description=\"D\">" + value + "</enum>", "Incompatible XML config"},
      {"<int name=\"A\" description=\"D\" min=\"x\">" + value + "</int>",
       "Incompatible XML config"},
      {good + "<bool name='X' locDesc='k'><value data='1' priority='p'/></bool>",
       "Incompatible XML config"},
      // One name twice, in any case: the second would be hidden.
      {good + "<int name=\"new\" description=\"D\">" + value + "</int>",
       "Incompatible XML config"},
      {good + "<bool name=\"B\"", "XML error 1:93 Error: Unexpected token found"},
      // Repaired by the XML layer: a missing end tag, a mismatched one.
      {good + "<bool name=\"B\" description=\"D\">" + value, "XML error 1:140 Warning: Unmatched end tag"},
      {"<bool name=\"A\" description=\"D\">" + value + "</config>",
       "XML error 1:70 Warning: Unmatched end tag"},
  };
  for (const Case& c : cases) {
    Configuration cfg("T");
    cfg.logChanges = false;
    cfg.addInt("Keep", "K", 1);
    std::string doc = "<config>" + c.doc + (c.doc.find("</config>") == std::string::npos &&
                                                    c.doc.find("<bool name=\"B\"") == std::string::npos
                                                ? "</config>"
                                                : "");
    try {
      XmlConfig::load(cfg, doc.c_str());
      ADD_FAILURE() << doc;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.str(), c.message) << doc;
    }
    EXPECT_NE(cfg.find("Keep"), nullptr) << doc;
    EXPECT_EQ(cfg.find("New"), nullptr) << doc;
  }
  Configuration cfg("T");
  try {
    XmlConfig::load(cfg, "<other/>");
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "XML error 1:9 Error: First Tag not found");
  }
}

TEST(XmlConfig, AdvancedAndFilters)
{
  struct NoInts : XmlConfig::Filter {
    bool accept(const char*, const char* type, bool) override { return strcmp(type, "int") != 0; }
  } noInts;
  Configuration cfg("T");
  cfg.logChanges = false;
  cfg.addInt("N", "n", 1);
  XmlConfig::load(cfg, "<config><BOOL name='A' description='D' advanced='TRUE'>"
                       "<value data='1' priority='0'/></BOOL>"
                       "<int name='I' description='D'><value data='1' priority='0'/></int>"
                       "</config>",
                  &noInts);
  EXPECT_EQ(cfg.find("N"), nullptr);
  EXPECT_EQ(cfg.find("I"), nullptr);
  ASSERT_NE(cfg.find("A"), nullptr);
  EXPECT_TRUE(cfg.get("A").isAdvanced());
  cfg.addInt("J", "j", 2);
  EXPECT_EQ(toXml(cfg, XmlParts::kNone, &noInts).find("name=\"J\""), std::string::npos);
}

} // namespace
