#include "plat/Path.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "plat/Exception.h"
#include "plat/File.h"

// glibc's strerror_r is the GNU form under _GNU_SOURCE (which g++ defines);
// the XSI form, which reports unknown numbers and short buffers, is exported
// under this name.
#if defined(__GLIBC__)
extern "C" int __xpg_strerror_r(int err, char* buffer, size_t size);
#define PLAT_XSI_STRERROR_R __xpg_strerror_r
#else
#define PLAT_XSI_STRERROR_R strerror_r
#endif

namespace plat {

namespace {

const char* orEmpty(const char* s)
{
  return s ? s : "";
}

bool isDotDot(const char* s, size_t n)
{
  return n == 2 && s[0] == '.' && s[1] == '.';
}

// The start of the last component of a normalised path.
const char* lastComponent(const char* s)
{
  const char* slash = strrchr(s, '/');
  return slash ? slash + 1 : s;
}

} // namespace

// --- Paths --------------------------------------------------------------------

bool isAbsolutePath(const char* path)
{
  return path && path[0] == '/';
}

bool isNotRootDir(const char* path)
{
  return !path || strcmp(path, "/") != 0;
}

const char* skipSlashes(const char* p)
{
  if (p)
    while (*p == '/')
      p++;
  return p;
}

String normalisePath(const char* path)
{
  const char* p = orEmpty(path);
  bool absolute = *p == '/';
  struct Component {
    const char* start;
    size_t length;
  };
  std::vector<Component> kept;
  while (*p) {
    p = skipSlashes(p);
    const char* start = p;
    while (*p && *p != '/')
      p++;
    size_t n = p - start;
    if (n == 0 || (n == 1 && start[0] == '.'))
      continue;
    if (isDotDot(start, n)) {
      if (!kept.empty() && !isDotDot(kept.back().start, kept.back().length)) {
        kept.pop_back();
        continue;
      }
      if (absolute)
        continue; // ".." at the root stays at the root
    }
    kept.push_back({start, n});
  }

  if (kept.empty())
    return String(absolute ? "/" : ".");
  size_t total = absolute ? 1 : 0;
  for (const Component& c : kept)
    total += c.length + 1;
  char* out = new char[total];
  char* w = out;
  for (size_t i = 0; i < kept.size(); i++) {
    if (i > 0 || absolute)
      *w++ = '/';
    memcpy(w, kept[i].start, kept[i].length);
    w += kept[i].length;
  }
  *w = 0;
  return String::adopt(out);
}

String makeAbsolutePath(const char* path)
{
  const char* p = orEmpty(path);
  String joined;
  if (isAbsolutePath(p)) {
    joined = normalisePath(p);
  } else {
    String cwd = getCwd();
    bool hasSlash = cwd.length() > 0 && cwd.str()[cwd.length() - 1] == '/';
    joined = normalisePath(format(hasSlash ? "%s%s" : "%s/%s", cwd.str(), p).str());
  }
  return realpath(p, joined.str());
}

void makeAbsolutePath(String& out, const char* path)
{
  out = makeAbsolutePath(path);
}

String dirName(const char* path)
{
  String n = normalisePath(path);
  const char* s = n.str();
  if (strcmp(s, ".") == 0)
    return String("..");
  const char* last = lastComponent(s);
  if (s[0] != '/' && strcmp(last, "..") == 0)
    return format("%s/..", s);
  if (last == s)
    return String(".");
  if (last == s + 1)
    return String("/");
  return String(s, static_cast<int>(last - 1 - s));
}

String baseName(const char* path, const char* suffix)
{
  String n = normalisePath(path);
  const char* s = n.str();
  if (strcmp(s, "/") == 0)
    return n;
  const char* last = lastComponent(s);
  // Only a relative path keeps ".." after normalisation.
  if (strcmp(last, "..") == 0)
    return String(".");
  int length = strLen(last);
  if (suffix && length > strLen(suffix) && strEndsWithNoCase(last, suffix))
    length -= strLen(suffix);
  return String(last, length);
}

String sanitiseFileName(const char* text, char replacement)
{
  String out(text);
  if (char* p = out.data())
    for (; *p; p++) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c < 32 || c == 127 || c == '/')
        *p = replacement;
    }
  return out;
}

int isReservedDeviceName(const char* name)
{
  static const char* const kReserved[] = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
      "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  if (!name)
    return 0;
  for (const char* reserved : kReserved) {
    int n = strLen(reserved);
    if (strStartsWithNoCase(name, reserved) && (name[n] == 0 || name[n] == '.'))
      return n;
  }
  return 0;
}

// --- Environment expansion ------------------------------------------------------

namespace {

bool isNameChar(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void appendVariable(DString& out, const char* start, const char* end, const EnvVarMap* vars,
                    EnvExpand how)
{
  String name(start, static_cast<int>(end - start));
  if (vars) {
    auto it = vars->find(name);
    if (it != vars->end()) {
      out.append(it->second.get());
      return;
    }
  }
  if (hasAny(how, EnvExpand::kUseEnvironment))
    if (const char* value = getenv(name.str())) {
      out.append(value);
      return;
    }
  if (hasAny(how, EnvExpand::kStrict))
    throw Exception(0, "unknown environment variable: %s", name.str());
}

} // namespace

DString expandEnvVars(const char* text, const EnvVarMap* vars, EnvExpand how)
{
  const char* p = orEmpty(text);
  DString out;
  out.reserve(strLen(p) + 1);
  while (const char* dollar = strchr(p, '$')) {
    out.append(p, static_cast<int>(dollar - p));
    p = dollar + 1;
    if (*p == '{') {
      const char* start = p + 1;
      const char* close = strchr(start, '}');
      const char* end = close ? close : start + strlen(start);
      if (end == start)
        out.append("$");
      else
        appendVariable(out, start, end, vars, how);
      p = close ? close + 1 : end;
    } else if (isNameChar(*p)) {
      const char* start = p;
      while (isNameChar(*p))
        p++;
      appendVariable(out, start, p, vars, how);
    } else if (*p == '$') {
      out.append("$");
      p++;
    }
    // Otherwise the '$' is dropped and what follows is copied as text.
  }
  out.append(p);
  return out;
}

// --- Wildcards ---------------------------------------------------------------------

namespace {

// Byte comparison, folded unless case-sensitive.
struct Folder {
  bool caseSensitive;
  int operator()(char c) const
  {
    unsigned char u = static_cast<unsigned char>(c);
    return caseSensitive ? u : tolower(u);
  }
};

bool equalFolded(const char* a, const char* b, size_t n, Folder fold)
{
  for (size_t i = 0; i < n; i++)
    if (fold(a[i]) != fold(b[i]))
      return false;
  return true;
}

// The offset of the first occurrence of needle[0, m) in hay[0, n), or -1.
// Knuth-Morris-Pratt, so a search never rescans the text.
long findFolded(const char* needle, size_t m, const char* hay, size_t n, Folder fold,
                std::vector<size_t>& fail)
{
  fail.assign(m, 0);
  for (size_t i = 1, k = 0; i < m; i++) {
    while (k > 0 && fold(needle[i]) != fold(needle[k]))
      k = fail[k - 1];
    if (fold(needle[i]) == fold(needle[k]))
      k++;
    fail[i] = k;
  }
  for (size_t i = 0, k = 0; i < n; i++) {
    while (k > 0 && fold(hay[i]) != fold(needle[k]))
      k = fail[k - 1];
    if (fold(hay[i]) == fold(needle[k]))
      k++;
    if (k == m)
      return static_cast<long>(i + 1 - m);
  }
  return -1;
}

} // namespace

// The pattern is head*mid1*...*midN*tail. Head and tail are anchored at the
// ends of the text; each middle segment is best placed at its leftmost
// occurrence after the previous one, since an earlier placement leaves the
// later segments at least as much text. So no backtracking is needed.
bool globMatch(const char* pattern, const char* text, bool caseSensitive)
{
  const char* pat = orEmpty(pattern);
  const char* txt = orEmpty(text);
  Folder fold{caseSensitive};
  size_t patLength = strlen(pat);
  size_t txtLength = strlen(txt);

  const char* firstStar = strchr(pat, '*');
  if (!firstStar)
    return patLength == txtLength && equalFolded(pat, txt, patLength, fold);
  const char* lastStar = strrchr(pat, '*');
  size_t head = firstStar - pat;
  size_t tail = pat + patLength - (lastStar + 1);
  if (head + tail > txtLength || !equalFolded(pat, txt, head, fold) ||
      !equalFolded(lastStar + 1, txt + txtLength - tail, tail, fold))
    return false;

  size_t pos = head;
  size_t end = txtLength - tail;
  std::vector<size_t> fail;
  for (const char* seg = firstStar + 1; seg < lastStar;) {
    const char* segEnd = strchr(seg, '*');
    size_t m = segEnd - seg;
    if (m > 0) {
      long at = findFolded(seg, m, txt + pos, end - pos, fold, fail);
      if (at < 0)
        return false;
      pos += at + m;
    }
    seg = segEnd + 1;
  }
  return true;
}

// --- System error texts -----------------------------------------------------------

bool strError(int err, char* buffer, int size)
{
  if (!buffer || size <= 0)
    return false;
  if (PLAT_XSI_STRERROR_R(err, buffer, static_cast<size_t>(size)) != 0) {
    buffer[0] = 0;
    return false;
  }
  buffer[size - 1] = 0;
  return true;
}

} // namespace plat
