#!/usr/bin/python3
"""Reference of the font layer's line splitting, from its five rules.

stdin: JSON {"widths": {"<char>": w, ...}, "cases": [[text, maxWidth,
keepNewline, breakWords], ...]}; stdout: one line per case, the widest
width and then each line's UTF-8 bytes in hex ("-" for an empty line)."""
import json
import sys


def split(text, max_width, keep, break_words, widths):
    limit = max_width if max_width > 0 else 2 ** 31 - 1
    lines, widest = [], 0
    start, width, brk, brk_width, after_white = 0, 0, None, 0, False

    def end_line(a, b, w):
        nonlocal widest
        lines.append(text[a:b])
        widest = max(widest, w)

    for i, c in enumerate(text + "\0"):
        if c == "\0":  # rule 1
            end_line(start, i, width)
            break
        w = 0 if c == "\n" else widths[c]
        if brk is not None and width + w > limit:  # rule 2: word wrap
            end_line(start, brk, brk_width)
            start, width, brk = brk, width - brk_width, None
        if c == "\n":  # rule 3
            end_line(start, i + 1 if keep else i, width)
            start, width, brk, after_white = i + 1, 0, None, False
            continue
        if break_words and width + w > limit and i > start:  # rule 4
            end_line(start, i, width)
            start, width, brk = i, 0, None
        if c in " \t\r":  # rule 5
            after_white = True
        elif after_white:
            brk, brk_width, after_white = i, width, False
        width += w
    return widest, lines


def main():
    req = json.load(sys.stdin)
    for text, max_width, keep, break_words in req["cases"]:
        widest, lines = split(text, max_width, keep, break_words, req["widths"])
        print(" ".join([str(widest)] + [line.encode().hex() or "-" for line in lines]))


main()
