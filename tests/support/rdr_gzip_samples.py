#!/usr/bin/python3
# Writes compressed samples for the inflater tests into the directory given
# as the first argument: NAME.gz (or NAME.z for zlib format) beside NAME.raw,
# the bytes it must inflate to.
#   module  - the gzip module with a file name (FNAME)
#   fields  - header built by hand with FEXTRA, FNAME, FCOMMENT and FHCRC
#   stored  - gzip of stored (level 0) blocks
#   empty   - gzip of no data
#   zlib    - the zlib format
#   badhcrc - "fields" with a wrong header CRC (no .raw: it must be refused)
import gzip
import io
import os
import random
import struct
import sys
import zlib

out = sys.argv[1]


def payload(seed, lines):
    rng = random.Random(seed)
    words = ["frame", "stream", "window", "inflate", "header", "trailer", "checkpoint"]
    text = "".join("%d %s %s %08x\n" % (i, rng.choice(words), rng.choice(words),
                                        rng.getrandbits(32)) for i in range(lines))
    return text.encode()


def save(name, ext, packed, raw):
    with open(os.path.join(out, name + ext), "wb") as f:
        f.write(packed)
    with open(os.path.join(out, name + ".raw"), "wb") as f:
        f.write(raw)


def by_module(data):
    buf = io.BytesIO()
    with gzip.GzipFile(filename="sample.txt", mode="wb", fileobj=buf, mtime=1700000000) as g:
        g.write(data)
    return buf.getvalue()


def with_fields(data, hcrc_flip=0):
    FHCRC, FEXTRA, FNAME, FCOMMENT = 2, 4, 8, 16
    extra = b"AB" + struct.pack("<H", 5) + b"xyz\0\1"
    header = struct.pack("<BBBBIBB", 0x1F, 0x8B, 8, FHCRC | FEXTRA | FNAME | FCOMMENT,
                         1700000000, 2, 3)
    header += struct.pack("<H", len(extra)) + extra
    header += b"name-\xc3\xa9.txt\0" + b"a comment\nover two lines\0"
    header += struct.pack("<H", (zlib.crc32(header) ^ hcrc_flip) & 0xFFFF)
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = c.compress(data) + c.flush()
    trailer = struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)
    return header + body + trailer


def stored(data):
    c = zlib.compressobj(0, zlib.DEFLATED, 31)
    return c.compress(data) + c.flush()


data = payload(7, 2500)
save("module", ".gz", by_module(data), data)
save("fields", ".gz", with_fields(data), data)
save("stored", ".gz", stored(data[:40000]), data[:40000])
save("empty", ".gz", gzip.compress(b"", mtime=0), b"")
save("zlib", ".z", zlib.compress(data, 6), data)
with open(os.path.join(out, "badhcrc.gz"), "wb") as f:
    f.write(with_fields(data, 0x0100))
