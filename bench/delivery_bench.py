#!/usr/bin/env python3
"""Our colour PNG against PIL's quantize(256) + save(optimize=True), and our zip against
Python's zipfile at level 6: time, size and (pictures) PSNR of the palette picture against
the original, on the same pictures and the same file, in the same run.

usage: delivery_bench.py DELIVERY_BENCH SCREENSHOT.bmp WORK_FOLDER
"""
import io
import math
import os
import subprocess
import sys
import time
import zipfile

from PIL import Image, ImageChops, ImageStat

RUNS = 5


def median(values):
    return sorted(values)[len(values) // 2]


def psnr(original, quantised):
    diff = ImageChops.difference(original, quantised.convert("RGB"))
    mse = sum(v * v for v in ImageStat.Stat(diff).rms) / 3
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def pil_png(image):
    times, data, quantised = [], b"", None
    for _ in range(RUNS):
        start = time.perf_counter()
        quantised = image.quantize(256)
        out = io.BytesIO()
        quantised.save(out, "PNG", optimize=True)
        times.append((time.perf_counter() - start) * 1000)
        data = out.getvalue()
    return median(times), len(data), psnr(image, quantised)


def our_png(bench, image, folder, name):
    raw = os.path.join(folder, name + ".bgrx")
    with open(raw, "wb") as f:
        f.write(image.transpose(Image.FLIP_TOP_BOTTOM).tobytes("raw", "BGRX"))
    out = os.path.join(folder, name + ".ours.png")
    run = subprocess.run([bench, "png", raw, str(image.width), str(image.height), out],
                         capture_output=True, text=True, check=True)
    ms, size, quality = run.stdout.split()
    return float(ms), int(size), float(quality)


def photo(folder):
    """A picture with the smooth gradients and fine noise of a photograph: ImageMagick's
    fractal plasma, seeded, so that every run measures the same picture."""
    path = os.path.join(folder, "photo.png")
    subprocess.run(["convert", "-size", "1280x1024", "-seed", "7", "plasma:fractal",
                    "-blur", "0x1", path], check=True)
    return Image.open(path).convert("RGB")


def report_file(folder):
    path = os.path.join(folder, "bugreport.txt")
    lines, n, size = [], 0, 0
    while size < 10 * 1024 * 1024:
        lines.append("%08x  %-24s %-28s line %5d  +$%03x\r\n"
                     % (0x401000 + n * 37, "Unit%d.pas" % (n % 53), "TForm%d.Method%d" % (n % 17, n % 29),
                        (n * 7) % 9973, n % 4096))
        size += len(lines[-1])
        n += 1
    with open(path, "w", newline="") as f:
        f.write("".join(lines))
    return path


def main():
    bench, screenshot, folder = sys.argv[1:4]
    os.makedirs(folder, exist_ok=True)
    pictures = [("screenshot", Image.open(screenshot).convert("RGB")), ("photo", photo(folder))]
    print("delivery: colour PNG of a 1280x1024 picture, ours against PIL quantize(256) + "
          "save(optimize=True), median of %d" % RUNS)
    for name, image in pictures:
        ours = our_png(bench, image, folder, name)
        pil = pil_png(image)
        print("  %-10s %dx%d  ours %7.1f ms %8d bytes PSNR %5.2f dB | PIL %7.1f ms %8d bytes "
              "PSNR %5.2f dB | size %+.1f%%"
              % (name, image.width, image.height, ours[0], ours[1], ours[2], pil[0], pil[1],
                 pil[2], 100.0 * (ours[1] - pil[1]) / pil[1]))
    source = report_file(folder)
    run = subprocess.run([bench, "zip", source, os.path.join(folder, "ours.zip")],
                         capture_output=True, text=True, check=True)
    ms, size = run.stdout.split()
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        with zipfile.ZipFile(os.path.join(folder, "python.zip"), "w", zipfile.ZIP_DEFLATED,
                             compresslevel=6) as z:
            z.write(source, "bugreport.txt")
        times.append((time.perf_counter() - start) * 1000)
    print("delivery: zip of a %d-byte report file: ours %.1f ms %s bytes | zipfile level 6 "
          "%.1f ms %d bytes"
          % (os.path.getsize(source), float(ms), size, median(times),
             os.path.getsize(os.path.join(folder, "python.zip"))))


if __name__ == "__main__":
    main()
