#!/usr/bin/python3
"""Tiles screenshots into one contact sheet, each under its file name.

usage: contact_sheet.py OUT.png IN.png...

Tiles keep their size (scaled down only when wider than --width), four to
a row, in the order given. Needs Debian's python3-pil.
"""
import argparse
import os
import sys

from PIL import Image, ImageDraw


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("images", nargs="+")
    ap.add_argument("--columns", type=int, default=4)
    ap.add_argument("--width", type=int, default=600)
    a = ap.parse_args()

    tiles = []
    for path in a.images:
        im = Image.open(path).convert("RGB")
        if im.width > a.width:
            im = im.resize((a.width, im.height * a.width // im.width))
        tiles.append((os.path.splitext(os.path.basename(path))[0], im))

    pad, caption = 8, 16
    cell_w = max(im.width for _, im in tiles) + pad
    cell_h = max(im.height for _, im in tiles) + pad + caption
    cols = min(a.columns, len(tiles))
    rows = (len(tiles) + cols - 1) // cols
    sheet = Image.new("RGB", (cols * cell_w + pad, rows * cell_h + pad), (96, 96, 96))
    draw = ImageDraw.Draw(sheet)
    for i, (name, im) in enumerate(tiles):
        x = pad + (i % cols) * cell_w
        y = pad + (i // cols) * cell_h
        draw.text((x, y), name, fill=(255, 255, 255))
        sheet.paste(im, (x, y + caption))
    sheet.save(a.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
