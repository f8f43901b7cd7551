// The texts of the thread sections that need no process: titles, registers, stack dump.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cpu_registers.h"
#include "stack_dump.h"
#include "thread_title.h"

namespace {

TEST(ThreadTitleText, NamesIdsAndHiddenThreads) {
  qx::ThreadInfoRecord named{0x1a4, "main thread", "", 0, 0};
  EXPECT_EQ(qx::ThreadTitleText(true, &named, 0x1a4, false), "main thread ($1a4)");
  EXPECT_EQ(qx::ThreadTitleText(true, nullptr, 0xBEEF, false), "thread $beef");
  EXPECT_EQ(qx::ThreadTitleText(false, &named, 0x1a4, false), "thread $1a4");
  qx::ThreadInfoRecord withClass{0x20, "", "TWorker", 0, 0};
  EXPECT_EQ(qx::ThreadTitleText(true, &withClass, 0x20, false), "thread $20 (TWorker)");
  for (const char* hidden : {"-", "AntiFreezeThread", "HandleExceptionThread"}) {
    qx::ThreadInfoRecord record{0x30, hidden, "", 0, 0};
    EXPECT_EQ(qx::ThreadTitleText(true, &record, 0x30, false), "") << hidden;
    EXPECT_EQ(qx::ThreadTitleText(true, &record, 0x30, true), std::string(hidden) + " ($30)");
  }
}

TEST(CpuRegistersText, NineLinesInOrder) {
  qx::CpuRegisterValues values{1, 2, 3, 4, 5, 6, 0x401000, 0x12ff00, 0};
  EXPECT_EQ(qx::CpuRegistersText(values),
            "eax = 00000001\r\nebx = 00000002\r\necx = 00000003\r\nedx = 00000004\r\n"
            "esi = 00000005\r\nedi = 00000006\r\neip = 00401000\r\nesp = 0012ff00\r\n"
            "ebp = 00000000");
}

struct Memory {
  uint32_t base;
  std::vector<uint8_t> bytes;
  bool Read(uint32_t address, void* destination, uint32_t count) const {
    if (address < base || address + count > base + bytes.size()) return false;
    std::memcpy(destination, bytes.data() + (address - base), count);
    return true;
  }
};

TEST(StackDumpText, EndsAtTheRegionEndWithBlankColumns) {
  Memory memory{0x12ff00, std::vector<uint8_t>(0x100)};
  for (size_t i = 0; i < memory.bytes.size(); ++i) memory.bytes[i] = static_cast<uint8_t>(0x1c + i);
  auto read = [&](uint32_t a, void* d, uint32_t c) { return memory.Read(a, d, c); };
  std::string text = qx::StackDumpText(read, 0x12ffd8, 0x130000);  // 40 bytes below the end
  EXPECT_EQ(text,
            "0012ffd8  f4 f5 f6 f7 f8 f9 fa fb - fc fd fe ff 00 01 02 03  ................\r\n"
            "0012ffe8  04 05 06 07 08 09 0a 0b - 0c 0d 0e 0f 10 11 12 13  ................\r\n"
            "0012fff8  14 15 16 17 18 19 1a 1b                            ........");
  // 20h is shown as "." and the printable bytes as themselves.
  text = qx::StackDumpText(read, 0x12ff04, 0x12ff14);
  EXPECT_EQ(text, "0012ff04  20 21 22 23 24 25 26 27 - 28 29 2a 2b 2c 2d 2e 2f  .!\"#$%&'()*+,-./");
  // At most 20 lines.
  text = qx::StackDumpText(read, 0x12ff00, 0);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 15);  // 16 lines until the bytes end
  Memory big{0x100000, std::vector<uint8_t>(0x1000)};
  auto readBig = [&](uint32_t a, void* d, uint32_t c) { return big.Read(a, d, c); };
  text = qx::StackDumpText(readBig, 0x100000, 0);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 19);
}

}  // namespace
