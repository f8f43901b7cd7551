#!/usr/bin/env python3
"""Writes what i686-w64-mingw32-addr2line says about addresses inside the functions of a
module that still has its DWARF, as the expectation for the map's own-module test.

Output, one function a line, tab-separated:  ADDRESS_RVA START_RVA LINE UNIT NAME SYMBOL
  ADDRESS_RVA  an address inside the function (its middle), relative to the image base
  START_RVA    the function's start
  LINE         addr2line's line for ADDRESS (0 when it knows none)
  UNIT         the function's unit as the writer assigns it (base name of the first source
               file among its line rows), "-" when it has none
  NAME         the function's name as addr2line -f -C gives it at the start, "?" if none
               (where inlined code begins a function, addr2line names the inlined callee)
  SYMBOL       the function's symbol from the symbol table, demangled
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import debuginfo_embed as embed  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("debug_dll")
    ap.add_argument("out")
    ap.add_argument("--triple", default="i686-w64-mingw32")
    args = ap.parse_args()

    class Tools:
        nm = args.triple + "-nm"
        objdump = args.triple + "-objdump"
        cxxfilt = args.triple + "-c++filt"

    pe, code_lo, segments, publics, lines, functions = embed.collect(args.debug_dll, Tools)
    code_hi = pe.code_range()[1]
    unit_of = {}
    for begin, length, name in segments:
        unit_of[begin] = name
    starts = [rva for rva, _ in functions]
    probes = []
    for i, (rva, symbol) in enumerate(functions):
        end = starts[i + 1] if i + 1 < len(starts) else code_hi
        probes.append((rva + (end - rva) // 2, rva, symbol))
    addresses = []
    for inner, start, _ in probes:
        addresses += ["%x" % (pe.image_base + inner), "%x" % (pe.image_base + start)]
    out = subprocess.run([args.triple + "-addr2line", "-f", "-C", "-e", args.debug_dll],
                         input="\n".join(addresses) + "\n", stdout=subprocess.PIPE,
                         universal_newlines=True, check=True).stdout.splitlines()
    answers = [(out[2 * k], out[2 * k + 1]) for k in range(len(addresses))]
    # addr2line leaves some linkage names mangled (without their leading underscores).
    raw = sorted({name for name, _ in answers if name.startswith(("Z", "_Z"))})
    if raw:
        fed = [("__" if r.startswith("Z") else "_") + r for r in raw]
        plain = subprocess.run([Tools.cxxfilt], input="\n".join(fed) + "\n",
                               stdout=subprocess.PIPE, universal_newlines=True,
                               check=True).stdout.splitlines()
        names = dict(zip(raw, plain))
        answers = [(names.get(name, name), where) for name, where in answers]

    segment_list = sorted(segments)
    with open(args.out, "w") as f:
        for n, (inner, start, symbol) in enumerate(probes):
            _, where = answers[2 * n]
            name, start_where = answers[2 * n + 1]
            line = where.split(" (")[0].rsplit(":", 1)[-1]
            line = int(line) if line.isdigit() else 0
            unit = "-"
            for begin, length, seg_name in segment_list:
                if begin <= start < begin + length:
                    unit = seg_name or "-"
            f.write("%x\t%x\t%d\t%s\t%s\t%s\n" % (inner, start, line, unit,
                                                name if name != "??" else "?", symbol))
    return 0


if __name__ == "__main__":
    sys.exit(main())
