// The node record behind XmlNode and the allocation helpers the library's
// files share. Private to the library.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "3rdparty/xml/Xml.h"

namespace xml {

// Document-order entries: (index << 2) | kind.
enum : int { kOrderChild = 0, kOrderText = 2, kOrderClear = 3 };

struct XmlNodeRecord {
  char* name;
  int childCount, textCount, clearCount, attributeCount;
  unsigned char isDeclaration;
  XmlNodeRecord* parent;       // borrowed; cleared when the parent goes first
  XmlNodeRecord** children;    // each holds one reference
  char** texts;
  XmlClear* clears;            // values owned, tags static
  XmlAttribute* attributes;    // names and values owned
  int* order;
  int referenceCount;
  // Allocated sizes of the arrays above.
  int childCap, textCap, clearCap, attributeCap, orderCap;

  int orderCount() const { return childCount + textCount + clearCount; }
};

// Fatal on exhaustion: the tree cannot be kept consistent without memory.
void* xmlAlloc(size_t n);
void* xmlRealloc(void* p, size_t n);
char* xmlStrDup(const char* s, size_t n);

// Grows an array kept by the record to hold at least need elements.
template <typename T> void growTo(T*& array, int& cap, int need)
{
  if (need <= cap)
    return;
  int n = cap < 8 ? 8 : cap * 2;
  if (n < need)
    n = need;
  array = static_cast<T*>(xmlRealloc(array, size_t(n) * sizeof(T)));
  cap = n;
}

// A fresh record without parent and with no references yet.
XmlNodeRecord* newRecord(const char* name, size_t nameLength, bool isDeclaration);
void retainRecord(XmlNodeRecord* r);
// Frees the record when the count reaches zero, and with it every child
// that no other handle holds; iterative, however deep the tree.
void releaseRecord(XmlNodeRecord* r);
// Shrinks the arrays to their sizes.
void shrinkRecord(XmlNodeRecord* r);

// Appends to the typed array and to the document order, growing both; the
// pointers are owned from then on (a child gets its parent set and keeps
// the reference it comes with).
void appendChild(XmlNodeRecord* r, XmlNodeRecord* child);
void appendText(XmlNodeRecord* r, char* text);
void appendClear(XmlNodeRecord* r, char* value, const char* openTag, const char* closeTag);
void appendAttribute(XmlNodeRecord* r, char* name, char* value);

// The byte length of the character starting with each byte, for the
// current global encoding.
const unsigned char* charLengthTable();

inline char* xmlStrDup(const char* s)
{
  return s ? xmlStrDup(s, __builtin_strlen(s)) : nullptr;
}

} // namespace xml
