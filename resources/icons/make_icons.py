#!/usr/bin/env python3
"""Draws the Setup and Tolvakey icons and writes them as Windows .ico files.

The artwork lives here as shapes rather than as pictures made in an image editor, so that it can be
changed in a review and rebuilt anywhere with nothing but Python. The generated .ico files are
committed: the build takes them as they are and needs no image tools.

Each icon holds 16x16, 32x32 and 48x48 images, 32 bits a pixel with straight (not premultiplied)
alpha, stored as DIBs rather than PNGs because Windows before Vista cannot read PNG icon images and
some tools that read resources still cannot.

The .ico files come out the same, byte for byte, on every run and every machine: the drawing uses
only exactly rounded arithmetic (+, -, *, / and square roots), no clock and no randomness. (The PNG
previews go through zlib, whose output may differ between zlib versions.)

Usage:
    python3 make_icons.py [--out DIR] [--png DIR]

--out defaults to the directory of this script. --png also writes each image as a PNG, for
documentation; those are not used by the build.
"""

import argparse
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)

# The artwork is laid out on a 48-unit square. Coordinates that are multiples of 3 land on pixel
# edges at all three sizes, which keeps the straight edges sharp at 16x16.
GRID = 48.0

# Samples a pixel is split into along each axis for anti-aliasing.
SUBSAMPLES = 6


# --- shapes -----------------------------------------------------------------------------------
#
# A shape gives the signed distance, in grid units, from a point to its outline: negative inside.
# That one function serves for filling, for outlines (fill the shape, then fill it again shrunk by
# the outline width) and for quickly skipping samples outside its bounding box.


class RoundedRect:
    def __init__(self, x0, y0, x1, y1, radius=0.0):
        self.cx = (x0 + x1) / 2.0
        self.cy = (y0 + y1) / 2.0
        self.hx = (x1 - x0) / 2.0
        self.hy = (y1 - y0) / 2.0
        self.r = radius
        self.bounds = (x0, y0, x1, y1)

    def distance(self, x, y):
        qx = abs(x - self.cx) - self.hx + self.r
        qy = abs(y - self.cy) - self.hy + self.r
        outside = (max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2) ** 0.5
        return outside + min(max(qx, qy), 0.0) - self.r


class Polygon:
    def __init__(self, points):
        self.points = [(float(x), float(y)) for x, y in points]
        xs = [p[0] for p in self.points]
        ys = [p[1] for p in self.points]
        self.bounds = (min(xs), min(ys), max(xs), max(ys))
        self.edges = list(zip(self.points, self.points[1:] + self.points[:1]))

    def distance(self, x, y):
        nearest = float("inf")
        inside = False
        for (ax, ay), (bx, by) in self.edges:
            ex, ey = bx - ax, by - ay
            px, py = x - ax, y - ay
            t = (px * ex + py * ey) / (ex * ex + ey * ey)
            t = min(max(t, 0.0), 1.0)
            dx, dy = px - ex * t, py - ey * t
            nearest = min(nearest, dx * dx + dy * dy)
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        nearest = nearest ** 0.5
        return -nearest if inside else nearest


class Shifted:
    """Another shape moved by (dx, dy): used for drop shadows."""

    def __init__(self, shape, dx, dy):
        self.shape = shape
        self.dx = dx
        self.dy = dy
        x0, y0, x1, y1 = shape.bounds
        self.bounds = (x0 + dx, y0 + dy, x1 + dx, y1 + dy)

    def distance(self, x, y):
        return self.shape.distance(x - self.dx, y - self.dy)


# --- paint ------------------------------------------------------------------------------------


def solid(r, g, b, a=255):
    colour = (float(r), float(g), float(b), float(a))
    return lambda x, y: colour


def vertical(top, bottom, y0, y1):
    """A top-to-bottom gradient between two RGB colours over grid rows y0..y1."""

    def paint(x, y):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return (
            top[0] + (bottom[0] - top[0]) * t,
            top[1] + (bottom[1] - top[1]) * t,
            top[2] + (bottom[2] - top[2]) * t,
            255.0,
        )

    return paint


class Layer:
    """Paint over everything inside shape, shrunk by inset pixels (not grid units, so that an
    outline stays one pixel wide at 16x16 instead of shrinking to a third of one)."""

    def __init__(self, shape, paint, inset_px=0.0):
        self.shape = shape
        self.paint = paint
        self.inset_px = inset_px


# --- rendering --------------------------------------------------------------------------------


def render(layers, size):
    """Rasterises layers, first at the bottom, into size rows of size (R, G, B, A) pixels, top row
    first, with straight alpha and fully transparent pixels black."""
    scale = GRID / size
    n = SUBSAMPLES
    offsets = [(k + 0.5) / n for k in range(n)]
    prepared = []
    for layer in layers:
        inset = layer.inset_px * scale
        x0, y0, x1, y1 = layer.shape.bounds
        prepared.append((layer.shape, layer.paint, -inset, x0, y0, x1, y1))

    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            sum_r = sum_g = sum_b = sum_a = 0.0
            for oy in offsets:
                y = (j + oy) * scale
                for ox in offsets:
                    x = (i + ox) * scale
                    # Premultiplied "over" compositing, one sample at a time, so that shapes
                    # that share an edge blend like a picture would and leave no seam.
                    r = g = b = a = 0.0
                    for shape, paint, limit, x0, y0, x1, y1 in prepared:
                        if x < x0 or x > x1 or y < y0 or y > y1:
                            continue
                        if shape.distance(x, y) > limit:
                            continue
                        pr, pg, pb, pa = paint(x, y)
                        pa /= 255.0
                        keep = 1.0 - pa
                        r = pr * pa + r * keep
                        g = pg * pa + g * keep
                        b = pb * pa + b * keep
                        a = pa + a * keep
                    sum_r += r
                    sum_g += g
                    sum_b += b
                    sum_a += a
            alpha = sum_a / (n * n)
            a8 = int(alpha * 255.0 + 0.5)
            if a8 == 0:
                row.append((0, 0, 0, 0))
                continue
            row.append(
                (
                    min(255, int(sum_r / sum_a + 0.5)),
                    min(255, int(sum_g / sum_a + 0.5)),
                    min(255, int(sum_b / sum_a + 0.5)),
                    a8,
                )
            )
        rows.append(row)
    return rows


# --- artwork ----------------------------------------------------------------------------------


def outline_px(size):
    return 2.0 if size >= 48 else 1.0


def setup_layers(size):
    """A cardboard box with a blue arrow pointing down into it."""
    line = outline_px(size)
    box_edge = solid(107, 69, 33)
    lid = RoundedRect(3, 15, 45, 24)
    body = RoundedRect(6, 24, 42, 45)
    arrow = Polygon([(18, 3), (30, 3), (30, 15), (39, 15), (24, 30), (9, 15), (18, 15)])

    layers = [
        Layer(body, box_edge),
        Layer(body, vertical((216, 166, 94), (182, 130, 62), 24, 45), line),
    ]
    if size >= 32:
        # The shade the lid casts on the box, so the two read as separate parts.
        layers.append(Layer(RoundedRect(6, 24, 42, 27), solid(120, 78, 36, 90), line))
        # A strip of packing tape down the front, half hidden by the arrow.
        layers.append(Layer(RoundedRect(21, 24, 27, 45), solid(240, 214, 160, 150), line))
    layers += [
        Layer(lid, box_edge),
        Layer(lid, vertical((240, 200, 132), (222, 172, 98), 15, 24), line),
    ]
    if size >= 32:
        layers.append(Layer(Shifted(arrow, 1.5, 1.5), solid(60, 36, 12, 80)))
    layers += [
        Layer(arrow, solid(18, 60, 124)),
        Layer(arrow, vertical((110, 174, 250), (34, 98, 208), 3, 30), line),
    ]
    return layers


def tolvakey_layers(size):
    """A keyboard key seen from slightly in front, with an amber T on its top."""
    line = outline_px(size)
    skirt = RoundedRect(3, 3, 45, 45, 9)
    top = RoundedRect(9, 6, 39, 36, 6)

    layers = [
        Layer(skirt, solid(20, 24, 34)),
        Layer(skirt, vertical((92, 108, 140), (46, 56, 76), 3, 45), line),
        Layer(top, solid(40, 48, 66)),
        Layer(top, vertical((136, 154, 192), (100, 116, 150), 6, 36), line),
    ]
    if size >= 32:
        # The light catching the near edge of the key top.
        layers.append(Layer(RoundedRect(10.5, 7.5, 37.5, 12, 4.5), solid(255, 255, 255, 40), line))

    if size >= 32:
        # Bevelled bar ends and a chiselled foot make the T ours rather than a font's.
        letter = Polygon(
            [
                (14, 12), (34, 12), (34, 15), (31, 18), (27, 18), (27, 29),
                (24, 32), (21, 29), (21, 18), (17, 18), (14, 15),
            ]
        )
        layers.append(Layer(Shifted(letter, 0, 1.5), solid(12, 16, 24, 120)))
    else:
        # At 16x16 only whole pixels stay legible.
        letter = Polygon(
            [(15, 12), (33, 12), (33, 18), (27, 18), (27, 30), (21, 30), (21, 18), (15, 18)]
        )
    layers.append(Layer(letter, vertical((255, 204, 92), (244, 146, 34), 12, 32)))
    return layers


ICONS = {
    "Setup": setup_layers,
    "Tolvakey": tolvakey_layers,
}


# --- file formats -----------------------------------------------------------------------------


def dib_image(pixels):
    """One icon image: a BITMAPINFOHEADER, the BGRA pixels bottom row first, and the 1-bit AND
    mask that Windows versions without alpha support draw with instead."""
    size = len(pixels)
    colour = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += line
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        size * 2,  # biHeight: colour and mask stacked, as icons require
        1,  # biPlanes
        32,  # biBitCount
        0,  # biCompression = BI_RGB
        len(colour) + len(mask),  # biSizeImage
        0,
        0,
        0,
        0,
    )
    return header + bytes(colour) + bytes(mask)


def ico_file(images):
    """images: a list of (size, pixels), written in that order."""
    count = len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, count))  # reserved, type 1 = icon, count
    blobs = [dib_image(pixels) for _, pixels in images]
    offset = 6 + 16 * count
    for (size, _), blob in zip(images, blobs):
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def png_file(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    height = len(pixels)
    width = len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for px in row:
            raw += bytes(px)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


def write_if_changed(path, data):
    """Leaves an up-to-date file untouched so its timestamp does not trigger a rebuild."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except FileNotFoundError:
        pass
    with open(path, "wb") as f:
        f.write(data)
    return True


def main(argv):
    parser = argparse.ArgumentParser(description="Draw the Setup and Tolvakey icons.")
    parser.add_argument(
        "--out",
        default=os.path.dirname(os.path.abspath(__file__)),
        help="where to write the .ico files (default: this script's directory)",
    )
    parser.add_argument("--png", metavar="DIR", help="also write each image as a PNG in DIR")
    args = parser.parse_args(argv)

    os.makedirs(args.out, exist_ok=True)
    if args.png:
        os.makedirs(args.png, exist_ok=True)
    for name, layers_for in ICONS.items():
        images = [(size, render(layers_for(size), size)) for size in SIZES]
        path = os.path.join(args.out, name + ".ico")
        changed = write_if_changed(path, ico_file(images))
        print(("wrote " if changed else "unchanged ") + path)
        if args.png:
            for size, pixels in images:
                png = os.path.join(args.png, "%s-%d.png" % (name, size))
                write_if_changed(png, png_file(pixels))
                print("wrote " + png)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
