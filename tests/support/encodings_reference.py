# Reference answers for the hexadecimal, base64 and percent codecs.
# One request a line on stdin, one answer a line on stdout; every argument is
# hexadecimal so any byte can travel.
#   enc HEX   -> hex, standard base64, URL-safe base64 without "=", and the
#                percent encoding of the bytes with NUL mapped to 1, tab-separated
#   b64d HEX  -> the decoded bytes in hex, or ERR
#   hexd HEX  -> the decoded bytes in hex, or ERR
import base64
import binascii
import sys
import urllib.parse


def enc(data):
    text = data.replace(b"\0", b"\1")
    # quote keeps "~" whatever safe says; the codec under test encodes it.
    pct = urllib.parse.quote(text, safe="*-._").replace("~", "%7E")
    return "\t".join([
        binascii.hexlify(data).decode(),
        base64.b64encode(data).decode(),
        base64.urlsafe_b64encode(data).decode().rstrip("="),
        pct,
    ])


def decode(fn, arg):
    try:
        return binascii.hexlify(fn(arg)).decode()
    except (ValueError, binascii.Error):
        return "ERR"


for line in sys.stdin:
    cmd, _, arg = line.rstrip("\n").partition(" ")
    raw = bytes.fromhex(arg)
    if cmd == "enc":
        print(enc(raw))
    elif cmd == "b64d":
        print(decode(lambda b: base64.b64decode(b, validate=True), raw))
    elif cmd == "hexd":
        print(decode(binascii.unhexlify, raw))
    else:
        sys.exit("unknown request " + cmd)
