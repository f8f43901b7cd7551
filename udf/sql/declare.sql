/*
 * Declarations of the QXUdfLib external functions.
 *
 * Run this script in a database to bind the thirteen SQL functions. The module name has no
 * extension, so the same script serves QXUdfLib.dll on Windows and libQXUdfLib.so on Linux;
 * the server looks for the module in the folders its UdfAccess setting allows.
 *
 * Every argument is passed by reference. Text results come from ib_util_malloc and are
 * declared FREE_IT so that the server frees them. The server clears every declared
 * argument buffer on each call, so text lengths are kept to what the data needs.
 * Add the NULL keyword after an argument to have an SQL NULL passed as a null pointer;
 * the functions read it as 0, 0.0 or the empty text.
 */

/* int32_t fn_setbit(const int32_t* a, const int32_t* mask): a OR mask */
DECLARE EXTERNAL FUNCTION fn_setbit
  INTEGER, INTEGER
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_setbit' MODULE_NAME 'QXUdfLib';

/* int32_t fn_clearbit(const int32_t* a, const int32_t* mask): a AND NOT mask */
DECLARE EXTERNAL FUNCTION fn_clearbit
  INTEGER, INTEGER
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_clearbit' MODULE_NAME 'QXUdfLib';

/* int32_t fn_checkbit(const int32_t* a, const int32_t* mask): 1 when a AND mask is not 0 */
DECLARE EXTERNAL FUNCTION fn_checkbit
  INTEGER, INTEGER
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_checkbit' MODULE_NAME 'QXUdfLib';

/* int32_t fn_minvalue(const int32_t* a, const int32_t* b) */
DECLARE EXTERNAL FUNCTION fn_minvalue
  INTEGER, INTEGER
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_minvalue' MODULE_NAME 'QXUdfLib';

/* int32_t fn_maxvalue(const int32_t* a, const int32_t* b) */
DECLARE EXTERNAL FUNCTION fn_maxvalue
  INTEGER, INTEGER
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_maxvalue' MODULE_NAME 'QXUdfLib';

/* double fn_incday(const double* date, const int32_t* days): date + days */
DECLARE EXTERNAL FUNCTION fn_incday
  DOUBLE PRECISION, INTEGER
  RETURNS DOUBLE PRECISION BY VALUE
  ENTRY_POINT 'fn_incday' MODULE_NAME 'QXUdfLib';

/* int32_t fn_factbedragbetaald(const int32_t* amount, const char* flag):
   amount when flag begins with "Y", else 0 */
DECLARE EXTERNAL FUNCTION fn_factbedragbetaald
  INTEGER, CSTRING(16)
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_factbedragbetaald' MODULE_NAME 'QXUdfLib';

/* int32_t fn_BoolStringToInt(const char* flags): a row of Y/N flags as a bit mask */
DECLARE EXTERNAL FUNCTION fn_BoolStringToInt
  CSTRING(64)
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'fn_BoolStringToInt' MODULE_NAME 'QXUdfLib';

/* char* fn_inttocnk(const int32_t* value): seven digits, zero padded */
DECLARE EXTERNAL FUNCTION fn_inttocnk
  INTEGER
  RETURNS CSTRING(12) FREE_IT
  ENTRY_POINT 'fn_inttocnk' MODULE_NAME 'QXUdfLib';

/* char* fn_formatDouble(const double* value): general format, 15 significant digits */
DECLARE EXTERNAL FUNCTION fn_formatDouble
  DOUBLE PRECISION
  RETURNS CSTRING(32) FREE_IT
  ENTRY_POINT 'fn_formatDouble' MODULE_NAME 'QXUdfLib';

/* char* fn_strReplace(const char* s, const char* old, const char* new) */
DECLARE EXTERNAL FUNCTION fn_strReplace
  CSTRING(4096), CSTRING(256), CSTRING(256)
  RETURNS CSTRING(8192) FREE_IT
  ENTRY_POINT 'fn_strReplace' MODULE_NAME 'QXUdfLib';

/* char* fn_GetBlobValue(BlobDescriptor* b, const char* name): value of name=value line */
DECLARE EXTERNAL FUNCTION fn_GetBlobValue
  BLOB, CSTRING(256)
  RETURNS CSTRING(4096) FREE_IT
  ENTRY_POINT 'fn_GetBlobValue' MODULE_NAME 'QXUdfLib';

/* BlobDescriptor* fn_TrimRTF(BlobDescriptor* in, BlobDescriptor* out):
   the rich text unchanged, or an empty blob when it displays nothing visible */
DECLARE EXTERNAL FUNCTION fn_TrimRTF
  BLOB, BLOB
  RETURNS PARAMETER 2
  ENTRY_POINT 'fn_TrimRTF' MODULE_NAME 'QXUdfLib';
