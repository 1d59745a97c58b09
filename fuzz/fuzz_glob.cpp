// Wildcard matching and lexical path handling of arbitrary bytes. The input
// is a flag byte (bit 0: case-sensitive), then the pattern up to the first
// '\n', then the text. The match must agree with a plain dynamic-programming
// matcher; the path functions must keep their invariants.
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "plat/Path.h"
#include "plat/Uuid.h"

using namespace plat;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

int fold(char c, bool caseSensitive)
{
  unsigned char u = static_cast<unsigned char>(c);
  return caseSensitive ? u : tolower(u);
}

// at[i][j]: pattern[i..] matches text[j..].
bool referenceMatch(const std::string& pattern, const std::string& text, bool caseSensitive)
{
  size_t m = pattern.size(), n = text.size();
  std::vector<std::vector<char>> at(m + 1, std::vector<char>(n + 1, 0));
  at[m][n] = 1;
  for (size_t i = m; i-- > 0;)
    for (size_t j = n + 1; j-- > 0;) {
      if (pattern[i] == '*')
        at[i][j] = at[i + 1][j] || (j < n && at[i][j + 1]);
      else
        at[i][j] = j < n && fold(pattern[i], caseSensitive) == fold(text[j], caseSensitive) &&
                   at[i + 1][j + 1];
    }
  return at[0][0];
}

bool isNormalised(const char* s)
{
  if (strcmp(s, "/") == 0 || strcmp(s, ".") == 0)
    return true;
  bool absolute = s[0] == '/';
  bool pastDotDots = false;
  const char* p = absolute ? s + 1 : s;
  for (;;) {
    const char* end = strchr(p, '/');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    if (n == 0 || (n == 1 && p[0] == '.'))
      return false; // empty or "." component, or trailing '/'
    bool dotDot = n == 2 && p[0] == '.' && p[1] == '.';
    // ".." only as leading components of a relative path.
    if (dotDot && (absolute || pastDotDots))
      return false;
    pastDotDots = pastDotDots || !dotDot;
    if (!end)
      return true;
    p = end + 1;
  }
}

void checkPath(const std::string& path)
{
  const char* p = path.c_str();
  String n = normalisePath(p);
  check(isNormalised(n.str()));
  check(strcmp(normalisePath(n.str()).str(), n.str()) == 0);
  check(isAbsolutePath(n.str()) == isAbsolutePath(p));
  check(n.length() <= static_cast<int>(std::max<size_t>(strlen(p), 1)));

  String dir = dirName(p);
  String base = baseName(p, ".x");
  check(isNormalised(dir.str()));
  check(strchr(base.str(), '/') == nullptr || strcmp(base.str(), "/") == 0);
  // The parent of a path is its normalised form with "/.." appended.
  check(strcmp(dir.str(), normalisePath((path + "/..").c_str()).str()) == 0 || path.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > (1 << 16))
    return 0;
  bool caseSensitive = data[0] & 1;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  rest = rest.c_str(); // up to the first NUL, as the functions see it
  size_t newline = rest.find('\n');
  std::string pattern = rest.substr(0, newline);
  std::string text = newline == std::string::npos ? "" : rest.substr(newline + 1);

  bool match = globMatch(pattern.c_str(), text.c_str(), caseSensitive);
  if (pattern.size() <= 256 && text.size() <= 1024)
    check(match == referenceMatch(pattern, text, caseSensitive));
  if (pattern.find('*') == std::string::npos && caseSensitive)
    check(match == (pattern == text));

  checkPath(pattern);
  checkPath(text);

  // Expansion without lookups drops the variables and never grows "$$".
  EnvVarMap vars;
  DString expanded = expandEnvVars(text.c_str(), &vars, plat::EnvExpand::kNone);
  check(static_cast<size_t>(expanded.length()) <= text.size());
  if (text.find('$') == std::string::npos)
    check(text == expanded.get());

  Uuid u;
  if (Uuid::tryParse(u.bytes, pattern.c_str())) {
    Uuid again;
    Uuid::parse(again.bytes, u.toString(true).str());
    check(again == u);
  }
  return 0;
}
