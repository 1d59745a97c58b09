// Regular expressions over UTF-8 text that match in linear time.
//
// The syntax follows ECMAScript patterns without counted repetition,
// back-references or lookaround; only the flags s, m and i exist, and case
// folding covers ASCII letters only. A pattern compiles to a small
// instruction program that is run by a thread-list simulation: every
// program position enters a thread list at most once per text character,
// so no pattern can make matching slower than text length times program
// length. Leftmost-first priority is kept, so the match and its groups are
// those a backtracking engine would report. Passes of a quantified atom
// that consume nothing follow one rule: a path on which a '*' or '+' loop
// comes back to its start without having consumed anything ends there (so
// "(a*)*" on "b" leaves group 1 unset), and a '?' takes an empty pass like
// any other (where JavaScript would skip the atom and leave its groups
// unset).
//
// A Regex is built only through the factories, which throw plat::Exception
// for syntax errors and plat::BadUtf8 for invalid UTF-8 and hand back sole
// ownership. A compiled Regex is immutable: any number of threads may match
// with it at once, each call building its own Matcher. Matching never
// throws; invalid UTF-8 in a text reads as the character 0x7FFFFFFF, which
// only '.' and negated classes accept. Texts are limited to 2 GiB - 1 bytes;
// bytes beyond are not looked at.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "plat/String.h"

namespace plat {

class DString;

class Regex {
public:
  enum Flag {
    dotAll = 1,
    multiline = 2,
    ignoreCase = 4,
  };

  // --- Construction -------------------------------------------------------

  // The whole text is the pattern; '/' is an ordinary character.
  static std::unique_ptr<Regex> create(const char* pattern, int flags);
  // "/body/flags" at *cursor; *cursor is moved past the flags only when the
  // pattern compiled.
  static std::unique_ptr<Regex> createDelimited(const char** cursor);
  // "s/body/replacement/flags" at *cursor; the replacement is stored with
  // its escapes resolved ('$' sequences are left for the replacing calls).
  static std::unique_ptr<Regex> createSubstitution(const char** cursor, String* replacement);

  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // --- Queries ------------------------------------------------------------

  // Capturing groups, not counting the whole match.
  int groupCount() const { return groupCount_; }
  int flags() const { return flags_; }

  // --- Matching -------------------------------------------------------------
  // A null end means the text ends at its NUL.

  // Whether a match begins at the first character.
  bool matchesAtStart(const char* text, const char* end = nullptr) const;
  // Whether a match exists anywhere.
  bool search(const char* text, const char* end = nullptr) const;
  // The start of the leftmost match, or null. *end (when end is given)
  // holds the text end on entry (null: up to the NUL) and the end of the
  // match on return (null without a match). The num entries of starts and
  // ends are zeroed; then group i + 1 goes to entry i for i below
  // min(num, groupCount()), null pointers when the group took no part.
  const char* exec(const char* text, const char** end, const char** starts, const char** ends,
                   int num) const;
  // A new[] copy of group 1 of the leftmost match; null when there is no
  // match or group 1 took no part.
  char* findMatch(const char* text) const;

  // --- Replacing and splitting ----------------------------------------------

  // Replaces up to maxCount successive matches with the replacement, in
  // which "$$", "$&", "$`", "$'" and "$n" (1 <= n <= groupCount()) expand.
  // With copyText, the text around the matches is copied too; otherwise
  // only the expanded replacements are appended to out.
  void replace(const char* text, const char* replacement, DString& out, bool copyText,
               int maxCount) const;
  void replaceFirst(const char* text, const char* replacement, DString& out,
                    bool copyText = true) const
  {
    replace(text, replacement, out, copyText, 1);
  }
  void replaceAll(const char* text, const char* replacement, DString& out,
                  bool copyText = true) const
  {
    replace(text, replacement, out, copyText, 2147483647);
  }
  // The pieces between matches, each followed by the texts of the groups
  // (null strings for groups that took no part). Empty matches at the start,
  // at the end and right after the previous match do not split.
  std::vector<String> split(const char* text) const;

  // A pattern that matches the text literally; with delimited, one that can
  // also stand between '/' delimiters on one line.
  static String escapeLiteral(const char* text, bool delimited);

  class Matcher;

  // Short texts are searched depth first with a visited bitmap, long ones
  // with thread lists; both give the same results. For tests and fuzzing:
  // makes every call of the process use the thread lists.
  static void setThreadListsOnly(bool on);

private:
  class Compiler;

  // Instruction words, each followed by its operands. Words of 0 or below
  // jump to the position -word; a position past the end of the program is
  // the match. Slot 2k holds the start and 2k + 1 the end of group k as
  // byte offsets, -1 when unset.
  enum Op : int32_t {
    opDot = 1,        // any character but LF, CR, U+2028, U+2029
    opAny = 2,        // any character
    opChar = 3,       // c
    opCharNoCase = 4, // c, stored lower-case; ASCII letters match either case
    opClass = 5,      // n, then n pairs lo, hi
    opNotClass = 6,   // n, then n pairs lo, hi
    opLineStart = 11,
    opLineEnd = 12,
    opWordBoundary = 13,
    opNotWordBoundary = 14,
    opForkTarget = 21, // target; the target is preferred
    opForkNext = 22,   // target; the next instruction is preferred
    opSave = 23,       // slot
    opSaveReset = 24,  // slot, count: save, then unset the count slots after it
    opReset = 25,      // slot, count: unset count slots from slot on
  };
  // Words taken by the instruction at pc.
  static int instructionLength(const uint32_t* program, int pc)
  {
    switch (static_cast<int32_t>(program[pc])) {
    case opChar:
    case opCharNoCase:
    case opForkTarget:
    case opForkNext:
    case opSave:
      return 2;
    case opClass:
    case opNotClass:
      return 2 + 2 * static_cast<int>(program[pc + 1]);
    case opSaveReset:
    case opReset:
      return 3;
    default:
      return 1;
    }
  }
  // Whether the character instruction at pc accepts the code point c.
  static bool accepts(const uint32_t* program, int pc, int32_t c, int flags);

  explicit Regex(int flags);
  // Compiles [body, close) of a delimited form; close is the closing '/'.
  static std::unique_ptr<Regex> compileDelimited(const char* body, const char* close, int flags);
  // Finds the join points and the bytes a match can start with.
  void analyse();

  std::vector<uint32_t> program_;
  int anchoredStart_ = 0;
  int searchStart_ = 1;
  int groupCount_ = 0;
  int flags_ = 0;
  // Positions that more than one instruction can lead to (jump and fork
  // targets, entries). Only these can be reached twice at one text
  // position, so only these need the matchers' visited marks.
  std::vector<uint8_t> joinPoint_;
  // Set when the body cannot match the empty text: then firstBytes lists
  // the ASCII bytes (bit per byte) that can begin a match, and highFirst
  // says whether any byte from 0x80 up can.
  bool skipAhead_ = false;
  bool highFirst_ = false;
  uint64_t firstBytes_[2] = {0, 0};
};

} // namespace plat
