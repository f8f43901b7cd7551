#!/usr/bin/env python3
"""Runs one crash program twice under Wine and checks its report.

The crashed thread's section must list the program's own functions exactly as its .expect
file says, newest first, each with the unit and line that addr2line gives for the shown
address; the main thread's section and the "cpu registers", "stack dump" and
"disassembling" sections must exist (the listing marks the faulting instruction); no
call-stack line shows a relative line below zero; both runs must give the same
"callstack crc". With --measure, prints one line of figures
instead of failing: expected, found, wrong frames.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


def run(exe, report, timeout):
    try:
        os.remove(report)
    except FileNotFoundError:
        pass
    subprocess.run(["wine", exe, report], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=timeout, check=False)
    with open(report, "rb") as f:
        return f.read().decode("latin-1")


def sections(report):
    blocks = report.split("\r\n\r\n")
    header = blocks[0]
    result = []
    for block in blocks[1:]:
        lines = block.split("\r\n")
        result.append((lines[0], lines[1:]))
    return header, result


def header_value(header, name):
    for line in header.split("\r\n"):
        if line.startswith(name + " ") or line.startswith(name + ":"):
            return line.split(": ", 1)[1]
    return None


def parse_line(line, module):
    tokens = line.split(" ")
    tokens = [t for t in tokens if t != ""]
    if module not in tokens:
        return None
    at = tokens.index(module)
    unit = tokens[at + 1] if at + 1 < len(tokens) else ""
    rest = tokens[at + 2:]
    number = None
    if rest and rest[0].isdigit():
        number = int(rest[0])
        rest = rest[1:]
    if rest and re.fullmatch(r"\+?-?\d+", rest[0]):
        rest = rest[1:]
    return int(tokens[0], 16), unit, number, " ".join(rest)


def addr2line(tool, debug_copy, address):
    out = subprocess.run([tool, "-e", debug_copy, "%x" % address], capture_output=True,
                         text=True, check=False).stdout.strip()
    path, _, line = out.rpartition(":")
    line = line.split(" ")[0]
    return os.path.basename(path), int(line) if line.isdigit() else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("debug_copy")
    parser.add_argument("source")
    parser.add_argument("expect")
    parser.add_argument("--addr2line", default="i686-w64-mingw32-addr2line")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--measure", action="store_true")
    args = parser.parse_args()

    expected = [l.strip() for l in open(args.expect) if l.strip()]
    module = os.path.basename(args.exe)
    unit = os.path.basename(args.source)
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "report.txt")
        try:
            first = run(args.exe, report, args.timeout)
            second = run(args.exe, report, args.timeout)
        except (OSError, subprocess.TimeoutExpired) as error:
            if args.measure:
                print("%s 0 %d 0 0 no report" % (module, len(expected)))
                return 0
            print("no report:", error)
            return 1

    header, blocks = sections(first)
    crashed_title, crashed = blocks[0] if blocks else ("", [])
    found = []
    for line in crashed:
        if line.startswith(">> created by"):
            found.append((">> created by", None))
            continue
        parsed = parse_line(line, module)
        if parsed is None or parsed[1] != unit:
            continue
        address, line_unit, number, function = parsed
        # A function split by the compiler keeps its name: "Thrower [clone .cold]".
        found.append((function.split(" [clone")[0].split("(")[0], (address, number)))
    names = [name for name, _ in found]
    wrong_lines = 0
    for name, detail in found:
        if detail is None:
            continue
        address, number = detail
        file_name, line = addr2line(args.addr2line, args.debug_copy, address)
        if file_name != unit or line != number:
            wrong_lines += 1
            problems.append("%s at %08x: report says %s:%s, addr2line %s:%s" %
                            (name, address, unit, number, file_name, line))
    if args.measure:
        # Frames in order: the longest common prefix counts as found, the rest as wrong.
        hit = 0
        while hit < min(len(names), len(expected)) and names[hit] == expected[hit]:
            hit += 1
        wrong = len(names) - hit + wrong_lines
        print("%s %d %d %d" % (module, len(expected), hit, wrong))
        return 0
    if names != expected:
        problems.append("crashed thread lists %s, expected %s" % (names, expected))
    titles = [title for title, _ in blocks]
    if not any(t.startswith("main thread (") for t in titles):
        problems.append("no main thread section")
    for name in ("cpu registers:", "stack dump:", "disassembling:"):
        if name not in titles:
            problems.append("no %s section" % name)
    # A relative line is never below zero: a line before its function's first line (code
    # inlined from a routine above it) is shown without one.
    other = ("cpu registers:", "stack dump:", "disassembling:")
    negative = [l for title, lines in blocks if title not in other for l in lines
                if re.match(r"^[0-9a-f]{8} ", l) and re.search(r" \+-\d", l)]
    if negative:
        problems.append("call-stack lines with a relative line below zero: %s" % negative)
    listing = dict(blocks).get("disassembling:", [])
    if not any(re.match(r"^[0-9a-f]{8} +\S* *>", l) for l in listing):
        problems.append("the listing marks no instruction")
    crc1 = header_value(header, "callstack crc")
    crc2 = header_value(sections(second)[0], "callstack crc")
    if crc1 is None or len(crc1) != 31 or crc1 != crc2:
        problems.append("callstack crc differs between runs: %s / %s" % (crc1, crc2))
    if problems:
        print(first)
        print("\n".join(problems))
        return 1
    print("ok", names)
    return 0


if __name__ == "__main__":
    sys.exit(main())
