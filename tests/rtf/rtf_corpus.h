// Rich texts as users' programs write them (word processors, rich-edit controls, hand-made
// edge cases), with whether each displays anything visible.
#pragma once

#include <string_view>
#include <vector>

namespace qx::test {

struct RtfSample {
  const char* name;
  std::string_view text;
  bool blank;  // displays nothing but spaces, tabs and breaks
};

const std::vector<RtfSample>& RtfCorpus();

}  // namespace qx::test
