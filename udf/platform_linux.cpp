// Linux services of the SQL functions: the locale, name comparison and failure reports.
// The engine loads us into its own process, so the locale is the one its environment
// names (LC_ALL, LC_NUMERIC, LC_CTYPE, LANG), whatever setlocale the engine itself did or
// did not call.
#include <locale.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform.h"
#include "platform_linux.h"
#include "sql_functions.h"
#include "udf_failure.h"

namespace qx {

namespace {

char g_decimalSeparator = '.';
// Case rules for fn_GetBlobValue's names; the "C" locale when the environment names none
// that exists.
locale_t g_nameLocale = nullptr;
std::atomic<unsigned> g_failureCount{0};

char ReadDecimalSeparator() {
  locale_t numeric = newlocale(LC_NUMERIC_MASK, "", nullptr);
  if (numeric == nullptr) return '.';
  locale_t previous = uselocale(numeric);
  const lconv* conventions = localeconv();
  // Only a one-byte separator can be the one character the format writes; a multi-byte
  // one (as some UTF-8 locales have) falls back to '.'.
  char separator = '.';
  if (conventions != nullptr && conventions->decimal_point != nullptr &&
      conventions->decimal_point[0] != '\0' && conventions->decimal_point[1] == '\0') {
    separator = conventions->decimal_point[0];
  }
  uselocale(previous);
  freelocale(numeric);
  return separator;
}

}  // namespace

void ReadLocaleSettings() {
  g_decimalSeparator = ReadDecimalSeparator();
  if (g_nameLocale == nullptr) {
    g_nameLocale = newlocale(LC_CTYPE_MASK, "", nullptr);
    if (g_nameLocale == nullptr) g_nameLocale = newlocale(LC_CTYPE_MASK, "C", nullptr);
  }
}

void ReleaseLocaleSettings() {
  if (g_nameLocale != nullptr) {
    freelocale(g_nameLocale);
    g_nameLocale = nullptr;
  }
}

char DecimalSeparator() { return g_decimalSeparator; }

// Byte by byte through the locale's tolower: a single-byte locale (ISO-8859-x) folds its
// accented letters too, a UTF-8 locale folds only ASCII letters, so "Ä" and "ä" written in
// UTF-8 are different names there.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  size_t i = 0;
  while (i < a.size()) {
    // strncasecmp_l stops at a zero byte, so zero bytes are compared here.
    if (a[i] == '\0' || b[i] == '\0') {
      if (a[i] != b[i]) return false;
      ++i;
      continue;
    }
    const size_t run = std::min(strnlen(a.data() + i, a.size() - i),
                                strnlen(b.data() + i, b.size() - i));
    const int order = g_nameLocale != nullptr
                          ? strncasecmp_l(a.data() + i, b.data() + i, run, g_nameLocale)
                          : strncasecmp(a.data() + i, b.data() + i, run);
    if (order != 0) return false;
    i += run;
  }
  return true;
}

// Linux has no system-wide double-byte code page: every byte may begin a match.
bool (*LeadBytePredicateForSystem())(unsigned char) { return nullptr; }

void RaiseUdfFailure(UdfFailure kind) {
  (void)kind;
  g_failureCount.fetch_add(1, std::memory_order_relaxed);
}

unsigned UdfFailureCount() { return g_failureCount.load(std::memory_order_relaxed); }

void PlatformStartup() { ReadLocaleSettings(); }

void PlatformShutdown() { ReleaseLocaleSettings(); }

// The reader needs no control, so the plain text always answers.
bool RichTextIsBlank(const std::string& richText, std::string*) {
  return !HasVisibleText(RichTextToPlain(richText));
}

}  // namespace qx
