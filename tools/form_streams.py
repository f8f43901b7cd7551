#!/usr/bin/env python3
"""Turns the readable sources of the assistant forms into the binary component streams the
module carries as RCDATA resources.

A source lists one object per `object Name: Class` ... `end` block, properties as
`Name = value` lines inside it, child objects nested; `#` starts a comment line. Values:
'quoted text' (a doubled quote stands for one), True or False, a decimal integer, or an
identifier. The stream is "TPF0", then each object as its class name and object name
(length-prefixed), its properties (length-prefixed name, one type byte, the value), a 0
byte, its children, and a 0 byte.

usage: form_streams.py SOURCE OUTPUT
"""
import re
import struct
import sys

INT8, INT16, INT32, STRING, IDENT, FALSE, TRUE, LSTRING = 2, 3, 4, 6, 7, 8, 9, 12


class SourceError(Exception):
    pass


def short_text(text):
    data = text.encode('cp1252')
    if len(data) > 255:
        raise SourceError('name longer than 255 bytes: %r' % text)
    return bytes([len(data)]) + data


def value_bytes(value):
    if value.startswith("'"):
        if len(value) < 2 or not value.endswith("'"):
            raise SourceError('unterminated text: %s' % value)
        data = value[1:-1].replace("''", "'").encode('cp1252')
        if len(data) <= 255:
            return bytes([STRING, len(data)]) + data
        return bytes([LSTRING]) + struct.pack('<I', len(data)) + data
    if value in ('True', 'False'):
        return bytes([TRUE if value == 'True' else FALSE])
    if re.fullmatch(r'-?\d+', value):
        number = int(value)
        if -128 <= number <= 127:
            return bytes([INT8]) + struct.pack('<b', number)
        if -32768 <= number <= 32767:
            return bytes([INT16]) + struct.pack('<h', number)
        return bytes([INT32]) + struct.pack('<i', number)
    if re.fullmatch(r'[A-Za-z_][A-Za-z0-9_.]*', value):
        return bytes([IDENT]) + short_text(value)[0:1] + value.encode('ascii')
    raise SourceError('value not understood: %s' % value)


def parse(lines):
    """The source as nested (class, name, [(property, value)], [children])."""
    stack, roots = [], []
    for number, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line or line.startswith('#'):
            continue
        try:
            match = re.fullmatch(r'object\s+(\w+)\s*:\s*(\w+)', line)
            if match:
                node = (match.group(2), match.group(1), [], [])
                (stack[-1][3] if stack else roots).append(node)
                stack.append(node)
            elif line == 'end':
                if not stack:
                    raise SourceError('"end" without object')
                stack.pop()
            else:
                match = re.fullmatch(r'(\w+)\s*=\s*(.+)', line)
                if not match or not stack:
                    raise SourceError('line not understood')
                value_bytes(match.group(2))  # checked here, so the error names the line
                stack[-1][2].append((match.group(1), match.group(2)))
        except SourceError as error:
            raise SourceError('line %d: %s' % (number, error))
    if stack:
        raise SourceError('object %s has no "end"' % stack[-1][1])
    if len(roots) != 1:
        raise SourceError('a form source holds exactly one top object, not %d' % len(roots))
    return roots[0]


def object_bytes(node):
    class_name, name, properties, children = node
    out = bytearray(short_text(class_name) + short_text(name))
    for prop, value in properties:
        out += short_text(prop) + value_bytes(value)
    out.append(0)
    for child in children:
        out += object_bytes(child)
    out.append(0)
    return bytes(out)


def stream(text):
    return b'TPF0' + object_bytes(parse(text.splitlines()))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    try:
        with open(sys.argv[1], encoding='utf-8') as source:
            data = stream(source.read())
    except SourceError as error:
        sys.exit('%s: %s' % (sys.argv[1], error))
    with open(sys.argv[2], 'wb') as output:
        output.write(data)


if __name__ == '__main__':
    main()
