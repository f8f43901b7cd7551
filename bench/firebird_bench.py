#!/usr/bin/env python3
"""Each SQL function of libQXUdfLib.so and of libQXUdr.so against the nearest built-in of
Firebird 3.

One embedded engine, one database, one million generated rows (a table of 1000 numbers
joined with itself). Every query aggregates, so no rows travel to the client; each runs
three times in turn with its rivals and the fastest elapsed time (isql's SET STATS)
counts. Where the engine's own UDF libraries (ib_udf, fbudf) have the same function, it
is timed too: that separates what the engine spends on any external call from what our
functions spend.

The same queries run a second time in a database whose functions are declared as UDR
routines of libQXUdr.so (udf/sql/declare_udr.sql): same SQL, other calling path. The
engine setting below concerns external functions only, so the UDR database runs in the
default configuration. The two blob functions run over 100,000 rows.

The engine runs twice: with its default configuration, where every external call
installs and removes the engine's fault signal handlers (eight sigaction calls when one
thread is in a UDF), and with BugcheckAbort = 1, where it does not.

    python3 bench/firebird_bench.py [folder holding libQXUdfLib.so and libQXUdr.so]
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "firebird"))
from fb_fixture import FirebirdFixture  # noqa: E402

ROUNDS = 3
ROWS = "FROM nums a CROSS JOIN nums b"
# The blob functions open (and fn_TrimRTF creates) a blob per call: 100,000 rows.
BLOB_ROWS = ROWS + " WHERE b.i < 100"

# (name, our function, built-in, the engine's own UDF or None)
PAIRS = [
    ("fn_setbit vs BIN_OR",
     "SELECT SUM(fn_setbit(a.i, b.i)) " + ROWS,
     "SELECT SUM(BIN_OR(a.i, b.i)) " + ROWS,
     "SELECT SUM(ref_bin_or(a.i, b.i)) " + ROWS),
    ("fn_clearbit vs BIN_AND/NOT",
     "SELECT SUM(fn_clearbit(a.i, b.i)) " + ROWS,
     "SELECT SUM(BIN_AND(a.i, BIN_NOT(b.i))) " + ROWS,
     None),
    ("fn_checkbit vs IIF(BIN_AND)",
     "SELECT SUM(fn_checkbit(a.i, b.i)) " + ROWS,
     "SELECT SUM(IIF(BIN_AND(a.i, b.i) <> 0, 1, 0)) " + ROWS,
     None),
    ("fn_minvalue vs MINVALUE",
     "SELECT SUM(fn_minvalue(a.i, b.i)) " + ROWS,
     "SELECT SUM(MINVALUE(a.i, b.i)) " + ROWS,
     None),
    ("fn_maxvalue vs MAXVALUE",
     "SELECT SUM(fn_maxvalue(a.i, b.i)) " + ROWS,
     "SELECT SUM(MAXVALUE(a.i, b.i)) " + ROWS,
     None),
    ("fn_incday vs DATEADD",
     "SELECT MAX(fn_incday(a.d, b.i)) " + ROWS,
     "SELECT MAX(DATEADD(b.i DAY TO a.dt)) " + ROWS,
     "SELECT MAX(ref_addday(a.ts, b.i)) " + ROWS),
    ("fn_factbedragbetaald vs IIF",
     "SELECT SUM(fn_factbedragbetaald(b.i, a.f)) " + ROWS,
     "SELECT SUM(IIF(LEFT(a.f, 1) = 'Y', b.i, 0)) " + ROWS,
     None),
    ("fn_BoolStringToInt vs REPLACE",
     "SELECT SUM(fn_BoolStringToInt(a.fl)) " + ROWS,
     "SELECT SUM(CHAR_LENGTH(REPLACE(a.fl, 'N', ''))) " + ROWS,
     None),
    ("fn_inttocnk vs LPAD",
     "SELECT MAX(fn_inttocnk(a.i * 1000 + b.i)) " + ROWS,
     "SELECT MAX(LPAD(a.i * 1000 + b.i, 7, '0')) " + ROWS,
     "SELECT MAX(ref_lpad(a.i * 1000 + b.i, 7, '0')) " + ROWS),
    ("fn_formatDouble vs CAST",
     "SELECT MAX(fn_formatDouble(a.d + b.i)) " + ROWS,
     "SELECT MAX(CAST(a.d + b.i AS VARCHAR(32))) " + ROWS,
     None),
    ("fn_strReplace vs REPLACE",
     "SELECT MAX(fn_strReplace(a.s, 'x', 'yz')) " + ROWS,
     "SELECT MAX(REPLACE(a.s, 'x', 'yz')) " + ROWS,
     None),
    ("fn_GetBlobValue vs POSITION",
     "SELECT MAX(fn_GetBlobValue(a.b, 'b')) " + BLOB_ROWS,
     "SELECT MAX(POSITION('b=' IN a.b)) " + BLOB_ROWS,
     None),
    ("fn_TrimRTF vs TRIM",
     "SELECT MAX(OCTET_LENGTH(fn_TrimRTF(a.b))) " + BLOB_ROWS,
     "SELECT MAX(OCTET_LENGTH(TRIM(a.b))) " + BLOB_ROWS,
     None),
]
BASELINE = "SELECT SUM(a.i + b.i) " + ROWS

SETUP = """
CREATE TABLE nums (i INTEGER, d DOUBLE PRECISION, dt DATE, ts TIMESTAMP, s VARCHAR(40),
                   f VARCHAR(4), fl VARCHAR(16), b BLOB SUB_TYPE 0);
DECLARE EXTERNAL FUNCTION ref_bin_or INTEGER, INTEGER
  RETURNS INTEGER BY VALUE ENTRY_POINT 'IB_UDF_bin_or' MODULE_NAME 'ib_udf';
DECLARE EXTERNAL FUNCTION ref_lpad CSTRING(255), INTEGER, CSTRING(1)
  RETURNS CSTRING(255) FREE_IT ENTRY_POINT 'IB_UDF_lpad' MODULE_NAME 'ib_udf';
DECLARE EXTERNAL FUNCTION ref_addday TIMESTAMP, INT
  RETURNS TIMESTAMP ENTRY_POINT 'addDay' MODULE_NAME 'fbudf';
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS DECLARE k INTEGER = 0; BEGIN
  WHILE (k < 1000) DO BEGIN
    INSERT INTO nums VALUES (:k, 45000.25 + :k, DATEADD(:k DAY TO DATE '2020-01-01'),
                             DATEADD(:k DAY TO TIMESTAMP '2020-01-01 06:00'),
                             'row' || :k || 'x-x-x' || :k, IIF(MOD(:k, 2) = 0, 'Y', 'N'),
                             REPLACE(RIGHT('0000000000' || :k, 10), '1', 'Y'),
                             'a=' || :k || ASCII_CHAR(13) || ASCII_CHAR(10) || 'b=' || :k);
    k = k + 1;
  END
END^
SET TERM ;^
COMMIT;
"""


def timed(fixture, queries):
    """Runs the queries in one session; returns their elapsed times in seconds."""
    script = "SET STATS ON;\n" + "".join(q + ";\n" for q in queries)
    out = fixture.run_script(script)
    times = [float(t) for t in re.findall(r"Elapsed time\s*=\s*([0-9.]+)", out)]
    if len(times) != len(queries):
        raise RuntimeError("expected %d timings, got:\n%s" % (len(queries), out[-3000:]))
    return times


ENGINE_UDF_DIR = "/usr/lib/x86_64-linux-gnu/firebird/3.0/UDF"
CONFIGURATIONS = [("default configuration", ""), ("BugcheckAbort = 1", "BugcheckAbort = 1\n")]


def measure(udf_dir, declare, extra_conf, udr_modules=()):
    fixture = FirebirdFixture(udf_dir, declare, extra_conf=extra_conf,
                              more_udf_dirs=[ENGINE_UDF_DIR], udr_modules=udr_modules)
    try:
        fixture.run_script(SETUP)
        queries = [BASELINE] + [q for pair in PAIRS for q in pair[1:] if q]
        timed(fixture, queries)  # warm the cache and load the libraries
        best = [float("inf")] * len(queries)
        for _ in range(ROUNDS):
            for i, t in enumerate(timed(fixture, queries)):
                best[i] = min(best[i], t)
        return dict(zip(queries, best))
    finally:
        fixture.close()


def main():
    udf_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-native", "bin")
    declare = os.path.join(ROOT, "udf", "sql", "declare.sql")
    declare_udr = os.path.join(ROOT, "udf", "sql", "declare_udr.sql")
    udr_module = os.path.join(udf_dir, "libQXUdr.so")
    print("Firebird 3 embedded, 1,000,000 rows per query, best of %d runs" % ROUNDS, flush=True)
    udr = measure(udf_dir, declare_udr, "", udr_modules=[udr_module])
    print("\nUDR routines: row loop alone %.3f s" % udr[BASELINE])
    for title, conf in CONFIGURATIONS:
        best = measure(udf_dir, declare, conf)
        print("\nUDF in the %s: row loop alone %.3f s" % (title, best[BASELINE]))
        print("%-30s %8s %7s %7s %9s %9s   %s" % ("", "built-in", "UDR s", "UDF s",
                                                 "UDR/b-in", "UDF/UDR",
                                                 "engine's own UDF: s, ours / its"))
        for name, ours, builtin, reference in PAIRS:
            line = "%-30s %8.3f %7.3f %7.3f %9.2f %9.2f" % (
                name, udr[builtin], udr[ours], best[ours], udr[ours] / udr[builtin],
                best[ours] / udr[ours])
            if reference:
                line += "   %.3f %5.2f" % (best[reference], best[ours] / best[reference])
            print(line, flush=True)


if __name__ == "__main__":
    main()
