// Writing a tree to text and to files, and escaping for callers.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "3rdparty/xml/XmlRecord.h"
#include "plat/utf8.h"

namespace xml {

// --- Escaping ---------------------------------------------------------------------------

namespace {

// The entity for c, or null when c is written as it is.
inline const char* entityFor(char c, size_t* length)
{
  switch (c) {
  case '&':
    *length = 5;
    return "&amp;";
  case '<':
    *length = 4;
    return "&lt;";
  case '>':
    *length = 4;
    return "&gt;";
  case '"':
    *length = 6;
    return "&quot;";
  case '\'':
    *length = 6;
    return "&apos;";
  default:
    return nullptr;
  }
}

inline bool needsEscape(char c)
{
  return c == '&' || c == '<' || c == '>' || c == '"' || c == '\'';
}

} // namespace

size_t XmlEscaper::escapedLength(const char* text, size_t n)
{
  size_t out = n, len = 0;
  for (size_t i = 0; i < n; i++) {
    if (needsEscape(text[i]) && entityFor(text[i], &len))
      out += len - 1;
  }
  return out;
}

char* XmlEscaper::escapeInto(char* out, const char* text, size_t n)
{
  size_t run = 0, len = 0;
  for (size_t i = 0; i < n; i++) {
    if (!needsEscape(text[i]))
      continue;
    memcpy(out, text + run, i - run);
    out += i - run;
    const char* e = entityFor(text[i], &len);
    memcpy(out, e, len);
    out += len;
    run = i + 1;
  }
  memcpy(out, text + run, n - run);
  return out + (n - run);
}

const char* XmlEscaper::toXmlString(const char* text)
{
  if (!text)
    text = "";
  plat::String valid;
  if (!plat::isValidUtf8(text)) {
    valid = plat::utf8Sanitise(text, nullptr, -1);
    text = valid.str();
  }
  size_t n = strlen(text);
  size_t need = escapedLength(text, n) + 1;
  if (need > size_) {
    free(buf_);
    buf_ = static_cast<char*>(xmlAlloc(need));
    size_ = need;
  }
  *escapeInto(buf_, text, n) = 0;
  return buf_;
}

void XmlEscaper::freeBuffer()
{
  free(buf_);
  buf_ = nullptr;
  size_ = 0;
}

// --- Writing ----------------------------------------------------------------------------

namespace {

// The first pass only counts; the second writes into a buffer of that size.
struct Measure {
  size_t n = 0;
  void put(const char*, size_t len) { n += len; }
  void put(char) { n++; }
  void tabs(int d) { n += size_t(d); }
  void escaped(const char* s) { n += XmlEscaper::escapedLength(s, strlen(s)); }
};

struct Emit {
  char* p;
  void put(const char* s, size_t len)
  {
    memcpy(p, s, len);
    p += len;
  }
  void put(char c) { *p++ = c; }
  void tabs(int d)
  {
    memset(p, '\t', size_t(d));
    p += d;
  }
  void escaped(const char* s) { p = XmlEscaper::escapeInto(p, s, strlen(s)); }
};

struct Frame {
  const XmlNodeRecord* node;
  int depth;        // of the node's own tags
  int contentDepth; // of its content
  int next;         // the next document-order entry to write
  bool endTag;
};

template <typename Sink> void putStr(Sink& out, const char* s)
{
  out.put(s, strlen(s));
}

// Writes the opening of an element (or the whole of an empty or one-text
// one) and says whether its content and end tag are still to come.
template <typename Sink>
bool openElement(Sink& out, const XmlNodeRecord* r, int depth, bool fmt, Frame* frame)
{
  if (!r->name) {
    *frame = Frame{r, depth, depth, 0, false};
    return true;
  }
  if (fmt)
    out.tabs(depth);
  out.put('<');
  if (r->isDeclaration)
    out.put('?');
  putStr(out, r->name);
  for (int i = 0; i < r->attributeCount; i++) {
    out.put(' ');
    putStr(out, r->attributes[i].name);
    if (r->attributes[i].value) {
      out.put("=\"", 2);
      out.escaped(r->attributes[i].value);
      out.put('"');
    }
  }
  if (r->isDeclaration) {
    out.put("?>", 2);
    if (fmt)
      out.put('\n');
    *frame = Frame{r, depth, depth, 0, false};
    return true;
  }
  if (r->orderCount() == 0) {
    out.put("/>", 2);
    if (fmt)
      out.put('\n');
    return false;
  }
  if (r->textCount == 1 && r->childCount == 0 && r->clearCount == 0) {
    out.put('>');
    out.escaped(r->texts[0]);
    out.put("</", 2);
    putStr(out, r->name);
    out.put('>');
    if (fmt)
      out.put('\n');
    return false;
  }
  out.put('>');
  if (fmt)
    out.put('\n');
  *frame = Frame{r, depth, depth + 1, 0, true};
  return true;
}

template <typename Sink> void writeTree(Sink& out, const XmlNodeRecord* top, bool fmt)
{
  // An explicit stack: trees built in code may be of any depth.
  std::vector<Frame> stack;
  Frame f;
  if (openElement(out, top, 0, fmt, &f))
    stack.push_back(f);
  while (!stack.empty()) {
    Frame& cur = stack.back();
    const XmlNodeRecord* r = cur.node;
    if (cur.next >= r->orderCount()) {
      if (cur.endTag) {
        if (fmt)
          out.tabs(cur.depth);
        out.put("</", 2);
        putStr(out, r->name);
        out.put('>');
        if (fmt)
          out.put('\n');
      }
      stack.pop_back();
      continue;
    }
    int entry = r->order[cur.next++], index = entry >> 2, d = cur.contentDepth;
    switch (entry & 3) {
    case kOrderChild:
      if (openElement(out, r->children[index], d, fmt, &f))
        stack.push_back(f); // cur is not used after this
      break;
    case kOrderText:
      if (fmt)
        out.tabs(d);
      out.escaped(r->texts[index]);
      if (fmt)
        out.put('\n');
      break;
    default: {
      const XmlClear& c = r->clears[index];
      if (fmt)
        out.tabs(d);
      putStr(out, c.openTag);
      putStr(out, c.value);
      putStr(out, c.closeTag);
      if (fmt)
        out.put('\n');
      break;
    }
    }
  }
}

} // namespace

char* XmlNode::createXmlString(bool formatted, int* length) const
{
  bool fmt = formatted && getDropWhitespace();
  Measure m;
  if (d_)
    writeTree(m, d_, fmt);
  char* buf = static_cast<char*>(xmlAlloc(m.n + 1));
  Emit e{buf};
  if (d_)
    writeTree(e, d_, fmt);
  *e.p = 0;
  if (length)
    *length = int(m.n);
  return buf;
}

XmlError XmlNode::writeToFile(const char* path, const char* encodingName, bool formatted) const
{
  if (!d_)
    return kXmlNoError;
  FILE* f = path ? fopen(path, "wbe") : nullptr;
  if (!f)
    return kXmlCannotOpenForWriting;
  bool ok = true;
  XmlEncoding enc = getEncoding();
  bool startsWithDeclaration = d_->isDeclaration || (!d_->name && d_->childCount > 0 &&
                                                      d_->children[0]->isDeclaration);
  if (enc == kXmlEncodingUtf8)
    ok = fwrite("\xEF\xBB\xBF", 3, 1, f) == 1;
  if (ok && !startsWithDeclaration) {
    const char* name = enc == kXmlEncodingUtf8      ? "utf-8"
                       : enc == kXmlEncodingShiftJis ? "SHIFT-JIS"
                       : encodingName                ? encodingName
                                                     : "ISO-8859-1";
    ok = fprintf(f, "<?xml version=\"1.0\" encoding=\"%s\"?>\n", name) > 0;
  }
  if (ok) {
    int n = 0;
    char* text = createXmlString(formatted, &n);
    ok = n == 0 || fwrite(text, size_t(n), 1, f) == 1;
    freeXmlString(text);
  }
  if (fclose(f) != 0)
    ok = false;
  return ok ? kXmlNoError : kXmlCannotWrite;
}

} // namespace xml
