#include "plat/Regex.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/utf8.h"

using namespace plat;

namespace {

enum Form { plain, delimited, substitution };

// The message of the error the pattern throws ("" when it compiles), and
// what the cursor of the delimited forms points at afterwards.
std::string compileError(Form form, const char* text, std::string* rest = nullptr)
{
  const char* cursor = text;
  try {
    String replacement;
    if (form == plain)
      Regex::create(text, 0);
    else if (form == delimited)
      Regex::createDelimited(&cursor);
    else
      Regex::createSubstitution(&cursor, &replacement);
  } catch (const Exception& e) {
    if (rest)
      *rest = cursor;
    return e.str();
  }
  if (rest)
    *rest = cursor;
  return "";
}

// The leftmost match as "start-end" byte offsets with each group's text
// (or "unset"), separated by '|'; "none" without a match.
std::string describeMatch(const char* pattern, int flags, const std::string& text)
{
  auto re = Regex::create(pattern, flags);
  std::vector<const char*> starts(re->groupCount() + 1), ends(re->groupCount() + 1);
  const char* end = text.data() + text.size();
  const char* start = re->exec(text.data(), &end, starts.data(), ends.data(), re->groupCount());
  if (!start)
    return "none";
  std::string out = std::to_string(start - text.data()) + "-" + std::to_string(end - text.data());
  for (int i = 0; i < re->groupCount(); i++)
    out += "|" + (starts[i] ? std::string(starts[i], ends[i]) : std::string("unset"));
  return out;
}

std::string replaced(const char* pattern, const char* text, const char* replacement, bool all)
{
  DString out;
  auto re = Regex::create(pattern, 0);
  if (all)
    re->replaceAll(text, replacement, out);
  else
    re->replaceFirst(text, replacement, out);
  return out.get();
}

// Selects the engine for a scope: thread lists, or the default (depth
// first on short texts).
struct Engine {
  explicit Engine(bool threadLists) { Regex::setThreadListsOnly(threadLists); }
  ~Engine() { Regex::setThreadListsOnly(false); }
};

std::string joined(const std::vector<String>& pieces)
{
  std::string out;
  for (const String& s : pieces)
    out += std::string("<") + (s.isNull() ? "null" : s.get()) + ">";
  return out;
}

} // namespace

TEST(RegexTest, SyntaxErrorsAndCursor)
{
  std::string nested16, nested17;
  for (int i = 0; i < 16; i++)
    nested16 = "(" + nested16 + "a)";
  nested17 = "(" + nested16 + ")";
  struct Case {
    Form form;
    std::string text;
    const char* error;
    const char* rest; // where the cursor is left
  } cases[] = {
      {plain, "a{2}", "unsupported UNSAFE counted quantifier", nullptr},
      {plain, "(a)\\1", "unsupported UNSAFE backreference", nullptr},
      {plain, "(?=a)", "unsupported lookahead assertion '(?=...'", nullptr},
      {plain, "(?!a)", "unsupported lookahead assertion '(?!...'", nullptr},
      {plain, nested16, "", nullptr},
      {plain, nested17, "unsupported depth of nested expressions", nullptr},
      {plain, "a)", "trailing characters: \")\"", nullptr},
      {plain, "]", "unexpected metacharacter ']'", nullptr},
      {plain, "*a", "unexpected metacharacter '*'", nullptr},
      {plain, "a**", "unexpected metacharacter '*'", nullptr},
      {plain, "a+??", "unexpected metacharacter '?'", nullptr},
      {plain, "^*", "unexpected metacharacter '*'", nullptr},
      {plain, "(a", "expected closing ')'", nullptr},
      {plain, "[a", "expected closing ']'", nullptr},
      {plain, "a\\", "unterminated escape sequence", nullptr},
      {plain, "\\c1", "expected control letter after '\\c'", nullptr},
      {plain, "\\x4g", "expected hex escape after '\\x'", nullptr},
      {plain, "\\u12", "expected Unicode escape after '\\u'", nullptr},
      {plain, "\\uD83Da", "expected low surrogate after high surrogate", nullptr},
      {plain, "\\uDE00", "unexpected low surrogate", nullptr},
      {plain, "\\01", "illegal decimal escape sequence", nullptr},
      {plain, "\\e", "invalid escape sequence '\\e'", nullptr},
      {plain, "[\\1]", "invalid class escape sequence '\\1'", nullptr},
      {plain, "[\\B]", "invalid class escape sequence '\\B'", nullptr},
      {plain, "a\xC3", "Bad UTF-8 string", nullptr},
      {plain, "a/b\n", "", nullptr},
      {delimited, "/abc/i x", "", " x"},
      {delimited, "/a[/]\\/b/ms,", "", ","},
      {delimited, "abc/", "expected '/'-delimited regex", "abc/"},
      {delimited, "/abc", "expected terminating '/'", "/abc"},
      {delimited, "/[a/", "expected terminating ']'", "/[a/"},
      {delimited, "/a\\", "unterminated escape sequence", "/a\\"},
      {delimited, "/abc/gi", "unsupported flag 'g'", "/abc/gi"},
      {delimited, "/abc/ii", "invalid flag 'i'", "/abc/ii"},
      {delimited, "/abc/i_", "invalid flag '_'", "/abc/i_"},
      {delimited, "/a)b/ x", "trailing characters: \")b/ x\"", "/a)b/ x"},
      {delimited, "/a\nb/", "illegal line break in literal", nullptr},
      {delimited, "/a\xE2\x80\xA8/", "illegal line break in literal", nullptr},
      {substitution, "s/a/b/m;", "", ";"},
      {substitution, "/a/b/", "expected 's/../../' substitution", "/a/b/"},
      {substitution, "s/a/b", "expected terminating '/'", "s/a/b"},
      {substitution, "s/a/\\q/", "invalid escape sequence '\\q'", nullptr},
      {substitution, "s/a/\xFF/", "Bad UTF-8 string", nullptr},
  };
  for (const Case& c : cases) {
    std::string rest;
    EXPECT_EQ(compileError(c.form, c.text.c_str(), &rest), c.error) << c.text;
    if (c.rest) {
      EXPECT_EQ(rest, c.rest) << c.text;
    }
  }
  try {
    Regex::create("\xF0\x9F", 0);
    ADD_FAILURE();
  } catch (const BadUtf8& e) {
    EXPECT_STREQ(e.str(), "Bad UTF-8 string");
  }

  const char* text = "s/(\\w+)@/\\x41\\u00e9\\t\\/$1\\0/i";
  String replacement;
  auto re = Regex::createSubstitution(&text, &replacement);
  EXPECT_STREQ(replacement.get(), "A\xC3\xA9\t/$10");
  EXPECT_EQ(re->flags(), Regex::ignoreCase);
  EXPECT_EQ(re->groupCount(), 1);
}

TEST(RegexTest, MatchesAndGroups)
{
  const char* wayland = "^#\\s*WaylandEnable\\s*=\\s*false";
  const char* sep = "\xE2\x80\xA8"; // U+2028
  struct Case {
    const char* pattern;
    int flags;
    std::string text;
    const char* expected;
  } cases[] = {
      {wayland, 0, "#WaylandEnable=false", "0-20"},
      {wayland, 0, "# WaylandEnable = false", "0-23"},
      {wayland, 0, "WaylandEnable=false", "none"},
      // Leftmost first, as backtracking would choose.
      {"(a|ab)(c|bcd)(d*)", 0, "abcd", "0-4|a|bcd|"},
      {"(a+?)(a*)", 0, "aaa", "0-3|a|aa"},
      {"x(a|b)*?y", 0, "xabay xaby", "0-5|a"},
      // Groups report their last pass only.
      {"(?:(a)|b)+", 0, "ab", "0-2|unset"},
      {"(a|(b))+", 0, "ba", "0-2|a|unset"},
      {"(a*)+", 0, "b", "0-0|"},
      {"(a*)*", 0, "b", "0-0|unset"},
      {"(?:(a)|(b)|c)*d", 0, "abcd", "0-4|unset|unset"},
      {"x(a*)?", 0, "x", "0-1|"}, // '?' takes an empty pass
      // Anchors, multi-line with every line break, word boundaries.
      {"^b", 0, "a\nb", "none"},
      {"^b", Regex::multiline, "a\nb", "2-3"},
      {"^b", Regex::multiline, std::string("a") + sep + "b", "4-5"},
      {"a$", Regex::multiline, "a\xE2\x80\xA9", "0-1"},
      {"a$", 0, "a\rb", "none"},
      {"a$", Regex::multiline, "a\rb", "0-1"},
      {"\\bfoo\\b", 0, "foobar foo.", "7-10"},
      {"\\Boo", 0, "oo foo", "4-6"},
      {".", 0, sep, "none"},
      {".", Regex::dotAll, sep, "0-3"},
      {"[^a]", 0, "\xFF", "0-1"},
      // ASCII-only case folding.
      {"[a-z]+", Regex::ignoreCase, "Qq", "0-2"},
      {"[^A]", Regex::ignoreCase, "a", "none"},
      {"\xC3\xA9", Regex::ignoreCase, "\xC3\x89", "none"},
      {"[\\w-]+\\u00e9", 0, "a-b\xC3\xA9", "0-5"},
      {"[a-\\d]+", 0, "x-a9", "1-4"},
  };
  for (bool threadLists : {false, true}) {
    Engine engine(threadLists);
    for (const Case& c : cases)
      EXPECT_EQ(describeMatch(c.pattern, c.flags, c.text), c.expected) << c.pattern;
  }

  auto re = Regex::create("b(c)?", 0);
  EXPECT_TRUE(re->search("abc"));
  EXPECT_FALSE(re->matchesAtStart("abc"));
  EXPECT_TRUE(re->matchesAtStart("bx"));
  EXPECT_EQ(String::adopt(re->findMatch("abcd")), String("c"));
  EXPECT_TRUE(re->findMatch("ab") == nullptr);
  const char* text = "abc";
  const char* end = text + 2;
  EXPECT_EQ(re->exec(text, &end, nullptr, nullptr, 0), text + 1);
  EXPECT_EQ(end, text + 2); // the explicit end hides the 'c'
}

TEST(RegexTest, ReplaceAndSplit)
{
  struct Case {
    const char* pattern;
    const char* text;
    const char* replacement;
    bool all;
    const char* expected;
  } cases[] = {
      {"b", "abc", "[$&]", false, "a[b]c"},
      {"(b)", "abc", "$2$1$0$$", false, "a$2b$0$c"},
      {"(b)", "abc", "$`|$'|$01|$10", false, "aa|c|b|$10c"},
      {"b(x)?", "abc", "<$1>", false, "a<>c"},
      {"a*", "abc", "-", true, "--b-c-"},
      {"b*", "abc", "-", true, "-a--c-"},
      {"x*", "\xC3\xA9", "-", true, "-\xC3\xA9-"},
      {"x*", "\xC3\xA9\xE2\x82\xAC", "-", true, "-\xC3\xA9-\xE2\x82\xAC-"},
      {"", "a\xFF", "-", true, "-a-\xFF-"},
      {"a", "aaa", "b", true, "bbb"},
  };
  for (bool threadLists : {false, true}) {
    Engine engine(threadLists);
    for (const Case& c : cases) {
      std::string out = replaced(c.pattern, c.text, c.replacement, c.all);
      EXPECT_EQ(out, c.expected) << c.pattern << " in " << c.text;
      if (isValidUtf8(c.text)) {
        EXPECT_TRUE(isValidUtf8(out.c_str())) << c.pattern;
      }
    }
  }
  DString only;
  Regex::create("\\d", 0)->replace("a1b2c3", "<$&>", only, false, 2);
  EXPECT_STREQ(only.get(), "<1><2>");

  struct SplitCase {
    const char* pattern;
    const char* text;
    const char* expected;
  } splits[] = {
      {",", "a,b,,c", "<a><b><><c>"},
      {"x*", "", ""},
      {",", "", "<>"},
      {"x*", "abc", "<a><b><c>"},
      {"x*", "\xC3\xA9\xC3\xA9", "<\xC3\xA9><\xC3\xA9>"},
      {"(,)|(;)", "a,b;", "<a><,><null><b><null><;><>"},
      {"b*", "abba", "<a><a>"},
  };
  for (bool threadLists : {false, true}) {
    Engine engine(threadLists);
    for (const SplitCase& c : splits)
      EXPECT_EQ(joined(Regex::create(c.pattern, 0)->split(c.text)), c.expected) << c.pattern;
  }
}

TEST(RegexTest, EscapeLiteral)
{
  struct Case {
    const char* text;
    bool delimited;
    const char* expected;
  } cases[] = {
      {"1+1=2?", false, "\\u0031\\+1=2\\?"},
      {"a/b\n(c)", false, "a/b\n\\(c\\)"},
      {"a/b\n\r\xE2\x80\xA8", true, "a\\/b\\n\\r\\u2028"},
      {"x\xFFy", false, "x[]y"},
  };
  for (const Case& c : cases) {
    String escaped = Regex::escapeLiteral(c.text, c.delimited);
    EXPECT_STREQ(escaped.get(), c.expected);
  }
  const char* text = "$(x)*+.?[\\]^{|}/9 \xE2\x80\xA9";
  std::string pattern = std::string("/") + Regex::escapeLiteral(text, true).get() + "/";
  const char* cursor = pattern.c_str();
  auto re = Regex::createDelimited(&cursor);
  const char* end = nullptr;
  EXPECT_EQ(re->exec(text, &end, nullptr, nullptr, 0), text);
  EXPECT_EQ(end, text + strlen(text));
}

TEST(RegexTest, PathologicalPatternsOnLongTexts)
{
  std::string as(100000, 'a'), xs(100000, 'x');
  EXPECT_FALSE(Regex::create("(a|aa)*b", 0)->search(as.c_str()));
  EXPECT_FALSE(Regex::create("(a*)*b", 0)->search(as.c_str()));
  EXPECT_FALSE(Regex::create("(x+x+)+y", 0)->search(xs.c_str()));
  EXPECT_TRUE(describeMatch("(x+x+)+y", 0, xs + "y") == "0-100001|" + xs);
}

// ---------------------------------------------------------------------------
// Generated patterns and texts against node.

namespace {

std::string jsonString(const std::string& s)
{
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

class Generator {
public:
  explicit Generator(unsigned seed) : rng(seed) {}

  std::string pattern()
  {
    bool nullable;
    return alternation(0, nullable);
  }

  std::string text()
  {
    static const char chars[] = "aabbcAB 1.\n_";
    std::string s;
    for (int n = pick(11); n > 0; n--)
      s += chars[pick(sizeof(chars) - 1)];
    return s;
  }

  std::string flags()
  {
    std::string f;
    for (const char* letter : {"i", "m", "s"})
      if (pick(4) == 0)
        f += letter;
    return f;
  }

  std::string replacement()
  {
    static const char* pieces[] = {"x", "$&", "$1", "$2", "$$", "$`", "$'", "-", "$"};
    std::string r;
    for (int n = pick(4); n > 0; n--)
      r += pieces[pick(9)];
    return r;
  }

  int pick(int n) { return static_cast<int>(rng() % n); }

private:
  // Quantified atoms never match the empty text: for those the engine's
  // rules on empty passes differ from JavaScript's on purpose.
  std::string alternation(int depth, bool& nullable)
  {
    std::string s = sequence(depth, nullable);
    while (pick(5) == 0) {
      bool other;
      s += "|" + sequence(depth, other);
      nullable |= other;
    }
    return s;
  }

  std::string sequence(int depth, bool& nullable)
  {
    std::string s;
    nullable = true;
    for (int n = pick(4); n > 0; n--) {
      static const char* assertions[] = {"^", "$", "\\b", "\\B"};
      if (pick(10) == 0) {
        s += assertions[pick(4)];
        continue;
      }
      bool empty;
      s += atom(depth, empty);
      if (!empty && pick(3) == 0) {
        char q = "*+?"[pick(3)];
        s += q;
        empty = q != '+';
        if (pick(3) == 0)
          s += '?';
      }
      nullable &= empty;
    }
    return s;
  }

  std::string atom(int depth, bool& nullable)
  {
    static const char* simple[] = {
        "a",    "a",      "b",      "c",   "A",   ".",   "\\.", " ",  "[ab]", "[^a]",  "[a-c]",
        "[-a]", "[^\\s]", "[\\d.]", "\\d", "\\w", "\\s", "\\W", "[]", "[^]",  "\\x61", "\\n"};
    int k = pick(depth < 3 ? 31 : 22);
    nullable = false;
    if (k < 22)
      return simple[k];
    return (k < 27 ? "(" : "(?:") + alternation(depth + 1, nullable) + ")";
  }

  std::mt19937 rng;
};

struct GeneratedCase {
  std::string pattern, flags, text, replacement;
};

std::string ourResult(const GeneratedCase& c)
{
  int flags = 0;
  for (char f : c.flags)
    flags |= f == 'i' ? Regex::ignoreCase : f == 'm' ? Regex::multiline : Regex::dotAll;
  std::unique_ptr<Regex> re;
  try {
    re = Regex::create(c.pattern.c_str(), flags);
  } catch (const Exception& e) {
    return std::string("error: ") + e.str();
  }
  int n = re->groupCount();
  std::vector<const char*> starts(n + 1), ends(n + 1);
  const char* t = c.text.c_str();
  const char* end = nullptr;
  const char* start = re->exec(t, &end, starts.data(), ends.data(), n);
  std::string out = "{\"m\":";
  if (!start) {
    out += "null";
  } else {
    out += "[" + std::to_string(start - t) + "," + std::to_string(end - t);
    for (int i = 0; i < n; i++)
      out += starts[i]
                 ? ",[" + std::to_string(starts[i] - t) + "," + std::to_string(ends[i] - t) + "]"
                 : ",null";
    out += "]";
  }
  DString all, first;
  re->replaceAll(t, c.replacement.c_str(), all);
  re->replaceFirst(t, c.replacement.c_str(), first);
  out += ",\"r\":" + jsonString(all.get()) + ",\"f\":" + jsonString(first.get()) + ",\"s\":[";
  std::vector<String> pieces = re->split(t);
  for (size_t i = 0; i < pieces.size(); i++)
    out +=
        (i ? "," : "") + (pieces[i].isNull() ? std::string("null") : jsonString(pieces[i].get()));
  return out + "]}";
}

} // namespace

TEST(RegexTest, GeneratedCasesAgreeWithNode)
{
  Generator gen(20240611);
  std::vector<GeneratedCase> cases;
  std::string input;
  for (int i = 0; i < 4000; i++) {
    GeneratedCase c{gen.pattern(), gen.flags(), gen.text(), gen.replacement()};
    input += "[" + jsonString(c.pattern) + "," + jsonString(c.flags) + "," + jsonString(c.text) +
             "," + jsonString(c.replacement) + "]\n";
    cases.push_back(c);
  }
  char path[] = "/tmp/regex_test_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fd);
  std::string command =
      std::string("/usr/bin/node " TL_TEST_SUPPORT_DIR "/regex_reference.js ") + path;
  std::vector<std::string> expected;
  FILE* f = popen(command.c_str(), "r");
  ASSERT_TRUE(f != nullptr);
  std::string line;
  for (int ch; (ch = fgetc(f)) != EOF;) {
    if (ch != '\n') {
      line += static_cast<char>(ch);
      continue;
    }
    expected.push_back(line);
    line.clear();
  }
  EXPECT_EQ(pclose(f), 0) << command;
  unlink(path);
  ASSERT_EQ(expected.size(), cases.size());

  // Both engines: depth first (short texts) and thread lists (long ones).
  int failures = 0;
  for (bool threadLists : {false, true}) {
    Engine engine(threadLists);
    for (size_t i = 0; i < cases.size() && failures < 20; i++) {
      const GeneratedCase& c = cases[i];
      std::string ours = ourResult(c);
      if (ours != expected[i]) {
        failures++;
        ADD_FAILURE() << "/" << c.pattern << "/" << c.flags << " on " << jsonString(c.text)
                      << " with " << jsonString(c.replacement) << (threadLists ? " (lists)" : "")
                      << "\n  ours: " << ours << "\n  node: " << expected[i];
      }
    }
  }
}
