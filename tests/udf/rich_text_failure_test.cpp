// A rich-text control that cannot be loaded: this program runs in a folder whose
// RICHED32.DLL refuses to initialise. The failure must reach the caller as the module's
// structured exception, leave nothing behind, and the next call must try the load again.
#include "memory_blob.h"
#include "seh_guard.h"
#include "udf_test_support.h"

using qxhost::MemoryBlob;
using qxtest::Udf;

namespace {

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int ThreadWindows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST(RichTextFailure, SurfacesAsStructuredExceptionAndLeaksNothing) {
  ASSERT_EQ(GetModuleHandleA("riched32.dll"), nullptr);
  Udf();
  const int32_t liveBefore = ib_util_live_blocks();
  for (int attempt = 0; attempt < 3; ++attempt) {
    MemoryBlob in = MemoryBlob::Input("{\\rtf1 visible}");
    MemoryBlob out = MemoryBlob::Output();
    auto call = [&] { Udf().TrimRTF(in.descriptor(), out.descriptor()); };
    qxhost::SehOutcome outcome = qxhost::RunUnderSeh(call);
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.code, 0xE0515855u);
    EXPECT_EQ(outcome.firstParameter, 2u);  // the rich-text control failed
    EXPECT_TRUE(out.writeLengths().empty()) << "a failed call must not write its result";
    EXPECT_EQ(in.readRequests().size(), 1u);
  }
  EXPECT_EQ(ib_util_live_blocks(), liveBefore);
  EXPECT_EQ(ThreadWindows(), 0);
  // Calls that do not need the control keep working after the failures.
  EXPECT_EQ(qxtest::TakeText(Udf().strReplace("abc", "b", "x")), "axc");
  // The fake library was tried once per call and refused each time.
  EXPECT_EQ(GetEnvironmentVariableA("QX_FAKE_RICHED_LOADS", nullptr, 0) > 0, true);
  char loads[16] = {};
  GetEnvironmentVariableA("QX_FAKE_RICHED_LOADS", loads, sizeof loads);
  EXPECT_STREQ(loads, "3");
}

}  // namespace
