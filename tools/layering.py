#!/usr/bin/env python3
"""Checks includes, link lines and library sources against the layer graph.

Usage: layering.py <source root> [--links <file written by CMake>]

The graph is cmake/layers.txt: each folder's subsystem, the library that
holds each subsystem, and what each subsystem builds on (the order in which
the subsystems are built). CMake reads the same file and writes, at
configure time, each layer library's link line and sources
(tl_write_layer_links); given that file, the check compares them too.

- A library file may include headers of its own subsystem and of the
  subsystems it needs. Inside the core library a few uses go the other
  way; each is listed as an exception with its reason.
- A test may include headers of its own library and of every library its
  library builds on, directly or not. Helpers in tests/support belong to no
  layer: what a test reaches through them counts as included by the test.
  Top-level tests/, bench/ and fuzz/ stand above every layer.
- Only the library files of the x11 subsystems include X11 headers (tests
  may, for peers such as Xlib regions).
- A library links only libraries holding subsystems it needs, and reaches
  every library it needs through its links; its sources are files of
  subsystems it holds.

An include is resolved as the compiler does (the including file's folder,
then the include paths); a header that is not the project's own is skipped.
Prints one line per fault and exits 1 when there is any.
"""

import fnmatch
import os
import re
import sys

GRAPH = "cmake/layers.txt"
X_HEADER_RE = re.compile(r"^X11/")
SOURCE_EXT = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
# Searched in this order after the including file's own folder.
INCLUDE_DIRS = ["tlcore/base", "tlcore/libs", "tlcore/uilibs", "libs", "tests/support"]


class Graph:
    def __init__(self, path):
        self.library = {}      # subsystem -> library
        self.holds = {}        # library -> [subsystem]
        self.needs = {}        # subsystem -> {subsystem}
        self.x11 = set()
        self.files = []        # (pattern, subsystem)
        self.folders = {}      # folder -> subsystem
        self.exceptions = {}   # (folder, folder) -> reason
        with open(path, encoding="utf-8") as fh:
            for lineno, line in enumerate(fh, 1):
                words = line.split()
                if not words or words[0].startswith("#"):
                    continue
                kind, args = words[0], words[1:]
                if kind == "library":
                    self.holds[args[0]] = args[1:]
                    for s in args[1:]:
                        self.library[s] = args[0]
                elif kind == "needs":
                    self.needs[args[0]] = set(args[1:])
                elif kind == "x11":
                    self.x11.update(args)
                elif kind == "file":
                    self.files.append((args[0], args[1]))
                elif kind == "folder":
                    self.folders[args[0]] = args[1]
                elif kind == "exception":
                    self.exceptions[(args[0], args[1])] = " ".join(args[2:])
                else:
                    raise SystemExit(f"{path}:{lineno}: unknown line kind {kind}")
        for s in list(self.needs) + list(self.folders.values()) + [f[1] for f in self.files]:
            if s not in self.library:
                raise SystemExit(f"{path}: subsystem {s} is in no library")

    def classify(self, rel):
        """(subsystem, folder) of a path, or None."""
        for pattern, sub in self.files:
            if fnmatch.fnmatch(rel, pattern):
                return sub, os.path.dirname(pattern)
        best = None
        for folder, sub in self.folders.items():
            if (rel == folder or rel.startswith(folder + "/")) and \
                    (best is None or len(folder) > len(best[1])):
                best = (sub, folder)
        return best

    def libraries_needed(self, lib):
        """The other libraries holding subsystems that lib's subsystems need."""
        return {self.library[n] for s in self.holds[lib] for n in self.needs[s]} - {lib}

    def below(self, lib):
        """Every library lib builds on, directly or not."""
        seen, todo = set(), [lib]
        while todo:
            for m in self.libraries_needed(todo.pop()):
                if m not in seen:
                    seen.add(m)
                    todo.append(m)
        return seen


def catalogue_modules(root):
    """Module name -> catalogue path; "<module>/LocStrings.h" is made from it."""
    modules = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if not d.startswith(".") and d != "build"]
        for f in filenames:
            if f.endswith(".catalogue"):
                rel = os.path.relpath(os.path.join(dirpath, f), root)
                modules[f[:-len(".catalogue")]] = rel
    return modules


def resolve(root, including, name, modules):
    """The project-relative path an include names, or None for a system header."""
    candidates = [os.path.join(os.path.dirname(including), name)]
    candidates += [os.path.join(d, name) for d in INCLUDE_DIRS]
    for c in candidates:
        c = os.path.normpath(c)
        if os.path.isfile(os.path.join(root, c)):
            return c
    parts = name.split("/")
    if len(parts) == 2 and parts[1] == "LocStrings.h" and parts[0] in modules:
        return modules[parts[0]]
    return None


def includes_of(root, rel):
    """(line number, name) of every #include in a file."""
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as fh:
        for lineno, line in enumerate(fh, 1):
            m = INCLUDE_RE.match(line)
            if m:
                yield lineno, m.group(2)


def through_support(root, support, modules, seen=None):
    """The project headers outside tests/support that a support header
    reaches, directly or through other support headers."""
    seen = set() if seen is None else seen
    if support in seen:
        return []
    seen.add(support)
    reached = []
    for _, name in includes_of(root, support):
        target = resolve(root, support, name, modules)
        if target is None:
            continue
        if target.startswith("tests/support/"):
            reached += through_support(root, target, modules, seen)
        else:
            reached.append(target)
    return reached


def library_files(root):
    for top in ("tlcore", "libs"):
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames[:] = [d for d in dirnames if not d.startswith(".")]
            for f in sorted(filenames):
                if f.endswith(SOURCE_EXT):
                    yield os.path.relpath(os.path.join(dirpath, f), root)


def include_fault(g, rel, src, target, is_test):
    """Why a file of subsystem src may not include target, or None."""
    dst = g.classify(target)
    if dst is None:
        return None
    if "/tests/" in target and os.path.dirname(target) != os.path.dirname(rel):
        return "another folder's test header; shared helpers belong in tests/support"
    s, t = src[0], dst[0]
    if is_test:
        lib, other = g.library[s], g.library[t]
        if other == lib or other in g.below(lib):
            return None
        return f"library {other} (subsystem {t}) is not below {lib}, the library of this test"
    if t == s or t in g.needs[s] or (src[1], dst[1]) in g.exceptions:
        return None
    return (f"subsystem {s} ({src[1]}) does not build on subsystem {t} ({dst[1]}); "
            f"change {GRAPH} if the design calls for it")


def check_includes(root, g):
    modules = catalogue_modules(root)
    faults = []
    for rel in library_files(root):
        src = g.classify(rel)
        if src is None:
            faults.append(f"{rel}: folder has no subsystem; add it to {GRAPH}")
            continue
        is_test = "/tests/" in rel
        for lineno, name in includes_of(root, rel):
            where = f"{rel}:{lineno}: includes {name}"
            if not is_test and X_HEADER_RE.match(name) and src[0] not in g.x11:
                faults.append(f"{where}: subsystem {src[0]} uses no X library")
                continue
            target = resolve(root, rel, name, modules)
            if target is None:
                continue
            if target.startswith(("tests/", "bench/", "fuzz/")) and \
                    not (is_test and target.startswith("tests/support/")):
                faults.append(f"{where}: {target} is no library's to use")
                continue
            reached = through_support(root, target, modules) \
                if target.startswith("tests/support/") else [target]
            for r in reached:
                why = include_fault(g, rel, src, r, is_test)
                if why:
                    via = f" (through {r})" if r != target else ""
                    faults.append(f"{where}{via}: {why}")
    return faults


def normalise(entry):
    """The library a link-line entry names: x_whole and WHOLE_ARCHIVE wrappers are x."""
    m = re.match(r"^\$<LINK_LIBRARY:[A-Z_]+,([^>]+)>$", entry)
    name = m.group(1) if m else entry
    return name[:-len("_whole")] if name.endswith("_whole") else name


def check_links(g, path):
    """Compares the link lines and sources CMake wrote with the graph."""
    links, faults = {}, []
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            words = line.split()
            if len(words) >= 2 and words[0] == "link":
                links[words[1]] = {normalise(w) for w in words[2:]} & set(g.holds)
            elif len(words) == 3 and words[0] == "source":
                sub = g.classify(words[2])
                if sub is not None and g.library[sub[0]] != words[1]:
                    faults.append(f"{words[2]}: a file of subsystem {sub[0]} built into "
                                  f"{words[1]}, not {g.library[sub[0]]}")
    for lib in g.holds:
        if lib not in links:
            faults.append(f"{path}: no link line for library {lib}")
            continue
        for other in sorted(links[lib] - g.libraries_needed(lib)):
            faults.append(f"{lib} links {other}, which holds no subsystem it needs; "
                          f"change {GRAPH} if the design calls for it")
        reached, todo = set(), [lib]
        while todo:
            for m in links.get(todo.pop(), ()):
                if m not in reached:
                    reached.add(m)
                    todo.append(m)
        for other in sorted(g.libraries_needed(lib) - reached):
            faults.append(f"{lib} needs {other} but does not link it")
    return faults


def main():
    args = sys.argv[1:]
    links = None
    if "--links" in args:
        i = args.index("--links")
        links = args[i + 1]
        del args[i:i + 2]
    root = os.path.abspath(args[0] if args else ".")
    g = Graph(os.path.join(root, GRAPH))
    faults = check_includes(root, g)
    if links:
        faults += check_links(g, links)
    for f in faults:
        print(f)
    print(f"layering: {len(faults)} fault(s)" if faults else "layering: no fault")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
