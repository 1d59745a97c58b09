// Matching for plat::Regex: the thread-list simulation and the calls built
// on it (searching, replacing, splitting), and literal escaping.
#include "plat/Regex.h"

#include <limits.h>
#include <string.h>

#include <atomic>
#include <string>

#include "plat/DString.h"
#include "plat/SmallVector.h"
#include "plat/utf8.h"

namespace plat {

namespace {

std::atomic<bool> threadListsOnly{false};

// What an invalid sequence, and the end of the text, read as.
constexpr int32_t kNoChar = 0x7FFFFFFF;

inline bool isLineBreak(int32_t c)
{
  return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029;
}

inline bool isWordChar(int32_t c)
{
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

inline int32_t foldCase(int32_t c)
{
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// Text lengths are kept in int offsets.
const char* limitEnd(const char* text, const char* end)
{
  size_t n = end ? static_cast<size_t>(end - text) : strlen(text);
  if (n > static_cast<size_t>(INT_MAX - 1))
    n = INT_MAX - 1;
  return text + n;
}

} // namespace

inline bool Regex::accepts(const uint32_t* program, int pc, int32_t c, int flags)
{
  switch (static_cast<int32_t>(program[pc])) {
  case opDot:
    return !isLineBreak(c);
  case opAny:
    return true;
  case opChar:
    return static_cast<uint32_t>(c) == program[pc + 1];
  case opCharNoCase:
    return static_cast<uint32_t>(foldCase(c)) == program[pc + 1];
  default:
    break;
  }
  bool negated = static_cast<int32_t>(program[pc]) == opNotClass;
  const uint32_t* r = program + pc + 2;
  const uint32_t* rEnd = r + 2 * program[pc + 1];
  uint32_t u = static_cast<uint32_t>(c);
  if (!(flags & ignoreCase)) {
    for (; r < rEnd; r += 2)
      if (u >= r[0] && u <= r[1])
        return !negated;
    return negated;
  }
  // The text character is lowered; a range that covers upper-case letters
  // also takes their lower-case forms.
  u = static_cast<uint32_t>(foldCase(c));
  for (; r < rEnd; r += 2) {
    if (u >= r[0] && u <= r[1])
      return !negated;
    uint32_t lo = r[0] < 'A' ? 'A' : r[0];
    uint32_t hi = r[1] > 'Z' ? 'Z' : r[1];
    if (lo <= hi && u >= lo + 32 && u <= hi + 32)
      return !negated;
  }
  return negated;
}

void Regex::analyse()
{
  int length = static_cast<int>(program_.size());
  const uint32_t* prog = program_.data();
  joinPoint_.assign(length + 1, 0);
  joinPoint_[searchStart_] = joinPoint_[anchoredStart_] = 1;
  for (int pc = 0; pc < length; pc += instructionLength(prog, pc)) {
    int32_t w = static_cast<int32_t>(prog[pc]);
    if (w <= 0)
      joinPoint_[-w] = 1;
    else if (w == opForkTarget || w == opForkNext)
      joinPoint_[prog[pc + 1]] = 1;
  }

  std::vector<bool> seen(length + 1);
  std::vector<int> work{anchoredStart_};
  uint64_t bits[2] = {0, 0};
  bool high = false;
  while (!work.empty()) {
    int pc = work.back();
    work.pop_back();
    if (seen[pc])
      continue;
    seen[pc] = true;
    if (pc == length)
      return; // the body can match the empty text: no byte can be ruled out
    int32_t w = static_cast<int32_t>(prog[pc]);
    if (w <= 0) {
      work.push_back(-w);
      continue;
    }
    switch (w) {
    case opChar:
    case opCharNoCase:
    case opDot:
    case opAny:
    case opClass:
    case opNotClass:
      for (int32_t b = 0; b < 0x80; b++)
        if (accepts(prog, pc, b, flags_))
          bits[b >> 6] |= uint64_t(1) << (b & 63);
      if (w == opChar || w == opCharNoCase)
        high |= prog[pc + 1] >= 0x80;
      else if (w == opClass)
        for (uint32_t i = 0; i < prog[pc + 1]; i++)
          high |= prog[pc + 3 + 2 * i] >= 0x80;
      else
        high = true;
      break;
    case opLineStart:
      // Away from the text start only a multi-line '^' can pass.
      if (flags_ & multiline)
        work.push_back(pc + 1);
      break;
    case opForkTarget:
    case opForkNext:
      work.push_back(pc + 2);
      work.push_back(static_cast<int>(prog[pc + 1]));
      break;
    default:
      work.push_back(pc + instructionLength(prog, pc));
      break;
    }
  }
  skipAhead_ = true;
  highFirst_ = high;
  firstBytes_[0] = bits[0];
  firstBytes_[1] = bits[1];
}

// The state of one matching call, with two forms of the same search.
//
// Thread lists: threads are kept in priority order in a flat list of
// entries (program position, then the tracked capture slots). Adding a
// thread follows zero-width instructions depth first, with an explicit
// stack of pending branches and of slot values to restore when backing out
// of a branch; a position reached a second time in one step is dropped,
// which bounds the work per character by the program length.
//
// Depth first, for texts where a bit per (text position, program
// position) is affordable: paths are followed in priority order and a
// pair is entered at most once, so exactly the pairs the thread lists
// drop are dropped and the first match found is the one they report.
// Captures live in one array with undo entries on the stack rather than
// in a copy per thread, which makes capture extraction several times
// faster on lines of text.
class Regex::Matcher {
public:
  // Tracks the first nSlots capture slots (none for yes/no answers). With
  // anyMatch, the first match found ends the run.
  Matcher(const Regex& re, const char* text, const char* end, int nSlots, bool anyMatch)
      : re(re), prog(re.program_.data()), join(re.joinPoint_.data()),
        progLen(static_cast<int>(re.program_.size())), nSlots(nSlots), flags(re.flags_),
        anyMatch(anyMatch), text(text), end(limitEnd(text, end))
  {
    for (int i = 0; i < nSlots; i++) {
      cur.push_back(-1);
      best.push_back(-1);
    }
    uint64_t bits =
        static_cast<uint64_t>(progLen + 1) * static_cast<uint64_t>(this->end - text + 1);
    backtrack = bits <= kMaxBacktrackBits && !threadListsOnly.load(std::memory_order_relaxed);
    if (backtrack) {
      uint64_t words = (bits + 63) / 64;
      if (words > done.capacity())
        done.reserve(words);
      for (uint64_t i = 0; i < words; i++)
        done.push_back(0);
    } else {
      for (int i = 0; i <= progLen; i++)
        visited.push_back(-1);
    }
  }

  // Looks for a match from the position from, entering the program at
  // entry. The slots of the match are in slot() afterwards.
  bool run(const char* from, int entry)
  {
    matched = false;
    if (backtrack)
      return runBacktrack(from, entry);
    pos = from;
    prev = charBefore(from);
    nextKnown = false;
    newGeneration();
    List* clist = &lists[0];
    List* nlist = &lists[1];
    clist->clear();
    startThread(*clist, entry);
    if (matched && anyMatch)
      return true;
    const int stride = 1 + nSlots;
    while (pos < end && clist->size() > 0) {
      if (re.skipAhead_ && !matched && clist->size() == static_cast<uint64_t>(stride) &&
          (*clist)[0] == 0) {
        // Only the search loop is left: jump to where a match can begin.
        const char* q = skipToCandidate(pos);
        if (q == end)
          break;
        if (q != pos) {
          pos = q;
          prev = charBefore(q);
          nextKnown = false;
          newGeneration();
          clist->clear();
          startThread(*clist, re.searchStart_);
          continue;
        }
      }
      const char* p = pos;
      int32_t c = readAt(p);
      pos = p;
      prev = c;
      nextKnown = false;
      newGeneration();
      nlist->clear();
      cut = false;
      const int32_t* t = clist->data();
      const int32_t* tEnd = t + clist->size();
      for (; t < tEnd; t += stride) {
        int pc = t[0];
        if (!accepts(prog, pc, c, flags))
          continue;
        for (int i = 0; i < nSlots; i++)
          cur[i] = t[1 + i];
        addThread(*nlist, pc + instructionLength(prog, pc));
        if (cut)
          break;
      }
      if (matched && anyMatch)
        return true;
      List* l = clist;
      clist = nlist;
      nlist = l;
    }
    return matched;
  }

  const int32_t* slot() const { return best.data(); }
  const char* textEnd() const { return end; }

  // Bytes of the character at p, as the simulation reads it (at least 1).
  int charLength(const char* p) const
  {
    const char* q = p;
    readAt(q);
    return static_cast<int>(q - p);
  }

private:
  using List = SmallVector<int32_t, 336>;

  bool runBacktrack(const char* from, int entry)
  {
    // Earlier runs of the same call marked rows from their start on.
    int64_t firstRow = from - text;
    if (firstRow <= touchedRow) {
      int64_t stride = progLen + 1;
      uint64_t firstBit = static_cast<uint64_t>(firstRow * stride);
      uint64_t lastBit = static_cast<uint64_t>((touchedRow + 1) * stride);
      for (uint64_t w = firstBit / 64; w < (lastBit + 63) / 64; w++)
        done[w] = 0;
    }
    touchedRow = -1;
    bool anchored = entry != re.searchStart_;
    int body = anchored ? entry : re.anchoredStart_;
    for (const char* s = from;;) {
      if (tryAt(s, body))
        return true;
      if (anchored || s >= end)
        return false;
      s += charLength(s);
      if (re.skipAhead_) {
        s = skipToCandidate(s);
        if (s == end)
          return false;
      }
    }
  }

  // Follows every path from entry at start until one reaches the match.
  bool tryAt(const char* start, int entry)
  {
    const int stride = progLen + 1;
    for (int i = 0; i < nSlots; i++)
      cur[i] = -1;
    jobs.clear();
    jobs.push_back({entry, static_cast<int32_t>(start - text)});
    while (!jobs.empty()) {
      Job job = jobs.back();
      jobs.pop_back();
      if (job.pc < 0) {
        cur[-job.pc - 1] = job.pos;
        continue;
      }
      int pc = job.pc;
      int32_t at = job.pos;
      if (at > touchedRow)
        touchedRow = at;
      for (;;) {
        if (join[pc]) {
          uint64_t bit = static_cast<uint64_t>(at) * stride + pc;
          uint64_t mask = uint64_t(1) << (bit & 63);
          if (done[bit >> 6] & mask)
            break;
          done[bit >> 6] |= mask;
        }
        if (pc == progLen) {
          for (int i = 0; i < nSlots; i++)
            best[i] = cur[i];
          matched = true;
          return true;
        }
        int32_t w = static_cast<int32_t>(prog[pc]);
        if (w <= 0) {
          pc = -w;
          continue;
        }
        const char* p = text + at;
        bool pass = false;
        switch (w) {
        case opLineStart: {
          int32_t before = charBefore(p);
          pass = before == -1 || ((flags & multiline) && isLineBreak(before));
          break;
        }
        case opLineEnd:
          pass = p == end || ((flags & multiline) && isLineBreak(charAt(p)));
          break;
        case opWordBoundary:
        case opNotWordBoundary:
          pass = (isWordChar(charBefore(p)) != (p < end && isWordChar(charAt(p)))) ==
                 (w == opWordBoundary);
          break;
        case opForkTarget:
          jobs.push_back({pc + 2, at});
          pc = static_cast<int>(prog[pc + 1]);
          continue;
        case opForkNext:
          jobs.push_back({static_cast<int32_t>(prog[pc + 1]), at});
          pc += 2;
          continue;
        case opSave:
          if (static_cast<int>(prog[pc + 1]) < nSlots)
            setSlotBacktracking(static_cast<int>(prog[pc + 1]), at);
          pc += 2;
          continue;
        case opSaveReset:
          if (static_cast<int>(prog[pc + 1]) < nSlots) {
            setSlotBacktracking(static_cast<int>(prog[pc + 1]), at);
            clearSlotsBacktracking(static_cast<int>(prog[pc + 1]) + 1,
                                   static_cast<int>(prog[pc + 2]));
          }
          pc += 3;
          continue;
        case opReset:
          clearSlotsBacktracking(static_cast<int>(prog[pc + 1]), static_cast<int>(prog[pc + 2]));
          pc += 3;
          continue;
        default: {
          if (p >= end)
            break;
          int32_t c = readAt(p);
          if (!accepts(prog, pc, c, flags))
            break;
          at = static_cast<int32_t>(p - text);
          if (at > touchedRow)
            touchedRow = at;
          pc += instructionLength(prog, pc);
          continue;
        }
        }
        if (w >= opLineStart && w <= opNotWordBoundary && pass) {
          pc++;
          continue;
        }
        break;
      }
    }
    return false;
  }

  void setSlotBacktracking(int s, int32_t value)
  {
    jobs.push_back({-s - 1, cur[s]});
    cur[s] = value;
  }

  void clearSlotsBacktracking(int from, int count)
  {
    int to = from + count < nSlots ? from + count : nSlots;
    for (int s = from; s < to; s++)
      if (cur[s] != -1)
        setSlotBacktracking(s, -1);
  }

  int32_t charAt(const char* p) const { return p < end ? readAt(p) : kNoChar; }

  int32_t readAt(const char*& p) const
  {
    unsigned char b = static_cast<unsigned char>(*p++);
    if (b < 0x80)
      return b;
    int cp = utf8DecodeRest(b, &p, static_cast<int>(end - p + 1));
    return cp < 0 ? kNoChar : cp;
  }

  // The character ending just before p; -1 at the text start.
  int32_t charBefore(const char* p) const
  {
    if (p == text)
      return -1;
    if (static_cast<unsigned char>(p[-1]) < 0x80)
      return static_cast<unsigned char>(p[-1]);
    const char* lead = p - 1;
    while (lead > text && p - lead < 4 && (static_cast<unsigned char>(*lead) & 0xC0) == 0x80)
      lead--;
    const char* q = lead;
    int32_t c = readAt(q);
    return q == p ? c : kNoChar;
  }

  int32_t nextChar()
  {
    if (!nextKnown) {
      const char* q = pos;
      next = pos < end ? readAt(q) : kNoChar;
      nextKnown = true;
    }
    return next;
  }

  void newGeneration()
  {
    if (++generation == INT_MAX) {
      for (int32_t& v : visited)
        v = -1;
      generation = 0;
    }
  }

  const char* skipToCandidate(const char* p) const
  {
    for (; p < end; p++) {
      unsigned char b = static_cast<unsigned char>(*p);
      if (b >= 0x80) {
        if (re.highFirst_)
          return p;
      } else if (re.firstBytes_[b >> 6] & (uint64_t(1) << (b & 63))) {
        return p;
      }
    }
    return end;
  }

  void startThread(List& list, int entry)
  {
    for (int i = 0; i < nSlots; i++)
      cur[i] = -1;
    cut = false;
    addThread(list, entry);
  }

  void setSlot(int s, int32_t value)
  {
    stack.push_back(cur[s]);
    stack.push_back(-s - 1);
    cur[s] = value;
  }

  void clearSlots(int from, int count)
  {
    int to = from + count < nSlots ? from + count : nSlots;
    for (int s = from; s < to; s++)
      if (cur[s] != -1)
        setSlot(s, -1);
  }

  // Adds the threads reachable from pc at the current position, in
  // priority order, with the capture slots in cur.
  void addThread(List& list, int pc)
  {
    stack.clear();
    const int32_t offset = static_cast<int32_t>(pos - text);
    for (;;) {
      // Follow the preferred branch until it stops.
      for (;;) {
        if (join[pc]) {
          if (visited[pc] == generation)
            break;
          visited[pc] = generation;
        }
        if (pc == progLen) {
          for (int i = 0; i < nSlots; i++)
            best[i] = cur[i];
          matched = true;
          cut = true;
          return;
        }
        int32_t w = static_cast<int32_t>(prog[pc]);
        if (w <= 0) {
          pc = -w;
          continue;
        }
        bool pass = false;
        switch (w) {
        case opLineStart:
          pass = prev == -1 || ((flags & multiline) && isLineBreak(prev));
          break;
        case opLineEnd:
          pass = pos == end || ((flags & multiline) && isLineBreak(nextChar()));
          break;
        case opWordBoundary:
        case opNotWordBoundary:
          pass =
              (isWordChar(prev) != (pos < end && isWordChar(nextChar()))) == (w == opWordBoundary);
          break;
        case opForkTarget:
          stack.push_back(pc + 2);
          pc = static_cast<int>(prog[pc + 1]);
          continue;
        case opForkNext:
          stack.push_back(static_cast<int32_t>(prog[pc + 1]));
          pc += 2;
          continue;
        case opSave:
          if (static_cast<int>(prog[pc + 1]) < nSlots)
            setSlot(static_cast<int>(prog[pc + 1]), offset);
          pc += 2;
          continue;
        case opSaveReset:
          if (static_cast<int>(prog[pc + 1]) < nSlots) {
            setSlot(static_cast<int>(prog[pc + 1]), offset);
            clearSlots(static_cast<int>(prog[pc + 1]) + 1, static_cast<int>(prog[pc + 2]));
          }
          pc += 3;
          continue;
        case opReset:
          clearSlots(static_cast<int>(prog[pc + 1]), static_cast<int>(prog[pc + 2]));
          pc += 3;
          continue;
        default:
          // A character instruction waits for the next step.
          list.push_back(pc);
          for (int i = 0; i < nSlots; i++)
            list.push_back(cur[i]);
          break;
        }
        if (!pass)
          break;
        pc++;
      }
      // Back out to the most recent pending branch.
      for (;;) {
        if (stack.empty())
          return;
        int32_t v = stack.back();
        stack.pop_back();
        if (v >= 0) {
          pc = v;
          break;
        }
        cur[-v - 1] = stack.back();
        stack.pop_back();
      }
    }
  }

  const Regex& re;
  const uint32_t* prog;
  const uint8_t* join;
  int progLen;
  int nSlots;
  int flags;
  bool anyMatch;
  const char* text;
  const char* end;

  const char* pos = nullptr;
  int32_t prev = -1;
  int32_t next = kNoChar;
  bool nextKnown = false;
  int32_t generation = 0;
  bool matched = false;
  // Set when a match was recorded during the current step: threads of
  // lower priority are not continued.
  bool cut = false;

  // The backtracking form: one bit per (text position, program position),
  // rows of progLen + 1 bits; touchedRow is the last row the current run
  // marked.
  struct Job {
    int32_t pc; // below 0: restore slot -pc - 1 to pos
    int32_t pos;
  };
  static constexpr uint64_t kMaxBacktrackBits = 256 * 1024;
  bool backtrack = false;
  SmallVector<uint64_t, 128> done;
  SmallVector<Job, 64> jobs;
  int64_t touchedRow = -1;

  List lists[2];
  SmallVector<int32_t, 64> stack;
  SmallVector<int32_t, 128> visited;
  SmallVector<int32_t, 20> cur;
  SmallVector<int32_t, 20> best;
};

void Regex::setThreadListsOnly(bool on)
{
  threadListsOnly = on;
}

bool Regex::matchesAtStart(const char* text, const char* end) const
{
  if (!text)
    text = "";
  Matcher m(*this, text, end, 0, true);
  return m.run(text, anchoredStart_);
}

bool Regex::search(const char* text, const char* end) const
{
  if (!text)
    text = "";
  Matcher m(*this, text, end, 0, true);
  return m.run(text, searchStart_);
}

const char* Regex::exec(const char* text, const char** end, const char** starts, const char** ends,
                        int num) const
{
  if (!text)
    text = "";
  for (int i = 0; i < num; i++) {
    starts[i] = nullptr;
    ends[i] = nullptr;
  }
  int groups = num < groupCount_ ? num : groupCount_;
  if (groups < 0)
    groups = 0;
  Matcher m(*this, text, end ? *end : nullptr, 2 * groups + 2, false);
  if (!m.run(text, searchStart_)) {
    if (end)
      *end = nullptr;
    return nullptr;
  }
  const int32_t* s = m.slot();
  for (int i = 0; i < groups; i++) {
    if (s[2 * i + 2] >= 0 && s[2 * i + 3] >= 0) {
      starts[i] = text + s[2 * i + 2];
      ends[i] = text + s[2 * i + 3];
    }
  }
  if (end)
    *end = text + s[1];
  return text + s[0];
}

char* Regex::findMatch(const char* text) const
{
  const char* start = nullptr;
  const char* stop = nullptr;
  if (!exec(text, nullptr, &start, &stop, 1) || !start)
    return nullptr;
  return strDup(start, static_cast<int>(stop - start));
}

namespace {

// Appends the replacement with its '$' sequences expanded for the match
// whose slots are given (all groups' slots when the replacement names a
// group, else only the whole match's).
void expand(std::string& out, const char* replacement, const char* text, const char* textEnd,
            const int32_t* slots, int groupCount)
{
  for (const char* p = replacement; *p;) {
    const char* dollar = strchr(p, '$');
    if (!dollar) {
      out.append(p);
      return;
    }
    out.append(p, dollar - p);
    p = dollar + 1;
    char c = *p;
    if (c == '$') {
      out += '$';
      p++;
    } else if (c == '&') {
      out.append(text + slots[0], slots[1] - slots[0]);
      p++;
    } else if (c == '`') {
      out.append(text, slots[0]);
      p++;
    } else if (c == '\'') {
      out.append(text + slots[1], textEnd);
      p++;
    } else if (c >= '0' && c <= '9') {
      const char* q = p;
      long n = 0;
      for (; *q >= '0' && *q <= '9'; q++)
        if (n <= groupCount)
          n = n * 10 + (*q - '0');
      if (n >= 1 && n <= groupCount) {
        int32_t s = slots[2 * n], e = slots[2 * n + 1];
        if (s >= 0 && e >= 0)
          out.append(text + s, e - s);
        p = q;
      } else {
        out += '$';
      }
    } else {
      out += '$';
    }
  }
}

bool namesGroup(const char* replacement)
{
  for (const char* p = strchr(replacement, '$'); p; p = strchr(p + 1, '$'))
    if (p[1] >= '0' && p[1] <= '9')
      return true;
  return false;
}

} // namespace

void Regex::replace(const char* text, const char* replacement, DString& out, bool copyText,
                    int maxCount) const
{
  if (!text)
    text = "";
  if (!replacement)
    replacement = "";
  bool allGroups = namesGroup(replacement);
  Matcher m(*this, text, nullptr, allGroups ? 2 * groupCount_ + 2 : 2, false);
  const char* textEnd = m.textEnd();
  // Built here and appended once: a DString measures itself on every
  // append.
  std::string result;
  const char* copied = text;
  const char* from = text;
  for (int count = 0; count < maxCount && m.run(from, searchStart_); count++) {
    const int32_t* s = m.slot();
    const char* start = text + s[0];
    const char* stop = text + s[1];
    if (copyText)
      result.append(copied, start);
    expand(result, replacement, text, textEnd, s, allGroups ? groupCount_ : 0);
    copied = stop;
    if (start != stop) {
      from = stop;
    } else {
      if (stop == textEnd)
        break;
      // A whole character on, so an empty match never splits one.
      from = stop + m.charLength(stop);
    }
  }
  if (copyText)
    result.append(copied, textEnd);
  out.append(result.c_str(), static_cast<int>(result.size()));
}

std::vector<String> Regex::split(const char* text) const
{
  if (!text)
    text = "";
  std::vector<String> pieces;
  Matcher m(*this, text, nullptr, 2 * groupCount_ + 2, false);
  const char* textEnd = m.textEnd();
  if (text == textEnd) {
    // An empty text that the pattern matches has no pieces.
    if (!m.run(text, searchStart_))
      pieces.emplace_back("");
    return pieces;
  }
  const char* pieceStart = text;
  const char* from = text;
  while (m.run(from, searchStart_)) {
    const int32_t* s = m.slot();
    const char* start = text + s[0];
    const char* stop = text + s[1];
    if (start == stop) {
      if (stop == textEnd)
        break;
      from = stop + m.charLength(stop);
      if (start == pieceStart)
        continue;
    } else {
      from = stop;
    }
    pieces.emplace_back(pieceStart, static_cast<int>(start - pieceStart));
    for (int g = 1; g <= groupCount_; g++) {
      if (s[2 * g] >= 0 && s[2 * g + 1] >= 0)
        pieces.emplace_back(text + s[2 * g], s[2 * g + 1] - s[2 * g]);
      else
        pieces.emplace_back();
    }
    pieceStart = stop;
  }
  pieces.emplace_back(pieceStart, static_cast<int>(textEnd - pieceStart));
  return pieces;
}

String Regex::escapeLiteral(const char* text, bool delimited)
{
  std::string out;
  const char* p = text ? text : "";
  if (*p >= '0' && *p <= '9') {
    // Cannot extend a preceding escape into a decimal one.
    out += "\\u003";
    out += *p++;
  }
  while (*p) {
    const char* start = p;
    unsigned char b = static_cast<unsigned char>(*p++);
    if (b < 0x80) {
      if (strchr("$()*+.?[\\]^{|}", b)) {
        out += '\\';
        out += static_cast<char>(b);
      } else if (delimited && b == '\n') {
        out += "\\n";
      } else if (delimited && b == '\r') {
        out += "\\r";
      } else if (delimited && b == '/') {
        out += "\\/";
      } else {
        out += static_cast<char>(b);
      }
      continue;
    }
    int cp = utf8DecodeRest(b, &p, 4);
    if (cp < 0)
      out += "[]";
    else if (delimited && cp == 0x2028)
      out += "\\u2028";
    else if (delimited && cp == 0x2029)
      out += "\\u2029";
    else
      out.append(start, p);
  }
  return String(out.c_str(), static_cast<int>(out.size()));
}

} // namespace plat
