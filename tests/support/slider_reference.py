#!/usr/bin/python3
# Reference for the slider's thumb arithmetic, one axis a request:
#   <size> <range> <page> <value> <press> <dragFrom> <dragTo>
# prints "<thumb> <position> <afterPress> <afterDrag>": the thumb size and
# position at value; the value after a press at <press> (a page step, or
# unchanged inside the thumb); the value after a drag that started inside
# the thumb at <dragFrom> and moved to <dragTo> (unchanged when equal).
# Rounding is to the nearest integer, halves away from zero, exact.
import sys
from fractions import Fraction


def rnd(f):
    f = Fraction(f)
    n = abs(f)
    r = int(n) + (1 if n - int(n) >= Fraction(1, 2) else 0)
    return r if f >= 0 else -r


def clamp(v, hi):
    return max(0, min(v, hi))


for line in sys.stdin:
    if not line.strip():
        continue
    size, rng, page, value, press, dfrom, dto = map(int, line.split())
    thumb = max(8, min(size, rnd(Fraction(page * size, rng + page))))
    pos = 0 if rng == 0 else rnd(Fraction((size - thumb) * value, rng))
    if press >= pos + thumb:
        after = clamp(value + page, rng)
    elif press < pos:
        after = clamp(value - page, rng)
    else:
        after = value
    offset = dfrom - pos
    # No motion, no change.
    drag = value if dto == dfrom else 0 if size <= thumb else clamp(rnd(Fraction((dto - offset) * rng, size - thumb)), rng)
    print(thumb, pos, after, drag)
