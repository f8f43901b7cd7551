#!/usr/bin/env python3
"""Draws the exception box's 32 x 32 picture "KVIBIG", a red disc with a white exclamation
mark and a soft shadow, with the shapes and the 32-bit BMP writer of progress_pictures.py.

usage: exception_box_picture.py OUTPUT_DIR
"""
import os
import sys

from progress_pictures import Canvas, circle, polygon


def exclamation_disc():
    c = Canvas()
    c.fill(circle(17, 17.5, 14), (0.0, 0.0, 0.0), 0.25)           # shadow
    c.fill(circle(15.5, 15.5, 14), (0.55, 0.05, 0.05))            # rim
    c.fill(circle(15.5, 15.5, 12.6), (0.86, 0.16, 0.12))          # face
    c.fill(circle(13.5, 11.5, 7.5), (1.0, 0.55, 0.50), 0.35)      # highlight
    c.fill(polygon([(13.6, 6), (17.4, 6), (16.6, 19), (14.4, 19)]), (1.0, 1.0, 1.0))
    c.fill(circle(15.5, 23.2, 2.1), (1.0, 1.0, 1.0))
    return c


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    data = exclamation_disc().bmp()
    assert len(data) == 14 + 40 + 4096
    with open(os.path.join(argv[1], "kvibig.bmp"), "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
