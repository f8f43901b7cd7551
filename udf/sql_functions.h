// The algorithms of the thirteen SQL functions, free of any server or Windows call. The
// few things that depend on the platform (case-insensitive comparison by the user's locale,
// double-byte lead bytes, the rich-text control) come in as parameters, so the same code
// runs in the Windows module, in a native Linux build and in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qx {

int32_t SetBit(int32_t a, int32_t mask);
int32_t ClearBit(int32_t a, int32_t mask);
int32_t CheckBit(int32_t a, int32_t mask);
int32_t MinValue(int32_t a, int32_t b);
int32_t MaxValue(int32_t a, int32_t b);
double IncDay(double date, int32_t days);
int32_t FactBedragBetaald(int32_t amount, const char* flag);
int32_t BoolStringToInt(const char* flags);

// "%7.7d": at least seven digits, zero padded, "-" in front of negative values.
std::string IntToCnk(int32_t value);

// "%g" with 15 significant digits: the exact value is rounded half up to 18 significant
// digits and then to 15; fixed notation for decimal exponents -3..15, else "dE±ddd".
std::string FormatDouble(double value, char decimalSeparator);

// Tells whether a byte begins a double-byte character in the system code page.
using LeadBytePredicate = bool (*)(unsigned char);

// Replaces every occurrence of oldText, left to right, never re-searching inserted text.
// A match beginning on the trail byte of a double-byte character does not count. Runs in
// time linear in |s| + |oldText| + |result|.
std::string StrReplace(std::string_view s, std::string_view oldText, std::string_view newText,
                       LeadBytePredicate isLeadByte = nullptr);

// Compares a line's name part with the requested name, ignoring letter case.
using NameEqualsFn = std::function<bool(std::string_view, std::string_view)>;

// The value of the first name=value line whose name equals name, or the empty text.
std::string GetBlobValue(std::string_view blobText, std::string_view name,
                         const NameEqualsFn& nameEquals);

// True when a displayed text holds at least one byte above 32.
bool HasVisibleText(std::string_view plainText);

}  // namespace qx
