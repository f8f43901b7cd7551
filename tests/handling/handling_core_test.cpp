// The pipeline's rules on numbers and text: repeat rule, history, class lists, names.
#include <gtest/gtest.h>

#include "handling_core.h"

namespace qx {
namespace {

ExceptionHistory Filled(uint64_t newest, uint64_t step, int count) {
  ExceptionHistory history;
  for (int i = count - 1; i >= 0; --i) ShiftHistory(history, newest - step * i);
  return history;
}

TEST(RepeatRule, ZeroNeverOneAlwaysHolds) {
  ExceptionHistory empty;
  EXPECT_FALSE(RepeatRuleHolds(0, Filled(1000, 0, 10), 1000));
  EXPECT_TRUE(RepeatRuleHolds(1, empty, 1000));
}

TEST(RepeatRule, TenWithinTheSpanHoldNineDoNot) {
  uint64_t now = 13000000000ull;
  // Ten exceptions one second apart: the oldest is 9 s old.
  EXPECT_TRUE(RepeatRuleHolds(9, Filled(now, 1, 10), now));
  EXPECT_TRUE(RepeatRuleHolds(5, Filled(now, 0, 10), now + 5));
  EXPECT_FALSE(RepeatRuleHolds(5, Filled(now, 0, 10), now + 6));
  EXPECT_FALSE(RepeatRuleHolds(8, Filled(now, 1, 10), now));
  EXPECT_FALSE(RepeatRuleHolds(60, Filled(now, 1, 9), now));
}

TEST(RepeatRule, EleventhExceptionPushesTheOldestOut) {
  uint64_t now = 13000000000ull;
  ExceptionHistory history = Filled(now - 100, 0, 10);  // ten long ago
  EXPECT_FALSE(RepeatRuleHolds(60, history, now));
  for (int i = 0; i < 9; ++i) ShiftHistory(history, now);
  EXPECT_FALSE(RepeatRuleHolds(60, history, now));  // one old stamp left
  ShiftHistory(history, now);
  EXPECT_TRUE(RepeatRuleHolds(60, history, now));
  EXPECT_EQ(history.stamps[0], now);
}

TEST(ClassList, ItemsLoseTheirBlanksAndEmptyItemsGo) {
  EXPECT_EQ(SplitClassList("  EDBEditError ,EFoo,, \tEBar  "),
            (std::vector<std::string>{"EDBEditError", "EFoo", "EBar"}));
  EXPECT_TRUE(SplitClassList("").empty());
  EXPECT_TRUE(SplitClassList(" , ").empty());
  EXPECT_EQ(SplitClassList("E A"), (std::vector<std::string>{"E A"}));
}

TEST(ObjectNames, ProcessIdInLowerCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(ProcessObjectName("qelExceptRestart", 0x1a2B), "qelExceptRestart$1a2b");
  EXPECT_EQ(ProcessObjectName("x", 0), "x$0");
  EXPECT_EQ(ProcessObjectName("x", 0xFFFFFFFFu), "x$ffffffff");
}

TEST(Watchdog, IntervalGrowsByHalf) {
  EXPECT_EQ(GrownInterval(6000), 9000u);
  EXPECT_EQ(GrownInterval(9000), 13500u);
  EXPECT_EQ(GrownInterval(1), 1u);
}

}  // namespace
}  // namespace qx
