// The JSON parser's messages and limits, the writer's exact layout, the
// value tree's lookups and ownership, a conformance corpus, and round trips
// through Debian's Python json module in both directions.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Json.h"
#include "plat/encodings.h"
#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/TextWriter.h"
#include "testutil.h"

using namespace plat;
using namespace std::string_literals;

namespace {

// Delivers its data a few bytes per refill, so every read of the parser
// meets the end of a window somewhere.
class TrickleInStream : public rdr::InStream {
public:
  TrickleInStream(const std::string& data, size_t step) : data_(data), step_(step)
  {
    ptr_ = end_ = checkpointPtr_ = base();
  }
  int64_t pos() override { return ptr_ - base(); }
  bool atEnd() override { return ptr_ == end_ && end_ == base() + data_.size(); }
  bool overrun(int) override
  {
    if (end_ == base() + data_.size())
      throw rdr::EndOfStream("End of test stream");
    end_ = std::min(end_ + step_, base() + data_.size());
    return true;
  }
  size_t consumed() const { return (size_t)(ptr_ - base()); }

private:
  const uint8_t* base() const { return (const uint8_t*)data_.data(); }
  std::string data_;
  size_t step_;
};

std::string written(const JsonValue& v)
{
  std::unique_ptr<char[]> text(v.toString());
  return text.get();
}

JsonPtr<JsonValue> parse(const std::string& text, bool strict = true)
{
  return JsonValue::parse(text.data(), (int)text.size(), nullptr, strict);
}

// The written form of the parsed text, or "!" and the error message.
std::string outcome(const std::function<JsonPtr<JsonValue>()>& parser)
{
  try {
    return written(*parser());
  } catch (JsonException& e) {
    return "!"s + e.str();
  }
}

std::string writeOutcome(const JsonValue& v)
{
  try {
    return written(v);
  } catch (JsonException& e) {
    return "!"s + e.str();
  }
}

std::string nest(int levels, const std::string& inner)
{
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

// --- Parsing -----------------------------------------------------------------

TEST(Json, ParserOutcomes)
{
  std::string max32 = written(*parse(nest(32, "1")));
  struct Case {
    std::string input;
    std::string result; // written form, or "!" and the message
  } cases[] = {
      {" [ \t\r\n ] \n", "[]"},
      {"[1,]", "!Bad value at line 0"},
      {"{\"a\":1,}", "!Bad string at line 0"},
      {"{\"a\":1,\"a\":2}", "!Unsupported object at line 0"},
      {nest(32, "1"), max32},
      {nest(33, "1"), "!Unsupported nesting at line 0"},
      {nest(33, ""), written(*parse(nest(33, "")))},
      {"9223372036854775807", "9223372036854775807"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"9223372036854775808", "!Unsupported number at line 0"},
      {"-9223372036854775809", "!Unsupported number at line 0"},
      {"92233720368547758070", "!Unsupported number at line 0"},
      {"-0", "!Bad value at line 0"},
      {"-", "!Bad value at line 0"},
      {"-a", "!Bad value at line 0"},
      {"+1", "!Bad value at line 0"},
      {".5", "!Bad value at line 0"},
      {"1.5", "!Unsupported number at line 0"},
      {"1e3", "!Unsupported number at line 0"},
      {"0E1", "!Unsupported number at line 0"},
      {"0", "0"},
      {"012", "!Trailing bytes after JSON at line 0"},
      {"\"\\u0000\"", "!Unsupported string at line 0"},
      {"\"a\0b\""s, "!Unsupported string at line 0"},
      {"\"\\uDC00\"", "!Illegal low surrogate at line 0"},
      {"\"\\uD83D\\u0041\"", "!Unterminated surrogate pair at line 0"},
      {"\"\\uD83Dx\"", "!Unterminated surrogate pair at line 0"},
      {"\"\\ud83d\\ude00\"", "\"\\uD83D\\uDE00\""},
      {"\"\\u12G4\"", "!Bad string hex escape at line 0"},
      {"\"\\x\"", "!Bad string at line 0"},
      {"\"a\tb\"", "!Bad string at line 0"},
      {"\"a\xFF\"", "!Bad string at line 0"},
      {"\"\xEF\xB7\x90\"", "!Bad string at line 0"}, // U+FDD0, a non-character
      {"\"\\uFFFE\"", "!Bad string at line 0"},
      {"\"\\b\\f\\/\\\"\"", "\"\\u0008\\u000C/\\\"\""},
      {"\"\xC3\xA9\x7F\"", "\"\xC3\xA9\\u007F\""},
      {"\n\n[1,x]", "!Bad value at line 2"},
      {"\f1", "!Bad value at line 0"},
      {"tru", "!Truncated JSON at line 0"},
      {"[1", "!Truncated JSON at line 0"},
      {"", "!Truncated JSON at line 0"},
      {"[\n\"abc", "!Truncated JSON at line 1"},
      {"{\"a\"", "!Truncated JSON at line 0"},
      {"truex", "!Trailing bytes after JSON at line 0"},
      {"[truex]", "!Bad array at line 0"},
      {"nul!", "!Bad value at line 0"},
      {"[1 2]", "!Bad array at line 0"},
      {"{\"a\" 1}", "!Bad object at line 0"},
      {"{\"a\":1 \"b\":2}", "!Bad object at line 0"},
      {"{1:2}", "!Bad string at line 0"},
      {"1 2", "!Trailing bytes after JSON at line 0"},
      {" {\"k\" : [ true , false, null ] } ",
       "{\n  \"k\":[\n    true,\n    false,\n    null\n  ]\n}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome([&] { return parse(c.input); }), c.result) << c.input;
    // Through a caller's stream in small windows: the same, except that
    // nothing after the value is looked at.
    std::string viaStream = c.result.rfind("!Trailing", 0) == 0 ? "" : c.result;
    for (size_t step : {1, 3}) {
      TrickleInStream in(c.input, step);
      std::string got = outcome([&] { return JsonValue::parse(in, nullptr); });
      if (!viaStream.empty())
        EXPECT_EQ(got, viaStream) << c.input << " step " << step;
      else
        EXPECT_NE(got[0], '!') << c.input << ": " << got;
    }
  }
}

TEST(Json, CallerStreamStopsAfterValue)
{
  struct Case {
    std::string input;
    size_t consumed;
  } cases[] = {{"[1] x", 3}, {"12", 2}, {"012", 1}, {"true,", 4}, {"\"a\"\"b\"", 3}};
  for (const Case& c : cases) {
    rdr::MemInStream in(c.input.data(), (int)c.input.size());
    JsonValue::parse(in, nullptr);
    EXPECT_EQ((size_t)in.pos(), c.consumed) << c.input;
  }
}

// Without strict numbers a fraction or an exponent keeps its value rather
// than turning into 0.
TEST(Json, LaxNumbersKeepTheirValue)
{
  struct Case {
    const char* input;
    const char* result;
    int64_t whole;
  } cases[] = {
      {"1.5", "1.5", 1},
      {"1e3", "1000.0", 1000},
      {"-2.5E3", "-2500.0", -2500},
      {"0.1", "0.1", 0},
      {"12", "12", 12},
      {"1e999", "!Unsupported number at line 0", 0},
      {"1.", "!Bad value at line 0", 0},
      // A sign after the exponent letter ends the number.
      {"1e+5", "!Bad value at line 0", 0},
      {"2E-3", "!Bad value at line 0", 0},
      {"-0.5", "-0.5", 0},
      {"-0", "!Bad value at line 0", 0},
      {"2.5e40", "2.5e40", INT64_MAX},
      {"0.000001", "0.000001", 0},
      {"1e21", "1.0e21", INT64_MAX},
      // Beyond 64 bits an integer part would not read back.
      {"5e20", "5.0e20", INT64_MAX},
      {"9.3e18", "9.3e18", INT64_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outcome([&] { return parse(c.input, false); }), c.result) << c.input;
    if (c.result[0] != '!') {
      JsonPtr<JsonValue> v = parse(c.input, false);
      EXPECT_EQ(v->asNumber().value(), c.whole) << c.input;
      EXPECT_TRUE(jsonEqual(*v, *parse(written(*v), false))) << c.input;
      EXPECT_TRUE(jsonEqual(*v, *JsonValue::clone(*v))) << c.input;
    }
  }
  EXPECT_DOUBLE_EQ(parse("[-2.5E3]", false)->asArray().get(0)->asNumber().realValue(), -2500);
}

TEST(Json, ContentTypes)
{
  struct Case {
    const char* type;
    bool accepted;
  } cases[] = {
      {"application/json", true},
      {"application/json; charset=utf-8", true},
      {"Application/JSON ; Charset=UTF-8", true},
      {" application/json\t", true},
      {"application/json;", false},
      {"application/json; charset=iso-8859-1", false},
      {"text/json", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::string got = outcome([&] { return JsonValue::parse("1", 1, c.type); });
    EXPECT_EQ(got, c.accepted ? "1" : "!Unknown Content-Type '"s + c.type + "'") << c.type;
  }
  String out;
  formatJson(out, "{]", 2, nullptr, true);
  EXPECT_STREQ(out.str(), "<not JSON-encoded data: Bad string at line 0>");
  formatJson(out, "[1]", 3, "text/json", true);
  EXPECT_STREQ(out.str(), "<not JSON-encoded data: Unknown Content-Type 'text/json'>");
  formatJson(out, "[1.5]", 5, "application/json", false);
  EXPECT_STREQ(out.str(), "[\n  1.5\n]");
}

// Many members: the duplicate check indexes the keys, so this takes a
// moment instead of hours, and a late duplicate is still found.
TEST(Json, LargeObjectParsesInLinearTime)
{
  const int n = 400000;
  std::string text = "{";
  for (int i = 0; i < n; i++)
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  std::string good = text + "\"last\":0}";
  auto start = std::chrono::steady_clock::now();
  JsonPtr<JsonValue> v = parse(good);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(v->asObject().size(), n + 1);
  EXPECT_EQ(v->asObject().get("k123456")->asNumber().value(), 123456);
  EXPECT_EQ(outcome([&] { return parse(text + "\"k5\":0}"); }), "!Unsupported object at line 0");
  EXPECT_EQ(outcome([&] { return parse("{\"a\":1,\"b\":2,\"a\":3}"); }),
            "!Unsupported object at line 0");
}

// --- Writing -------------------------------------------------------------------

TEST(Json, WriterLayout)
{
  JsonPtr<JsonObject> doc(new JsonObject());
  doc->set("a", new JsonNumber(1));
  JsonArray* b = new JsonArray();
  b->append(new JsonBool(true));
  doc->set("b", b);
  JsonPtr<JsonObject> empties(new JsonObject());
  empties->set("e", new JsonObject());
  empties->set("f", new JsonArray());
  empties->set(nullptr, new JsonNull());

  struct Case {
    JsonPtr<JsonValue> value;
    std::string text;
  } cases[] = {
      {doc, "{\n  \"a\":1,\n  \"b\":[\n    true\n  ]\n}"},
      {empties, "{\n  \"e\":{},\n  \"f\":[],\n  \"\":null\n}"},
      {JsonPtr<JsonValue>(new JsonString("\"/\t\\")), "\"\\\"/\\t\\\\\""},
      {JsonPtr<JsonValue>(new JsonString("\xC3\xA9")), "\"\xC3\xA9\""},
      {JsonPtr<JsonValue>(new JsonString("\x1F\b\f\n\r\x7F")),
       "\"\\u001F\\u0008\\u000C\\n\\r\\u007F\""},
      {JsonPtr<JsonValue>(new JsonString("\xF0\x9F\x98\x80")), "\"\\uD83D\\uDE00\""},
      {JsonPtr<JsonValue>(new JsonString(nullptr)), "\"\""},
      {JsonPtr<JsonValue>(new JsonNumber(INT64_MIN)), "-9223372036854775808"},
      {JsonPtr<JsonValue>(new JsonBool(false)), "false"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(written(*c.value), c.text);

  // A nested value written on its own at an indent, into a stream that
  // already holds text; the text stays NUL-terminated after it.
  rdr::MemOutStream os(1);
  rdr::TextWriter out(&os);
  out.write("x=");
  b->write(out, 4);
  EXPECT_EQ(std::string((const char*)os.data(), (size_t)os.length()), "x=[\n      true\n    ]");
  EXPECT_EQ(os.data()[os.length()], 0);
}

// Text with invalid UTF-8 is repaired when the value is made, so writing and
// cloning keep everything after the bad bytes.
TEST(Json, InvalidUtf8IsRepairedNotCut)
{
  JsonString s("a\xFF"
               "b\xC3");
  EXPECT_STREQ(s.str(), "a\xEF\xBF\xBD"
                        "b\xEF\xBF\xBD");
  EXPECT_EQ(written(s), "\"a\xEF\xBF\xBD"
                        "b\xEF\xBF\xBD\"");
  EXPECT_STREQ(JsonValue::clone(s)->asString().str(), s.str());
  // Text changed behind the value's back is repaired by the writer too.
  s.reset(strDup("c\xFF"
                 "d"));
  EXPECT_EQ(written(s), "\"c\xEF\xBF\xBD"
                        "d\"");
}

// --- Building and reading -------------------------------------------------------

TEST(Json, BuildingKeepsOrderAndUniqueKeys)
{
  JsonPtr<JsonObject> o(new JsonObject());
  o->set("a", new JsonNumber(1));
  o->set("b", new JsonNumber(2));
  o->set("c", new JsonNumber(3));
  o->set("a", new JsonNumber(4)); // replaced in place
  JsonPtr<JsonValue> b = o->get("b");
  o->set("b", b); // its own value: nothing happens
  EXPECT_EQ(b.holderCount(), 2u);
  o->remove("b");
  o->remove("missing");
  EXPECT_EQ(written(*o), "{\n  \"a\":4,\n  \"c\":3\n}");

  JsonPtr<JsonArray> a(new JsonArray());
  StringVector list;
  list.push_back("x");
  list.push_back("y");
  a->appendStrings(list);
  a->appendStrings(StringSet("q,p", ','));
  EXPECT_EQ(written(*a), "[\n  \"x\",\n  \"y\",\n  \"p\",\n  \"q\"\n]");
}

TEST(Json, LookupsAndTypedReaders)
{
  JsonPtr<JsonValue> v =
      parse("{\"n\":11,\"big\":3000000000,\"neg\":-3000000000,\"s\":\"abc\","
            "\"t\":\"2020-01-02T03:04:05Z\",\"b64\":\"AAEC\",\"l\":[\"x\",\"y\",\"x\"],"
            "\"mixed\":[\"x\",1]}");
  JsonObject& o = v->asObject();
  EXPECT_FALSE(o.tryGet("none"));
  EXPECT_FALSE(o.tryGetArray("n"));
  EXPECT_EQ(o.tryGetArray("l")->size(), 3);
  EXPECT_EQ(o.get("big")->asNumber().intValue(), INT_MAX);
  EXPECT_EQ(o.get("neg")->asNumber().intValue(), INT_MIN);
  EXPECT_EQ(o.get("n")->asNumber().valueInRange(11, 11), 11);
  EXPECT_STREQ(o.get("s")->asString().checkLength(3), "abc");
  EXPECT_EQ(jsonToTime(*o.get("t")), makeTime(2020, 1, 2, 3, 4, 5));
  MBuf<unsigned char> bytes = jsonToBytes(*o.get("b64"));
  EXPECT_EQ(std::vector<unsigned char>(bytes.data(), bytes.data() + bytes.length()),
            (std::vector<unsigned char>{0, 1, 2}));
  EXPECT_EQ(o.getArray("l")->toStringVector().size(), 3u);
  EXPECT_EQ(o.getArray("l")->toStringSet().size(), 2u);
  // Converted handles share the value's ring.
  JsonPtr<JsonObject> same = toJsonObject(v);
  EXPECT_EQ(v.holderCount(), 2u);

  struct Case {
    std::function<void()> call;
    const char* message;
    const char* type;
  } cases[] = {
      {[&] { o.get("missing"); }, "JSON object property 'missing' not found", "JsonException"},
      {[&] { o.getArray("n"); }, "Unexpected JSON type", "Json"},
      {[&] { o.getArray("l")->get(-1); }, "JSON array index -1 not found", "JsonException"},
      {[&] { o.getArray("l")->get(3); }, "JSON array index 3 not found", "JsonException"},
      {[&] { o.get("n")->asNumber().valueInRange(0, 10); },
       "Unexpected value: 11 out of range [0,10]", "JsonException"},
      {[&] { o.get("n")->asBool(); }, "Unexpected JSON type", "Json"},
      {[&] { toJsonArray(v); }, "Unexpected JSON type", "Json"},
      {[&] { jsonToTime(*o.get("n")); }, "Unexpected JSON type", "Json"},
      {[&] { jsonToTime(*o.get("s")); }, "Unexpected JSON type", "Json"},
      {[&] { jsonToBytes(*o.get("t")); }, "Unexpected JSON type", "Json"},
      {[&] { o.getArray("mixed")->toStringVector(); }, "Unexpected JSON type", "Json"},
      {[&] { o.getArray("mixed")->toStringSet(); }, "Unexpected JSON type", "Json"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception, expected " << c.message;
    } catch (JsonException& e) {
      EXPECT_STREQ(e.str(), c.message);
      EXPECT_STREQ(e.getType(), c.type);
    }
  }
  // checkLength throws a plain exception, not a JSON one.
  try {
    o.get("s")->asString().checkLength(2);
    ADD_FAILURE();
  } catch (JsonException&) {
    ADD_FAILURE();
  } catch (Exception& e) {
    EXPECT_STREQ(e.str(), "Unexpected value: string too long");
  }
}

// A tree built in code can neither contain itself nor be written (or
// cloned) deeper than the parser reads, and any depth is freed without
// deep recursion.
TEST(Json, CyclesAndDepthAreRefused)
{
  JsonPtr<JsonObject> parent(new JsonObject());
  JsonPtr<JsonArray> child(new JsonArray());
  parent->set("child", child);
  JsonArray* rawFresh = new JsonArray();
  rawFresh->append(JsonPtr<JsonValue>(parent));
  struct Case {
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {[&] { parent->set("self", parent); }, "JSON value would contain itself"},
      {[&] { child->append(parent); }, "JSON value would contain itself"},
      {[&] { child->append(child.get()); }, "JSON value would contain itself"},
      {[&] { child->append(rawFresh); }, "JSON value would contain itself"},
      {[&] { parent->set("x", JsonPtr<JsonValue>()); }, "Empty JSON value"},
      {[&] { child->append((JsonValue*)nullptr); }, "Empty JSON value"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.message;
    } catch (JsonException& e) {
      EXPECT_STREQ(e.str(), c.message);
    }
  }
  EXPECT_EQ(written(*parent), "{\n  \"child\":[]\n}");

  // 33 levels of containers write and clone; one value more is refused.
  auto chain = [](int levels, JsonValue* innermost) {
    JsonPtr<JsonValue> root(new JsonArray());
    JsonArray* leaf = &root->asArray();
    for (int i = 1; i < levels; i++) {
      JsonArray* next = new JsonArray();
      leaf->append(next);
      leaf = next;
    }
    if (innermost)
      leaf->append(innermost);
    return root;
  };
  JsonPtr<JsonValue> deepest = chain(33, nullptr);
  EXPECT_TRUE(jsonEqual(*deepest, *JsonValue::clone(*deepest)));
  for (const JsonPtr<JsonValue>& tooDeep : {chain(33, new JsonNumber(1)), chain(300000, nullptr)}) {
    EXPECT_EQ(writeOutcome(*tooDeep), "!Unsupported nesting");
    EXPECT_EQ(outcome([&] { return JsonValue::clone(*tooDeep); }), "!Unsupported nesting");
  }
}

struct Counted {
  static int alive;
  Counted() { alive++; }
  virtual ~Counted() { alive--; }
};
struct DerivedCounted : Counted {};
int Counted::alive = 0;

TEST(SharedHandle, LastHolderDeletes)
{
  {
    SharedHandle<DerivedCounted> d(new DerivedCounted());
    SharedHandle<Counted> base = d; // converted copy joins the ring
    SharedHandle<Counted> moved = std::move(base);
    EXPECT_FALSE(base);
    EXPECT_EQ(d.holderCount(), 2u);
    SharedHandle<DerivedCounted> back = sharedHandleCast<DerivedCounted>(moved);
    EXPECT_EQ(back.holderCount(), 3u);
    const SharedHandle<Counted>& self = moved;
    moved = self;  // self-assignment
    back = d;      // same object: no change
    d.reset();
    moved.reset();
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_TRUE(back.unique());
    SharedHandle<DerivedCounted>& selfBack = back;
    back = std::move(selfBack);
    EXPECT_EQ(Counted::alive, 1);
    SharedHandle<Counted> other(new Counted());
    SharedHandle<Counted> last(back);
    back.reset();
    last = other; // the first object's last holder leaves
    EXPECT_EQ(Counted::alive, 1);
    other = std::move(last); // same object moved onto a holder of it
    EXPECT_TRUE(other.unique());
    other.reset(other.get()); // resetting to the held object does nothing
    EXPECT_EQ(Counted::alive, 1);
  }
  EXPECT_EQ(Counted::alive, 0);
}

// Values made on one thread may be freed on another, and a thread that ends
// leaves its spare blocks for the others.
TEST(Json, ValuesMoveBetweenThreads)
{
  std::vector<JsonPtr<JsonValue>> made;
  std::thread maker([&] {
    for (int i = 0; i < 2000; i++)
      made.push_back(parse("{\"k\":[1,\"two\",{\"x\":null}]}"));
  });
  maker.join();
  std::string expected = written(*made.front());
  made.clear();
  std::vector<JsonPtr<JsonValue>> again;
  for (int i = 0; i < 2000; i++)
    again.push_back(parse("{\"k\":[1,\"two\",{\"x\":null}]}"));
  std::thread freer([&] { again.clear(); });
  freer.join();
  EXPECT_EQ(written(*parse("{\"k\":[1,\"two\",{\"x\":null}]}")), expected);
}

// --- Conformance corpus ---------------------------------------------------------

std::vector<std::string> listDir(const std::string& dir)
{
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  EXPECT_NE(d, nullptr) << dir;
  while (d) {
    struct dirent* e = readdir(d);
    if (!e)
      break;
    if (e->d_name[0] != '.')
      names.push_back(e->d_name);
  }
  if (d)
    closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFile(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// accept/ documents parse and survive being written and parsed again;
// reject/ documents fail with the message that reject/messages.txt names.
TEST(Json, ConformanceCorpus)
{
  std::string root = TL_TEST_SOURCE_DIR "/json/";
  std::vector<std::string> accepted = listDir(root + "accept");
  EXPECT_GE(accepted.size(), 10u);
  for (const std::string& name : accepted) {
    std::string text = readFile(root + "accept/" + name);
    std::string got = outcome([&] { return parse(text); });
    ASSERT_NE(got[0], '!') << name << ": " << got;
    JsonPtr<JsonValue> v = parse(text);
    EXPECT_TRUE(jsonEqual(*v, *parse(written(*v)))) << name;
    TrickleInStream in(text, 2);
    EXPECT_TRUE(jsonEqual(*v, *JsonValue::parse(in, nullptr))) << name;
  }
  std::map<std::string, std::string> expected;
  std::ifstream index(root + "reject/messages.txt");
  std::string line;
  while (std::getline(index, line)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos)
      expected[line.substr(0, tab)] = line.substr(tab + 1);
  }
  std::vector<std::string> rejected = listDir(root + "reject");
  EXPECT_EQ(rejected.size(), expected.size() + 1); // messages.txt itself
  for (const auto& [name, message] : expected) {
    std::string text = readFile(root + "reject/" + name);
    EXPECT_EQ(outcome([&] { return parse(text); }), "!" + message) << name;
  }
}

// --- Against Python's json --------------------------------------------------------

std::vector<std::string> runPython(const std::string& args, const std::vector<std::string>& input)
{
  return tltest::pythonLines(TL_TEST_SUPPORT_DIR "/json_reference.py " + args, input);
}

std::string toB64(const std::string& s)
{
  return binToBase64((int)s.size(), (const unsigned char*)s.data(), false).str();
}

std::string fromB64(const std::string& s)
{
  MBuf<unsigned char> out;
  EXPECT_TRUE(base64Decode(s.c_str(), out)) << s;
  return std::string((const char*)out.data(), (size_t)out.length());
}

class RandomDocs {
public:
  explicit RandomDocs(unsigned seed) : rng_(seed) {}

  JsonValue* value(int depth)
  {
    int k = pick(100);
    if (depth >= 4 || k < 45) {
      k = pick(100);
      if (k < 45)
        return new JsonNumber(number());
      if (k < 90)
        return new JsonString(text().c_str());
      return k < 95 ? (JsonValue*)new JsonBool(k & 1) : new JsonNull();
    }
    if (k < 72) {
      JsonArray* a = new JsonArray();
      for (int i = pick(7); i > 0; i--)
        a->append(value(depth + 1));
      return a;
    }
    JsonObject* o = new JsonObject();
    for (int i = pick(7); i > 0; i--)
      o->set(text().c_str(), value(depth + 1));
    return o;
  }

private:
  int pick(int n) { return (int)(rng_() % (unsigned)n); }

  int64_t number()
  {
    static const int64_t edges[] = {0, -1, INT64_MAX, INT64_MIN, INT32_MAX, INT32_MIN};
    if (pick(10) == 0)
      return edges[pick(6)];
    int bits = 1 + pick(63);
    return (int64_t)(rng_() >> (64 - bits)) * (pick(2) ? 1 : -1);
  }

  std::string text()
  {
    std::string s;
    for (int n = pick(12); n > 0; n--) {
      unsigned cp;
      switch (pick(6)) {
      case 0:
        cp = 1 + pick(0x7F);
        break;
      case 1:
        cp = 0xA0 + pick(0x700);
        break;
      case 2:
        cp = 0x800 + pick(0xD000);
        break;
      case 3:
        cp = 0x10000 + pick(0xFFFF0);
        break;
      default:
        cp = "\"\\/ azAZ09\t"[pick(11)];
        break;
      }
      if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
          (cp & 0xFFFE) == 0xFFFE)
        cp = 0xFFFD;
      char buf[4];
      char* p = buf;
      utf8Encode(cp, &p);
      s.append(buf, p);
    }
    return s;
  }

  std::mt19937_64 rng_;
};

// Ours to Python and back: Python reads what we write and writes it in
// several styles, which we read back to the same value.
TEST(JsonPython, OurDocumentsThroughPython)
{
  RandomDocs gen(20240601);
  std::vector<JsonPtr<JsonValue>> docs;
  std::vector<std::string> lines;
  for (int i = 0; i < 400; i++) {
    docs.emplace_back(gen.value(0));
    lines.push_back(toB64(written(*docs.back())));
  }
  std::vector<std::string> back = runPython("echo", lines);
  ASSERT_EQ(back.size(), docs.size());
  for (size_t i = 0; i < docs.size(); i++) {
    ASSERT_NE(back[i][0], '!') << back[i] << "\n" << written(*docs[i]);
    std::string text = fromB64(back[i]);
    std::string got = outcome([&] { return parse(text); });
    EXPECT_EQ(got, written(*docs[i])) << text;
  }
}

// Python's documents to us and back: we read Python's random documents in
// its various styles and write them; Python checks the values and that the
// bytes are its own indented layout.
TEST(JsonPython, PythonDocumentsThroughUs)
{
  const int count = 400;
  std::vector<std::string> docs = runPython("gen 7 " + std::to_string(count), {});
  ASSERT_EQ(docs.size(), (size_t)count);
  std::vector<std::string> ours;
  for (const std::string& d : docs) {
    std::string text = fromB64(d);
    std::string got = outcome([&] { return parse(text); });
    EXPECT_NE(got[0], '!') << text << "\n" << got;
    ours.push_back(toB64(got));
  }
  std::vector<std::string> verdicts = runPython("check 7 " + std::to_string(count), ours);
  ASSERT_EQ(verdicts.size(), (size_t)count);
  for (size_t i = 0; i < verdicts.size(); i++)
    EXPECT_EQ(verdicts[i], "ok") << fromB64(docs[i]);
}

} // namespace
