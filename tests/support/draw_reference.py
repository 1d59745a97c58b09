#!/usr/bin/python3
# Reference for the stepping of lines and rounded rectangles. One request a
# line, on a buffer of w x h pixels at 0,0:
#   line <x1> <y1> <x2> <y2> <w> <h>
#   rrect <x1> <y1> <x2> <y2> <radius> <w> <h>
# prints the plotted pixels inside the buffer as "x,y" words, sorted, or "-".
import sys


def line(pts, x0, y0, x1, y1, w, h):
    lo_x, hi_x = min(x0, x1), max(x0, x1)
    lo_y, hi_y = min(y0, y1), max(y0, y1)
    dx, dy = abs(x1 - x0), abs(y1 - y0)
    sx = 1 if x1 > x0 else -1
    sy = 1 if y1 > y0 else -1
    x, y = x0, y0
    # Steps along the major axis; the minor one moves when the error allows.
    major, minor = (dx, dy) if dx >= dy else (dy, dx)
    err = 2 * minor - major
    for _ in range(major):
        if lo_x <= x <= hi_x and lo_y <= y <= hi_y:
            pts.add((x, y))
        if err < 0:
            err += 2 * minor
            if dx >= dy:
                x += sx
            else:
                y += sy
        else:
            err += 2 * (minor - major)
            x += sx
            y += sy


def rrect(pts, x1, y1, x2, y2, radius, w, h):
    if min(x2, w) <= max(x1, 0) or min(y2, h) <= max(y1, 0):
        return
    r = max(0, min(radius, (x2 - x1) // 2, (y2 - y1) // 2))
    e = 1 if r >= 2 else 0
    line(pts, x1 + r, y1, x2 - 1 - r + e, y1, w, h)
    line(pts, x2 - 1, y1 + r, x2 - 1, y2 - 1 - r + e, w, h)
    line(pts, x2 - 1 - r, y2 - 1, x1 + r - e, y2 - 1, w, h)
    line(pts, x1, y2 - 1 - r, x1, y1 + r - e, w, h)
    if r < 2:
        return
    L, R, T, B = x1 + r, x2 - 1 - r, y1 + r, y2 - 1 - r
    j, d, i = r, 1 - r, 0
    while True:
        moved = d >= 0
        if moved:
            j -= 1
        k = i + 1
        pts.update([(L - k, T - j), (L - j, T - k), (R + j, T - k), (R + k, T - j),
                    (R + j, B + k), (R + k, B + j), (L - j, B + k), (L - k, B + j)])
        d += 2 * i + 3 - (2 * j if moved else 0)
        i += 1
        if i >= j:
            break


for text in sys.stdin:
    words = text.split()
    if not words:
        continue
    a = [int(v) for v in words[1:]]
    pts = set()
    if words[0] == "line":
        line(pts, *a)
    else:
        rrect(pts, *a)
    w, h = a[-2], a[-1]
    inside = sorted((y, x) for (x, y) in pts if 0 <= x < w and 0 <= y < h)
    print(" ".join("%d,%d" % (x, y) for (y, x) in inside) or "-")
