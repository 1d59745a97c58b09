// XML descriptions of configuration parameters: every parameter of a
// configuration written out completely (type, name, description, flags,
// range, the value at each priority, the choices of an enumeration), and a
// set of run-time parameters built back from such a document.
//
// The document describes parameters; it is not a settings file. Loading
// creates new parameters owned by the target configuration. Main thread
// only, like the configurations themselves.
#pragma once

#include <stdio.h>

#include "3rdparty/xml/Xml.h"
#include "plat/Configuration.h"
#include "plat/Flags.h"
#include "rdr/TextWriter.h"

#include "rdr/Forward.h"

namespace plat {

// What XmlConfig::toXml writes besides the visible parameters: those whose
// names start with '_', and the description keys (locDesc attributes).
enum class XmlParts : unsigned { kNone = 0, kHiddenParams = 1, kLocDescKeys = 2 };
PLAT_FLAG_OPERATORS(XmlParts)

class XmlConfig {
public:
  XmlConfig() = delete;

  // Chooses the parameters written or read; false leaves one out.
  class Filter {
  public:
    virtual ~Filter() = default;
    virtual bool accept(const char* name, const char* typeName, bool advanced) = 0;
  };

  // Writes the header at construction; close writes the trailer. The
  // stream is borrowed.
  class Writer {
  public:
    Writer(rdr::OutStream& out, bool useLocDesc);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The parameters of cfg and the configurations below it, sorted by
    // name without regard to case; names starting with '_' only when
    // includeHidden.
    void writeParams(Configuration* cfg, bool includeHidden, Filter* filter = nullptr);
    void writeParam(ConfigParameter* param);
    void close();

  private:
    void writeEscaped(const char* text);

    rdr::TextWriter out_;
    bool useLocDesc_;
    xml::XmlEscaper escaper_;
  };

  // The whole document as a new[] text.
  static char* toXml(Configuration* cfg, XmlParts parts, Filter* filter = nullptr);

  // Replaces the parameters cfg owns with the ones the document describes.
  // The document is read completely before cfg is touched: any failure
  // throws (Exception "XML error %i:%i %s" for a document the XML layer
  // could not read as it stands, "Incompatible XML config" for one that
  // does not describe parameters) and leaves cfg as it was.
  static void load(Configuration& cfg, const char* xmlText, Filter* filter = nullptr);

  // The usage printer's writer for "-help xml": every visible parameter
  // with its description text.
  static void writeUsage(Configuration& config, FILE* out);
};

} // namespace plat
