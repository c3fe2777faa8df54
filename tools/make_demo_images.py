#!/usr/bin/env python3
"""Draws the demo scene's pictures: a button sheet (BMP), a backdrop (JPEG), a ball on a tile
(TGA), the ball alone and a round play button with soft edges and a shadow (PNG, with
transparency).

Everything is drawn here from arithmetic, so the demo carries no borrowed artwork. BMP, TGA and
PNG are written by tools/images.py; the JPEG is encoded by ImageMagick's convert from a PPM. Run
it from the project root: tools/make_demo_images.py [output folder, default demo/].
"""
import math
import os
import subprocess
import sys
import tempfile

import images


def canvas(width, height, colour):
    return [[list(colour) for _ in range(width)] for _ in range(height)]


def blend(a, b, t):
    return [int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3)]


def fill_rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(len(img), y1)):
        for x in range(max(0, x0), min(len(img[0]), x1)):
            img[y][x] = list(colour)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_jpeg(path, img):
    height, width = len(img), len(img[0])
    with tempfile.NamedTemporaryFile(suffix=".ppm", delete=False) as f:
        f.write(images.ppm(width, height, lambda x, y: img[y][x]))
        ppm = f.name
    try:
        subprocess.run(["convert", ppm, "-quality", "90", path], check=True)
    finally:
        os.unlink(ppm)


def button_sheet():
    """Three buttons, one per row; the columns are the raised face, the pressed one and the
    raised one lit up (the pointer is over it)."""
    w, h = 128, 64
    img = canvas(3 * w, 3 * h, (0, 0, 0))
    glyph_colours = [(214, 64, 52), (58, 160, 72), (52, 96, 214)]
    faces = {
        "raised": ((236, 236, 240), (176, 178, 190)),
        "pressed": ((150, 152, 166), (204, 206, 214)),
        "lit": ((255, 252, 232), (226, 214, 160)),
    }
    for row in range(3):
        for column, state in enumerate(("raised", "pressed", "lit")):
            pressed = state == "pressed"
            ox, oy = column * w, row * h
            top, bottom = faces[state]
            for y in range(h):
                shade = blend(top, bottom, y / (h - 1))
                fill_rect(img, ox, oy + y, ox + w, oy + y + 1, shade)
            # A bevel: light edge on top/left when raised, dark when pressed.
            light, dark = ((255, 255, 255), (90, 92, 104)) if not pressed else \
                ((90, 92, 104), (255, 255, 255))
            fill_rect(img, ox, oy, ox + w, oy + 3, light)
            fill_rect(img, ox, oy, ox + 3, oy + h, light)
            fill_rect(img, ox, oy + h - 3, ox + w, oy + h, dark)
            fill_rect(img, ox + w - 3, oy, ox + w, oy + h, dark)
            cx, cy = ox + w // 2 + 2 * pressed, oy + h // 2 + 2 * pressed
            colour = glyph_colours[row]
            if state == "lit":
                colour = blend(colour, (255, 255, 255), 0.2)
            for y in range(oy + 6, oy + h - 6):
                for x in range(ox + 6, ox + w - 6):
                    dx, dy = x - cx, y - cy
                    if row == 0:
                        inside = dx * dx + dy * dy <= 18 * 18
                    elif row == 1:
                        inside = abs(dx) <= 17 and abs(dy) <= 17
                    else:
                        inside = -18 <= dy <= 16 and abs(dx) <= (dy + 18) * 0.6
                    if inside:
                        img[y][x] = list(colour)
    return img


def backdrop():
    """A dusk sky over two rows of hills, with a few stars."""
    w, h = 512, 384
    img = canvas(w, h, (0, 0, 0))
    for y in range(h):
        sky = blend((18, 24, 64), (226, 132, 92), (y / h) ** 1.6)
        fill_rect(img, 0, y, w, y + 1, sky)
    seed = 7
    for _ in range(60):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = seed % w
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = seed % (h // 2)
        img[y][x] = [255, 250, 230]
    for x in range(w):
        far = int(h * 0.62 + 22 * math.sin(x / 47.0) + 9 * math.sin(x / 13.0))
        near = int(h * 0.78 + 30 * math.sin(x / 71.0 + 1.3))
        fill_rect(img, x, far, x + 1, h, (72, 60, 96))
        fill_rect(img, x, near, x + 1, h, (34, 40, 58))
    return img


def ball():
    """A shaded ball on a dark tile, lit from the top left."""
    size = 64
    img = canvas(size, size, (28, 30, 44))
    c = (size - 1) / 2
    for y in range(size):
        for x in range(size):
            dx, dy = (x - c) / 30.0, (y - c) / 30.0
            d2 = dx * dx + dy * dy
            if d2 <= 1.0:
                z = math.sqrt(1.0 - d2)
                light = max(0.0, (-0.5 * dx - 0.6 * dy + 0.62 * z))
                base = blend((150, 40, 20), (255, 196, 64), light)
                shine = max(0.0, light - 0.85) * 6
                img[y][x] = blend(base, (255, 255, 255), min(1.0, shine))
    return img


def ball_cutout():
    """The ball alone on a transparent ground, its edge smoothed: a cut-out."""
    size = 64
    c = (size - 1) / 2
    shaded = ball()
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            alpha = coverage(math.hypot(x - c, y - c), 29.5)
            if alpha > 0:
                img[y][x] = tuple(shaded[y][x]) + (int(round(alpha * 255)),)
    return img


def coverage(distance, radius):
    """How much of a pixel a disc's edge covers, from the distance of its centre: a soft edge
    one pixel wide."""
    return min(1.0, max(0.0, radius + 0.5 - distance))


def over(top, top_alpha, bottom, bottom_alpha):
    """Straight-alpha compositing of one colour over another."""
    alpha = top_alpha + bottom_alpha * (1 - top_alpha)
    if alpha == 0:
        return [0, 0, 0], 0.0
    colour = [(top[i] * top_alpha + bottom[i] * bottom_alpha * (1 - top_alpha)) / alpha
              for i in range(3)]
    return colour, alpha


def play_buttons():
    """Three round play buttons side by side, 64 by 64 each, on a transparent ground: raised,
    pressed, and raised and lit up (the pointer is over it). Each casts a soft shadow, so its
    corners and rim let what lies below show through, darkened."""
    size, radius = 64, 25
    img = [[(0, 0, 0, 0)] * (3 * size) for _ in range(size)]
    for column in (0, 1, 2):
        pressed = column == 1
        cx, cy = size * column + 31.5 + 1.5 * pressed, 30.5 + 1.5 * pressed
        shadow_x, shadow_y = (3, 4) if not pressed else (1, 1.5)
        for y in range(size):
            for x in range(size * column, size * (column + 1)):
                d = math.hypot(x - cx, y - cy)
                sd = math.hypot(x - cx - shadow_x, y - cy - shadow_y)
                shadow = 0.5 * max(0.0, min(1.0, (radius + 4 - sd) / 8))
                disc = coverage(d, radius)
                # Lit from the top left; darker when pressed, brighter under the pointer.
                light = max(0.0, min(1.0, 0.55 - ((x - cx) + (y - cy)) / (3.0 * radius)))
                face = blend((24, 120, 96), (120, 226, 170), light)
                if pressed:
                    face = blend(face, (0, 0, 0), 0.18)
                if column == 2:
                    face = blend(face, (200, 255, 220), 0.35)
                rim = coverage(d, radius) - coverage(d, radius - 2)
                face = blend(face, (250, 255, 250), 0.5 * rim)
                # The glyph: a triangle pointing right, its edges smoothed by 4 by 4 samples.
                samples = 0
                for sy in range(4):
                    for sx in range(4):
                        gx, gy = x + (sx + 0.5) / 4 - 0.5 - cx + 3, y + (sy + 0.5) / 4 - 0.5 - cy
                        samples += -9 <= gx <= 11 and abs(gy) <= (11 - gx) * 0.55
                face = blend(face, (250, 252, 246), samples / 16)
                colour, alpha = over(face, disc, (0, 0, 0), shadow)
                img[y][x] = tuple(int(round(c)) for c in colour) + (int(round(alpha * 255)),)
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "demo"
    os.makedirs(out, exist_ok=True)
    sheet, ball_tile, play, cutout = button_sheet(), ball(), play_buttons(), ball_cutout()
    # 24-bit bottom-up BMP, uncompressed 24-bit TGA from the bottom left, RGBA PNG.
    write(os.path.join(out, "buttons.bmp"),
          images.bmp(len(sheet[0]), len(sheet), lambda x, y: sheet[y][x]))
    write(os.path.join(out, "ball.tga"),
          images.tga(len(ball_tile[0]), len(ball_tile), lambda x, y: ball_tile[y][x]))
    write(os.path.join(out, "play.png"),
          images.png(len(play[0]), len(play), lambda x, y: play[y][x], level=9))
    write_jpeg(os.path.join(out, "backdrop.jpg"), backdrop())
    write(os.path.join(out, "ball.png"),
          images.png(len(cutout[0]), len(cutout), lambda x, y: cutout[y][x], level=9))


if __name__ == "__main__":
    main()
