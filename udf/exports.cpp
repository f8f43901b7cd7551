// The SQL functions' export table. Each export takes the server's pointers, treats a null
// pointer (an SQL NULL passed under the NULL keyword) as 0, 0.0 or the empty text, runs
// the portable algorithm and hands the result back the way the server expects.
#include <new>
#include <string>

#include "blob_io.h"
#include "exports.h"
#include "platform.h"
#include "sql_functions.h"
#include "udf_failure.h"

namespace {

int32_t IntArg(const int32_t* p) { return p != nullptr ? *p : 0; }
double DoubleArg(const double* p) { return p != nullptr ? *p : 0.0; }
const char* TextArg(const char* p) { return p != nullptr ? p : ""; }

// Runs one call; no C++ exception may leave it. The catch clause ends (and the exception
// object with its strings is freed) before the failure is raised to the server.
template <class Body>
auto Guarded(Body&& body) -> decltype(body()) {
  qx::UdfFailure failure;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    failure = qx::UdfFailure::kOutOfMemory;
  } catch (const qx::RichTextFailure&) {
    failure = qx::UdfFailure::kRichTextControl;
  } catch (...) {
    failure = qx::UdfFailure::kInternal;
  }
  qx::RaiseUdfFailure(failure);
  return {};  // reached only where the server takes a null result as the failure (Linux)
}

bool NameEquals(std::string_view a, std::string_view b) {
  return qx::NamesEqualIgnoringCase(a, b);
}

}  // namespace

extern "C" {

int32_t QX_CDECL fn_setbit(const int32_t* a, const int32_t* mask) {
  return qx::SetBit(IntArg(a), IntArg(mask));
}

int32_t QX_CDECL fn_clearbit(const int32_t* a, const int32_t* mask) {
  return qx::ClearBit(IntArg(a), IntArg(mask));
}

int32_t QX_CDECL fn_checkbit(const int32_t* a, const int32_t* mask) {
  return qx::CheckBit(IntArg(a), IntArg(mask));
}

int32_t QX_CDECL fn_minvalue(const int32_t* a, const int32_t* b) {
  return qx::MinValue(IntArg(a), IntArg(b));
}

int32_t QX_CDECL fn_maxvalue(const int32_t* a, const int32_t* b) {
  return qx::MaxValue(IntArg(a), IntArg(b));
}

double QX_CDECL fn_incday(const double* date, const int32_t* days) {
  return qx::IncDay(DoubleArg(date), IntArg(days));
}

int32_t QX_CDECL fn_factbedragbetaald(const int32_t* amount, const char* flag) {
  return qx::FactBedragBetaald(IntArg(amount), TextArg(flag));
}

int32_t QX_CDECL fn_BoolStringToInt(const char* flags) {
  return qx::BoolStringToInt(TextArg(flags));
}

char* QX_CDECL fn_inttocnk(const int32_t* value) {
  return Guarded([&] { return qx::ToServerString(qx::IntToCnk(IntArg(value))); });
}

char* QX_CDECL fn_formatDouble(const double* value) {
  return Guarded([&] {
    return qx::ToServerString(qx::FormatDouble(DoubleArg(value), qx::DecimalSeparator()));
  });
}

char* QX_CDECL fn_strReplace(const char* s, const char* oldText, const char* newText) {
  return Guarded([&] {
    return qx::ToServerString(qx::StrReplace(TextArg(s), TextArg(oldText), TextArg(newText),
                                             qx::LeadBytePredicateForSystem()));
  });
}

char* QX_CDECL fn_GetBlobValue(const BlobDescriptor* blob, const char* name) {
  return Guarded([&] {
    return qx::ToServerString(qx::GetBlobValue(qx::BlobToString(blob), TextArg(name), NameEquals));
  });
}

BlobDescriptor* QX_CDECL fn_TrimRTF(const BlobDescriptor* in, BlobDescriptor* out) {
  BlobDescriptor* result = Guarded([&] {
    std::string text = qx::BlobToString(in);
    if (!text.empty() && qx::RichTextIsBlank(text)) text.clear();
    qx::StringToBlob(out, text.data(), text.size());
    return out;
  });
  // A failure that returns (Linux) leaves the output blob without a handle: SQL NULL.
  if (result == nullptr && out != nullptr) out->blobHandle = nullptr;
  return result;
}

}  // extern "C"
