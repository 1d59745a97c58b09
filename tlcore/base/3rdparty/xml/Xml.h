// A small non-validating XML library: parses a whole document held in
// memory into a tree of reference-counted nodes, walks, queries and edits
// the tree, and writes it back to text or to a file.
//
// XmlNode is a handle: copies share the node record, and the last handle
// (or parent link) frees it. A handle without a record is the empty node;
// every query on it returns nothing and every edit does nothing. A parent
// owns its children; a child's parent pointer is borrowed and is cleared
// when the parent goes away first.
//
// The library works on bytes of one document encoding at a time (UTF-8 by
// default) and knows nothing of namespaces, DTDs or validation: a DOCTYPE
// is kept verbatim and nothing is ever expanded. Errors are returned as
// codes, never thrown. Elements nest at most kXmlMaxDepth levels when
// parsed; freeing, copying and writing use no recursion, so trees built
// in code may be deeper.
//
// The global options are plain process-wide variables read throughout
// parsing and writing, and reference counts are not atomic: parse, edit and
// write on one thread (the user-interface thread in this program).
#pragma once

#include <stddef.h>

namespace xml {

// --- Errors ------------------------------------------------------------------

// Codes 1 and 2 are warnings: a tree is still returned, repaired.
enum XmlError : int {
  kXmlNoError = 0,
  kXmlWarnUnmatchedEndTag = 1,
  kXmlWarnNoTag = 2,
  kXmlNoData = 3,
  kXmlMissingTagName = 4,
  kXmlMissingEndTagName = 5,
  kXmlUnmatchedEndTag = 6,
  kXmlUnmatchedClearTag = 7,
  kXmlUnexpectedToken = 8,
  kXmlNoElements = 9,
  kXmlFileNotFound = 10,
  kXmlFirstTagNotFound = 11,
  kXmlUnknownEntity = 12,
  kXmlCharCodeAbove255 = 13,
  kXmlWideCharConversion = 14,
  kXmlCannotOpenForWriting = 15,
  kXmlCannotWrite = 16,
  kXmlBase64DataSize = 17,
  kXmlBase64BadChar = 18,
  kXmlBase64Truncated = 19,
  kXmlBase64BufferTooSmall = 20,
  // Elements nested deeper than kXmlMaxDepth.
  kXmlTooDeep = 21,
  // A numeric character reference to 0, a surrogate or beyond U+10FFFF.
  kXmlBadCharRef = 22,
};

constexpr int kXmlMaxDepth = 512;

inline bool isXmlWarning(int code)
{
  return code == kXmlWarnUnmatchedEndTag || code == kXmlWarnNoTag;
}

// The code's text ("Unknown" for codes it does not know); never null.
const char* errorText(int code);
// "v2.43".
const char* versionText();

// What a parse reports; line and column count from 1 and point at the
// failure (or at the first warning when the parse succeeded).
struct XmlResults {
  XmlError error = kXmlNoError;
  int line = 0;
  int column = 0;
};

// --- Global options ------------------------------------------------------------

enum XmlEncoding : int {
  kXmlEncodingUnknown = 0, // only as a guess
  kXmlEncodingUtf8 = 1,
  kXmlEncodingLegacy = 2, // single-byte
  kXmlEncodingShiftJis = 3,
  kXmlEncodingGb2312 = 4,
  kXmlEncodingBig5 = 5,
  kXmlEncodingGbk = 6,
};

// Stores the three flags; an encoding outside 1..6 leaves the encoding as
// it is and returns true (failure), else selects it and returns false.
// Defaults: UTF-8, byte-order-mark flag on, whitespace-only text dropped
// (and text trimmed), comments in the middle of text removed.
bool setGlobalOptions(int encoding = kXmlEncodingUtf8, bool byteOrderMarkFlag = true,
                      bool dropWhitespace = true, bool removeComments = true);
XmlEncoding getEncoding();
bool getDropWhitespace();
bool getRemoveComments();

// The encoding of a document from its bytes and, with useDeclaration, the
// encoding name of its declaration; kXmlEncodingUnknown below 25 bytes.
XmlEncoding guessEncoding(const void* buffer, size_t length, bool useDeclaration = true);

// --- Node contents -------------------------------------------------------------

struct XmlAttribute {
  const char* name = nullptr;
  const char* value = nullptr; // null for an attribute written without a value
};

// A section kept verbatim; the tags point into the static clear-tag table
// ("<![CDATA[" "]]>", "<!DOCTYPE" ">", "<!--" "-->", "<PRE>" "</PRE>").
struct XmlClear {
  const char* value = nullptr;
  const char* openTag = nullptr;
  const char* closeTag = nullptr;
};

// Clear-tag table entries, for addClear.
extern const char* const kXmlCdataOpen;
extern const char* const kXmlCdataClose;
extern const char* const kXmlDoctypeOpen;
extern const char* const kXmlDoctypeClose;
extern const char* const kXmlCommentOpen;
extern const char* const kXmlCommentClose;
extern const char* const kXmlPreOpen;
extern const char* const kXmlPreClose;

enum XmlContentKind : int {
  kXmlContentElement = 0,
  kXmlContentAttribute = 1,
  kXmlContentText = 2,
  kXmlContentClear = 3,
  kXmlContentNone = 4,
};

struct XmlNodeRecord; // private to the library

class XmlNode;

// One entry of XmlNode::enumContents; only the member that kind names is set.
struct XmlNodeContents;

class XmlNode {
public:
  XmlNode() = default;
  XmlNode(const XmlNode& other);
  XmlNode(XmlNode&& other) noexcept : d_(other.d_) { other.d_ = nullptr; }
  XmlNode& operator=(const XmlNode& other);
  XmlNode& operator=(XmlNode&& other) noexcept;
  ~XmlNode();

  // --- Parsing (tag: the element wanted, compared without case; may be null)
  static XmlNode parseString(const char* text, const char* tag = nullptr,
                             XmlResults* results = nullptr);
  // parseString with an explicit length (the text need not end with NUL;
  // a NUL inside it ends the document).
  static XmlNode parseBuffer(const char* text, size_t length, const char* tag = nullptr,
                             XmlResults* results = nullptr);
  // Reads the whole file and skips a leading byte-order mark.
  static XmlNode parseFile(const char* path, const char* tag = nullptr,
                           XmlResults* results = nullptr);
  // For tool-style programs: guesses the file's encoding and makes it the
  // global one, then parseFile. On an error prints "XML Parsing error
  // inside file ..." to standard output and returns the empty node with the
  // error in results.
  static XmlNode openFile(const char* path, const char* tag = nullptr,
                          XmlResults* results = nullptr);

  // --- The record's fields
  bool isEmpty() const { return d_ == nullptr; }
  const char* name() const;
  bool isDeclaration() const;
  XmlNode parent() const;

  // --- Sizes
  int childCount() const;
  // Children with that name (without case).
  int childCount(const char* name) const;
  int textCount() const;
  int clearCount() const;
  int attributeCount() const;
  // children + attributes + texts + clears: what enumContents yields.
  int contentCount() const;

  // --- Children (0-based; out of range gives the empty node)
  XmlNode child(int i) const;
  XmlNode child(const char* name, int i = 0) const;
  // The next child with that name after *position (-1 to start), which is
  // advanced to it.
  XmlNode child(const char* name, int* position) const;
  // The next child of that name holding attribute attrName (with the value
  // attrValue when that is not null).
  XmlNode childWithAttribute(const char* name, const char* attrName,
                             const char* attrValue = nullptr, int* position = nullptr) const;

  // --- Texts, clears and attributes (out of range gives null / empty)
  const char* text(int i = 0) const;
  XmlClear clear(int i = 0) const;
  XmlAttribute attribute(int i) const;
  // The value of the next attribute with that name (without case) after
  // *position (-1 or null to start); null when absent.
  const char* attribute(const char* name, int* position = nullptr) const;
  bool hasAttribute(const char* name) const;

  // --- Document order
  // Attributes first, in order, then children, texts and clears in
  // document order; kind kXmlContentNone past the end.
  XmlNodeContents enumContents(int i) const;
  // The index of the item in document order, -1 when it is not here.
  int positionOf(const XmlNode& child) const;
  int positionOfText(const char* text) const;
  int positionOfClear(const char* clearValue) const;

  // --- Building (names and values are copied; position -1 appends, else
  // inserts at that document-order position)
  static XmlNode createTopNode(const char* name, bool isDeclaration = false);
  XmlNode addChild(const char* name, bool isDeclaration = false, int position = -1);
  // Adopts a node that has no parent (a top node or a deep copy); a node
  // that already has one, or one through which this node is reached, is
  // refused (empty result).
  XmlNode addChild(const XmlNode& node, int position = -1);
  const XmlAttribute* addAttribute(const char* name, const char* value);
  const char* addText(const char* text, int position = -1);
  const XmlClear* addClear(const char* value, const char* openTag = kXmlCdataOpen,
                           const char* closeTag = kXmlCdataClose, int position = -1);

  // --- Updating in place (null when there is nothing to update)
  const char* updateName(const char* name);
  const XmlAttribute* updateAttribute(int i, const char* newName, const char* newValue);
  // Adds the attribute when there is none of that name.
  const XmlAttribute* updateAttribute(const char* name, const char* newName,
                                      const char* newValue);
  const XmlAttribute* updateAttribute(const XmlAttribute* old, const char* newName,
                                      const char* newValue);
  // At or past the end appends.
  const char* updateText(const char* text, int i = 0);
  const char* updateText(const char* oldText, const char* newText);
  const XmlClear* updateClear(const char* value, int i = 0);
  const XmlClear* updateClear(const XmlClear* old, const char* value);

  // --- Deleting (the gap closes; document order is kept)
  void deleteAttribute(int i);
  void deleteAttribute(const char* name);
  void deleteAttribute(const XmlAttribute* attribute);
  void deleteText(int i);
  void deleteText(const char* text);
  void deleteClear(int i);
  void deleteClear(const char* clearValue);
  // Detaches the node from its parent; the subtree goes when the last
  // handle does.
  void deleteNodeContent();

  XmlNode deepCopy() const;

  // --- Writing
  // The document text (free it with freeXmlString); formatted output (tabs
  // and line feeds) only when the global drop-whitespace option is on. The
  // empty node gives an empty text.
  char* createXmlString(bool formatted = true, int* length = nullptr) const;
  // 0, kXmlCannotOpenForWriting or kXmlCannotWrite. encodingName names the
  // encoding in the declaration written when the tree has none (null for
  // "ISO-8859-1"; UTF-8 and Shift-JIS always name themselves).
  XmlError writeToFile(const char* path, const char* encodingName = nullptr,
                       bool formatted = true) const;

  bool operator==(const XmlNode& other) const { return d_ == other.d_; }
  bool operator!=(const XmlNode& other) const { return d_ != other.d_; }

private:
  friend struct XmlNodeRecord;
  friend class XmlParser;
  explicit XmlNode(XmlNodeRecord* d); // takes a reference
  XmlNodeRecord* d_ = nullptr;
};

struct XmlNodeContents {
  XmlContentKind kind = kXmlContentNone;
  XmlNode child;
  XmlAttribute attribute;
  const char* text = nullptr;
  XmlClear clear;
};

// Frees what createXmlString returned.
void freeXmlString(char* s);

// --- Escaping ------------------------------------------------------------------

// Escapes text for XML: '&', '<', '>', '"' and the apostrophe become the
// five entities, after invalid UTF-8 has been repaired with U+FFFD. The
// result lives in this object's buffer until the next call or freeBuffer.
class XmlEscaper {
public:
  XmlEscaper() = default;
  XmlEscaper(const XmlEscaper&) = delete;
  XmlEscaper& operator=(const XmlEscaper&) = delete;
  ~XmlEscaper() { freeBuffer(); }

  // Null gives "".
  const char* toXmlString(const char* text);
  void freeBuffer();

  // The escaped length of the n bytes at text (no repair), and the
  // escaping itself into out (which must hold that many bytes).
  static size_t escapedLength(const char* text, size_t n);
  static char* escapeInto(char* out, const char* text, size_t n);

private:
  char* buf_ = nullptr;
  size_t size_ = 0;
};

// --- Base64 ----------------------------------------------------------------------

// Base64 for byte content in XML. Results live in this object's buffer
// until the next call or freeBuffer.
class XmlBase64 {
public:
  XmlBase64() = default;
  XmlBase64(const XmlBase64&) = delete;
  XmlBase64& operator=(const XmlBase64&) = delete;
  ~XmlBase64() { freeBuffer(); }

  // Bytes encode needs, the NUL included; formatted adds one LF per 54
  // input bytes.
  static int encodeLength(int n, bool formatted = false);
  // Standard alphabet with '=' padding; formatted puts a LF after every 18
  // complete groups of four characters (72 characters).
  const char* encode(const unsigned char* bytes, int n, bool formatted = false);

  // Decoded size; tab, LF, CR and space are skipped. Sets kXmlBase64BadChar
  // (and returns 0) or the warning kXmlBase64DataSize.
  static int decodeLength(const char* text, XmlError* error = nullptr);
  // False on kXmlBase64BadChar, kXmlBase64Truncated or
  // kXmlBase64BufferTooSmall; *written (may be null) gets the bytes stored.
  static bool decode(const char* text, unsigned char* out, int outSize, XmlError* error = nullptr,
                     int* written = nullptr);
  // Into this object's buffer; null on failure.
  const unsigned char* decode(const char* text, int* outLength, XmlError* error = nullptr);

  void freeBuffer();

private:
  void* buf_ = nullptr;
  size_t size_ = 0;
  void* reserve(size_t n);
};

} // namespace xml
