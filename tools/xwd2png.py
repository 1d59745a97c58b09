#!/usr/bin/python3
"""Turns an xwd dump of a 24- or 32-bit TrueColor screen into a PNG.

Usage: xwd -root -silent | /usr/bin/python3 xwd2png.py OUT.png
"""
import struct
import sys

from PIL import Image


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = sys.stdin.buffer.read()
    if len(data) < 100:
        sys.exit("xwd2png: no xwd dump on standard input")
    h = struct.unpack(">25I", data[:100])
    header_size, width, height, byte_order, bits_per_pixel, bytes_per_line, colours = (
        h[0], h[4], h[5], h[7], h[11], h[12], h[19])
    if bits_per_pixel != 32:
        sys.exit("xwd2png: %d bits per pixel, only 32 are read" % bits_per_pixel)
    start = header_size + colours * 12
    pixels = data[start:start + bytes_per_line * height]
    if len(pixels) < bytes_per_line * height:
        sys.exit("xwd2png: the dump is cut short")
    mode = "BGRX" if byte_order == 0 else "XRGB"
    Image.frombuffer("RGBX", (width, height), pixels, "raw", mode, bytes_per_line, 1).convert("RGB").save(sys.argv[1])


if __name__ == "__main__":
    main()
