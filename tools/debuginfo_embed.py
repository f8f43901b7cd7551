#!/usr/bin/env python3
"""Writes a module's debug-information resource ("QEL"/"EXCEPT") from its own symbols and
DWARF line table, and embeds it into the module without moving any code.

The module is linked once with DWARF. This tool
  1. reads its function symbols (nm) and its decoded line table (objdump),
  2. encodes segments (one per run of functions from one source file, unit name = source
     file name), publics (one per function, C++ names demangled and shortened to
     "Class::Method"; a name that occurs more than once in a unit keeps its parameter list
     so that overloads stay apart) and lines (addresses relative to the base of code),
  3. keeps a copy of the linked module with its DWARF (--debug-copy) for tools and tests,
  4. strips symbols and DWARF from the module and appends the resource in a new last
     section, with a resource directory that holds every resource the module had plus the
     new one,
  5. checks that every section that was loaded before still has the same address and the
     same bytes, so every function address is unchanged,
  6. points the delay-import directory at the module's delay-import descriptors, which GNU
     ld places but leaves out of the directory.

It also writes ".qel" side files (--qel-out) and the minimal-debug-information variant
(--minimal): then the embedded resource carries no names, and the identification that the
module's settings must hold as MinDebugInfo is printed.
"""

import argparse
import bisect
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

SIGNATURE = b"QXUdfLibDbgMap"
FLAG_MINIMAL = 1
SCN_CODE = 0x20
RESOURCE_DIR = 2
DELAY_IMPORT_DIR = 13
DELAY_DESCRIPTOR_SIZE = 32
SECTION_NAME = b".qeldbg\0"
SOURCE_EXTENSIONS = (".c", ".cc", ".cpp", ".cxx", ".s", ".S")


# --- PE image ------------------------------------------------------------------------------

class Pe:
    def __init__(self, data):
        self.data = bytearray(data)
        if self.data[:2] != b"MZ":
            raise ValueError("not an MZ image")
        self.pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.nsections, = struct.unpack_from("<H", self.data, self.pe + 6)
        self.opt_size, = struct.unpack_from("<H", self.data, self.pe + 20)
        self.opt = self.pe + 24
        if struct.unpack_from("<H", self.data, self.opt)[0] != 0x10B:
            raise ValueError("not a PE32 image")
        self.image_base, = struct.unpack_from("<I", self.data, self.opt + 28)
        self.section_align, self.file_align = struct.unpack_from("<II", self.data, self.opt + 32)
        self.sections_at = self.opt + self.opt_size
        self.sections = []
        for i in range(self.nsections):
            at = self.sections_at + 40 * i
            name = bytes(self.data[at:at + 8]).rstrip(b"\0").decode("latin-1")
            vsize, rva, raw_size, raw_at = struct.unpack_from("<IIII", self.data, at + 8)
            flags, = struct.unpack_from("<I", self.data, at + 36)
            self.sections.append(dict(name=name, vsize=vsize, rva=rva, raw_size=raw_size,
                                      raw_at=raw_at, flags=flags))

    def code_range(self):
        """Base and top of code relative to the image base, as the map reader takes them."""
        s = self.sections
        if s and s[0]["flags"] & SCN_CODE:
            last = s[1] if len(s) > 1 and s[1]["flags"] & SCN_CODE else s[0]
            return s[0]["rva"], last["rva"] + (last["vsize"] or last["raw_size"])
        base, = struct.unpack_from("<I", self.data, self.opt + 20)
        size, = struct.unpack_from("<I", self.data, self.opt + 4)
        return base, base + size

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.opt + 96 + 8 * index)

    def rva_bytes(self, rva, size):
        for s in self.sections:
            if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["raw_size"]):
                off = rva - s["rva"]
                chunk = bytes(self.data[s["raw_at"] + off:s["raw_at"] + min(off + size, s["raw_size"])])
                return chunk + b"\0" * (size - len(chunk))
        raise ValueError("RVA %#x outside every section" % rva)

    def loaded_sections(self):
        """(name, rva, bytes) of every section with contents that the loader maps."""
        out = []
        for s in self.sections:
            if s["name"].startswith((".debug", "/")):  # DWARF, long names via the string table
                continue
            raw = bytes(self.data[s["raw_at"]:s["raw_at"] + min(s["raw_size"], s["vsize"] or s["raw_size"])])
            out.append((s["name"], s["rva"], raw))
        return out


def align(value, to):
    return (value + to - 1) // to * to


def pe_checksum(data, checksum_at):
    total = 0
    padded = bytes(data) + (b"\0" if len(data) % 2 else b"")
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field itself counts as zero.
    for (word,) in struct.iter_unpack("<H", bytes(data[checksum_at:checksum_at + 4])):
        total -= word
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    total = (total + (total >> 16)) & 0xFFFF
    return total + len(data)


def delay_import_directory(nm, dll, pe):
    """(rva, size) of the delay-import descriptors, or None when the module has none.

    Each delay-import library brings one descriptor (symbol __DELAY_IMPORT_DESCRIPTOR_<lib>,
    section ".text$2"); the linker sorts them into one table, closed by the 32 zero bytes
    of cmake/qx_delay_load.cmake's end marker. The size counts the closing entry."""
    out = subprocess.run([nm, dll], check=True, capture_output=True, text=True).stdout
    rvas = sorted(int(m.group(1), 16) - pe.image_base for m in re.finditer(
        r"^([0-9a-fA-F]+) \S __DELAY_IMPORT_DESCRIPTOR_\S+$", out, re.M))
    if not rvas:
        return None
    first = rvas[0]
    for i, rva in enumerate(rvas):
        if rva != first + DELAY_DESCRIPTOR_SIZE * i:
            raise SystemExit("the delay-import descriptors do not form one table")
    end = first + DELAY_DESCRIPTOR_SIZE * len(rvas)
    if pe.rva_bytes(end, DELAY_DESCRIPTOR_SIZE) != bytes(DELAY_DESCRIPTOR_SIZE):
        raise SystemExit("no end marker after the delay-import descriptors")
    # Each slot starts out pointing to its routine's stub. A routine reached only through
    # its slot (declared dllimport) loses that stub in GNU ld, which leaves the slot 0: the
    # first call would jump there.
    dropped = []
    for rva in rvas:
        _, name_rva, _, iat, names = struct.unpack("<5I", pe.rva_bytes(rva, 20))
        library = pe.rva_bytes(name_rva, 64).split(b"\0")[0].decode("latin-1")
        for i in range(0x10000):
            name_slot, = struct.unpack("<I", pe.rva_bytes(names + 4 * i, 4))
            if name_slot == 0:
                break
            if struct.unpack("<I", pe.rva_bytes(iat + 4 * i, 4))[0] == 0:
                routine = pe.rva_bytes(name_slot + 2, 128).split(b"\0")[0].decode("latin-1")
                dropped.append(library + "!" + routine)
    if dropped:
        raise SystemExit("delay-imported routines without their stub (declare them without "
                         "dllimport): " + ", ".join(dropped))
    return first, end + DELAY_DESCRIPTOR_SIZE - first


# --- resource directory ----------------------------------------------------------------------

def read_resource_tree(pe):
    """Existing resources as {type: {name: {lang: (data_rva, size, codepage)}}}; keys are
    ints (ids) or strs (names)."""
    rva, size = pe.directory(RESOURCE_DIR)
    if rva == 0 or size == 0:
        return {}
    blob = pe.rva_bytes(rva, size)

    def key(word):
        if word & 0x80000000:
            at = word & 0x7FFFFFFF
            n, = struct.unpack_from("<H", blob, at)
            return blob[at + 2:at + 2 + 2 * n].decode("utf-16-le")
        return word

    def entries(at):
        named, ids = struct.unpack_from("<HH", blob, at + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", blob, at + 16 + 8 * i)

    tree = {}
    for tword, toff in entries(0):
        names = tree.setdefault(key(tword), {})
        for nword, noff in entries(toff & 0x7FFFFFFF):
            langs = names.setdefault(key(nword), {})
            for lword, loff in entries(noff & 0x7FFFFFFF):
                langs[lword] = struct.unpack_from("<III", blob, loff)
    return tree


def build_resource_section(tree, new_data, section_rva):
    """A resource directory holding tree plus the leaf data in new_data, laid out for a
    section at section_rva. new_data maps (type, name, lang) to bytes."""
    tree = {t: {n: dict(l) for n, l in names.items()} for t, names in tree.items()}
    for (t, n, lang), data in new_data.items():
        tree.setdefault(t, {}).setdefault(n, {})[lang] = data

    def ordered(d):
        named = sorted((k for k in d if isinstance(k, str)), key=lambda s: s.upper())
        ids = sorted(k for k in d if isinstance(k, int))
        return named + ids

    # Layout: all directories, then data entries, then strings, then new data.
    dirs, leaves, strings = [], [], []

    def plan(node, depth):
        index = len(dirs)
        dirs.append(None)
        children = []
        for k in ordered(node):
            if depth < 2:
                children.append((k, plan(node[k], depth + 1), False))
            else:
                leaves.append(node[k])
                children.append((k, len(leaves) - 1, True))
            if isinstance(k, str) and k not in strings:
                strings.append(k)
        dirs[index] = children
        return index

    plan(tree, 0)
    dir_offsets, at = [], 0
    for children in dirs:
        dir_offsets.append(at)
        at += 16 + 8 * len(children)
    leaf_at = at
    at += 16 * len(leaves)
    string_offsets = {}
    for s in strings:
        string_offsets[s] = at
        at += 2 + 2 * len(s)
    at = align(at, 4)
    data_offsets = {}
    for i, leaf in enumerate(leaves):
        if isinstance(leaf, (bytes, bytearray)):
            data_offsets[i] = at
            at = align(at + len(leaf), 4)

    out = bytearray(at)
    for children, off in zip(dirs, dir_offsets):
        named = sum(1 for k, _, _ in children if isinstance(k, str))
        struct.pack_into("<IIHHHH", out, off, 0, 0, 0, 0, named, len(children) - named)
        for i, (k, target, is_leaf) in enumerate(children):
            word = (0x80000000 | string_offsets[k]) if isinstance(k, str) else k
            target_word = leaf_at + 16 * target if is_leaf else 0x80000000 | dir_offsets[target]
            struct.pack_into("<II", out, off + 16 + 8 * i, word, target_word)
    for i, leaf in enumerate(leaves):
        if isinstance(leaf, (bytes, bytearray)):
            struct.pack_into("<IIII", out, leaf_at + 16 * i, section_rva + data_offsets[i],
                             len(leaf), 0, 0)
            out[data_offsets[i]:data_offsets[i] + len(leaf)] = leaf
        else:
            struct.pack_into("<IIII", out, leaf_at + 16 * i, leaf[0], leaf[1], leaf[2], 0)
    for s, off in string_offsets.items():
        encoded = s.encode("utf-16-le")
        struct.pack_into("<H", out, off, len(s))
        out[off + 2:off + 2 + len(encoded)] = encoded
    return bytes(out)


def append_section(pe, payload, characteristics=0x40000040):
    """Appends payload as a new last section; returns its RVA. Nothing before it moves."""
    table_end = pe.sections_at + 40 * (pe.nsections + 1)
    size_of_headers, = struct.unpack_from("<I", pe.data, pe.opt + 60)
    first_raw = min((s["raw_at"] for s in pe.sections if s["raw_size"]), default=size_of_headers)
    if table_end > min(size_of_headers, first_raw):
        raise ValueError("no room for another section header")
    last = max(pe.sections, key=lambda s: s["rva"])
    rva = align(last["rva"] + max(last["vsize"], last["raw_size"]), pe.section_align)
    raw_at = align(len(pe.data), pe.file_align)
    raw_size = align(len(payload), pe.file_align)
    pe.data.extend(b"\0" * (raw_at - len(pe.data)))
    pe.data.extend(payload + b"\0" * (raw_size - len(payload)))
    header = SECTION_NAME + struct.pack("<IIIIIIHHI", len(payload), rva, raw_size, raw_at,
                                        0, 0, 0, 0, characteristics)
    at = pe.sections_at + 40 * pe.nsections
    pe.data[at:at + 40] = header
    pe.nsections += 1
    struct.pack_into("<H", pe.data, pe.pe + 6, pe.nsections)
    struct.pack_into("<I", pe.data, pe.opt + 56, align(rva + len(payload), pe.section_align))
    init, = struct.unpack_from("<I", pe.data, pe.opt + 8)
    struct.pack_into("<I", pe.data, pe.opt + 8, init + raw_size)
    pe.sections.append(dict(name=SECTION_NAME.rstrip(b"\0").decode(), vsize=len(payload), rva=rva,
                            raw_size=raw_size, raw_at=raw_at, flags=characteristics))
    return rva


# --- symbols and lines ------------------------------------------------------------------------

def run(cmd, stdin=None):
    return subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE, check=True,
                          universal_newlines=True).stdout


def strip_parameters(name):
    """"ns::C::f(int) const" -> "ns::C::f"; template return types are dropped too."""
    clone = re.search(r" \[clone [^\]]*\]$", name)
    if clone:
        return strip_parameters(name[:clone.start()]) + clone.group(0)
    text = re.sub(r"@\d+$", "", name)  # stdcall methods keep their decoration
    for suffix in (" const", " volatile", " &&", " &"):
        while text.endswith(suffix):
            text = text[:-len(suffix)]
    text = re.sub(r"\[abi:[^\]]*\]", "", text)
    if text.endswith(")"):
        depth = 0
        for i in range(len(text) - 1, -1, -1):
            depth += {")": 1, "(": -1}.get(text[i], 0)
            if depth == 0:
                if i > 0:  # "(anonymous namespace)" alone is not a parameter list
                    text = text[:i]
                break
    depth, cut = 0, -1
    for i, c in enumerate(text):
        if c in "<(":
            depth += 1
        elif c in ">)":
            depth -= 1
        elif c == " " and depth == 0 and not text[:i].endswith("operator"):
            cut = i
    return text[cut + 1:] if cut >= 0 else text


def split_symbol(raw):
    """(base symbol, suffix): a split-off part "base@N.cold" gives " [clone .cold]", the
    form the demangler uses for plain C++ names."""
    split = re.match(r"^(.*@\d+)(\.[\w.]+)$", raw)
    return (split.group(1), " [clone %s]" % split.group(2)) if split else (raw, "")


def undecorated(base):
    """The symbol as the demangler knows it: a fastcall function's "@name@N" becomes
    "_name" (a C++ name "@_Z...@N" thus "__Z..."), every other symbol stays."""
    fast = re.match(r"^@(.+)@\d+$", base)
    return "_" + fast.group(1) if fast else base


def collapse_templates(name):
    """Template argument lists emptied ("f<int>" -> "f<>"), the operators "<", "<<", "<="
    and "<=>" left alone."""
    out, depth, i = [], 0, 0
    while i < len(name):
        op = re.match(r"operator(<=>|<<=|<<|<=|<)", name[i:])
        if op and depth == 0:
            out.append(op.group(0))
            i += len(op.group(0))
            continue
        c = name[i]
        if c == "<":
            if depth == 0:
                out.append("<")
            depth += 1
        elif c == ">" and depth > 0:
            depth -= 1
            if depth == 0:
                out.append(">")
        elif depth == 0:
            out.append(c)
        i += 1
    return "".join(out)


def fit_name(name, limit=255):
    """A name that fits a packed text: long template names lose their arguments first."""
    if len(name) > limit:
        name = collapse_templates(name)
    return name[:limit]


def plain_name(raw, demangled):
    """Readable name of a base symbol: demangled, else without one leading underscore (C
    names); the stdcall "@N" goes."""
    if demangled == raw:
        demangled = raw[1:] if raw.startswith("_") else raw
    return re.sub(r"@\d+$", "", demangled)


def read_functions(nm, cxxfilt, dll, code_lo, code_hi, image_base):
    """[(rva, full demangled name)] of every function, one per address."""
    by_address = {}
    for line in run([nm, "--defined-only", "-n", dll]).splitlines():
        parts = line.split(None, 2)
        if len(parts) != 3 or parts[1] not in "Tt":
            continue
        name = parts[2]
        if name.startswith(".text$") and len(name) > 6:
            # A library built with a section per function keeps a static function's name
            # only in its section's ("t .text$execute_native_thread_routine"); without it the
            # function would go under the public symbol before it. The section name lacks
            # the symbol's leading underscore.
            kind, name = "s", "_" + name[6:]
        elif name.startswith("."):
            continue
        else:
            kind = parts[1]
        rva = int(parts[0], 16) - image_base
        if not code_lo <= rva < code_hi:
            continue
        by_address.setdefault(rva, []).append((kind, name))
    raws = sorted({undecorated(split_symbol(raw)[0])
                   for entries in by_address.values() for _, raw in entries})
    demangled = dict(zip(raws, run([cxxfilt], "\n".join(raws) + "\n").splitlines()))
    functions = []
    for rva in sorted(by_address):
        # Prefer a symbol to a section's name, a global symbol to a local one, then a C++
        # one, then the shortest.
        kind, raw = min(by_address[rva], key=lambda e: (e[0] == "s", e[0] != "T", not undecorated(e[1]).startswith("__Z"), len(e[1])))
        base, suffix = split_symbol(raw)
        base = undecorated(base)
        functions.append((rva, plain_name(base, demangled.get(base, base)) + suffix))
    return functions


def read_lines(objdump, dll, code_lo, code_hi, image_base):
    """[(rva, line, file base name)] of the line table in address order. Within one
    sequence the last row at an address counts, and the sequence's end makes its address
    line 0 (no line known) unless another sequence starts there."""
    rows = {}  # rva -> (line, file, sequence, is_end)
    sequence = 0
    for line in run([objdump, "--dwarf=decodedline", dll]).splitlines():
        parts = line.split()
        if len(parts) < 3 or not parts[2].startswith("0x"):
            continue
        rva = int(parts[2], 16) - image_base
        is_end = parts[1] == "-"
        if not is_end and not parts[1].isdigit():
            continue
        if code_lo <= rva < code_hi:
            old = rows.get(rva)
            if is_end:
                if old is None or old[2] == sequence:
                    rows[rva] = (0, "", sequence, True)
            elif old is None or old[2] == sequence or old[3]:
                rows[rva] = (int(parts[1]), parts[0], sequence, False)
        if is_end:
            sequence += 1
    return [(rva, ln, f) for rva, (ln, f, _, _) in sorted(rows.items())]


def with_rows_at_starts(lines, starts, line_addresses):
    """lines with a row added at every start that falls inside a row with a known line."""
    added = []
    present = set(line_addresses)
    for rva in starts:
        if rva in present:
            continue
        k = bisect.bisect_right(line_addresses, rva) - 1
        if k >= 0 and lines[k][1] != 0:
            added.append((rva, lines[k][1], lines[k][2]))
    return sorted(lines + added)


def unit_pieces(lines, line_addresses, begin, end, unit):
    """[(begin, end, file)] of the function's code [begin, end): the runs of rows from one
    file; rows without a line keep the run they are in, and the function's start belongs to
    its unit unless a row of another file starts there."""
    pieces = [[begin, unit]]
    k = bisect.bisect_left(line_addresses, begin)
    while k < len(lines) and lines[k][0] < end:
        rva, number, name = lines[k]
        k += 1
        if not number or not name or name == pieces[-1][1]:
            continue
        if rva == pieces[-1][0]:
            pieces[-1][1] = name
            if len(pieces) > 1 and pieces[-2][1] == name:
                pieces.pop()
        else:
            pieces.append([rva, name])
    bounds = [p[0] for p in pieces[1:]] + [end]
    return [(p[0], b, p[1]) for p, b in zip(pieces, bounds)]


def collect(dll, tools):
    pe = Pe(open(dll, "rb").read())
    code_lo, code_hi = pe.code_range()
    functions = read_functions(tools.nm, tools.cxxfilt, dll, code_lo, code_hi, pe.image_base)
    lines = read_lines(tools.objdump, dll, code_lo, code_hi, pe.image_base)
    line_addresses = [rva for rva, _, _ in lines]

    # The unit of a function is the source file of its first line row from a source file
    # (inlined header code often comes first), else of its first row.
    units = []
    for i, (rva, _) in enumerate(functions):
        end = functions[i + 1][0] if i + 1 < len(functions) else code_hi
        k = bisect.bisect_left(line_addresses, rva)
        files = []
        while k < len(lines) and lines[k][0] < end:
            if lines[k][1]:
                files.append(lines[k][2])
            k += 1
        sources = [f for f in files if os.path.splitext(f)[1].lower() in SOURCE_EXTENSIONS]
        units.append(sources[0] if sources else files[0] if files else "")

    # Code inlined from a header belongs to the header: the rows of another file inside a
    # function make a segment of that file, so that unit and line agree.
    segments = []
    for i, (rva, _) in enumerate(functions):
        end = functions[i + 1][0] if i + 1 < len(functions) else code_hi
        for begin, piece_end, name in unit_pieces(lines, line_addresses, rva, end, units[i]):
            if segments and segments[-1][2] == name and segments[-1][0] + segments[-1][1] == begin:
                segments[-1][1] = piece_end - segments[-1][0]
            else:
                segments.append([begin, piece_end - begin, name])

    short = [strip_parameters(name) for _, name in functions]
    seen = {}
    for unit, s in zip(units, short):
        seen[(unit, s)] = seen.get((unit, s), 0) + 1
    publics = []
    for (rva, full), unit, s in zip(functions, units, short):
        publics.append((fit_name(full if seen[(unit, s)] > 1 else s), rva))

    # A lookup takes no line from before the function it is in, so a function that starts
    # inside a row (a split-off cold part, a thunk) gets a row of that line at its start.
    # Consecutive rows of one line carry nothing new, except at such a start.
    starts = {rva for rva, _ in functions}
    lines = with_rows_at_starts(lines, sorted(starts), line_addresses)
    kept = []
    for rva, ln, _ in lines:
        if not kept or kept[-1][0] != ln or rva in starts:
            kept.append((ln, rva))
    return pe, code_lo, segments, publics, kept, functions


# --- the resource format ----------------------------------------------------------------------

def packed_int(value):
    if -127 <= value <= 127:
        return struct.pack("<b", value)
    return b"\x80" + struct.pack("<i", value)


def packed_text(text):
    data = text.encode("latin-1", "replace")[:255]
    return bytes([len(data)]) + data


def encode_stream(code_lo, segments, publics, lines, minimal, has_lines_rvas=(), entry=None):
    out = bytearray(struct.pack("<I", len(segments)))
    for begin, length, name in segments:
        out += struct.pack("<II", begin - code_lo, length)
        if minimal:
            has = any(begin <= rva < begin + length for rva in has_lines_rvas)
            out += bytes([1 if has else 0])
        else:
            out += packed_text(name)
    out += struct.pack("<I", len(publics))
    previous = 0
    for i, (name, rva) in enumerate(publics):
        if not minimal:
            out += packed_text(name)
        rel = rva - code_lo
        out += struct.pack("<I", rel) if i == 0 else packed_int(rel - previous)
        previous = rel
    out += struct.pack("<I", 0 if minimal else len(lines))
    if not minimal:
        for i, (ln, rva) in enumerate(lines):
            rel = rva - code_lo
            if i == 0:
                out += struct.pack("<II", ln, rel)
            else:
                out += packed_int(ln - lines[i - 1][0]) + packed_int(rel - (lines[i - 1][1] - code_lo))
    if entry is not None:
        out += struct.pack("<I", entry - code_lo)
    return bytes(out)


def cipher(payload):
    key = (len(payload) * 2654435761 + 0x51454C) & 0xFFFFFFFF
    out = bytearray(payload)
    for i in range(len(out)):
        key = (key * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] ^= key >> 24
    return bytes(out)


def pack_block(data):
    z = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    packed = z.compress(data) + z.flush()
    return struct.pack("<III", len(data), 0, zlib.crc32(data) & 0xFFFFFFFF) + packed


def resource(stream, minimal, id1, id2):
    payload = cipher(pack_block(stream))
    return (SIGNATURE + struct.pack("<IIIII", len(payload), 3, id1, id2,
                                    FLAG_MINIMAL if minimal else 0) + payload)


def settings_stream(min_debug_info):
    """The smallest settings property stream: the reporter enabled, MinDebugInfo set."""
    ident = min_debug_info.encode("ascii")
    return (b"TPF0\x0aTQelExcept\x09qelExcept" + b"\x07Enabled\x09" +
            b"\x0cMinDebugInfo\x06" + bytes([len(ident)]) + ident + b"\0")


def identification(total, id1, id2):
    return "$%08x, $%08x, $%08x" % (total, id1, id2)


# --- main -------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dll", help="linked module with DWARF; rewritten in place unless --no-embed")
    ap.add_argument("--triple", default="i686-w64-mingw32")
    ap.add_argument("--debug-copy", help="where to keep the module with its DWARF")
    ap.add_argument("--resource-out", help="also write the resource bytes here")
    ap.add_argument("--qel-out", help="write a full .qel side file here")
    ap.add_argument("--minimal", action="store_true", help="embed the minimal variant")
    ap.add_argument("--add-settings", action="store_true",
                    help="with --minimal, also embed a settings stream holding MinDebugInfo, "
                         "replacing the module's own (for test copies)")
    ap.add_argument("--no-embed", action="store_true")
    args = ap.parse_args()

    class Tools:
        nm = args.triple + "-nm"
        objdump = args.triple + "-objdump"
        cxxfilt = args.triple + "-c++filt"
        strip = args.triple + "-strip"

    pe, code_lo, segments, publics, lines, _ = collect(args.dll, Tools)
    entry, = struct.unpack_from("<I", pe.data, pe.opt + 16)
    entry = entry if entry else None
    full = encode_stream(code_lo, segments, publics, lines, False, entry=entry)
    stamp = struct.unpack_from("<I", pe.data, pe.pe + 8)[0]
    id1, id2 = stamp, zlib.crc32(full) & 0xFFFFFFFF
    full_resource = resource(full, False, id1, id2)
    if args.qel_out:
        open(args.qel_out, "wb").write(full_resource)
    new_resources = {}
    if args.minimal:
        line_rvas = sorted(rva for _, rva in lines)
        embedded = resource(encode_stream(code_lo, segments, publics, lines, True, line_rvas, entry),
                            True, id1, id2)
        ident = identification(len(full_resource), id1, id2)
        print("MinDebugInfo = " + ident)
        if args.add_settings:
            new_resources[(10, "TQELEXCEPT", 0)] = settings_stream(ident)
    else:
        embedded = full_resource
    if args.resource_out:
        open(args.resource_out, "wb").write(embedded)
    print("%s: %d segments, %d publics, %d lines, resource %d bytes" % (
        os.path.basename(args.dll), len(segments), len(publics), len(lines), len(embedded)))
    if args.no_embed:
        return 0

    if args.debug_copy:
        shutil.copyfile(args.dll, args.debug_copy)
    linked = Pe(open(args.dll, "rb").read())
    before = linked.loaded_sections()
    delay_imports = delay_import_directory(Tools.nm, args.dll, linked)
    stripped = args.dll + ".stripped"
    subprocess.run([Tools.strip, "--strip-all", "-o", stripped, args.dll], check=True)
    pe = Pe(open(stripped, "rb").read())
    os.remove(stripped)
    tree = read_resource_tree(pe)
    for rtype, name, _ in new_resources:  # what is added replaces every language of it
        tree.get(rtype, {}).pop(name, None)
    last = max(pe.sections, key=lambda s: s["rva"])
    rva = align(last["rva"] + max(last["vsize"], last["raw_size"]), pe.section_align)
    new_resources[("QEL", "EXCEPT", 0)] = embedded
    section = build_resource_section(tree, new_resources, rva)
    if append_section(pe, section) != rva:
        raise SystemExit("resource section landed elsewhere than planned")
    struct.pack_into("<II", pe.data, pe.opt + 96 + 8 * RESOURCE_DIR, rva, len(section))
    if delay_imports:
        struct.pack_into("<II", pe.data, pe.opt + 96 + 8 * DELAY_IMPORT_DIR, *delay_imports)
    struct.pack_into("<I", pe.data, pe.opt + 64, 0)
    struct.pack_into("<I", pe.data, pe.opt + 64, pe_checksum(pe.data, pe.opt + 64))

    after = {(name, rva): raw for name, rva, raw in Pe(bytes(pe.data)).loaded_sections()}
    for name, rva, raw in before:
        if after.get((name, rva)) != raw:
            raise SystemExit("section %s moved or changed while embedding" % name)
    with open(args.dll, "wb") as f:
        f.write(pe.data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
