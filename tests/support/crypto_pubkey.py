# Converts keys and signatures between the PEM/DER forms openssl uses and
# the system's interchange forms, with python3-cryptography.
# One request a line on stdin, one answer (hex, or "-" for nothing) a line:
#   rsapriv PEMFILE            -> private interchange form
#   rsapub PEMFILE fixed|var   -> public interchange form
#   rsapem HEX PEMFILE         -> "-"; writes the private form as PEM
#   ecpriv PEMFILE             -> EC private form (16-bit length, d)
#   ecpub PEMFILE              -> FF FE CD 5A, length, uncompressed point
#   sig2der HEX                -> DER ECDSA signature of r||s (equal halves)
#   der2sig DERFILE            -> 16-bit length, r and s in the larger size
#   xpub 25519|448 SCALARHEX   -> public key (little-endian) of a private
#                                 scalar given big-endian
#   pbkdf2 BITS PWHEX SALTHEX ROUNDS LEN -> hashlib.pbkdf2_hmac
import hashlib
import struct
import sys

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa, x448, x25519
from cryptography.hazmat.primitives.asymmetric.utils import (
    decode_dss_signature, encode_dss_signature)


def field(text):
    return b"" if text == "-" else bytes.fromhex(text)


def num(n, size):
    return n.to_bytes(size, "big")


def minimal(n):
    return max(1, (n.bit_length() + 7) // 8)


def load_private(path):
    with open(path, "rb") as f:
        return serialization.load_pem_private_key(f.read(), None)


def rsa_public(pub, variable):
    bits = pub.n.bit_length()
    b = (bits + 7) // 8
    out = struct.pack(">I", bits) + num(pub.n, b)
    if variable:
        e = num(pub.e, minimal(pub.e))
        return out + struct.pack(">H", len(e)) + e
    return out + num(pub.e, b)


def rsa_private(key):
    p = key.private_numbers()
    pub = p.public_numbers
    bits = pub.n.bit_length()
    b, h = (bits + 7) // 8, (((bits + 1) // 2) + 7) // 8
    out = rsa_public(pub, False) + num(p.d, b)
    for v in (p.p, p.q, p.dmp1, p.dmq1, p.iqmp):
        out += num(v, h)
    return out


def rsa_pem(raw, path):
    bits = int.from_bytes(raw[:4], "big")
    b, h = (bits + 7) // 8, (((bits + 1) // 2) + 7) // 8
    sizes = [b, b, b, h, h, h, h, h]
    vals, at = [], 4
    for size in sizes:
        vals.append(int.from_bytes(raw[at:at + size], "big"))
        at += size
    n, e, d, p, q, dp, dq, qp = vals
    key = rsa.RSAPrivateNumbers(p, q, d, dp, dq, qp, rsa.RSAPublicNumbers(e, n)).private_key()
    with open(path, "wb") as fh:
        fh.write(key.private_bytes(serialization.Encoding.PEM,
                                   serialization.PrivateFormat.TraditionalOpenSSL,
                                   serialization.NoEncryption()))
    return b""


def answer(f):
    cmd = f[0]
    if cmd == "rsapriv":
        return rsa_private(load_private(f[1]))
    if cmd == "rsapub":
        return rsa_public(load_private(f[1]).public_key().public_numbers(), f[2] == "var")
    if cmd == "rsapem":
        return rsa_pem(field(f[1]), f[2])
    if cmd == "ecpriv":
        d = load_private(f[1]).private_numbers().private_value
        raw = num(d, minimal(d))
        return struct.pack(">H", len(raw)) + raw
    if cmd == "ecpub":
        point = load_private(f[1]).public_key().public_bytes(
            serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
        return b"\xff\xfe\xcd\x5a" + bytes([len(point)]) + point
    if cmd == "sig2der":
        raw = field(f[1])[2:]
        half = len(raw) // 2
        return encode_dss_signature(int.from_bytes(raw[:half], "big"),
                                    int.from_bytes(raw[half:], "big"))
    if cmd == "der2sig":
        with open(f[1], "rb") as fh:
            r, s = decode_dss_signature(fh.read())
        half = max(minimal(r), minimal(s))
        return struct.pack(">H", 2 * half) + num(r, half) + num(s, half)
    if cmd == "xpub":
        kind = x25519.X25519PrivateKey if f[1] == "25519" else x448.X448PrivateKey
        scalar = field(f[2])[::-1]
        return kind.from_private_bytes(scalar).public_key().public_bytes(
            serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    if cmd == "pbkdf2":
        return hashlib.pbkdf2_hmac("sha%d" % int(f[1]), field(f[2]), field(f[3]), int(f[4]),
                                   int(f[5]))
    sys.exit("unknown request " + cmd)


for line in sys.stdin:
    out = answer(line.split())
    print(out.hex() if out else "-")
