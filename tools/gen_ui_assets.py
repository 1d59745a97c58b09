#!/usr/bin/python3
"""Writes the user interface's built-in fonts and images into a folder.

Fonts are one bit per pixel, rendered from Liberation Sans (DejaVu Sans
for code points it lacks) in the program's bitmap font format, in gzip
files of stored (not deflated) blocks.
Images are drawn here with PIL. Each "@2x" image also gets its variant
for the default display scale under the name the image loader tries for
that exact size ("statusError48x48"): the pixels the loader's scaler
would make from the @2x image, so the program decodes the small image
instead of decoding and scaling the large one. The first page's pictures
are also written as premultiplied pixels (".pix": "TLPX", width and
height as 32-bit little-endian numbers, then blue, green, red and alpha
bytes row by row), which the loader copies instead of decoding. Run by
Debian's /usr/bin/python3 with python3-pil, fonts-liberation2 and
fonts-dejavu-core; the output is byte for byte the same on every run.

Usage: gen_ui_assets.py <output folder>
       gen_ui_assets.py --check <folder>   (regenerates and compares)
"""
import gzip
import io
import math
import os
import struct
import sys
import tempfile
import zlib

from PIL import Image, ImageDraw, ImageFont

LIB = "/usr/share/fonts/truetype/liberation2/LiberationSans-%s.ttf"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans%s.ttf"
MAGIC = 0x7CCF0C72

COMMON_BLOCKS = [0x1E00, 0x1E80, 0x2000, 0x2080, 0x2100, 0x2200]
FONTS = [
    # name, bold, pixel size, ascent, descent, extra block bases
    ("helv15", False, 13, 12, 3, list(range(0x80, 0x501, 0x80)) + COMMON_BLOCKS + [0xFF80]),
    ("helvB15", True, 13, 12, 3, list(range(0x80, 0x381, 0x80)) + COMMON_BLOCKS),
    ("helv16", False, 14, 13, 3, list(range(0x80, 0x381, 0x80)) + COMMON_BLOCKS),
    ("helvB16", True, 14, 13, 3, list(range(0x80, 0x381, 0x80)) + COMMON_BLOCKS),
    ("helv21", False, 18, 16, 5, list(range(0x80, 0x381, 0x80)) + COMMON_BLOCKS),
]


def render(font, ch, ascent, height):
    """(advance, xOffset, yOffset, width, height, packed rows) of ch, or
    None when the glyph has no ink and no advance."""
    pad = 8
    size = (font.size * 3 + 2 * pad, height + 2 * pad)
    img = Image.new("1", size, 0)
    draw = ImageDraw.Draw(img)
    draw.fontmode = "1"
    draw.text((pad, pad + ascent), ch, font=font, fill=1, anchor="ls")
    advance = int(round(font.getlength(ch)))
    box = img.getbbox()
    if box is None:
        return (advance, 0, 0, 0, 0, b"")
    glyph = img.crop(box)
    w, h = glyph.size
    rows = b"".join(glyph.crop((0, y, w, y + 1)).tobytes() for y in range(h))
    return (advance, box[0] - pad, box[1] - pad, w, h, rows)


def box_glyph(ascent, height):
    """Glyph 0: a hollow box on the baseline."""
    w = max(4, (ascent * 2) // 3)
    h = ascent - 1
    img = Image.new("1", (w, h), 0)
    ImageDraw.Draw(img).rectangle((0, 0, w - 1, h - 1), outline=1)
    rows = b"".join(img.crop((0, y, w, y + 1)).tobytes() for y in range(h))
    return (w + 2, 1, ascent - h, w, h, rows)


def make_font(bold, px, ascent, descent, bases):
    style = "Bold" if bold else "Regular"
    faces = [ImageFont.truetype(LIB % style, px), ImageFont.truetype(DEJAVU % ("-Bold" if bold else ""), px)]
    height = ascent + descent
    # What each face draws for a code point it does not have.
    missing = [render(f, "\U000F0000", ascent, height) for f in faces]
    fallback = box_glyph(ascent, height)
    blocks = [0] + bases
    records = []
    bitmap = bytearray()
    glyph0 = None
    for base in blocks:
        for cp in range(base, base + 128):
            g = None
            if cp >= 0x20 and not (0x7F <= cp < 0xA0) and not (0xD800 <= cp < 0xE000):
                for face, miss in zip(faces, missing):
                    r = render(face, chr(cp), ascent, height)
                    if r != miss:
                        g = r
                        break
            if g is None:
                if cp == 0:
                    g = fallback
                else:
                    records.append(glyph0)
                    continue
            adv, xo, yo, w, h, rows = g
            rec = (len(bitmap), adv, max(-128, min(127, xo)), max(-128, min(127, yo)), w, h)
            bitmap += rows
            if cp == 0:
                glyph0 = rec
            records.append(rec)
    out = struct.pack(">IHHH", MAGIC, ascent, descent, len(bases))
    out += b"".join(struct.pack(">I", b) for b in bases)
    out += b"".join(struct.pack(">IHbbBB", *r) for r in records)
    return out + bytes(bitmap)


def gz(data):
    # Stored, not deflated: inflating a font took three to four times as
    # long as reading it stored, for about 25 KB more per font.
    buf = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=buf, mtime=0, compresslevel=0) as f:
        f.write(data)
    return buf.getvalue()


# --- Images -----------------------------------------------------------------------

SS = 4  # drawn at four times the size, then reduced


def canvas(w, h):
    img = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
    return img, ImageDraw.Draw(img)


def s(*v):
    return [x * SS for x in v]


def finish(img, w, h, mode):
    img = img.resize((w, h), Image.LANCZOS)
    if mode == "RGBA":
        return img
    if mode == "LA":
        return img.convert("LA")
    return img.quantize(colors=64, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def encode(img):
    """PNG bytes. Grey and colour images with alpha are written with every
    row unfiltered at the strongest deflate: the drawings compress at least
    as well as with adaptive filters, and libpng reads them in about half
    the time (no Paeth rows). Palette images go through PIL."""
    if img.mode not in ("RGBA", "LA"):
        buf = io.BytesIO()
        img.save(buf, "PNG", optimize=False)
        return buf.getvalue()
    w, h = img.size
    raw = img.tobytes()
    row = w * len(img.mode)
    rows = b"".join(b"\0" + raw[y * row:(y + 1) * row] for y in range(h))
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6 if img.mode == "RGBA" else 4, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", zlib.compress(rows, 9)) +
            png_chunk(b"IEND", b""))


# --- Variants at the default scale ----------------------------------------------------


def box_spans(src, dst):
    """Per destination pixel, the (source pixel, overlap) pairs it covers on a
    grid where a source pixel is dst units and a destination pixel src."""
    spans = []
    for d in range(dst):
        d0, d1 = d * src, d * src + src
        s, span = d0 // dst, []
        while s * dst < d1:
            span.append((s, min(s * dst + dst, d1) - max(s * dst, d0)))
            s += 1
        spans.append(span)
    return spans


def box_scale(pixels, w, h, dw, dh):
    """The program's scaler (Scaler.cpp, boxKernel) step by step in its fixed
    point, over rows of 4-channel tuples."""
    rx, ry = (1 << 23) // w, (1 << 23) // h
    cols, rows = box_spans(w, dw), box_spans(h, dh)
    out = []
    for y in range(dh):
        acc = [[0] * 4 for _ in range(dw)]
        for sy, oy in rows[y]:
            line = pixels[sy]
            for x in range(dw):
                for k in range(4):
                    total = sum(line[sx][k] * ox for sx, ox in cols[x])
                    acc[x][k] += (((total + w // 2) * rx) >> 23) * oy
        out.append([tuple(((a + h // 2) * ry) >> 23 for a in px) for px in acc])
    return out


def premultiply(p):
    a = p[3]
    return tuple((c * a + 127) // 255 for c in p[:3]) + (a,)


def unpremultiply(p):
    """The straight pixel nearest p's colour that premultiplies back to p; one
    exists, since c -> (c * a + 127) / 255 skips no value from 0 to a."""
    a = p[3]
    if a == 0:
        return (0, 0, 0, 0)
    out = []
    for v in p[:3]:
        c = min(255, (v * 255 + a // 2) // a)
        while (c * a + 127) // 255 > v:
            c -= 1
        while (c * a + 127) // 255 < v:
            c += 1
        out.append(c)
    return tuple(out) + (a,)


def pix(img):
    """The image's premultiplied pixels with their header."""
    assert img.mode == "RGBA"
    w, h = img.size
    out = bytearray(b"TLPX" + struct.pack("<II", w, h))
    for p in img.getdata():
        r, g, b, a = premultiply(p)
        out += bytes((b, g, r, a))
    return bytes(out)


# The pictures of the first page, on the way to the first frame.
AS_PIXELS = {"files.png", "tlzarnconnectsetup48x48.png", "bluebtnbg110x32.png"}


def default_scale_variant(name, png):
    """(name, image) of the @2x image's variant at the default scale (ppmm 4):
    the size is the name rule's round8(side x 4), the pixels what the loader
    makes of the premultiplied @2x pixels, stored straight."""
    src = Image.open(io.BytesIO(png)).convert("RGBA")
    w, h = src.size
    dw, dh = (4 * w + 4) // 8, (4 * h + 4) // 8
    data = list(src.getdata())
    pixels = [[premultiply(p) for p in data[y * w:(y + 1) * w]] for y in range(h)]
    scaled = [p for line in box_scale(pixels, w, h, dw, dh) for p in line]
    img = Image.new("RGBA", (dw, dh))
    img.putdata([unpremultiply(p) for p in scaled])
    assert [premultiply(p) for p in img.getdata()] == scaled, name
    return "%s%dx%d.png" % (name[:-len("@2x.png")], dw, dh), img


def spinner(frame, colour):
    img, d = canvas(48, 48)
    for k in range(12):
        a = 2 * math.pi * k / 12
        fade = ((k - frame) % 12)
        alpha = 255 - fade * 18
        cx, cy = 24 + 15 * math.sin(a), 24 - 15 * math.cos(a)
        d.ellipse(s(cx - 3.5, cy - 3.5, cx + 3.5, cy + 3.5), fill=colour + (alpha,))
    return finish(img, 48, 48, "P")


def status(kind, w=96, h=96, mode="RGBA"):
    img, d = canvas(w, h)
    colours = {"Error": (208, 52, 44), "Warning": (240, 170, 20), "Info": (40, 110, 210),
               "Question": (60, 150, 90), "Private": (90, 90, 110)}
    c = colours[kind] + (255,)
    if kind == "Warning":
        d.polygon(s(w / 2, 6, w - 6, h - 10, 6, h - 10), fill=c)
    else:
        d.ellipse(s(6, 6, w - 6, h - 6), fill=c)
    white = (255, 255, 255, 255)
    if kind == "Error":
        d.line(s(30, 30, w - 30, h - 30), fill=white, width=10 * SS)
        d.line(s(w - 30, 30, 30, h - 30), fill=white, width=10 * SS)
    elif kind == "Warning":
        d.rectangle(s(w / 2 - 5, 34, w / 2 + 5, 64), fill=white)
        d.rectangle(s(w / 2 - 5, 70, w / 2 + 5, 78), fill=white)
    elif kind == "Info":
        d.rectangle(s(w / 2 - 6, 42, w / 2 + 6, 74), fill=white)
        d.ellipse(s(w / 2 - 7, 22, w / 2 + 7, 36), fill=white)
    elif kind == "Question":
        d.arc(s(30, 20, 66, 56), 180, 90, fill=white, width=9 * SS)
        d.rectangle(s(w / 2 - 5, 52, w / 2 + 5, 62), fill=white)
        d.ellipse(s(w / 2 - 6, 66, w / 2 + 6, 78), fill=white)
    elif kind == "Private":
        d.rectangle(s(28, 46, w - 28, 76), fill=white)
        d.arc(s(34, 24, w - 34, 62), 180, 360, fill=white, width=7 * SS)
    return finish(img, w, h, mode)


def infoframe(kind):
    colours = {"success": (40, 160, 80), "warning": (240, 170, 20), "error": (208, 52, 44),
               "locked": (110, 110, 120), "notify": (40, 110, 210), "preference": (120, 80, 180),
               "default": (80, 80, 80)}
    img, d = canvas(32, 32)
    d.ellipse(s(2, 2, 30, 30), fill=colours[kind] + (255,))
    white = (255, 255, 255, 255)
    if kind == "success":
        d.line(s(9, 16, 14, 21, 23, 11), fill=white, width=3 * SS)
    elif kind in ("warning", "error", "notify"):
        d.rectangle(s(14.5, 8, 17.5, 18), fill=white)
        d.rectangle(s(14.5, 21, 17.5, 24), fill=white)
    elif kind == "locked":
        d.rectangle(s(10, 15, 22, 24), fill=white)
        d.arc(s(12, 8, 20, 20), 180, 360, fill=white, width=2 * SS)
    elif kind == "preference":
        for y in (10, 16, 22):
            d.line(s(9, y, 23, y), fill=white, width=2 * SS)
    else:
        d.ellipse(s(13, 13, 19, 19), fill=white)
    return finish(img, 32, 32, "RGBA")


def button(fill, border):
    img, d = canvas(220, 64)
    d.rounded_rectangle(s(1, 1, 219, 63), radius=14 * SS, fill=border + (255,))
    d.rounded_rectangle(s(3, 3, 217, 61), radius=12 * SS, fill=fill + (255,))
    return finish(img, 220, 64, "P")


def checkbox(on):
    img, d = canvas(30, 30)
    if on:
        d.rounded_rectangle(s(1, 1, 29, 29), radius=5 * SS, fill=(40, 110, 210, 255))
        d.line(s(7, 15, 12, 21, 23, 9), fill=(255, 255, 255, 255), width=3 * SS)
    else:
        d.rounded_rectangle(s(1, 1, 29, 29), radius=5 * SS, fill=(120, 120, 120, 255))
        d.rounded_rectangle(s(3, 3, 27, 27), radius=4 * SS, fill=(255, 255, 255, 255))
    return finish(img, 30, 30, "P")


def eye(closed):
    img, d = canvas(96, 96)
    ink = (60, 60, 60, 255)
    d.chord(s(8, 22, 88, 86), 200, 340, fill=ink)
    d.chord(s(8, 10, 88, 74), 20, 160, fill=ink)
    d.chord(s(14, 28, 82, 80), 200, 340, fill=(0, 0, 0, 0))
    d.chord(s(14, 16, 82, 68), 20, 160, fill=(0, 0, 0, 0))
    d.ellipse(s(36, 36, 60, 60), fill=ink)
    if closed:
        d.line(s(16, 80, 80, 16), fill=ink, width=7 * SS)
    return finish(img, 96, 96, "LA")


def clipboard(w, h, done):
    img, d = canvas(w, h)
    ink = (70, 70, 80, 255)
    d.rounded_rectangle(s(3, 6, w - 3, h - 2), radius=4 * SS, outline=ink, width=3 * SS)
    d.rounded_rectangle(s(w / 2 - 9, 2, w / 2 + 9, 10), radius=2 * SS, fill=ink)
    if done:
        d.line(s(w / 2 - 11, h / 2 + 3, w / 2 - 3, h / 2 + 11, w / 2 + 12, h / 2 - 6), fill=(40, 160, 80, 255),
               width=4 * SS)
    else:
        for y in range(18, h - 8, 8):
            d.line(s(11, y, w - 11, y), fill=ink, width=2 * SS)
    return finish(img, w, h, "P")


def program_icon(w, h, mode):
    img, d = canvas(w, h)
    d.rounded_rectangle(s(w * 0.04, h * 0.04, w * 0.96, h * 0.96), radius=w * 0.18 * SS, fill=(30, 90, 170, 255))
    d.rounded_rectangle(s(w * 0.2, h * 0.24, w * 0.8, h * 0.66), radius=w * 0.04 * SS, fill=(235, 240, 250, 255))
    d.polygon(s(w * 0.5, h * 0.86, w * 0.32, h * 0.68, w * 0.68, h * 0.68), fill=(250, 200, 40, 255))
    return finish(img, w, h, mode)


def files_picture():
    img, d = canvas(213, 160)
    for i, c in enumerate([(90, 140, 220), (240, 180, 60), (120, 190, 120)]):
        x, y = 14 + i * 50, 28 + i * 10
        d.rounded_rectangle(s(x, y, x + 90, y + 110), radius=6 * SS, fill=c + (255,), outline=(40, 40, 40, 255),
                            width=2 * SS)
        for k in range(4):
            d.line(s(x + 12, y + 24 + k * 16, x + 78, y + 24 + k * 16), fill=(255, 255, 255, 200), width=3 * SS)
    return finish(img, 213, 160, "RGBA")


def images():
    out = {}
    for f in range(12):
        out["spinner%02d.png" % f] = spinner(f, (255, 255, 255))
        out["spinnerblack%02d.png" % f] = spinner(f, (0, 0, 0))
    for k in ("Error", "Warning", "Info", "Question"):
        out["status%s@2x.png" % k] = status(k)
    out["statusPrivate@2x.png"] = status("Private", 97, 98, "P")
    for k in ("success", "warning", "error", "locked", "notify", "preference", "default"):
        out["infoframe_%s@2x.png" % k] = infoframe(k)
    out["bluebtnbg@2x.png"] = button((40, 110, 210), (30, 80, 170))
    out["graybtnbg@2x.png"] = button((225, 225, 228), (170, 170, 175))
    out["whitebtnbg@2x.png"] = button((255, 255, 255), (190, 190, 195))
    out["off-checkbox@2x.png"] = checkbox(False)
    out["on-checkbox@2x.png"] = checkbox(True)
    out["eyeOpen@2x.png"] = eye(False)
    out["eyeClosed@2x.png"] = eye(True)
    out["copyToClipboard@2x.png"] = clipboard(46, 46, False)
    out["copiedToClipboard@2x.png"] = clipboard(49, 55, True)
    out["tlzarnonnecticon.png"] = program_icon(40, 40, "P")
    out["tlzarnconnectsetup@2x.png"] = program_icon(96, 96, "RGBA")
    out["files.png"] = files_picture()
    return out


def check(folder):
    with tempfile.TemporaryDirectory() as tmp:
        write(tmp)
        made = sorted(os.listdir(tmp))
        kept = sorted(n for n in os.listdir(folder) if n.endswith((".gz", ".png", ".pix")))
        bad = sorted(set(made) ^ set(kept))
        for n in sorted(set(made) & set(kept)):
            with open(os.path.join(tmp, n), "rb") as a, open(os.path.join(folder, n), "rb") as b:
                if a.read() != b.read():
                    bad.append(n)
    for n in bad:
        print("differs: " + n)
    return 1 if bad else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        sys.exit(check(sys.argv[2]))
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write(sys.argv[1])


def write(folder):
    os.makedirs(folder, exist_ok=True)
    for name, bold, px, ascent, descent, bases in FONTS:
        with open(os.path.join(folder, name + ".gz"), "wb") as f:
            f.write(gz(make_font(bold, px, ascent, descent, bases)))
    for name, img in images().items():
        made = [(name, img)]
        if name.endswith("@2x.png"):
            made.append(default_scale_variant(name, encode(img)))
        for n, i in made:
            with open(os.path.join(folder, n), "wb") as f:
                f.write(encode(i))
            if n in AS_PIXELS:
                with open(os.path.join(folder, n[:-len(".png")] + ".pix"), "wb") as f:
                    f.write(pix(i))


if __name__ == "__main__":
    main()
