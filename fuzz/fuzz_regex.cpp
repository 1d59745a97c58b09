// Compiling and matching arbitrary patterns on arbitrary texts. Input: one
// byte of options (bits 0-2 the flags, bit 3 the delimited form, bit 4
// the substitution form), the pattern, a NUL byte, then the text. Nothing
// may crash or hang, both engines must agree, spans must lie on character
// boundaries of the text, and replacing every match by itself must give
// the text back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/Regex.h"
#include "plat/utf8.h"

using namespace plat;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

std::unique_ptr<Regex> compile(uint8_t options, const std::string& pattern)
{
  const char* cursor = pattern.c_str();
  if (options & 16) {
    std::string text = "s/" + pattern;
    cursor = text.c_str();
    String replacement;
    auto re = Regex::createSubstitution(&cursor, &replacement);
    check(cursor > text.c_str() && cursor <= text.c_str() + text.size());
    return re;
  }
  if (options & 8) {
    auto re = Regex::createDelimited(&cursor);
    check(cursor > pattern.c_str() && cursor <= pattern.c_str() + pattern.size());
    return re;
  }
  return Regex::create(cursor, options & 7);
}

// Where the matcher's characters begin and end, reading as it does.
std::vector<bool> boundaries(const char* text, const char* end)
{
  std::vector<bool> at(end - text + 1, false);
  for (const char* p = text;;) {
    at[p - text] = true;
    if (p >= end)
      break;
    unsigned char lead = *p++;
    if (lead >= 0x80)
      utf8DecodeRest(lead, &p, static_cast<int>(end - p + 1));
  }
  return at;
}

struct Result {
  std::vector<const char*> spans;
  std::string replaced;
  std::vector<std::string> pieces;
  bool found, atStart;

  bool operator==(const Result& o) const
  {
    return spans == o.spans && replaced == o.replaced && pieces == o.pieces && found == o.found &&
           atStart == o.atStart;
  }
};

Result run(const Regex& re, const std::string& text)
{
  Result r;
  const char* t = text.data();
  const char* tEnd = t + text.size();
  int n = re.groupCount() < 8 ? re.groupCount() : 8;
  std::vector<const char*> starts(n + 1), ends(n + 1);
  const char* end = tEnd;
  const char* start = re.exec(t, &end, starts.data(), ends.data(), n);
  r.found = re.search(t, tEnd);
  r.atStart = re.matchesAtStart(t, tEnd);
  check(r.found == (start != nullptr));
  check(r.atStart == (start == t));
  if (start) {
    std::vector<bool> at = boundaries(t, tEnd);
    check(start <= end && start >= t && end <= tEnd);
    check(at[start - t] && at[end - t]);
    r.spans = {start, end};
    for (int i = 0; i < n; i++) {
      check((starts[i] == nullptr) == (ends[i] == nullptr));
      if (starts[i]) {
        check(start <= starts[i] && starts[i] <= ends[i] && ends[i] <= end);
        check(at[starts[i] - t] && at[ends[i] - t]);
      }
      r.spans.push_back(starts[i]);
      r.spans.push_back(ends[i]);
    }
  } else {
    check(end == nullptr);
  }

  // The replacing and splitting calls read up to the NUL.
  const char* z = text.c_str();
  DString same;
  re.replaceAll(z, "$&", same);
  check(strcmp(same.get(), z) == 0);
  DString marked;
  re.replaceAll(z, "<$&>", marked);
  if (isValidUtf8(z))
    check(isValidUtf8(marked.get()));
  r.replaced = marked.get();

  size_t total = 0;
  std::vector<String> pieces = re.split(z);
  for (size_t i = 0; i < pieces.size(); i++) {
    bool isGroup = i % (re.groupCount() + 1) != 0;
    check(isGroup || !pieces[i].isNull());
    r.pieces.push_back(pieces[i].isNull() ? std::string("\x01null") : pieces[i].get());
    if (!isGroup)
      total += pieces[i].length();
  }
  check(total <= strlen(z));
  return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 8192)
    return 0;
  uint8_t options = data[0];
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const char* restEnd = reinterpret_cast<const char*>(data + size);
  const char* nul = static_cast<const char*>(memchr(rest, 0, restEnd - rest));
  std::string pattern(rest, nul ? nul : restEnd);
  std::string text(nul ? nul + 1 : restEnd, restEnd);

  std::unique_ptr<Regex> re;
  try {
    re = compile(options, pattern);
  } catch (const Exception& e) {
    check(e.str()[0] != 0);
    return 0;
  }
  check(re->groupCount() >= 0);
  Result depthFirst = run(*re, text);
  Regex::setThreadListsOnly(true);
  Result lists = run(*re, text);
  Regex::setThreadListsOnly(false);
  check(depthFirst == lists);
  return 0;
}
