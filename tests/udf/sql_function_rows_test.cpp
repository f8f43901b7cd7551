// Every row of the functions' edge-case tables, called through the module's export table
// with arguments by reference and text results read from server blocks.
#include <cfloat>
#include <cmath>
#include <limits>

#include "udf_test_support.h"

using qxtest::TakeText;
using qxtest::Udf;

namespace {

int32_t Int2(int32_t(__cdecl* f)(const int32_t*, const int32_t*), int32_t a, int32_t b) {
  return f(&a, &b);
}

std::string Cnk(int32_t v) { return TakeText(Udf().inttocnk(&v)); }
std::string Fmt(double v) { return TakeText(Udf().formatDouble(&v)); }
std::string Replace(const char* s, const char* o, const char* n) {
  return TakeText(Udf().strReplace(s, o, n));
}
int32_t Flags(const std::string& s) { return Udf().BoolStringToInt(s.c_str()); }
int32_t Paid(int32_t amount, const char* flag) { return Udf().factbedragbetaald(&amount, flag); }

TEST(BitFunctions, MaskSemantics) {
  EXPECT_EQ(Int2(Udf().setbit, 5, 2), 7);
  EXPECT_EQ(Int2(Udf().setbit, 5, 0), 5);
  EXPECT_EQ(Int2(Udf().clearbit, 7, 2), 5);
  EXPECT_EQ(Int2(Udf().clearbit, -1, 1), -2);
  EXPECT_EQ(Int2(Udf().checkbit, 5, 4), 1);
  EXPECT_EQ(Int2(Udf().checkbit, 5, 2), 0);
  EXPECT_EQ(Int2(Udf().checkbit, 5, 6), 1);
  for (int32_t x : {0, 1, -1, 12345, std::numeric_limits<int32_t>::min()}) {
    EXPECT_EQ(Int2(Udf().checkbit, x, 0), 0) << x;
  }
  EXPECT_EQ(Int2(Udf().checkbit, std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::min()), 1);
}

TEST(MinMax, SignedComparison) {
  EXPECT_EQ(Int2(Udf().minvalue, 3, -1), -1);
  EXPECT_EQ(Int2(Udf().minvalue, 4, 4), 4);
  EXPECT_EQ(Int2(Udf().maxvalue, -5, -7), -5);
  EXPECT_EQ(Int2(Udf().maxvalue, std::numeric_limits<int32_t>::min(), 0), 0);
  EXPECT_EQ(Int2(Udf().minvalue, std::numeric_limits<int32_t>::max(), -1), -1);
}

TEST(IncDay, KeepsTheTimeOfDay) {
  double d = 100.25;
  int32_t n = 3;
  EXPECT_EQ(Udf().incday(&d, &n), 103.25);
  n = -101;
  EXPECT_EQ(Udf().incday(&d, &n), -0.75);
  d = 45000.5;
  n = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(Udf().incday(&d, &n), 45000.5 - 2147483648.0);
}

TEST(FactBedragBetaald, OnlyAnUpperCaseYCounts) {
  EXPECT_EQ(Paid(1500, "Y"), 1500);
  EXPECT_EQ(Paid(1500, "YES"), 1500);
  EXPECT_EQ(Paid(1500, "y"), 0);
  EXPECT_EQ(Paid(1500, "N"), 0);
  EXPECT_EQ(Paid(1500, ""), 0);
  EXPECT_EQ(Paid(1500, " Y"), 0);
  EXPECT_EQ(Paid(-20, "Y"), -20);
}

TEST(BoolStringToInt, FlagsReadAsBinaryWithWrapAround) {
  EXPECT_EQ(Flags(""), 0);
  EXPECT_EQ(Flags("Y"), 1);
  EXPECT_EQ(Flags("N"), 0);
  EXPECT_EQ(Flags("YN"), 2);
  EXPECT_EQ(Flags("NY"), 1);
  EXPECT_EQ(Flags("YNY"), 5);
  EXPECT_EQ(Flags("YYYY"), 15);
  EXPECT_EQ(Flags("yY"), 1);
  EXPECT_EQ(Flags("Y1Y"), 5);
  EXPECT_EQ(Flags(std::string(32, 'Y')), -1);
  EXPECT_EQ(Flags("Y" + std::string(31, 'N')), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Flags(std::string(33, 'Y')), 0);
  EXPECT_EQ(Flags("Y" + std::string(32, 'N')), 1);
}

TEST(IntToCnk, SevenDigitsZeroPadded) {
  EXPECT_EQ(Cnk(0), "0000000");
  EXPECT_EQ(Cnk(42), "0000042");
  EXPECT_EQ(Cnk(1234567), "1234567");
  EXPECT_EQ(Cnk(12345678), "12345678");
  EXPECT_EQ(Cnk(-42), "-0000042");
  EXPECT_EQ(Cnk(-1234567), "-1234567");
  EXPECT_EQ(Cnk(2147483647), "2147483647");
  EXPECT_EQ(Cnk(std::numeric_limits<int32_t>::min()), "-2147483648");
}

TEST(FormatDouble, TableRows) {
  EXPECT_EQ(Fmt(0.1), "0.1");
  EXPECT_EQ(Fmt(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(Fmt(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(Fmt(0.1 + 0.2), "0.3");
  EXPECT_EQ(Fmt(-1.5), "-1.5");
  EXPECT_EQ(Fmt(100), "100");
  EXPECT_EQ(Fmt(45000.75), "45000.75");
  EXPECT_EQ(Fmt(999999999999999.0), "999999999999999");
  EXPECT_EQ(Fmt(1E15), "1E015");
  EXPECT_EQ(Fmt(1234567890123456.0), "1.23456789012346E015");
  EXPECT_EQ(Fmt(1.5E20), "1.5E020");
  EXPECT_EQ(Fmt(1E300), "1E300");
  EXPECT_EQ(Fmt(0.0001), "0.0001");
  EXPECT_EQ(Fmt(0.000123), "0.000123");
  EXPECT_EQ(Fmt(0.00001), "1E-005");
  EXPECT_EQ(Fmt(1E-300), "1E-300");
  EXPECT_EQ(Fmt(DBL_MAX), "1.79769313486232E308");
  EXPECT_EQ(Fmt(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
  EXPECT_EQ(Fmt(0.0), "0");
  EXPECT_EQ(Fmt(-0.0), "0");
}

TEST(FormatDouble, SpecialValuesAndCarries) {
  EXPECT_EQ(Fmt(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(Fmt(-std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(Fmt(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(Fmt(-std::numeric_limits<double>::infinity()), "-INF");
  // 9.999999999999999 rounds to 10 at 15 digits: the carry moves one decade up.
  EXPECT_EQ(Fmt(9.999999999999999), "10");
  EXPECT_EQ(Fmt(999999999999999.9), "1E015");
  EXPECT_EQ(Fmt(0.00009999999999999999), "0.0001");
  EXPECT_EQ(Fmt(-123456789012345678.0), "-1.23456789012346E017");
  EXPECT_EQ(Fmt(1E100), "1E100");
  EXPECT_EQ(Fmt(1.25E-5), "1.25E-005");
  EXPECT_EQ(Fmt(123456.789), "123456.789");
}

TEST(StrReplace, TableRows) {
  EXPECT_EQ(Replace("abcabc", "b", "XY"), "aXYcaXYc");
  EXPECT_EQ(Replace("banana", "ana", "x"), "bxna");
  EXPECT_EQ(Replace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Replace("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(Replace("aAa", "a", "b"), "bAb");
  EXPECT_EQ(Replace("abc", "c", "X"), "abX");
  EXPECT_EQ(Replace("abc", "abc", ""), "");
  EXPECT_EQ(Replace("abc", "", "x"), "abc");
  EXPECT_EQ(Replace("", "a", "b"), "");
  EXPECT_EQ(Replace("aabaabaab", "aab", "-"), "---");
  EXPECT_EQ(Replace("abababx", "ababx", "!"), "ab!");
}

// An SQL NULL passed under the NULL keyword arrives as a null pointer.
TEST(NullArguments, ReadAsZeroOrEmpty) {
  const auto& f = Udf();
  int32_t five = 5;
  EXPECT_EQ(f.setbit(nullptr, &five), 5);
  EXPECT_EQ(f.setbit(&five, nullptr), 5);
  EXPECT_EQ(f.checkbit(nullptr, nullptr), 0);
  EXPECT_EQ(f.minvalue(nullptr, &five), 0);
  EXPECT_EQ(f.maxvalue(&five, nullptr), 5);
  double d = 1.5;
  EXPECT_EQ(f.incday(nullptr, &five), 5.0);
  EXPECT_EQ(f.incday(&d, nullptr), 1.5);
  EXPECT_EQ(f.factbedragbetaald(nullptr, "Y"), 0);
  EXPECT_EQ(f.factbedragbetaald(&five, nullptr), 0);
  EXPECT_EQ(f.BoolStringToInt(nullptr), 0);
  EXPECT_EQ(TakeText(f.inttocnk(nullptr)), "0000000");
  EXPECT_EQ(TakeText(f.formatDouble(nullptr)), "0");
  EXPECT_EQ(TakeText(f.strReplace(nullptr, "a", "b")), "");
  EXPECT_EQ(TakeText(f.strReplace("abc", nullptr, "x")), "abc");
  EXPECT_EQ(TakeText(f.strReplace("abc", "b", nullptr)), "ac");
  EXPECT_EQ(TakeText(f.GetBlobValue(nullptr, nullptr)), "");
}

TEST(TextResults, EmptyResultIsOneZeroByte) {
  char* block = Udf().strReplace("abc", "abc", "");
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ib_util_block_size(block), 1);
  EXPECT_EQ(block[0], '\0');
  ib_util_free(block);
}

}  // namespace
