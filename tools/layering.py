#!/usr/bin/env python3
"""Checks that no #include goes up the library order.

Usage: layering.py <source root>

Libraries, lowest first: core; hosted client; pixels and images; widgets;
X11 layer; UI model; engine and wizard. A file of one layer may include
headers of its own layer and of layers below it, never above. The core is
one library, but its folders follow the order in which its subsystems are
built; the cross-uses that go against that order are listed in CORE_UPWARD
with their reasons.

Layers below the X11 layer reach no X library: their library files
include no X11 header (their tests may, for peers such as Xlib regions).
The UI model stands on the widgets and the X11 layer, but its element
model names no toolkit: only its back-end files (the folder mui/wvw, and
files whose names end in Wvw or Tx) include their headers or X headers.

Every header, source and test under the library folders is read. Helpers in
tests/support belong to no layer: what a test reaches through them counts
as included by the test. Top-level tests/, bench/ and fuzz/ stand above
every layer. An include is resolved as the compiler does (the including
file's folder, then the include paths); a header that is not the project's
own is skipped. Prints one line per fault and exits 1 when there is any.
"""

import fnmatch
import os
import re
import sys

LAYERS = ["core", "hosted client", "pixels and images", "widgets",
          "X11 layer", "UI model", "engine and wizard"]

# Folder -> (layer, core subsystem). The longest matching prefix wins, so a
# new file in a listed folder is classified without touching this table.
FOLDERS = {
    "tlcore/base/plat": ("core", 1),
    "tlcore/base/loc": ("core", 2),
    "tlcore/base/3rdparty/xml": ("core", 3),
    "tlcore/base/rdr": ("core", 4),
    "tlcore/base/io": ("core", 4),
    "tlcore/base/os": ("core", 5),
    "tlcore/libs/product": ("core", 5),
    "tlcore/base/crypto": ("core", 6),
    "tlcore/libs/ssl": ("core", 6),
    "tlcore/base/http": ("core", 6),
    "libs/hosted": ("hosted client", 0),
    "libs/hostedremoteaccess": ("hosted client", 0),
    "tlcore/base/rfb": ("pixels and images", 0),
    "tlcore/base/tlutil": ("pixels and images", 0),
    "tlcore/base/3rdparty/Xregion": ("pixels and images", 0),
    "tlcore/uilibs/wvw": ("widgets", 0),
    "tlcore/uilibs/tx": ("X11 layer", 0),
    "tlcore/uilibs/ui": ("X11 layer", 0),
    "tlcore/uilibs/mui": ("UI model", 0),
    "tlcore/libs/muimisc": ("UI model", 0),
    "libs/tlOrbSetup": ("engine and wizard", 0),
    "libs/smisc": ("engine and wizard", 0),
    "libs/score": ("engine and wizard", 0),
    "tlcore/libs/svr": ("engine and wizard", 0),
    "tlcore/libs/rfb": ("engine and wizard", 0),
    "tlcore/libs/tlauth": ("engine and wizard", 0),
}

# A folder that holds files of two layers: these files are the core's.
FILES = {
    # The configuration store and its file format belong to the platform
    # core, beside the image code of the pixels layer.
    "tlcore/base/tlutil/ConfigFile.*": ("core", 1),
    "tlcore/base/tlutil/ConfigStore.*": ("core", 1),
    "tlcore/base/tlutil/tests/ConfigFile*": ("core", 1),
    "tlcore/base/tlutil/tests/ConfigStore*": ("core", 1),
    "tlcore/base/tlutil/tlutil.catalogue": ("core", 1),
}

# Includes inside the core that go against the order of its subsystems:
# (including folder, included folder) -> reason.
CORE_UPWARD = {
    ("tlcore/base/plat", "tlcore/base/rdr"):
        "JSON, XML descriptions, the obfuscated password and the file helpers "
        "read and write through streams",
    ("tlcore/base/plat", "tlcore/base/3rdparty/xml"):
        "markup and parameter descriptions are parsed with the XML parser",
    ("tlcore/base/plat", "tlcore/base/os"):
        "stack traces, file locks, per-user directories and the application "
        "name come from the OS services",
    ("tlcore/base/plat", "tlcore/base/crypto"):
        "the test-features gate hashes its key, the obfuscated password uses "
        "DES and UUIDs take random bytes",
    ("tlcore/base/tlutil", "tlcore/base/rdr"):
        "the configuration store reads and writes files through streams",
    ("tlcore/base/tlutil", "tlcore/base/os"):
        "the configuration store's files are found from the profile and "
        "program directories",
    ("tlcore/base/loc", "tlcore/base/rdr"):
        "translation files are read through file and memory streams",
    ("tlcore/base/loc", "tlcore/base/os"):
        "the application name selects a program's translation files",
    ("tlcore/base/io", "tlcore/base/os"):
        "socket helpers and shell assignments (proxy settings) are OS services",
    ("tlcore/base/io", "tlcore/base/http"):
        "the proxy connector chosen from the settings tunnels with HTTP CONNECT",
    ("tlcore/base/crypto", "tlcore/base/os"):
        "the random generator is seeded from the OS entropy source",
    ("tlcore/base/os", "tlcore/base/crypto"):
        "an elevated child's launcher proves itself with a random challenge "
        "whose digest the child gets on its command line",
}

# What a layer may use below it, where that is less than everything: the
# core subsystems and the layers it needs. A layer not listed may use all.
NEEDS = {
    # The X11 window layer: platform core, localisation, streams and I/O,
    # OS services; pixels and images; widgets.
    "X11 layer": ({1, 2, 4, 5}, {"pixels and images", "widgets"}),
}

# The lowest layer that may use X; below it, no library file includes an X header.
FIRST_X_LAYER = "X11 layer"
X_HEADER_RE = re.compile(r"^X11/")

# The element model: the UI model's files other than its back-ends.
MODEL_FOLDERS = ("tlcore/uilibs/mui/", "tlcore/libs/muimisc/")
BACKEND_RE = re.compile(r"^tlcore/uilibs/mui/wvw/|(Wvw|Tx)\.[^/.]+$")
TOOLKIT_LAYERS = ("widgets", "X11 layer")


def is_element_model(rel):
    return rel.startswith(MODEL_FOLDERS) and "/tests/" not in rel and not BACKEND_RE.search(rel)


SOURCE_EXT = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
# Searched in this order after the including file's own folder.
INCLUDE_DIRS = ["tlcore/base", "tlcore/libs", "tlcore/uilibs", "libs", "tests/support"]


def classify(rel):
    """(layer index, core subsystem, folder) of a path, or None."""
    for pattern, (layer, sub) in FILES.items():
        if fnmatch.fnmatch(rel, pattern):
            return LAYERS.index(layer), sub, os.path.dirname(pattern)
    best = None
    for folder, (layer, sub) in FOLDERS.items():
        if rel == folder or rel.startswith(folder + "/"):
            if best is None or len(folder) > len(best[2]):
                best = (LAYERS.index(layer), sub, folder)
    return best


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


def check(root):
    modules = catalogue_modules(root)
    faults = []
    for rel in library_files(root):
        src = classify(rel)
        if src is None:
            faults.append(f"{rel}: folder has no layer; add it to FOLDERS in tools/layering.py")
            continue
        is_test = "/tests/" in rel
        model = is_element_model(rel)
        for lineno, name in includes_of(root, rel):
            if (not is_test and X_HEADER_RE.match(name)
                    and (src[0] < LAYERS.index(FIRST_X_LAYER) or model)):
                who = "the element model names no toolkit" if model else \
                    f"the {LAYERS[src[0]]} layer uses no X library"
                faults.append(f"{rel}:{lineno}: includes {name}: {who}")
                continue
            target = resolve(root, rel, name, modules)
            if target is None:
                continue
            if model:
                dst = classify(target)
                if dst is not None and LAYERS[dst[0]] in TOOLKIT_LAYERS:
                    faults.append(f"{rel}:{lineno}: includes {name} ({LAYERS[dst[0]]}): the element "
                                  "model names no toolkit; only back-end files (mui/wvw, *Wvw, *Tx) may")
                    continue
            if target.startswith("tests/support/"):
                if not is_test:
                    faults.append(f"{rel}:{lineno}: includes {target}, which no library may use")
                    continue
                for reached in through_support(root, target, modules):
                    dst = classify(reached)
                    if dst is not None and dst[0] > src[0]:
                        faults.append(f"{rel}:{lineno}: includes {name}, which reaches "
                                      f"{reached} ({LAYERS[dst[0]]}) from the "
                                      f"{LAYERS[src[0]]} layer")
                continue
            if target.startswith(("tests/", "bench/", "fuzz/")):
                faults.append(f"{rel}:{lineno}: includes {target}, which no library may use")
                continue
            dst = classify(target)
            if dst is None:
                continue
            where = f"{rel}:{lineno}: includes {name}"
            needs = NEEDS.get(LAYERS[src[0]])
            if dst[0] > src[0]:
                faults.append(f"{where} ({LAYERS[dst[0]]}) from the {LAYERS[src[0]]} layer")
            elif (not is_test and needs and dst[0] < src[0]
                  and not (dst[0] == 0 and dst[1] in needs[0])
                  and LAYERS[dst[0]] not in needs[1]):
                what = f"core subsystem {dst[1]}" if dst[0] == 0 else f"the {LAYERS[dst[0]]} layer"
                faults.append(f"{where}: the {LAYERS[src[0]]} layer does not build on {what}; "
                              "change NEEDS in tools/layering.py if the design calls for it")
            elif "/tests/" in target and os.path.dirname(target) != os.path.dirname(rel):
                faults.append(f"{where}: another folder's test header; shared helpers "
                              "belong in tests/support")
            elif (not is_test and dst[0] == src[0] == 0 and dst[1] > src[1]
                  and (src[2], dst[2]) not in CORE_UPWARD):
                faults.append(f"{where}: {src[2]} (core subsystem {src[1]}) uses "
                              f"{dst[2]} (subsystem {dst[1]}); list the reason in "
                              "CORE_UPWARD if the design calls for it")
    return faults


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    faults = check(root)
    for f in faults:
        print(f)
    print(f"layering: {len(faults)} upward include(s)" if faults else "layering: no upward include")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
