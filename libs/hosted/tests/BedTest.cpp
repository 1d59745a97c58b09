// BED values, encoding and notation: the byte examples and messages, the
// limits at their edges, and agreement with an independent python codec.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hosted/Bed.h"
#include "rdr/FileInStream.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

using namespace hosted;

namespace {

const std::string kRef = std::string(TL_TEST_SUPPORT_DIR) + "/bed_reference.py";

std::string unhex(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

std::string encodeHex(const BedValue& v)
{
  rdr::MemOutStream out;
  BedWriter w(out);
  v.encode(w);
  return tltest::toHex(std::string((const char*)out.data(), out.length()));
}

BedValuePtr decodeHex(const std::string& hex, const char* contentType = nullptr,
                      bool strict = false)
{
  std::string bytes = unhex(hex);
  BedReader r((int)bytes.size(), bytes.data());
  return decodeBed(r, contentType, strict);
}

// The message of the failure, or "ok".
std::string decodeError(const std::string& hex, const char* contentType = nullptr,
                        bool strict = false)
{
  try {
    decodeHex(hex, contentType, strict);
  } catch (plat::Exception& e) {
    EXPECT_STREQ("HostedBED", e.getType());
    return e.str();
  }
  return "ok";
}

BedValuePtr mapOf(std::vector<std::pair<const char*, BedValuePtr>> entries)
{
  BedMap* m = new BedMap;
  BedValuePtr p(m);
  for (auto& e : entries)
    m->set(e.first, e.second);
  return p;
}

BedValuePtr I(int64_t v) { return BedValuePtr(new BedInt(v)); }
BedValuePtr S(const char* s) { return BedValuePtr(new BedString(s)); }

// Sets `_MaxBedSize` while it lives.
struct MaxSize {
  explicit MaxSize(int v) { maxBedSize.setValue(v, 1000); }
  ~MaxSize() { maxBedSize.unset(1000, false); }
};

// n nested sequences, the innermost holding the integer 1.
std::string nestedSeqs(int n)
{
  std::string hex;
  for (int i = 0; i < n; i++)
    hex += "e10101";
  return hex + "0101";
}

TEST(Bed, EncodesTheByteExamples)
{
  BedValuePtr abc = S("abc");
  BedSeq* twice = new BedSeq;
  BedValuePtr twicePtr(twice);
  twice->append(abc);
  twice->append(abc);
  std::string opaque300(300, 'x');
  struct {
    BedValuePtr value;
    std::string hex;
  } cases[] = {
      {I(127), "017f"},
      {I(128), "210080"},
      {I(-129), "21ff7f"},
      {I(-128), "0180"},
      {I(32768), "4100008000"},
      {I(2147483648LL), "610000000080000000"},
      {BedValuePtr(new BedBool(true)), "0301"},
      {BedValuePtr(new BedBool(false)), "0300"},
      {abc, "8003616263"},
      {twicePtr, "e101028003616263" "0000"},
      {mapOf({{"a", I(1)}}), "e0010280016101" "01"},
      {mapOf({}), "e00100"},
      {BedValuePtr(new BedSeq), "e10100"},
      {BedValuePtr(new BedOpaque(opaque300.data(), 300)),
       "a1012c" + tltest::toHex(opaque300)},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.hex, encodeHex(*c.value));
    EXPECT_EQ(c.hex, encodeHex(*decodeHex(c.hex)));
  }
}

TEST(Bed, MapKeyRepeatingAStringValue)
{
  BedValuePtr m = mapOf({{"k", S("x")}, {"x", I(2)}});
  EXPECT_EQ("e00104" "80016b" "800178" "0001" "0102", encodeHex(*m));
  BedValuePtr back = decodeHex(encodeHex(*m));
  EXPECT_EQ(2, back->asMap().get("x").asInt().value());
  EXPECT_STREQ("x", back->asMap().get("k").asString().value());
}

TEST(Bed, UnknownValuesRoundTrip)
{
  for (std::string hex : {"0405", "42deadbeef", "820300aabb", "e40102" "0101" "0103", "5f00000001",
                          "2301ff"}) {
    BedValuePtr v = decodeHex(hex);
    EXPECT_THROW(v->asInt(), BedBadType);
    EXPECT_EQ(hex, encodeHex(*v));
  }
}

TEST(Bed, DecodeMessages)
{
  struct {
    std::string hex;
    const char* contentType;
    bool strict;
    std::string message;
  } cases[] = {
      {"e00103" "80016101" "01", nullptr, false, "BED map bad length"},
      {"e00104" "8001610101" "00000102", nullptr, false, "BED decode error"},
      {"e10100", nullptr, true, "Unexpected BED type"},
      {"e00100" "00", nullptr, true, "Trailing bytes after BED"},
      {"e00100" "00", nullptr, false, "ok"},
      {"e00100", "application/json", true, "Unknown Content-Type"},
      {"e00100", " Application/VND.Tessaly.BED\r\n", true, "ok"},
      {"e00100", "application/octet-stream", true, "ok"},
      {"e00100", "application/vnd.tessaly.bed; charset=x", true, "Unknown Content-Type"},
      {"e00102" "8001", nullptr, false, "Truncated BED"},
      {"80ff61", nullptr, false, "Truncated BED"},
      {"800261ff", nullptr, false, "BED decode error"},
      {"80026100", nullptr, false, "BED decode error"},
      {"0000", nullptr, false, "BED decode error"},
      {"0302", nullptr, false, "BED decode error"},
      {"e101ff", nullptr, false, "BED composite bad length"},
      {"e1" "8000", nullptr, false, "Unexpected BED type"},
      {"e00102" "0101" "0101", nullptr, false, "Unexpected BED type"},
      {"", nullptr, false, "Truncated BED"},
  };
  for (auto& c : cases)
    EXPECT_EQ(c.message, decodeError(c.hex, c.contentType, c.strict)) << c.hex;
}

TEST(Bed, Times)
{
  plat::Time t = plat::makeTime(2024, 2, 29, 12, 0, 0) + 500 * plat::kTicksPerMilli;
  BedTime bt(t);
  EXPECT_EQ(t, decodeHex(encodeHex(bt))->asTime().value());
  // Sub-millisecond ticks are dropped.
  EXPECT_EQ(t, decodeHex(encodeHex(BedTime(t + 9999)))->asTime().value());
  auto packed = [](uint64_t y, uint64_t mo, uint64_t d, uint64_t h, uint64_t offset) {
    uint64_t v = (offset & 0x7FF) | h << 33 | d << 38 | mo << 43 | y << 47;
    char buf[32];
    snprintf(buf, sizeof(buf), "62%016llx", (unsigned long long)v);
    return std::string(buf);
  };
  EXPECT_EQ("BED decode error", decodeError(packed(2024, 2, 30, 0, 0)));
  EXPECT_EQ("BED decode error", decodeError("62e0" + packed(2024, 2, 1, 0, 0).substr(4)));
  EXPECT_EQ(plat::makeTime(2024, 3, 1, 9, 0, 0),
            decodeHex(packed(2024, 3, 1, 10, 60))->asTime().value());
  EXPECT_EQ(plat::makeTime(2024, 3, 1, 11, 0, 0),
            decodeHex(packed(2024, 3, 1, 10, 0x7C4))->asTime().value());
}

TEST(Bed, NestingAndSizeLimits)
{
  EXPECT_EQ("ok", decodeError(nestedSeqs(31)));
  EXPECT_EQ("Unsupported nesting", decodeError(nestedSeqs(32)));
  {
    // count x 8 + consumed must stay below the maximum: with 64, a count of
    // 7 passes its check at consumed 2 (56 + 2 < 64) and 8 does not.
    MaxSize limit(64);
    EXPECT_EQ("Truncated BED", decodeError("e10107"));
    EXPECT_EQ("BED composite bad length", decodeError("e10108"));
    // A variable length is checked against what is left below the limit.
    EXPECT_EQ("Truncated BED", decodeError("813d"));
    EXPECT_EQ("BED variable data too large", decodeError("813e"));
    EXPECT_EQ("BED data too large", decodeError("e10103" "813a" + std::string(116, 'a') + "0101" "01"));
  }
  MaxSize huge(2147483647);
  EXPECT_EQ("BED composite bad length", decodeError("e1417fffffff"));
  EXPECT_EQ("BED composite bad length", decodeError("e141ffffffff"));
  EXPECT_EQ("Truncated BED", decodeError("e1410fffffff"));
  EXPECT_EQ("BED composite bad length", decodeError("e14110000000"));
}

TEST(Bed, RepeatsCountAgainstTheLimit)
{
  // One 1000-byte text and 15 two-byte repeats of it: 1,039 bytes on the
  // wire, 16,000 bytes of text in memory.
  std::string doc = "e14100000010a003e8" + tltest::toHex(std::string(1000, 'r'));
  for (int i = 0; i < 15; i++)
    doc += "0000";
  MaxSize limit(20000);
  EXPECT_EQ("ok", decodeError(doc));
  MaxSize tight(10000);
  EXPECT_EQ("BED data too large", decodeError(doc));
}

TEST(Bed, MapsSequencesAndHandles)
{
  BedValuePtr m = mapOf({{"a", I(1)}, {"b", I(2)}});
  m->asMap().set("a", S("x"));
  m->asMap().set("c", I(3));
  EXPECT_EQ("e00106" "800161" "800178" "800162" "0102" "800163" "0103", encodeHex(*m));
  EXPECT_EQ(0, m->asMap().getSeq("missing").size());
  try {
    m->asMap().get("missing");
    FAIL();
  } catch (BedException& e) {
    EXPECT_STREQ("BED key 'missing' not found", e.str());
  }
  EXPECT_THROW(m->asMap().get("c").asString(), BedBadType);
  EXPECT_EQ(3, m->asMap().get("c").asInt().value());
  BedSeq seq;
  EXPECT_THROW(seq.get(0), BedException);
  seq.appendStrings(plat::StringSet("b a", ' '));
  EXPECT_STREQ("a", seq.get(0).asString().value());
  EXPECT_EQ(2u, seq.toStringSet().size());
  seq.append(I(1));
  EXPECT_THROW(seq.toStringSet(), BedBadType);

  BedValuePtr a = S("shared");
  BedValuePtr b = a;
  EXPECT_EQ(2u, a.holderCount());
  a.reset();
  EXPECT_STREQ("shared", b->asString().value());
  EXPECT_EQ(encodeHex(*m), encodeHex(*cloneBed(*m)));
}

// Decoded values live in their reader's arena: parts kept after the root
// and the reader went stay whole (AddressSanitizer sees any early free, the
// leak checker any chunk kept too long), decoded containers still grow, and
// a text too large for a chunk gets one of its own.
TEST(Bed, DecodedValuesOutliveTheirReader)
{
  const std::string big(20000, 'b');
  BedValuePtr doc = mapOf({{"big", S(big.c_str())}});
  BedSeq* list = new BedSeq;
  doc->asMap().set("list", BedValuePtr(list));
  for (int i = 0; i < 3000; i++)
    list->append(mapOf({{"k", S(i % 2 ? "odd" : "even")}, {"big", S(i % 7 ? "" : big.c_str())},
                        {"n", I(i)}}));
  rdr::MemOutStream out;
  BedWriter w(out);
  doc->encode(w);
  const std::string bytes((const char*)out.data(), out.length());

  BedValuePtr inner, text, bigText;
  {
    BedReader r((int)bytes.size(), bytes.data());
    BedValuePtr root = decodeBed(r, nullptr, true);
    const BedSeq& seq = root->asMap().get("list").asSeq();
    inner = seq.begin()[2999];
    text = seq.begin()[1]->asMap().find("k")->value;
    bigText = seq.begin()[7]->asMap().find("big")->value;
    root->asMap().set("list", I(0));
  }
  EXPECT_EQ(2999, inner->asMap().get("n").asInt().value());
  EXPECT_STREQ("odd", inner->asMap().begin()->value->asString().value());
  EXPECT_EQ(1, inner->asMap().begin()->keyLength());
  EXPECT_STREQ("k", inner->asMap().begin()->key());
  inner->asMap().set("k", S("again"));
  inner->asMap().set("added", text);
  EXPECT_EQ("e00108" "80016b" "8005616761696e", encodeHex(*inner).substr(0, 26));
  EXPECT_EQ(big, bigText->asString().value());

  BedReader r((int)bytes.size(), bytes.data());
  BedValuePtr copy = decodeBed(r, nullptr, true);
  BedSeq& seq = copy->asMap().get("list").asSeq();
  for (int i = 0; i < 100; i++)
    seq.append(I(i));
  EXPECT_EQ(3100, seq.size());
  EXPECT_EQ(encodeHex(*cloneBed(*copy)), encodeHex(*copy));
}

TEST(Bed, FindBedKey)
{
  std::string doc = unhex("e00104" "800161" "0105" "800162" "e10100");
  BedSpan s = findBedKey((int)doc.size(), doc.data(), "b");
  EXPECT_EQ((const unsigned char*)doc.data() + 11, s.data);
  EXPECT_EQ(3, s.length);
  struct {
    std::string hex;
    std::string message;
  } cases[] = {
      {"e10100", "BED data not a map"},
      {"e00103", "BED decode error"},
      {"e001ff", "BED decode error"},
      {"e00100", "BED key 'k' not found"},
      {"e00102" "8001610101", "BED key 'k' not found"},
      // The stream's own end, unchanged.
      {"e00102" "80016b01", "End of in-memory input stream"},
  };
  for (auto& c : cases) {
    std::string b = unhex(c.hex);
    try {
      findBedKey((int)b.size(), b.data(), "k");
      ADD_FAILURE() << c.hex;
    } catch (plat::Exception& e) {
      EXPECT_EQ(c.message, e.str()) << c.hex;
    }
  }
}

// Documents from the python codec, with wider widths than needed, times with
// offsets and every kind of unknown value, decode here and encode again to
// the codec's canonical bytes.
TEST(Bed, AgreesWithPythonOnItsDocuments)
{
  std::vector<std::string> lines =
      tltest::commandLines("/usr/bin/python3 " + kRef + " gen 7 150");
  ASSERT_EQ(150u, lines.size());
  std::vector<std::string> maps;
  for (const std::string& l : lines) {
    size_t sp = l.find(' ');
    BedValuePtr v = decodeHex(l.substr(0, sp));
    ASSERT_EQ(l.substr(sp + 1), encodeHex(*v));
    // Through a file's stream, whose window is refilled under the reader.
    tltest::TempFile file(unhex(l.substr(0, sp)) + "rest");
    rdr::FileInStream in(file.path().c_str());
    BedReader fromStream(in);
    ASSERT_EQ(l.substr(sp + 1), encodeHex(*decodeBed(fromStream, nullptr, false)));
    if (l.compare(0, 2, "e0") == 0)
      maps.push_back(l.substr(sp + 1));
  }
  // findBedKey's spans are where python finds each value.
  ASSERT_FALSE(maps.empty());
  std::vector<std::string> spans = tltest::pythonLines(kRef + " spans", maps);
  ASSERT_EQ(maps.size(), spans.size());
  for (size_t i = 0; i < maps.size(); i++) {
    std::string doc = unhex(maps[i]);
    BedValuePtr v = decodeHex(maps[i]);
    std::string offsets;
    for (const BedMap::Entry& e : v->asMap()) {
      BedSpan s = findBedKey((int)doc.size(), doc.data(), e.key());
      offsets += (offsets.empty() ? "" : " ") +
                 std::to_string(s.data - (const unsigned char*)doc.data()) + " " +
                 std::to_string(s.length);
    }
    EXPECT_EQ(spans[i], offsets);
  }
}

// Random trees built here, encoded here, decode and encode again in python
// to the same bytes.
TEST(Bed, PythonReadsOurDocuments)
{
  std::mt19937_64 rng(11);
  std::function<BedValuePtr(int)> make = [&](int depth) -> BedValuePtr {
    switch (rng() % (depth < 5 ? 9 : 6)) {
    case 0: return I((int64_t)rng() >> (rng() % 64));
    case 1: return BedValuePtr(new BedBool(rng() % 2));
    case 2: return BedValuePtr(new BedTime((int64_t)(rng() % 2500000000000000000ULL)));
    case 3: {
      static const char* pool[] = {"", "a", "key", "\xc3\xa9\t\"", "\xf0\x9f\x98\x80", "long"};
      return S(pool[rng() % 6]);
    }
    case 4: {
      std::string b(rng() % 3 ? rng() % 40 : 300, 'q');
      return BedValuePtr(new BedOpaque(b.data(), (int)b.size()));
    }
    case 5: {
      std::string raw = unhex(rng() % 2 ? "0433" : "83020102");
      return decodeHex(tltest::toHex(raw));
    }
    case 6: {
      BedMap* m = new BedMap;
      BedValuePtr p(m);
      for (int i = (int)(rng() % 5); i > 0; i--)
        m->set(("k" + std::to_string(rng() % 8)).c_str(), make(depth + 1));
      return p;
    }
    default: {
      BedSeq* s = new BedSeq;
      BedValuePtr p(s);
      for (int i = (int)(rng() % 5); i > 0; i--)
        s->append(make(depth + 1));
      return p;
    }
    }
  };
  std::vector<std::string> docs;
  for (int i = 0; i < 200; i++)
    docs.push_back(encodeHex(*make(0)));
  EXPECT_EQ(docs, tltest::pythonLines(kRef + " reencode", docs));
}

TEST(Bed, Notation)
{
  EXPECT_EQ("{\n  \"a\" 1\n  \"b\" @TRUE\n}",
            std::string(mapOf({{"a", I(1)}, {"b", BedValuePtr(new BedBool(true))}})->toText().str()));
  EXPECT_EQ("\"x\\n\\u00E9\\t\\\"\\\\\\u1F600\\u0001\"",
            std::string(S("x\n\xc3\xa9\t\"\\\xf0\x9f\x98\x80\x01")->toText().str()));
  // The text ends at the first invalid sequence.
  EXPECT_EQ("\"ab\"", std::string(BedString("ab\xff" "cd").toText().str()));
  EXPECT_EQ("@date-time(2025-01-02T03:04:05.678+00:00)",
            std::string(BedTime(plat::makeTime(2025, 1, 2, 3, 4, 5) + 678 * plat::kTicksPerMilli)
                            .toText()
                            .str()));
  unsigned char ip4[] = {192, 168, 0, 1};
  unsigned char ip6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  BedValuePtr m = mapOf({{"any/ip-address", BedValuePtr(new BedOpaque(ip4, 4))},
                         {"other", BedValuePtr(new BedOpaque(ip4, 4))},
                         {"x", mapOf({{"any/ip-address", BedValuePtr(new BedOpaque(ip6, 16))}})},
                         {"u", decodeHex("e20101" "0405")},
                         {"e", mapOf({})}});
  EXPECT_EQ("{\n"
            "  \"any/ip-address\" @binary(wKgAAQ==) # 192.168.0.1\n"
            "  \"other\" @binary(wKgAAQ==)\n"
            "  \"x\" {\n"
            "    \"any/ip-address\" @binary(IAENuAAAAAAAAAAAAAAAAQ==) # 2001:db8:0:0:0:0:0:1\n"
            "  }\n"
            "  \"u\" @unknown[2\n"
            "    @unknown(BAU=)\n"
            "  ]\n"
            "  \"e\" {\n"
            "  }\n"
            "}",
            std::string(m->toText().str()));
}

TEST(Bed, NotationOfNestedData)
{
  std::string inner = unhex("e00102" "800161" "0101");
  BedValuePtr m = mapOf({{"any/application-data",
                          BedValuePtr(new BedOpaque(inner.data(), (int)inner.size()))},
                         {"any/application-data2", I(0)}});
  EXPECT_EQ("{\n"
            "  \"any/application-data\" @binary(4AECgAFhAQE=)\n"
            "    # {\n"
            "    #   \"a\" 1\n"
            "    # }\n"
            "  \"any/application-data2\" 0\n"
            "}",
            std::string(m->toText().str()));
  std::string seq = unhex("e10100");
  BedValuePtr bad = mapOf(
      {{"any/application-data", BedValuePtr(new BedOpaque(seq.data(), (int)seq.size()))}});
  EXPECT_EQ("{\n  \"any/application-data\" @binary(4QEA)\n    # <not BED-encoded data: "
            "Unexpected BED type>\n}",
            std::string(bad->toText().str()));
  EXPECT_EQ("<not BED-encoded data: Unknown Content-Type>",
            std::string(formatBed(3, unhex("e00100").data(), "text/plain").str()));

  // Application data nested in itself shares one depth budget: past it the
  // comment stands instead of deeper renderings.
  std::string doc = unhex("e00100");
  for (int i = 0; i < 200; i++) {
    rdr::MemOutStream out;
    BedWriter w(out);
    mapOf({{"any/application-data", BedValuePtr(new BedOpaque(doc.data(), (int)doc.size()))}})
        ->encode(w);
    doc.assign((const char*)out.data(), out.length());
  }
  std::string text = formatBed((int)doc.size(), doc.data(), kBedMediaType).str();
  EXPECT_NE(std::string::npos, text.find("<not BED-encoded data: Unsupported nesting>"));
  EXPECT_LT(text.size(), 1000000u);
}

} // namespace
