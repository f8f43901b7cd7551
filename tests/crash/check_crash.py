#!/usr/bin/env python3
"""Runs one crash program twice under Wine and checks its report.

The crashed thread's section must list the program's own functions exactly as its .expect
file says, newest first, each with the unit and line that addr2line gives for the shown
address; the main thread's section and the "cpu registers", "stack dump" and
"disassembling" sections must exist (the listing marks the faulting instruction); no
call-stack line shows a relative line below zero; both runs must give the same
"callstack crc", which is never all zeros. With --measure, prints one line of figures
instead of failing: expected, found, wrong frames, for the crashed thread and for the other
threads, the seconds from the start of the program to its end and from the fault to the
report's last write.

Expectation lines: a function of the program's unit; "Name@unit" for a frame shown under
another unit of the program (a header whose code was inlined); "<module>" for a frame in the
module named by --extra-module (a DLL without debug information); ">> created by"; a
trailing " (fp)" marks a frame that only the build with frame pointers must show, " (?)" one
that may be missing in both (a frame left out rather than guessed); "#" starts a comment. "[title]" starts the frames of the first other thread's section
whose title begins with title; the first section is the crashed thread's.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time


def run(exe, report, timeout):
    try:
        os.remove(report)
    except FileNotFoundError:
        pass
    subprocess.run(["wine", exe, report], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=timeout, check=False)
    with open(report, "rb") as f:
        return f.read().decode("latin-1")


def fault_to_report(report, text):
    """Seconds from the fault (the header's date/time, taken when the exception is caught) to
    the last write of the report file; None when the header has no time."""
    header = text.split("\r\n\r\n", 1)[0]
    stamp = header_value(header, "date/time")
    match = re.fullmatch(r"(\d{4}-\d{2}-\d{2}), (\d{2}:\d{2}:\d{2}), (\d+)ms", stamp or "")
    if not match:
        return None
    fault = time.mktime(time.strptime(match.group(1) + " " + match.group(2), "%Y-%m-%d %H:%M:%S"))
    return os.stat(report).st_mtime - (fault + int(match.group(3)) / 1000.0)


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


def read_expectations(path):
    """{section title or None: [frames]}, in file order."""
    sections_ = [(None, [])]
    for raw in open(path):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("[") and line.endswith("]"):
            if sections_[-1][0] is None and not sections_[-1][1]:
                sections_.pop()
            sections_.append((line[1:-1], []))
            continue
        sections_[-1][1].append(line)
    return sections_


def frames_of(lines, module, unit, folder, extra):
    """[(name, (address, line, unit) or None)] of the frames of the program and of the
    extra module, newest first."""
    found = []
    for line in lines:
        if line.startswith(">> created by"):
            found.append((">> created by", None))
            continue
        if extra:
            tokens = [t for t in line.split(" ") if t]
            if len(tokens) > 2 and extra in tokens:
                found.append(("<%s>" % "stripped", None))
                continue
        parsed = parse_line(line, module)
        if parsed is None:
            continue
        address, line_unit, number, function = parsed
        own_header = line_unit != unit and line_unit.endswith(".h") and os.path.exists(
            os.path.join(folder, line_unit))
        if line_unit != unit and not own_header:
            continue
        # A function split by the compiler keeps its name: "Thrower [clone .cold]".
        name = function.split(" [clone")[0].split("(")[0]
        if own_header:
            name += "@" + line_unit
        found.append((name, (address, number, line_unit)))
    return found


def matched(names, expected):
    """The longest common subsequence's length: expected frames found in order."""
    table = [[0] * (len(expected) + 1) for _ in range(len(names) + 1)]
    for i in range(len(names)):
        for j in range(len(expected)):
            table[i + 1][j + 1] = (table[i][j] + 1 if names[i] == expected[j]
                                   else max(table[i][j + 1], table[i + 1][j]))
    return table[len(names)][len(expected)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("debug_copy")
    parser.add_argument("source")
    parser.add_argument("expect")
    parser.add_argument("--addr2line", default="i686-w64-mingw32-addr2line")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--extra-module", default="")
    parser.add_argument("--measure", action="store_true")
    args = parser.parse_args()

    expectations = read_expectations(args.expect)
    with_frame_pointers = not os.path.basename(args.exe).endswith("_nofp.exe")
    module = os.path.basename(args.exe)
    unit = os.path.basename(args.source)
    folder_of_source = os.path.dirname(args.source)
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "report.txt")
        try:
            started = time.monotonic()
            first = run(args.exe, report, args.timeout)
            seconds = time.monotonic() - started
            writing = fault_to_report(report, first)
            second = run(args.exe, report, args.timeout)
        except (OSError, subprocess.TimeoutExpired) as error:
            if args.measure:
                total = sum(len(e) for _, e in expectations)
                print("%s crashed %d 0 0 others 0 0 0 no report" % (module, total))
                return 0
            print("no report:", error)
            return 1

    header, blocks = sections(first)
    # Each expected section against the report's: the first against the crashed thread's.
    figures = {"crashed": [0, 0, 0], "others": [0, 0, 0]}
    for index, (title, expected) in enumerate(expectations):
        if index == 0:
            block = blocks[0] if blocks else ("", [])
        else:
            block = next(((t, l) for t, l in blocks[1:] if t.startswith(title)), (title, None))
            if block[1] is None:
                problems.append("no section for %s" % title)
                block = (title, [])
        found = frames_of(block[1], module, unit, folder_of_source, args.extra_module)
        names = [name for name, _ in found]
        # "Name (fp)": a frame the build without frame pointers may leave out, "Name (?)" one
        # either build may leave out (neither may show a wrong one); both count as expected
        # in the figures.
        optional = [(e.endswith(" (fp)") and not with_frame_pointers) or e.endswith(" (?)")
                    for e in expected]
        expected = [e.rsplit(" (", 1)[0] if e.endswith((" (fp)", " (?)")) else e
                    for e in expected]
        wrong_lines = 0
        for name, detail in found:
            if detail is None:
                continue
            address, number, line_unit = detail
            file_name, line = addr2line(args.addr2line, args.debug_copy, address)
            if file_name != line_unit or line != number:
                wrong_lines += 1
                problems.append("%s at %08x: report says %s:%s, addr2line %s:%s" %
                                (name, address, line_unit, number, file_name, line))
        hit = matched(names, expected)
        kind = "crashed" if index == 0 else "others"
        figures[kind][0] += len(expected)
        figures[kind][1] += hit
        figures[kind][2] += len(names) - hit + wrong_lines
        required = [e for e, skip in zip(expected, optional) if not skip]
        exact = names == expected or (len(names) == hit and matched(names, required) == len(required)
                                      and hit >= len(required))
        if not exact:
            problems.append("%s lists %s, expected %s" % (block[0] or "crashed thread", names,
                                                            expected))
    if args.measure:
        print("%s crashed %d %d %d others %d %d %d %.1fs fault-to-report %s" % (
            (module,) + tuple(figures["crashed"]) + tuple(figures["others"]) + (seconds,) +
            ("%.2fs" % writing if writing is not None else "unknown",)))
        return 0
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
    elif re.fullmatch(r"[0$, ]*", crc1):
        problems.append("callstack crc is all zeros: %s" % crc1)
    if problems:
        print(first)
        print("\n".join(problems))
        return 1
    print("ok", [e for _, e in expectations])
    return 0


if __name__ == "__main__":
    sys.exit(main())
