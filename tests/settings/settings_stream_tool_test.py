#!/usr/bin/env python3
"""Tests of the settings stream generator: value types, texts, listing errors."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import settings_stream as tool  # noqa: E402

HEADER = b"TPF0\x0aTQelExcept\x09qelExcept"


class StreamTest(unittest.TestCase):
    def stream(self, listing):
        return tool.build_stream(tool.parse_listing(listing))

    def test_smallest_value_types(self):
        data = self.stream("A = 127\nB = -129\nC = 60000\nD = 4294967295\nE = true\nF = false\n")
        self.assertTrue(data.startswith(HEADER))
        body = data[len(HEADER):]
        # 4294967295 is stored as its 32-bit pattern, -1, which fits in one byte.
        expected = (b"\x01A\x02\x7f" + b"\x01B\x03" + struct.pack("<h", -129) +
                    b"\x01C\x04" + struct.pack("<i", 60000) + b"\x01D\x02\xff" +
                    b"\x01E\x09" + b"\x01F\x08" + b"\x00")
        self.assertEqual(body, expected)

    def test_texts(self):
        data = self.stream('S = "a \\"b\\" \\\\"\nL = "%s"\nW = "\u263a"\nE = ""\n' % ("x" * 300))
        body = data[len(HEADER):]
        self.assertTrue(body.startswith(b'\x01S\x06\x07a "b" \\'))
        self.assertIn(b"\x01L\x0c" + struct.pack("<I", 300) + b"x" * 300, body)
        self.assertIn(b"\x01W\x14\x03\x00\x00\x00\xe2\x98\xba", body)
        self.assertTrue(body.endswith(b"\x01E\x06\x00\x00"))

    def test_passwords_are_scrambled_with_account_and_server(self):
        listing = 'SmtpServer = "server"\nSmtpAccount = "account"\nSmtpPassword = "secret"\n'
        self.assertIn(b"\x0cSmtpPassword\x06\x0c4cde286b9c97", self.stream(listing))
        self.assertIn(b"\x0cHttpPassword\x06\x00", self.stream('HttpPassword = ""\n'))

    def test_listing_errors(self):
        for listing in ("A 1\n", "A = 1\nA = 2\n", 'A = "open\n', 'A = "bad \\n"\n',
                        "A = 4294967296\n", 'A = "in"side"\n', "A = maybe\n"):
            with self.subTest(listing=listing), self.assertRaises(tool.ListingError):
                tool.parse_listing(listing)


if __name__ == "__main__":
    unittest.main()
