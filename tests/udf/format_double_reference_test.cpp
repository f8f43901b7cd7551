// fn_formatDouble against an independent reference: the exact decimal expansion of the
// double computed with big-number arithmetic here, rounded half up at the 18th and then
// at the 16th significant digit, laid out by the rules of the "%g" rendering.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "udf_test_support.h"

using qxtest::TakeText;
using qxtest::Udf;

namespace {

// Decimal digits of m * 2^e2 * 5^e5 (non-negative exponents), most significant first.
std::string BigDecimal(uint64_t m, int e2, int e5) {
  std::vector<uint32_t> limbs;  // base 1e9, least significant first
  while (m != 0) {
    limbs.push_back(static_cast<uint32_t>(m % 1000000000u));
    m /= 1000000000u;
  }
  auto multiply = [&](uint32_t k) {
    uint64_t carry = 0;
    for (auto& limb : limbs) {
      uint64_t v = static_cast<uint64_t>(limb) * k + carry;
      limb = static_cast<uint32_t>(v % 1000000000u);
      carry = v / 1000000000u;
    }
    while (carry != 0) {
      limbs.push_back(static_cast<uint32_t>(carry % 1000000000u));
      carry /= 1000000000u;
    }
  };
  for (; e2 >= 29; e2 -= 29) multiply(1u << 29);
  if (e2 > 0) multiply(1u << e2);
  for (; e5 >= 13; e5 -= 13) multiply(1220703125u);  // 5^13
  for (; e5 > 0; --e5) multiply(5);
  std::string digits = std::to_string(limbs.back());
  char part[16];
  for (size_t i = limbs.size() - 1; i-- > 0;) {
    std::snprintf(part, sizeof part, "%09u", limbs[i]);
    digits += part;
  }
  return digits;
}

// Adds one at the last digit of a digit string; returns true when it grew a digit.
bool Increment(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  return true;
}

std::string Reference(double x) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  if (x == 0) return "0";
  int exp2;
  double frac = std::frexp(std::fabs(x), &exp2);            // x = frac * 2^exp2
  uint64_t mant = static_cast<uint64_t>(std::ldexp(frac, 64 - 11));  // 53 bits
  int e = exp2 - 53;
  while (mant % 2 == 0 && e < 0) {
    mant /= 2;
    ++e;
  }
  // value = mant * 2^e = digits * 10^pointShift
  std::string digits;
  int pointShift;
  if (e >= 0) {
    digits = BigDecimal(mant, e, 0);
    pointShift = 0;
  } else {
    digits = BigDecimal(mant, 0, -e);  // mant * 5^-e / 10^-e
    pointShift = e;
  }
  int x10 = static_cast<int>(digits.size()) + pointShift;  // value = 0.digits * 10^x10
  digits.resize(std::max<size_t>(digits.size(), 19), '0');
  std::string r18 = digits.substr(0, 18);
  if (digits[18] >= '5' && Increment(r18)) {
    r18.pop_back();
    ++x10;
  }
  std::string r15 = r18.substr(0, 15);
  if (r18[15] >= '5' && Increment(r15)) {
    r15.pop_back();
    ++x10;
  }
  while (r15.size() > 1 && r15.back() == '0') r15.pop_back();

  std::string out = x < 0 ? "-" : "";
  if (x10 >= -3 && x10 <= 15) {
    if (x10 <= 0) {
      out += "0." + std::string(-x10, '0') + r15;
    } else if (static_cast<int>(r15.size()) <= x10) {
      out += r15 + std::string(x10 - r15.size(), '0');
    } else {
      out += r15.substr(0, x10) + "." + r15.substr(x10);
    }
  } else {
    out += r15.substr(0, 1);
    if (r15.size() > 1) out += "." + r15.substr(1);
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, "E%s%03d", x10 - 1 < 0 ? "-" : "", std::abs(x10 - 1));
    out += exponent;
  }
  return out;
}

std::string Fmt(double v) { return TakeText(Udf().formatDouble(&v)); }

TEST(FormatDoubleReference, ReferenceAgreesWithTheTable) {
  EXPECT_EQ(Reference(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(Reference(1234567890123456.0), "1.23456789012346E015");
  EXPECT_EQ(Reference(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
  EXPECT_EQ(Reference(0.00001), "1E-005");
}

TEST(FormatDoubleReference, RandomBitPatterns) {
  std::mt19937_64 rng(20261208);
  int mismatches = 0;
  for (int i = 0; i < 20000 && mismatches < 10; ++i) {
    uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    std::string expected = Reference(x);
    std::string actual = Fmt(x);
    if (expected != actual) {
      ++mismatches;
      ADD_FAILURE() << "bits " << std::hex << bits << ": expected " << expected << ", got "
                    << actual;
    }
  }
}

// Values whose 16th or 19th significant digit sits at or near a rounding boundary, and
// values across the fixed/scientific switch.
TEST(FormatDoubleReference, RoundingBoundariesAndDecades) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> mantissa(100000000000000LL, 999999999999999LL);
  std::uniform_int_distribution<int> decade(-330, 310);
  int mismatches = 0;
  for (int i = 0; i < 20000 && mismatches < 10; ++i) {
    // d1..d15 followed by 5 (or 4/6) as the 16th digit.
    const int tail = 4 + static_cast<int>(rng() % 3);
    const std::string literal = std::to_string(mantissa(rng)) + std::to_string(tail) + "e" +
                                std::to_string(decade(rng));
    double x = std::strtod(literal.c_str(), nullptr);  // may underflow to a subnormal or 0
    if (rng() % 2) x = -x;
    std::string expected = Reference(x);
    std::string actual = Fmt(x);
    if (expected != actual) {
      ++mismatches;
      ADD_FAILURE() << x << ": expected " << expected << ", got " << actual;
    }
  }
  // Values whose exact expansion is short (the printed tail is genuinely zero).
  for (int i = 1; i < 3000; i += 7) {
    for (double x : {i * 0.25, i * 1024.0, std::ldexp(i, 60), std::ldexp(i, -20), i / 8.0 + 1e15}) {
      EXPECT_EQ(Fmt(x), Reference(x)) << x;
    }
  }
  for (int p = -12; p <= 20; ++p) {
    for (double base : {1.0, 9.999999999999995, 5.0, 1.0000000000000004}) {
      double x = base * std::pow(10.0, p);
      EXPECT_EQ(Fmt(x), Reference(x)) << x;
    }
  }
}

}  // namespace
