// The emergency memory reserves of a running reporter, read from the process's memory map:
// one set of 4 x 4 MB reserved and 4 x 512 KB committed without access, both in an
// executable that is the reporter and in a host that loads QXUdfLib.dll as a server does.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "reporter_lifecycle_win.h"

namespace {

constexpr SIZE_T kReservedRange = 4 << 20;
constexpr SIZE_T kCommittedBlock = 512 << 10;

struct ReserveCount {
  int reserved = 0;   // whole allocations of 4 MB, reserved, no access
  int committed = 0;  // whole allocations of 512 KB, committed, no access
};

// Walks the address space region by region and counts the allocations shaped like the
// reserves (allocated without access and still whole).
ReserveCount CountReserves() {
  ReserveCount count;
  uintptr_t at = 0x10000;
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == sizeof info) {
    const bool wholeAllocation = info.AllocationBase == info.BaseAddress &&
                                 info.AllocationProtect == PAGE_NOACCESS;
    if (wholeAllocation && info.State == MEM_RESERVE && info.RegionSize == kReservedRange)
      ++count.reserved;
    if (wholeAllocation && info.State == MEM_COMMIT && info.Protect == PAGE_NOACCESS &&
        info.RegionSize == kCommittedBlock) {
      // A larger allocation could begin with a committed 512 KB: the next region must
      // belong to another allocation.
      MEMORY_BASIC_INFORMATION next;
      const auto end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
      if (VirtualQuery(reinterpret_cast<void*>(end), &next, sizeof next) != sizeof next ||
          next.AllocationBase != info.AllocationBase)
        ++count.committed;
    }
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return count;
}

TEST(EmergencyReserves, TheExecutableReporterTakesOneSetAndGivesItBack) {
  const ReserveCount before = CountReserves();
  qx::ReporterStartup();
  const ReserveCount running = CountReserves();
  qx::ReporterShutdown();
  const ReserveCount after = CountReserves();
  EXPECT_EQ(running.reserved - before.reserved, 4);
  EXPECT_EQ(running.committed - before.committed, 4);
  EXPECT_EQ(after.reserved, before.reserved);
  EXPECT_EQ(after.committed, before.committed);
}

TEST(EmergencyReserves, TheModuleInAHostTakesOneSetAndGivesItBack) {
  const ReserveCount before = CountReserves();
  HMODULE module = LoadLibraryA("QXUdfLib.dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  const ReserveCount loaded = CountReserves();
  ASSERT_TRUE(FreeLibrary(module));
  const ReserveCount after = CountReserves();
  EXPECT_EQ(loaded.reserved - before.reserved, 4);
  EXPECT_EQ(loaded.committed - before.committed, 4);
  EXPECT_EQ(after.reserved, before.reserved);
  EXPECT_EQ(after.committed, before.committed);
}

}  // namespace
