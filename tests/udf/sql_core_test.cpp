// The portable algorithms where the platform services matter: double-byte trail bytes,
// case rules supplied by the caller, and the linear-time replacement on hostile input.
#include <gtest/gtest.h>

#include <string>

#include "sql_functions.h"

namespace {

// A stand-in for a double-byte code page: bytes 0x81..0x9f begin a two-byte character.
bool FakeLeadByte(unsigned char c) { return c >= 0x81 && c <= 0x9f; }

TEST(StrReplaceDoubleByte, MatchOnATrailByteIsSkipped) {
  // "\x82\x41" is one character whose second byte is 'A'; the lone 'A' after it is a match.
  const std::string s = "\x82" "A" "A";
  EXPECT_EQ(qx::StrReplace(s, "A", "x", FakeLeadByte), "\x82" "A" "x");
  EXPECT_EQ(qx::StrReplace(s, "A", "x", nullptr), "\x82" "x" "x");
  // A match starting on a lead byte is fine.
  EXPECT_EQ(qx::StrReplace("a\x82" "Ab", "\x82" "A", "-", FakeLeadByte), "a-b");
  // After a rejected match the search goes on and finds an overlapping one.
  EXPECT_EQ(qx::StrReplace("\x82" "AAB", "AB", "#", FakeLeadByte), "\x82" "A#");
  // Two lead bytes in a row: the second is a trail byte, the third byte is a boundary again.
  EXPECT_EQ(qx::StrReplace("\x82\x82" "A", "A", "x", FakeLeadByte), "\x82\x82" "x");
  EXPECT_EQ(qx::StrReplace("\x82\x82\x82" "A", "A", "x", FakeLeadByte), "\x82\x82\x82" "A");
}

TEST(StrReplaceLinear, PathologicalPatternsGiveTheNaiveResult) {
  // A naive search would compare the pattern's length at every position here.
  const std::string s(200000, 'a');
  const std::string pattern = std::string(1000, 'a') + "b";
  EXPECT_EQ(qx::StrReplace(s, pattern, "x"), s);
  const std::string s2 = std::string(5000, 'a') + "b" + std::string(3000, 'a') + "b";
  EXPECT_EQ(qx::StrReplace(s2, std::string(3000, 'a') + "b", "X"),
            std::string(2000, 'a') + "X" + "X");
}

TEST(GetBlobValueCore, UsesTheSuppliedComparison) {
  int calls = 0;
  auto exact = [&](std::string_view a, std::string_view b) {
    ++calls;
    return a == b;
  };
  EXPECT_EQ(qx::GetBlobValue("A=1\r\na=2", "a", exact), "2");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(qx::GetBlobValue("nokey\r\nA=1", "A", exact), "1");
  EXPECT_EQ(calls, 3);  // a line without "=" is never compared
}

TEST(HasVisibleText, ControlBytesAndSpacesAreBlank) {
  EXPECT_FALSE(qx::HasVisibleText(""));
  EXPECT_FALSE(qx::HasVisibleText(std::string(" \t\r\n\x01\x1f ", 7)));
  EXPECT_TRUE(qx::HasVisibleText("\xa0"));
  EXPECT_TRUE(qx::HasVisibleText("  !"));
}

}  // namespace
