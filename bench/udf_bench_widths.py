#!/usr/bin/env python3
"""Puts the figures of udf_bench for the 32-bit and the 64-bit module side by side.

    udf_bench_widths.py OUTPUT_32 OUTPUT_64

Calls per second become one table with both widths and their ratio; the remaining lines
(large texts, large blobs) follow as each build printed them.
"""
import re
import sys

RATE = re.compile(r"^\s+(\S.*?)\s+(\d+)\s*$")


def Split(path):
    """Returns the rate rows in order and the lines after them."""
    rates, rest, in_rates = [], [], False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("calls per second"):
                in_rates = True
                continue
            m = RATE.match(line) if in_rates else None
            if m:
                rates.append((m.group(1), float(m.group(2))))
            else:
                in_rates = False
                rest.append(line)
    return rates, rest


def main():
    rates32, rest32 = Split(sys.argv[1])
    rates64, rest64 = Split(sys.argv[2])
    by_name64 = dict(rates64)
    print("calls per second through the export table:")
    print(f"  {'':22} {'32-bit':>12} {'64-bit':>12} {'64/32':>7}")
    for name, rate32 in rates32:
        rate64 = by_name64.get(name)
        if rate64 is None:
            print(f"  {name:22} {rate32:12.0f} {'missing':>12}")
            continue
        print(f"  {name:22} {rate32:12.0f} {rate64:12.0f} {rate64 / rate32:6.2f}x")
    for label, rest in (("32-bit", rest32), ("64-bit", rest64)):
        print(f"{label} module:")
        for line in rest:
            print(f"  {line}")
    missing = [name for name, _ in rates64 if name not in dict(rates32)]
    return 1 if missing or len(rates32) != len(rates64) else 0


if __name__ == "__main__":
    sys.exit(main())
