"""Reference answers for the endpoint and address tests.

Each input line is "<mode> <hex of the argument>"; each output line is the
answer for it:
  escape        urllib.parse.quote with the endpoint-name safe set
  unescape      urllib.parse.unquote
  unescape_plus urllib.parse.unquote_plus
  ip            "<compressed text> <is_link_local> <is_unspecified>"
"""
import ipaddress
import sys
import urllib.parse

SAFE = "&'()*+,-. !$;=_~"

for line in sys.stdin:
    mode, _, arg = line.rstrip("\n").partition(" ")
    text = bytes.fromhex(arg).decode("utf-8")
    if mode == "escape":
        out = urllib.parse.quote(text, safe=SAFE)
    elif mode == "unescape":
        out = urllib.parse.unquote(text)
    elif mode == "unescape_plus":
        out = urllib.parse.unquote_plus(text)
    elif mode == "ip":
        a = ipaddress.ip_address(text)
        out = "%s %d %d" % (a.compressed, a.is_link_local, a.is_unspecified)
    else:
        raise SystemExit("unknown mode " + mode)
    sys.stdout.write(out.encode("utf-8").hex() + "\n")
