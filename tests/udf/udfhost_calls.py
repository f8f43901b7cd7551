#!/usr/bin/env python3
"""Runs udfhost.exe, the server stand-in, over calls of every SQL function and checks its
exact output and exit code.

    udfhost_calls.py EMULATOR BIN_DIR [--x86-64]

With --x86-64 the module is the 64-bit one, which has no qelTraceProcess: asking for it is
an error line and exit code 1, and the other calls still answer.
"""
import subprocess
import sys

CALLS = [
    ("fn_setbit(5, 2)", "7"),
    ("fn_clearbit(7, 2)", "5"),
    ("fn_checkbit(5, 6)", "1"),
    ("fn_minvalue(3, -1)", "-1"),
    ("fn_maxvalue(-5, -7)", "-5"),
    ("fn_incday(100.25, -101)", "-0.75"),
    ("fn_factbedragbetaald(1500, 'Y')", "1500"),
    ("fn_factbedragbetaald(1500, 'y')", "0"),
    ("fn_BoolStringToInt('YNY')", "5"),
    ("fn_inttocnk(-42)", "'-0000042'"),
    ("fn_formatDouble(0.1)", "'0.1'"),
    ("fn_strReplace('banana','ana','x')", "'bxna'"),
    ("fn_strReplace(null, 'a', 'b')", "''"),
    ("fn_GetBlobValue(blob:'a=1\\r\\nB=2\\r\\na=3', 'b')", "'2'"),
    ("fn_GetBlobValue(blob:null, 'b')", "''"),
    ("fn_TrimRTF(blob:'{\\\\rtf1 Hello}')", "blob:'{\\\\rtf1 Hello}'"),
    ("fn_TrimRTF(blob:'{\\\\rtf1\\\\pard\\\\tab\\\\par}')", "blob:''"),
]


def main():
    emulator, bin_dir = sys.argv[1], sys.argv[2]
    x86_64 = "--x86-64" in sys.argv[3:]
    # Segments of three bytes: the blobs arrive in many reads, assembled in order.
    args = ["--segment", "3"] + [call for call, _ in CALLS]
    expected = [f"{call} = {result}" for call, result in CALLS]
    if x86_64:
        args.append("qelTraceProcess(0)")
        expected.append("qelTraceProcess(0) -> error: qelTraceProcess: this module does not export it")
    expected.append("server blocks still allocated: 0")
    run = subprocess.run([emulator, "udfhost.exe"] + args, cwd=bin_dir, capture_output=True,
                         text=True, timeout=240)
    lines = run.stdout.replace("\r", "").splitlines()
    failures = []
    for i, want in enumerate(expected):
        got = lines[i] if i < len(lines) else "<missing>"
        if got != want:
            failures.append(f"line {i + 1}: got {got!r}, expected {want!r}")
    if len(lines) > len(expected):
        failures.append(f"extra lines: {lines[len(expected):]}")
    want_code = 1 if x86_64 else 0
    if run.returncode != want_code:
        failures.append(f"exit code {run.returncode}, expected {want_code}; stderr: {run.stderr}")
    for f in failures:
        print("FAIL:", f)
    print(f"{len(expected)} lines checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
