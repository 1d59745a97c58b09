#include "tlutil/ConfigFile.h"

#include <errno.h>
#include <string.h>

#include <vector>

#include "plat/Log.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/FileInStream.h"
#include "rdr/FileOutStream.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace plat {

namespace {

LogSrc vlog("FileConfig");

// What the C library's isspace accepts in the "C" locale; fixed so that a
// file reads the same under every locale.
bool isBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void appendEscaped(DString& out, const char* s)
{
  const char* run = s;
  for (; *s; s++) {
    const char* esc = *s == '\r' ? "\\r" : *s == '\n' ? "\\n" : *s == '\\' ? "\\\\" : nullptr;
    if (!esc)
      continue;
    out.append(run, (int)(s - run));
    out.append(esc);
    run = s + 1;
  }
  out.append(run);
}

// The line that writes name and value, after checking that the reader gives
// both back unchanged.
DString buildCheckedLine(const char* name, const char* value)
{
  if (!name)
    name = "";
  if (!isValidUtf8(name))
    throw Exception("A configuration name is not valid UTF-8");
  if (value && !isValidUtf8(value))
    throw Exception(0, "The value of %s is not valid UTF-8", name);
  DString line;
  appendEscaped(line, name);
  if (value) {
    line.append("=");
    appendEscaped(line, value);
  }
  if (line.length() > kMaxConfigLine)
    throw Exception(0, "The configuration line of %s is longer than %d bytes", name,
                    kMaxConfigLine);

  String readBack(line.get());
  unescapeConfigLine(readBack.data());
  char* eq = strchr(readBack.data(), '=');
  if (eq)
    *eq = 0;
  if (strcmp(readBack.get(), name) == 0 && (eq != nullptr) == (value != nullptr) &&
      (!value || strcmp(eq + 1, value) == 0))
    return line;

  if (strchr(name, '='))
    throw Exception(0, "The configuration name \"%s\" contains \"=\"", name);
  if (isBlank(name[0]))
    throw Exception(0, "The configuration name \"%s\" begins with a blank, which reading drops",
                    name);
  const char* last = value ? value : name;
  if (*last && isBlank(last[strlen(last) - 1])) {
    if (value)
      throw Exception(0, "The value of %s ends with a blank, which reading drops", name);
    throw Exception(0, "The configuration name \"%s\" ends with a blank, which reading drops",
                    name);
  }
  throw Exception(0, "The configuration entry %s would not read back unchanged", name);
}

// False when the file is missing; other failures to open it are thrown.
bool openIfExists(rdr::FileInStream& in, const char* path)
{
  try {
    in.open(path);
    return true;
  } catch (Exception& e) {
    if (isMissingFileError(e))
      return false;
    throw;
  }
}

bool readMapIfExists(const char* path, CaseInsensitiveStringMap& out, const ConfigAliasMap* aliases)
{
  rdr::FileInStream in;
  if (!openIfExists(in, path))
    return false;
  readConfigLines(in, out, aliases);
  return true;
}

} // namespace

// --- Lines

void unescapeConfigLine(char* line)
{
  if (!line)
    return;
  const char* r = line;
  while (*r && isBlank(*r))
    r++;
  char* w = line;
  // Just after the last character that trimming keeps.
  char* keep = line;
  while (*r) {
    if (r[0] == '\\' && r[1]) {
      char c = r[1];
      if (c == 'r') {
        *w++ = '\r';
      } else if (c == 'n') {
        *w++ = '\n';
      } else if (c == '\\') {
        *w++ = '\\';
      } else {
        *w++ = '\\';
        *w++ = c;
      }
      r += 2;
      keep = w;
    } else {
      char c = *r++;
      *w++ = c;
      if (!isBlank(c))
        keep = w;
    }
  }
  *keep = 0;
}

namespace {

// readConfigLine for the line numbered lineNo. A NUL byte would cut the line
// where C strings end ("n\0x=1" would read as the bare name "n"), so such a
// line is refused whole.
char* readNumberedLine(rdr::InStream& in, DString& line, int lineNo)
{
  bool sawNul = false;
  in.readLine(line, kMaxConfigLine, &sawNul, true);
  if (sawNul) {
    line.clear();
    if (lineNo > 0)
      throw Exception(0, "Configuration line %d holds a NUL byte", lineNo);
    throw Exception("Configuration line holds a NUL byte");
  }
  char* s = line.data();
  if (!s)
    return nullptr;
  unescapeConfigLine(s);
  char* eq = strchr(s, '=');
  if (!eq)
    return nullptr;
  *eq = 0;
  return eq + 1;
}

// Calls fn(name, value) for each line up to the end of the stream; value is
// null for a line without "=".
template <typename Fn> void forEachConfigLine(rdr::InStream& in, Fn fn)
{
  DString line;
  for (int lineNo = 1;; lineNo++) {
    const char* value;
    try {
      value = readNumberedLine(in, line, lineNo);
    } catch (rdr::EndOfStream&) {
      return;
    }
    fn(line.get(), value);
  }
}

} // namespace

char* readConfigLine(rdr::InStream& in, DString& line)
{
  return readNumberedLine(in, line, 0);
}

void readConfigLines(rdr::InStream& in, CaseInsensitiveStringMap& out,
                     const ConfigAliasMap* aliases)
{
  forEachConfigLine(in, [&](const char* lineName, const char* value) {
    String name(lineName);
    if (aliases) {
      auto alias = aliases->find(name);
      // A refused alias keeps its line, so a rewrite loses nothing.
      if (alias != aliases->end() && alias->second->expand(name.get(), value, out))
        return;
    }
    String& entry = out[name];
    if (entry != String(value))
      entry = String(value);
  });
}

void applyConfigLines(rdr::InStream& in, Configuration& cfg, int priority)
{
  forEachConfigLine(in, [&](const char* name, const char* value) {
    try {
      cfg.set(name, value, priority);
    } catch (Exception&) {
      // A value a parameter refuses is ignored, like an unknown name.
    }
  });
}

void checkConfigEntry(const char* name, const char* value)
{
  buildCheckedLine(name, value);
}

void writeConfigLine(rdr::OutStream& out, const char* name, const char* value)
{
  DString line = buildCheckedLine(name, value);
  line.append("\n");
  out.writeBytes(line.get(), line.length());
}

void writeConfigLines(rdr::OutStream& out, const CaseInsensitiveStringMap& values)
{
  std::vector<DString> lines;
  lines.reserve(values.size());
  for (const auto& entry : values)
    lines.push_back(buildCheckedLine(entry.first.get(), entry.second.get()));
  for (DString& line : lines) {
    out.writeBytes(line.get(), line.length());
    out.writeU8('\n');
  }
}

void writeEscapedValue(rdr::OutStream& out, const char* value)
{
  DString text;
  appendEscaped(text, value ? value : "");
  out.writeBytes(text.get(), text.length());
}

String escapeConfigValue(const char* value)
{
  DString text;
  appendEscaped(text, value ? value : "");
  return String(text.get());
}

bool collectChanges(const Configuration& current, const Configuration& reference,
                    CaseInsensitiveStringMap& out)
{
  bool changed = false;
  for (Configuration::ParamIterator it(current, true); it; it.next()) {
    ConfigParameter* ref = reference.find(it->getName(), true);
    if (!ref)
      continue;
    String text = it->getValueStr();
    if (text == ref->getValueStr())
      continue;
    String& entry = out[String(it->getName())];
    if (entry != text) {
      entry = text;
      changed = true;
    }
  }
  return changed;
}

// --- Files

bool isMissingFileError(const Exception& e)
{
  auto* sys = dynamic_cast<const SystemException*>(&e);
  return sys && (sys->getErr() == ENOENT || sys->getErr() == ENOTDIR);
}

namespace {

// Opens path and applies its lines at priority; with missingOk a missing
// file (or folder on the way) gives false instead of its system exception.
bool applyConfigFile(Configuration& cfg, const char* path, int priority, bool missingOk)
{
  vlog.debug("Looking for %s config in %s", cfg.getName(), path);
  rdr::FileInStream in(path, FilePtr::kNoThrow);
  if (!in.getFile().get()) {
    const int err = errno;
    if (missingOk && (err == ENOENT || err == ENOTDIR))
      return false;
    throw SystemExceptionFmt(err, "Error opening \"%s\"", path);
  }
  vlog.info("Reading %s config from %s", cfg.getName(), path);
  applyConfigLines(in, cfg, priority);
  return true;
}

} // namespace

void readConfigFile(Configuration& cfg, const char* path, int priority)
{
  applyConfigFile(cfg, path, priority, false);
}

bool readConfigFileIfExists(Configuration& cfg, const char* path, int priority)
{
  // Missing files are the usual case: no exception for them.
  return applyConfigFile(cfg, path, priority, true);
}

void readConfigFileToMap(const char* path, CaseInsensitiveStringMap& out,
                         const ConfigAliasMap* aliases)
{
  rdr::FileInStream in(path);
  readConfigLines(in, out, aliases);
}

void writeConfigFile(const char* path, const CaseInsensitiveStringMap& values, int flags)
{
  rdr::TransactedFileOutStream out(path, flags);
  writeConfigLines(out, values);
  out.commit();
}

void updateConfigFile(const char* path, const char* name, const char* value, int flags)
{
  CaseInsensitiveStringMap values;
  readMapIfExists(path, values, nullptr);
  values[String(name)] = String(value);
  writeConfigFile(path, values, flags);
}

void removeConfigValue(const char* path, const char* name, int flags)
{
  CaseInsensitiveStringMap values;
  if (!readMapIfExists(path, values, nullptr))
    return;
  values.erase(String(name));
  writeConfigFile(path, values, flags);
}

void saveConfigChanges(Configuration& cfg, const char* path, Configuration& reference, int flags)
{
  CaseInsensitiveStringMap values;
  readMapIfExists(path, values, nullptr);
  // Aliases of the children too, keeping a target the file names itself.
  MapNameValueStore store(values);
  cfg.migrateAliases(store);
  if (!collectChanges(cfg, reference, values))
    return;
  writeConfigFile(path, values, flags);
}

// --- MapNameValueStore

bool MapNameValueStore::get(const char* name, String& value)
{
  auto it = map_.find(String(name));
  if (it == map_.end())
    return false;
  value = it->second;
  return true;
}

void MapNameValueStore::set(const char* name, const char* value)
{
  map_[String(name)] = String(value);
}

void MapNameValueStore::remove(const char* name)
{
  map_.erase(String(name));
}

} // namespace plat
