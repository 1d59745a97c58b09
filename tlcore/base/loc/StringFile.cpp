#include <string.h>

#include "loc/LocPrivate.h"
#include "loc/Localize.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Resource.h"
#include "rdr/Exception.h"
#include "rdr/FileInStream.h"
#include "rdr/MemInStream.h"

namespace loc {

namespace {

enum State { kOutside, kKey, kText, kSkipping };

// Only plain names reach the file system: no separators, dots or digits.
bool isPlainLocaleName(const char* locale)
{
  if (!*locale)
    return false;
  for (const char* p = locale; *p; p++)
    if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || *p == '_'))
      return false;
  return true;
}

} // namespace

void parsePoString(const char* line, plat::DString& out)
{
  const char* p = line;
  while (*p == ' ')
    p++;
  if (*p != '"')
    throw plat::Exception("Junk preceding string data");
  p++;
  const char* run = p;
  for (;;) {
    if (*p == 0) {
      out.append(run, (int)(p - run));
      throw plat::Exception("Missing terminator");
    }
    if (*p == '"')
      break;
    if (*p != '\\') {
      p++;
      continue;
    }
    out.append(run, (int)(p - run));
    char c;
    switch (p[1]) {
    case 0:
      throw plat::Exception("Invalid escape at end");
    case '"': case '\'': case '?': case '\\': c = p[1]; break;
    case 'a': c = 7; break;
    case 'b': c = 8; break;
    case 'f': c = 12; break;
    case 'n': c = 10; break;
    case 'r': c = 13; break;
    case 't': c = 9; break;
    case 'v': c = 11; break;
    default:
      throw plat::Exception("Invalid escape code");
    }
    out.append(&c, 1);
    p += 2;
    run = p;
  }
  out.append(run, (int)(p - run));
  if (p[1] != 0)
    throw plat::Exception("Junk following string data");
}

void Localize::parseStrings(rdr::InStream& in, const char* name, const char* locale)
{
  plat::DString line, key, text;
  State state = kOutside;
  bool atEnd = false;

  auto store = [&] {
    // An empty msgstr means "not translated": the built-in text stays. The
    // header entry has an empty key and is never stored either.
    if (key.length() && text.length())
      setString(locale, key.get(), text.get());
    key.clear();
    text.clear();
  };
  auto startEntry = [&](const char* rest) {
    key.clear();
    text.clear();
    state = kKey;
    parsePoString(rest, key);
  };

  for (int lineNo = 1; !atEnd; lineNo++) {
    try {
      if (!in.readLine(line, 0, nullptr, true))
        logSrc.error("%s:%d Bad UTF-8 (%s) for '%s' locale", name, lineNo, key.get(), locale);
    } catch (rdr::EndOfStream&) {
      line.clear();
      atEnd = true;
    } catch (rdr::EndOfMsg&) {
      line.clear();
      atEnd = true;
    }
    const char* s = line.get();
    auto report = [&](const char* msg) { logSrc.error("%s:%d %s", name, lineNo, msg); };
    try {
      if (!*s) {
        if (state == kText)
          store();
        bool noText = state == kKey;
        key.clear();
        text.clear();
        state = kOutside;
        if (noText)
          report("Expected msgstr");
        continue;
      }
      if (*s == '#')
        continue;
      if (*s == '"') {
        if (state != kSkipping)
          parsePoString(s, state == kKey ? key : text);
        continue;
      }
      const char* space = strchr(s, ' ');
      const char* rest = space ? space + 1 : "";
      int wordLen = space ? (int)(space - s) : (int)strlen(s);
      bool isMsgid = *rest && wordLen == 5 && strncmp(s, "msgid", 5) == 0;
      bool isMsgstr = *rest && wordLen == 6 && strncmp(s, "msgstr", 6) == 0;
      if (isMsgid) {
        // A msgid always begins the next entry: a complete one before it
        // is stored, a broken one dropped.
        if (state == kText)
          store();
        else if (state == kKey)
          report("Expected msgstr");
        startEntry(rest);
        continue;
      }
      if (state == kSkipping)
        continue;
      if (!*rest || state == kText)
        throw plat::Exception("Bad command or string");
      if (state == kOutside)
        throw plat::Exception("Expected msgid");
      if (!isMsgstr)
        throw plat::Exception("Expected msgstr");
      state = kText;
      parsePoString(rest, text);
    } catch (plat::Exception& e) {
      report(e.str());
      // The rest of a broken entry must not reach another entry's key or
      // text: drop it and skip to the next entry.
      key.clear();
      text.clear();
      state = kSkipping;
    }
  }
}

bool Localize::loadBuiltInStrings(const char* locale)
{
  plat::String file = plat::format("strings.%s.po", locale);
  plat::BuiltInResource res = plat::findBuiltInResource(file.str());
  if (!res.data)
    return false;
  plat::String name = plat::format("built-in resource %s", file.str());
  try {
    rdr::MemInStream in(res.data, (int)res.size);
    parseStrings(in, name.str(), locale);
  } catch (plat::Exception& e) {
    logSrc.error("Error loading strings from %s: %s", name.str(), e.str());
    return false;
  }
  logSrc.status("Loaded strings from %s", name.str());
  return true;
}

bool Localize::loadStringsFile(const char* dir, const char* locale)
{
  if (!isPlainLocaleName(locale))
    return false;
  plat::String path = plat::format("%s%cstrings.%s.po", dir, '/', locale);
  if (!plat::fileExists(path.str()))
    return false;
  try {
    rdr::FileInStream in(path.str(), 0);
    parseStrings(in, path.str(), locale);
  } catch (plat::Exception& e) {
    logSrc.error("Error loading strings from %s: %s", path.str(), e.str());
    return false;
  }
  logSrc.status("Loaded strings from %s", path.str());
  return true;
}

} // namespace loc
