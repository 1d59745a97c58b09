#!/usr/bin/python3
"""Reference JSON reader and writer for the JSON tests.

Documents travel base64-encoded, one per line.

  json_reference.py echo < docs
      Reads each document with json.loads and prints it written again by
      json.dumps, in a style that varies from line to line (ASCII escapes or
      raw UTF-8, compact or indented). A document Python cannot read gives
      "!" and the error.
  json_reference.py gen SEED COUNT
      Prints COUNT random documents of integers and strings (with a few
      booleans and nulls), written by json.dumps in varied styles.
  json_reference.py check SEED COUNT < docs
      Makes the same documents again and compares each input line (the
      document as the system under test wrote it) with it: the values must
      be equal, member order included, and the bytes must be Python's own
      indented layout (indent 2, no blank after ':') with the system's string
      escapes. Prints "ok" or the reason per line.

Strings avoid U+0000, the surrogates and the Unicode non-characters, which
the system under test refuses.
"""
import base64
import json
import json.encoder
import random
import sys


def is_nonchar(cp):
    return 0xFDD0 <= cp <= 0xFDEF or (cp & 0xFFFE) == 0xFFFE


def rand_char(r):
    k = r.random()
    if k < 0.55:
        cp = r.randint(0x20, 0x7E)
    elif k < 0.65:
        cp = r.choice([0x22, 0x5C, 0x2F, 0x7F, 0x08, 0x0C, 0x09, 0x0A, 0x0D])
    elif k < 0.70:
        cp = r.randint(0x01, 0x1F)
    elif k < 0.80:
        cp = r.randint(0xA0, 0x7FF)
    elif k < 0.90:
        cp = r.choice([r.randint(0x800, 0xD7FF), r.randint(0xE000, 0xFFFD)])
    else:
        cp = r.randint(0x10000, 0x10FFFD)
    return chr(0xFFFD if is_nonchar(cp) else cp)


def rand_str(r):
    n = r.choice([0, 1, 3, 8, 20, 70])
    return ''.join(rand_char(r) for _ in range(r.randint(0, n)))


def rand_int(r):
    k = r.random()
    if k < 0.15:
        return r.choice([0, 1, -1, 2**63 - 1, -2**63, 2**31 - 1, -2**31, 2**31, 10**18])
    if k < 0.5:
        return r.randint(-1000, 1000)
    bits = r.randint(1, 63)
    return r.randint(-(2**bits), 2**bits - 1)


def rand_value(r, depth):
    k = r.random()
    if depth >= 4 or k < 0.45:
        k = r.random()
        if k < 0.45:
            return rand_int(r)
        if k < 0.9:
            return rand_str(r)
        return r.choice([True, False, None])
    if k < 0.72:
        return [rand_value(r, depth + 1) for _ in range(r.randint(0, 6))]
    return {rand_str(r): rand_value(r, depth + 1) for _ in range(r.randint(0, 6))}


def rand_style(r):
    return dict(ensure_ascii=r.random() < 0.5,
                indent=r.choice([None, None, 0, 1, '\t', 4]),
                separators=r.choice([None, (',', ':'), (', ', ': ')]))


def docs(seed, count):
    r = random.Random(seed)
    for _ in range(count):
        yield rand_value(r, 0), rand_style(r)


def system_string(s):
    """The system's escapes: upper-case hex, DEL escaped, astral characters as
    surrogate pairs, no short forms for backspace and form feed."""
    out = ['"']
    for ch in s:
        cp = ord(ch)
        if ch in '"\\':
            out.append('\\' + ch)
        elif ch == '\t':
            out.append('\\t')
        elif ch == '\n':
            out.append('\\n')
        elif ch == '\r':
            out.append('\\r')
        elif cp < 0x20 or cp == 0x7F:
            out.append('\\u%04X' % cp)
        elif cp > 0xFFFF:
            v = cp - 0x10000
            out.append('\\u%04X\\u%04X' % (0xD800 | v >> 10, 0xDC00 | v & 0x3FF))
        else:
            out.append(ch)
    out.append('"')
    return ''.join(out)


def system_layout(doc):
    # With an indent, json.dumps runs the pure-Python encoder, which looks the
    # string encoder up in its module at each call.
    saved = json.encoder.encode_basestring
    json.encoder.encode_basestring = system_string
    try:
        return json.dumps(doc, indent=2, separators=(',', ':'), ensure_ascii=False)
    finally:
        json.encoder.encode_basestring = saved


def ordered(v):
    if isinstance(v, dict):
        return ('{', [(k, ordered(x)) for k, x in v.items()])
    if isinstance(v, list):
        return [ordered(x) for x in v]
    return v


def same(a, b):
    # True == 1 in Python, so types are compared as well.
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, tuple):
        return a[0] == b[0] and same(a[1], b[1])
    return a == b


def b64(text):
    return base64.b64encode(text.encode('utf-8')).decode('ascii')


def unb64(line):
    return base64.b64decode(line.strip()).decode('utf-8')


def echo():
    for i, line in enumerate(sys.stdin):
        try:
            doc = json.loads(unb64(line))
        except ValueError as e:
            print('!' + str(e))
            continue
        style = [dict(ensure_ascii=True), dict(ensure_ascii=False, indent=1),
                 dict(ensure_ascii=True, indent='\t', separators=(',', ':')),
                 dict(ensure_ascii=False)][i % 4]
        print(b64(json.dumps(doc, **style)))


def gen(seed, count):
    for doc, style in docs(seed, count):
        print(b64(json.dumps(doc, **style)))


def check(seed, count):
    lines = sys.stdin.readlines()
    for (doc, _), line in zip(docs(seed, count), lines):
        text = unb64(line)
        try:
            back = json.loads(text, object_pairs_hook=lambda p: ('{', list(p)))
        except ValueError as e:
            print('unreadable: ' + str(e))
            continue
        if not same(ordered(doc), back):
            print('different value')
        elif text != system_layout(doc):
            print('different layout: ' + repr(text[:200]))
        else:
            print('ok')
    for _ in range(count - len(lines)):
        print('missing')


def main():
    mode = sys.argv[1]
    if mode == 'echo':
        echo()
    elif mode == 'gen':
        gen(int(sys.argv[2]), int(sys.argv[3]))
    elif mode == 'check':
        check(int(sys.argv[2]), int(sys.argv[3]))
    else:
        sys.exit('unknown mode ' + mode)


if __name__ == '__main__':
    main()
