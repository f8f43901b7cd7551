/*
 * Declarations of the QXUdr routines (Firebird 3, 4 and 5, ENGINE UDR).
 *
 * The same thirteen functions, SQL names and argument and result types as declare.sql, so
 * that triggers, views and procedures that call them keep working when these replace the
 * external-function declarations. The engine loads libQXUdr.so (QXUdr.dll on Windows)
 * from the folder its plugins.conf names for UDR modules, plugins/udr by default.
 *
 * An SQL NULL argument reads as 0, 0.0 or the empty text, as it does for the
 * external-function declarations, so both give the same answers. A failure inside a
 * function (no memory for a blob, a damaged blob, a failed rich-text conversion, a result
 * longer than its declared type) fails the statement with an error message.
 */

/* a OR mask */
CREATE OR ALTER FUNCTION fn_setbit (a INTEGER, mask INTEGER)
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_setbit' ENGINE UDR;

/* a AND NOT mask */
CREATE OR ALTER FUNCTION fn_clearbit (a INTEGER, mask INTEGER)
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_clearbit' ENGINE UDR;

/* 1 when a AND mask is not 0 */
CREATE OR ALTER FUNCTION fn_checkbit (a INTEGER, mask INTEGER)
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_checkbit' ENGINE UDR;

CREATE OR ALTER FUNCTION fn_minvalue (a INTEGER, b INTEGER)
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_minvalue' ENGINE UDR;

CREATE OR ALTER FUNCTION fn_maxvalue (a INTEGER, b INTEGER)
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_maxvalue' ENGINE UDR;

/* date + days */
CREATE OR ALTER FUNCTION fn_incday (date_value DOUBLE PRECISION, days INTEGER)
  RETURNS DOUBLE PRECISION
  EXTERNAL NAME 'QXUdr!fn_incday' ENGINE UDR;

/* amount when flag begins with "Y", else 0 */
CREATE OR ALTER FUNCTION fn_factbedragbetaald (amount INTEGER, flag VARCHAR(16))
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_factbedragbetaald' ENGINE UDR;

/* a row of Y/N flags as a bit mask */
CREATE OR ALTER FUNCTION fn_BoolStringToInt (flags VARCHAR(64))
  RETURNS INTEGER
  EXTERNAL NAME 'QXUdr!fn_BoolStringToInt' ENGINE UDR;

/* seven digits, zero padded */
CREATE OR ALTER FUNCTION fn_inttocnk (int_value INTEGER)
  RETURNS VARCHAR(12)
  EXTERNAL NAME 'QXUdr!fn_inttocnk' ENGINE UDR;

/* general format, 15 significant digits */
CREATE OR ALTER FUNCTION fn_formatDouble (double_value DOUBLE PRECISION)
  RETURNS VARCHAR(32)
  EXTERNAL NAME 'QXUdr!fn_formatDouble' ENGINE UDR;

/* s with every old replaced by new */
CREATE OR ALTER FUNCTION fn_strReplace (s VARCHAR(4096), old_text VARCHAR(256),
                                        new_text VARCHAR(256))
  RETURNS VARCHAR(8192)
  EXTERNAL NAME 'QXUdr!fn_strReplace' ENGINE UDR;

/* the value of the first name=value line of b whose name equals name */
CREATE OR ALTER FUNCTION fn_GetBlobValue (b BLOB, name VARCHAR(256))
  RETURNS VARCHAR(4096)
  EXTERNAL NAME 'QXUdr!fn_GetBlobValue' ENGINE UDR;

/* the rich text unchanged, or an empty blob when it displays nothing visible */
CREATE OR ALTER FUNCTION fn_TrimRTF (b BLOB)
  RETURNS BLOB
  EXTERNAL NAME 'QXUdr!fn_TrimRTF' ENGINE UDR;
