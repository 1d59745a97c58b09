// Authentication flows: questions, completing steps and the wire form.
#include <gtest/gtest.h>

#include <string>

#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "tlauth/SAuthFlows.h"
#include "testutil.h"

namespace {

using tlauth::SAuthFlow;
using tlauth::SAuthFlows;

// "2:SystemAuth+7:Radius,None" style: flows by ",", steps by "+",
// "number:name", "None" for an empty flow.
SAuthFlows flowsOf(const std::string& text)
{
  SAuthFlows flows;
  size_t at = 0;
  while (at <= text.size() && !text.empty()) {
    size_t comma = text.find(',', at);
    std::string piece = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    SAuthFlow flow;
    if (piece != "None") {
      size_t p = 0;
      for (;;) {
        size_t plus = piece.find('+', p);
        std::string step = piece.substr(p, plus == std::string::npos ? std::string::npos : plus - p);
        size_t colon = step.find(':');
        flow.push_back({(uint32_t)std::stoul(step.substr(0, colon)),
                        plat::String(step.substr(colon + 1).c_str())});
        if (plus == std::string::npos)
          break;
        p = plus + 1;
      }
    }
    flows.push_back(flow);
    if (comma == std::string::npos)
      break;
    at = comma + 1;
  }
  return flows;
}

std::string textOf(const SAuthFlows& flows)
{
  std::string s;
  for (const SAuthFlow& f : flows) {
    if (!s.empty())
      s += ",";
    if (f.empty())
      s += "None";
    for (size_t i = 0; i < f.size(); i++)
      s += (i ? "+" : "") + std::to_string(f[i].number) + ":" + f[i].name.str();
  }
  return s;
}

std::string wire(const SAuthFlows& flows)
{
  rdr::MemOutStream out;
  flows.write(out);
  return std::string((const char*)out.data(), (size_t)out.length());
}

TEST(SAuthFlowsTest, WireBytes)
{
  struct Case {
    const char* flows;
    std::string bytes;
  } cases[] = {
      {"", std::string("\0\0", 2)},
      {"None", std::string("\0\1\0\0", 4)},
      {"2:SystemAuth+7:Radius,1:ZarnAuth",
       std::string("\0\2" "\0\2" "\0\2\12SystemAuth" "\0\7\6Radius" "\0\1" "\0\1\10ZarnAuth", 39)},
      // Only the low 16 bits of a number travel.
      {"65539:X", std::string("\0\1\0\1\0\3\1X", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flows);
    SAuthFlows flows = flowsOf(c.flows);
    EXPECT_EQ(tltest::toHex(c.bytes), tltest::toHex(wire(flows)));
    SAuthFlows back = flowsOf("9:Old");
    rdr::MemInStream in(c.bytes.data(), (int)c.bytes.size());
    back.read(in);
    EXPECT_EQ(c.flows == std::string("65539:X") ? "3:X" : c.flows, textOf(back));
    // Written again, the same bytes.
    EXPECT_EQ(tltest::toHex(c.bytes), tltest::toHex(wire(back)));
  }
}

TEST(SAuthFlowsTest, ReadRepairsNamesAndKeepsFlowsOnFailure)
{
  std::string bytes("\0\1\0\1\0\5\3a\xff" "b", 10);
  SAuthFlows flows;
  rdr::MemInStream in(bytes.data(), (int)bytes.size());
  flows.read(in);
  EXPECT_EQ("5:a\xEF\xBF\xBD" "b", textOf(flows));

  // Counts promise more than there is: an error, and nothing changes.
  for (const std::string& cut : {std::string("\0\3\0\1\0\5\1a", 8), std::string("\xff\xff", 2),
                                 std::string("\0\1\xff\xff\0\1", 6), std::string("\0", 1)}) {
    rdr::MemInStream shortIn(cut.data(), (int)cut.size());
    EXPECT_THROW(flows.read(shortIn), plat::Exception);
    EXPECT_EQ("5:a\xEF\xBF\xBD" "b", textOf(flows));
  }
}

TEST(SAuthFlowsTest, LongNamesAreCutOnCharacterBoundaries)
{
  // 127 two-byte characters and one more: 256 bytes, cut to 254.
  std::string name;
  for (int i = 0; i < 128; i++)
    name += "\xc3\xa9";
  SAuthFlows flows;
  flows.push_back({{1, plat::String(name.c_str())}, {2, plat::String(std::string(300, 'x').c_str())}});
  std::string bytes = wire(flows);
  ASSERT_EQ(size_t(2 + 2 + 2 + 1 + 254 + 2 + 1 + 255), bytes.size());
  SAuthFlows back;
  rdr::MemInStream in(bytes.data(), (int)bytes.size());
  back.read(in);
  EXPECT_EQ(name.substr(0, 254), back[0][0].name.str());
  EXPECT_EQ(std::string(255, 'x'), back[0][1].name.str());
}

TEST(SAuthFlowsTest, CompleteStep)
{
  struct Case {
    const char* flows;
    unsigned number;
    const char* name;
    const char* after; // null: "!empty()"
  } cases[] = {
      {"2:SystemAuth+7:Radius,1:ZarnAuth", 2, "SystemAuth", "7:Radius"},
      {"1:ZarnAuth,2:SystemAuth,1:ZarnAuth+3:X", 1, "ZarnAuth", "None,3:X"},
      // The name must match too.
      {"1:ZarnAuth", 1, "Other", nullptr},
      {"2:SystemAuth+7:Radius,1:ZarnAuth", 7, "Radius", nullptr},
      // Flows without steps cannot start with the step and go.
      {"None,1:ZarnAuth", 1, "ZarnAuth", "None"},
      {"None", 1, "ZarnAuth", nullptr},
      {"", 1, "ZarnAuth", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flows);
    SAuthFlows flows = flowsOf(c.flows);
    if (c.after) {
      flows.completeStep(c.number, c.name);
      EXPECT_EQ(c.after, textOf(flows));
      continue;
    }
    try {
      flows.completeStep(c.number, c.name);
      ADD_FAILURE() << "no exception";
    } catch (const plat::AssertionFail& e) {
      EXPECT_STREQ("!empty()", e.getExpression());
    }
  }
  // Null names match only steps without a name.
  SAuthFlows unnamed;
  unnamed.push_back({{4, plat::String()}});
  unnamed.push_back({{4, plat::String("")}});
  unnamed.completeStep(4, nullptr);
  EXPECT_EQ(1u, unnamed.size());
}

TEST(SAuthFlowsTest, Questions)
{
  SAuthFlows flows = flowsOf("2:SystemAuth+7:Radius,None,1:ZarnAuth,2:SystemAuth");
  EXPECT_TRUE(flows.containsMethod(7));
  EXPECT_FALSE(flows.containsMethod(3));
  EXPECT_TRUE(flows.containsMethodName("Radius"));
  EXPECT_FALSE(flows.containsMethodName("radius"));
  EXPECT_FALSE(flows.containsMethodName(nullptr));
  plat::StringSet names = flows.methodNames();
  EXPECT_EQ(3u, names.size());
  EXPECT_EQ(1u, names.count(plat::String("ZarnAuth")));

  auto joined = [](const std::vector<plat::String>& v) {
    std::string s;
    for (const plat::String& n : v)
      s += std::string(s.empty() ? "" : ",") + n.str();
    return s;
  };
  EXPECT_EQ("SystemAuth,SystemAuth", joined(flows.firstStepNames(2)));
  EXPECT_EQ("SystemAuth,ZarnAuth,SystemAuth", joined(flows.firstStepNames(0xFFFFFFFF)));
  EXPECT_EQ("", joined(flows.firstStepNames(7)));

  SAuthFlows copy = flows;
  copy.removeFlowsWith({});
  EXPECT_EQ(textOf(flows), textOf(copy));
  copy.removeFlowsWith({7, 1});
  EXPECT_EQ("None,2:SystemAuth", textOf(copy));
}

TEST(SAuthFlowsDeathTest, WriterRefusesCountsBeyond16Bits)
{
  SAuthFlows many;
  many.resize(65536);
  EXPECT_DEATH(wire(many), "size\\(\\) < 65536");
  SAuthFlows longFlow;
  longFlow.push_back(SAuthFlow(65536));
  EXPECT_DEATH(wire(longFlow), "i.size\\(\\) < 65536");
}

} // namespace
