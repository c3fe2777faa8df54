#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small valid images of every kind the readers take (and
a few they refuse), and operation lists for the script target in the encoding FuzzScript.cpp
reads. Everything is made here, except the PNG seeds: the test data's PNG suite (every colour
type, depth and interlacing), with a few damaged files made here from it. JPEG files are encoded
by ImageMagick's convert from PPM.

Usage: tests/fuzz/make_seeds.py OUTPUT_FOLDER
       (writes OUTPUT_FOLDER/{bmp,tga,jpeg,png,script,text}/)
"""
import glob
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import images  # noqa: E402

PNGSUITE = os.path.join(HERE, "..", "..", "..", "shared", "testdata", "pngsuite")


def pattern(width, height, top_down=False, right_to_left=False):
    """The seeds' pixels, counted in the order the file stores them: its first stored pixel is
    the pattern's (0, 0), wherever the file's origin is."""
    def pixel(x, y):
        x = width - 1 - x if right_to_left else x
        y = y if top_down else height - 1 - y
        return ((x * 37 + y * 11) & 255, (x * 5) & 255, (y * 23) & 255)
    return pixel


def bmp(width, height, top_down=False, **options):
    return images.bmp(width, height, pattern(width, height, top_down), top_down, **options)


def tga(width, height, descriptor=0, **options):
    pixel = pattern(width, height, descriptor & 0x20, descriptor & 0x10)
    return images.tga(width, height, pixel, descriptor, **options)


def jpegs(folder):
    """A few encodings of small pictures; none when convert is missing."""
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        width, height = 13, 9
        with open(ppm, "wb") as f:
            f.write(images.ppm(width, height, pattern(width, height, top_down=True)))
        variants = {
            "baseline.jpg": ["-quality", "50"],
            "progressive.jpg": ["-interlace", "JPEG"],
            "grey.jpg": ["-colorspace", "Gray"],
            "cmyk.jpg": ["-colorspace", "CMYK"],
            "subsampled.jpg": ["-sampling-factor", "2x2"],
            "restarts.jpg": ["-define", "jpeg:restart-interval=1"],
            "arithmetic.jpg": ["-define", "jpeg:arithmetic-coding=true"],
        }
        for name, options in variants.items():
            try:
                subprocess.run(["convert", ppm] + options + [os.path.join(folder, name)],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except (OSError, subprocess.CalledProcessError):
                pass


def pngs(put):
    """The PNG suite as it is, and files damaged in the ways the reader must survive."""
    files = sorted(glob.glob(os.path.join(PNGSUITE, "*.png")))
    for path in files:
        with open(path, "rb") as f:
            put(os.path.basename(path), f.read())
    base = os.path.join(PNGSUITE, "basn6a08.png")
    if not os.path.exists(base):
        return
    with open(base, "rb") as f:
        data = f.read()
    chunks = images.png_chunks(data)
    put("cut.png", data[:len(data) // 2])
    # A huge image announced by a few bytes.
    ihdr = struct.pack(">IIBBBBB", 60000, 60000, 8, 6, 0, 0, 0)
    put("huge.png", images.png_file([(b"IHDR", ihdr)] + [c for c in chunks if c[0] != b"IHDR"]))
    # A tRNS chunk longer than the palette, and a damaged one in a palette image.
    put("trns.png", images.png_file([chunks[0], (b"PLTE", bytes(range(6))),
                              (b"tRNS", bytes(200))] + chunks[1:]))
    body = bytearray(data)
    body[42] ^= 0xFF  # inside the chunk after the header: its CRC no longer matches
    put("crc.png", bytes(body))


# The script target's operations (keep in step with TOperation in FuzzScript.cpp).
CALL, TEXTURE, PRINT, FIELD, META, DRAW, MOUSE, NUMBER, STRING, GROW, LOAD = range(11)
ROOT = 0  # a node path that stops at once: the root
FIRST = 64  # one step down to the first child, then stop with ROOT


def script_seeds():
    seeds = {}
    # A node with a picture, drawn and clicked; its handler raises.
    seeds["picture"] = bytes([
        CALL, ROOT, 0, 0x81, 25,            # root.createNode(template with left..height)
        TEXTURE, 0x81, 0,                   # createTexture("good.bmp")
        CALL, FIRST, ROOT, 3, 0x02, 15, 0,  # first.createPicture("p", 0)
        CALL, FIRST, ROOT, 4, 0x01, 15,     # first.setPicture("p")
        FIELD, FIRST, ROOT, 0x00, 7, 27,    # first.onLeftPress = raising function
        DRAW, 1,
        MOUSE, 5, 5, 5, 5, 0,               # LeftPress at (20, 20)
    ])
    # A chain and a fan, hostile metatables on both, drawn and clicked everywhere.
    seeds["trees"] = bytes([
        GROW, ROOT, 1, 60,
        GROW, ROOT, 0, 60,
        META, 255, 0,
        META, FIRST, ROOT, 0x80 | 3,
        FIELD, 255, 0x00, 0, 6,             # deepest.left = NaN
        FIELD, 255, 0x00, 2, 7,             # deepest.width = inf
        DRAW, 0,
        MOUSE, 0, 1, 0, MOUSE, 3, 3, 1,
    ])
    # Colon calls, odd argument types, print of everything.
    seeds["arguments"] = bytes([
        CALL, ROOT, 0, 0x43, 0, 1,          # root:createNode(0, -1)
        CALL, ROOT, 1, 0x02, 21, 23,        # root.getNode("id", true)
        CALL, ROOT, 2, 0x01, 24,            # root.setAttr{}
        CALL, ROOT, 3, 0x06, 14, 0, 4, 5, 6, 7,
        CALL, ROOT, 5, 0x41,                # root:getPicture()
        PRINT, 5, 0, 14, 22, 24, 40,
        TEXTURE, 0x03, 0, 1, 2,
        NUMBER, 0, 0, 0, 0, 0, 0, 0xF0, 0x7F,
        STRING, 3, 0x41, 0, 0x42,
    ])
    # Replaced `nodes` and `parent`, then children added; script files run.
    seeds["replaced"] = bytes([
        CALL, ROOT, 0, 0x00,
        FIELD, ROOT, 0x00, 5, 0,            # root.nodes = 0
        FIELD, FIRST, ROOT, 0x00, 6, 2,     # first.parent = 10
        CALL, ROOT, 0, 0x00,
        FIELD, ROOT, 0x80 | 0x40, 0, 25,    # root.nodes[0] = template
        LOAD, 0, LOAD, 1, LOAD, 2, LOAD, 3, LOAD, 4,
        DRAW, 1,
    ])
    # A loader's message box while a handler runs.
    seeds["box"] = bytes([
        FIELD, ROOT, 0x00, 0, 0,
        FIELD, ROOT, 0x00, 2, 3,            # root.width = 400
        FIELD, ROOT, 0x00, 3, 3,
        FIELD, ROOT, 0x00, 7, 33,           # root.onLeftPress = load a damaged file
        DRAW, 0,
        MOUSE, 5, 5, 5, 5, 0,
        TEXTURE, 0x81, 4, TEXTURE, 0x81, 5, TEXTURE, 0x81, 3, TEXTURE, 0x81, 6,
    ])
    return seeds


def text_seeds():
    """Texts for the layout target: a style of 12 bytes (keep in step with FuzzText.cpp), then
    UTF-8 text in scripts whose shaping and order differ."""
    def style(font=0, size=16, align=0, valign=0, line_height=1.2, lang=1, width=0, height=0,
              system=1, rasterise=1):
        w = int((width + 100) * 16) if width else 0
        h = int((height + 100) * 16) if height else 0
        return bytes([font, int((size + 10) / 1.25), align, valign,
                      int((line_height + 0.5) / 4 * 255), lang, w & 255, w >> 8, h & 255,
                      h >> 8, 0 if system else 1, rasterise])
    texts = {
        "latin.txt": (style(width=80), "The quick brown fox jumps over the lazy dog."),
        "words.txt": (style(width=30, align=3), "Supercalifragilistic\nexpialidocious"),
        "arabic.txt": (style(lang=2, width=60), "\u0633\u0644\u0627\u0645 \u0639\u0644\u064a\u0643\u0645 123"),
        "mixed.txt": (style(lang=3, align=2), "abc \u05e9\u05dc\u05d5\u05dd (1-2) def"),
        "devanagari.txt": (style(lang=4), "\u0928\u092e\u0938\u094d\u0924\u0947 \u0915\u094d\u0937"),
        "cjk.txt": (style(lang=5, width=50, height=40, valign=1), "\u3053\u3093\u306b\u3061\u306f\u4e16\u754c"),
        "hidden.txt": (style(font=2), "a\u200d\u200e\ufeff\x01b\tc\r\nd\u2028e\u00ad"),
    }
    seeds = {name: head + text.encode("utf-8") for name, (head, text) in texts.items()}
    seeds["invalid.txt"] = style(font=4) + b"a\xff\xe2\x82c\xed\xa0\x80\xc0\xaf\xf4\x90"
    return seeds


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    folders = {name: os.path.join(out, name) for name in ("bmp", "tga", "jpeg", "png", "script",
                                                     "text")}
    for folder in folders.values():
        os.makedirs(folder, exist_ok=True)

    def put(kind, name, data):
        with open(os.path.join(folders[kind], name), "wb") as f:
            f.write(data)

    put("bmp", "plain.bmp", bmp(5, 3))
    put("bmp", "wide.bmp", bmp(16, 2))
    put("bmp", "top_down.bmp", bmp(3, 4, top_down=True))
    put("bmp", "no_size.bmp", bmp(7, 2, size_image=False))
    put("bmp", "palette.bmp", bmp(2, 2, colours_used=2))
    put("bmp", "v5_header.bmp", bmp(3, 3, info=124))
    put("bmp", "cut.bmp", bmp(6, 6)[:70])
    put("tga", "plain.tga", tga(4, 3))
    put("tga", "odd.tga", tga(3, 5))
    put("tga", "top_down.tga", tga(2, 3, descriptor=0x20))
    put("tga", "mirrored.tga", tga(5, 2, descriptor=0x10))
    put("tga", "with_id.tga", tga(2, 2, id_field=b"kestrune"))
    put("tga", "packed.tga", tga(2, 2, image_type=10))
    put("tga", "deep.tga", tga(2, 2, depth=32))
    jpegs(folders["jpeg"])
    pngs(lambda name, data: put("png", name, data))
    for name, data in script_seeds().items():
        put("script", name, data)
    for name, data in text_seeds().items():
        put("text", name, data)


if __name__ == "__main__":
    main()
