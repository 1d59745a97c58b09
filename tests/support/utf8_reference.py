#!/usr/bin/python3
"""Reference UTF-8 validity and repair for the UTF-8 tests.

Reads a file of hexadecimal byte strings, one per line, and prints per line:
  <valid> <prefix-valid> <repaired>
where <valid> is 1 or 0 for the whole string, <prefix-valid> the same for
the bytes before the first NUL, and <repaired> the hex of the UTF-8 repair
of those bytes ("-" when empty).

Python's decoder accepts the Unicode non-characters (U+FDD0..U+FDEF and
every code point ending in FFFE or FFFF); the system under test rejects
them, so here they count as invalid and are repaired to U+FFFD as well.
"""
import sys


def is_nonchar(cp):
    return 0xFDD0 <= cp <= 0xFDEF or (cp & 0xFFFE) == 0xFFFE


def valid(b):
    try:
        text = b.decode('utf-8')
    except UnicodeDecodeError:
        return False
    return not any(is_nonchar(ord(c)) for c in text)


def repair(b):
    text = b.decode('utf-8', errors='replace')
    return ''.join('\ufffd' if is_nonchar(ord(c)) else c for c in text)


def main():
    out = []
    with open(sys.argv[1]) as f:
        for line in f:
            b = bytes.fromhex(line.strip())
            prefix = b.split(b'\0', 1)[0]
            fixed = repair(prefix).encode('utf-8').hex()
            out.append('%d %d %s' % (valid(b), valid(prefix), fixed or '-'))
    sys.stdout.write('\n'.join(out) + '\n')


main()
