#!/usr/bin/env python3
"""Tests of the debug-information writer's naming and resource-directory rules."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import debuginfo_embed as embed  # noqa: E402


class Names(unittest.TestCase):
    def test_parameter_lists_qualifiers_and_return_types_go(self):
        cases = {
            "qx::FormatDouble(double, char)": "qx::FormatDouble",
            "qx::Blob::Read(int) const": "qx::Blob::Read",
            "std::vector<int, std::allocator<int> >::push_back(int&&)":
                "std::vector<int, std::allocator<int> >::push_back",
            "void qx::Apply<int>(int (*)(int), int)": "qx::Apply<int>",
            "(anonymous namespace)::NameEquals(std::basic_string_view<char>)":
                "(anonymous namespace)::NameEquals",
            "qx::Text::operator<<(int)": "qx::Text::operator<<",
            "qx::ToServerString() [clone .cold]": "qx::ToServerString [clone .cold]",
            "fn_setbit": "fn_setbit",
            "qx::TIKVSettings::ReadText[abi:cxx11](char const*)@8": "qx::TIKVSettings::ReadText",
        }
        for full, short in cases.items():
            self.assertEqual(embed.strip_parameters(full), short, full)

    def test_long_names_lose_template_arguments_first(self):
        long_name = "std::__move_merge<" + "x" * 300 + ", std::less<int> > [clone .isra.0]"
        self.assertEqual(embed.fit_name(long_name), "std::__move_merge<> [clone .isra.0]")
        self.assertEqual(embed.collapse_templates("qx::T<a<b>>::operator<<"), "qx::T<>::operator<<")
        self.assertEqual(len(embed.fit_name("n" * 300)), 255)
        self.assertEqual(embed.fit_name("f<int>"), "f<int>")

    def test_c_symbols_lose_underscore_and_stdcall_suffix(self):
        self.assertEqual(embed.plain_name("_qelTraceProcess@4", "_qelTraceProcess@4"),
                         "qelTraceProcess")
        self.assertEqual(embed.plain_name("__ZN2qx1fEv", "qx::f()"), "qx::f()")
        self.assertEqual(embed.plain_name("__ZN2qx1gEv@4", "qx::g()@4"), "qx::g()")
        # c++filt leaves stdcall split-off parts mangled: their base is demangled alone
        self.assertEqual(embed.split_symbol("__ZN2qx1gEv@4.cold"), ("__ZN2qx1gEv@4", " [clone .cold]"))
        self.assertEqual(embed.split_symbol("_f.cold"), ("_f.cold", ""))


class Encoding(unittest.TestCase):
    def test_packed_integers(self):
        self.assertEqual(embed.packed_int(127), b"\x7f")
        self.assertEqual(embed.packed_int(-127), b"\x81")
        self.assertEqual(embed.packed_int(256), b"\x80\x00\x01\x00\x00")
        self.assertEqual(embed.packed_int(-128), b"\x80" + struct.pack("<i", -128))

    def test_cipher_is_its_own_inverse_and_keyed_by_size(self):
        data = bytes(range(200))
        self.assertEqual(embed.cipher(embed.cipher(data)), data)
        self.assertNotEqual(embed.cipher(data)[:10], embed.cipher(data + b"x")[:10])

    def test_stream_layout(self):
        stream = embed.encode_stream(0x1000, [(0x1000, 0x20, "a.cpp")], [("f", 0x1000), ("g", 0x1010)],
                                     [(7, 0x1000), (9, 0x1004)], False)
        self.assertEqual(stream,
                         struct.pack("<I", 1) + struct.pack("<II", 0, 0x20) + b"\x05a.cpp" +
                         struct.pack("<I", 2) + b"\x01f" + struct.pack("<I", 0) + b"\x01g\x10" +
                         struct.pack("<I", 2) + struct.pack("<II", 7, 0) + b"\x02\x04")


class LineRows(unittest.TestCase):
    def test_a_function_starting_inside_a_row_gets_that_line(self):
        lines = [(0x100, 10, "a.cpp"), (0x110, 11, "a.cpp"), (0x130, 0, "")]
        addresses = [rva for rva, _, _ in lines]
        # 0x118 starts inside line 11's row, 0x110 already has a row, 0x140 lies after the
        # end of the sequence and gets nothing.
        got = embed.with_rows_at_starts(lines, [0x110, 0x118, 0x140], addresses)
        self.assertEqual(got, [(0x100, 10, "a.cpp"), (0x110, 11, "a.cpp"),
                               (0x118, 11, "a.cpp"), (0x130, 0, "")])


class ResourceDirectory(unittest.TestCase):
    def test_existing_entries_are_kept_and_named_entries_sorted(self):
        existing = {10: {"TQELEXCEPT": {0x409: (0x5000, 4, 0)}}, "ZED": {1: {0: (0x6000, 2, 0)}}}
        rva = 0x9000
        section = embed.build_resource_section(existing, {("QEL", "EXCEPT", 0): b"payload"}, rva)

        class FakePe:
            def directory(self, index):
                return rva, len(section)

            def rva_bytes(self, at, size):
                return section[at - rva:at - rva + size]

        tree = embed.read_resource_tree(FakePe())
        self.assertEqual(tree[10]["TQELEXCEPT"][0x409], (0x5000, 4, 0))
        self.assertEqual(tree["ZED"][1][0], (0x6000, 2, 0))
        data_rva, size, _ = tree["QEL"]["EXCEPT"][0]
        self.assertEqual(section[data_rva - rva:data_rva - rva + size], b"payload")
        named = [k for k in tree if isinstance(k, str)]
        self.assertEqual(named, sorted(named))


if __name__ == "__main__":
    unittest.main()
