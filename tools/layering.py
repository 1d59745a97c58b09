#!/usr/bin/env python3
"""Checks the layer graph, and every include, link line and library source
against it.

Usage: layering.py <source root> --links <file written by CMake>

The graph is cmake/layers.txt: each folder's subsystem, the library that
holds each subsystem, what each subsystem builds on, and the few places
where two subsystems of one library use each other. CMake writes each
layer library's link line and sources at configure time
(tl_write_layer_links); the order of building comes from them.

- Order: a library is built after every library it links, directly or
  not, and the link graph has no cycle; inside a library the subsystems are
  built in the order its library line names them. A subsystem builds only on
  subsystems built before it, so a needs entry that points later (as any
  entry closing a cycle does) is refused, as is one that no file uses.
- Where two subsystems of one library really use each other, the use of the
  later one is an exception: a name, the two subsystems, why, and the files
  that make the use. Only those files may reach the later subsystem,
  directly or through headers, and each of them must.
- A library file includes headers of its own subsystem, of the subsystems
  it needs and, if an exception lists it, of that exception's subsystem.
  What it reaches through those headers, at any depth, must be something its
  subsystem builds on, directly or not: a higher layer's header cannot leak
  in through a lower one's.
- Only the library files of the x11 subsystems include X11 headers; others
  reach them only if they build on an x11 subsystem.
- A test may reach headers of its own library and of every library its
  library links, directly or not (and X11 headers, for peers such as Xlib
  regions). Helpers in tests/support belong to no layer; what a test
  reaches through them counts. Top-level tests/, bench/ and fuzz/ stand
  above every layer.
- Every folder and file line names something that exists; every library's
  sources are files of subsystems it holds, and it links only libraries
  holding subsystems it needs.

An include is resolved as the compiler does (the including file's folder,
then the include paths); a header that is not the project's own is skipped.
Prints one line per fault and exits 1 when there is any.
"""

import fnmatch
import os
import re
import sys
from collections import deque

GRAPH = "cmake/layers.txt"
X11 = "<X11>"  # every X11 header, as one node of the include graph
X_HEADER_RE = re.compile(r"^X11/")
SOURCE_EXT = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE_RE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*[<"]([^">]+)[">]', re.M)
# Searched in this order after the including file's own folder.
INCLUDE_DIRS = ["tlcore/base", "tlcore/libs", "tlcore/uilibs", "libs", "tests/support"]
TOP_FOLDERS = ("tlcore", "libs", "tests", "bench", "fuzz")


class LayerException:
    """A named use of a later subsystem by an earlier one of the same library."""

    def __init__(self, name, lower, higher, reason, lineno):
        self.name, self.lower, self.higher = name, lower, higher
        self.reason, self.lineno, self.files = reason, lineno, []


class Graph:
    def __init__(self, path):
        self.library = {}      # subsystem -> library
        self.holds = {}        # library -> [subsystem], in build order
        self.needs = {}        # subsystem -> [subsystem]
        self.lines = {}        # ("needs", subsystem) or ("folder", path) -> line number
        self.x11 = set()
        self.files = []        # (pattern, its regex, subsystem, line number)
        self.classified = {}   # path -> (subsystem, folder) or None
        self.folders = {}      # folder -> subsystem
        self.exceptions = []
        last = None
        with open(path, encoding="utf-8") as fh:
            for lineno, line in enumerate(fh, 1):
                words = line.split()
                if not words or words[0].startswith("#"):
                    continue
                if line[0].isspace():
                    if not isinstance(last, LayerException):
                        raise SystemExit(f"{path}:{lineno}: an indented line continues "
                                         "only an exception's file list")
                    last.files += words
                    continue
                kind, args = words[0], words[1:]
                last = kind
                if kind == "library" and len(args) >= 2:
                    self.holds[args[0]] = args[1:]
                    for s in args[1:]:
                        if s in self.library:
                            raise SystemExit(f"{path}:{lineno}: subsystem {s} is in two libraries")
                        self.library[s] = args[0]
                elif kind == "needs" and args:
                    if args[0] in self.needs:
                        raise SystemExit(f"{path}:{lineno}: a second needs line for {args[0]}")
                    self.needs[args[0]] = args[1:]
                    self.lines[("needs", args[0])] = lineno
                elif kind == "x11":
                    self.x11.update(args)
                elif kind == "file" and len(args) == 2:
                    self.files.append((args[0], re.compile(fnmatch.translate(args[0])),
                                       args[1], lineno))
                elif kind == "folder" and len(args) == 2:
                    self.folders[args[0]] = args[1]
                    self.lines[("folder", args[0])] = lineno
                elif kind == "exception" and len(args) >= 4:
                    last = LayerException(args[0], args[1], args[2], " ".join(args[3:]), lineno)
                    self.exceptions.append(last)
                else:
                    raise SystemExit(f"{path}:{lineno}: cannot read this {kind} line")
        named = list(self.needs) + [t for ts in self.needs.values() for t in ts]
        named += list(self.folders.values()) + [f[2] for f in self.files] + list(self.x11)
        named += [s for e in self.exceptions for s in (e.lower, e.higher)]
        for s in named:
            if s not in self.library:
                raise SystemExit(f"{path}: subsystem {s} is in no library")
        for s in self.library:
            self.needs.setdefault(s, [])
        self.closure = {}      # subsystem -> itself and all it builds on
        for s in self.library:
            seen, todo = {s}, [s]
            while todo:
                for t in self.needs[todo.pop()]:
                    if t not in seen:
                        seen.add(t)
                        todo.append(t)
            self.closure[s] = seen

    def classify(self, rel):
        """(subsystem, folder) of a path, or None."""
        if rel in self.classified:
            return self.classified[rel]
        best = None
        for pattern, regex, sub, _ in self.files:
            if regex.match(rel):
                best = sub, os.path.dirname(pattern)
                break
        else:
            folder = os.path.dirname(rel)
            while folder and folder not in self.folders:
                folder = os.path.dirname(folder)
            if folder:
                best = self.folders[folder], folder
        self.classified[rel] = best
        return best

    def libraries_needed(self, lib):
        """The other libraries holding subsystems that lib's subsystems need."""
        return {self.library[n] for s in self.holds[lib] for n in self.needs[s]} - {lib}


# The order of building -------------------------------------------------------

def read_links(path, g):
    """Link lines (library -> graph libraries it links) and sources."""
    links, sources = {}, []
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            words = line.split()
            if len(words) >= 2 and words[0] == "link":
                links[words[1]] = {normalise(w) for w in words[2:]} & set(g.holds)
            elif len(words) == 3 and words[0] == "source":
                sources.append((words[1], words[2]))
    return links, sources


def normalise(entry):
    """The library a link-line entry names: x_whole and WHOLE_ARCHIVE wrappers are x."""
    m = re.match(r"^\$<LINK_LIBRARY:[A-Z_]+,([^>]+)>$", entry)
    name = m.group(1) if m else entry
    return name[:-len("_whole")] if name.endswith("_whole") else name


def link_order(g, links, path):
    """Every library's libraries below it (linked directly or not), and faults."""
    faults = [f"{path}: no link line for library {lib}" for lib in g.holds if lib not in links]
    below = {}
    for lib in g.holds:
        seen, todo = set(), [lib]
        while todo:
            for m in links.get(todo.pop(), ()):
                if m not in seen:
                    seen.add(m)
                    todo.append(m)
        below[lib] = seen
    cycle = sorted(lib for lib in g.holds if lib in below[lib])
    if cycle:
        faults.append(f"libraries {', '.join(cycle)} link each other: the link graph has "
                      "a cycle, so they have no order of building")
    return below, faults


def built_before(g, below, s, t):
    """Whether subsystem t is built before subsystem s."""
    ls, lt = g.library[s], g.library[t]
    if ls == lt:
        return g.holds[ls].index(t) < g.holds[ls].index(s)
    return lt in below[ls] and ls not in below[lt]


def check_order(g, below):
    faults = []
    for s, ts in g.needs.items():
        where = f"{GRAPH}:{g.lines.get(('needs', s), 0)}: needs {s}"
        for t in ts:
            if built_before(g, below, s, t):
                continue
            back = " and closes a cycle" if s in g.closure[t] else ""
            ls, lt = g.library[s], g.library[t]
            why = (f"{lt} lists {t} after {s}" if ls == lt else
                   f"library {lt} is not below {ls} in the link graph")
            faults.append(f"{where} lists {t}, which is built later ({why}){back}; "
                          f"a use inside one library is a named exception")
    for e in g.exceptions:
        where = f"{GRAPH}:{e.lineno}: exception {e.name}"
        if g.library[e.lower] != g.library[e.higher]:
            faults.append(f"{where}: {e.lower} and {e.higher} are not in one library")
        elif built_before(g, below, e.lower, e.higher) or e.lower == e.higher:
            faults.append(f"{where}: {e.lower} already builds on {e.higher}")
        if not e.files:
            faults.append(f"{where}: lists no file")
    names = [e.name for e in g.exceptions]
    for n in sorted({n for n in names if names.count(n) > 1}):
        faults.append(f"{GRAPH}: two exceptions named {n}")
    return faults


def check_paths(root, g, files):
    """Folder, file and exception lines name what exists."""
    faults = []
    for folder, sub in g.folders.items():
        if not os.path.isdir(os.path.join(root, folder)):
            faults.append(f"{GRAPH}:{g.lines[('folder', folder)]}: folder {folder} "
                          "does not exist")
    for pattern, regex, sub, lineno in g.files:
        if not any(regex.match(f) for f in files):
            faults.append(f"{GRAPH}:{lineno}: file {pattern} matches no file")
    for e in g.exceptions:
        for f in e.files:
            c = g.classify(f) if f in files else None
            if c is None or c[0] != e.lower:
                faults.append(f"{GRAPH}: exception {e.name} lists {f}, "
                              f"which is no file of subsystem {e.lower}")
    return faults


def check_links(g, links, sources):
    faults = []
    for lib, path in sources:
        sub = g.classify(path)
        if sub is not None and g.library[sub[0]] != lib:
            faults.append(f"{path}: a file of subsystem {sub[0]} built into "
                          f"{lib}, not {g.library[sub[0]]}")
    for lib in g.holds:
        for other in sorted(links.get(lib, set()) - g.libraries_needed(lib)):
            faults.append(f"{lib} links {other}, which holds no subsystem it needs; "
                          f"change {GRAPH} if the design calls for it")
    return faults


# Includes --------------------------------------------------------------------

def project_files(root):
    """Every file under the project's source folders, relative to root."""
    found = set()
    for top in TOP_FOLDERS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames[:] = [d for d in dirnames if not d.startswith(".")]
            rel = os.path.relpath(dirpath, root)
            found.update(os.path.join(rel, f) for f in filenames)
    return found


def catalogue_modules(files):
    """Module name -> catalogue path; "<module>/LocStrings.h" is made from it."""
    return {os.path.basename(f)[:-len(".catalogue")]: f
            for f in files if f.endswith(".catalogue")}


class Includes:
    """The include graph of the project's own files, with X11 headers as one node."""

    def __init__(self, root, files):
        self.root, self.files = root, files
        self.modules = catalogue_modules(files)
        self.direct = {}   # file -> [(line number, name, target)]

    def resolve(self, including, name):
        if X_HEADER_RE.match(name):
            return X11
        for d in [os.path.dirname(including)] + INCLUDE_DIRS:
            c = f"{d}/{name}" if d else name
            if "./" in c:
                c = os.path.normpath(c)
            if c in self.files:
                return c
        parts = name.split("/")
        if len(parts) == 2 and parts[1] == "LocStrings.h":
            return self.modules.get(parts[0])
        return None

    def of(self, rel):
        if rel not in self.direct:
            found = []
            if rel.endswith(SOURCE_EXT):
                with open(os.path.join(self.root, rel), encoding="utf-8",
                          errors="replace") as fh:
                    text = fh.read()
                line, pos = 1, 0
                for m in INCLUDE_RE.finditer(text):
                    line += text.count("\n", pos, m.start())
                    pos = m.start()
                    found.append((line, m.group(1), self.resolve(rel, m.group(1))))
            self.direct[rel] = found
        return self.direct[rel]


def reachable(succ):
    """node -> every node reachable from it in one step or more (Tarjan's
    strongly connected components, so include cycles are handled)."""
    index, low, on, stack, result = {}, {}, set(), [], {}
    for start in succ:
        if start in index:
            continue
        index[start] = low[start] = len(index)
        stack.append(start)
        on.add(start)
        work = [(start, iter(succ[start]))]
        while work:
            v, it = work[-1]
            for w in it:
                if w not in index:
                    index[w] = low[w] = len(index)
                    stack.append(w)
                    on.add(w)
                    work.append((w, iter(succ[w])))
                    break
                if w in on:
                    low[v] = min(low[v], index[w])
            else:
                work.pop()
                if work:
                    u = work[-1][0]
                    low[u] = min(low[u], low[v])
                if low[v] == index[v]:
                    comp = set()
                    while True:
                        w = stack.pop()
                        on.discard(w)
                        comp.add(w)
                        if w == v:
                            break
                    reach = set()
                    for c in comp:
                        for w in succ[c]:
                            reach.add(w)
                            if w not in comp:
                                reach |= result[w]
                    for c in comp:
                        result[c] = reach
    return result


def path_to(succ, start, goal):
    """The shortest chain of includes from start to a node goal() accepts."""
    prev, todo = {start: None}, deque([start])
    while todo:
        v = todo.popleft()
        if goal(v):
            chain = []
            while v is not None:
                chain.append(v)
                v = prev[v]
            return chain[::-1]
        for w in succ[v]:
            if w not in prev:
                prev[w] = v
                todo.append(w)
    return [start]


class IncludeCheck:
    """Judges every library file's and test's includes, at any depth."""

    def __init__(self, root, g, below, files):
        self.g, self.below, self.inc = g, below, Includes(root, files)
        self.lib_files = sorted(f for f in files if f.startswith(("tlcore/", "libs/"))
                                and f.endswith(SOURCE_EXT))
        # The include graph, from every library file and what it reaches.
        self.succ, todo = {}, list(self.lib_files)
        while todo:
            f = todo.pop()
            if f not in self.succ:
                self.succ[f] = {t for _, _, t in self.inc.of(f) if t is not None}
                todo += [t for t in self.succ[f] if t not in self.succ]
        self.reach = reachable(self.succ)
        self.sub = {n: X11 if n == X11 else (g.classify(n) or (None,))[0] for n in self.succ}
        self.reached_subs = {n: {self.sub[r] for r in self.reach[n]} - {None}
                             for n in self.succ}
        self.listing = {}  # file -> exceptions listing it
        for e in g.exceptions:
            for f in e.files:
                self.listing.setdefault(f, []).append(e)
        self.used = {s: set() for s in g.library}  # what each subsystem's files include
        self.faults = []

    def run(self):
        for rel in self.lib_files:
            src = self.g.classify(rel)
            if src is None:
                self.faults.append(f"{rel}: folder has no subsystem; add it to {GRAPH}")
            elif "/tests/" in rel:
                self.test_file(rel, src[0])
            else:
                self.library_file(rel, *src)
        return self.faults + self.unused()

    def leak(self, where, start, bad, why):
        chain = path_to(self.succ, start, bad)
        via = f" (through {' -> '.join(chain[1:])})" if len(chain) > 1 else ""
        self.faults.append(f"{where}{via}: {why(chain[-1])}")

    def library_file(self, rel, s, folder):
        g = self.g
        # What this file may reach: what its subsystem builds on and, if an
        # exception lists it, what the exception's subsystem builds on.
        allowed = set(g.closure[s])
        for e in self.listing.get(rel, ()):
            allowed |= g.closure[e.higher]
        for lineno, name, target in self.inc.of(rel):
            where = f"{rel}:{lineno}: includes {name}"
            if target is None:
                continue
            if target == X11:
                self.used[s].add(X11)
                if s not in g.x11:
                    self.faults.append(f"{where}: subsystem {s} uses no X library")
                continue
            if target.startswith(("tests/", "bench/", "fuzz/")) or "/tests/" in target:
                self.faults.append(f"{where}: {target} is no library's to use")
                continue
            t = self.sub[target]
            if t is not None and t != s:
                self.used[s].add(t)
                if t not in g.needs[s] and not any(e.higher == t
                                                   for e in self.listing.get(rel, ())):
                    self.faults.append(f"{where}: subsystem {s} ({folder}) does not build on "
                                       f"subsystem {t}; change {GRAPH} if the design calls "
                                       "for it")
                    continue
            leaks = {x for x in self.reached_subs[target] if x != X11 and x not in allowed}
            if X11 in self.reached_subs[target] and not allowed & g.x11:
                leaks.add(X11)
            if leaks:
                names = sorted((x for x in leaks if x != X11), key=subsystem_key)
                what = [f"subsystem {', '.join(names)}"] if names else []
                what += ["X11 headers"] if X11 in leaks else []
                self.leak(where, target, lambda n: self.sub[n] in leaks,
                          lambda _: f"reaches {' and '.join(what)}, which subsystem {s} "
                                    "does not build on")

    def test_file(self, rel, s):
        lib = self.g.library[s]
        allowed = {lib} | self.below[lib]
        for lineno, name, target in self.inc.of(rel):
            where = f"{rel}:{lineno}: includes {name}"
            if target is None or target == X11:
                continue
            test_header = target.startswith("tests/") or "/tests/" in target
            if target.startswith(("bench/", "fuzz/")) or (
                    test_header and not target.startswith("tests/support/")
                    and os.path.dirname(target) != os.path.dirname(rel)):
                self.faults.append(f"{where}: another folder's test header; shared "
                                   "helpers belong in tests/support")
                continue
            bad = lambda n: self.sub[n] not in (None, X11) and \
                self.g.library[self.sub[n]] not in allowed
            if bad(target) or any(bad(n) for n in self.reach[target]):
                self.leak(where, target, bad,
                          lambda n: f"library {self.g.library[self.sub[n]]} is not below "
                                    f"{lib}, the library of this test")

    def unused(self):
        """needs entries, x11 entries and exception files that nothing uses."""
        g, faults = self.g, []
        for s, ts in g.needs.items():
            for t in ts:
                if t not in self.used[s]:
                    faults.append(f"{GRAPH}:{g.lines[('needs', s)]}: needs {s} lists {t}, "
                                  f"which no file of {s} includes")
        for s in sorted(g.x11):
            if X11 not in self.used[s]:
                faults.append(f"{GRAPH}: x11 lists {s}, whose files include no X11 header")
        for e in g.exceptions:
            for f in e.files:
                if f in self.reach and self.sub[f] == e.lower and \
                        not any(self.sub[r] == e.higher for r in self.reach[f]):
                    faults.append(f"{GRAPH}: exception {e.name} lists {f}, which reaches "
                                  f"no file of subsystem {e.higher}")
        return faults


def subsystem_key(s):
    digits = re.match(r"\d*", s).group()
    return int(digits or 0), s


def check(root, links_path):
    """Every fault of the tree at root, given the link lines CMake wrote."""
    g = Graph(os.path.join(root, GRAPH))
    links, sources = read_links(links_path, g)
    below, faults = link_order(g, links, links_path)
    if not faults:
        faults += check_order(g, below)
    files = project_files(root)
    faults += check_paths(root, g, files)
    faults += check_links(g, links, sources)
    faults += IncludeCheck(root, g, below, files).run()
    return faults


def main():
    args = sys.argv[1:]
    if "--links" not in args or args.index("--links") + 1 >= len(args):
        raise SystemExit(__doc__.split("\n\n")[1])
    i = args.index("--links")
    links_path = args[i + 1]
    del args[i:i + 2]
    faults = check(os.path.abspath(args[0] if args else "."), links_path)
    for f in faults:
        print(f)
    print(f"layering: {len(faults)} fault(s)" if faults else "layering: no fault")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
