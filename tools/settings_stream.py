#!/usr/bin/env python3
"""Writes the reporter's settings stream ("TPF0" property stream) from a listing of
Name = value lines. Values: true/false, decimal integers, or double-quoted texts.

Each value is written with the smallest value type that holds it: integers as 8-, 16- or
32-bit (types 2, 3, 4), Booleans as types 8/9, texts in the Windows-1252 code page as
type 6 (up to 255 bytes) or 12, and texts outside that code page as UTF-8 (type 20).
SmtpPassword and HttpPassword are scrambled with the account and server of the listing.

usage: settings_stream.py LISTING OUTPUT
"""
import re
import struct
import sys

HEADER = b"TPF0" + bytes([10]) + b"TQelExcept" + bytes([9]) + b"qelExcept"
PASSWORDS = {"SmtpPassword": ("SmtpAccount", "SmtpServer"),
             "HttpPassword": ("HttpAccount", "HttpServer")}


class ListingError(Exception):
    pass


def scramble_password(password: bytes, account: bytes, server: bytes) -> str:
    """The stored form of a password; the settings store reverses it."""
    h = 2166136261
    for c in account + b"\0" + server:
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
    state = h or 0x9E3779B9
    previous = 0x5A
    out = []
    for c in password:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        key = ((state >> 11) ^ previous) & 0xFF
        scrambled = c ^ key
        out.append("%02x" % scrambled)
        previous = scrambled
    return "".join(out)


def parse_text(literal: str, line_no: int) -> str:
    if len(literal) < 2 or not literal.startswith('"') or not literal.endswith('"'):
        raise ListingError(f"line {line_no}: text must be in double quotes")
    body, out, i = literal[1:-1], [], 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            if i + 1 >= len(body) or body[i + 1] not in '"\\':
                raise ListingError(f"line {line_no}: only \\\" and \\\\ may follow a backslash")
            out.append(body[i + 1])
            i += 2
        elif c == '"':
            raise ListingError(f"line {line_no}: unescaped double quote inside a text")
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_listing(text: str):
    properties, seen = [], set()
    for line_no, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        m = re.fullmatch(r"([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(.*)", line)
        if not m:
            raise ListingError(f"line {line_no}: expected Name = value")
        name, value = m.group(1), m.group(2).strip()
        if len(name) > 255:
            raise ListingError(f"line {line_no}: name longer than 255 bytes")
        if name in seen:
            raise ListingError(f"line {line_no}: {name} is listed twice")
        seen.add(name)
        if value in ("true", "false"):
            properties.append((name, value == "true"))
        elif re.fullmatch(r"-?[0-9]+", value):
            number = int(value)
            if not -2**31 <= number < 2**32:
                raise ListingError(f"line {line_no}: {number} does not fit in 32 bits")
            if number >= 2**31:
                number -= 2**32  # unsigned properties are stored as their 32-bit pattern
            properties.append((name, number))
        else:
            properties.append((name, parse_text(value, line_no)))
    return properties


def encode_value(value) -> bytes:
    if isinstance(value, bool):
        return bytes([9 if value else 8])
    if isinstance(value, int):
        if -128 <= value <= 127:
            return bytes([2]) + struct.pack("<b", value)
        if -32768 <= value <= 32767:
            return bytes([3]) + struct.pack("<h", value)
        return bytes([4]) + struct.pack("<i", value)
    try:
        data = value.encode("cp1252")
    except UnicodeEncodeError:
        data = value.encode("utf-8")
        return bytes([20]) + struct.pack("<I", len(data)) + data
    if len(data) <= 255:
        return bytes([6, len(data)]) + data
    return bytes([12]) + struct.pack("<I", len(data)) + data


def build_stream(properties) -> bytes:
    values = dict(properties)
    out = bytearray(HEADER)
    for name, value in properties:
        if name in PASSWORDS and isinstance(value, str) and value:
            account, server = (values.get(n, "") for n in PASSWORDS[name])
            value = scramble_password(value.encode("cp1252"), str(account).encode("cp1252"),
                                      str(server).encode("cp1252"))
        encoded_name = name.encode("ascii")
        out += bytes([len(encoded_name)]) + encoded_name + encode_value(value)
    out.append(0)
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            stream = build_stream(parse_listing(f.read()))
    except (OSError, ListingError) as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(stream)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
