#include "plat/ConfigParameter.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "plat/Log.h"
#include "plat/utf8.h"

using namespace plat;

namespace {

const char* const kColours[] = {"Red", "Green", "Blue", nullptr};
const unsigned char kSecret[] = {0xde, 0xad, 0xbe, 0xef};

struct Recorder : ParameterChangedCallback {
  std::vector<int> calls;
  void parameterChanged(ConfigParameter*, int priority) override { calls.push_back(priority); }
};

// Routes "ConfigParameter" into a string while alive. The destination is
// registered for the life of the process, so there is one of it.
class LogCapture {
public:
  LogCapture()
  {
    dest().lines.clear();
    setLogOverride("ConfigParameter:ParamTestCapture:110");
  }
  ~LogCapture() { setLogOverride(nullptr); }

  const std::string& text() const { return dest().lines; }
  bool contains(const char* s) const { return text().find(s) != std::string::npos; }
  void clear() { dest().lines.clear(); }

private:
  struct Dest : LogDest {
    Dest() : LogDest("ParamTestCapture") {}
    void write(int, const char*, const char* text) override { lines.append(text).append("\n"); }
    std::string lines;
  };
  static Dest& dest()
  {
    static Dest* d = new Dest;
    return *d;
  }
};

using Maker = std::function<ConfigParameter*(Configuration&)>;

Maker boolMaker = [](Configuration& c) { return c.addBool("B", "d", false); };
Maker intMaker = [](Configuration& c) { return c.addInt("I", "d", 4, ParamLevel::kBasic, 1, 32); };
Maker enumMaker = [](Configuration& c) { return c.addEnum("E", "d", "red", kColours); };
Maker stringMaker = [](Configuration& c) { return c.addString("S", "d", "x"); };
Maker binaryMaker = [](Configuration& c) { return c.addBinary("Bin", "d", 0, nullptr); };
Maker s64Maker = [](Configuration& c) { return c.addS64("N", "d", 0); };

TEST(ConfigParameterTest, ValueTextOfEveryType)
{
  struct Row {
    const Maker* make;
    const char* text;
    bool accepted;
    const char* shown; // effective text afterwards
  } rows[] = {
      {&boolMaker, "YES", true, "1"},
      {&boolMaker, "oFf", true, "0"},
      {&boolMaker, "true", true, "1"},
      {&boolMaker, nullptr, true, "1"},
      {&boolMaker, "", true, "1"},
      {&boolMaker, "2", false, "0"},
      {&intMaker, "0", false, "4"},
      {&intMaker, "33", false, "4"},
      {&intMaker, "0x20", true, "32"},
      {&intMaker, "010", true, "8"},
      {&intMaker, " +7", true, "7"},
      {&intMaker, "7 ", false, "4"},
      {&intMaker, "4294967297", false, "4"},
      {&intMaker, "", false, "4"},
      {&intMaker, nullptr, false, "4"},
      {&enumMaker, "gREEN", true, "Green"},
      {&enumMaker, "Purple", false, "Red"},
      {&stringMaker, "h\xc3\xa9llo", true, "h\xc3\xa9llo"},
      {&stringMaker, "", true, ""},
      {&stringMaker, nullptr, false, "x"},
      {&binaryMaker, "00ABff", true, "00abff"},
      {&binaryMaker, "abc", false, ""},
      {&binaryMaker, "zz", false, ""},
      {&s64Maker, "0102030405060708", true, "int64:0807060504030201"},
      {&s64Maker, "int64:00000000000000fF", true, "int64:00000000000000fF"},
      {&s64Maker, "int64:0000000000000g00", false, "int64:0000000000000000"},
      {&s64Maker, "int64:00", false, "int64:0000000000000000"},
      {&s64Maker, "01020304", false, "int64:0000000000000000"},
  };
  for (const Row& row : rows) {
    Configuration cfg("Test");
    ConfigParameter* p = (*row.make)(cfg);
    SCOPED_TRACE(std::string(p->getTypeName()) + " " + (row.text ? row.text : "<null>"));
    EXPECT_EQ(p->setParam(row.text, kPriorityPreference), row.accepted);
    EXPECT_STREQ(p->getValueStr().str(), row.shown);
    EXPECT_EQ(p->getPriority(), row.accepted ? kPriorityPreference : kPriorityDefault);
  }
}

TEST(ConfigParameterTest, TypedAccessors)
{
  Configuration cfg("Test");
  S64Parameter* n = cfg.addS64("N", "d", -2);
  EXPECT_STREQ(n->getValueStr().str(), "int64:fffffffffffffffe");
  ASSERT_TRUE(n->setParam("0102030405060708", kPriorityPreference));
  EXPECT_EQ(n->getValue(), 0x0807060504030201);

  EnumParameter* e = cfg.addEnum("E", "d", "BLUE", kColours);
  EXPECT_EQ(e->getValue(), 2);
  EXPECT_EQ(e->count(), 3);
  EXPECT_FALSE(e->setValue(3, kPriorityPreference));
  EXPECT_EQ(cfg.addEnum("E2", "d", "none", kColours)->getValue(), 0);

  BinaryParameter* b = cfg.addBinary("Bin", "d", 4, kSecret);
  MBuf<unsigned char> out;
  b->getValue(out);
  EXPECT_EQ(out.length(), 4);
  EXPECT_TRUE(out.isSecure());
  EXPECT_TRUE(b->isAdvanced());
}

TEST(ConfigParameterTest, InvalidUtf8StringThrows)
{
  Configuration cfg("Test");
  StringParameter* s = cfg.addString("Name", "d", "x");
  try {
    s->setParam("a\xff", kPriorityPreference);
    FAIL() << "no exception";
  } catch (const BadUtf8& e) {
    EXPECT_STREQ(e.str(), "Bad UTF-8 string for Name");
  }
  EXPECT_STREQ(s->getValue(), "x");
}

TEST(ConfigParameterTest, InvalidBoolLogsError)
{
  LogCapture log;
  Configuration cfg("Test");
  cfg.addBool("Flag", "d", false)->setParam("2", kPriorityPreference);
  EXPECT_TRUE(log.contains("Bool parameter Flag: invalid value '2'")) << log.text();
}

TEST(ConfigParameterTest, PrioritiesAndCallbacks)
{
  Configuration cfg("Test");
  IntParameter* p = cfg.addInt("I", "d", 1);
  Recorder rec;
  p->addCallback(&rec);

  EXPECT_TRUE(p->setValue(10, kPriorityPreference));
  EXPECT_TRUE(p->setValue(10, kPriorityPreference)); // same value: no second call
  EXPECT_TRUE(p->setValue(30, kPriorityPolicy));
  EXPECT_TRUE(p->setValue(5, 5)); // hidden under 10 and 30, still told
  EXPECT_EQ(rec.calls, (std::vector<int>{10, 30, 5}));
  EXPECT_EQ(p->getValue(), 30);

  p->unset(kPriorityPolicy, true);
  EXPECT_EQ(p->getValue(), 10);
  p->unset(kPriorityPolicy, true); // nothing there any more
  p->unset(kPriorityDefault, true);
  p->unset(kPriorityPreference, false);
  p->unset(5, true);
  EXPECT_EQ(p->getValue(), 1);
  EXPECT_EQ(p->getPriority(), kPriorityDefault);
  EXPECT_EQ(rec.calls, (std::vector<int>{10, 30, 5, 30, 5}));

  std::map<int, String> values = p->getValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_STREQ(values[0].str(), "1");
  p->removeCallback(&rec);
}

TEST(ConfigParameterTest, NoPolicyRefusesPolicyOnly)
{
  Configuration cfg("Test");
  BoolParameter* p = cfg.addBool("B", "d", false, ParamLevel::kBasic, "x,noPolicy");
  EXPECT_TRUE(p->hasAttribute("noPolicy"));
  EXPECT_FALSE(p->hasAttribute("nopolicy"));
  EXPECT_TRUE(p->setParam("1", kPriorityPreference));
  EXPECT_FALSE(p->setParam("0", kPriorityPolicy));
  EXPECT_TRUE(p->getValue());
  EXPECT_FALSE(p->hasPriority(kPriorityPolicy));
}

TEST(ConfigParameterTest, CopyResetAndNotifyIfDefault)
{
  Configuration cfg("Test");
  StringParameter* a = cfg.addString("A", "d", "def");
  StringParameter* b = cfg.addString("B", "d", "def");
  a->setParam("pref", kPriorityPreference);
  b->setParam("policy", kPriorityPolicy);
  Recorder rec;
  a->addCallback(&rec);

  a->copyValuesFrom(*a);
  EXPECT_TRUE(rec.calls.empty());
  a->copyValuesFrom(*b);
  EXPECT_EQ(rec.calls, (std::vector<int>{10, 30}));
  EXPECT_FALSE(a->hasPriority(kPriorityPreference));
  EXPECT_STREQ(a->getValue(), "policy");

  rec.calls.clear();
  EXPECT_EQ(a->notifyIfDefault(), kPriorityPolicy);
  EXPECT_TRUE(rec.calls.empty());
  EXPECT_TRUE(a->resetValues(true));
  EXPECT_STREQ(a->getValue(), "def");
  EXPECT_EQ(rec.calls, (std::vector<int>{0}));
  EXPECT_FALSE(a->resetValues(true));
  EXPECT_EQ(a->notifyIfDefault(), kPriorityDefault);
  EXPECT_EQ(rec.calls, (std::vector<int>{0, 0}));
  a->removeCallback(&rec);
}

TEST(ConfigParameterTest, ChangeLogLinesAndBinaryBytesNeverLogged)
{
  LogCapture log;
  Configuration cfg("Test");
  IntParameter* i = cfg.addInt("Num", "d", 1);
  BinaryParameter* b = cfg.addBinary("Secret", "d", 4, kSecret);
  i->setValue(2, kPriorityPreference);
  i->unset(kPriorityPreference, false);
  EXPECT_TRUE(log.contains("set Num(int) to 2, priority 10")) << log.text();
  EXPECT_TRUE(log.contains("unset Num(int) priority 10, now 1, priority 0")) << log.text();

  ASSERT_TRUE(b->setParam("0badc0de", kPriorityPreference));
  ASSERT_TRUE(b->setParam("cafe", kPriorityPolicy));
  b->unset(kPriorityPolicy, true);
  b->unset(kPriorityPreference, true);
  EXPECT_TRUE(log.contains("set Secret(binary) to <binary>, priority 10")) << log.text();
  EXPECT_TRUE(log.contains("unset Secret(binary) priority 10, now <binary>, priority 0"))
      << log.text();
  for (const char* hex : {"deadbeef", "0badc0de", "cafe"})
    EXPECT_FALSE(log.contains(hex)) << hex << " in " << log.text();
  EXPECT_STREQ(b->getValueStr().str(), "deadbeef"); // the value itself is still readable

  log.clear();
  cfg.logChanges = false;
  i->setValue(3, kPriorityPreference);
  EXPECT_FALSE(log.contains("Num")) << log.text();
}

TEST(ConfigParameterDeathTest, MissingDescriptionOrDefaultIsFatal)
{
  Configuration cfg("Test");
  EXPECT_DEATH(BoolParameter("NoDesc", nullptr, false, ParamLevel::kBasic, &cfg),
               "desc \\|\\| locDesc");
  EXPECT_DEATH(StringParameter("NullDef", LocKey{"key"}, nullptr, ParamLevel::kBasic, &cfg),
               "Default value <null> for NullDef not allowed");
}

} // namespace
