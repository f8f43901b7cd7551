#!/usr/bin/env python3
"""The thirteen SQL functions of libQXUdfLib.so called from real SQL in Firebird 3.

Runs the embedded engine with a private configuration (fb_fixture), a fresh database per
run, the declarations of udf/sql/declare.sql, and compares results as the client
receives them (text through OCTETS casts, byte for byte).
"""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fb_fixture import FirebirdFixture  # noqa: E402

SOURCE_DIR = os.environ.get("QX_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
UDF_DIR = os.environ.get("QX_UDF_DIR", os.path.join(SOURCE_DIR, "build-native", "bin"))
PARALLEL_CALLS = os.environ.get("QX_PARALLEL_CALLS", os.path.join(UDF_DIR, "parallel_calls"))
CRLF = b"\r\n"

fixture = None


def declare_sql():
    return os.path.join(SOURCE_DIR, "udf", "sql", "declare.sql")


def sql_text(data):
    """An SQL expression for arbitrary bytes: quoted runs of printable ASCII, ASCII_CHAR(n)
    for the rest."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    if not data:
        return "''"
    parts, run = [], ""
    for byte in data:
        if 32 <= byte < 127:
            run += "''" if byte == 39 else chr(byte)
        else:
            if run:
                parts.append("'%s'" % run)
                run = ""
            parts.append("ASCII_CHAR(%d)" % byte)
    if run:
        parts.append("'%s'" % run)
    return " || ".join(parts)


def sql_blob(data):
    return "CAST(%s AS BLOB SUB_TYPE 0)" % sql_text(data)


# Declarations with the NULL keyword: the engine passes a null pointer for SQL NULL.
NULL_KEYWORD_DECLARATIONS = """
DECLARE EXTERNAL FUNCTION nk_setbit INTEGER NULL, INTEGER NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_setbit' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_clearbit INTEGER NULL, INTEGER NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_clearbit' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_checkbit INTEGER NULL, INTEGER NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_checkbit' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_minvalue INTEGER NULL, INTEGER NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_minvalue' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_maxvalue INTEGER NULL, INTEGER NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_maxvalue' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_incday DOUBLE PRECISION NULL, INTEGER NULL
  RETURNS DOUBLE PRECISION BY VALUE ENTRY_POINT 'fn_incday' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_factbedragbetaald INTEGER NULL, CSTRING(16) NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_factbedragbetaald' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_BoolStringToInt CSTRING(64) NULL
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_BoolStringToInt' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_inttocnk INTEGER NULL
  RETURNS CSTRING(12) FREE_IT ENTRY_POINT 'fn_inttocnk' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_formatDouble DOUBLE PRECISION NULL
  RETURNS CSTRING(32) FREE_IT ENTRY_POINT 'fn_formatDouble' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_strReplace CSTRING(4096) NULL, CSTRING(256) NULL, CSTRING(256) NULL
  RETURNS CSTRING(8192) FREE_IT ENTRY_POINT 'fn_strReplace' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_GetBlobValue BLOB NULL, CSTRING(256) NULL
  RETURNS CSTRING(4096) FREE_IT ENTRY_POINT 'fn_GetBlobValue' MODULE_NAME 'QXUdfLib';
DECLARE EXTERNAL FUNCTION nk_TrimRTF BLOB NULL, BLOB
  RETURNS PARAMETER 2 ENTRY_POINT 'fn_TrimRTF' MODULE_NAME 'QXUdfLib';
"""

# The same exports from a copy of the library whose allocator and rich-text conversion fail.
PROBE_DECLARATIONS = """
DECLARE EXTERNAL FUNCTION probe_strReplace CSTRING(255), CSTRING(255), CSTRING(255)
  RETURNS CSTRING(255) FREE_IT ENTRY_POINT 'fn_strReplace' MODULE_NAME 'QXUdfFailProbe';
DECLARE EXTERNAL FUNCTION probe_inttocnk INTEGER
  RETURNS CSTRING(16) FREE_IT ENTRY_POINT 'fn_inttocnk' MODULE_NAME 'QXUdfFailProbe';
DECLARE EXTERNAL FUNCTION probe_GetBlobValue BLOB, CSTRING(255)
  RETURNS CSTRING(255) FREE_IT ENTRY_POINT 'fn_GetBlobValue' MODULE_NAME 'QXUdfFailProbe';
DECLARE EXTERNAL FUNCTION probe_TrimRTF BLOB, BLOB
  RETURNS PARAMETER 2 ENTRY_POINT 'fn_TrimRTF' MODULE_NAME 'QXUdfFailProbe';
DECLARE EXTERNAL FUNCTION probe_setbit INTEGER, INTEGER
  RETURNS INTEGER BY VALUE ENTRY_POINT 'fn_setbit' MODULE_NAME 'QXUdfFailProbe';
"""

TABLES = """
CREATE TABLE blobs (id INTEGER PRIMARY KEY, b BLOB SUB_TYPE 0);
CREATE TABLE trimmed (id INTEGER PRIMARY KEY, r BLOB SUB_TYPE 0);
CREATE TABLE numbers (id INTEGER PRIMARY KEY);
"""


def setUpModule():
    global fixture
    fixture = FirebirdFixture(UDF_DIR, declare_sql())
    fixture.run_script(NULL_KEYWORD_DECLARATIONS + PROBE_DECLARATIONS + TABLES + "COMMIT;\n")


def tearDownModule():
    if fixture is not None:
        fixture.close()


class Case(unittest.TestCase):
    def check(self, rows, env=None):
        """rows: (kind, sql expression, expected). Every row runs as its own SELECT."""
        cases = [("c%d" % i, kind, expr) for i, (kind, expr, _) in enumerate(rows)]
        got = fixture.values(cases, env=env)
        for i, (kind, expr, expected) in enumerate(rows):
            with self.subTest(sql=expr):
                self.assertIn("c%d" % i, got, "statement failed: " + expr)
                self.assertEqual(got["c%d" % i], expected)


class IntegerBitDateFunctions(Case):
    def test_edge_cases(self):
        y32 = "'" + "Y" * 32 + "'"
        self.check([
            ("int", "fn_setbit(5, 2)", 7),
            ("int", "fn_setbit(5, 0)", 5),
            ("int", "fn_clearbit(7, 2)", 5),
            ("int", "fn_clearbit(-1, 1)", -2),
            ("int", "fn_checkbit(5, 4)", 1),
            ("int", "fn_checkbit(5, 2)", 0),
            ("int", "fn_checkbit(5, 6)", 1),
            ("int", "fn_checkbit(0, 0)", 0),
            ("int", "fn_checkbit(-1, 0)", 0),
            ("int", "fn_checkbit(2147483647, 0)", 0),
            ("int", "fn_checkbit(-2147483648, -2147483648)", 1),
            ("int", "fn_minvalue(3, -1)", -1),
            ("int", "fn_minvalue(4, 4)", 4),
            ("int", "fn_maxvalue(-5, -7)", -5),
            ("double", "fn_incday(100.25, 3)", 103.25),
            ("double", "fn_incday(100.25, -101)", -0.75),
            ("int", "fn_factbedragbetaald(1500, 'Y')", 1500),
            ("int", "fn_factbedragbetaald(1500, 'YES')", 1500),
            ("int", "fn_factbedragbetaald(1500, 'y')", 0),
            ("int", "fn_factbedragbetaald(1500, 'N')", 0),
            ("int", "fn_factbedragbetaald(1500, '')", 0),
            ("int", "fn_factbedragbetaald(-20, 'Y')", -20),
            ("int", "fn_BoolStringToInt('')", 0),
            ("int", "fn_BoolStringToInt('Y')", 1),
            ("int", "fn_BoolStringToInt('N')", 0),
            ("int", "fn_BoolStringToInt('YN')", 2),
            ("int", "fn_BoolStringToInt('NY')", 1),
            ("int", "fn_BoolStringToInt('YNY')", 5),
            ("int", "fn_BoolStringToInt('YYYY')", 15),
            ("int", "fn_BoolStringToInt('yY')", 1),
            ("int", "fn_BoolStringToInt('Y1Y')", 5),
            ("int", "fn_BoolStringToInt(%s)" % y32, -1),
            ("int", "fn_BoolStringToInt('Y%s')" % ("N" * 31), -2147483648),
            ("int", "fn_BoolStringToInt('%s')" % ("Y" * 33), 0),
            ("int", "fn_BoolStringToInt('Y%s')" % ("N" * 32), 1),
        ])

    def test_values_from_columns_and_expressions(self):
        # Arguments that are not literals go through the engine's own conversions.
        self.check([
            ("int", "(SELECT fn_setbit(CAST('5' AS INTEGER), 2) FROM rdb$database)", 7),
            ("double", "fn_incday(CAST('2024-01-31' AS DATE) - CAST('1899-12-30' AS DATE), 1)",
             45323.0),
            ("int", "fn_maxvalue(CAST(7.9 AS INTEGER), 2)", 8),
        ])


class TextResultFunctions(Case):
    def test_edge_cases(self):
        self.check([
            ("text", "fn_inttocnk(0)", b"0000000"),
            ("text", "fn_inttocnk(42)", b"0000042"),
            ("text", "fn_inttocnk(1234567)", b"1234567"),
            ("text", "fn_inttocnk(12345678)", b"12345678"),
            ("text", "fn_inttocnk(-42)", b"-0000042"),
            ("text", "fn_inttocnk(-1234567)", b"-1234567"),
            ("text", "fn_inttocnk(2147483647)", b"2147483647"),
            ("text", "fn_inttocnk(-2147483648)", b"-2147483648"),
            ("text", "fn_formatDouble(0.1e0)", b"0.1"),
            ("text", "fn_formatDouble(1e0 / 3)", b"0.333333333333333"),
            ("text", "fn_formatDouble(2e0 / 3)", b"0.666666666666667"),
            ("text", "fn_formatDouble(0.1e0 + 0.2e0)", b"0.3"),
            ("text", "fn_formatDouble(-1.5e0)", b"-1.5"),
            ("text", "fn_formatDouble(100)", b"100"),
            ("text", "fn_formatDouble(45000.75e0)", b"45000.75"),
            ("text", "fn_formatDouble(999999999999999e0)", b"999999999999999"),
            ("text", "fn_formatDouble(1e15)", b"1E015"),
            ("text", "fn_formatDouble(1234567890123456e0)", b"1.23456789012346E015"),
            ("text", "fn_formatDouble(1.5e20)", b"1.5E020"),
            ("text", "fn_formatDouble(1e300)", b"1E300"),
            ("text", "fn_formatDouble(0.0001e0)", b"0.0001"),
            ("text", "fn_formatDouble(0.000123e0)", b"0.000123"),
            ("text", "fn_formatDouble(0.00001e0)", b"1E-005"),
            ("text", "fn_formatDouble(1e-300)", b"1E-300"),
            ("text", "fn_formatDouble(1.7976931348623157e308)", b"1.79769313486232E308"),
            # The engine's literals stop at normal doubles; the subnormal comes from POWER.
            ("text", "fn_formatDouble(POWER(2e0, -1074))", b"4.94065645841247E-324"),
            ("text", "fn_formatDouble(0e0)", b"0"),
            ("text", "fn_formatDouble(-0e0)", b"0"),
            ("text", "fn_formatDouble(-1e0 * 0e0)", b"0"),
            ("text", "fn_strReplace('abcabc', 'b', 'XY')", b"aXYcaXYc"),
            ("text", "fn_strReplace('banana', 'ana', 'x')", b"bxna"),
            ("text", "fn_strReplace('aaa', 'aa', 'b')", b"ba"),
            ("text", "fn_strReplace('aaa', 'a', 'aa')", b"aaaaaa"),
            ("text", "fn_strReplace('aAa', 'a', 'b')", b"bAb"),
            ("text", "fn_strReplace('abc', 'c', 'X')", b"abX"),
            ("text", "fn_strReplace('abc', 'abc', '')", b""),
            ("text", "fn_strReplace('abc', '', 'x')", b"abc"),
            ("text", "fn_strReplace('', 'a', 'b')", b""),
        ])

    def test_empty_result_is_an_empty_text_not_null(self):
        self.check([
            ("bool", "fn_strReplace('abc', 'abc', '') IS NULL", False),
            ("int", "CHAR_LENGTH(fn_strReplace('abc', 'abc', ''))", 0),
        ])

    def test_long_texts_and_high_bytes(self):
        long_s = "x" * 3000
        self.check([
            ("text", "fn_strReplace('%s', 'x', 'yz')" % long_s, b"yz" * 3000),
            ("text", "fn_strReplace(%s, ASCII_CHAR(228), 'ae')" % sql_text(b"K\xe4se \xe4"),
             b"Kaese ae"),
            # No double-byte rule on Linux: a match may start on any byte.
            ("text", "fn_strReplace(%s, ASCII_CHAR(92), '/')" % sql_text(b"\x81\x5c\x5c"),
             b"\x81//"),
        ])


GET_BLOB_LINES = b"a=1\r\nB=2\r\na=3"


class BlobFunctions(Case):
    def test_get_blob_value_edge_cases(self):
        def value(blob, name):
            return "fn_GetBlobValue(%s, %s)" % (sql_blob(blob), sql_text(name))

        self.check([
            ("text", value(GET_BLOB_LINES, "a"), b"1"),
            ("text", value(GET_BLOB_LINES, "A"), b"1"),
            ("text", value(GET_BLOB_LINES, "b"), b"2"),
            ("text", value(GET_BLOB_LINES, "c"), b""),
            ("text", value(b"key==x", "key"), b"=x"),
            ("text", value(b"key=a=b", "key"), b"a=b"),
            ("text", value(b"key=\r\nkey=2", "key"), b""),
            ("text", value(b"key\r\nother=1", "key"), b""),
            ("text", value(b"key =1", "key"), b""),
            ("text", value(b"key =1", "key "), b"1"),
            ("text", value(b"a=b=c", "a=b"), b""),
            ("text", value(b"x=1\r\n=first\r\n=second", ""), b"first"),
            ("text", value(b"a=1\nb=2\nc=3", "b"), b"2"),
            ("text", value(b"a=1\rb=2\rc=3", "c"), b"3"),
            ("text", value(b"a=1\n\rb=2", "b"), b"2"),
            ("text", value(b"name=value", "name"), b"value"),
            ("text", value(b"a=1\x00\r\nb=2", "b"), b""),
            ("text", value(b"a=1\x00\r\nb=2", "a"), b"1"),
            ("text", value(b"k=trailing  ", "k"), b"trailing  "),
            ("text", value(b"", "a"), b""),
        ])

    def test_trim_rtf_edge_cases(self):
        words = b"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Factuur \\b betaald\\b0\\par}"
        blank = b"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0  \\tab \\par\\par\\line }"
        rows = [
            (words, words),
            (blank, b""),
            (b"{\\rtf1}", b""),
            (b"plain visible text", b"plain visible text"),
            (b"  \r\n\r\n \t ", b""),
            (b"{\\rtf1 x}\x00tail after zero", b"{\\rtf1 x}\x00tail after zero"),
            (b"{\\rtf1 \\par}\x00visible only after zero", b""),
            (b"\xa0", b"\xa0"),
            (b"{\\rtf1 {\\*\\comment hidden}{\\info{\\title t}}\\par}", b""),
            (b"{\\rtf1 \\uc1\\u8364?}", b"{\\rtf1 \\uc1\\u8364?}"),
        ]
        self.check([("text", "CAST(fn_TrimRTF(%s) AS VARCHAR(1000) CHARACTER SET OCTETS)"
                     % sql_blob(src), want) for src, want in rows])

    def test_trim_rtf_of_missing_or_empty_blob_is_an_empty_blob(self):
        self.check([
            ("int", "OCTET_LENGTH(fn_TrimRTF(NULL))", 0),
            ("int", "OCTET_LENGTH(fn_TrimRTF(CAST('' AS BLOB)))", 0),
            ("bool", "fn_TrimRTF(NULL) IS NULL", False),
        ])


def filler(k):
    pad = b"abcdefghijklmnopqrstuvwxyz0123456789"
    return b"%06d" % k + (pad * 28)[:994]


def sized_blob(total):
    """first=1, a long line without '=', then last=<tail>; exactly `total` bytes."""
    head, tail = b"first=1\r\n", b"\r\nlast=END"
    fill = total - len(head) - len(tail)
    body = b"".join(filler(k) for k in range((fill + 999) // 1000))[:fill]
    return head + body + tail


SIZED_BLOCK = """
SET TERM ^;
EXECUTE BLOCK AS
  DECLARE b BLOB SUB_TYPE 0;
  DECLARE k INTEGER = 0;
  DECLARE fill INTEGER = %(fill)d;
BEGIN
  b = 'first=1' || ASCII_CHAR(13) || ASCII_CHAR(10);
  WHILE (k * 1000 < fill) DO
  BEGIN
    b = b || LEFT(LPAD(k, 6, '0') || RPAD('', 994, 'abcdefghijklmnopqrstuvwxyz0123456789'),
                  MINVALUE(1000, fill - k * 1000));
    k = k + 1;
  END
  b = b || ASCII_CHAR(13) || ASCII_CHAR(10) || 'last=END';
  INSERT INTO blobs (id, b) VALUES (%(id)d, :b);
END^
SET TERM ;^
"""

LINES_BLOCK = """
SET TERM ^;
EXECUTE BLOCK AS
  DECLARE b BLOB SUB_TYPE 0 = '';
  DECLARE chunk VARCHAR(32000) CHARACTER SET OCTETS = '';
  DECLARE i INTEGER = 0;
BEGIN
  WHILE (i < %(lines)d) DO
  BEGIN
    chunk = chunk || 'k' || LPAD(i, 5, '0') || '=' || i || ASCII_CHAR(13) || ASCII_CHAR(10);
    i = i + 1;
    IF (MOD(i, 1000) = 0) THEN
    BEGIN
      b = b || chunk;
      chunk = '';
    END
  END
  b = b || chunk;
  INSERT INTO blobs (id, b) VALUES (%(id)d, :b);
END^
SET TERM ;^
"""


class BlobsMadeBySql(Case):
    SIZES = {1: 65535, 2: 65536, 3: 200000}
    LINES = 10000

    @classmethod
    def setUpClass(cls):
        script = ["INSERT INTO blobs (id, b) VALUES (10, CAST('' AS BLOB));",
                  "INSERT INTO blobs (id, b) VALUES (11, NULL);",
                  "INSERT INTO blobs (id, b) VALUES (12, %s);" % sql_blob(b"a=1\x00\r\nb=2"),
                  "INSERT INTO blobs (id, b) VALUES (13, %s);"
                  % sql_blob(b"{\\rtf1\\ansi words\\par}\x00after")]
        for key, total in cls.SIZES.items():
            script.append(SIZED_BLOCK % {"fill": total - 19, "id": key})
        script.append(LINES_BLOCK % {"lines": cls.LINES, "id": 4})
        script.append("INSERT INTO trimmed (id, r) SELECT id, fn_TrimRTF(b) FROM blobs;")
        script.append("COMMIT;")
        fixture.run_script("\n".join(script) + "\n")

    def many_lines(self):
        return b"".join(b"k%05d=%d\r\n" % (i, i) for i in range(self.LINES))

    def test_sql_made_the_blobs_we_expect(self):
        rows = [("int", "(SELECT OCTET_LENGTH(b) FROM blobs WHERE id = %d)" % k, total)
                for k, total in self.SIZES.items()]
        rows.append(("int", "(SELECT OCTET_LENGTH(b) FROM blobs WHERE id = 4)",
                     len(self.many_lines())))
        self.check(rows)
        self.assertEqual(fixture.blob_bytes("blobs", "b", "id", 2, 65536), sized_blob(65536))

    def test_get_blob_value_reads_whole_blobs(self):
        rows = []
        for key in self.SIZES:
            rows.append(("text", "(SELECT fn_GetBlobValue(b, 'LAST') FROM blobs WHERE id = %d)"
                         % key, b"END"))
            rows.append(("text", "(SELECT fn_GetBlobValue(b, 'first') FROM blobs WHERE id = %d)"
                         % key, b"1"))
        rows += [
            ("text", "(SELECT fn_GetBlobValue(b, 'k09999') FROM blobs WHERE id = 4)", b"9999"),
            ("text", "(SELECT fn_GetBlobValue(b, 'k00000') FROM blobs WHERE id = 4)", b"0"),
            ("text", "(SELECT fn_GetBlobValue(b, 'k10000') FROM blobs WHERE id = 4)", b""),
            ("text", "(SELECT fn_GetBlobValue(b, 'a') FROM blobs WHERE id = 10)", b""),
            ("text", "(SELECT fn_GetBlobValue(b, 'a') FROM blobs WHERE id = 11)", b""),
            ("text", "(SELECT fn_GetBlobValue(b, 'a') FROM blobs WHERE id = 12)", b"1"),
            ("text", "(SELECT fn_GetBlobValue(b, 'b') FROM blobs WHERE id = 12)", b""),
        ]
        self.check(rows)

    def test_trim_rtf_into_a_blob_column_reads_back_byte_for_byte(self):
        for key, total in self.SIZES.items():
            with self.subTest(size=total):
                self.assertEqual(fixture.blob_bytes("trimmed", "r", "id", key, total),
                                 sized_blob(total))
        lines = self.many_lines()
        self.assertEqual(fixture.blob_bytes("trimmed", "r", "id", 4, len(lines)), lines)
        self.assertEqual(fixture.blob_bytes("trimmed", "r", "id", 12, 11), b"a=1\x00\r\nb=2")
        self.assertEqual(fixture.blob_bytes("trimmed", "r", "id", 13, 29),
                         b"{\\rtf1\\ansi words\\par}\x00after")
        self.check([
            ("int", "(SELECT OCTET_LENGTH(r) FROM trimmed WHERE id = 10)", 0),
            ("int", "(SELECT OCTET_LENGTH(r) FROM trimmed WHERE id = 11)", 0),
        ])


class NullArguments(Case):
    """Without the NULL keyword the engine passes zeroed values (0, 0.0, the empty text, a
    blob without handle); with it, null pointers, which the functions read the same way.
    Either way SQL NULL arguments give the results of 0, 0.0 and the empty text."""

    def rows(self, p):
        return [
            ("int", "%s_setbit(NULL, 3)" % p, 3),
            ("int", "%s_clearbit(7, NULL)" % p, 7),
            ("int", "%s_checkbit(NULL, NULL)" % p, 0),
            ("int", "%s_minvalue(NULL, -1)" % p, -1),
            ("int", "%s_maxvalue(NULL, -1)" % p, 0),
            ("double", "%s_incday(NULL, 2)" % p, 2.0),
            ("double", "%s_incday(1.5, NULL)" % p, 1.5),
            ("int", "%s_factbedragbetaald(NULL, 'Y')" % p, 0),
            ("int", "%s_factbedragbetaald(5, NULL)" % p, 0),
            ("int", "%s_BoolStringToInt(NULL)" % p, 0),
            ("text", "%s_inttocnk(NULL)" % p, b"0000000"),
            ("text", "%s_formatDouble(NULL)" % p, b"0"),
            ("text", "%s_strReplace(NULL, 'a', 'b')" % p, b""),
            ("text", "%s_strReplace('banana', NULL, 'x')" % p, b"banana"),
            ("text", "%s_strReplace('banana', 'a', NULL)" % p, b"bnn"),
            ("text", "%s_GetBlobValue(NULL, 'a')" % p, b""),
            ("text", "%s_GetBlobValue(%s, NULL)" % (p, sql_blob(b"x=1\r\n=empty name")),
             b"empty name"),
            ("int", "OCTET_LENGTH(%s_TrimRTF(NULL))" % p, 0),
        ]

    def test_without_the_null_keyword(self):
        self.check(self.rows("fn"))

    def test_with_the_null_keyword(self):
        self.check(self.rows("nk"))


class Locale(Case):
    """The decimal separator and the case rules come from the environment's locale, read
    when the engine loads the library."""

    @classmethod
    def setUpClass(cls):
        cls.locales = tempfile.mkdtemp(prefix="qx-locales-")
        subprocess.run(["localedef", "-i", "nl_NL", "-f", "ISO-8859-1",
                        os.path.join(cls.locales, "nl_NL")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["rm", "-rf", cls.locales])

    def test_single_byte_locale_with_decimal_comma(self):
        env = {"LOCPATH": self.locales, "LC_ALL": "nl_NL"}
        self.check([
            ("text", "fn_formatDouble(1.5e0)", b"1,5"),
            ("text", "fn_formatDouble(-1.5e20)", b"-1,5E020"),
            ("text", "fn_formatDouble(100)", b"100"),
            ("text", "fn_GetBlobValue(%s, %s)" % (sql_blob(b"\xc4rger=1"), sql_text(b"\xe4RGER")),
             b"1"),
        ], env=env)

    def test_utf8_locale_folds_ascii_letters_only(self):
        env = {"LC_ALL": "C.UTF-8"}
        self.check([
            ("text", "fn_formatDouble(1.5e0)", b"1.5"),
            ("text", "fn_GetBlobValue(%s, 'KEY')" % sql_blob(b"key=1"), b"1"),
            ("text", "fn_GetBlobValue(%s, %s)"
             % (sql_blob("Ärger=1".encode()), sql_text("ärger".encode())), b""),
        ], env=env)

    def test_unknown_locale_falls_back_to_c(self):
        self.check([("text", "fn_formatDouble(0.25e0)", b"0.25")],
                   env={"LC_ALL": "xx_NOWHERE"})


class Failures(Case):
    """A copy of the library whose allocator gives nothing and whose rich-text conversion
    fails: the engine survives, the failed calls come back as SQL NULL, and the same
    session goes on working."""

    def test_failed_calls_are_null_and_the_session_goes_on(self):
        self.check([
            ("bool", "probe_strReplace('banana', 'ana', 'x') IS NULL", True),
            ("bool", "probe_inttocnk(42) IS NULL", True),
            ("bool", "probe_GetBlobValue(%s, 'a') IS NULL" % sql_blob(b"a=1"), True),
            ("bool", "probe_TrimRTF(%s) IS NULL" % sql_blob(b"{\\rtf1 x}"), True),
            ("int", "probe_setbit(5, 2)", 7),
            ("text", "fn_strReplace('banana', 'ana', 'x')", b"bxna"),
            ("bool", "probe_TrimRTF(NULL) IS NULL", False),
        ])

    def test_many_failures_in_one_statement(self):
        self.check([
            ("int", "(SELECT COUNT(*) FROM rdb$relations r "
                    "WHERE probe_strReplace(r.rdb$relation_name, 'A', 'B') IS NULL)",
             fixture.values([("n", "int", "(SELECT COUNT(*) FROM rdb$relations)")])["n"]),
        ])


class ModuleFile(unittest.TestCase):
    EXPORTS = {"fn_GetBlobValue", "fn_TrimRTF", "fn_BoolStringToInt", "fn_strReplace",
               "fn_formatDouble", "fn_factbedragbetaald", "fn_maxvalue", "fn_minvalue",
               "fn_inttocnk", "fn_incday", "fn_clearbit", "fn_checkbit", "fn_setbit"}

    def test_exports_exactly_the_thirteen_functions(self):
        path = os.path.join(UDF_DIR, "libQXUdfLib.so")
        listing = subprocess.run(["nm", "-D", "--defined-only", path], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        names = {line.split()[-1] for line in listing.splitlines() if line.strip()}
        self.assertEqual(names, self.EXPORTS)

    def test_allocates_through_the_engines_ib_util(self):
        path = os.path.join(UDF_DIR, "libQXUdfLib.so")
        dynamic = subprocess.run(["readelf", "-d", "--dyn-syms", path], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        self.assertIn("[libib_util.so]", dynamic)
        self.assertRegex(dynamic, r"UND ib_util_malloc")


class Connections(unittest.TestCase):
    def test_four_connections_at_once(self):
        fixture.run_script(
            "SET TERM ^;\nEXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN\n"
            "  WHILE (i <= 2000) DO BEGIN INSERT INTO numbers (id) VALUES (:i); i = i + 1; END\n"
            "END^\nSET TERM ;^\nCOMMIT;\n")
        done = subprocess.run([PARALLEL_CALLS, fixture.database, "4", "5"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              env=fixture.env, timeout=600)
        output = done.stdout.decode("latin-1")
        print(output, end="")
        self.assertEqual(done.returncode, 0, output)
        self.assertEqual(output.count("10000 rows, 0 wrong"), 4, output)


if __name__ == "__main__":
    unittest.main(verbosity=2)
