"""Random well-formed string files and what GNU gettext reads from them.

Usage: loc_po_peer.py DIR COUNT SEED
Writes DIR/caseN.po (N = 0..COUNT-1), compiles each with msgfmt, loads the
result with the gettext module and writes DIR/caseN.map: one line per
translated entry, "hex(key) hex(text)" in UTF-8 (the header excluded).
Exits 77 when msgfmt is missing.
"""
import gettext
import random
import shutil
import subprocess
import sys

PIECES = ["a", "b", "Z", " ", "  ", "%S", "%1$S", "%%", "word", "\u00e9", "\u00f1",
          "\u65e5\u672c", "\U0001f600", "\n", "\t", '"', "\\", "'", "?", "\a", "\b",
          "\f", "\v", "#", "msgid", ":"]
ESCAPES = {"\n": "\\n", "\t": "\\t", '"': '\\"', "\\": "\\\\", "\a": "\\a",
           "\b": "\\b", "\f": "\\f", "\v": "\\v"}


def text(rng, allow_empty):
    # msgfmt wants msgid and msgstr to agree on a leading or trailing line
    # feed; having neither keeps every entry acceptable.
    while True:
        n = rng.randint(0 if allow_empty else 1, 6)
        s = "".join(rng.choice(PIECES) for _ in range(n)).strip("\n")
        if s or allow_empty:
            return s


def quote(rng, s):
    out = []
    for c in s:
        if c in ESCAPES:
            out.append(ESCAPES[c])
        else:
            out.append(c)
    return '"' + "".join(out) + '"'


def lines_for(rng, word, s):
    """The keyword line and its continuations, cut at random places."""
    cuts = sorted(rng.sample(range(len(s) + 1), min(len(s) + 1, rng.randint(0, 3))))
    parts, last = [], 0
    for c in cuts:
        parts.append(s[last:c])
        last = c
    parts.append(s[last:])
    if rng.random() < 0.3:
        parts.insert(0, "")
    out = [word + " " + quote(rng, parts[0])]
    out += [quote(rng, p) for p in parts[1:]]
    return out


def make_file(rng):
    lines = ['# header comment', 'msgid ""', 'msgstr ""',
             '"Content-Type: text/plain; charset=UTF-8\\n"', '']
    keys = set()
    for _ in range(rng.randint(1, 15)):
        key = text(rng, False)
        if key in keys:
            continue
        keys.add(key)
        if rng.random() < 0.3:
            lines.append(rng.choice(["# translator", "#. extracted", "#: src.cpp:12"]))
        lines += lines_for(rng, "msgid", key)
        lines += lines_for(rng, "msgstr", text(rng, True))
        lines += [""] * rng.choice([0, 1, 1, 1, 2])
    return "\n".join(lines) + rng.choice(["", "\n"])


def main():
    if not shutil.which("msgfmt"):
        sys.exit(77)
    out_dir, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    for i in range(count):
        base = "%s/case%d" % (out_dir, i)
        with open(base + ".po", "w", encoding="utf-8") as f:
            f.write(make_file(rng))
        subprocess.run(["msgfmt", "-o", base + ".mo", base + ".po"], check=True)
        with open(base + ".mo", "rb") as f:
            catalog = gettext.GNUTranslations(f)._catalog
        with open(base + ".map", "w") as f:
            for k, v in sorted(catalog.items()):
                if k != "":
                    f.write("%s %s\n" % (k.encode().hex(), v.encode().hex()))


main()
