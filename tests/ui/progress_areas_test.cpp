// Overall progress through weighted areas.
#include <gtest/gtest.h>

#include "progress_areas.h"

namespace qx {
namespace {

TEST(ProgressAreas, OverallPositionTruncatesTheAreaShareFirst) {
  ProgressAreas areas;
  areas.Append("one", 1000);
  areas.Append("two", 1000);
  areas.Append("three", 2000);
  ASSERT_TRUE(areas.SetCurrent(1));
  areas.SetPosition(500);
  EXPECT_EQ(areas.Overall(), 375);

  ProgressAreas small;
  small.Append("one", 1);
  small.Append("two", 1);
  small.Append("three", 2);
  small.SetCurrent(1);
  small.SetPosition(500);
  EXPECT_EQ(small.Overall(), 250);
  small.SetPosition(1000);
  EXPECT_EQ(small.Overall(), 500);
}

TEST(ProgressAreas, CurrentAreaRules) {
  ProgressAreas areas;
  areas.Append("first", 10);
  areas.Append("", 30);  // takes the previous text
  EXPECT_EQ(areas.Areas()[1].text, "first");
  EXPECT_EQ(areas.Areas()[1].start, 10u);
  EXPECT_EQ(areas.TotalWeight(), 40u);
  areas.SetPosition(700);
  EXPECT_FALSE(areas.SetCurrent(0));  // already current: position kept
  EXPECT_EQ(areas.Position(), 700);
  EXPECT_FALSE(areas.SetCurrent(-1));
  EXPECT_FALSE(areas.SetCurrent(3));
  EXPECT_TRUE(areas.SetCurrent(1));
  EXPECT_EQ(areas.Position(), 0);
  EXPECT_EQ(areas.Overall(), 250);
  // One past the last: the last stays current and the work is complete.
  EXPECT_TRUE(areas.SetCurrent(2));
  EXPECT_EQ(areas.Current(), 1);
  EXPECT_EQ(areas.Position(), 1000);
  EXPECT_EQ(areas.Overall(), 1000);

  areas.Clear();
  EXPECT_EQ(areas.Count(), 0);
  EXPECT_EQ(areas.Current(), 0);
  EXPECT_EQ(areas.Overall(), 0);
  EXPECT_EQ(areas.CurrentText(), "");
  ProgressAreas weightless;
  weightless.Append("a", 0);
  weightless.Append("b", 0);
  weightless.SetPosition(500);
  EXPECT_EQ(weightless.Overall(), 0);
  ProgressAreas huge;
  huge.Append("big", 1ull << 40);
  huge.SetPosition(999);
  EXPECT_EQ(huge.Overall(), 998);  // both divisions truncate
}

}  // namespace
}  // namespace qx
