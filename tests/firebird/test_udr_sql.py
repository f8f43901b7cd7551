#!/usr/bin/env python3
"""The thirteen SQL functions as UDR routines of libQXUdr.so, in real Firebird 3.

Every case of test_udf_sql runs twice, once in a database with the external-function
declarations (udf/sql/declare.sql) and once in one with the UDR declarations
(udf/sql/declare_udr.sql); each query's results must be identical in both and equal to
what the case expects. Then what only the UDR module has: failures reported as SQL
errors through the status vector (a copy of the module over failing services), declared
types checked, the module's export table, and the migration of a database whose view and
trigger call the external functions. The client program's four connections run against
the UDR database.
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_udf_sql as udf_cases  # noqa: E402
from fb_fixture import FirebirdFixture  # noqa: E402

SOURCE_DIR = udf_cases.SOURCE_DIR
UDF_DIR = udf_cases.UDF_DIR
UDR_MODULE = os.environ.get("QX_UDR_MODULE", os.path.join(UDF_DIR, "libQXUdr.so"))
UDR_PROBE = os.environ.get("QX_UDR_PROBE", os.path.join(UDF_DIR, "libQXUdrFailProbe.so"))
sql_blob = udf_cases.sql_blob


def declare_udr_sql():
    return os.path.join(SOURCE_DIR, "udf", "sql", "declare_udr.sql")


class Mismatch(AssertionError):
    pass


class BothDeclarations:
    """Stands in for the fixture of test_udf_sql: every query runs against both databases,
    the results must be the same, and the UDR database's results are returned."""

    def __init__(self, udf, udr):
        self.udf = udf
        self.udr = udr
        # What a client program attaches to: the UDR database.
        self.database = udr.database
        self.env = udr.env

    def run_script(self, script, database="default", env=None, check=True):
        self.udf.run_script(script, database, env, check)
        return self.udr.run_script(script, database, env, check)

    def values(self, cases, env=None):
        from_udf = self.udf.values(cases, env)
        from_udr = self.udr.values(cases, env)
        differ = ["%s: UDF %r, UDR %r" % (expr, from_udf.get(label, "<failed>"),
                                           from_udr.get(label, "<failed>"))
                  for label, _, expr in cases if from_udf.get(label) != from_udr.get(label)
                  or (label in from_udf) != (label in from_udr)]
        if differ:
            raise Mismatch("UDF and UDR answer differently:\n" + "\n".join(differ))
        return from_udr

    def blob_bytes(self, table, column, key_column, key, length):
        from_udf = self.udf.blob_bytes(table, column, key_column, key, length)
        from_udr = self.udr.blob_bytes(table, column, key_column, key, length)
        if from_udf != from_udr:
            raise Mismatch("%s.%s of %d differs: UDF %d bytes, UDR %d bytes"
                           % (table, column, key, len(from_udf or b""), len(from_udr or b"")))
        return from_udr


# Routines of the failing copy, and declarations whose types do not fit a routine.
UDR_EXTRA_DECLARATIONS = """
CREATE FUNCTION probe_GetBlobValue (b BLOB, name VARCHAR(256)) RETURNS VARCHAR(4096)
  EXTERNAL NAME 'QXUdrFailProbe!fn_GetBlobValue' ENGINE UDR;
CREATE FUNCTION probe_TrimRTF (b BLOB) RETURNS BLOB
  EXTERNAL NAME 'QXUdrFailProbe!fn_TrimRTF' ENGINE UDR;
CREATE FUNCTION probe_setbit (a INTEGER, mask INTEGER) RETURNS INTEGER
  EXTERNAL NAME 'QXUdrFailProbe!fn_setbit' ENGINE UDR;
CREATE FUNCTION short_strReplace (s VARCHAR(100), o VARCHAR(10), n VARCHAR(10))
  RETURNS VARCHAR(5) EXTERNAL NAME 'QXUdr!fn_strReplace' ENGINE UDR;
CREATE FUNCTION text_setbit (a VARCHAR(10), mask INTEGER) RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_setbit' ENGINE UDR;
CREATE FUNCTION three_setbit (a INTEGER, mask INTEGER, c INTEGER) RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_setbit' ENGINE UDR;
"""

udf_fixture = None
udr_fixture = None


def setUpModule():
    global udf_fixture, udr_fixture
    try:
        udf_fixture = FirebirdFixture(UDF_DIR, udf_cases.declare_sql())
        udr_fixture = FirebirdFixture(UDF_DIR, declare_udr_sql(),
                                      udr_modules=[UDR_MODULE, UDR_PROBE])
        udf_fixture.run_script(udf_cases.TABLES + "COMMIT;\n")
        udr_fixture.run_script(udf_cases.TABLES + UDR_EXTRA_DECLARATIONS + "COMMIT;\n")
    except BaseException:
        tearDownModule()  # unittest skips it when set-up fails
        raise
    udf_cases.fixture = BothDeclarations(udf_fixture, udr_fixture)


def tearDownModule():
    for fixture in (udf_fixture, udr_fixture):
        if fixture is not None:
            fixture.close()


# -- every case of the external-function test, answered alike by both declarations -------

class SameAnswersIntegerBitDate(udf_cases.IntegerBitDateFunctions):
    pass


class SameAnswersText(udf_cases.TextResultFunctions):
    pass


class SameAnswersBlob(udf_cases.BlobFunctions):
    pass


class SameAnswersBlobsMadeBySql(udf_cases.BlobsMadeBySql):
    pass


class SameAnswersNullArguments(udf_cases.NullArguments):
    # The NULL keyword belongs to external-function declarations; a UDR routine always
    # gets the NULL flags, and reads a NULL as the case without the keyword expects.
    test_with_the_null_keyword = None


class SameAnswersLocale(udf_cases.Locale):
    pass


class SameAnswersConnections(udf_cases.Connections):
    # Four connections of the client program at once, in the UDR database.
    pass


class Case(unittest.TestCase):
    def outcome(self, rows):
        """rows: (label, kind, expression). Runs them in one UDR session."""
        return udr_fixture.outcome(rows)

    def errors(self, stderr):
        """The error messages of a session, one per failed statement, in order."""
        return [m.strip() for m in re.findall(r"Statement failed, SQLSTATE = \w+\n([^\n]*)",
                                              stderr)]


class FailuresAreSqlErrors(Case):
    """The failing copy finds no memory for a blob over 1000 bytes and its rich-text
    conversion fails: each such statement fails with the message, and the statements
    after it in the same session go on working."""

    def test_failures_fail_the_statement_and_the_session_goes_on(self):
        big = b"a=1\r\n" + b"x" * 2000
        rows = [
            ("big", "text", "probe_GetBlobValue(%s, 'a')" % sql_blob(big)),
            ("small", "text", "probe_GetBlobValue(%s, 'a')" % sql_blob(b"a=1")),
            ("rtf", "text", "CAST(probe_TrimRTF(%s) AS VARCHAR(100))" % sql_blob(b"{\\rtf1 x}")),
            ("empty", "int", "OCTET_LENGTH(probe_TrimRTF(NULL))"),
            ("setbit", "int", "probe_setbit(5, 2)"),
            ("long", "text", "short_strReplace('abcdefgh', 'x', 'y')"),
            ("fits", "text", "short_strReplace('abc', 'b', 'XY')"),
            ("after", "text", "fn_strReplace('banana', 'ana', 'x')"),
        ]
        results, stderr = self.outcome(rows)
        self.assertEqual(results, {"small": b"1", "empty": 0, "setbit": 7, "fits": b"aXYc",
                                   "after": b"bxna"}, stderr)
        self.assertEqual(self.errors(stderr), [
            "fn_GetBlobValue: out of memory",
            "fn_TrimRTF: the rich-text conversion failed (test failure)",
            "fn_strReplace: the result of 8 bytes does not fit the declared 5 bytes",
        ], stderr)

    def test_a_thousand_failures_caught_in_one_block(self):
        script = """SET LIST ON;
SET TERM ^;
EXECUTE BLOCK RETURNS (failed INTEGER, last_message VARCHAR(200), still_works INTEGER) AS
  DECLARE i INTEGER = 0;
  DECLARE r BLOB;
BEGIN
  failed = 0;
  WHILE (i < 1000) DO
  BEGIN
    BEGIN
      r = probe_TrimRTF('{\\rtf1 ' || i || '}');
      WHEN ANY DO failed = failed + 1;
    END
    i = i + 1;
  END
  still_works = fn_setbit(i, 1);
  SUSPEND;
END^
SET TERM ;^
"""
        out = udr_fixture.run_script(script)
        self.assertRegex(out, r"FAILED\s+1000\b")
        self.assertRegex(out, r"STILL_WORKS\s+1001\b")


class DeclaredTypesAreChecked(Case):
    def test_declarations_that_do_not_fit_fail_with_a_message(self):
        rows = [
            ("text", "int", "text_setbit('1', 2)"),
            ("three", "int", "three_setbit(1, 2, 3)"),
            ("fine", "int", "fn_setbit(1, 2)"),
        ]
        results, stderr = self.outcome(rows)
        self.assertEqual(results, {"fine": 3}, stderr)
        errors = self.errors(stderr)
        self.assertEqual(errors[:2], ["fn_setbit: argument 1 must be declared INTEGER",
                                      "fn_setbit: must be declared with 2 argument(s) and "
                                      "one result"], stderr)

    def test_an_unknown_routine_is_refused_when_declared(self):
        code, out, err = udr_fixture.session(
            ("CONNECT '%s';\nCREATE FUNCTION no_such_routine (a INTEGER) RETURNS INTEGER\n"
             "  EXTERNAL NAME 'QXUdr!fn_nothing' ENGINE UDR;\nSET LIST ON;\n"
             "SELECT fn_checkbit(6, 2) AS R FROM rdb$database;\n"
             % udr_fixture.database).encode())
        self.assertEqual(self.errors(err), ["Entry point not found"], err)
        self.assertRegex(out, r"R\s+1\b")


class ModuleFile(unittest.TestCase):
    def test_exports_only_the_plugin_entry(self):
        listing = subprocess.run(["nm", "-D", "--defined-only", UDR_MODULE], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        names = {line.split()[-1] for line in listing.splitlines() if line.strip()}
        self.assertEqual(names, {"firebird_udr_plugin"})

    def test_needs_no_client_library(self):
        dynamic = subprocess.run(["readelf", "-d", UDR_MODULE], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
        self.assertFalse({n for n in needed if "fbclient" in n or "ib_util" in n}, needed)


MIGRATION_OBJECTS = """
CREATE TABLE orders (id INTEGER, flags VARCHAR(8), amount INTEGER, paid CHAR(1),
                     mask INTEGER, code VARCHAR(12));
CREATE VIEW order_view (id, bits, due) AS
  SELECT id, fn_BoolStringToInt(flags), fn_factbedragbetaald(amount, paid) FROM orders;
SET TERM ^;
CREATE TRIGGER orders_code FOR orders BEFORE INSERT AS
BEGIN
  NEW.code = fn_inttocnk(NEW.id);
  NEW.mask = fn_setbit(COALESCE(NEW.mask, 0), 4);
END^
SET TERM ;^
COMMIT;
INSERT INTO orders (id, flags, amount, paid) VALUES (42, 'YNY', 1500, 'Y');
COMMIT;
"""


class Migration(unittest.TestCase):
    """A database whose view and trigger call the external functions takes the UDR
    declarations and keeps working."""

    def test_view_and_trigger_work_after_the_migration(self):
        path = os.path.join(udr_fixture.work, "migrate.fdb")
        connect = "CONNECT '%s';\n" % path
        udr_fixture.run_script(
            "CREATE DATABASE '%s' DEFAULT CHARACTER SET NONE;\nINPUT '%s';\nCOMMIT;\n"
            % (path, udf_cases.declare_sql()) + MIGRATION_OBJECTS, database=None)
        udr_fixture.run_script(connect + "INPUT '%s';\nCOMMIT;\n" % declare_udr_sql(),
                               database=None)
        out = udr_fixture.run_script(
            connect + "INSERT INTO orders (id, flags, amount, paid) VALUES (7, 'NY', 20, 'N');\n"
            "COMMIT;\nSET LIST ON;\n"
            "SELECT o.id, o.code, o.mask, v.bits, v.due, f.rdb$engine_name AS engine\n"
            "  FROM orders o JOIN order_view v ON v.id = o.id\n"
            "  CROSS JOIN rdb$functions f WHERE f.rdb$function_name = 'FN_INTTOCNK'\n"
            "  ORDER BY o.id;\n", database=None)
        rows = [dict(re.findall(r"^(\w+)\s+(.*?)\s*$", block, re.M))
                for block in out.strip().split("\n\n")]
        self.assertEqual(rows, [
            {"ID": "7", "CODE": "0000007", "MASK": "4", "BITS": "1", "DUE": "0", "ENGINE": "UDR"},
            {"ID": "42", "CODE": "0000042", "MASK": "4", "BITS": "5", "DUE": "1500",
             "ENGINE": "UDR"},
        ], out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
