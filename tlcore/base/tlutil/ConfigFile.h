// The "name=value" line format of configuration files, and the functions
// that read, apply, rewrite and update such files.
//
// One entry a line: blanks around the line are dropped, "\r", "\n" and
// "\\" are escapes, the first "=" splits name from value, and a line
// without "=" is a bare name (a null value, which a bool takes as true).
// Writers refuse an entry that the reader would not give back unchanged,
// so a rewrite never loses or garbles a value. Whole-file writes go
// through a transacted file: the target changes only on a successful
// commit. Stateless; main thread only, like the configurations they fill.
#pragma once

#include <map>

#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/String.h"

#include "rdr/Forward.h"

namespace plat {

// Names compared without regard to case, a null name first; values may be
// null (a bare name).
using CaseInsensitiveStringMap = ParamValueMap;
using ConfigAliasMap = std::map<String, ParameterAlias*, StringCaseLess>;

// The longest line the reader accepts (bytes without the line feed).
constexpr int kMaxConfigLine = 262144;

// --- Lines
// One line, trimmed, unescaped and split: line holds the name and the
// result points at the value inside it (null for a bare name). The end of
// the stream throws rdr::EndOfStream; a line over kMaxConfigLine throws
// rdr::StringTooLongException; a line holding a NUL byte throws
// plat::Exception.
char* readConfigLine(rdr::InStream& in, DString& line);
// The trim-and-unescape step alone, in place.
void unescapeConfigLine(char* line);
// Every line to the end of the stream into out (a later line wins); a name
// that aliases holds is stored as its targets instead. A line holding a NUL
// byte throws "Configuration line %d holds a NUL byte"; the lines before it
// are kept, nothing of it or after it.
void readConfigLines(rdr::InStream& in, CaseInsensitiveStringMap& out,
                     const ConfigAliasMap* aliases);
// Every line to the end of the stream set in cfg at priority; lines that
// name no parameter or hold a bad value are ignored; a NUL byte throws as
// for readConfigLines.
void applyConfigLines(rdr::InStream& in, Configuration& cfg, int priority);

// Throws plat::Exception naming the problem when the entry could not be
// read back as it is: not valid UTF-8, a "=" in the name, a blank that
// trimming would drop, or a line longer than kMaxConfigLine.
void checkConfigEntry(const char* name, const char* value);
// All entries are checked before any is written.
void writeConfigLines(rdr::OutStream& out, const CaseInsensitiveStringMap& values);
void writeConfigLine(rdr::OutStream& out, const char* name, const char* value);
// CR, LF and backslash as "\r", "\n" and "\\". Names are escaped the same
// way, so that a name read from an escape (a comment line holding "\n",
// say) is written back as one line.
void writeEscapedValue(rdr::OutStream& out, const char* value);
String escapeConfigValue(const char* value);

// Sets out[name] to the current text of every parameter of current
// (recursively) that reference also has with another effective text; true
// when that added or changed an entry.
bool collectChanges(const Configuration& current, const Configuration& reference,
                    CaseInsensitiveStringMap& out);

// --- Files. "Missing" is a plat::SystemException with ENOENT or ENOTDIR
// from opening the file.
// Logs "Looking for" (debug) and "Reading" (info) on "FileConfig"; a
// missing file throws.
void readConfigFile(Configuration& cfg, const char* path, int priority);
// The same, but a missing file reads nothing and gives false.
bool readConfigFileIfExists(Configuration& cfg, const char* path, int priority);
// A missing file throws.
void readConfigFileToMap(const char* path, CaseInsensitiveStringMap& out,
                         const ConfigAliasMap* aliases);
// Replaces the file through a transacted file (flags as for it).
void writeConfigFile(const char* path, const CaseInsensitiveStringMap& values, int flags);
// Read (missing: empty), set name to value, rewrite.
void updateConfigFile(const char* path, const char* name, const char* value, int flags);
// Read, erase name in any case, rewrite; a missing file stays missing.
void removeConfigValue(const char* path, const char* name, int flags);
// Read (missing: empty) with cfg's aliases migrated to their targets, add
// collectChanges(cfg, reference); writes only when that changed something.
void saveConfigChanges(Configuration& cfg, const char* path, Configuration& reference, int flags);

// Whether e is the "missing" failure above.
bool isMissingFileError(const Exception& e);

// A NameValueStore over a map, for Configuration::migrateAliases.
class MapNameValueStore : public NameValueStore {
public:
  explicit MapNameValueStore(CaseInsensitiveStringMap& map) : map_(map) {}
  bool get(const char* name, String& value) override;
  void set(const char* name, const char* value) override;
  void remove(const char* name) override;

private:
  CaseInsensitiveStringMap& map_;
};

} // namespace plat
