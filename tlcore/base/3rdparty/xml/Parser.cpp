// The document parser, the process-wide options and error texts, and the
// node record's memory and reference counting.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "3rdparty/xml/XmlRecord.h"
#include "plat/Exception.h"

namespace xml {

const char* const kXmlCdataOpen = "<![CDATA[";
const char* const kXmlCdataClose = "]]>";
const char* const kXmlDoctypeOpen = "<!DOCTYPE";
const char* const kXmlDoctypeClose = ">";
const char* const kXmlCommentOpen = "<!--";
const char* const kXmlCommentClose = "-->";
const char* const kXmlPreOpen = "<PRE>";
const char* const kXmlPreClose = "</PRE>";

namespace {

XmlEncoding gEncoding = kXmlEncodingUtf8;
bool gByteOrderMarkFlag = true;
bool gDropWhitespace = true;
bool gRemoveComments = true;

const char* const kErrorTexts[] = {
    "No error",
    "Warning: Unmatched end tag",
    "Warning: No XML tag found",
    "Error: No XML data",
    "Error: Missing start tag name",
    "Error: Missing end tag name",
    "Error: Unmatched end tag",
    "Error: Unmatched clear tag end",
    "Error: Unexpected token found",
    "Error: No elements found",
    "Error: File not found",
    "Error: First Tag not found",
    "Error: Unknown character entity",
    "Error: Character code above 255 is forbidden in MultiByte char mode.",
    "Error: unable to convert between WideChar and MultiByte chars",
    "Error: unable to open file for writing",
    "Error: cannot write into file",
    "Warning: Base64-string length is not a multiple of 4",
    "Error: Base64-string contains an illegal character",
    "Warning: Base64-string is truncated",
    "Error: Base64 decode output buffer is too small",
    "Error: Elements nested too deeply",
    "Error: Character reference to an invalid code point",
};

} // namespace

const char* errorText(int code)
{
  if (code < 0 || code >= int(sizeof kErrorTexts / sizeof kErrorTexts[0]))
    return "Unknown";
  return kErrorTexts[code];
}

const char* versionText()
{
  return "v2.43";
}

bool setGlobalOptions(int encoding, bool byteOrderMarkFlag, bool dropWhitespace,
                      bool removeComments)
{
  gByteOrderMarkFlag = byteOrderMarkFlag;
  gDropWhitespace = dropWhitespace;
  gRemoveComments = removeComments;
  if (encoding < kXmlEncodingUtf8 || encoding > kXmlEncodingGbk)
    return true;
  gEncoding = XmlEncoding(encoding);
  return false;
}

XmlEncoding getEncoding()
{
  return gEncoding;
}

bool getDropWhitespace()
{
  return gDropWhitespace;
}

bool getRemoveComments()
{
  return gRemoveComments;
}

// --- Memory -------------------------------------------------------------------------

char* xmlStrDup(const char* s, size_t n)
{
  char* d = static_cast<char*>(xmlAlloc(n + 1));
  memcpy(d, s, n);
  d[n] = 0;
  return d;
}

// Exhaustion is fatal: a half-built tree could not be freed safely.
void* xmlAlloc(size_t n)
{
  void* p = malloc(n ? n : 1);
  PLAT_ASSERT(p);
  return p;
}
void* xmlRealloc(void* old, size_t n)
{
  void* p = realloc(old, n ? n : 1);
  PLAT_ASSERT(p);
  return p;
}

void freeXmlString(char* s)
{
  free(s);
}

// --- Records --------------------------------------------------------------------------

XmlNodeRecord* newRecord(const char* name, size_t nameLength, bool isDeclaration)
{
  auto* r = static_cast<XmlNodeRecord*>(xmlAlloc(sizeof(XmlNodeRecord)));
  memset(r, 0, sizeof *r);
  r->name = name ? xmlStrDup(name, nameLength) : nullptr;
  r->isDeclaration = isDeclaration ? 1 : 0;
  return r;
}

void retainRecord(XmlNodeRecord* r)
{
  r->referenceCount++;
}

void releaseRecord(XmlNodeRecord* r)
{
  if (--r->referenceCount > 0)
    return;
  // A worklist instead of recursion, so any depth is freed.
  std::vector<XmlNodeRecord*> dying{r};
  while (!dying.empty()) {
    XmlNodeRecord* x = dying.back();
    dying.pop_back();
    for (int i = 0; i < x->childCount; i++) {
      XmlNodeRecord* c = x->children[i];
      c->parent = nullptr;
      if (--c->referenceCount == 0)
        dying.push_back(c);
    }
    for (int i = 0; i < x->textCount; i++)
      free(x->texts[i]);
    for (int i = 0; i < x->clearCount; i++)
      free(const_cast<char*>(x->clears[i].value));
    for (int i = 0; i < x->attributeCount; i++) {
      free(const_cast<char*>(x->attributes[i].name));
      free(const_cast<char*>(x->attributes[i].value));
    }
    free(x->children);
    free(x->texts);
    free(x->clears);
    free(x->attributes);
    free(x->order);
    free(x->name);
    free(x);
  }
}

namespace {

template <typename T> void shrinkTo(T*& array, int& cap, int count)
{
  if (cap == count)
    return;
  if (count == 0) {
    free(array);
    array = nullptr;
  } else {
    array = static_cast<T*>(xmlRealloc(array, size_t(count) * sizeof(T)));
  }
  cap = count;
}

void appendOrder(XmlNodeRecord* r, int entry)
{
  int n = r->orderCount();
  growTo(r->order, r->orderCap, n + 1);
  r->order[n] = entry;
}

} // namespace

void shrinkRecord(XmlNodeRecord* r)
{
  shrinkTo(r->children, r->childCap, r->childCount);
  shrinkTo(r->texts, r->textCap, r->textCount);
  shrinkTo(r->clears, r->clearCap, r->clearCount);
  shrinkTo(r->attributes, r->attributeCap, r->attributeCount);
  shrinkTo(r->order, r->orderCap, r->orderCount());
}

void appendChild(XmlNodeRecord* r, XmlNodeRecord* child)
{
  appendOrder(r, (r->childCount << 2) | kOrderChild);
  growTo(r->children, r->childCap, r->childCount + 1);
  r->children[r->childCount++] = child;
  child->parent = r;
}

void appendText(XmlNodeRecord* r, char* text)
{
  appendOrder(r, (r->textCount << 2) | kOrderText);
  growTo(r->texts, r->textCap, r->textCount + 1);
  r->texts[r->textCount++] = text;
}

void appendClear(XmlNodeRecord* r, char* value, const char* openTag, const char* closeTag)
{
  appendOrder(r, (r->clearCount << 2) | kOrderClear);
  growTo(r->clears, r->clearCap, r->clearCount + 1);
  r->clears[r->clearCount++] = XmlClear{value, openTag, closeTag};
}

void appendAttribute(XmlNodeRecord* r, char* name, char* value)
{
  growTo(r->attributes, r->attributeCap, r->attributeCount + 1);
  r->attributes[r->attributeCount++] = XmlAttribute{name, value};
}

// --- Parser --------------------------------------------------------------------------

namespace {

struct ClearTag {
  const char* open;
  const char* close;
  size_t openLength, closeLength;
};

// Recognised in this order.
const ClearTag kClearTags[] = {
    {kXmlCdataOpen, kXmlCdataClose, 9, 3},
    {kXmlDoctypeOpen, kXmlDoctypeClose, 9, 1},
    {kXmlCommentOpen, kXmlCommentClose, 4, 3},
    {kXmlPreOpen, kXmlPreClose, 5, 6},
};

inline bool isBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline char lowerAscii(char c)
{
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(const char* s, const char* b, size_t n)
{
  for (size_t i = 0; i < n; i++) {
    if (!s[i] || lowerAscii(s[i]) != lowerAscii(b[i]))
      return false;
  }
  return s[n] == 0;
}

inline bool isNameStop(char c)
{
  return isBlank(c) || c == '/' || c == '>' || c == '=' || c == '<' || c == '?' || c == '"' ||
         c == '\'';
}

struct Segment {
  const char* begin;
  const char* end;
  bool hasEntity;
};

} // namespace

// One parse of one document; builds the tree under an unnamed root.
class XmlParser {
public:
  XmlParser(const char* begin, const char* end)
      : len_(charLengthTable()), utf8_(getEncoding() == kXmlEncodingUtf8),
        dropWhitespace_(gDropWhitespace), removeComments_(gRemoveComments), p_(begin), end_(end)
  {
  }

  // The root (one reference held by the caller), or null with error set.
  XmlNodeRecord* run();

  XmlError error = kXmlNoError;
  const char* errorAt = nullptr;
  XmlError warning = kXmlNoError;
  const char* warningAt = nullptr;

private:
  bool fail(XmlError code, const char* at)
  {
    if (!error) {
      error = code;
      errorAt = at;
    }
    return false;
  }
  void warn(XmlError code, const char* at)
  {
    if (!warning) {
      warning = code;
      warningAt = at;
    }
  }
  const char* step(const char* q) const
  {
    q += len_[static_cast<unsigned char>(*q)];
    return q < end_ ? q : end_;
  }
  const char* skipBlanks(const char* q) const
  {
    while (q < end_ && isBlank(*q))
      q++;
    return q;
  }
  bool startsWith(const char* q, const char* s, size_t n) const
  {
    return size_t(end_ - q) >= n && memcmp(q, s, n) == 0;
  }
  // The first whole-character match of s at or after q.
  const char* find(const char* q, const char* s, size_t n) const
  {
    while (size_t(end_ - q) >= n) {
      if (*q == *s && memcmp(q, s, n) == 0)
        return q;
      q = step(q);
    }
    return nullptr;
  }
  XmlNodeRecord* current() const { return open_.back(); }

  bool textRun();
  bool emitText(size_t first, size_t last);
  bool clearSection(const ClearTag& tag);
  bool endTag();
  bool startTag();
  void closeTo(size_t depth);
  // Decodes [b, e) (entities and character references) into out, which
  // must hold e - b bytes; returns the end or null on an error.
  char* decode(char* out, const char* b, const char* e);
  char* decodedCopy(const char* b, const char* e, bool hasEntity);

  const unsigned char* len_;
  bool utf8_;
  bool dropWhitespace_;
  bool removeComments_;
  const char* p_;
  const char* end_;
  std::vector<XmlNodeRecord*> open_;
  std::vector<Segment> segments_;
};

XmlNodeRecord* XmlParser::run()
{
  XmlNodeRecord* root = newRecord(nullptr, 0, false);
  root->referenceCount = 1;
  open_.push_back(root);
  bool ok = true;
  while (ok && p_ < end_) {
    if (*p_ != '<' || (removeComments_ && startsWith(p_, kXmlCommentOpen, 4))) {
      ok = textRun();
      continue;
    }
    const ClearTag* clear = nullptr;
    for (const ClearTag& t : kClearTags) {
      if (startsWith(p_, t.open, t.openLength)) {
        clear = &t;
        break;
      }
    }
    if (clear)
      ok = clearSection(*clear);
    else if (p_ + 1 < end_ && p_[1] == '/')
      ok = endTag();
    else
      ok = startTag();
  }
  if (!ok) {
    releaseRecord(root);
    return nullptr;
  }
  if (open_.size() > 1)
    warn(kXmlWarnUnmatchedEndTag, end_);
  closeTo(0);
  shrinkRecord(root);
  return root;
}

void XmlParser::closeTo(size_t depth)
{
  while (open_.size() > depth + 1) {
    shrinkRecord(open_.back());
    open_.pop_back();
  }
}

bool XmlParser::textRun()
{
  // A run of character data, and of comments when they are removed from
  // the middle of text: data, comment, data, ..., data.
  segments_.clear();
  for (;;) {
    const char* b = p_;
    bool entity = false;
    while (p_ < end_ && *p_ != '<') {
      if (*p_ == '&')
        entity = true;
      p_ += len_[static_cast<unsigned char>(*p_)];
    }
    if (p_ > end_)
      p_ = end_;
    segments_.push_back(Segment{b, p_, entity});
    if (!removeComments_ || !startsWith(p_, kXmlCommentOpen, 4))
      break;
    const char* close = find(p_ + 4, kXmlCommentClose, 3);
    if (!close)
      return fail(kXmlUnmatchedClearTag, p_);
    segments_.push_back(Segment{p_ + 4, close, false});
    p_ = close + 3;
  }

  auto meaningful = [this](const Segment& s) {
    if (!dropWhitespace_)
      return s.begin != s.end;
    for (const char* q = s.begin; q < s.end; q++) {
      if (!isBlank(*q))
        return true;
    }
    return false;
  };
  size_t n = segments_.size();
  size_t first = n, last = n;
  for (size_t i = 0; i < n; i += 2) {
    if (meaningful(segments_[i])) {
      if (first == n)
        first = i;
      last = i;
    }
  }
  // Comments outside the text stay as clear sections.
  auto keepComments = [this](size_t from, size_t to) {
    for (size_t i = from | 1; i < to; i += 2) {
      const Segment& c = segments_[i];
      appendClear(current(), xmlStrDup(c.begin, size_t(c.end - c.begin)), kXmlCommentOpen,
                  kXmlCommentClose);
    }
  };
  if (first == n) {
    keepComments(1, n);
    return true;
  }
  keepComments(1, first);
  if (!emitText(first, last))
    return false;
  keepComments(last + 1, n);
  return true;
}

bool XmlParser::emitText(size_t first, size_t last)
{
  const char* b = segments_[first].begin;
  const char* e = segments_[last].end;
  if (dropWhitespace_) {
    while (isBlank(*b))
      b++;
    while (isBlank(e[-1]))
      e--;
  }
  if (first == last) {
    char* text = decodedCopy(b, e, segments_[first].hasEntity);
    if (!text)
      return false;
    appendText(current(), text);
    return true;
  }
  size_t total = 0;
  for (size_t i = first; i <= last; i += 2) {
    const char* sb = i == first ? b : segments_[i].begin;
    const char* se = i == last ? e : segments_[i].end;
    total += size_t(se - sb);
  }
  char* text = static_cast<char*>(xmlAlloc(total + 1));
  char* out = text;
  for (size_t i = first; i <= last; i += 2) {
    const char* sb = i == first ? b : segments_[i].begin;
    const char* se = i == last ? e : segments_[i].end;
    out = decode(out, sb, se);
    if (!out) {
      free(text);
      return false;
    }
  }
  *out = 0;
  appendText(current(), text);
  return true;
}

char* XmlParser::decodedCopy(const char* b, const char* e, bool hasEntity)
{
  if (!hasEntity)
    return xmlStrDup(b, size_t(e - b));
  char* text = static_cast<char*>(xmlAlloc(size_t(e - b) + 1));
  char* end = decode(text, b, e);
  if (!end) {
    free(text);
    return nullptr;
  }
  *end = 0;
  return text;
}

char* XmlParser::decode(char* out, const char* b, const char* e)
{
  static const struct {
    const char* name;
    size_t length;
    char c;
  } kEntities[] = {{"amp;", 4, '&'}, {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'},
                   {"apos;", 5, '\''}};
  while (b < e) {
    if (*b != '&') {
      const char* next = b + len_[static_cast<unsigned char>(*b)];
      if (next > e)
        next = e;
      while (b < next)
        *out++ = *b++;
      continue;
    }
    const char* amp = b++;
    bool named = false;
    for (const auto& ent : kEntities) {
      if (size_t(e - b) >= ent.length && equalsNoCase(ent.name, b, ent.length)) {
        *out++ = ent.c;
        b += ent.length;
        named = true;
        break;
      }
    }
    if (named)
      continue;
    if (b >= e || *b != '#') {
      fail(kXmlUnknownEntity, amp);
      return nullptr;
    }
    b++;
    bool hex = b < e && (*b == 'x' || *b == 'X');
    if (hex)
      b++;
    unsigned long value = 0;
    int digits = 0;
    for (; b < e; b++, digits++) {
      int d;
      char c = *b;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      // Saturates, so long runs of digits cannot overflow.
      value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + unsigned(d);
    }
    if (!digits || b >= e || *b != ';') {
      fail(kXmlUnknownEntity, amp);
      return nullptr;
    }
    b++;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      fail(utf8_ || value == 0 ? kXmlBadCharRef : kXmlCharCodeAbove255, amp);
      return nullptr;
    }
    if (!utf8_) {
      if (value > 255) {
        fail(kXmlCharCodeAbove255, amp);
        return nullptr;
      }
      *out++ = char(value);
    } else if (value < 0x80) {
      *out++ = char(value);
    } else if (value < 0x800) {
      *out++ = char(0xC0 | (value >> 6));
      *out++ = char(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      *out++ = char(0xE0 | (value >> 12));
      *out++ = char(0x80 | ((value >> 6) & 0x3F));
      *out++ = char(0x80 | (value & 0x3F));
    } else {
      *out++ = char(0xF0 | (value >> 18));
      *out++ = char(0x80 | ((value >> 12) & 0x3F));
      *out++ = char(0x80 | ((value >> 6) & 0x3F));
      *out++ = char(0x80 | (value & 0x3F));
    }
  }
  return out;
}

bool XmlParser::clearSection(const ClearTag& tag)
{
  const char* start = p_ + tag.openLength;
  const char* close = nullptr;
  if (tag.open == kXmlDoctypeOpen) {
    // An internal subset and quoted literals may hold '>'; the whole
    // declaration is kept as it stands and nothing in it is expanded.
    int depth = 0;
    char quote = 0;
    for (const char* q = start; q < end_; q = step(q)) {
      char c = *q;
      if (quote) {
        if (c == quote)
          quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        depth++;
      } else if (c == ']' && depth > 0) {
        depth--;
      } else if (c == '>' && depth == 0) {
        close = q;
        break;
      }
    }
  } else {
    close = find(start, tag.close, tag.closeLength);
  }
  if (!close)
    return fail(kXmlUnmatchedClearTag, p_);
  appendClear(current(), xmlStrDup(start, size_t(close - start)), tag.open, tag.close);
  p_ = close + tag.closeLength;
  return true;
}

bool XmlParser::endTag()
{
  const char* q = p_ + 2;
  const char* name = q;
  while (q < end_ && !isBlank(*q) && *q != '/' && *q != '<' && *q != '=' && *q != '>')
    q = step(q);
  size_t length = size_t(q - name);
  if (!length)
    return fail(kXmlMissingEndTagName, p_);
  q = skipBlanks(q);
  if (q >= end_ || *q != '>')
    return fail(kXmlUnexpectedToken, q);
  size_t k = open_.size() - 1;
  while (k > 0 && !equalsNoCase(open_[k]->name, name, length))
    k--;
  if (k == 0)
    return fail(kXmlUnmatchedEndTag, p_);
  if (k != open_.size() - 1)
    warn(kXmlWarnUnmatchedEndTag, p_);
  closeTo(k - 1);
  p_ = q + 1;
  return true;
}

bool XmlParser::startTag()
{
  const char* tagStart = p_;
  bool declaration = p_ + 1 < end_ && p_[1] == '?';
  const char* q = p_ + (declaration ? 2 : 1);
  const char* name = q;
  while (q < end_ && !isNameStop(*q))
    q = step(q);
  if (q == name)
    return fail(kXmlMissingTagName, tagStart);
  if (open_.size() > size_t(kXmlMaxDepth))
    return fail(kXmlTooDeep, tagStart);
  XmlNodeRecord* element = newRecord(name, size_t(q - name), declaration);
  element->referenceCount = 1;
  appendChild(current(), element);

  for (;;) {
    q = skipBlanks(q);
    if (q >= end_)
      return fail(kXmlUnexpectedToken, q);
    char c = *q;
    bool closing = q + 1 < end_ && q[1] == '>';
    if (declaration) {
      if (c == '?' && closing) {
        p_ = q + 2;
        return true;
      }
    } else if (c == '/' && closing) {
      p_ = q + 2;
      return true;
    } else if (c == '>') {
      open_.push_back(element);
      p_ = q + 1;
      return true;
    }
    if (isNameStop(c))
      return fail(kXmlUnexpectedToken, q);

    const char* attrName = q;
    while (q < end_ && !isNameStop(*q))
      q = step(q);
    size_t nameLength = size_t(q - attrName);
    const char* r = skipBlanks(q);
    if (r >= end_ || *r != '=') {
      appendAttribute(element, xmlStrDup(attrName, nameLength), nullptr);
      q = r;
      continue;
    }
    r = skipBlanks(r + 1);
    if (r >= end_)
      return fail(kXmlUnexpectedToken, r);
    const char* vb;
    const char* ve;
    if (*r == '"' || *r == '\'') {
      char quote = *r;
      vb = r + 1;
      ve = vb;
      while (ve < end_ && *ve != quote)
        ve = step(ve);
      if (ve >= end_)
        return fail(kXmlUnexpectedToken, r);
      q = ve + 1;
    } else {
      vb = r;
      ve = r;
      while (ve < end_ && !isBlank(*ve) && *ve != '>' && *ve != '<' &&
             !((*ve == '/' || *ve == '?') && ve + 1 < end_ && ve[1] == '>'))
        ve = step(ve);
      if (ve == vb)
        return fail(kXmlUnexpectedToken, r);
      q = ve;
    }
    bool entity = memchr(vb, '&', size_t(ve - vb)) != nullptr;
    char* value = decodedCopy(vb, ve, entity);
    if (!value)
      return false;
    appendAttribute(element, xmlStrDup(attrName, nameLength), value);
  }
}

// --- Entry points ---------------------------------------------------------------------

namespace {

void setPosition(XmlResults& res, const char* begin, const char* at)
{
  const unsigned char* len = charLengthTable();
  int line = 1, column = 1;
  for (const char* q = begin; q < at;) {
    if (*q == '\n') {
      line++;
      column = 1;
      q++;
    } else {
      column++;
      q += len[static_cast<unsigned char>(*q)];
    }
  }
  res.line = line;
  res.column = column;
}

// The whole file in a malloc'd buffer, or null with the error set.
char* readFile(const char* path, size_t* length, XmlError* error)
{
  FILE* f = path ? fopen(path, "rbe") : nullptr;
  if (!f) {
    *error = kXmlFileNotFound;
    return nullptr;
  }
  size_t cap = 65536, n = 0;
  char* buf = static_cast<char*>(xmlAlloc(cap));
  for (;;) {
    size_t got = fread(buf + n, 1, cap - n, f);
    n += got;
    if (n < cap)
      break;
    cap *= 2;
    buf = static_cast<char*>(xmlRealloc(buf, cap));
  }
  bool readError = ferror(f) != 0;
  fclose(f);
  if (readError || n == 0) {
    free(buf);
    *error = readError ? kXmlFileNotFound : kXmlNoData;
    return nullptr;
  }
  *length = n;
  return buf;
}

size_t byteOrderMarkLength(const char* buf, size_t n)
{
  auto* b = reinterpret_cast<const unsigned char*>(buf);
  if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    return 3;
  if (!gByteOrderMarkFlag && n >= 2 &&
      ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xEF && b[1] == 0xFF)))
    return 2;
  return 0;
}

} // namespace

XmlNode XmlNode::parseString(const char* text, const char* tag, XmlResults* results)
{
  return parseBuffer(text, text ? strlen(text) : 0, tag, results);
}

XmlNode XmlNode::parseBuffer(const char* text, size_t length, const char* tag,
                             XmlResults* results)
{
  XmlResults local;
  XmlResults& res = results ? *results : local;
  res = XmlResults();
  if (!text) {
    res.error = kXmlNoElements;
    res.line = res.column = 1;
    return XmlNode();
  }
  const char* nul = static_cast<const char*>(memchr(text, 0, length));
  const char* end = nul ? nul : text + length;

  XmlParser parser(text, end);
  XmlNodeRecord* root = parser.run();
  if (!root) {
    res.error = parser.error;
    setPosition(res, text, parser.errorAt);
    return XmlNode();
  }
  XmlNode rootHandle(root);
  releaseRecord(root); // the handle holds it now

  XmlError code = parser.warning;
  const char* at = parser.warningAt;
  XmlNode result = rootHandle;
  if (root->childCount == 0) {
    code = kXmlWarnNoTag;
    at = end;
  } else if (root->childCount == 1 && root->textCount == 0 && root->clearCount == 0) {
    result = XmlNode(root->children[0]);
  }
  if (tag && *tag && !(result.name() && equalsNoCase(result.name(), tag, strlen(tag)))) {
    result = result.child(tag, 0);
    if (result.isEmpty()) {
      code = kXmlFirstTagNotFound;
      at = end;
    }
  }
  res.error = code;
  if (code)
    setPosition(res, text, at);
  return result;
}

namespace {

// Reads and parses a whole file into res (reset first). With setEncoding,
// an encoding recognised in its first bytes becomes the global one.
XmlNode readAndParse(const char* path, const char* tag, XmlResults& res, bool setEncoding)
{
  res = XmlResults();
  size_t n = 0;
  XmlError error = kXmlNoError;
  char* buf = readFile(path, &n, &error);
  if (!buf) {
    res.error = error;
    return XmlNode();
  }
  if (setEncoding) {
    XmlEncoding guess = guessEncoding(buf, n < 200 ? n : 200, true);
    if (guess != kXmlEncodingUnknown)
      gEncoding = guess;
  }
  size_t skip = byteOrderMarkLength(buf, n);
  XmlNode node = XmlNode::parseBuffer(buf + skip, n - skip, tag, &res);
  free(buf);
  return node;
}

} // namespace

XmlNode XmlNode::parseFile(const char* path, const char* tag, XmlResults* results)
{
  XmlResults local;
  return readAndParse(path, tag, results ? *results : local, false);
}

XmlNode XmlNode::openFile(const char* path, const char* tag, XmlResults* results)
{
  XmlResults local;
  XmlResults& res = results ? *results : local;
  XmlNode node = readAndParse(path, tag, res, true);
  if (res.error) {
    bool firstTag = res.error == kXmlFirstTagNotFound;
    printf("XML Parsing error inside file '%s'.\n%s\nAt line %i, column %i.\n%s%s%s",
           path ? path : "", errorText(res.error), res.line, res.column,
           firstTag ? "First Tag should be '" : "", firstTag && tag ? tag : "",
           firstTag ? "'.\n" : "");
    fflush(stdout);
  }
  return node;
}

} // namespace xml
