#!/usr/bin/env python3
"""Plants includes in a small tree and checks that layering.py judges them:
upward ones fail, the rest pass."""

import os
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
]


def main():
    failures = 0
    for name, text, expected in CASES:
        with tempfile.TemporaryDirectory() as root:
            for path, body in list(FILES.items()) + [(name, text)]:
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as fh:
                    fh.write(body)
            run = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
            faults = [l for l in run.stdout.splitlines() if l.startswith(name + ":")]
            if len(faults) != expected or (run.returncode != 0) != (expected > 0):
                failures += 1
                print(f"{name}: expected {expected} fault(s), got:\n{run.stdout}")
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
