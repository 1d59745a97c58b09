# Reference digests and HMACs from hashlib and hmac.
# One request a line on stdin, one answer (hex) a line on stdout:
#   sha BITS DATAHEX          -> the digest of the data
#   hmac BITS KEYHEX DATAHEX  -> the HMAC of the data under the key
# An empty field is written as "-".
import hashlib
import hmac
import sys

NAMES = {160: "sha1", 224: "sha224", 256: "sha256", 384: "sha384", 512: "sha512"}


def field(text):
    return b"" if text == "-" else bytes.fromhex(text)


for line in sys.stdin:
    f = line.split()
    name = NAMES[int(f[1])]
    if f[0] == "sha":
        print(hashlib.new(name, field(f[2])).hexdigest())
    elif f[0] == "hmac":
        print(hmac.new(field(f[2]), field(f[3]), name).hexdigest())
    else:
        sys.exit("unknown request " + f[0])
