// XmlNode: handles, queries, edits and deep copies.

#include <stdlib.h>
#include <string.h>

#include <utility>
#include <vector>

#include "3rdparty/xml/XmlRecord.h"

namespace xml {

namespace {

inline char lowerAscii(char c)
{
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameNoCase(const char* a, const char* b)
{
  if (!a || !b)
    return false;
  for (; *a && lowerAscii(*a) == lowerAscii(*b); a++, b++) {
  }
  return lowerAscii(*a) == lowerAscii(*b);
}

// The index in the document order of the entry, or -1.
int findOrder(const XmlNodeRecord* r, int index, int kind)
{
  int entry = (index << 2) | kind;
  for (int i = 0, n = r->orderCount(); i < n; i++) {
    if (r->order[i] == entry)
      return i;
  }
  return -1;
}

// Makes room for one more item of kind at document-order position pos (or
// at the end); returns its index in the typed array, where the caller
// stores it and then raises the count.
int insertOrder(XmlNodeRecord* r, int kind, int count, int pos)
{
  int n = r->orderCount();
  growTo(r->order, r->orderCap, n + 1);
  if (pos < 0 || pos >= n) {
    r->order[n] = (count << 2) | kind;
    return count;
  }
  int index = 0;
  for (int i = 0; i < pos; i++) {
    if ((r->order[i] & 3) == kind)
      index++;
  }
  for (int i = pos; i < n; i++) {
    if ((r->order[i] & 3) == kind)
      r->order[i] += 4;
  }
  memmove(r->order + pos + 1, r->order + pos, size_t(n - pos) * sizeof(int));
  r->order[pos] = (index << 2) | kind;
  return index;
}

// Drops the order entry of item index of kind and renumbers the later ones.
void removeOrder(XmlNodeRecord* r, int kind, int index)
{
  int pos = findOrder(r, index, kind);
  int n = r->orderCount();
  if (pos >= 0) {
    memmove(r->order + pos, r->order + pos + 1, size_t(n - pos - 1) * sizeof(int));
    n--;
  }
  for (int i = 0; i < n; i++) {
    if ((r->order[i] & 3) == kind && (r->order[i] >> 2) > index)
      r->order[i] -= 4;
  }
}

template <typename T> void insertAt(T*& array, int& cap, int count, int index, const T& item)
{
  growTo(array, cap, count + 1);
  memmove(array + index + 1, array + index, size_t(count - index) * sizeof(T));
  array[index] = item;
}

template <typename T> void removeAt(T* array, int count, int index)
{
  memmove(array + index, array + index + 1, size_t(count - index - 1) * sizeof(T));
}

// Copies the record's own contents (not its children) into a new record.
XmlNodeRecord* copyShallow(const XmlNodeRecord* s)
{
  XmlNodeRecord* d = newRecord(s->name, s->name ? strlen(s->name) : 0, s->isDeclaration);
  if (s->textCount) {
    d->texts = static_cast<char**>(xmlAlloc(size_t(s->textCount) * sizeof(char*)));
    for (int i = 0; i < s->textCount; i++)
      d->texts[i] = xmlStrDup(s->texts[i]);
    d->textCount = d->textCap = s->textCount;
  }
  if (s->clearCount) {
    d->clears = static_cast<XmlClear*>(xmlAlloc(size_t(s->clearCount) * sizeof(XmlClear)));
    for (int i = 0; i < s->clearCount; i++)
      d->clears[i] = XmlClear{xmlStrDup(s->clears[i].value), s->clears[i].openTag,
                              s->clears[i].closeTag};
    d->clearCount = d->clearCap = s->clearCount;
  }
  if (s->attributeCount) {
    d->attributes =
        static_cast<XmlAttribute*>(xmlAlloc(size_t(s->attributeCount) * sizeof(XmlAttribute)));
    for (int i = 0; i < s->attributeCount; i++)
      d->attributes[i] =
          XmlAttribute{xmlStrDup(s->attributes[i].name), xmlStrDup(s->attributes[i].value)};
    d->attributeCount = d->attributeCap = s->attributeCount;
  }
  int n = s->orderCount();
  if (n) {
    d->order = static_cast<int*>(xmlAlloc(size_t(n) * sizeof(int)));
    memcpy(d->order, s->order, size_t(n) * sizeof(int));
    d->orderCap = n;
  }
  if (s->childCount) {
    d->children = static_cast<XmlNodeRecord**>(
        xmlAlloc(size_t(s->childCount) * sizeof(XmlNodeRecord*)));
    d->childCap = s->childCount;
  }
  return d;
}

} // namespace

// --- Handle ---------------------------------------------------------------------------

XmlNode::XmlNode(XmlNodeRecord* d) : d_(d)
{
  if (d_)
    retainRecord(d_);
}

XmlNode::XmlNode(const XmlNode& other) : d_(other.d_)
{
  if (d_)
    retainRecord(d_);
}

XmlNode& XmlNode::operator=(const XmlNode& other)
{
  if (other.d_)
    retainRecord(other.d_);
  if (d_)
    releaseRecord(d_);
  d_ = other.d_;
  return *this;
}

XmlNode& XmlNode::operator=(XmlNode&& other) noexcept
{
  if (this != &other) {
    if (d_)
      releaseRecord(d_);
    d_ = other.d_;
    other.d_ = nullptr;
  }
  return *this;
}

XmlNode::~XmlNode()
{
  if (d_)
    releaseRecord(d_);
}

// --- Queries ----------------------------------------------------------------------------

const char* XmlNode::name() const
{
  return d_ ? d_->name : nullptr;
}

bool XmlNode::isDeclaration() const
{
  return d_ && d_->isDeclaration;
}

XmlNode XmlNode::parent() const
{
  return XmlNode(d_ ? d_->parent : nullptr);
}

int XmlNode::childCount() const
{
  return d_ ? d_->childCount : 0;
}

int XmlNode::childCount(const char* name) const
{
  int n = 0;
  for (int i = 0; d_ && i < d_->childCount; i++) {
    if (sameNoCase(d_->children[i]->name, name))
      n++;
  }
  return n;
}

int XmlNode::textCount() const
{
  return d_ ? d_->textCount : 0;
}

int XmlNode::clearCount() const
{
  return d_ ? d_->clearCount : 0;
}

int XmlNode::attributeCount() const
{
  return d_ ? d_->attributeCount : 0;
}

int XmlNode::contentCount() const
{
  return d_ ? d_->orderCount() + d_->attributeCount : 0;
}

XmlNode XmlNode::child(int i) const
{
  if (!d_ || i < 0 || i >= d_->childCount)
    return XmlNode();
  return XmlNode(d_->children[i]);
}

XmlNode XmlNode::child(const char* name, int i) const
{
  for (int j = 0; d_ && i >= 0 && j < d_->childCount; j++) {
    if (sameNoCase(d_->children[j]->name, name) && i-- == 0)
      return XmlNode(d_->children[j]);
  }
  return XmlNode();
}

XmlNode XmlNode::child(const char* name, int* position) const
{
  int start = position && *position >= 0 ? *position + 1 : 0;
  for (int j = start; d_ && j < d_->childCount; j++) {
    if (sameNoCase(d_->children[j]->name, name)) {
      if (position)
        *position = j;
      return XmlNode(d_->children[j]);
    }
  }
  return XmlNode();
}

XmlNode XmlNode::childWithAttribute(const char* name, const char* attrName,
                                    const char* attrValue, int* position) const
{
  int start = position && *position >= 0 ? *position + 1 : 0;
  for (int j = start; d_ && j < d_->childCount; j++) {
    XmlNodeRecord* c = d_->children[j];
    if (!sameNoCase(c->name, name))
      continue;
    for (int k = 0; k < c->attributeCount; k++) {
      const XmlAttribute& a = c->attributes[k];
      if (!sameNoCase(a.name, attrName))
        continue;
      if (attrValue && !(a.value && strcmp(a.value, attrValue) == 0))
        continue;
      if (position)
        *position = j;
      return XmlNode(c);
    }
  }
  return XmlNode();
}

const char* XmlNode::text(int i) const
{
  return d_ && i >= 0 && i < d_->textCount ? d_->texts[i] : nullptr;
}

XmlClear XmlNode::clear(int i) const
{
  return d_ && i >= 0 && i < d_->clearCount ? d_->clears[i] : XmlClear();
}

XmlAttribute XmlNode::attribute(int i) const
{
  return d_ && i >= 0 && i < d_->attributeCount ? d_->attributes[i] : XmlAttribute();
}

const char* XmlNode::attribute(const char* name, int* position) const
{
  int start = position && *position >= 0 ? *position + 1 : 0;
  for (int j = start; d_ && j < d_->attributeCount; j++) {
    if (sameNoCase(d_->attributes[j].name, name)) {
      if (position)
        *position = j;
      return d_->attributes[j].value;
    }
  }
  return nullptr;
}

bool XmlNode::hasAttribute(const char* name) const
{
  for (int j = 0; d_ && j < d_->attributeCount; j++) {
    if (sameNoCase(d_->attributes[j].name, name))
      return true;
  }
  return false;
}

XmlNodeContents XmlNode::enumContents(int i) const
{
  XmlNodeContents c;
  if (!d_ || i < 0)
    return c;
  if (i < d_->attributeCount) {
    c.kind = kXmlContentAttribute;
    c.attribute = d_->attributes[i];
    return c;
  }
  i -= d_->attributeCount;
  if (i >= d_->orderCount())
    return c;
  int entry = d_->order[i], index = entry >> 2;
  switch (entry & 3) {
  case kOrderChild:
    c.kind = kXmlContentElement;
    c.child = XmlNode(d_->children[index]);
    break;
  case kOrderText:
    c.kind = kXmlContentText;
    c.text = d_->texts[index];
    break;
  default:
    c.kind = kXmlContentClear;
    c.clear = d_->clears[index];
    break;
  }
  return c;
}

int XmlNode::positionOf(const XmlNode& node) const
{
  for (int i = 0; d_ && node.d_ && i < d_->childCount; i++) {
    if (d_->children[i] == node.d_)
      return findOrder(d_, i, kOrderChild);
  }
  return -1;
}

int XmlNode::positionOfText(const char* text) const
{
  for (int i = 0; d_ && text && i < d_->textCount; i++) {
    if (d_->texts[i] == text)
      return findOrder(d_, i, kOrderText);
  }
  return -1;
}

int XmlNode::positionOfClear(const char* value) const
{
  for (int i = 0; d_ && value && i < d_->clearCount; i++) {
    if (d_->clears[i].value == value)
      return findOrder(d_, i, kOrderClear);
  }
  return -1;
}

// --- Building ---------------------------------------------------------------------------

XmlNode XmlNode::createTopNode(const char* name, bool isDeclaration)
{
  XmlNodeRecord* r = newRecord(name, name ? strlen(name) : 0, isDeclaration);
  XmlNode node(r);
  return node;
}

XmlNode XmlNode::addChild(const char* name, bool isDeclaration, int position)
{
  if (!d_)
    return XmlNode();
  XmlNodeRecord* c = newRecord(name, name ? strlen(name) : 0, isDeclaration);
  int index = insertOrder(d_, kOrderChild, d_->childCount, position);
  insertAt(d_->children, d_->childCap, d_->childCount, index, c);
  d_->childCount++;
  c->parent = d_;
  c->referenceCount = 1;
  return XmlNode(c);
}

XmlNode XmlNode::addChild(const XmlNode& node, int position)
{
  if (!d_ || !node.d_ || node.d_->parent)
    return XmlNode();
  // A node may not become its own descendant.
  for (XmlNodeRecord* a = d_; a; a = a->parent) {
    if (a == node.d_)
      return XmlNode();
  }
  int index = insertOrder(d_, kOrderChild, d_->childCount, position);
  insertAt(d_->children, d_->childCap, d_->childCount, index, node.d_);
  d_->childCount++;
  node.d_->parent = d_;
  retainRecord(node.d_);
  return node;
}

const XmlAttribute* XmlNode::addAttribute(const char* name, const char* value)
{
  if (!d_ || !name)
    return nullptr;
  appendAttribute(d_, xmlStrDup(name), xmlStrDup(value));
  return &d_->attributes[d_->attributeCount - 1];
}

const char* XmlNode::addText(const char* text, int position)
{
  if (!d_ || !text)
    return nullptr;
  char* t = xmlStrDup(text);
  int index = insertOrder(d_, kOrderText, d_->textCount, position);
  insertAt(d_->texts, d_->textCap, d_->textCount, index, t);
  d_->textCount++;
  return t;
}

const XmlClear* XmlNode::addClear(const char* value, const char* openTag, const char* closeTag,
                                  int position)
{
  if (!d_ || !value)
    return nullptr;
  XmlClear c{xmlStrDup(value), openTag ? openTag : kXmlCdataOpen,
             closeTag ? closeTag : kXmlCdataClose};
  int index = insertOrder(d_, kOrderClear, d_->clearCount, position);
  insertAt(d_->clears, d_->clearCap, d_->clearCount, index, c);
  d_->clearCount++;
  return &d_->clears[index];
}

// --- Updating ---------------------------------------------------------------------------

const char* XmlNode::updateName(const char* name)
{
  if (!d_ || !name)
    return nullptr;
  char* n = xmlStrDup(name);
  free(d_->name);
  d_->name = n;
  return n;
}

const XmlAttribute* XmlNode::updateAttribute(int i, const char* newName, const char* newValue)
{
  if (!d_ || i < 0 || i >= d_->attributeCount)
    return nullptr;
  XmlAttribute& a = d_->attributes[i];
  if (newName) {
    char* n = xmlStrDup(newName);
    free(const_cast<char*>(a.name));
    a.name = n;
  }
  char* v = xmlStrDup(newValue);
  free(const_cast<char*>(a.value));
  a.value = v;
  return &a;
}

const XmlAttribute* XmlNode::updateAttribute(const char* name, const char* newName,
                                             const char* newValue)
{
  for (int j = 0; d_ && j < d_->attributeCount; j++) {
    if (sameNoCase(d_->attributes[j].name, name))
      return updateAttribute(j, newName, newValue);
  }
  return addAttribute(newName ? newName : name, newValue);
}

const XmlAttribute* XmlNode::updateAttribute(const XmlAttribute* old, const char* newName,
                                             const char* newValue)
{
  if (!d_ || !old)
    return nullptr;
  for (int j = 0; j < d_->attributeCount; j++) {
    if (&d_->attributes[j] == old || d_->attributes[j].name == old->name)
      return updateAttribute(j, newName, newValue);
  }
  return nullptr;
}

const char* XmlNode::updateText(const char* text, int i)
{
  if (!d_ || !text || i < 0)
    return nullptr;
  if (i >= d_->textCount)
    return addText(text);
  char* t = xmlStrDup(text);
  free(d_->texts[i]);
  d_->texts[i] = t;
  return t;
}

const char* XmlNode::updateText(const char* oldText, const char* newText)
{
  for (int i = 0; d_ && oldText && i < d_->textCount; i++) {
    if (d_->texts[i] == oldText)
      return updateText(newText, i);
  }
  return nullptr;
}

const XmlClear* XmlNode::updateClear(const char* value, int i)
{
  if (!d_ || !value || i < 0)
    return nullptr;
  if (i >= d_->clearCount)
    return addClear(value);
  char* v = xmlStrDup(value);
  free(const_cast<char*>(d_->clears[i].value));
  d_->clears[i].value = v;
  return &d_->clears[i];
}

const XmlClear* XmlNode::updateClear(const XmlClear* old, const char* value)
{
  for (int i = 0; d_ && old && i < d_->clearCount; i++) {
    if (&d_->clears[i] == old || d_->clears[i].value == old->value)
      return updateClear(value, i);
  }
  return nullptr;
}

// --- Deleting ---------------------------------------------------------------------------

void XmlNode::deleteAttribute(int i)
{
  if (!d_ || i < 0 || i >= d_->attributeCount)
    return;
  free(const_cast<char*>(d_->attributes[i].name));
  free(const_cast<char*>(d_->attributes[i].value));
  removeAt(d_->attributes, d_->attributeCount, i);
  d_->attributeCount--;
}

void XmlNode::deleteAttribute(const char* name)
{
  for (int j = 0; d_ && j < d_->attributeCount; j++) {
    if (sameNoCase(d_->attributes[j].name, name))
      return deleteAttribute(j);
  }
}

void XmlNode::deleteAttribute(const XmlAttribute* attribute)
{
  for (int j = 0; d_ && attribute && j < d_->attributeCount; j++) {
    if (&d_->attributes[j] == attribute || d_->attributes[j].name == attribute->name)
      return deleteAttribute(j);
  }
}

void XmlNode::deleteText(int i)
{
  if (!d_ || i < 0 || i >= d_->textCount)
    return;
  free(d_->texts[i]);
  removeOrder(d_, kOrderText, i);
  removeAt(d_->texts, d_->textCount, i);
  d_->textCount--;
}

void XmlNode::deleteText(const char* text)
{
  for (int i = 0; d_ && text && i < d_->textCount; i++) {
    if (d_->texts[i] == text)
      return deleteText(i);
  }
}

void XmlNode::deleteClear(int i)
{
  if (!d_ || i < 0 || i >= d_->clearCount)
    return;
  free(const_cast<char*>(d_->clears[i].value));
  removeOrder(d_, kOrderClear, i);
  removeAt(d_->clears, d_->clearCount, i);
  d_->clearCount--;
}

void XmlNode::deleteClear(const char* value)
{
  for (int i = 0; d_ && value && i < d_->clearCount; i++) {
    if (d_->clears[i].value == value)
      return deleteClear(i);
  }
}

void XmlNode::deleteNodeContent()
{
  if (!d_ || !d_->parent)
    return;
  XmlNodeRecord* p = d_->parent;
  for (int i = 0; i < p->childCount; i++) {
    if (p->children[i] != d_)
      continue;
    removeOrder(p, kOrderChild, i);
    removeAt(p->children, p->childCount, i);
    p->childCount--;
    break;
  }
  d_->parent = nullptr;
  releaseRecord(d_); // the parent's link; this handle still holds one
}

XmlNode XmlNode::deepCopy() const
{
  if (!d_)
    return XmlNode();
  XmlNodeRecord* top = copyShallow(d_);
  XmlNode result(top);
  // Pairs still to fill in, so deep trees need no recursion.
  std::vector<std::pair<const XmlNodeRecord*, XmlNodeRecord*>> work{{d_, top}};
  while (!work.empty()) {
    auto [s, d] = work.back();
    work.pop_back();
    for (int i = 0; i < s->childCount; i++) {
      XmlNodeRecord* c = copyShallow(s->children[i]);
      c->parent = d;
      c->referenceCount = 1;
      d->children[d->childCount++] = c;
      work.emplace_back(s->children[i], c);
    }
  }
  return result;
}

} // namespace xml
