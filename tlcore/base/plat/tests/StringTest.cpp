#include "plat/String.h"

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "plat/DString.h"

namespace {

using plat::String;

// --- Predicates on NUL-terminated strings ----------------------------------

struct AffixCase {
  const char* s;
  const char* affix;
  bool starts, ends, startsNoCase, endsNoCase;
};

TEST(StrFunctions, PrefixAndSuffix)
{
  const AffixCase cases[] = {
      {"hello", "he", true, false, true, false},
      {"hello", "LO", false, false, false, true},
      {"hello", "hello", true, true, true, true},
      {"hello", "xhello", false, false, false, false}, // longer than the text
      {"hello", nullptr, true, true, true, true},      // null affix matches
      {"hello", "", true, true, true, true},
      {nullptr, "", true, true, true, true}, // null text matches only ""
      {nullptr, "a", false, false, false, false},
      {"", "a", false, false, false, false},
  };
  for (const AffixCase& c : cases) {
    SCOPED_TRACE(std::string(c.s ? c.s : "(null)") + " / " + (c.affix ? c.affix : "(null)"));
    EXPECT_EQ(plat::strStartsWith(c.s, c.affix), c.starts);
    EXPECT_EQ(plat::strEndsWith(c.s, c.affix), c.ends);
    EXPECT_EQ(plat::strStartsWithNoCase(c.s, c.affix), c.startsNoCase);
    EXPECT_EQ(plat::strEndsWithNoCase(c.s, c.affix), c.endsNoCase);
  }
}

TEST(StrFunctions, LengthsCopyAndCompare)
{
  EXPECT_EQ(plat::strLen(nullptr), 0);
  EXPECT_EQ(plat::strnLen(nullptr, 5), 0);
  EXPECT_EQ(plat::strnLen("abcdef", 0), 0);
  EXPECT_EQ(plat::strnLen("abcdef", 3), 3);
  EXPECT_EQ(plat::strnLen("ab", 5), 2);
  EXPECT_EQ(plat::strnLen("abcdef", -1), 6);

  char buf[4];
  EXPECT_EQ(plat::strCopy(buf, "abcdef", sizeof(buf)), 6); // full source length
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(plat::strCopy(buf, nullptr, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");

  EXPECT_EQ(plat::strCmpNull(nullptr, nullptr), 0);
  EXPECT_EQ(plat::strCmpNull(nullptr, ""), -1);
  EXPECT_EQ(plat::strCmpNull("", nullptr), 1);
  EXPECT_LT(plat::strCmpNull("a", "\xc3\xa9"), 0); // bytes compare unsigned
  EXPECT_EQ(plat::strCmpNull("abc", "abc"), 0);

  String dup = String::adopt(plat::strDup("abcdef", 2));
  EXPECT_STREQ(dup.get(), "ab");
  EXPECT_EQ(plat::strDup(nullptr), nullptr);
  char* m = plat::strDupMalloc("xyz");
  EXPECT_STREQ(m, "xyz");
  free(m);
}

TEST(StrFunctions, SearchTrimAndRemove)
{
  const char* hay = "Hello World";
  EXPECT_EQ(plat::strCaseStr(hay, "WORLD"), hay + 6);
  EXPECT_EQ(plat::strCaseStr(hay, ""), hay);
  EXPECT_EQ(plat::strCaseStr(hay, nullptr), hay);
  EXPECT_EQ(plat::strCaseStr(hay, "xyz"), nullptr);

  EXPECT_TRUE(plat::strHasCharBefore(hay, hay + 5, 'o'));
  EXPECT_FALSE(plat::strHasCharBefore(hay, hay + 4, 'o'));
  EXPECT_FALSE(plat::strHasCharBefore(nullptr, nullptr, 'o'));
  EXPECT_FALSE(plat::strHasCharBefore("ab", hay + 100, 'W')); // the NUL ends it first

  struct {
    const char* in;
    const char* left;
    const char* right;
    bool nonBlank;
  } trims[] = {
      {" \t\r\nab c \n", "ab c \n", " \t\r\nab c", true},
      {" \t \r\n", "", "", false},
      {"", "", "", false},
      {"x", "x", "x", true},
  };
  for (const auto& t : trims) {
    char l[32], r[32];
    strcpy(l, t.in);
    strcpy(r, t.in);
    plat::strTrimLeft(l);
    plat::strTrimRight(r);
    EXPECT_STREQ(l, t.left);
    EXPECT_STREQ(r, t.right);
    EXPECT_EQ(plat::strHasNonBlank(t.in), t.nonBlank);
  }
  EXPECT_FALSE(plat::strHasNonBlank(nullptr));

  char rm[] = "a-b_c-d";
  plat::strRemoveChars(rm, "-_");
  EXPECT_STREQ(rm, "abcd");
}

// --- Tokenisers ---------------------------------------------------------------

std::vector<std::string> tokens(const char* text, char sep, bool skip)
{
  std::vector<char> buf(text, text + strlen(text) + 1);
  std::vector<std::string> out;
  char* cursor = buf.data();
  while (char* t = plat::strTok(&cursor, sep, skip))
    out.push_back(t);
  EXPECT_EQ(cursor, nullptr);
  return out;
}

TEST(StrTok, Sequences)
{
  using V = std::vector<std::string>;
  EXPECT_EQ(tokens(",,a,,b,,", ',', true), (V{"a", "b"}));
  EXPECT_EQ(tokens("a,,b", ',', false), (V{"a", "", "b"}));
  EXPECT_EQ(tokens("a,", ',', false), (V{"a", ""}));
  EXPECT_EQ(tokens(",,,", ',', true), V{});
  EXPECT_EQ(tokens("abc", ',', false), V{"abc"});
  EXPECT_EQ(tokens("", ',', false), V{""});

  char* cursor = nullptr;
  EXPECT_EQ(plat::strTok(&cursor, ',', false), nullptr);
}

TEST(StrTok, AnyStrAndSplitLast)
{
  char text[] = "a; b;;c";
  char* cursor = text;
  char found = 'x';
  EXPECT_STREQ(plat::strTokAny(&cursor, " ;", &found, true), "a");
  EXPECT_EQ(found, ';');
  EXPECT_STREQ(plat::strTokAny(&cursor, " ;", &found, true), "b");
  EXPECT_STREQ(plat::strTokAny(&cursor, " ;", &found, true), "c");
  EXPECT_EQ(found, 0);
  EXPECT_EQ(cursor, nullptr);

  char text2[] = "k1::v1::::v2";
  cursor = text2;
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", false), "k1");
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", false), "v1");
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", false), "");
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", false), "v2");
  EXPECT_EQ(cursor, nullptr);

  char text3[] = "::k1::::v1::";
  cursor = text3;
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", true), "k1");
  EXPECT_STREQ(plat::strTokStr(&cursor, "::", true), "v1");
  EXPECT_EQ(cursor, nullptr);

  char path[] = "/usr/lib/x.so";
  cursor = path;
  EXPECT_STREQ(plat::strSplitLast(&cursor, '/'), "x.so");
  EXPECT_STREQ(cursor, "/usr/lib");
  char plain[] = "name";
  cursor = plain;
  EXPECT_STREQ(plat::strSplitLast(&cursor, '/'), "name");
  EXPECT_EQ(cursor, nullptr);
}

// --- Hash and secure helpers --------------------------------------------------

TEST(Fnv1aHash, Values)
{
  // Expected values from an independent implementation that sign-extends
  // each byte; the ASCII ones are the published FNV-1a 64 test vectors.
  struct {
    const char* s;
    uint64_t h;
  } cases[] = {
      {"", 0xcbf29ce484222325ull},
      {"a", 0xaf63dc4c8601ec8cull},
      {"foobar", 0x85944171f73967e8ull},
      {"\xff", 0x509c41b379fe466eull},
      {"\x80", 0x509c0cb379fdec5full},
      {"a\xc3\xa9"
       "b",
       0xec5efa82c34f63faull},
  };
  for (const auto& c : cases)
    EXPECT_EQ(plat::fnv1aHash(c.s), c.h) << c.s;
}

TEST(Secure, ZeroEqualCopy)
{
  unsigned char a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char b[8];
  plat::secureCopy(b, a, sizeof(a));
  EXPECT_EQ(memcmp(a, b, sizeof(a)), 0);
  EXPECT_TRUE(plat::secureEqual(a, b, sizeof(a)));
  b[7] ^= 0x80;
  EXPECT_FALSE(plat::secureEqual(a, b, sizeof(a)));
  EXPECT_TRUE(plat::secureEqual(a, b, 0));
  plat::secureZero(a, sizeof(a));
  for (unsigned char c : a)
    EXPECT_EQ(c, 0);
}

// --- Fixed-array formatters ---------------------------------------------------

TEST(StrCatFormat, Utf8SafeCut)
{
  struct {
    const char* existing;
    const char* arg;
    const char* expected;
  } cases[] = {
      {"", "abcdefghijklmnopqrst", "abcdefghijklmno"}, // 20 ASCII keep 15
      // Byte 15 would be the lead of a two-byte character: 14 stay.
      {"", "abcdefghijklmn\xc3\xa9xyz", "abcdefghijklmn"},
      // A two-byte character ending exactly at byte 15 stays.
      {"", "abcdefghijklm\xc3\xa9xyz", "abcdefghijklm\xc3\xa9"},
      // Three-byte character cut after one or two of its bytes.
      {"", "abcdefghijklm\xe2\x82\xac", "abcdefghijklm"},
      {"", "abcdefghijkl\xe2\x82\xac!", "abcdefghijkl\xe2\x82\xac"},
      {"", "abcdefghijk\xf0\x9f\x98\x80z", "abcdefghijk\xf0\x9f\x98\x80"},
      {"", "abcdefghijkl\xf0\x9f\x98\x80", "abcdefghijkl"},
      // Appends behind the existing text.
      {"0123456789", "\xc3\xa9\xc3\xa9\xc3\xa9", "0123456789\xc3\xa9\xc3\xa9"},
      {"0123456789abcde", "x", "0123456789abcde"},
      // A window of continuation bytes only is left as it is.
      {"", "abcdefghijk\x80\x80\x80\x80zz", "abcdefghijk\x80\x80\x80\x80"},
  };
  for (const auto& c : cases) {
    char buf[16];
    strcpy(buf, c.existing);
    plat::strCatFormat(buf, "%s", c.arg);
    EXPECT_STREQ(buf, c.expected) << c.arg;

    // The run-time size form and strCat apply the same rule.
    char buf2[16];
    strcpy(buf2, c.existing);
    plat::strCatFormat(buf2, (int)sizeof(buf2), "%s", c.arg);
    EXPECT_STREQ(buf2, c.expected);
    strcpy(buf2, c.existing);
    plat::strCat(buf2, sizeof(buf2), c.arg);
    EXPECT_STREQ(buf2, c.expected);
  }
}

TEST(StrCatFormat, FormattingErrorKeepsText)
{
  // Under the C locale a non-ASCII wide character cannot be converted, so
  // vsnprintf fails.
  const wchar_t wide[] = {0xe9, 0};
  char buf[32] = "kept";
  plat::strCatFormat(buf, "%s%ls", "partial", wide);
  EXPECT_STREQ(buf, "kept");

  std::string hugeWidth = "%" + std::to_string(2147483648ll) + "d";
  plat::strCatFormat(buf, (int)sizeof(buf), hugeWidth.c_str(), 1);
  EXPECT_STREQ(buf, "kept");
}

TEST(StrFormat, ClearsThenFormats)
{
  char buf[256] = "old";
  EXPECT_STREQ(plat::strFormat(buf, "%d-%s", 42, "x"), "42-x");
  char small[8] = "ab";
  plat::strCat(small, sizeof(small), "cdefgh", 3);
  EXPECT_STREQ(small, "abcde");
  plat::strCat(small, sizeof(small), nullptr);
  EXPECT_STREQ(small, "abcde");
}

TEST(StrCatChar, WholeCopiesOnly)
{
  struct {
    const char* existing;
    unsigned cp;
    int count;
    const char* expected;
  } cases[] = {
      {"", 'a', 3, "aaa"},
      {"", 0xe9, 4, "\xc3\xa9\xc3\xa9\xc3\xa9"}, // 7 bytes of room hold 3 copies
      {"abcdef", 0x20ac, 2, "abcdef"},           // one byte of room: nothing
      {"abcd", 0x20ac, 2, "abcd\xe2\x82\xac"},
      {"", 0x1f600, 1, "\xf0\x9f\x98\x80"},
      {"", 0x110000, 1, "\xef\xbf\xbd"}, // beyond Unicode: U+FFFD
      {"x", 'a', 0, "x"},
  };
  for (const auto& c : cases) {
    char buf[8];
    strcpy(buf, c.existing);
    plat::strCatChar(buf, sizeof(buf), c.cp, c.count);
    EXPECT_STREQ(buf, c.expected) << std::hex << c.cp;
  }
}

// --- Owned strings --------------------------------------------------------------

TEST(String, NullEmptyAndCase)
{
  String null;
  String empty("");
  EXPECT_TRUE(null.isNull());
  EXPECT_FALSE(empty.isNull());
  EXPECT_STREQ(null.str(), "");
  EXPECT_NE(null, empty);
  EXPECT_EQ(String("ab"), String("abc", 2));
  null.toUpper().toLowerAscii();
  EXPECT_TRUE(null.isNull());

  String mixed("aZ\xc3\xa9-q");
  mixed.toUpperAscii();
  EXPECT_STREQ(mixed.get(), "AZ\xc3\xa9-Q");
  mixed.toLowerAscii();
  EXPECT_STREQ(mixed.get(), "az\xc3\xa9-q");

  String copy(mixed);
  copy.toUpper();
  EXPECT_STREQ(mixed.get(), "az\xc3\xa9-q"); // deep copy
  String moved(std::move(copy));
  EXPECT_TRUE(copy.isNull());
  EXPECT_STREQ(moved.get(), "AZ\xc3\xa9-Q");
}

TEST(String, InsertEvery)
{
  struct {
    const char* in;
    int n;
    const char* out;
  } cases[] = {
      {"abcdef", 2, "ab:cd:ef"},
      {"abcdefg", 3, "abc:def:g"},
      {"abc", 3, "abc"},
      {"abc", 0, "abc"},
      {"", 2, ""},
      {"abcd", 1, "a:b:c:d"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(String(c.in).insertEvery(':', c.n).get(), c.out) << c.in << " " << c.n;
  EXPECT_TRUE(String().insertEvery(':', 2).isNull());
}

TEST(String, Format)
{
  EXPECT_STREQ(plat::format("%s=%d", "n", 7).get(), "n=7");
  String empty = plat::format("%s", "");
  EXPECT_FALSE(empty.isNull());
  EXPECT_STREQ(empty.get(), "");
  std::string big(5000, 'q');
  EXPECT_EQ(plat::format("<%s>", big.c_str()).length(), 5002);
}

TEST(SecureString, AssignAndReplace)
{
  plat::SecureString s("secret", 3);
  EXPECT_STREQ(s.get(), "sec");
  s.assign(nullptr);
  EXPECT_TRUE(s.isNull());
  s.assign("password", -1);
  plat::SecureString copy(s);
  s.reset(plat::strDup("other"));
  EXPECT_STREQ(s.get(), "other");
  EXPECT_STREQ(copy.get(), "password");
  s.assign(s.get() + 1); // from its own text
  EXPECT_STREQ(s.get(), "ther");
  copy = std::move(s);
  EXPECT_STREQ(copy.get(), "ther");
}

// --- Vectors and sets -----------------------------------------------------------

TEST(StringVector, UniqueAndArgv)
{
  plat::StringVector v;
  v.push_back("a");
  v.addUnique("b");
  v.addUnique("a");
  v.addUnique("b");
  ASSERT_EQ(v.size(), 2u);
  plat::StringVector copy(v);
  v.clear();
  std::vector<char*> argv = copy.argv();
  ASSERT_EQ(argv.size(), 3u);
  EXPECT_STREQ(argv[0], "a");
  EXPECT_STREQ(argv[1], "b");
  EXPECT_EQ(argv[2], nullptr);
}

TEST(StringSet, ParseAndJoin)
{
  plat::StringSet set("b,,a,b", ',');
  ASSERT_EQ(set.size(), 3u);
  auto it = set.begin();
  EXPECT_STREQ((it++)->get(), "");
  EXPECT_STREQ((it++)->get(), "a");
  EXPECT_STREQ((it++)->get(), "b");
  EXPECT_TRUE(plat::StringSet(nullptr, ',').empty());

  plat::DString out;
  plat::joinStrings(out, set.begin(), set.end(), ",");
  EXPECT_STREQ(out.get(), "a,b");

  plat::DString prefixed;
  prefixed.append("x");
  plat::StringSet two("p q", ' ');
  EXPECT_STREQ(plat::joinStrings(prefixed, two.begin(), two.end(), "+").get(), "xp+q");
}

// --- Word wrapping ---------------------------------------------------------------

TEST(WordWrap, Cases)
{
  struct {
    const char* in;
    int width, indent;
    const char* out;
  } cases[] = {
      {"aaa bbb ccc", 7, 2, "aaa bbb\n  ccc"},
      {"  lead word", 20, 0, "  lead word"},
      {"one two   ", 20, 0, "one two"},                   // trailing spaces dropped
      {"a\n  b c", 20, 4, "a\n  b c"},                    // spaces after a newline stay
      {"aaaa  \nbb", 3, 1, "aaaa\nbb"},                   // spaces before a newline go
      {"x verylongword y", 5, 1, "x\n verylongword\n y"}, // never split
      {"\xc3\xa9\xc3\xa9\xc3\xa9 abc", 7, 0, "\xc3\xa9\xc3\xa9\xc3\xa9 abc"}, // chars, not bytes
      {"", 5, 0, ""},
  };
  for (const auto& c : cases) {
    String s(c.in);
    plat::wordWrap(s, c.width, c.indent);
    EXPECT_STREQ(s.get(), c.out) << c.in;
  }
  String null;
  plat::wordWrap(null, 5, 0);
  EXPECT_TRUE(null.isNull());
}

} // namespace
