// Rich texts as users' programs write them (word processors, rich-edit controls, hand-made
// edge cases), with whether each displays anything visible. Groups nest at most eight deep
// here because Wine 8's control crashes on deeper nesting; the unit tests go far deeper.
#pragma once

#include <string_view>
#include <vector>

namespace qx::test {

struct RtfSample {
  const char* name;
  std::string_view text;
  bool blank;  // displays nothing but spaces, tabs and breaks
  // Why Wine's rich-edit control is known to show this text differently (blank where
  // Windows' control is not, or the reverse); null when the two agree.
  const char* controlDeviation = nullptr;
};

const std::vector<RtfSample>& RtfCorpus();

}  // namespace qx::test
