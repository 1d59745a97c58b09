# Reference answers for the XML library tests, from Python's own modules.
#   etree FILE...  -> one line per file: the canonical form of the document
#                     as xml.etree reads it, or ERR when it refuses it
#   b64            -> for each hexadecimal line on stdin: the base64 text,
#                     then the same with a LF after every 72 characters of
#                     complete groups (after each 54 input bytes), as hex
# The canonical form: "(" name, " @" name "=" hex(value) per attribute in
# name order, " T" hex(text) for each run of character data, child forms in
# order, ")".
import base64
import binascii
import sys
import xml.etree.ElementTree as ET


def hx(s):
    return binascii.hexlify(s.encode("utf-8")).decode()


def canon(e):
    out = ["(" + e.tag]
    for k in sorted(e.attrib):
        out.append(" @" + k + "=" + hx(e.attrib[k]))
    if e.text:
        out.append(" T" + hx(e.text))
    for c in e:
        out.append(" " + canon(c))
        if c.tail:
            out.append(" T" + hx(c.tail))
    out.append(")")
    return "".join(out)


def etree(paths):
    for p in paths:
        try:
            with open(p, "rb") as f:
                root = ET.fromstring(f.read())
            print(canon(root))
        except ET.ParseError:
            print("ERR")


def b64():
    for line in sys.stdin:
        data = binascii.unhexlify(line.strip())
        plain = base64.b64encode(data)
        full = len(data) // 54 * 54
        formatted = b"".join(base64.b64encode(data[i:i + 54]) + b"\n" for i in range(0, full, 54))
        formatted += base64.b64encode(data[full:])
        print(plain.decode() + "\t" + binascii.hexlify(formatted).decode())


if __name__ == "__main__":
    if sys.argv[1] == "etree":
        etree(sys.argv[2:])
    else:
        b64()
