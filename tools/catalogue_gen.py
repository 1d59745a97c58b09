#!/usr/bin/env python3
"""Checks message catalogue data files and turns them into C++.

    catalogue_gen.py generate DATA SOURCE HEADER [--function NAME]
    catalogue_gen.py check STAMP DATA...

"generate" checks one <module>.catalogue and writes the unit that registers
its texts and the header that declares the module's registration routine
(<module>::LocStringsInit, or the function NAME). "check" checks every data
file of the program together (a key belongs to one module only) and touches
STAMP. A refused file gets one "file:line: key: reason" line per fault and
exit status 1; nothing is written then.

The data format: '#' comment lines, blank lines, "module <name>", "prefix
<prefix>", then one block per key in ascending byte order: "key <key>"
followed by exactly the lines "en <text>", "de ...", "es ...", "fr ...",
"pt ...". In a text "\\n" is a line break and "\\\\" a backslash. Refused:
text that is not strictly valid UTF-8 (non-characters included), a missing
or misplaced language, an empty text, a placeholder the formatter would
reject, placeholders that differ from the English ones, a key outside the
prefix, keys out of ascending byte order.

Standard library only: the build runs it with whatever Python 3 it finds.
"""

import argparse
import os
import re
import sys

FILE_LANGUAGES = ("en", "de", "es", "fr", "pt")
# The store gets all keys of one language before the next, in this order.
REGISTER_LANGUAGES = ("de", "es", "fr", "en", "pt")

KEY_RE = re.compile(r"[A-Za-z0-9_]+\Z")
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


class Entry:
    def __init__(self, key, line):
        self.key = key
        self.line = line
        self.texts = {}


class Catalogue:
    def __init__(self, path):
        self.path = path
        self.module = None
        self.prefix = None
        self.entries = []


def where(path, line, key=None):
    return "%s:%d: %s" % (path, line, key + ": " if key else "")


def is_noncharacter(cp):
    return 0xFDD0 <= cp <= 0xFDEF or (cp & 0xFFFE) == 0xFFFE


def decode_line(raw, is_text=False):
    """The line as text, or the reason why it is refused: bytes that are not
    strictly valid UTF-8 (Python's decoder already refuses over-long forms,
    surrogates and values above U+10FFFF; non-characters are refused here
    as the store refuses them), and in a text control characters."""
    try:
        text = raw.decode("utf-8", "strict")
    except UnicodeDecodeError as e:
        return None, "invalid UTF-8 (byte 0x%02x at column %d)" % (raw[e.start], e.start + 1)
    for col, ch in enumerate(text, 1):
        cp = ord(ch)
        if is_noncharacter(cp):
            return None, "invalid UTF-8 (non-character U+%04X at column %d)" % (cp, col)
        if is_text and (cp < 0x20 or cp == 0x7F):
            return None, "control character U+%04X at column %d (write a line break as \\n)" % (cp, col)
    return text, None


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "n\\":
            out.append("\n" if text[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def placeholders(text):
    """The set of placeholders of a text in canonical form ("%1$+.3S"), read
    as the formatter reads them: after '%', at most one each of a position
    "N$", a sign '+' and a precision ".N" in any order, then 'S', 'D' or
    'X'; "%%" is a plain '%'. Raises ValueError for what the formatter would
    mark as a bad placeholder."""
    found = set()
    i = 0
    n = len(text)
    while True:
        i = text.find("%", i)
        if i < 0:
            return found
        if text.startswith("%%", i):
            i += 2
            continue
        start = i
        i += 1
        pos = prec = None
        sign = False
        while True:
            if i >= n:
                raise ValueError("placeholder '%s' has no conversion letter" % text[start:])
            c = text[i]
            if c == "+" and not sign:
                sign = True
                i += 1
                continue
            if c == "." and prec is None:
                m = re.match(r"[0-9]+", text[i + 1:])
                if m and int(m.group()) > 0:
                    prec = int(m.group())
                    i += 1 + len(m.group())
                    continue
            if c in "0123456789" and pos is None:
                m = re.match(r"[0-9]+", text[i:])
                j = i + len(m.group())
                if int(m.group()) == 0 or not text.startswith("$", j):
                    raise ValueError("bad placeholder '%s' (a position is N$ with N >= 1; write a "
                                     "plain %% as %%%%)" % text[start:j + 1])
                pos = int(m.group())
                i = j + 1
                continue
            break
        conv = text[i]
        fmt_item = text[start:i + 1]
        if conv not in "SDX":
            raise ValueError("bad placeholder '%s' (the conversion is S, D or X; write a plain %% "
                             "as %%%%)" % fmt_item)
        if prec is not None and conv != "S":
            raise ValueError("bad placeholder '%s' (a precision needs S)" % fmt_item)
        if sign and conv != "D":
            raise ValueError("bad placeholder '%s' (a sign needs D)" % fmt_item)
        found.add("%" + ("%d$" % pos if pos else "") + ("+" if sign else "") +
                  (".%d" % prec if prec else "") + conv)
        i += 1


def parse(path):
    """Reads and checks one data file; returns the Catalogue and the list of
    refusals."""
    cat = Catalogue(path)
    faults = []

    def refuse(line, msg, key=None):
        faults.append(where(path, line, key) + msg)

    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return cat, ["%s: cannot read: %s" % (path, e.strerror)]

    raw_lines = data.split(b"\n")
    if raw_lines and raw_lines[-1] == b"":
        raw_lines.pop()
    lines = [l[:-1] if l.endswith(b"\r") else l for l in raw_lines]

    stem = os.path.basename(path)
    if stem.endswith(".catalogue"):
        stem = stem[: -len(".catalogue")]
    last_key = None
    i = 0
    while i < len(lines):
        no = i + 1
        text, bad = decode_line(lines[i])
        i += 1
        if bad:
            refuse(no, bad)
            continue
        if text == "" or text.startswith("#"):
            continue
        word, _, rest = text.partition(" ")
        if word == "module":
            if cat.module is not None or cat.entries:
                refuse(no, "'module' must come once, before the keys")
            elif not IDENT_RE.match(rest):
                refuse(no, "module name '%s' is not an identifier" % rest)
            elif rest != stem:
                refuse(no, "module '%s' must be in a file named %s.catalogue" % (rest, rest))
            cat.module = rest
            continue
        if word == "prefix":
            if cat.prefix is not None or cat.entries:
                refuse(no, "'prefix' must come once, before the keys")
            elif not KEY_RE.match(rest):
                refuse(no, "prefix '%s' is not a key word" % rest)
            cat.prefix = rest
            continue
        if word in FILE_LANGUAGES:
            refuse(no, "'%s' text outside a key block" % word)
            continue
        if word != "key":
            refuse(no, "unknown line '%s'" % text[:40])
            continue

        key = rest
        entry = Entry(key, no)
        block_ok = True
        if cat.module is None or cat.prefix is None:
            refuse(no, "'module' and 'prefix' must come before the keys", key)
            block_ok = False
        elif not KEY_RE.match(key):
            refuse(no, "a key is made of letters, digits and '_'", key)
            block_ok = False
        elif not key.startswith(cat.prefix) or key == cat.prefix:
            refuse(no, "key is outside the module's prefix '%s'" % cat.prefix, key)
            block_ok = False
        elif last_key is not None and key.encode() <= last_key.encode():
            if key == last_key:
                refuse(no, "duplicate key", key)
            else:
                refuse(no, "keys out of ascending byte order (comes after %s)" % last_key, key)
            block_ok = False
        if KEY_RE.match(key):
            last_key = key

        # Exactly the five language lines follow, in file order.
        for lang in FILE_LANGUAGES:
            lno = i + 1
            if i >= len(lines):
                refuse(no, "missing the '%s' text (end of file)" % lang, key)
                block_ok = False
                break
            raw = lines[i]
            if not raw.startswith(lang.encode() + b" "):
                head = raw.split(b" ", 1)[0].decode("utf-8", "replace")
                refuse(lno, "missing the '%s' text (found '%s'; the block is en, de, es, fr, pt)"
                       % (lang, head[:20]), key)
                block_ok = False
                break
            i += 1
            body, bad = decode_line(raw[3:], True)
            if bad:
                refuse(lno, "%s text: %s" % (lang, bad), key)
                block_ok = False
                continue
            value = unescape(body)
            if value == "":
                refuse(lno, "empty %s text" % lang, key)
                block_ok = False
            entry.texts[lang] = (value, lno)
        if not block_ok:
            continue

        # Every language fills the same arguments.
        sets = {}
        for lang in FILE_LANGUAGES:
            value, lno = entry.texts[lang]
            try:
                sets[lang] = placeholders(value)
            except ValueError as e:
                refuse(lno, "%s text: %s" % (lang, e), key)
                block_ok = False
        if not block_ok:
            continue
        want = sets["en"]
        for lang in FILE_LANGUAGES[1:]:
            if sets[lang] != want:
                refuse(entry.texts[lang][1], "%s placeholders {%s} differ from en {%s}" % (
                    lang, ", ".join(sorted(sets[lang])), ", ".join(sorted(want))), key)
                block_ok = False
        if block_ok:
            cat.entries.append(entry)

    if cat.module is None:
        refuse(len(lines) or 1, "no 'module' line")
    elif cat.prefix is None:
        refuse(len(lines) or 1, "no 'prefix' line")
    elif not cat.entries and not faults:
        refuse(len(lines) or 1, "no keys")
    return cat, faults


def c_literal(text):
    out = ['"']
    prev = 0
    for b in text.encode("utf-8"):
        if b == 0x5C:
            out.append("\\\\")
        elif b == 0x22:
            out.append('\\"')
        elif b == 0x0A:
            out.append("\\n")
        elif b == 0x3F and prev == 0x3F:
            out.append("\\?")  # never a trigraph
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append("\\%03o" % b)
        prev = b
    out.append('"')
    return "".join(out)


def generate_header(cat, function, source_name):
    m = cat.module
    lines = ["// Generated from %s by tools/catalogue_gen.py; do not edit." % source_name,
             "#pragma once", "", "namespace %s {" % m, ""]
    if function:
        lines += [
            "// Registers the %s message catalogue with the translation store on the" % m,
            "// first call; later calls do nothing. Runs before main from the",
            "// catalogue's own unit, and may be called from a static initialiser.",
            "void %s();" % function,
        ]
    else:
        lines += [
            "// Registers the %s message catalogue with the translation store when the" % m,
            "// first one is constructed; later ones do nothing. A unit that uses the",
            "// module's texts holds one as a static object, so the texts are there",
            "// before main whatever the order of static initialisers.",
            "class LocStringsInit {",
            "public:",
            "  LocStringsInit();",
            "};",
        ]
    lines += ["", "} // namespace %s" % m, ""]
    return "\n".join(lines)


def generate_source(cat, function, source_name, header_include):
    m = cat.module
    entries = cat.entries
    out = ["// Generated from %s by tools/catalogue_gen.py; do not edit." % source_name,
           '#include "%s"' % header_include, "", "#include <stdint.h>", "",
           '#include "loc/Catalogue.h"', "", "namespace %s {" % m, "namespace {", "",
           "// Zero before any constructor runs (constant initialisation); only the",
           "// first use registers.", "uint32_t useCount;", "",
           "const char* const keys[] = {"]
    out += ["    %s," % c_literal(e.key) for e in entries]
    out.append("};")
    for lang in REGISTER_LANGUAGES:
        out.append("const char* const texts_%s[] = {" % lang)
        out += ["    %s," % c_literal(e.texts[lang][0]) for e in entries]
        out.append("};")
    out += [
        "static_assert(sizeof(keys) / sizeof(keys[0]) == %d, \"one text per key\");" % len(entries),
        "",
        "const loc::Catalogue catalogue = {%s, %s, %d, keys, {%s}, true};" % (
            c_literal(m), c_literal(cat.prefix), len(entries),
            ", ".join("texts_%s" % l for l in REGISTER_LANGUAGES)),
        "",
        "} // namespace", "",
    ]
    if function:
        out += [
            "void %s()" % function, "{", "  if (useCount++ == 0)",
            "    loc::registerCatalogue(catalogue);", "}", "",
            "namespace {", "",
            "// The texts are registered before main even when no other unit of the",
            "// module is linked.",
            "struct RegisterAtStart {", "  RegisterAtStart() { %s(); }" % function,
            "} registerAtStart;", "", "} // namespace", "",
        ]
    else:
        out += [
            "LocStringsInit::LocStringsInit()", "{", "  if (useCount++ == 0)",
            "    loc::registerCatalogue(catalogue);", "}", "",
            "namespace {", "",
            "// The texts are registered before main even when no other unit of the",
            "// module is linked.",
            "const LocStringsInit registerAtStart;", "", "} // namespace", "",
        ]
    out += ["} // namespace %s" % m, ""]
    return "\n".join(out)


def write_file(path, text):
    d = os.path.dirname(path)
    if d:
        os.makedirs(d, exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(tmp, path)


def report(faults):
    for f in faults:
        print("error: " + f, file=sys.stderr)


def cmd_generate(args):
    cat, faults = parse(args.data)
    if faults:
        report(faults)
        return 1
    name = os.path.basename(args.data)
    include = "%s/%s" % (cat.module, os.path.basename(args.header))
    write_file(args.header, generate_header(cat, args.function, name))
    write_file(args.source, generate_source(cat, args.function, name, include))
    return 0


def cmd_check(args):
    faults = []
    owners = {}
    modules = {}
    for path in args.data:
        cat, own = parse(path)
        faults += own
        if cat.module is not None:
            if cat.module in modules:
                faults.append(where(path, 1) + "module '%s' is also in %s" % (cat.module,
                                                                           modules[cat.module]))
            modules.setdefault(cat.module, path)
        for e in cat.entries:
            if e.key in owners:
                opath, oline, omod = owners[e.key]
                faults.append(where(path, e.line, e.key) + "key is also in module %s (%s:%d)"
                              % (omod, opath, oline))
            else:
                owners[e.key] = (path, e.line, cat.module)
    if faults:
        report(faults)
        return 1
    write_file(args.stamp, "%d catalogues, %d keys\n" % (len(modules), len(owners)))
    return 0


def main():
    p = argparse.ArgumentParser(description="Checks message catalogues and generates C++.")
    sub = p.add_subparsers(dest="cmd", required=True)
    g = sub.add_parser("generate")
    g.add_argument("data")
    g.add_argument("source")
    g.add_argument("header")
    g.add_argument("--function", help="register through this function, not LocStringsInit")
    c = sub.add_parser("check")
    c.add_argument("stamp")
    c.add_argument("data", nargs="+")
    args = p.parse_args()
    if args.cmd == "generate":
        if args.function and not IDENT_RE.match(args.function):
            p.error("--function needs an identifier")
        return cmd_generate(args)
    return cmd_check(args)


if __name__ == "__main__":
    sys.exit(main())
