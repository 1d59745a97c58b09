// Line layout of parsed markup: greedy filling of lines through a guided
// search over break positions, so that each line costs a few width
// measurements instead of one per word.
#include <limits.h>
#include <string.h>

#include <algorithm>

#include "plat/MarkupParser.h"

namespace plat {
namespace Markup {

namespace {

constexpr int kUnlimited = INT_MAX;
// After this many estimate-guided probes a search halves its window, so a
// poor estimate costs a logarithmic number of measurements at worst.
constexpr int kGuidedProbes = 3;

int clampToInt(long long v)
{
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
}

bool isBlank(char ch)
{
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

} // namespace

struct Layout::Fit {
  const char* begin;
  const char* end;
  int width;
};

Layout::Layout(Callback* callback, int maxWidth)
    : callback_(callback), maxWidth_(maxWidth > 0 ? maxWidth : kUnlimited)
{
}

void Layout::beginParagraph(int align, float padLeft, float padRight)
{
  callback_->beginParagraph(align, padLeft, padRight);
  int unit = callback_->lineHeight();
  // Paddings come from outside text: anything that is not a number of
  // pixels within the width (nan, negative, huge) is clamped before the
  // conversion to int.
  auto toPx = [&](float pad) {
    double px = (double)pad * unit;
    if (!(px > 0))
      return 0;
    return px >= maxWidth_ ? maxWidth_ : (int)px;
  };
  padLeftPx_ = toPx(padLeft);
  padRightPx_ = toPx(padRight);
  lineWidth_ = clampToInt((long long)maxWidth_ - padRightPx_ - padLeftPx_);
  x_ = padLeftPx_;
  if (paragraphs_ == 0) {
    paragraphs_ = 1;
  } else {
    y_ = clampToInt((long long)y_ + callback_->paragraphSpacing() + lineHeight_);
    paragraphs_++;
  }
  lineIndex_++;
  lineHeight_ = 0;
}

void Layout::endParagraph(bool)
{
  callback_->endParagraph(padLeftPx_, padRightPx_);
}

void Layout::text(const Style& style, const char* text)
{
  callback_->setStyle(style, nullptr, text);
  layOut(text, nullptr);
}

void Layout::link(const Style& style, const char* href, const char* text)
{
  callback_->setStyle(style, href, text);
  layOut(text ? text : href, href);
}

void Layout::endDocument()
{
  callback_->finish();
}

void Layout::newLine()
{
  x_ = padLeftPx_;
  y_ = clampToInt((long long)y_ + lineHeight_);
  lineIndex_++;
  lineHeight_ = 0;
}

void Layout::layOut(const char* text, const char* href)
{
  int h = callback_->lineHeight();
  if (!text || !*text)
    return;
  const char* end = text + strlen(text);
  const char* c = text;
  for (;;) {
    const char* s = (const char*)memchr(c, '\n', end - c);
    if (!s)
      s = end;
    Fit fit;
    if (!fitSegment(c, s, (long long)lineWidth_ - x_, fit))
      return; // not even one character fits: the rest is dropped
    Rect rect{x_, y_, clampToInt((long long)x_ + fit.width), clampToInt((long long)y_ + h)};
    if (href)
      callback_->drawLink(href, fit.begin, fit.end, rect);
    else
      callback_->drawText(fit.begin, fit.end, rect);
    x_ = rect.right;
    extentRight_ = std::max(extentRight_, rect.right);
    extentBottom_ = std::max(extentBottom_, rect.bottom);
    lineHeight_ = std::max(lineHeight_, h);
    if (fit.end == end)
      return; // the next run goes on on this line
    newLine();
    if (fit.end == s) {
      c = s + 1; // after a LF, leading whitespace is the text's own
    } else {
      c = fit.end;
      while (c < end && isBlank(*c))
        c++;
    }
  }
}

bool Layout::fitSegment(const char* c, const char* s, long long space, Fit& fit)
{
  fit = Fit{c, c, 0};
  if (c == s || search(c, s, space, false, fit))
    return true;
  if (x_ != padLeftPx_) {
    // No word fits behind the text already on this line: try a fresh line.
    long long used = (long long)x_ - padLeftPx_;
    newLine();
    while (c < s && isBlank(*c))
      c++;
    space += used;
    fit = Fit{c, c, 0};
    if (c == s || search(c, s, space, false, fit))
      return true;
  }
  // A word longer than the line is broken between characters.
  return search(c, s, space, true, fit);
}

// Finds the longest fitting part [c, b) of [c, s) whose end b is a break:
// the start of a whitespace run (words) or of a UTF-8 character (chars), or
// s itself. Widths grow with b, so the candidates fit up to some point; the
// probes are guided by the pixels-per-byte estimate, then halve the window.
bool Layout::search(const char* c, const char* s, long long space, bool chars, Fit& fit)
{
  const long long n = s - c;
  auto isBreak = [&](long long q) {
    if (q == n)
      return true;
    if (chars)
      return ((unsigned char)c[q] & 0xC0) != 0x80;
    return isBlank(c[q]) && !isBlank(c[q - 1]);
  };
  // Undecided candidates are the breaks in [lo, hi); best fits.
  long long lo = 1, hi = n + 1, best = 0;
  int bestWidth = 0;
  for (int round = 0; lo < hi; round++) {
    long long probe;
    if (round < kGuidedProbes) {
      double guess = space / estimate_;
      probe = guess <= 0 ? 0 : guess >= (double)INT_MAX ? INT_MAX : (long long)guess;
    } else {
      probe = lo + (hi - lo) / 2;
    }
    probe = std::min(std::max(probe, lo), hi - 1);
    long long next = probe;
    while (next < hi && !isBreak(next))
      next++;
    bool forward = next < hi;
    if (!forward) {
      // No break from the probe on: take the last one before it.
      next = probe - 1;
      while (next >= lo && !isBreak(next))
        next--;
      if (next < lo)
        break;
    }
    int w = callback_->textWidth(c, c + next);
    if (w != 0)
      estimate_ = std::max(0.01, (double)w / (double)next);
    if (w > space) {
      // No break in [probe, next) either, so all from the probe on fail.
      hi = forward ? probe : next;
    } else {
      best = next;
      bestWidth = w;
      if (next == n)
        break;
      lo = next + 1;
    }
  }
  if (best == 0)
    return false;
  fit.begin = c;
  fit.end = c + best;
  fit.width = bestWidth;
  return true;
}

} // namespace Markup
} // namespace plat
