// A conversion stuck inside the rich-edit control, through the module's export table:
// meanwhile the other server threads' fn_TrimRTF calls that need no control go on and
// answer exactly.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "control_stall_win.h"
#include "memory_blob.h"
#include "udf_test_support.h"

using qxhost::MemoryBlob;
using qxtest::Udf;

namespace {

// Returns the number of wrong answers; no gtest assertion, which is not meant for threads.
int SureRound(int seed) {
  int wrong = 0;
  const std::string visible =
      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 row " + std::to_string(seed) + "\\par}";
  MemoryBlob in = MemoryBlob::Input(visible);
  MemoryBlob out = MemoryBlob::Output();
  Udf().TrimRTF(in.descriptor(), out.descriptor());
  wrong += out.data() == visible ? 0 : 1;
  MemoryBlob blankIn = MemoryBlob::Input("{\\rtf1\\pard\\tab\\par}");
  MemoryBlob blankOut = MemoryBlob::Output();
  Udf().TrimRTF(blankIn.descriptor(), blankOut.descriptor());
  wrong += blankOut.data().empty() ? 0 : 1;
  return wrong;
}

TEST(RichTextStall, OtherCallsGoOnWhileOneConversionIsStuck) {
  Udf();
  // A field: only the control can tell whether it shows anything.
  const std::string field = "{\\rtf1{\\field{\\*\\fldinst PAGE}{\\fldrslt }}stuck\\par}";
  qx::test::ControlStall stall;
  std::atomic<bool> stuckReturned{false};
  std::string stuckResult;
  std::thread stuck([&] {
    MemoryBlob in = MemoryBlob::Input(field);
    MemoryBlob out = MemoryBlob::Output();
    stall.Install();
    Udf().TrimRTF(in.descriptor(), out.descriptor());
    stall.Remove();
    stuckResult = out.data();
    stuckReturned = true;
  });
  const bool stalled = stall.WaitUntilStalled();
  EXPECT_TRUE(stalled) << "the conversion never reached the control";

  std::atomic<int> wrong{0};
  if (stalled) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &wrong] {
        for (int r = 0; r < kRounds; ++r) wrong += SureRound(t * 1000 + r);
      });
    }
    for (auto& th : threads) th.join();
    // Every call above finished while the stuck conversion was still held.
    EXPECT_FALSE(stuckReturned.load());
  }
  EXPECT_EQ(wrong.load(), 0);

  stall.Release();
  stuck.join();
  EXPECT_EQ(stuckResult, field);
}

}  // namespace
