#!/usr/bin/python3
"""Generates the keysym tables of tlcore/base/rfb from X11's keysymdef.h.

    gen_keysym_tables.py [keysymdef.h] [output folder]

Writes KeysymTables.cpp (the keysym/code point pairs, the dead-key symbols and
the combination tables) and KeysymNames.h (named keysym constants). Both are
committed; the build does not need the header (Debian's x11proto-dev).

Pairs come from the header's Unicode comments: "U+XXXX" exactly, "(U+XXXX)"
approximately. Combinations come from keysym names: a result named after a
base letter plus an accent ("Eacute", "Greek_ALPHAaccent") combines that
accent's dead key with the base; a dead key and space give the spacing accent.
"""
import collections
import re
import sys

HEADER = sys.argv[1] if len(sys.argv) > 1 else "/usr/include/X11/keysymdef.h"
OUT = sys.argv[2] if len(sys.argv) > 2 else "tlcore/base/rfb"

DEFINE = re.compile(r"^#define XK_(\w+)\s+0x([0-9a-fA-F]+)\s*(/\*(.*?)\*/)?")

# Legacy sets and the number of pairs each contributes.
SETS = [(0x01, 57), (0x02, 22), (0x03, 35), (0x04, 64), (0x05, 48), (0x06, 93),
        (0x07, 71), (0x08, 39), (0x09, 23), (0x0A, 77), (0x0B, 8), (0x0C, 28),
        (0x0D, 83), (0x0E, 91), (0x13, 3), (0x20, 1)]

FUNCTION_KEYS = [(0xFF08, 0x08), (0xFF09, 0x09), (0xFF0D, 0x0A), (0xFF1B, 0x1B),
                 (0xFFFF, 0x7F)]

# Pairs the header gives that the table leaves out.
EXCLUDED = {
    0x06AD: "Ukrainian_ghe_with_upturn: a later addition to the Cyrillic set",
    0x06BD: "Ukrainian_GHE_WITH_UPTURN: a later addition to the Cyrillic set",
    0x0AAC: "signifblank: U+2423 is only a picture of the blank",
    0x0BCC: "quad: the APL set keeps its tacks, stiles, jot and circle",
}

DEAD = {  # accent name in keysym names -> dead keysym
    "grave": 0xFE50, "acute": 0xFE51, "circumflex": 0xFE52, "tilde": 0xFE53,
    "macron": 0xFE54, "breve": 0xFE55, "abovedot": 0xFE56, "diaeresis": 0xFE57,
    "abovering": 0xFE58, "doubleacute": 0xFE59, "caron": 0xFE5A, "cedilla": 0xFE5B,
    "ogonek": 0xFE5C, "belowdot": 0xFE60, "hook": 0xFE61, "horn": 0xFE62,
    "stroke": 0xFE63, "accentdieresis": 0x1000344,
}
# Name suffixes that spell an accent differently.
SUFFIX_ALIASES = {"dieresis": "diaeresis", "ring": "abovering", "accent": "acute"}

# Dead-key symbols {spacing, dead}, in lookup order.
DEAD_SYMBOLS = [
    (0x60, 0xFE50), (0x27, 0xFE51), (0xB4, 0xFE51), (0x1000384, 0xFE51),
    (0x5E, 0xFE52), (0x7E, 0xFE53), (0xAF, 0xFE54), (0x1A2, 0xFE55), (0x1FF, 0xFE56),
    (0x22, 0xFE57), (0xA8, 0xFE57), (0xB0, 0xFE58), (0x1BD, 0xFE59), (0x1B7, 0xFE5A),
    (0xB8, 0xFE5B), (0x1B2, 0xFE5C), (0x10002DA, 0xFE58), (0x7AE, 0x1000344),
    (0x10002C6, 0xFE52), (0x10002DC, 0xFE53),
]

# Combination tables: (first result, last result, accents used).
COMBINATION_TABLES = [
    (0x22, 0xFF, ["grave", "acute", "circumflex", "tilde", "diaeresis", "abovering", "cedilla"]),
    (0x1A1, 0x1FF, ["acute", "breve", "abovedot", "abovering", "doubleacute", "caron",
                    "cedilla", "ogonek", "stroke"]),
    (0x2A1, 0x2FE, ["circumflex", "breve", "abovedot", "stroke"]),
    (0x3A3, 0x3FE, ["tilde", "macron", "abovedot", "cedilla", "ogonek"]),
    (0x1000174, 0x1001EF3, ["grave", "acute", "circumflex", "abovedot", "diaeresis"]),
    (0x13BE, 0x13BE, ["diaeresis"]),
    (0x7A1, 0x7BB, ["acute", "diaeresis", "accentdieresis"]),
]
COUNTS = [62, 57, 21, 30, 26, 1, 21]
# The Unicode keysyms that combine are those of the Latin-8 (Celtic) set.
UNICODE_SECTION = "LATIN8"
SECTION = {}  # keysym -> header section that defines it first


def read_header():
    names = {}      # name -> keysym, first definition of each name
    exact, approx = [], []
    section = None
    for line in open(HEADER, encoding="latin-1"):
        s = re.match(r"#ifdef XK_(\w+)", line)
        if s:
            section = s.group(1)
        m = DEFINE.match(line)
        if not m:
            continue
        name, value, comment = m.group(1), int(m.group(2), 16), m.group(4) or ""
        names.setdefault(name, value)
        SECTION.setdefault(value, section)
        u = re.match(r"\s*U\+([0-9A-F]{4,6})", comment)
        a = re.match(r"\s*\(U\+([0-9A-F]{4,6})", comment)
        if u:
            exact.append((value, int(u.group(1), 16), name))
        elif a:
            approx.append((value, int(a.group(1), 16), name))
    return names, exact, approx


def legacy_set(keysym):
    return keysym >> 8 if 0x100 <= keysym < 0x2100 and (keysym >> 8) in dict(SETS) else None


def build_pairs(exact, approx):
    # Exact pairs first; an approximate one enters only when its code point is
    # not taken and is not Latin-1 (which is its own keysym).
    seen_keysym, seen_ucs, pairs = set(), set(), []
    for v, u in FUNCTION_KEYS:
        seen_keysym.add(v)
        seen_ucs.add(u)
        pairs.append((v, u))
    candidates = [(v, u, n, True) for v, u, n in exact] + \
                 [(v, u, n, False) for v, u, n in approx if u > 0xFF]
    for v, u, n, _ in candidates:
        if legacy_set(v) is None or v in EXCLUDED or v in seen_keysym or u in seen_ucs:
            continue
        seen_keysym.add(v)
        seen_ucs.add(u)
        pairs.append((v, u))
    counts = collections.Counter(legacy_set(v) for v, _ in pairs[len(FUNCTION_KEYS):])
    for s, n in SETS:
        if counts[s] != n:
            sys.exit("set 0x%02X: %d pairs, expected %d" % (s, counts[s], n))
    head = pairs[:len(FUNCTION_KEYS)]
    return head + sorted(pairs[len(FUNCTION_KEYS):])


def split_accent(name):
    """("Eacute") -> ("E", "acute"); the longest accent suffix wins."""
    best = None
    for suffix in list(DEAD) + list(SUFFIX_ALIASES):
        if name.endswith(suffix) and len(name) > len(suffix):
            if best is None or len(suffix) > len(best):
                best = suffix
    if best is None:
        return None
    return name[: -len(best)], SUFFIX_ALIASES.get(best, best)


def base_keysym(base, names):
    if len(base) == 1 and base.isalpha():
        return ord(base)
    if base.startswith("Greek_") and base in names:
        return names[base]
    return None


def build_combinations(names):
    by_keysym = collections.defaultdict(list)
    for name, v in names.items():
        by_keysym[v].append(name)
    tables = []
    for (first, last, accents), expected in zip(COMBINATION_TABLES, COUNTS):
        entries = set()
        for v in sorted(k for k in by_keysym if first <= k <= last):
            if v > 0xFFFF and SECTION.get(v) != UNICODE_SECTION:
                continue
            for name in by_keysym.get(v, []):
                split = split_accent(name)
                if not split or split[1] not in accents:
                    continue
                base = base_keysym(split[0], names)
                if base is not None:
                    entries.add((v, DEAD[split[1]], base))
        # A dead key and space give each legacy spacing form inside the
        # table's range.
        for spacing, dead in DEAD_SYMBOLS:
            if spacing <= 0xFFFF and first <= spacing <= last and dead in [DEAD[a] for a in accents]:
                entries.add((spacing, dead, 0x20))
        entries = sorted(entries)
        if len(entries) != expected:
            sys.exit("table 0x%X-0x%X: %d entries, expected %d:\n%s" % (
                first, last, len(entries), expected,
                "\n".join("%x %x %x" % e for e in entries)))
        tables.append(entries)
    return tables


def constant_names(names):
    # Function, modifier, keypad and dead keys, Multi_key, and the volume
    # keys: the keysyms widgets name.
    out = {}
    for name, v in names.items():
        if 0xFE00 <= v <= 0xFFFF:
            out.setdefault(v, name)
    out.setdefault(0x1000344, "dead_accentdieresis")
    for v, n in ((0x1008FF11, "XF86AudioLowerVolume"), (0x1008FF12, "XF86AudioMute"),
                 (0x1008FF13, "XF86AudioRaiseVolume")):
        out[v] = n
    return sorted(out.items())


def main():
    names, exact, approx = read_header()
    pairs = build_pairs(exact, approx)
    assert len(pairs) == 748, len(pairs)
    tables = build_combinations(names)

    cpp = ["// Generated by tools/gen_keysym_tables.py from X11's keysymdef.h; do not edit.",
           '#include "rfb/KeysymTables.h"', "", "namespace rfb {", "",
           "const KeysymPair kKeysymPairs[%d] = {" % len(pairs)]
    cpp += ["  {0x%x, 0x%x}," % p for p in pairs]
    cpp += ["};", "", "const DeadKeySymbol kBuiltInDeadSymbols[%d] = {" % len(DEAD_SYMBOLS)]
    cpp += ["  {0x%x, 0x%x}," % p for p in DEAD_SYMBOLS]
    cpp += ["};", ""]
    for i, t in enumerate(tables):
        cpp += ["static const Combination kComb%d[%d] = {" % (i + 1, len(t))]
        cpp += ["  {0x%x, 0x%x, 0x%x}," % e for e in t]
        cpp += ["};", ""]
    cpp += ["const CombinationTable kBuiltInCombinations[%d] = {" % len(tables)]
    cpp += ["  {%d, kComb%d}," % (len(t), i + 1) for i, t in enumerate(tables)]
    cpp += ["};", "", "} // namespace rfb", ""]
    open(OUT + "/KeysymTables.cpp", "w").write("\n".join(cpp))

    h = ["// Generated by tools/gen_keysym_tables.py from X11's keysymdef.h; do not edit.",
         "// Named keysyms for the keys widgets handle (without X11's XK_ prefix, so",
         "// the names never meet its macros).",
         "#pragma once", "", "#include <stdint.h>", "", "namespace rfb {", "namespace keysym {", ""]
    h += ["constexpr uint32_t %s = 0x%x;" % (n, v) for v, n in constant_names(names)]
    h += ["", "} // namespace keysym", "} // namespace rfb", ""]
    open(OUT + "/KeysymNames.h", "w").write("\n".join(h))


if __name__ == "__main__":
    main()
