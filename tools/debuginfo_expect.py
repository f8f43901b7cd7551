#!/usr/bin/env python3
"""Writes what i686-w64-mingw32-addr2line says about addresses inside the functions of a
module that still has its DWARF, as the expectation for the map's own-module test.

Output, one function a line, tab-separated:  ADDRESS_RVA START_RVA LINE UNIT NAME SYMBOL
  ADDRESS_RVA  an address inside the function (its middle), relative to the image base
  START_RVA    the function's start
  LINE         addr2line's line for ADDRESS (0 when it knows none)
  UNIT         the unit at ADDRESS: the file of the line row in force there when it lies in
               the function (code inlined from a header belongs to the header), else the
               function's unit, the file of its first line row from a source file (its
               first row when all are headers), read here from objdump's decoded line table;
               "-" when it has no line rows
  NAME         the function's name as addr2line -f -C gives it at the start, "?" if none
               (where inlined code begins a function, addr2line names the inlined callee)
  SYMBOL       the function's symbol from the symbol table, demangled
"""

import argparse
import bisect
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import debuginfo_embed as embed  # noqa: E402


SOURCE_FILES = (".c", ".cc", ".cpp", ".cxx", ".s", ".S")


def line_rows(objdump, dll, image_base):
    """[(rva, file)] of the rows with a known line in objdump's decoded line table, in
    address order. At one address the last row of a sequence counts; a sequence's end row
    leaves its address without a line, unless another sequence starts there."""
    rows = {}  # rva -> (file or None, sequence)
    sequence = 0
    text = subprocess.run([objdump, "--dwarf=decodedline", dll], stdout=subprocess.PIPE,
                          universal_newlines=True, check=True).stdout
    for line in text.splitlines():
        parts = line.split()
        if len(parts) < 3 or not parts[2].startswith("0x"):
            continue
        if parts[1] != "-" and not parts[1].isdigit():
            continue
        rva = int(parts[2], 16) - image_base
        known = parts[1] != "-" and parts[1] != "0"
        old = rows.get(rva)
        if parts[1] == "-":
            if old is None or old[1] == sequence:
                rows[rva] = (None, sequence)
            sequence += 1
        elif old is None or old[1] == sequence or old[0] is None:
            rows[rva] = (parts[0] if known else None, sequence)
    return [(rva, f) for rva, (f, _) in sorted(rows.items()) if f is not None]


def unit_of_function(rows, addresses, start, end):
    files = [f for _, f in rows[bisect.bisect_left(addresses, start):
                                bisect.bisect_left(addresses, end)]]
    sources = [f for f in files if os.path.splitext(f)[1] in SOURCE_FILES]
    return sources[0] if sources else files[0] if files else "-"


def unit_at(rows, addresses, start, address, unit):
    """The file of the row in force at address inside its function (code inlined from a
    header belongs to the header), else the function's unit."""
    k = bisect.bisect_right(addresses, address) - 1
    return rows[k][1] if k >= 0 and rows[k][0] >= start else unit


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

    # The functions (symbol table) come from the writer's reader; their units do not.
    pe, _, _, _, _, functions = embed.collect(args.debug_dll, Tools)
    code_hi = pe.code_range()[1]
    rows = line_rows(Tools.objdump, args.debug_dll, pe.image_base)
    row_addresses = [rva for rva, _ in rows]
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

    with open(args.out, "w") as f:
        for n, (inner, start, symbol) in enumerate(probes):
            _, where = answers[2 * n]
            name, start_where = answers[2 * n + 1]
            line = where.split(" (")[0].rsplit(":", 1)[-1]
            line = int(line) if line.isdigit() else 0
            end = starts[n + 1] if n + 1 < len(starts) else code_hi
            unit = unit_of_function(rows, row_addresses, start, end)
            if unit != "-":
                unit = unit_at(rows, row_addresses, start, inner, unit)
            f.write("%x\t%x\t%d\t%s\t%s\t%s\n" % (inner, start, line, unit,
                                                name if name != "??" else "?", symbol))
    return 0


if __name__ == "__main__":
    sys.exit(main())
