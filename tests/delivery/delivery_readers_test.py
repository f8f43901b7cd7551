#!/usr/bin/env python3
"""Checks what delivery_samples wrote with real readers: pngcheck, PIL, unzip and Python's
zipfile, and the resampled pictures against a reference of the same filter written here
from its formula.

usage: delivery_readers_test.py DELIVERY_SAMPLES_PROGRAM
"""
import math
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

from PIL import Image

SAMPLES = None
DIR = None


def read(name):
    with open(os.path.join(DIR, name), "rb") as f:
        return f.read()


def png_chunks(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, []
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        chunks.append((data[at + 4:at + 8], data[at + 8:at + 8 + length]))
        at += 12 + length
    return chunks


class Png(unittest.TestCase):
    def check_pngcheck(self, name):
        run = subprocess.run(["pngcheck", "-v", os.path.join(DIR, name)],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("No errors detected", run.stdout)
        return run.stdout

    def test_colour_png(self):
        out = self.check_pngcheck("colour.png")
        self.assertIn("97 x 61 image, 8-bit palette, non-interlaced", out)
        self.assertIn("length 768: 256 palette entries", out)
        chunks = png_chunks(read("colour.png"))
        self.assertEqual([c[0] for c in chunks], [b"IHDR", b"PLTE", b"IDAT", b"IEND"])
        self.assertEqual(chunks[0][1][8:], bytes([8, 3, 0, 0, 0]))
        self.assertEqual(chunks[2][1][:2], b"\x78\x01")
        image = Image.open(os.path.join(DIR, "colour.png"))
        self.assertEqual((image.mode, image.size), ("P", (97, 61)))
        self.assertEqual(bytes(image.getdata()), read("colour.indices"))
        self.assertEqual(bytes(image.getpalette()[:768]), read("colour.palette"))

    def test_few_colours_are_exact(self):
        self.check_pngcheck("few.png")
        image = Image.open(os.path.join(DIR, "few.png"))
        self.assertEqual(image.mode, "P")
        self.assertEqual(image.convert("RGB").tobytes(), read("few.rgb"))
        self.assertEqual(len(set(image.getdata())), 200)

    def test_one_pixel(self):
        self.check_pngcheck("one.png")
        image = Image.open(os.path.join(DIR, "one.png")).convert("RGB")
        self.assertEqual(image.getpixel((0, 0)), (1, 2, 3))

    def test_grey_png(self):
        out = self.check_pngcheck("grey.png")
        self.assertIn("33 x 9 image, 4-bit palette, non-interlaced", out)
        self.assertIn("length 48: 16 palette entries", out)
        chunks = png_chunks(read("grey.png"))
        self.assertEqual(chunks[0][1][8:], bytes([4, 3, 0, 0, 0]))
        self.assertEqual(chunks[2][1][:2], b"\x78\x01")
        image = Image.open(os.path.join(DIR, "grey.png"))
        self.assertEqual(bytes(image.getdata()), read("grey.indices"))
        levels = [0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255]
        self.assertEqual(image.getpalette()[:48], [v for v in levels for _ in range(3)])


class Bmp(unittest.TestCase):
    def test_bmp_pixels(self):
        image = Image.open(os.path.join(DIR, "scene.bmp"))
        self.assertEqual(image.size, (97, 61))
        self.assertEqual(image.convert("RGB").tobytes(), read("scene.rgb"))


def trunc_div(a, b):
    """Integer division rounding towards zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def kernel(x):
    x = abs(x)
    if x < 1:
        return 7 / 6 * x ** 3 - 2 * x ** 2 + 8 / 9
    if x < 2:
        return -7 / 18 * x ** 3 + 2 * x ** 2 - 10 / 3 * x + 16 / 9
    return 0.0


def contributors(n, m):
    result = []
    for i in range(m):
        pairs = []
        if m < n:
            s = m / n
            for j in range(trunc_div(n * (i - 2) - m + 1, m), trunc_div(n * (i + 2) + m - 1, m) + 1):
                x = abs(i - j * s)
                if x < 2:
                    pairs.append((j, math.floor(kernel(x) * s * 65536 + 0.5)))
        else:
            c = i * n / m
            for j in range(trunc_div(n * i - 3 * m + 1, m), trunc_div(n * i + 3 * m - 1, m) + 1):
                x = abs(c - j)
                if x < 2:
                    pairs.append((j, math.floor(kernel(x) * 65536 + 0.5)))
        mirrored = []
        for j, w in pairs:
            if j < 0:
                j = -j
            if j >= n:
                j = 2 * n - 1 - j
            mirrored.append((min(max(j, 0), n - 1), w))
        result.append(mirrored)
    return result


def clamp(total):
    if total < 0:
        return 0
    if total >= 0xFF0001:
        return 255
    return total >> 16


def resample(src, w, h, tw, th):
    cols, rows = contributors(w, tw), contributors(h, th)
    out = bytearray(tw * th * 4)
    for x in range(tw):
        column = [[clamp(sum(wt * src[(y * w + j) * 4 + ch] for j, wt in cols[x])) for ch in range(3)]
                  for y in range(h)]
        for y in range(th):
            for ch in range(3):
                out[(y * tw + x) * 4 + ch] = clamp(sum(wt * column[k][ch] for k, wt in rows[y]))
    return bytes(out)


class Resample(unittest.TestCase):
    def test_against_reference(self):
        src = read("resample_source.bgrx")
        for tw, th in [(15, 9), (80, 50), (37, 23), (5, 40), (1, 1)]:
            with self.subTest(size=(tw, th)):
                ours = read("resample_%dx%d.bgrx" % (tw, th))
                ref = resample(src, 37, 23, tw, th)
                # The fourth byte is not written: compare blue, green and red only.
                mine = bytes(b for i, b in enumerate(ours) if i % 4 != 3)
                theirs = bytes(b for i, b in enumerate(ref) if i % 4 != 3)
                self.assertEqual(mine, theirs)


class Zip(unittest.TestCase):
    def test_unzip_accepts_it(self):
        run = subprocess.run(["unzip", "-t", os.path.join(DIR, "attachments.zip")],
                             capture_output=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn(b"No errors detected in compressed data", run.stdout)

    def test_zipfile_reads_every_entry(self):
        with zipfile.ZipFile(os.path.join(DIR, "attachments.zip")) as z:
            self.assertIsNone(z.testzip())
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos],
                             ["b\u00fccher.txt", "empty.txt", "log.txt", "log.txt"])
            for info in infos:
                self.assertEqual(info.flag_bits, 0x0800)
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
            self.assertEqual(z.read(infos[0]), read("report.txt"))
            self.assertEqual((infos[1].CRC, infos[1].file_size, infos[1].compress_size), (0, 0, 2))
            self.assertEqual(z.read(infos[3]), b"first log")

    def test_failed_archive_is_not_left(self):
        self.assertFalse(os.path.exists(os.path.join(DIR, "none.zip")))


def main():
    global SAMPLES, DIR
    SAMPLES = sys.argv.pop(1)
    with tempfile.TemporaryDirectory(prefix="qx_delivery_") as folder:
        DIR = folder
        run = subprocess.run([SAMPLES, folder])
        if run.returncode != 0:
            print("delivery_samples failed with exit code %d" % run.returncode)
            return 1
        result = unittest.main(exit=False, verbosity=2).result
        return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
