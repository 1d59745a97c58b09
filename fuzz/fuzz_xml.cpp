// The XML parser on arbitrary bytes under both whitespace and comment
// settings and in UTF-8 and a multi-byte encoding: a parse either fails
// with an error code and a position, or gives a tree that copies and
// writes. For valid UTF-8 the written text is a document again, and from
// there on writing and parsing reach a fixed point. (A lead byte that
// swallows the markup after it makes the other inputs' trees write text
// that reads differently.)
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "3rdparty/xml/Xml.h"
#include "plat/utf8.h"

using namespace xml;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

std::string write(const XmlNode& n, bool formatted)
{
  char* s = n.createXmlString(formatted);
  std::string out(s);
  freeXmlString(s);
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  const char* text = reinterpret_cast<const char*>(data);
  bool valid = plat::isValidUtf8(text, text + size);
  for (int mode = 0; mode < 4; mode++) {
    int encoding = mode == 3 ? kXmlEncodingShiftJis : kXmlEncodingUtf8;
    setGlobalOptions(encoding, true, mode & 1, mode & 2);
    XmlResults r;
    XmlNode n = XmlNode::parseBuffer(text, size, mode == 1 ? "a" : nullptr, &r);
    check(errorText(r.error)[0] != 'U');
    if (r.error > kXmlWarnNoTag || r.error == kXmlFirstTagNotFound) {
      check(n.isEmpty());
      check(r.line >= 1 && r.column >= 1);
      continue;
    }
    // The writer's text is a document of its own: parsed again (comments
    // kept, since removing them may join texts) it is written the same.
    setGlobalOptions(encoding, true, mode & 1, false);
    std::string once = write(n, true);
    check(write(n.deepCopy(), true) == once);
    if (!valid || encoding != kXmlEncodingUtf8)
      continue;
    XmlNode again = XmlNode::parseString(once.c_str(), nullptr, &r);
    if (!n.name() && n.childCount() == 0)
      continue; // no element: text alone is not a document
    check(r.error == kXmlNoError);
    std::string twice = write(again, true);
    XmlNode third = XmlNode::parseString(twice.c_str(), nullptr, &r);
    check(write(third, true) == twice);
  }
  setGlobalOptions();
  return 0;
}
