#include "3rdparty/xml/Xml.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>
#include "testutil.h"

using namespace xml;

namespace {

// Sets the global options for one test and restores the defaults after it.
struct Options {
  Options(int encoding, bool dropWhitespace, bool removeComments)
  {
    setGlobalOptions(encoding, true, dropWhitespace, removeComments);
  }
  ~Options() { setGlobalOptions(); }
};

std::string hex(const char* s)
{
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (; s && *s; s++)
    out += {d[(unsigned char)*s >> 4], d[*s & 15]};
  return out;
}

std::string written(const XmlNode& n, bool formatted)
{
  char* s = n.createXmlString(formatted);
  std::string out(s);
  freeXmlString(s);
  return out;
}

// Everything the tree holds, in document order.
std::string dump(const XmlNode& n)
{
  std::string out = "(" + std::string(n.name() ? n.name() : "") + (n.isDeclaration() ? "?" : "");
  for (int i = 0;; i++) {
    XmlNodeContents c = n.enumContents(i);
    if (c.kind == kXmlContentNone)
      break;
    if (c.kind == kXmlContentAttribute)
      out += " @" + std::string(c.attribute.name) + (c.attribute.value ? "=" + hex(c.attribute.value) : "");
    else if (c.kind == kXmlContentText)
      out += " T" + hex(c.text);
    else if (c.kind == kXmlContentClear)
      out += " C" + std::string(c.clear.openTag) + hex(c.clear.value);
    else
      out += " " + dump(c.child);
  }
  return out + ")";
}

// The form tests/support/xml_reference.py prints: attributes by name, text
// and CDATA merged into runs, comments dropped.
std::string canon(const XmlNode& n)
{
  std::map<std::string, std::string> attrs;
  for (int i = 0; i < n.attributeCount(); i++)
    attrs[n.attribute(i).name] = n.attribute(i).value ? n.attribute(i).value : "";
  std::string out = "(" + std::string(n.name()), text;
  for (auto& a : attrs)
    out += " @" + a.first + "=" + hex(a.second.c_str());
  for (int i = n.attributeCount();; i++) {
    XmlNodeContents c = n.enumContents(i);
    if (c.kind == kXmlContentNone)
      break;
    if (c.kind == kXmlContentText)
      text += c.text;
    else if (c.kind == kXmlContentClear && c.clear.openTag == kXmlCdataOpen)
      text += c.clear.value;
    if (c.kind != kXmlContentElement)
      continue;
    if (!text.empty())
      out += " T" + hex(text.c_str());
    text.clear();
    out += " " + canon(c.child);
  }
  if (!text.empty())
    out += " T" + hex(text.c_str());
  return out + ")";
}

std::string tempDir()
{
  char tmpl[] = "/tmp/xmltest_XXXXXX";
  EXPECT_NE(mkdtemp(tmpl), nullptr);
  return tmpl;
}

void writeFile(const std::string& path, const std::string& data)
{
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

std::string readFile(const std::string& path)
{
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f)
    return out;
  int c;
  while ((c = fgetc(f)) != EOF)
    out += char(c);
  fclose(f);
  return out;
}

std::vector<std::string> runLines(const std::string& cmd, const std::string& input = "")
{
  tltest::TempFile in(input, "xmltest_in");
  return tltest::commandLines(cmd + " < " + in.path());
}

// --- Errors, warnings and their positions ---------------------------------------

TEST(Xml, ErrorCodesAndPositions)
{
  std::string ok512, bad513;
  for (int i = 0; i < 512; i++)
    ok512 += "<a>";
  bad513 = ok512 + "<a>";
  struct Case {
    const char* text;
    const char* tag;
    int encoding;
    XmlError error;
    int line, column;
    const char* result; // name of the node returned; null for the empty node
  } cases[] = {
      {"<a><b>x</a>", nullptr, 1, kXmlWarnUnmatchedEndTag, 1, 8, "a"},
      {"<a>\n<b>x", nullptr, 1, kXmlWarnUnmatchedEndTag, 2, 5, "a"},
      {"<a></b>", nullptr, 1, kXmlUnmatchedEndTag, 1, 4, nullptr},
      {"", nullptr, 1, kXmlWarnNoTag, 1, 1, ""},
      {"just text", nullptr, 1, kXmlWarnNoTag, 1, 10, ""},
      {"", "a", 1, kXmlFirstTagNotFound, 1, 1, nullptr},
      {nullptr, nullptr, 1, kXmlNoElements, 1, 1, nullptr},
      {"<?xml version=\"1.0\"?>\n<Root/>", "root", 1, kXmlNoError, 0, 0, "Root"},
      {"<?xml version=\"1.0\"?>\n<Root/>", "other", 1, kXmlFirstTagNotFound, 2, 8, nullptr},
      {"<a>\n  < b/></a>", nullptr, 1, kXmlMissingTagName, 2, 3, nullptr},
      {"<a></ ></a>", nullptr, 1, kXmlMissingEndTagName, 1, 4, nullptr},
      {"<a =1/>", nullptr, 1, kXmlUnexpectedToken, 1, 4, nullptr},
      {"<a b='1></a>", nullptr, 1, kXmlUnexpectedToken, 1, 6, nullptr},
      {"<a></a x>", nullptr, 1, kXmlUnexpectedToken, 1, 8, nullptr},
      {"<a><![CDATA[x</a>", nullptr, 1, kXmlUnmatchedClearTag, 1, 4, nullptr},
      {"<a>x<!-- y</a>", nullptr, 1, kXmlUnmatchedClearTag, 1, 5, nullptr},
      {"<a>&foo;</a>", nullptr, 1, kXmlUnknownEntity, 1, 4, nullptr},
      {"<a>&#;</a>", nullptr, 1, kXmlUnknownEntity, 1, 4, nullptr},
      {"<a>&#x;</a>", nullptr, 1, kXmlUnknownEntity, 1, 4, nullptr},
      {"<a>&#12a;</a>", nullptr, 1, kXmlUnknownEntity, 1, 4, nullptr},
      {"<a>&amp</a>", nullptr, 1, kXmlUnknownEntity, 1, 4, nullptr},
      {"<a>\xc3\xa9&#0;</a>", nullptr, 1, kXmlBadCharRef, 1, 5, nullptr},
      {"<a>&#xD800;</a>", nullptr, 1, kXmlBadCharRef, 1, 4, nullptr},
      {"<a>&#x110000;</a>", nullptr, 1, kXmlBadCharRef, 1, 4, nullptr},
      {"<a v='&#99999999999999999999;'/>", nullptr, 1, kXmlBadCharRef, 1, 7, nullptr},
      {"<a>&#300;</a>", nullptr, 2, kXmlCharCodeAbove255, 1, 4, nullptr},
      {"<a>&#0;</a>", nullptr, 2, kXmlBadCharRef, 1, 4, nullptr},
      {ok512.c_str(), nullptr, 1, kXmlWarnUnmatchedEndTag, 1, 1537, "a"},
      {bad513.c_str(), nullptr, 1, kXmlTooDeep, 1, 1537, nullptr},
  };
  for (const Case& c : cases) {
    Options o(c.encoding, true, true);
    XmlResults r;
    XmlNode n = XmlNode::parseString(c.text, c.tag, &r);
    SCOPED_TRACE(c.text ? std::string(c.text).substr(0, 40) : "null");
    EXPECT_EQ(r.error, c.error) << errorText(r.error);
    if (c.error) {
      EXPECT_EQ(r.line, c.line);
      EXPECT_EQ(r.column, c.column);
    }
    EXPECT_EQ(n.isEmpty(), c.result == nullptr);
    if (c.result) {
      EXPECT_STREQ(n.name() ? n.name() : "", c.result);
    }
  }
  EXPECT_STREQ(errorText(kXmlWarnUnmatchedEndTag), "Warning: Unmatched end tag");
  EXPECT_STREQ(errorText(20), "Error: Base64 decode output buffer is too small");
  EXPECT_STREQ(errorText(99), "Unknown");
  EXPECT_STREQ(versionText(), "v2.43");
}

// --- Entities, whitespace and comments ----------------------------------------------

TEST(Xml, EntitiesWhitespaceAndComments)
{
  struct Case {
    int encoding;
    bool dropWhitespace, removeComments;
    const char* text;
    const char* expected; // dump of the result
  } cases[] = {
      {1, true, true, "<a k='&LT;&Gt;'>&AMP;&lt;&gt;&quot;&apos;</a>", "(a @k=3c3e T263c3e2227)"},
      {1, true, true, "<a>&#x41;&#66;&#xE9;&#x20AC;&#x1F600;</a>", "(a T4142c3a9e282acf09f9880)"},
      {2, true, true, "<a>&#233;&#xff;</a>", "(a Te9ff)"},
      {1, true, true, "<a> </a>", "(a)"},
      {1, false, true, "<a> </a>", "(a T20)"},
      {1, true, true, "<a>\n  x &#32;\t</a>", "(a T782020)"},
      {1, true, true, "<a> x <!--c--> y </a>", "(a T78202079)"},
      {1, true, false, "<a> x <!--c--> y </a>", "(a T78 C<!--63 T79)"},
      {1, true, true, "<a><!--c-->x<!--d--></a>", "(a C<!--63 T78 C<!--64)"},
      {1, true, true, "<a><![CDATA[ <&x> ]]><PRE>&</PRE></a>", "(a C<![CDATA[203c26783e20 C<PRE>26)"},
      {1, true, true, "<a b c='' d=\"x'y\" e=f/>", "(a @b @c= @d=782779 @e=66)"},
      {1, true, true, "<?xml version=\"1.0\"?><r/>", "( (xml? @version=312e30) (r))"},
  };
  for (const Case& c : cases) {
    Options o(c.encoding, c.dropWhitespace, c.removeComments);
    XmlResults r;
    XmlNode n = XmlNode::parseString(c.text, nullptr, &r);
    EXPECT_EQ(r.error, kXmlNoError) << c.text;
    EXPECT_EQ(dump(n), c.expected) << c.text;
  }
}

// A DOCTYPE, internal subset and all, is one verbatim section; its entities
// are never expanded.
TEST(Xml, DoctypeIsVerbatim)
{
  const char* doc = "<!DOCTYPE r [<!ENTITY x \"a>b\"><!ENTITY y '&x;&x;'>]>\n<r>t</r>";
  XmlResults r;
  XmlNode n = XmlNode::parseString(doc, nullptr, &r);
  EXPECT_EQ(r.error, kXmlNoError);
  EXPECT_EQ(dump(n), "( C<!DOCTYPE" + hex(" r [<!ENTITY x \"a>b\"><!ENTITY y '&x;&x;'>]") + " (r T74))");
  EXPECT_EQ(written(n, false), "<!DOCTYPE r [<!ENTITY x \"a>b\"><!ENTITY y '&x;&x;'>]><r>t</r>");
  XmlNode::parseString("<!DOCTYPE r [<!ENTITY x \"y\">]><r>&x;</r>", nullptr, &r);
  EXPECT_EQ(r.error, kXmlUnknownEntity);
}

// --- Writing --------------------------------------------------------------------------

TEST(Xml, WriterLayout)
{
  struct Case {
    const char* text;
    const char* formatted;
    const char* plain;
  } cases[] = {
      {"<a><b/>hi</a>", "<a>\n\t<b/>\n\thi\n</a>\n", "<a><b/>hi</a>"},
      {"<a><b>x</b></a>", "<a>\n\t<b>x</b>\n</a>\n", "<a><b>x</b></a>"},
      {"<a k='&lt;&amp;&quot;&apos;&gt;'/>", "<a k=\"&lt;&amp;&quot;&apos;&gt;\"/>\n",
       "<a k=\"&lt;&amp;&quot;&apos;&gt;\"/>"},
      {"<a flag><![CDATA[<&>]]><b><c/></b></a>",
       "<a flag>\n\t<![CDATA[<&>]]>\n\t<b>\n\t\t<c/>\n\t</b>\n</a>\n",
       "<a flag><![CDATA[<&>]]><b><c/></b></a>"},
      {"<?xml version=\"1.0\"?>\n<r>x &amp; y</r>", "<?xml version=\"1.0\"?>\n<r>x &amp; y</r>\n",
       "<?xml version=\"1.0\"?><r>x &amp; y</r>"},
  };
  for (const Case& c : cases) {
    XmlNode n = XmlNode::parseString(c.text);
    EXPECT_EQ(written(n, true), c.formatted) << c.text;
    EXPECT_EQ(written(n, false), c.plain) << c.text;
    Options o(1, false, true); // formatting needs whitespace dropping on
    EXPECT_EQ(written(n, true), c.plain) << c.text;
  }

  // A declaration's children follow at its own depth.
  XmlNode decl = XmlNode::createTopNode("xml", true);
  decl.addAttribute("version", "1.0");
  decl.addChild("r").addText("t");
  EXPECT_EQ(written(decl, true), "<?xml version=\"1.0\"?>\n<r>t</r>\n");
  EXPECT_EQ(written(XmlNode(), true), "");

  // Escaping for callers repairs invalid UTF-8 first.
  XmlEscaper escaper;
  EXPECT_STREQ(escaper.toXmlString("a<\xc3'"), "a&lt;\xef\xbf\xbd&apos;");
}

TEST(Xml, WriteToFile)
{
  std::string dir = tempDir();
  XmlNode doc = XmlNode::parseString("<a>\xc3\xa9</a>");
  XmlNode withDecl = XmlNode::parseString("<?xml version=\"1.0\"?><a/>");
  EXPECT_EQ(doc.writeToFile((dir + "/1.xml").c_str()), kXmlNoError);
  EXPECT_EQ(readFile(dir + "/1.xml"),
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a>\xc3\xa9</a>\n");
  EXPECT_EQ(withDecl.writeToFile((dir + "/2.xml").c_str(), nullptr, false), kXmlNoError);
  EXPECT_EQ(readFile(dir + "/2.xml"), "\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>");
  {
    Options o(2, true, true);
    EXPECT_EQ(doc.writeToFile((dir + "/3.xml").c_str(), nullptr, false), kXmlNoError);
    EXPECT_EQ(readFile(dir + "/3.xml"),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xc3\xa9</a>");
    EXPECT_EQ(withDecl.writeToFile((dir + "/4.xml").c_str(), "x", false), kXmlNoError);
    EXPECT_EQ(readFile(dir + "/4.xml"), "<?xml version=\"1.0\"?><a/>");
  }
  EXPECT_EQ(doc.writeToFile((dir + "/no/such/dir.xml").c_str()), kXmlCannotOpenForWriting);
  EXPECT_EQ(doc.writeToFile("/dev/full"), kXmlCannotWrite);

  // Reading back: a byte-order mark is skipped; failures come back as codes.
  XmlResults r;
  EXPECT_STREQ(XmlNode::parseFile((dir + "/1.xml").c_str(), "a", &r).text(), "\xc3\xa9");
  EXPECT_EQ(r.error, kXmlNoError);
  XmlNode::parseFile((dir + "/none.xml").c_str(), nullptr, &r);
  EXPECT_EQ(r.error, kXmlFileNotFound);
  writeFile(dir + "/empty.xml", "");
  XmlNode::parseFile((dir + "/empty.xml").c_str(), nullptr, &r);
  EXPECT_EQ(r.error, kXmlNoData);
  // openFile reports instead of ending the process.
  writeFile(dir + "/bad.xml", "<a>&bad;</a>");
  EXPECT_TRUE(XmlNode::openFile((dir + "/bad.xml").c_str(), nullptr, &r).isEmpty());
  EXPECT_EQ(r.error, kXmlUnknownEntity);
  XmlNode::openFile((dir + "/1.xml").c_str(), "b", &r);
  EXPECT_EQ(r.error, kXmlFirstTagNotFound);
  setGlobalOptions();
  system(("rm -rf " + dir).c_str());
}

// --- Editing and deep trees -------------------------------------------------------

TEST(Xml, EditingKeepsDocumentOrder)
{
  XmlNode top = XmlNode::createTopNode("r");
  top.addText("t1");
  XmlNode b = top.addChild("b");
  top.addClear("c1");
  top.addChild("a", false, 0);
  top.addText("t0", 1);
  top.addAttribute("k", "v");
  EXPECT_EQ(dump(top), "(r @k=76 (a) T7430 T7431 (b) C<![CDATA[6331)");
  EXPECT_EQ(top.contentCount(), 6);
  EXPECT_EQ(top.positionOf(b), 3);
  top.deleteText(0);
  top.updateText("t9", 5); // past the end appends
  top.updateAttribute("K", nullptr, "w");
  EXPECT_EQ(dump(top), "(r @k=77 (a) T7431 (b) C<![CDATA[6331 T7439)");

  XmlNode copy = top.deepCopy();
  b.deleteNodeContent();
  EXPECT_TRUE(b.parent().isEmpty());
  EXPECT_EQ(dump(top), "(r @k=77 (a) T7431 C<![CDATA[6331 T7439)");
  EXPECT_EQ(dump(copy), "(r @k=77 (a) T7431 (b) C<![CDATA[6331 T7439)");
  EXPECT_TRUE(copy.addChild(copy).isEmpty()); // never its own descendant
  EXPECT_FALSE(copy.child(0).addChild(b).isEmpty());
  EXPECT_TRUE(top.child("a").addChild(b).isEmpty()); // b has a parent now
}

// Freeing, copying and writing walk without recursion.
TEST(Xml, DeepTreesNeedNoRecursion)
{
  const int depth = 200000;
  XmlNode top = XmlNode::createTopNode("d");
  XmlNode n = top;
  for (int i = 0; i < depth; i++)
    n = n.addChild("d");
  n = XmlNode();
  std::string text = written(top, false);
  EXPECT_EQ(text.size(), size_t(depth) * 7 + 4);
  XmlNode copy = top.deepCopy();
  top = XmlNode();
  EXPECT_EQ(written(copy, false), text);
}

// --- Round trips and peers -------------------------------------------------------------

struct RandomTrees {
  std::mt19937 rng;
  explicit RandomTrees(unsigned seed) : rng(seed) {}

  int pick(int n) { return int(rng() % unsigned(n)); }
  std::string chars(int maxLen, const char* const* pool, int poolSize)
  {
    std::string s;
    for (int i = pick(maxLen + 1); i > 0; i--)
      s += pool[pick(poolSize)];
    return s;
  }
  std::string text(bool trimmed)
  {
    static const char* const pool[] = {"a", "Z", "0", " ", "&", "<", ">", "\"", "'", "\xc3\xa9",
                                       "\xe2\x82\xac", "\xf0\x9f\x98\x80", ";", "#", "="};
    std::string s;
    do
      s = chars(12, pool, 15);
    while (trimmed && (s.empty() || s.front() == ' ' || s.back() == ' '));
    return s;
  }
  std::string clearText()
  {
    static const char* const pool[] = {"x", " ", "<", "&", ">", "\xc3\xa9"};
    return chars(8, pool, 6);
  }
  void fill(XmlNode n, int depth)
  {
    static const char* const names[] = {"a", "b", "item", "x-y", "n_1", "Data", "k.v"};
    for (int i = pick(4); i > 0; i--) {
      const char* attr = names[pick(7)];
      if (!n.hasAttribute(attr))
        n.addAttribute(attr, text(false).c_str());
    }
    bool lastText = false;
    for (int i = pick(depth < 5 ? 5 : 2); i > 0; i--) {
      int kind = pick(4);
      if (kind == 0 && !lastText) {
        n.addText(text(true).c_str());
        lastText = true;
        continue;
      }
      lastText = false;
      if (kind == 1)
        n.addClear(clearText().c_str());
      else if (kind == 2)
        n.addClear(clearText().c_str(), kXmlCommentOpen, kXmlCommentClose);
      else if (depth < 6)
        fill(n.addChild(names[pick(7)]), depth + 1);
    }
  }
  XmlNode tree()
  {
    XmlNode top = XmlNode::createTopNode("root");
    fill(top, 0);
    return top;
  }
};

// Random trees come back unchanged through writing and parsing, and
// everything written is well-formed for xmllint.
TEST(Xml, RandomTreesRoundTripAndPassXmllint)
{
  std::string dir = tempDir();
  std::string files;
  RandomTrees gen(12345);
  for (int i = 0; i < 150; i++) {
    XmlNode tree = gen.tree();
    for (bool formatted : {true, false}) {
      // Formatted text is trimmed on reading; unformatted text is exact.
      Options o(1, formatted, false);
      std::string text = written(tree, formatted);
      XmlResults r;
      XmlNode back = XmlNode::parseString(text.c_str(), nullptr, &r);
      ASSERT_EQ(r.error, kXmlNoError) << text;
      ASSERT_EQ(dump(back), dump(tree)) << text;
      std::string path = dir + "/" + std::to_string(i) + (formatted ? "f" : "p") + ".xml";
      writeFile(path, text);
      files += " " + path;
    }
    if (i % 10 == 0) {
      std::string path = dir + "/" + std::to_string(i) + "w.xml";
      ASSERT_EQ(tree.writeToFile(path.c_str()), kXmlNoError);
      files += " " + path;
    }
  }
  std::vector<std::string> complaints = runLines("xmllint --noout" + files + " 2>&1");
  EXPECT_TRUE(complaints.empty()) << complaints[0];
  system(("rm -rf " + dir).c_str());
}

// Well-formed documents written by hand at the byte level, with entities,
// character references, CDATA, comments and white space everywhere.
struct RandomDocs {
  std::mt19937 rng;
  explicit RandomDocs(unsigned seed) : rng(seed) {}
  int pick(int n) { return int(rng() % unsigned(n)); }

  std::string utf8(unsigned cp)
  {
    std::string s;
    if (cp < 0x80) {
      s += char(cp);
    } else if (cp < 0x800) {
      s += {char(0xC0 | cp >> 6), char(0x80 | (cp & 63))};
    } else if (cp < 0x10000) {
      s += {char(0xE0 | cp >> 12), char(0x80 | (cp >> 6 & 63)), char(0x80 | (cp & 63))};
    } else {
      s += {char(0xF0 | cp >> 18), char(0x80 | (cp >> 12 & 63)), char(0x80 | (cp >> 6 & 63)),
            char(0x80 | (cp & 63))};
    }
    return s;
  }
  unsigned codePoint()
  {
    switch (pick(4)) {
    case 0:
      return 0x20 + unsigned(pick(0x5F));
    case 1:
      return 0xA0 + unsigned(pick(0xD800 - 0xA0));
    case 2:
      return 0xE000 + unsigned(pick(0xFFFE - 0xE000));
    default:
      return 0x10000 + unsigned(pick(0x100000));
    }
  }
  // One character of content, written as it is, as an entity or as a
  // reference; quote is the attribute's delimiter (0 in text).
  std::string piece(char quote)
  {
    unsigned cp = pick(8) == 0 ? (quote ? 9u : 10u) : codePoint();
    static const char* const named[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    switch (pick(6)) {
    case 0:
      return named[pick(5)];
    case 1:
      return "&#" + std::to_string(cp) + ";";
    case 2: {
      char buf[16];
      snprintf(buf, sizeof buf, "&#x%X;", cp);
      return buf;
    }
    default:
      // No literal "]]>" in text, and no white space in attributes that
      // attribute-value normalisation would turn into a space.
      if (cp == '<' || cp == '&' || cp == ']' || (quote && (cp == unsigned(quote) || cp == 9)))
        return "&#" + std::to_string(cp) + ";";
      return utf8(cp);
    }
  }
  std::string element(int depth)
  {
    static const char* const names[] = {"a", "B", "item", "x-y", "n_1", "k.v"};
    std::string name = names[pick(6)];
    std::string s = "<" + name;
    std::string used;
    for (int i = pick(4); i > 0; i--) {
      char attr = char('p' + pick(5));
      if (used.find(attr) != std::string::npos)
        continue;
      used += attr;
      char q = pick(2) ? '"' : '\'';
      s += std::string(pick(2) ? " " : "\n  ") + attr + (pick(2) ? "=" : " = ") + q;
      for (int k = pick(6); k > 0; k--)
        s += piece(q);
      s += q;
    }
    if (pick(5) == 0)
      return s + (pick(2) ? "/>" : " />");
    s += ">";
    for (int i = pick(depth < 4 ? 7 : 3); i > 0; i--) {
      switch (pick(5)) {
      case 0:
        s += "<![CDATA[" + std::string(pick(2) ? "<&>]" : "") + utf8(codePoint()) + "]]>";
        break;
      case 1:
        s += "<!-- note " + utf8(codePoint()) + " -->";
        break;
      case 2:
        if (depth < 4) {
          s += element(depth + 1);
          break;
        }
        // fall through
      default:
        for (int k = pick(6); k > 0; k--)
          s += pick(4) ? piece(0) : std::string(pick(2) ? " " : "\n\t");
      }
    }
    return s + "</" + name + (pick(3) ? ">" : " >");
  }
  std::string document()
  {
    std::string s = pick(2) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    if (pick(2))
      s += "<!-- head -->\n";
    s += element(0);
    return s + (pick(2) ? "\n" : "");
  }
};

// The document element's node: past the unnamed root, its declaration and
// the comments around it.
XmlNode documentElement(const XmlNode& n)
{
  if (n.name())
    return n;
  for (int i = 0; i < n.childCount(); i++) {
    if (!n.child(i).isDeclaration())
      return n.child(i);
  }
  return XmlNode();
}

TEST(Xml, TreesEqualPythonEtree)
{
  Options o(1, false, true);
  std::string dir = tempDir();
  std::vector<std::string> docs = {
      "<r a='single' b=\"d&amp;q\">x&amp;y<![CDATA[<z>]]>w<!--c-->v<e/>tail</r>",
      "<?xml version=\"1.0\"?>\n<!-- c -->\n<r>\n  <s>\xc3\xa9&#x1F600;</s>\n</r>\n",
  };
  RandomDocs gen(777);
  for (int i = 0; i < 300; i++)
    docs.push_back(gen.document());
  std::string files;
  for (size_t i = 0; i < docs.size(); i++) {
    std::string path = dir + "/" + std::to_string(i) + ".xml";
    writeFile(path, docs[i]);
    files += " " + path;
  }
  std::vector<std::string> expected =
      runLines("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/xml_reference.py etree" + files);
  ASSERT_EQ(expected.size(), docs.size());
  for (size_t i = 0; i < docs.size(); i++) {
    XmlResults r;
    XmlNode n = XmlNode::parseString(docs[i].c_str(), nullptr, &r);
    ASSERT_EQ(r.error, kXmlNoError) << docs[i];
    EXPECT_EQ(canon(documentElement(n)), expected[i]) << docs[i];
  }
  system(("rm -rf " + dir).c_str());
}

// --- Base64 ----------------------------------------------------------------------------

TEST(Xml, Base64MatchesPython)
{
  std::mt19937 rng(99);
  std::vector<std::vector<unsigned char>> inputs;
  std::string requests;
  for (int n : {0, 1, 2, 3, 4, 53, 54, 55, 107, 108, 109, 200, 1000}) {
    std::vector<unsigned char> data{};
    data.resize(size_t(n));
    for (auto& b : data)
      b = (unsigned char)rng();
    inputs.push_back(data);
    static const char d[] = "0123456789abcdef";
    for (unsigned char b : data)
      requests += {d[b >> 4], d[b & 15]};
    requests += "\n";
  }
  std::vector<std::string> answers =
      runLines("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/xml_reference.py b64", requests);
  ASSERT_EQ(answers.size(), inputs.size());
  XmlBase64 b64;
  for (size_t i = 0; i < inputs.size(); i++) {
    const auto& data = inputs[i];
    int n = int(data.size());
    std::string plain = answers[i].substr(0, answers[i].find('\t'));
    std::string formatted = answers[i].substr(answers[i].find('\t') + 1);
    EXPECT_EQ(b64.encode(data.data(), n, false), plain) << n;
    std::string mine = b64.encode(data.data(), n, true);
    EXPECT_EQ(hex(mine.c_str()), formatted) << n;
    // The bound is exact except for no bytes at all.
    EXPECT_EQ(int(mine.size()) + 1, n ? XmlBase64::encodeLength(n, true) : 1) << n;
    XmlError e;
    int len = 0;
    const unsigned char* back = b64.decode(mine.c_str(), &len, &e);
    ASSERT_TRUE(back || n == 0);
    EXPECT_EQ(e, kXmlNoError);
    EXPECT_EQ(std::vector<unsigned char>(back, back + len), data);
    EXPECT_EQ(XmlBase64::decodeLength(mine.c_str()), n);
  }

  struct Case {
    const char* text;
    int outSize;
    XmlError lengthError, decodeError;
    int length;
  } cases[] = {
      {"QUJD", 3, kXmlNoError, kXmlNoError, 3},
      {"QQ==", 1, kXmlNoError, kXmlNoError, 1},
      {"QU JD\n", 3, kXmlNoError, kXmlNoError, 3},
      {"QUJ", 3, kXmlBase64DataSize, kXmlBase64Truncated, 2},
      {"QU*D", 3, kXmlBase64BadChar, kXmlBase64BadChar, 0},
      {"QUJDRA==", 3, kXmlNoError, kXmlBase64BufferTooSmall, 4},
  };
  for (const Case& c : cases) {
    XmlError e;
    EXPECT_EQ(XmlBase64::decodeLength(c.text, &e), c.length) << c.text;
    EXPECT_EQ(e, c.lengthError) << c.text;
    unsigned char out[8];
    EXPECT_EQ(XmlBase64::decode(c.text, out, c.outSize, &e), c.decodeError == kXmlNoError);
    EXPECT_EQ(e, c.decodeError) << c.text;
  }
}

TEST(Xml, GuessEncoding)
{
  struct Case {
    const char* text;
    XmlEncoding expected;
  } cases[] = {
      {"<a/>", kXmlEncodingUnknown},
      {"\xEF\xBB\xBF<?xml version='1.0' encoding='sjis'?><a/>", kXmlEncodingUtf8},
      {"<?xml version='1.0'?><a>\xc3\xa9 text</a>", kXmlEncodingUtf8},
      {"<?xml version='1.0'?><a>\xe9 text, more</a>", kXmlEncodingLegacy},
      {"<?xml version='1.0' encoding = \"UTF-8\"?><a>\xe9</a>", kXmlEncodingLegacy},
      {"<?xml version='1.0' encoding='Shift-JIS'?><a/>", kXmlEncodingShiftJis},
      {"<?xml version='1.0' encoding='gb2312'?><a/>", kXmlEncodingGb2312},
      {"<?xml version='1.0' encoding='BIG5'?><a/>", kXmlEncodingBig5},
      {"<?xml version='1.0' encoding='gbk'?><a/>", kXmlEncodingGbk},
      {"<?xml version='1.0' encoding='koi8-r'?><a/>", kXmlEncodingLegacy},
  };
  for (const Case& c : cases)
    EXPECT_EQ(guessEncoding(c.text, strlen(c.text)), c.expected) << c.text;
  EXPECT_TRUE(setGlobalOptions(7));
  EXPECT_EQ(getEncoding(), kXmlEncodingUtf8);
  setGlobalOptions();
}

} // namespace
