#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "sql_functions.h"

namespace qx {

namespace {

// The exact decimal expansion of a finite double has at most 767 significant digits.
constexpr int kExactPrecision = 770;
// Digits that must be known exactly: 18 kept plus the one that decides their rounding.
constexpr int kNeeded = 19;

struct Digits {
  char d[kNeeded];  // the first 19 significant digits of the exact value, truncated
  int exponent;     // decimal exponent of d[0]: value = d0.d1d2... * 10^exponent
};

// Writes the value in scientific notation with the given number of fraction digits and
// takes its first kNeeded digits. Returns false when rounding of the printed form may have
// carried into those digits (everything after them printed as zeros).
bool ScientificDigits(double magnitude, int precision, Digits& out, bool requireExact) {
  char buf[kExactPrecision + 32];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                           precision);
  *res.ptr = '\0';
  const char* p = buf;
  int n = 0;
  out.d[n++] = *p++;
  if (*p == '.') ++p;
  while (n < kNeeded && *p >= '0' && *p <= '9') out.d[n++] = *p++;
  while (n < kNeeded) out.d[n++] = '0';
  bool restZero = true;
  while (*p >= '0' && *p <= '9') {
    if (*p != '0') restZero = false;
    ++p;
  }
  out.exponent = std::atoi(p + 1);  // p points at 'e'
  return requireExact || !restZero;
}

// Decimal places of the exact value: a double m * 2^e with m odd and e < 0 ends exactly
// -e places after the point.
int ExactFractionDigits(double magnitude) {
  int exp2 = 0;
  double fraction = std::frexp(magnitude, &exp2);
  auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int e = exp2 - 53;
  while (mantissa != 0 && (mantissa & 1) == 0 && e < 0) {
    mantissa >>= 1;
    ++e;
  }
  return e < 0 ? -e : 0;
}

}  // namespace

std::string FormatDouble(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  const double magnitude = std::fabs(value);
  Digits exact;
  // Thirty-one printed digits decide the first nineteen unless the tail printed as zeros,
  // which may hide a carry. Zeros are real when the whole exact value fits in those 31
  // digits; otherwise the full expansion is written.
  if (!ScientificDigits(magnitude, 30, exact, false) &&
      exact.exponent + 1 + ExactFractionDigits(magnitude) > 31) {
    ScientificDigits(magnitude, kExactPrecision, exact, true);
  }

  // Round half up to 18 digits, then to 15 by the 16th of those.
  int digits[kNeeded];
  for (int i = 0; i < kNeeded; ++i) digits[i] = exact.d[i] - '0';
  int x = exact.exponent + 1;  // value = 0.d1d2... * 10^x
  auto roundAt = [&](int keep) {
    bool up = digits[keep] >= 5;
    for (int i = keep; i < kNeeded; ++i) digits[i] = 0;
    for (int i = keep - 1; up && i >= 0; --i) {
      if (++digits[i] == 10) {
        digits[i] = 0;
      } else {
        up = false;
      }
    }
    if (up) {  // carried out of the first digit: a single 1 one decade higher
      digits[0] = 1;
      for (int i = 1; i < keep; ++i) digits[i] = 0;
      ++x;
    }
  };
  roundAt(18);
  roundAt(15);

  int count = 15;
  while (count > 1 && digits[count - 1] == 0) --count;

  std::string text;
  text.reserve(32);
  if (value < 0) text.push_back('-');
  if (x >= -3 && x <= 15) {
    if (x <= 0) {
      text.push_back('0');
      text.push_back(decimalSeparator);
      text.append(static_cast<size_t>(-x), '0');
      for (int i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + digits[i]));
    } else {
      for (int i = 0; i < x; ++i) text.push_back(static_cast<char>('0' + (i < count ? digits[i] : 0)));
      if (count > x) {
        text.push_back(decimalSeparator);
        for (int i = x; i < count; ++i) text.push_back(static_cast<char>('0' + digits[i]));
      }
    }
  } else {
    text.push_back(static_cast<char>('0' + digits[0]));
    if (count > 1) {
      text.push_back(decimalSeparator);
      for (int i = 1; i < count; ++i) text.push_back(static_cast<char>('0' + digits[i]));
    }
    text.push_back('E');
    int e = x - 1;
    if (e < 0) {
      text.push_back('-');
      e = -e;
    }
    char expDigits[8];
    int n = 0;
    do {
      expDigits[n++] = static_cast<char>('0' + e % 10);
      e /= 10;
    } while (e != 0);
    for (int pad = n; pad < 3; ++pad) text.push_back('0');
    while (n > 0) text.push_back(expDigits[--n]);
  }
  return text;
}

}  // namespace qx
