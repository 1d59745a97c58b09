#include "plat/DString.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "plat/Exception.h"

namespace {

using plat::DString;

TEST(DString, ReserveSizes)
{
  struct {
    int n;
    int capacity;
  } cases[] = {{0, 0}, {1, 8}, {7, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}, {1000, 1024}};
  for (const auto& c : cases) {
    DString d;
    d.reserve(c.n);
    EXPECT_EQ(d.capacity(), c.capacity) << c.n;
    EXPECT_EQ(d.hasBuf(), c.n > 0);
    EXPECT_STREQ(d.get(), "");
  }

  DString d;
  d.reserve(20);
  d.reserve(10); // never shrinks
  EXPECT_EQ(d.capacity(), 32);
}

TEST(DString, AppendGrowsByPowersOfTwo)
{
  DString d;
  EXPECT_EQ(d.length(), 0);
  d.append(nullptr);
  EXPECT_FALSE(d.hasBuf());
  d.append("abcdefgh", 3);
  EXPECT_STREQ(d.get(), "abc");
  EXPECT_EQ(d.capacity(), 8);
  d.append("defgh");
  EXPECT_EQ(d.capacity(), 16); // 8 bytes + NUL
  d.append(std::string(100, 'x').c_str());
  EXPECT_EQ(d.length(), 108);
  EXPECT_EQ(d.capacity(), 128);

  // Appending its own text survives the buffer moving.
  DString self;
  self.append("0123456");
  self.append(self.get());
  self.append(self.get() + 10, 2);
  EXPECT_STREQ(self.get(), "0123456012345634");
}

TEST(DString, AppendfAndFormat)
{
  DString d;
  d.appendf("%d-%s", 12, "ab");
  EXPECT_STREQ(d.get(), "12-ab");
  // Output far longer than the format: the second attempt is sized exactly.
  std::string big(3000, 'z');
  d.appendf("%s!", big.c_str());
  EXPECT_EQ(d.length(), 3006);
  EXPECT_EQ(d.get()[3005], '!');
  EXPECT_STREQ(DString::format("%05d", 42).get(), "00042");
  EXPECT_TRUE(DString::format("%s", "").hasBuf());
}

// A vsnprintf that fails for good must not grow the buffer until memory
// runs out; the text is cut back and the error thrown.
TEST(DString, FormattingErrorThrowsAndKeepsText)
{
  const wchar_t wide[] = {0xe9, 0}; // unconvertible under the C locale
  DString d;
  d.append("kept");
  try {
    d.appendf("%s%ls", "partial", wide);
    FAIL() << "no exception";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.getErr(), EILSEQ);
    EXPECT_TRUE(plat::strStartsWith(e.str(), "vsnprintf: ")) << e.str();
  }
  EXPECT_STREQ(d.get(), "kept");
  EXPECT_LE(d.capacity(), 64);

  // A field width above INT_MAX (built at run time so the compiler does not
  // check it).
  std::string hugeWidth = "%" + std::to_string(2147483648ll) + "d";
  try {
    d.appendf(hugeWidth.c_str(), 1);
    FAIL() << "no exception";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.getErr(), EOVERFLOW);
  }
  EXPECT_STREQ(d.get(), "kept");

  EXPECT_THROW(plat::format("%ls", wide), plat::SystemException);
}

TEST(DString, AppendChar)
{
  struct {
    unsigned cp;
    int count;
    const char* out;
  } cases[] = {
      {'a', 3, "aaa"},
      {0x7f, 1, "\x7f"},
      {0x80, 1, "\xc2\x80"},
      {0x7ff, 1, "\xdf\xbf"},
      {0x800, 2, "\xe0\xa0\x80\xe0\xa0\x80"},
      {0xffff, 1, "\xef\xbf\xbf"},
      {0x10000, 1, "\xf0\x90\x80\x80"},
      {0x10ffff, 1, "\xf4\x8f\xbf\xbf"},
      {0x110000, 1, "\xef\xbf\xbd"},
      {'a', 0, ""},
      {'a', -5, ""},
  };
  for (const auto& c : cases) {
    DString d;
    d.appendChar(c.cp, c.count);
    EXPECT_STREQ(d.get(), c.out) << std::hex << c.cp;
  }
}

TEST(DString, AppendReplacing)
{
  struct {
    const char* text;
    const char* find;
    const char* replacement;
    const char* out;
  } cases[] = {
      {"aaa", "aa", "b", "ba"},
      {"aaa", "aa", nullptr, "a"},
      {"a-b-c", "-", "--", "a--b--c"}, // replacement text is not rescanned
      {"abc", "x", "y", "abc"},
      {"", "x", "y", ""},
      {"xx", "x", "", ""},
  };
  for (const auto& c : cases) {
    DString d;
    d.append("<");
    d.appendReplacing(c.text, c.find, c.replacement);
    EXPECT_STREQ(d.get(), (std::string("<") + c.out).c_str()) << c.text;
  }

  DString d;
  d.append("one two one");
  d.appendReplacing(d.get(), "one", "1");
  EXPECT_STREQ(d.get(), "one two one1 two 1");
}

TEST(DString, ReplaceAll)
{
  DString none;
  none.replaceAll("a", "b");
  EXPECT_FALSE(none.hasBuf());

  DString d;
  d.reserve(100);
  d.append("a.b.c");
  d.replaceAll(".", "::");
  EXPECT_STREQ(d.get(), "a::b::c");
  EXPECT_EQ(d.capacity(), 128);
  d.replaceAll(":", nullptr);
  EXPECT_STREQ(d.get(), "abc");
}

TEST(DString, ReplaceBounds)
{
  struct {
    int start, end;
    const char* s;
    int len;
    const char* out;
  } cases[] = {
      {1, 3, "XYZ", -1, "aXYZdef"}, {0, 0, ">", -1, ">abcdef"},
      {6, 6, "<", -1, "abcdef<"},   {0, 6, "", -1, ""},
      {2, 4, "XYZ", 1, "abXef"},    {3, 2, "X", -1, "abcdef"}, // start after end
      {2, 7, "X", -1, "abcdef"},                               // end beyond the length
      {-1, 2, "X", -1, "abcdef"},
  };
  for (const auto& c : cases) {
    DString d;
    d.append("abcdef");
    d.replace(c.start, c.end, c.s, c.len);
    EXPECT_STREQ(d.get(), c.out) << c.start << ".." << c.end;
  }

  DString d;
  d.append("abcdef");
  d.replace(0, 1, d.get() + 2, -1); // from its own text
  EXPECT_STREQ(d.get(), "cdefbcdef");
}

TEST(DString, TruncateTakeAndAdopt)
{
  DString d;
  d.append("abcdef");
  d.truncate(10);
  EXPECT_STREQ(d.get(), "abcdef");
  d.truncate(2);
  EXPECT_STREQ(d.get(), "ab");
  d.clear();
  EXPECT_STREQ(d.get(), "");
  EXPECT_EQ(d.capacity(), 8);

  d.append("xyz");
  plat::String s = d.takeString();
  EXPECT_STREQ(s.get(), "xyz");
  EXPECT_FALSE(d.hasBuf());
  EXPECT_EQ(d.capacity(), 0);

  d.adoptBuf(s.release(), 4);
  EXPECT_EQ(d.capacity(), 4);
  d.append("w");
  EXPECT_STREQ(d.get(), "xyzw");
  EXPECT_EQ(d.capacity(), 8);
}

TEST(DString, MakeValidUtf8)
{
  DString d;
  d.append("ok \xc3\xa9");
  EXPECT_FALSE(d.makeValidUtf8());
  EXPECT_EQ(d.capacity(), 8);

  DString bad;
  bad.append("a\xff"
             "b\xed\xa0\x80");
  EXPECT_TRUE(bad.makeValidUtf8());
  EXPECT_EQ(bad.capacity(), bad.length() + 1);
  EXPECT_EQ(std::string(bad.get()).substr(0, 5), "a\xef\xbf\xbd"
                                                 "b");
  bad.append("c"); // grows again by the usual rule
  EXPECT_EQ(bad.capacity() & (bad.capacity() - 1), 0);
}

TEST(DString, Assignment)
{
  DString a;
  a.reserve(40);
  a.append("text");
  DString b;
  b.append("old");
  b = a;
  EXPECT_STREQ(b.get(), "text");
  EXPECT_EQ(b.capacity(), 64);
  const DString& same = b;
  b = same;
  EXPECT_STREQ(b.get(), "text");
  DString empty;
  b = empty;
  EXPECT_FALSE(b.hasBuf());
  DString c(a);
  EXPECT_STREQ(c.get(), "text");
  DString m(std::move(c));
  EXPECT_FALSE(c.hasBuf());
  EXPECT_STREQ(m.get(), "text");
}

TEST(DStringDeathTest, EmptyFindIsFatal)
{
  DString d;
  EXPECT_DEATH(d.appendReplacing("abc", "", "x"), "Assertion 'findLen' failed");
}

} // namespace
