#!/usr/bin/python3
"""An independent BED and package encoder and decoder for the hosted tests.

Values are tuples: ("int", n), ("bool", b), ("time", ticks), ("str", text),
("opaque", bytes), ("map", [(key, value)...]), ("seq", [value...]),
("raw", bytes) for an unknown fixed or variable value kept whole, and
("unknown", type, [value...]) for an unknown composite.

Commands (hex documents one a line on standard input where noted):
  gen SEED N          N random documents: "<input hex> <canonical hex>"
  reencode            each document decoded and encoded again
  spans               per map document: "offset length" of each value, in order
  package-gen SEED N  N random packages: JSON {package, sections, checksum, signable}
  package-dump FILE   the package that ends FILE: JSON sections, BED sections decoded
  section FILE NAME OUT   writes one section's bytes
  signable FILE OUT   writes the signable bytes
"""
import datetime
import hashlib
import json
import random
import struct
import sys

EPOCH = datetime.date(1601, 1, 1).toordinal()
TICKS_PER_SECOND = 10_000_000


def ticks_of(y, mo, d, h, mi, s, ms):
    days = datetime.date(y, mo, d).toordinal() - EPOCH
    return (days * 86400 + h * 3600 + mi * 60 + s) * TICKS_PER_SECOND + ms * 10_000


def fields_of(ticks):
    secs, rest = divmod(ticks, TICKS_PER_SECOND)
    days, daysecs = divmod(secs, 86400)
    date = datetime.date.fromordinal(EPOCH + days)
    ms = rest // 10_000
    return date.year, date.month, date.day, daysecs // 3600, daysecs // 60 % 60, daysecs % 60, ms


def pack_time(y, mo, d, h, mi, s, ms, offset=0):
    return ((offset & 0x7FF) | (ms << 11) | (s << 21) | (mi << 27) | (h << 33) | (d << 38)
            | (mo << 43) | ((y & 0x3FFF) << 47))


WIDTH_BYTES = [1, 2, 4, 8]


def signed_width(v):
    for w, n in enumerate(WIDTH_BYTES):
        if -(1 << (8 * n - 1)) <= v < (1 << (8 * n - 1)):
            return w
    raise ValueError(v)


def unsigned_width(v):
    for w, n in enumerate(WIDTH_BYTES):
        if v < (1 << (8 * n)):
            return w
    raise ValueError(v)


def number(v, w):
    n = WIDTH_BYTES[w]
    return (v & ((1 << (8 * n)) - 1)).to_bytes(n, "big")


class Encoder:
    """Canonical encoding, or with wider widths and offsets when rng is given."""

    def __init__(self, rng=None):
        self.out = bytearray()
        self.table = {}
        self.rng = rng

    def widen(self, w):
        if self.rng and self.rng.random() < 0.3:
            return self.rng.randint(w, 3)
        return w

    def signed(self, t, v):
        w = self.widen(signed_width(v))
        self.out += bytes([w << 5 | t]) + number(v, w)

    def unsigned(self, t, v, widen=True):
        w = self.widen(unsigned_width(v)) if widen else unsigned_width(v)
        self.out += bytes([w << 5 | t]) + number(v, w)

    def data(self, t, b):
        n = len(b)
        w = 0 if n <= 255 else 1 if n <= 65535 else 2
        if self.rng and self.rng.random() < 0.2:
            w = self.rng.randint(w, 2)
        self.out += bytes([0x80 | w << 5 | t]) + number(n, w) + b

    def text(self, s):
        if s in self.table:
            self.unsigned(0, self.table[s])
        else:
            self.table[s] = len(self.table)
            self.data(0, s.encode())

    def value(self, v):
        kind = v[0]
        if kind == "int":
            self.signed(1, v[1])
        elif kind == "bool":
            self.out += bytes([0x03, 1 if v[1] else 0])
        elif kind == "time":
            if self.rng and self.rng.random() < 0.5:
                offset = self.rng.randint(-1024, 1023)
                f = fields_of(v[1] + offset * 60 * TICKS_PER_SECOND)
                packed = pack_time(*f, offset=offset)
            else:
                packed = pack_time(*fields_of(v[1]))
            self.out += bytes([0x62]) + number(packed, 3)
        elif kind == "str":
            self.text(v[1])
        elif kind == "opaque":
            self.data(1, v[1])
        elif kind == "raw":
            self.out += v[1]
        elif kind == "map":
            self.out.append(0xE0)
            self.signed(1, 2 * len(v[1]))
            for k, x in v[1]:
                self.text(k)
                self.value(x)
        elif kind == "seq":
            self.out.append(0xE1)
            self.signed(1, len(v[1]))
            for x in v[1]:
                self.value(x)
        elif kind == "unknown":
            self.out.append(0xE0 | v[1])
            self.signed(1, len(v[2]))
            for x in v[2]:
                self.value(x)
        else:
            raise ValueError(kind)


def encode(v, rng=None):
    e = Encoder(rng)
    e.value(v)
    return bytes(e.out)


class DecodeError(Exception):
    pass


class Decoder:
    def __init__(self, data):
        self.data = data
        self.pos = 0
        self.table = []

    def take(self, n):
        if self.pos + n > len(self.data):
            raise DecodeError("truncated")
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def value(self, depth=0):
        if depth >= 32:
            raise DecodeError("nesting")
        start = self.pos
        h = self.take(1)[0]
        t, w = h & 0x1F, h >> 5 & 3
        if h >= 0xE0:
            count = self.value(depth + 1)
            if count[0] != "int" or not 0 <= count[1] <= 0x7FFFFFFE:
                raise DecodeError("count")
            n = count[1]
            if t == 0:
                if n % 2:
                    raise DecodeError("odd")
                entries = []
                for _ in range(n // 2):
                    k = self.value(depth + 1)
                    if k[0] != "str" or any(k[1] == e[0] for e in entries):
                        raise DecodeError("key")
                    entries.append((k[1], self.value(depth + 1)))
                return ("map", entries)
            children = [self.value(depth + 1) for _ in range(n)]
            return ("seq", children) if t == 1 else ("unknown", t, children)
        if h & 0x80:
            n = int.from_bytes(self.take(WIDTH_BYTES[w]), "big")
            b = self.take(n)
            if t == 0:
                if b"\0" in b:
                    raise DecodeError("nul")
                s = b.decode()
                self.table.append(s)
                return ("str", s)
            if t == 1:
                return ("opaque", b)
            return ("raw", self.data[start:self.pos])
        v = int.from_bytes(self.take(WIDTH_BYTES[w]), "big")
        if t == 1:
            bits = 8 * WIDTH_BYTES[w]
            return ("int", v - (1 << bits) if v >> (bits - 1) else v)
        if t == 0:
            if v >= len(self.table):
                raise DecodeError("index")
            return ("str", self.table[v])
        if t == 2 and w == 3:
            if v >> 61:
                raise DecodeError("time")
            offset = v & 0x7FF
            offset = offset - 0x800 if offset & 0x400 else offset
            f = [v >> 47 & 0x3FFF, v >> 43 & 0xF, v >> 38 & 0x1F, v >> 33 & 0x1F, v >> 27 & 0x3F,
                 v >> 21 & 0x3F, v >> 11 & 0x3FF]
            return ("time", ticks_of(*f) - offset * 60 * TICKS_PER_SECOND)
        if t == 3 and w == 0:
            if v > 1:
                raise DecodeError("bool")
            return ("bool", v == 1)
        return ("raw", self.data[start:self.pos])


def decode(data):
    d = Decoder(data)
    v = d.value()
    return v, d.pos


# --- Random trees ---------------------------------------------------------------

def random_text(rng, pool):
    if pool and rng.random() < 0.4:
        return rng.choice(pool)
    n = rng.choice([0, 1, 3, 8, 20, 300]) if rng.random() < 0.99 else 70000
    chars = "abcxyz \"\\\n\t\u00e9\u4e2d\U0001F600"
    s = "".join(rng.choice(chars) for _ in range(n))
    pool.append(s)
    return s


def random_unknown(rng):
    t = rng.choice([t for t in range(4, 32)] + [2, 3])
    if rng.random() < 0.5:
        if t == 2:
            w = rng.randint(0, 2)
        elif t == 3:
            w = rng.randint(1, 3)
        else:
            w = rng.randint(0, 3)
        return ("raw", bytes([w << 5 | t]) + rng.randbytes(WIDTH_BYTES[w]))
    t = rng.randint(2, 31)
    n = rng.choice([0, 1, 5, 300])
    w = 0 if n <= 255 else 1
    w = rng.randint(w, 2)
    return ("raw", bytes([0x80 | w << 5 | t]) + number(n, w) + rng.randbytes(n))


def random_value(rng, depth, pool):
    kinds = ["int", "bool", "time", "str", "opaque", "raw"]
    if depth < 6:
        kinds += ["map", "seq", "unknown"] * 2
    k = rng.choice(kinds)
    if k == "int":
        bits = rng.choice([7, 8, 15, 16, 31, 32, 63])
        return ("int", rng.randint(-(1 << bits), (1 << bits) - 1))
    if k == "bool":
        return ("bool", rng.random() < 0.5)
    if k == "time":
        return ("time", ticks_of(rng.randint(1700, 9000), rng.randint(1, 12), rng.randint(1, 28),
                                 rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59),
                                 rng.randint(0, 999)))
    if k == "str":
        return ("str", random_text(rng, pool))
    if k == "opaque":
        n = rng.choice([0, 1, 16, 255, 256]) if rng.random() < 0.98 else 70000
        return ("opaque", rng.randbytes(n))
    if k == "raw":
        return random_unknown(rng)
    n = rng.randint(0, 6)
    if k == "map":
        entries, keys = [], set()
        for _ in range(n):
            key = random_text(rng, pool)
            if key not in keys:
                keys.add(key)
                entries.append((key, random_value(rng, depth + 1, pool)))
        return ("map", entries)
    children = [random_value(rng, depth + 1, pool) for _ in range(n)]
    return ("seq", children) if k == "seq" else ("unknown", rng.randint(2, 31), children)


# --- Packages ------------------------------------------------------------------------

START, END = 0x2EBEDEE0, 0xF104EACE
SIGNATURE = "zzz.package.signature"


def encode_package(sections):
    body = b"".join(struct.pack(">I", len(n)) + n + struct.pack(">I", len(d)) + d
                    for n, d in sorted(sections.items()))
    total = 8 + len(body) + 12
    return struct.pack(">II", START, total) + body + struct.pack(">III", 0, total, END)


def decode_package(data):
    """The package at the end of data."""
    total, end = struct.unpack(">II", data[-8:])
    if end != END or total > len(data):
        raise DecodeError("no package at the tail")
    pkg = data[len(data) - total:]
    start, total2 = struct.unpack(">II", pkg[:8])
    if start != START or total2 != total:
        raise DecodeError("bad start")
    pos, sections = 8, {}
    while True:
        (n,) = struct.unpack(">I", pkg[pos:pos + 4])
        pos += 4
        if n == 0:
            break
        name = pkg[pos:pos + n]
        (d,) = struct.unpack(">I", pkg[pos + n:pos + n + 4])
        sections[name] = pkg[pos + n + 4:pos + n + 4 + d]
        pos += n + 4 + d
    if pos != total - 8:
        raise DecodeError("bad trailer")
    return sections


def checksum(sections):
    return hashlib.sha1(b"".join(n + d for n, d in sorted(sections.items()))).hexdigest()


def signable(sections):
    return b"".join(struct.pack(">I", len(n)) + n + struct.pack(">I", len(d)) + d
                    for n, d in sorted(sections.items()) if n != SIGNATURE.encode())


def to_json(v):
    kind = v[0]
    if kind in ("int", "bool", "str", "time"):
        return v[1]
    if kind == "opaque" or kind == "raw":
        return v[1].hex()
    if kind == "map":
        return {k: to_json(x) for k, x in v[1]}
    return [to_json(x) for x in v[-1]]


def main():
    cmd = sys.argv[1]
    if cmd == "gen":
        rng = random.Random(int(sys.argv[2]))
        for _ in range(int(sys.argv[3])):
            pool = []
            v = random_value(rng, 0, pool)
            canonical = encode(v)
            noisy = encode(v, rng)
            assert decode(noisy)[0] == v and decode(canonical)[0] == v
            print(noisy.hex(), canonical.hex())
    elif cmd == "reencode":
        for line in sys.stdin:
            data = bytes.fromhex(line.strip())
            v, used = decode(data)
            assert used == len(data)
            print(encode(v).hex())
    elif cmd == "spans":
        for line in sys.stdin:
            data = bytes.fromhex(line.strip())
            d = Decoder(data)
            assert d.take(1)[0] == 0xE0
            count = d.value()[1]
            spans = []
            for _ in range(count // 2):
                d.value()
                start = d.pos
                d.value()
                spans += [str(start), str(d.pos - start)]
            print(" ".join(spans))
    elif cmd == "package-gen":
        rng = random.Random(int(sys.argv[2]))
        for _ in range(int(sys.argv[3])):
            sections = {}
            for _ in range(rng.randint(0, 6)):
                name = bytes(rng.choice(b"abcz.-_") for _ in range(rng.randint(1, 63)))
                sections[name] = rng.randbytes(rng.choice([0, 1, 100, 5000]))
            if rng.random() < 0.5:
                sections[SIGNATURE.encode()] = rng.randbytes(256)
            print(json.dumps({"package": encode_package(sections).hex(),
                              "sections": {n.decode(): d.hex() for n, d in sections.items()},
                              "checksum": checksum(sections),
                              "signable": signable(sections).hex()}))
    elif cmd == "package-dump":
        with open(sys.argv[2], "rb") as f:
            sections = decode_package(f.read())
        out = {}
        for n, d in sections.items():
            name = n.decode()
            if name.startswith("vendorCfg."):
                v, used = decode(d)
                assert used == len(d)
                out[name] = to_json(v)
            else:
                out[name] = d.hex()
        print(json.dumps(out, sort_keys=True))
    elif cmd in ("section", "signable"):
        with open(sys.argv[2], "rb") as f:
            sections = decode_package(f.read())
        data = sections[sys.argv[3].encode()] if cmd == "section" else signable(sections)
        with open(sys.argv[-1], "wb") as f:
            f.write(data)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
