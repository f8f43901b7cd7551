#!/usr/bin/env python3
"""Checks QXUdfLib.dll's export and import tables as objdump reads them.

Exports: exactly the fourteen names with their ordinals, undecorated.
Imports: Windows system DLLs and ib_util.dll only (no mingw runtime DLLs); the libraries
only the reporter's windows, dialogs, version and module lists and the sending of
reports need are delay imports
(the delay-import directory is filled), never imported at load.

With --functions, the tables of a module without the reporter (the 64-bit QXUdfLib.dll):
the thirteen SQL functions alone (no qelTraceProcess), ordinals 1 to 13 in the same order.

With --udr, QXUdr.dll's tables: the one export firebird_udr_plugin, and system DLLs only
(the engine hands the module everything else through interfaces).

The image must be a 32-bit x86 one, or with --x86-64 a PE32+ image for x86-64.
"""
import re
import subprocess
import sys

EXPECTED_EXPORTS = {
    1: "qelTraceProcess", 2: "fn_GetBlobValue", 3: "fn_TrimRTF", 4: "fn_BoolStringToInt",
    5: "fn_strReplace", 6: "fn_formatDouble", 7: "fn_factbedragbetaald", 8: "fn_maxvalue",
    9: "fn_minvalue", 10: "fn_inttocnk", 11: "fn_incday", 12: "fn_clearbit",
    13: "fn_checkbit", 14: "fn_setbit",
}

FUNCTION_EXPORTS = {ordinal - 1: name for ordinal, name in EXPECTED_EXPORTS.items()
                    if name != "qelTraceProcess"}

UDR_EXPORTS = {1: "firebird_udr_plugin"}

DELAY_LOADED = {"comctl32.dll", "comdlg32.dll", "psapi.dll", "shell32.dll", "version.dll",
                "ws2_32.dll", "secur32.dll", "crypt32.dll"}

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "comdlg32.dll", "comctl32.dll", "ws2_32.dll", "wsock32.dll",
    "wininet.dll", "iphlpapi.dll", "mapi32.dll", "version.dll", "psapi.dll", "ntdll.dll",
    "shlwapi.dll", "winspool.drv", "imagehlp.dll", "dbghelp.dll", "msimg32.dll",
    "crypt32.dll", "secur32.dll", "setupapi.dll", "cfgmgr32.dll", "icmp.dll", "dnsapi.dll",
    "riched32.dll", "riched20.dll", "winmm.dll", "userenv.dll", "netapi32.dll",
}


def main():
    objdump, dll = sys.argv[1], sys.argv[2]
    options = sys.argv[3:]
    udr = "--udr" in options
    functions_only = "--functions" in options
    expected_exports = (UDR_EXPORTS if udr else
                        FUNCTION_EXPORTS if functions_only else EXPECTED_EXPORTS)
    host_dlls = set() if udr else {"ib_util.dll"}
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    failures = []

    image = re.search(r"file format (\S+)", text)
    expected_image = "pei-x86-64" if "--x86-64" in options else "pei-i386"
    if not image or image.group(1) != expected_image:
        failures.append(f"image is {image.group(1) if image else 'unknown'}, not {expected_image}")

    base = re.search(r"Ordinal Base\s+(\d+)", text)
    if not base or base.group(1) != "1":
        failures.append(f"ordinal base is {base.group(1) if base else 'missing'}, not 1")

    # "[   0] +base[   1] 14b0 Export RVA" gives the ordinals; the name table lists
    # "[   3] fn_BoolStringToInt" with the index into the address table.
    section = text.split("[Ordinal/Name Pointer] Table", 1)
    names = {}
    if len(section) == 2:
        for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+(\S+)\s*$", section[1], re.M):
            names[int(m.group(1)) + 1] = m.group(2)
    else:
        failures.append("no export name table")
    if names != expected_exports:
        failures.append(f"exports differ: got {sorted(names.items())}")
    for name in names.values():
        if "@" in name or name.startswith("_"):
            failures.append(f"decorated export {name}")

    imports = {m.group(1).lower() for m in re.finditer(r"DLL Name:\s*(\S+)", text)}
    if not host_dlls <= imports:
        failures.append("ib_util.dll is not imported")
    for dll_name in sorted(imports - SYSTEM_DLLS - host_dlls):
        failures.append(f"imports a DLL that is neither a system DLL nor {host_dlls or 'none'}: {dll_name}")
    ib_util = text.split("DLL Name: ib_util.dll", 1)
    if len(ib_util) == 2:
        block = ib_util[1].split("DLL Name:", 1)[0]
        members = [m for m in re.findall(r"^\s*[0-9a-f]+\s+\d+\s+(\S+)", block, re.M) if not re.fullmatch(r"[0-9a-f]+", m)]
        if members != ["ib_util_malloc"]:
            failures.append(f"ib_util.dll imports {members}, expected only ib_util_malloc")

    # The 64-bit module has no reporter, hence no delay imports.
    # The module without the reporter imports none of them, so it has nothing to delay.
    if not udr and not functions_only:
        for dll_name in sorted(imports & DELAY_LOADED):
            failures.append(f"{dll_name} is imported at load; it is to be delay-loaded")
        delay = re.search(r"^Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+) Delay Import Directory", text, re.M)
        if not delay or int(delay.group(1), 16) == 0 or int(delay.group(2), 16) == 0:
            failures.append("the delay-import directory is empty")
        else:
            # One 32-byte descriptor per library and the closing one.
            count = int(delay.group(2), 16) // 32 - 1
            if count != len(DELAY_LOADED):
                failures.append(f"{count} delay-import descriptors, expected {len(DELAY_LOADED)}")

    for f in failures:
        print("FAIL:", f)
    print(f"{len(imports)} imported DLLs: {', '.join(sorted(imports))}")
    print(f"{len(names)} exports checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
