#!/usr/bin/env python3
"""Plants faults in a copy of the source tree and checks that layering.py
refuses each one, and only that one: includes against the graph, faults in
the graph itself (a cycle, a needs entry pointing later, an unused entry, a
dead folder, a bad exception), leaks through headers, and link lines."""

import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import layering  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COPIED = ("tlcore", "libs", "tests/support")

# Link lines and sources as CMake writes them.
LINKS = {
    "tlcore": "link tlcore dl", "hosted": "link hosted tlcore_whole",
    "tlpixels": "link tlpixels tlcore_whole PNG::PNG", "wvw": "link wvw tlpixels",
    "tx": "link tx wvw_whole X11::X11", "mui": "link mui $<LINK_LIBRARY:WHOLE_ARCHIVE,tx> tlpixels",
    "tlOrbSetup": "link tlOrbSetup mui_whole hosted_whole",
    "source": "source wvw tlcore/uilibs/wvw/Widget.cpp",
}


def append(text):
    return lambda old: old + text


def graph(old, new, count=1):
    """An edit of cmake/layers.txt: a regular expression and its replacement."""
    def edit(text):
        changed, n = re.subn(old, new, text, flags=re.M)
        assert n == count, f"{old} matched {n} times"
        return changed
    return edit


# (edits: path -> new text or a function of the old one, link line changes,
#  the faults expected: each pattern matches one fault or more, and every
#  fault matches a pattern)
CASES = [
    # Includes of library files against what their subsystem builds on.
    ({"tlcore/base/plat/a.cpp": '#include "plat/String.h"\n#include <vector>\n'}, {}, []),
    ({"tlcore/base/plat/b.cpp": '#include "mui/MuElement.h"\n'}, {},
     [r"^tlcore/base/plat/b.cpp:1: .* subsystem 1 .* does not build on subsystem 12"]),
    ({"tlcore/base/rdr/d.cpp": '#include "http/HttpClient.h"\n'}, {},
     [r"^tlcore/base/rdr/d.cpp:1: .*does not build on subsystem 6"]),
    ({"tlcore/base/os/z.cpp": '#include "rdr/InStream.h"\n#include "http/HttpClient.h"\n'}, {},
     [r"^tlcore/base/os/z.cpp:2: "]),
    ({"tlcore/uilibs/mui/g.cpp": '#include "rdr/InStream.h"\n'}, {}, []),
    ({"tlcore/uilibs/mui/m.cpp": '#include "wvw/Widget.h"\n'}, {}, [r"mui/m.cpp:1: .* 10;"]),
    ({"tlcore/uilibs/mui/n.h": '#include "tx/TXWindow.h"\n'}, {}, [r"mui/n.h:1: .* 11;"]),
    ({"tlcore/libs/muimisc/p.cpp": '#include "wvw/Widget.h"\n'}, {}, [r"muimisc/p.cpp:1:"]),
    ({"tlcore/uilibs/mui/MuPlantedTx.cpp": '#include "tx/TXWindow.h"\n',
      "tlcore/libs/muimisc/PlantedWvw.h": '#include "wvw/Widget.h"\n'}, {}, []),
    ({"tlcore/uilibs/tx/s.cpp": '#include "os/AppInfo.h"\n#include "wvw/Widget.h"\n'}, {}, []),
    ({"tlcore/uilibs/tx/t.cpp": '#include "http/HttpClient.h"\n#include "hosted/Bed.h"\n'}, {},
     [r"tx/t.cpp:1: .* 6;", r"tx/t.cpp:2: .* 7;"]),
    ({"tlcore/uilibs/wvw/v.cpp": '#include "hosted/Bed.h"\n',
      "tlcore/base/rfb/w.cpp": '#include "hosted/Bed.h"\n'}, {},
     [r"wvw/v.cpp:1: .* 7;", r"rfb/w.cpp:1: .* 7;"]),
    ({"libs/hosted/y.cpp": '#include "http/HttpClient.h"\n#include "wvw/Widget.h"\n'}, {},
     [r"hosted/y.cpp:2: .* 10;"]),
    # X11 headers: only the X11 layer's library files include them.
    ({"tlcore/uilibs/wvw/j.cpp": "#include <X11/Xlib.h>\n",
      "tlcore/uilibs/mui/o.cpp": "#include <X11/Xlib.h>\n",
      "tlcore/uilibs/tx/l.cpp": "#include <X11/Xlib.h>\n",
      "tlcore/uilibs/wvw/tests/k.cpp": "#include <X11/Xlib.h>\n"}, {},
     [r"wvw/j.cpp:1: .* uses no X library", r"mui/o.cpp:1: .* uses no X library"]),
    # Tests: their library and what it links, also through tests/support.
    ({"tests/support/plantedUi.h": '#include "mui/MuElement.h"\n',
      "tests/support/planted.h": '#include "plantedUi.h"\n',
      "tlcore/base/io/tests/h.cpp": '#include "planted.h"\n',
      "libs/tlOrbSetup/tests/i.cpp": '#include "planted.h"\n',
      "tlcore/uilibs/mui/tests/r.cpp": '#include "wvw/Widget.h"\n',
      "tlcore/base/rdr/tests/e.cpp": '#include "http/HttpClient.h"\n'}, {},
     [r"io/tests/h.cpp:1: includes planted.h \(through .*plantedUi.h -> "
      r"tlcore/uilibs/mui/MuElement.h\): library mui is not below tlcore"]),
    ({"tlcore/base/loc/tests/c.cpp": '#include "tlOrbSetup/LocStrings.h"\n',
      "tlcore/uilibs/wvw/tests/x.cpp": '#include "hosted/Bed.h"\n',
      "tlcore/base/io/tests/f.cpp": '#include "rdr/tests/Helper.h"\n',
      "tlcore/base/rdr/tests/Helper.h": "",
      "tlcore/base/io/g.cpp": '#include "planted.h"\n',
      "tests/support/planted.h": ""}, {},
     [r"loc/tests/c.cpp:1: .*library tlOrbSetup", r"wvw/tests/x.cpp:1: .*library hosted",
      r"io/tests/f.cpp:1: .*another folder's test header", r"io/g.cpp:1: .*no library's"]),

    # The graph: a cycle (2 and 4, 4 and 5 use each other in the core).
    ({"cmake/layers.txt": graph(r"^needs 4 1 2$", "needs 4 1 2 5")}, {},
     [r"needs 4 lists 5, which is built later \(tlcore lists 5 after 4\) and closes a cycle"]),
    ({"cmake/layers.txt": graph(r"^needs 2 1$", "needs 2 1 4")}, {},
     [r"needs 2 lists 4, .* closes a cycle"]),
    # A needs entry pointing later: the hosted client on the wizard's dialog.
    ({"cmake/layers.txt": graph(r"^(needs 7 .*)$", r"\1 13"),
      "libs/hosted/Planted.cpp": '#include "tlOrbSetup/SetupDlg.h"\n'}, {},
     [r"needs 7 lists 13, which is built later \(library tlOrbSetup is not below hosted"]),
    # The element model on its back-ends: later in the same library.
    ({"cmake/layers.txt": graph(r"^(needs 12 .*)$", r"\1 12b"),
      "tlcore/uilibs/mui/MuElement.cpp": append('#include "mui/MuWindowsTx.h"\n')}, {},
     [r"needs 12 lists 12b, which is built later \(mui lists 12b after 12\)"]),
    # An X header leaking into the element model through a header: refused
    # where it is included, and where that header is included.
    ({"tlcore/uilibs/mui/MuPlanted.h": '#include "mui/MuWindowsTx.h"\n',
      "tlcore/uilibs/mui/MuElement.cpp": append('#include "mui/MuPlanted.h"\n')}, {},
     [r"^tlcore/uilibs/mui/MuPlanted.h:1: .* does not build on subsystem 12b",
      r"^tlcore/uilibs/mui/MuElement.cpp:\d+: includes mui/MuPlanted.h \(through "
      r"tlcore/uilibs/mui/MuWindowsTx.h\): reaches subsystem 10, 11, 12b and X11 headers"]),
    # ... and where an exception lets a header use the back-ends, through it
    # into any file the exception does not list.
    ({"cmake/layers.txt": append("exception planted 12 12b a dialog built on X\n"
                                 "    tlcore/uilibs/mui/MuPlanted.h\n"),
      "tlcore/uilibs/mui/MuPlanted.h": '#include "mui/MuWindowsTx.h"\n',
      "tlcore/uilibs/mui/MuElement.cpp": append('#include "mui/MuPlanted.h"\n')}, {},
     [r"^tlcore/uilibs/mui/MuElement.cpp:\d+: .*reaches subsystem 10, 11, 12b and X11 headers"]),
    # A stream header reaching the localisation through a listed header.
    ({"tlcore/base/loc/Planted.cpp": '#include "loc/Localize.h"\n'}, {},
     [r"loc/Planted.cpp:1: includes loc/Localize.h \(through tlcore/base/rdr/Forward.h\): "
      r"reaches subsystem 4, which subsystem 2 does not build on"]),
    # Entries nothing uses, and lines naming what does not exist.
    ({"cmake/layers.txt": graph(r"^(needs 8 .*)$", r"\1 11")}, {},
     [r"needs 8 lists 11, which no file of 8 includes"]),
    ({"cmake/layers.txt": graph(r"^x11 11$", "x11 11 12b")}, {}, [r"x11 lists 12b"]),
    ({"cmake/layers.txt": append("folder tlcore/uilibs/mui/wvw 12b\n")}, {},
     [r"folder tlcore/uilibs/mui/wvw does not exist"]),
    ({"cmake/layers.txt": append("file tlcore/libs/muimisc/*Tx.* 12b\n")}, {},
     [r"file tlcore/libs/muimisc/\*Tx.\* matches no file"]),
    # Exceptions: inside one library, pointing later, listing files that use it.
    ({"cmake/layers.txt": append("exception planted 9 10 no reason\n"
                                 "    tlcore/base/rfb/Region.cpp\n")}, {},
     [r"exception planted: 9 and 10 are not in one library",
      r"lists tlcore/base/rfb/Region.cpp, which reaches no file of subsystem 10"]),
    ({"cmake/layers.txt": append("exception planted 4 2 no reason\n"
                                 "    tlcore/base/io/Endpoint.cpp tlcore/base/io/Gone.cpp\n"
                                 "    tlcore/base/os/host.h\n")}, {},
     [r"exception planted: 4 already builds on 2",
      r"lists tlcore/base/io/Gone.cpp, which is no file of subsystem 4",
      r"lists tlcore/base/os/host.h, which is no file of subsystem 4"]),
    ({"cmake/layers.txt": graph(r"^    tlcore/base/plat/Uuid.cpp$",
                                "    tlcore/base/plat/Uuid.cpp tlcore/base/plat/Time.cpp")}, {},
     [r"exception core-crypto lists tlcore/base/plat/Time.cpp, which reaches no file"]),

    # Link lines and library sources.
    ({}, {"wvw": "link wvw tlpixels hosted_whole"},
     [r"wvw links hosted, which holds no subsystem it needs"]),
    ({}, {"tlOrbSetup": "link tlOrbSetup mui_whole"},
     [r"needs 8 lists 7, .*library hosted is not below tlOrbSetup",
      r"needs 13 lists 7, .*library hosted is not below tlOrbSetup",
      r"^libs/tlOrbSetup/tests/.*: library hosted is not below tlOrbSetup, the library of this test"]),
    ({}, {"tlcore": "link tlcore dl mui"},
     [r"libraries mui, tlcore, tlpixels, tx, wvw link each other: .* cycle",
      r"tlcore links mui, which holds no subsystem it needs"]),
    ({}, {"source": "source tlcore tlcore/uilibs/wvw/Widget.cpp"},
     [r"Widget.cpp: a file of subsystem 10 built into tlcore, not wvw"]),
]


def copy_tree(root):
    shutil.copy(os.path.join(SOURCE, layering.GRAPH), os.path.join(root, "cmake"))
    for top in COPIED:
        for dirpath, dirnames, filenames in os.walk(os.path.join(SOURCE, top)):
            dirnames[:] = [d for d in dirnames if not d.startswith(".")]
            to = os.path.join(root, os.path.relpath(dirpath, SOURCE))
            os.makedirs(to, exist_ok=True)
            for f in filenames:
                if f.endswith(layering.SOURCE_EXT + (".catalogue",)):
                    shutil.copy(os.path.join(dirpath, f), to)


def run_case(root, edits, link_changes):
    """The faults layering.py finds with the edits and link changes applied;
    the tree is restored afterwards."""
    saved = {}
    try:
        for path, edit in edits.items():
            full = os.path.join(root, path)
            old = open(full).read() if os.path.exists(full) else None
            saved[full] = old
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as fh:
                fh.write(edit(old) if callable(edit) else edit)
        links = os.path.join(root, "links.txt")
        with open(links, "w") as fh:
            fh.write("\n".join(dict(LINKS, **link_changes).values()) + "\n")
        return layering.check(root, links)
    finally:
        for full, old in saved.items():
            if old is None:
                os.remove(full)
            else:
                with open(full, "w") as fh:
                    fh.write(old)


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "cmake"))
        copy_tree(root)
        baseline = set(run_case(root, {}, {}))
        for f in sorted(baseline):
            print(f"the tree itself: {f}")
        for edits, link_changes, expected in CASES:
            found = [f for f in run_case(root, edits, link_changes) if f not in baseline]
            unmatched = [f for f in found if not any(re.search(p, f) for p in expected)]
            missing = [p for p in expected if not any(re.search(p, f) for f in found)]
            if unmatched or missing:
                failures += 1
                print(f"planted {sorted(edits) + sorted(link_changes)}: expected "
                      + "".join(f"\n  {p}" for p in expected) + "\ngot:"
                      + "".join(f"\n  {f}" for f in found))
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
