// Windows services of the SQL functions: the locale, name comparison and the code page.
#include <windows.h>

#include "platform.h"
#include "udf_failure.h"

namespace qx {

namespace {
char g_decimalSeparator = '.';

bool IsSystemLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }
}  // namespace

void ReadLocaleSettings() {
  char buffer[8] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buffer, sizeof buffer) > 1 &&
      buffer[0] != '\0') {
    g_decimalSeparator = buffer[0];
  } else {
    g_decimalSeparator = '.';
  }
}

char DecimalSeparator() { return g_decimalSeparator; }

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() > 0x7fffffff || b.size() > 0x7fffffff) return false;
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool (*LeadBytePredicateForSystem())(unsigned char) {
  CPINFO info;
  if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1) return IsSystemLeadByte;
  return nullptr;
}

void RaiseUdfFailure(UdfFailure kind) {
  ULONG_PTR argument = static_cast<ULONG_PTR>(kind);
  RaiseException(kUdfFailureCode, EXCEPTION_NONCONTINUABLE, 1, &argument);
  // A non-continuable exception never comes back; should a handler try, stop here.
  TerminateProcess(GetCurrentProcess(), kUdfFailureCode);
  for (;;) {
  }
}

}  // namespace qx
