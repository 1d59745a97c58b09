// Pattern syntax: one left-to-right pass that emits the instruction program
// of plat::Regex, plus the delimited and substitution forms around it.
#include <string.h>

#include <algorithm>

#include "plat/Exception.h"
#include "plat/Regex.h"
#include "plat/SmallVector.h"
#include "plat/utf8.h"

namespace plat {

namespace {

constexpr int kMaxDepth = 16;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

struct Range {
  uint32_t lo, hi;
};

const Range kDigitRanges[] = {{0x30, 0x39}};
const Range kWordRanges[] = {{0x30, 0x39}, {0x61, 0x7A}, {0x41, 0x5A}, {0x5F, 0x5F}};
const Range kSpaceRanges[] = {{0x09, 0x0D},     {0x20, 0x20},     {0xA0, 0xA0},
                              {0x1680, 0x1680}, {0x180E, 0x180E}, {0x2000, 0x200A},
                              {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F},
                              {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};

using RangeList = SmallVector<Range, 16>;

template <size_t N> void addRanges(RangeList& out, const Range (&table)[N], bool complement)
{
  if (!complement) {
    for (const Range& r : table)
      out.push_back(r);
    return;
  }
  Range sorted[N];
  std::copy(table, table + N, sorted);
  std::sort(sorted, sorted + N, [](const Range& a, const Range& b) { return a.lo < b.lo; });
  uint32_t next = 0;
  for (const Range& r : sorted) {
    if (r.lo > next)
      out.push_back({next, r.lo - 1});
    next = r.hi + 1;
  }
  if (next <= kMaxCodePoint)
    out.push_back({next, kMaxCodePoint});
}

// The ranges of \d, \D, \s, \S, \w or \W.
void addClassEscape(RangeList& out, char letter)
{
  bool complement = letter >= 'A' && letter <= 'Z';
  switch (letter | 0x20) {
  case 'd':
    addRanges(out, kDigitRanges, complement);
    break;
  case 's':
    addRanges(out, kSpaceRanges, complement);
    break;
  default:
    addRanges(out, kWordRanges, complement);
    break;
  }
}

bool isLineBreak(uint32_t c)
{
  return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029;
}

bool isAsciiLetter(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
    return (c | 0x20) - 'a' + 10;
  return -1;
}

// Reads exactly n hexadecimal digits at p; -1 (p unchanged) when any is
// missing.
int readHex(const char*& p, int n)
{
  int v = 0;
  for (int i = 0; i < n; i++) {
    int d = hexValue(p[i]);
    if (d < 0)
      return -1;
    v = v << 4 | d;
  }
  p += n;
  return v;
}

// Decodes the character at p, which lies in text already checked to be
// valid UTF-8.
uint32_t readChar(const char*& p)
{
  unsigned char c = *p++;
  if (c < 0x80)
    return c;
  int cp = utf8DecodeRest(c, &p, 4);
  return cp < 0 ? 0xFFFD : cp;
}

[[noreturn]] void throwBadUtf8()
{
  throw BadUtf8("Bad UTF-8 string");
}

// Where an escape stands: each place knows a different set of letters.
enum class EscapeIn { atom, charClass, replacement };

// Escapes of one character that every place shares: \cX, \f, \n, \r, \t,
// \u, \v and \x. p points at the letter; returns -1 for other letters.
int commonEscape(const char*& p)
{
  char c = *p;
  switch (c) {
  case 't':
    p++;
    return 9;
  case 'n':
    p++;
    return 10;
  case 'v':
    p++;
    return 11;
  case 'f':
    p++;
    return 12;
  case 'r':
    p++;
    return 13;
  case 'c':
    if (!isAsciiLetter(p[1]))
      throw Exception("expected control letter after '\\c'");
    p += 2;
    return p[-1] & 31;
  case 'x': {
    p++;
    int v = readHex(p, 2);
    if (v < 0)
      throw Exception("expected hex escape after '\\x'");
    return v;
  }
  case 'u': {
    p++;
    int v = readHex(p, 4);
    if (v < 0)
      throw Exception("expected Unicode escape after '\\u'");
    if (v >= 0xDC00 && v <= 0xDFFF)
      throw Exception("unexpected low surrogate");
    if (v >= 0xD800 && v <= 0xDBFF) {
      const char* q = p + 2;
      int low = p[0] == '\\' && p[1] == 'u' ? readHex(q, 4) : -1;
      if (low < 0xDC00 || low > 0xDFFF)
        throw Exception("expected low surrogate after high surrogate");
      p = q;
      v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
    }
    return v;
  }
  default:
    return -1;
  }
}

} // namespace

// One compilation. Holds the cursor into the pattern; every error is
// thrown from the place where the cursor found it.
class Regex::Compiler {
public:
  Compiler(Regex& re, const char* pattern, bool delimited)
      : re(re), prog(re.program_), p(pattern), delimited(delimited)
  {
  }

  // Compiles the pattern up to its end (the NUL, or the closing '/' of
  // the delimited form) and returns where it stopped.
  const char* compile()
  {
    prog = {opAny, opForkNext, 0, opSave, 0};
    re.searchStart_ = 1;
    re.anchoredStart_ = 3;
    alternation();
    emit(opSave, 1);
    return p;
  }

  // Reads the character escape after a backslash (p at the character that
  // follows it). Set escapes (\d and the like) return -1 after adding
  // their ranges to sets.
  static int escape(const char*& p, EscapeIn where, bool delimited, RangeList* sets)
  {
    char c = *p;
    if (c == 0)
      throw Exception("unterminated escape sequence");
    int v = commonEscape(p);
    if (v >= 0)
      return v;
    if (where != EscapeIn::replacement) {
      if (strchr("dDsSwW", c)) {
        p++;
        addClassEscape(*sets, c);
        return -1;
      }
      if (c == '0') {
        if (p[1] >= '0' && p[1] <= '9')
          throw Exception("illegal decimal escape sequence");
        p++;
        return 0;
      }
      if (where == EscapeIn::charClass && c == 'b') {
        p++;
        return 8;
      }
      if (c >= '1' && c <= '9') {
        if (where == EscapeIn::atom)
          throw Exception("unsupported UNSAFE backreference");
        throw Exception(0, "invalid class escape sequence '\\%c'", c);
      }
    }
    if (isAsciiLetter(c)) {
      if (where == EscapeIn::charClass)
        throw Exception(0, "invalid class escape sequence '\\%c'", c);
      throw Exception(0, "invalid escape sequence '\\%c'", c);
    }
    uint32_t ch = readChar(p);
    if (delimited && isLineBreak(ch))
      throw Exception("illegal line break in literal");
    return ch;
  }

private:
  bool endsSequence(char c) const
  {
    return c == 0 || c == '|' || c == ')' || (delimited && c == '/');
  }

  void emit(uint32_t w) { prog.push_back(w); }
  void emit(uint32_t w1, uint32_t w2)
  {
    prog.push_back(w1);
    prog.push_back(w2);
  }
  void emitJump(int target) { emit(static_cast<uint32_t>(-target)); }
  int here() const { return static_cast<int>(prog.size()); }

  // Puts a fork in front of the code from start on. Targets inside the
  // moved code move with it.
  void insertFork(int start, Op op, int target)
  {
    int end = here();
    for (int pc = start; pc < end; pc += instructionLength(prog.data(), pc)) {
      int32_t w = static_cast<int32_t>(prog[pc]);
      if (w <= 0 && -w >= start)
        prog[pc] = static_cast<uint32_t>(w - 2);
      else if ((w == opForkTarget || w == opForkNext) && static_cast<int>(prog[pc + 1]) >= start)
        prog[pc + 1] += 2;
    }
    uint32_t fork[2] = {static_cast<uint32_t>(op), static_cast<uint32_t>(target)};
    prog.insert(prog.begin() + start, fork, fork + 2);
  }

  // Alternatives in priority order: each but the last is preceded by a fork
  // to the next one and followed by a jump to the common end.
  void alternation()
  {
    SmallVector<int, 8> jumps;
    int start = here();
    sequence();
    while (*p == '|') {
      p++;
      insertFork(start, opForkNext, 0);
      jumps.push_back(here());
      emit(0);
      prog[start + 1] = here();
      start = here();
      sequence();
    }
    for (int j : jumps)
      prog[j] = static_cast<uint32_t>(-here());
  }

  void sequence()
  {
    while (!endsSequence(*p)) {
      if (*p == '^') {
        p++;
        emit(opLineStart);
      } else if (*p == '$') {
        p++;
        emit(opLineEnd);
      } else {
        int start = here();
        atom();
        quantifier(start);
      }
    }
  }

  void quantifier(int start)
  {
    char q = *p;
    if (q == '{')
      throw Exception("unsupported UNSAFE counted quantifier");
    if (q != '*' && q != '+' && q != '?')
      return;
    p++;
    bool lazy = *p == '?';
    if (lazy)
      p++;
    if (q == '+') {
      // body; fork back to the body
      emit(lazy ? opForkNext : opForkTarget, start);
      return;
    }
    // fork past the body; body; for '*' a jump back to the fork
    insertFork(start, lazy ? opForkTarget : opForkNext, 0);
    if (q == '*')
      emitJump(start);
    prog[start + 1] = here();
  }

  void atom()
  {
    char c = *p;
    switch (c) {
    case '(':
      group();
      return;
    case '[':
      charClass();
      return;
    case '.':
      p++;
      emit((re.flags_ & dotAll) ? opAny : opDot);
      return;
    case '\\':
      p++;
      if (*p == 'b' || *p == 'B') {
        emit(*p++ == 'b' ? opWordBoundary : opNotWordBoundary);
        return;
      }
      {
        RangeList sets;
        int v = escape(p, EscapeIn::atom, delimited, &sets);
        if (v < 0)
          emitClass(opClass, sets);
        else
          emitChar(v);
      }
      return;
    default:
      if (strchr("*+?]{}", c))
        throw Exception(0, "unexpected metacharacter '%c'", c);
      emitChar(literal());
      return;
    }
  }

  // A literal character of the pattern text.
  uint32_t literal()
  {
    uint32_t ch = readChar(p);
    if (delimited && isLineBreak(ch))
      throw Exception("illegal line break in literal");
    return ch;
  }

  void emitChar(uint32_t ch)
  {
    if ((re.flags_ & ignoreCase) && ch < 0x80 && isAsciiLetter(static_cast<char>(ch)))
      emit(opCharNoCase, ch | 0x20);
    else
      emit(opChar, ch);
  }

  void emitClass(Op op, const RangeList& ranges)
  {
    emit(op, static_cast<uint32_t>(ranges.size()));
    for (const Range& r : ranges)
      emit(r.lo, r.hi);
  }

  void group()
  {
    p++;
    if (++depth > kMaxDepth)
      throw Exception("unsupported depth of nested expressions");
    bool capturing = true;
    if (p[0] == '?' && (p[1] == '=' || p[1] == '!'))
      throw Exception(0, "unsupported lookahead assertion '(?%c...'", p[1]);
    if (p[0] == '?' && p[1] == ':') {
      capturing = false;
      p += 2;
    }
    // Entering the group unsets the groups inside it, so that a repeated
    // group reports only what its last pass captured.
    int first = re.groupCount_ + 1;
    int entry = here();
    if (capturing) {
      re.groupCount_++;
      emit(opSaveReset, 2 * first);
      emit(0);
    } else {
      emit(opReset, 2 * first);
      emit(0);
    }
    alternation();
    if (*p != ')')
      throw Exception("expected closing ')'");
    p++;
    depth--;
    int inner = re.groupCount_ - first + (capturing ? 0 : 1);
    if (capturing) {
      prog[entry + 2] = 2 * inner + 1;
      emit(opSave, 2 * first + 1);
    } else {
      prog[entry + 2] = 2 * inner;
    }
  }

  // One class item: a character (returned) or a set escape (-1, its ranges
  // added to sets).
  int classAtom(RangeList& sets)
  {
    if (*p == '\\') {
      p++;
      return escape(p, EscapeIn::charClass, delimited, &sets);
    }
    return static_cast<int>(literal());
  }

  void charClass()
  {
    p++;
    Op op = opClass;
    if (*p == '^') {
      op = opNotClass;
      p++;
    }
    RangeList ranges;
    for (;;) {
      if (*p == ']') {
        p++;
        break;
      }
      if (*p == 0)
        throw Exception("expected closing ']'");
      int a = classAtom(ranges);
      if (p[0] == '-' && p[1] != ']' && p[1] != 0) {
        p++;
        int b = classAtom(ranges);
        if (a >= 0 && b >= 0) {
          ranges.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(b)});
          continue;
        }
        // A set on either side makes the '-' an ordinary character.
        ranges.push_back({'-', '-'});
        if (b >= 0)
          ranges.push_back({static_cast<uint32_t>(b), static_cast<uint32_t>(b)});
      }
      if (a >= 0)
        ranges.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(a)});
    }
    emitClass(op, ranges);
  }

  Regex& re;
  std::vector<uint32_t>& prog;
  const char* p;
  bool delimited;
  int depth = 0;
};

Regex::Regex(int flags) : flags_(flags)
{
}

Regex::~Regex() = default;

std::unique_ptr<Regex> Regex::create(const char* pattern, int flags)
{
  if (!pattern)
    pattern = "";
  if (!isValidUtf8(pattern))
    throwBadUtf8();
  std::unique_ptr<Regex> re(new Regex(flags));
  const char* stop = Compiler(*re, pattern, false).compile();
  if (*stop)
    throw Exception(0, "trailing characters: \"%s\"", stop);
  re->analyse();
  return re;
}

namespace {

// From after the opening '/' to the closing one, which is neither escaped
// nor inside a class.
const char* scanDelimitedBody(const char* p)
{
  bool inClass = false;
  for (;;) {
    char c = *p;
    if (c == 0)
      throw Exception(inClass ? "expected terminating ']'" : "expected terminating '/'");
    if (c == '\\') {
      if (p[1] == 0)
        throw Exception("unterminated escape sequence");
      p += 2;
      continue;
    }
    if (inClass) {
      if (c == ']')
        inClass = false;
    } else if (c == '[') {
      inClass = true;
    } else if (c == '/') {
      return p;
    }
    p++;
  }
}

// The flag letters at p; p is left at the first character that is not a
// letter, digit or '_'.
int readFlags(const char*& p)
{
  int flags = 0;
  for (;; p++) {
    char c = *p;
    int bit = c == 's'   ? Regex::dotAll
              : c == 'm' ? Regex::multiline
              : c == 'i' ? Regex::ignoreCase
                         : 0;
    if (c == 'g' || c == 'y')
      throw Exception(0, "unsupported flag '%c'", c);
    if (bit && !(flags & bit)) {
      flags |= bit;
      continue;
    }
    if (bit || isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_')
      throw Exception(0, "invalid flag '%c'", c);
    return flags;
  }
}

} // namespace

std::unique_ptr<Regex> Regex::compileDelimited(const char* body, const char* close, int flags)
{
  if (!isValidUtf8(body, close))
    throwBadUtf8();
  std::unique_ptr<Regex> re(new Regex(flags));
  const char* stop = Compiler(*re, body, true).compile();
  if (stop != close)
    throw Exception(0, "trailing characters: \"%s\"", stop);
  re->analyse();
  return re;
}

std::unique_ptr<Regex> Regex::createDelimited(const char** cursor)
{
  const char* p = *cursor;
  if (!p || *p != '/')
    throw Exception("expected '/'-delimited regex");
  const char* body = p + 1;
  const char* close = scanDelimitedBody(body);
  const char* after = close + 1;
  std::unique_ptr<Regex> re = compileDelimited(body, close, readFlags(after));
  *cursor = after;
  return re;
}

std::unique_ptr<Regex> Regex::createSubstitution(const char** cursor, String* replacement)
{
  const char* p = *cursor;
  if (!p || p[0] != 's' || p[1] != '/')
    throw Exception("expected 's/../../' substitution");
  const char* body = p + 2;
  const char* close = scanDelimitedBody(body);

  // The replacement, escapes resolved, up to the next unescaped '/'.
  const char* r = close + 1;
  const char* rEnd = r;
  while (*rEnd != '/') {
    if (*rEnd == 0)
      throw Exception("expected terminating '/'");
    if (*rEnd == '\\' && rEnd[1] != 0)
      rEnd++;
    rEnd++;
  }
  if (!isValidUtf8(r, rEnd))
    throwBadUtf8();
  std::vector<char> text;
  while (r < rEnd) {
    if (*r != '\\') {
      text.push_back(*r++);
      continue;
    }
    r++;
    int v = Compiler::escape(r, EscapeIn::replacement, false, nullptr);
    char buf[4];
    char* b = buf;
    utf8Encode(static_cast<unsigned>(v), &b);
    text.insert(text.end(), buf, b);
  }
  text.push_back(0);

  const char* after = rEnd + 1;
  std::unique_ptr<Regex> re = compileDelimited(body, close, readFlags(after));
  if (replacement)
    *replacement = String(text.data());
  *cursor = after;
  return re;
}

} // namespace plat
