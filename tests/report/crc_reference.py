#!/usr/bin/env python3
"""Independent reference for the call-stack checksum: Python's zlib.crc32 with the
register continued as given (no inversion). Writes the values that report_core_test
expects into a header (the build runs this), or prints them without an argument."""
import struct
import sys
import zlib


def cont(reg, data):
    # zlib.crc32 inverts on entry and exit; undo both to continue the bare register.
    return zlib.crc32(data, reg ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def lower(text):
    out = bytearray(text)
    for i, b in enumerate(out):
        if 0x41 <= b <= 0x5A or b in (0xC4, 0xD6, 0xDC):
            out[i] = b + 32
    return bytes(out)


def item_value(address, start, module, unit, function):
    if not function or start == 0 or not module:
        return address
    v = cont((address - start) & 0xFFFFFFFF, lower(module))
    if unit:
        v = cont(v, lower(unit))
    return cont(v, lower(function))


def thread(items):
    location = stack = 0
    for i, it in enumerate(items):
        v = item_value(*it)
        if i == 0:
            location = stack = v
        else:
            stack = cont(stack, struct.pack('<I', v))
    return location, stack


crashed = [
    (0x00401234, 0x00401200, b"QXUdfLib.dll", b"QXUdf", b"fn_Max"),
    (0x7c801000, 0, b"kernel32.dll", b"", b""),
    (0x00402010, 0x00402000, b"Test.EXE", b"", b"Main\xC4\xD6\xDC"),
]
other = [
    (0x00403005, 0x00403000, b"Test.EXE", b"Unit", b"Worker"),
    (0x00404000, 0, b"", b"", b""),
]
loc, stk = thread(crashed)
oloc, ostk = thread(other)
third = cont(stk, struct.pack('<I', ostk))
lines = [
    "// Written by crc_reference.py from Python's zlib; do not edit.",
    "#pragma once",
    "constexpr unsigned kRefCrashedLocation = 0x%08xu;" % loc,
    "constexpr unsigned kRefCrashedStack = 0x%08xu;" % stk,
    "constexpr unsigned kRefOtherStack = 0x%08xu;" % ostk,
    "constexpr unsigned kRefAllThreads = 0x%08xu;" % third,
]
if len(sys.argv) > 1:
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")
else:
    print("\n".join(lines))
