// The thirteen SQL functions as the server calls them: C calling convention, every
// argument by reference, text results in ib_util_malloc blocks the server frees.
#pragma once

#include <cstdint>

#include "host_contract.h"

extern "C" {
int32_t QX_CDECL fn_setbit(const int32_t* a, const int32_t* mask);
int32_t QX_CDECL fn_clearbit(const int32_t* a, const int32_t* mask);
int32_t QX_CDECL fn_checkbit(const int32_t* a, const int32_t* mask);
int32_t QX_CDECL fn_minvalue(const int32_t* a, const int32_t* b);
int32_t QX_CDECL fn_maxvalue(const int32_t* a, const int32_t* b);
double QX_CDECL fn_incday(const double* date, const int32_t* days);
int32_t QX_CDECL fn_factbedragbetaald(const int32_t* amount, const char* flag);
int32_t QX_CDECL fn_BoolStringToInt(const char* flags);
char* QX_CDECL fn_inttocnk(const int32_t* value);
char* QX_CDECL fn_formatDouble(const double* value);
char* QX_CDECL fn_strReplace(const char* s, const char* oldText, const char* newText);
char* QX_CDECL fn_GetBlobValue(const BlobDescriptor* blob, const char* name);
BlobDescriptor* QX_CDECL fn_TrimRTF(const BlobDescriptor* in, BlobDescriptor* out);
}
