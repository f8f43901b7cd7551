#!/usr/bin/env python3
"""Draws the progress window's two 32 x 32 pictures and writes them as 32-bit BMP files
with straight (not premultiplied) alpha: "KVIPLWAIT", an hourglass, and "KVISEND32", a
letter with an arrow. Shapes are polygons and circles, anti-aliased by sampling each pixel
4 x 4 times. A resource compiler strips the 14-byte file header, which leaves exactly the
40-byte bitmap header and 4096 bytes of pixels in the module.

usage: progress_pictures.py OUTPUT_DIR
"""
import os
import struct
import sys

SIZE = 32
SAMPLES = 4


def inside_polygon(x, y, points):
    hit = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def polygon(points):
    return lambda x, y: inside_polygon(x, y, points)


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def thick_line(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length = (dx * dx + dy * dy) ** 0.5
    nx, ny = -dy / length * width / 2, dx / length * width / 2
    return polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)])


class Canvas:
    def __init__(self):
        # straight-alpha RGBA floats, row 0 at the top
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(SIZE)] for _ in range(SIZE)]

    def fill(self, shape, color, opacity=1.0):
        r, g, b = color
        for y in range(SIZE):
            for x in range(SIZE):
                hits = sum(shape(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES)
                           for i in range(SAMPLES) for j in range(SAMPLES))
                if not hits:
                    continue
                a = opacity * hits / (SAMPLES * SAMPLES)
                dr, dg, db, da = self.px[y][x]
                out_a = a + da * (1 - a)
                mix = lambda s, d: (s * a + d * da * (1 - a)) / out_a
                self.px[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def bmp(self):
        pixels = bytearray()
        for y in reversed(range(SIZE)):  # bottom-up rows
            for x in range(SIZE):
                r, g, b, a = self.px[y][x]
                colour = bytes(round(v * 255) if a else 0 for v in (b, g, r))
                pixels += colour + bytes([round(a * 255)])
        info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 32, 0, len(pixels),
                           2835, 2835, 0, 0)
        header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
        return header + info + bytes(pixels)


def hourglass():
    c = Canvas()
    wood = (0.45, 0.27, 0.10)
    glass = [(8, 5), (24, 5), (17.2, 16), (24, 27), (8, 27), (14.8, 16)]
    c.fill(polygon(glass), (0.80, 0.90, 1.0), 0.55)
    c.fill(polygon([(11.5, 9), (20.5, 9), (16, 14.8)]), (0.95, 0.70, 0.15))  # sand above
    c.fill(polygon([(16, 19.5), (22, 26), (10, 26)]), (0.95, 0.70, 0.15))    # sand below
    c.fill(thick_line(16, 14, 16, 26, 1.0), (0.95, 0.70, 0.15))              # falling grain
    c.fill(thick_line(8, 5, 14.8, 16, 1.3), (0.30, 0.40, 0.55))
    c.fill(thick_line(24, 5, 17.2, 16, 1.3), (0.30, 0.40, 0.55))
    c.fill(thick_line(14.8, 16, 8, 27, 1.3), (0.30, 0.40, 0.55))
    c.fill(thick_line(17.2, 16, 24, 27, 1.3), (0.30, 0.40, 0.55))
    c.fill(polygon([(5, 2), (27, 2), (27, 5.5), (5, 5.5)]), wood)
    c.fill(polygon([(5, 26.5), (27, 26.5), (27, 30), (5, 30)]), wood)
    return c


def letter():
    c = Canvas()
    c.fill(polygon([(2, 7), (26, 7), (26, 25), (2, 25)]), (0.25, 0.25, 0.30))
    c.fill(polygon([(3, 8), (25, 8), (25, 24), (3, 24)]), (0.98, 0.97, 0.92))
    c.fill(thick_line(3, 8.5, 14, 17, 1.4), (0.45, 0.45, 0.50))
    c.fill(thick_line(25, 8.5, 14, 17, 1.4), (0.45, 0.45, 0.50))
    c.fill(circle(24, 23, 7.5), (1.0, 1.0, 1.0), 0.9)
    c.fill(polygon([(19, 21), (25, 21), (25, 17.5), (30.5, 23), (25, 28.5), (25, 25), (19, 25)]),
           (0.10, 0.60, 0.20))
    return c


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, picture in (("kviplwait.bmp", hourglass()), ("kvisend32.bmp", letter())):
        data = picture.bmp()
        assert len(data) == 14 + 40 + 4096
        with open(os.path.join(argv[1], name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
