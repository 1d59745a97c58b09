#!/usr/bin/python3
# Reference for pixel values and colour-map lookups. One request a line:
#   pixel <bpp> <bigEndian> <rmax> <gmax> <bmax> <rshift> <gshift> <bshift> <r> <g> <b>
#   lookup <r> <g> <b> <n> <r0> <g0> <b0> ... (n palette entries)
# prints the pixel value or the index of the nearest entry.
import sys
from fractions import Fraction
from math import floor


def scale(c, m):
    # Nearest level, halves rounded up.
    return floor(Fraction(c * m, 255) + Fraction(1, 2))


def pixel(a):
    bpp, big, rm, gm, bm, rs, gs, bs, r, g, b = a
    if (rm, gm, bm) != (255, 255, 255):
        r, g, b = scale(r, rm), scale(g, gm), scale(b, bm)
    p = ((r << rs) | (g << gs) | (b << bs)) & 0xFFFFFFFF
    if big and bpp in (16, 32):
        n = bpp // 8
        low = p & ((1 << bpp) - 1)
        p = (p - low) | int.from_bytes(low.to_bytes(n, "little"), "big")
    return p


def lookup(a):
    rgb, n, pal = a[0:3], a[3], a[4:]
    if n < 1:
        return 0
    entries = [pal[3 * i:3 * i + 3] for i in range(n)]
    dist = [sum((e[k] - rgb[k]) ** 2 for k in range(3)) for e in entries]
    return min(range(n), key=lambda i: (dist[i], i))


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    args = [int(w) for w in words[1:]]
    print(pixel(args) if words[0] == "pixel" else lookup(args))
