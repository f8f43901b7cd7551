// Eight server threads calling all thirteen functions at once, rich text included.
#include <atomic>
#include <thread>
#include <vector>

#include "memory_blob.h"
#include "udf_test_support.h"

using qxhost::MemoryBlob;
using qxtest::Udf;

namespace {

// Runs one round of every function; returns the number of wrong results. Uses no gtest
// assertion, which is not meant to be called from many threads at once.
int OneRound(int seed) {
  const auto& f = Udf();
  int wrong = 0;
  auto check = [&](bool ok) { wrong += ok ? 0 : 1; };
  auto text = [&](char* block, const std::string& expected) {
    check(block != nullptr && expected == block &&
          ib_util_block_size(block) == static_cast<int32_t>(expected.size() + 1));
    if (block != nullptr) ib_util_free(block);
  };
  int32_t a = seed, m = 6, b = seed + 1;
  check(f.setbit(&a, &m) == (seed | 6));
  check(f.clearbit(&a, &m) == (seed & ~6));
  check(f.checkbit(&a, &m) == ((seed & 6) != 0 ? 1 : 0));
  check(f.minvalue(&a, &b) == seed);
  check(f.maxvalue(&a, &b) == seed + 1);
  double d = 0.5;
  check(f.incday(&d, &a) == seed + 0.5);
  check(f.factbedragbetaald(&a, "Y") == seed);
  check(f.BoolStringToInt("YNY") == 5);
  int32_t v = 42;
  text(f.inttocnk(&v), "0000042");
  double third = 1.0 / 3;
  text(f.formatDouble(&third), "0.333333333333333");
  std::string s = "t" + std::to_string(seed) + "banana";
  text(f.strReplace(s.c_str(), "ana", "x"), "t" + std::to_string(seed) + "bxna");
  MemoryBlob list = MemoryBlob::Input("a=1\r\nkey=" + std::to_string(seed), 3);
  text(f.GetBlobValue(list.descriptor(), "KEY"), std::to_string(seed));

  const std::string rtf = "{\\rtf1\\ansi thread " + std::to_string(seed) + "\\par}";
  MemoryBlob in = MemoryBlob::Input(rtf);
  MemoryBlob out = MemoryBlob::Output();
  check(f.TrimRTF(in.descriptor(), out.descriptor()) == out.descriptor() && out.data() == rtf);
  MemoryBlob blankIn = MemoryBlob::Input("{\\rtf1\\ansi \\par\\tab}");
  MemoryBlob blankOut = MemoryBlob::Output();
  f.TrimRTF(blankIn.descriptor(), blankOut.descriptor());
  check(blankOut.data().empty());
  // Texts only the rich-edit control can judge: a field, and a Unicode space whose
  // fallback character is skipped.
  const std::string field = "{\\rtf1{\\field{\\*\\fldinst PAGE}{\\fldrslt }}thread " +
                            std::to_string(seed) + "\\par}";
  MemoryBlob fieldIn = MemoryBlob::Input(field);
  MemoryBlob fieldOut = MemoryBlob::Output();
  f.TrimRTF(fieldIn.descriptor(), fieldOut.descriptor());
  check(fieldOut.data() == field);
  MemoryBlob unicodeIn = MemoryBlob::Input("{\\rtf1\\uc1 \\u32 x\\par}");
  MemoryBlob unicodeOut = MemoryBlob::Output();
  f.TrimRTF(unicodeIn.descriptor(), unicodeOut.descriptor());
  check(unicodeOut.data().empty());
  return wrong;
}

TEST(Concurrency, EightThreadsAllFunctions) {
  Udf();  // load before the threads start
  const int32_t liveBefore = ib_util_live_blocks();
  const int32_t allocationsBefore = ib_util_total_allocations();
  constexpr int kThreads = 8;
  constexpr int kRounds = 60;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int r = 0; r < kRounds; ++r) wrong += OneRound(t * 1000 + r);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(ib_util_live_blocks(), liveBefore);
  EXPECT_EQ(ib_util_total_allocations() - allocationsBefore, kThreads * kRounds * 4);
  EXPECT_EQ(ib_util_bad_frees(), 0);
}

}  // namespace
