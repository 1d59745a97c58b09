#!/usr/bin/env python3
"""Plants includes and link lines in a small tree that carries the real layer
graph, and checks that layering.py judges them: those against the graph
fail, the rest pass."""

import os
import shutil
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "layering.py")

FILES = {
    "tlcore/base/plat/String.h": "",
    "tlcore/base/rdr/InStream.h": '#include "plat/String.h"\n',
    "tlcore/base/http/Http.h": "",
    "tlcore/base/os/AppInfo.h": "",
    "tlcore/uilibs/wvw/Widget.h": "",
    "libs/hosted/BedValue.h": "",
    "tlcore/uilibs/mui/MuElement.h": '#include "plat/String.h"\n',
    "libs/tlOrbSetup/tlOrbSetup.catalogue": "",
    "tests/support/uihelp.h": '#include "mui/MuElement.h"\n',
    "tests/support/helpers.h": '#include "uihelp.h"\n',
    "tlcore/uilibs/tx/TXWindow.h": "",
    "libs/hosted/Bed.h": "",
}

# (file, its text, faults expected)
CASES = [
    ("tlcore/base/plat/a.cpp", '#include "plat/String.h"\n#include <vector>\n', 0),
    ("tlcore/base/plat/b.cpp", '#include "mui/MuElement.h"\n', 1),
    ("tlcore/base/loc/tests/c.cpp", '#include "tlOrbSetup/LocStrings.h"\n', 1),
    ("tlcore/base/rdr/d.cpp", '#include "http/Http.h"\n', 1),
    ("tlcore/base/rdr/tests/e.cpp", '#include "http/Http.h"\n', 0),
    ("tlcore/base/plat/f.cpp", '#include "rdr/InStream.h"\n', 0),
    ("tlcore/uilibs/mui/g.cpp", '#include "rdr/InStream.h"\n', 0),
    ("tlcore/base/io/tests/h.cpp", '#include "helpers.h"\n', 1),
    ("libs/tlOrbSetup/tests/i.cpp", '#include "helpers.h"\n', 0),
    ("tlcore/uilibs/wvw/j.cpp", '#include <X11/Xlib.h>\n', 1),
    ("tlcore/uilibs/wvw/tests/k.cpp", '#include <X11/Xlib.h>\n', 0),
    ("tlcore/uilibs/tx/l.cpp", '#include <X11/Xlib.h>\n', 0),
    ("tlcore/uilibs/mui/m.cpp", '#include "wvw/Widget.h"\n', 1),
    ("tlcore/uilibs/mui/n.h", '#include "tx/TXWindow.h"\n', 1),
    ("tlcore/uilibs/mui/o.cpp", '#include <X11/Xlib.h>\n', 1),
    ("tlcore/libs/muimisc/p.cpp", '#include "wvw/Widget.h"\n', 1),
    ("tlcore/uilibs/mui/wvw/q.cpp", '#include "wvw/Widget.h"\n', 0),
    ("tlcore/uilibs/mui/MuDialogTx.cpp", '#include "tx/TXWindow.h"\n#include <X11/Xlib.h>\n', 0),
    ("tlcore/libs/muimisc/ProgressBarWvw.h", '#include "wvw/Widget.h"\n', 0),
    ("tlcore/uilibs/mui/tests/r.cpp", '#include "wvw/Widget.h"\n', 0),
    ("tlcore/uilibs/tx/s.cpp", '#include "os/AppInfo.h"\n#include "wvw/Widget.h"\n', 0),
    ("tlcore/uilibs/tx/t.cpp", '#include "http/Http.h"\n#include "hosted/BedValue.h"\n', 2),
    ("tlcore/uilibs/tx/tests/u.cpp", '#include "http/Http.h"\n', 0),
    ("tlcore/uilibs/wvw/v.cpp", '#include "hosted/Bed.h"\n', 1),
    ("tlcore/base/rfb/w.cpp", '#include "hosted/Bed.h"\n', 1),
    ("tlcore/uilibs/wvw/tests/x.cpp", '#include "hosted/Bed.h"\n', 1),
    ("libs/hosted/y.cpp", '#include "http/Http.h"\n#include "wvw/Widget.h"\n', 1),
    ("tlcore/base/os/z.cpp", '#include "rdr/InStream.h"\n#include "http/Http.h"\n', 1),
]

# Link lines and sources as CMake writes them; (changes to them, faults expected).
LINKS = {
    "tlcore": "link tlcore dl", "hosted": "link hosted tlcore_whole",
    "tlpixels": "link tlpixels tlcore_whole PNG::PNG", "wvw": "link wvw tlpixels",
    "tx": "link tx wvw_whole X11::X11", "mui": "link mui $<LINK_LIBRARY:WHOLE_ARCHIVE,tx> tlpixels",
    "tlOrbSetup": "link tlOrbSetup mui_whole hosted_whole",
    "source": "source wvw tlcore/uilibs/wvw/Widget.cpp",
}
LINK_CASES = [
    ({}, 0),
    ({"wvw": "link wvw tlpixels hosted_whole"}, 1),
    ({"tlOrbSetup": "link tlOrbSetup mui_whole"}, 1),
    ({"source": "source tlcore tlcore/uilibs/wvw/Widget.cpp"}, 1),
]


def run(files, links=None):
    """layering.py's fault lines and exit status on a tree of files."""
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "cmake"))
        shutil.copy(os.path.join(os.path.dirname(SCRIPT), "..", "cmake", "layers.txt"),
                    os.path.join(root, "cmake"))
        for path, body in list(FILES.items()) + files:
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as fh:
                fh.write(body)
        args = [sys.executable, SCRIPT, root]
        if links is not None:
            with open(os.path.join(root, "links.txt"), "w") as fh:
                fh.write("\n".join(links.values()) + "\n")
            args += ["--links", os.path.join(root, "links.txt")]
        done = subprocess.run(args, capture_output=True, text=True)
        return done.stdout.splitlines()[:-1], done.returncode


def main():
    failures = 0
    for name, text, expected in CASES:
        lines, status = run([(name, text)])
        faults = [l for l in lines if l.startswith(name + ":")]
        if len(faults) != expected or len(lines) != expected or (status != 0) != (expected > 0):
            failures += 1
            print(f"{name}: expected {expected} fault(s), got:\n" + "\n".join(lines))
    for change, expected in LINK_CASES:
        lines, status = run([], dict(LINKS, **change))
        if len(lines) != expected or (status != 0) != (expected > 0):
            failures += 1
            print(f"links {change}: expected {expected} fault(s), got:\n" + "\n".join(lines))
    total = len(CASES) + len(LINK_CASES)
    print(f"{total - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
