"""Image files written from arithmetic, for the demo's pictures, the fuzz seeds, the benchmarks'
textures and the watched scene: BMP, TGA and PNG directly, and PPM for ImageMagick's convert to
make JPEG files from. Standard library only.

A picture is its size and pixel(x, y), with y counted from the top, giving (r, g, b), or
(r, g, b, a) where the file holds alpha.
"""
import struct
import zlib


def bmp(width, height, pixel, top_down=False, size_image=True, colours_used=0, info=40):
    """A 24-bit BMP at 72 dots per inch: bottom row first (top row first, with a negative height,
    when `top_down`), rows padded with zeros to four bytes; `info` larger than 40 pads the info
    header with zeros, and `colours_used` entries of colour table come before the pixels."""
    padding = bytes((4 - width * 3 % 4) % 4)
    data = bytearray()
    for y in range(height) if top_down else range(height - 1, -1, -1):
        for x in range(width):
            r, g, b = pixel(x, y)[:3]
            data += bytes((b, g, r))
        data += padding
    palette = b"\x10\x20\x30\0" * colours_used
    offset = 14 + info + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    fields = struct.pack("<IiiHHIIiiII", info, width, -height if top_down else height, 1, 24, 0,
                         len(data) if size_image else 0, 2835, 2835, colours_used, 0)
    return header + fields + bytes(info - 40) + palette + bytes(data)


def tga(width, height, pixel, descriptor=0, id_field=b"", image_type=2, depth=24):
    """An uncompressed true-colour TGA with `id_field` as its image ID. The descriptor's origin
    bits decide the order the pixels are stored in (0x20: top row first, 0x10: right column
    first). Each pixel is stored as pixel() gives it, blue first, with its alpha when it has
    one; `depth` and `image_type` only go into the header, so a file can say one thing and hold
    another."""
    header = struct.pack("<BBBHHBHHHHBB", len(id_field), 0, image_type, 0, 0, 0, 0, 0, width,
                         height, depth, descriptor)
    rows = range(height) if descriptor & 0x20 else range(height - 1, -1, -1)
    columns = range(width - 1, -1, -1) if descriptor & 0x10 else range(width)
    data = bytearray()
    for y in rows:
        for x in columns:
            colour = pixel(x, y)
            data += bytes((colour[2], colour[1], colour[0]) + tuple(colour[3:]))
    return header + id_field + bytes(data)


def png_chunk(kind, body):
    """One chunk with its length and CRC."""
    crc = zlib.crc32(kind + body) & 0xFFFFFFFF
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)


def png_file(chunks):
    """A PNG file of (type, body) chunks, in order."""
    return b"\x89PNG\r\n\x1a\n" + b"".join(png_chunk(kind, body) for kind, body in chunks)


def png_chunks(data):
    """The chunks of a PNG file as (type, body) pairs."""
    chunks, at = [], 8
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.append((kind, data[at + 8:at + 8 + length]))
        at += 12 + length
    return chunks


def png(width, height, pixel, level=-1):
    """An 8-bit RGBA PNG, not interlaced, every row unfiltered, compressed at zlib's `level`
    (its default unless given)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw += bytes(pixel(x, y))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return png_file([(b"IHDR", header), (b"IDAT", zlib.compress(bytes(raw), level)),
                     (b"IEND", b"")])


def ppm(width, height, pixel):
    """A binary PPM (P6), the input convert takes to write JPEG files."""
    data = bytes(c for y in range(height) for x in range(width) for c in pixel(x, y)[:3])
    return b"P6 %d %d 255\n" % (width, height) + data
