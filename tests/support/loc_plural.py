"""Plural choice of GNU gettext for given Plural-Forms rules.

Usage: loc_plural.py WORKDIR NAME=RULE...  (RULE is a Plural-Forms value)
For each rule, compiles a one-entry catalogue with msgfmt, loads it with
the gettext module and prints "NAME N sing|many" for every tested count.
Exits 77 when msgfmt is missing.
"""
import gettext
import os
import shutil
import subprocess
import sys

COUNTS = list(range(0, 201)) + [1000, 1001, 65536, 2**31 - 1, 2**31, 2**32 - 1]


def main():
    if not shutil.which("msgfmt"):
        sys.exit(77)
    work = sys.argv[1]
    for item in sys.argv[2:]:
        name, rule = item.split("=", 1)
        nplurals = int(rule.split("nplurals=")[1].split(";")[0])
        forms = ["sing", "many"] if nplurals == 2 else ["many"]
        po = os.path.join(work, name + ".po")
        mo = os.path.join(work, name + ".mo")
        with open(po, "w", encoding="utf-8") as f:
            f.write('msgid ""\nmsgstr ""\n'
                    '"Content-Type: text/plain; charset=UTF-8\\n"\n'
                    '"Plural-Forms: %s\\n"\n\n' % rule)
            f.write('msgid "one"\nmsgid_plural "other"\n')
            for i, form in enumerate(forms):
                f.write('msgstr[%d] "%s"\n' % (i, form))
        subprocess.run(["msgfmt", "-o", mo, po], check=True)
        with open(mo, "rb") as f:
            t = gettext.GNUTranslations(f)
        for n in COUNTS:
            print(name, n, t.ngettext("one", "other", n))


main()
