#!/usr/bin/python3
"""Reference answers for the path, wildcard and identifier tests.

Usage: path_reference.py MODE FILE, one case per line of FILE, one answer
line per case on standard output (fields separated by tabs):

  paths  <path>                    -> <normalised> <parent> <base name>
  glob   <0|1 case-sensitive> <pattern> <text>   -> 1 or 0
  uuid   <32 hex digits>           -> <hex as version 4> <dashed as version 4>

POSIX lets a path start with exactly two slashes mean something else, and
posixpath.normpath keeps them; the system under test folds them to one, so
one is dropped here. The parent is normpath(join(path, "..")); the base
name differs from posixpath.basename only for the root ("/") and for a
trailing ".." (".").
In the system's wildcards only '*' is special, so '?' and '[' are escaped
for fnmatch.
"""
import fnmatch
import posixpath
import sys
import uuid


def normpath(p):
    n = posixpath.normpath(p)
    if n.startswith('//'):
        n = n[1:]
    return n


def paths(line):
    n = normpath(line)
    parent = normpath(posixpath.join(line, '..'))
    base = '/' if n == '/' else posixpath.basename(n)
    if base == '..':
        base = '.'
    return '\t'.join((n, parent, base))


def glob(line):
    cs, pattern, text = line.split('\t')
    escaped = ''.join('[' + c + ']' if c in '?[' else c for c in pattern)
    if cs == '0':
        escaped, text = escaped.lower(), text.lower()
    return '1' if fnmatch.fnmatchcase(text, escaped) else '0'


def ident(line):
    u = uuid.UUID(bytes=bytes.fromhex(line), version=4)
    return u.hex + '\t' + str(u)


def main():
    handler = {'paths': paths, 'glob': glob, 'uuid': ident}[sys.argv[1]]
    with open(sys.argv[2], encoding='latin-1') as f:
        for line in f.read().split('\n')[:-1]:
            print(handler(line))


main()
