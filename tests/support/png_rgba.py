#!/usr/bin/python3
"""Prints the RGBA bytes of each PNG named as <file>:<bit depth>, as PIL
reads it, one hex line per file. PIL leaves two things to its callers,
done here: a grey tRNS key becomes alpha 0, and 16-bit grey keeps its
high byte."""
import sys

from PIL import Image

for arg in sys.argv[1:]:
    name, depth = arg.rsplit(":", 1)
    depth = int(depth)
    im = Image.open(name)
    key = im.info.get("transparency")
    if im.mode in ("1", "L", "I", "I;16", "I;16B"):
        raw = list(im.getdata())
        if im.mode == "1":
            raw = [v // 255 for v in raw]
        elif im.mode == "L" and depth < 8:
            raw = [v * ((1 << depth) - 1) // 255 for v in raw]
        grey = [v * 255 // ((1 << depth) - 1) if depth < 8 else v >> (depth - 8) for v in raw]
        out = bytearray()
        for v, g in zip(raw, grey):
            out += bytes((g, g, g, 0 if isinstance(key, int) and v == key else 255))
        print(out.hex())
    else:
        print(im.convert("RGBA").tobytes().hex())
