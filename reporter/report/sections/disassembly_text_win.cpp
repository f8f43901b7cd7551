#include "cpu_registers.h"
#include "decoder_win.h"
#include "function_analysis.h"
#include "stack_dump.h"
#include "thread_sections_win.h"

namespace qx {

std::string CpuRegistersText(const CONTEXT& c) {
  return CpuRegistersText(CpuRegisterValues{c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi, c.Eip,
                                            c.Esp, c.Ebp});
}

std::string StackDumpText(const CONTEXT& context) {
  uint32_t regionEnd = 0;
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(context.Esp)), &info,
                   sizeof info) == sizeof info) {
    regionEnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress)) +
                static_cast<uint32_t>(info.RegionSize);
  }
  return StackDumpText(
      [](uint32_t address, void* destination, uint32_t count) {
        return SafeRead(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), destination,
                        count);
      },
      context.Esp, regionEnd);
}

std::string DisassemblyText(uint32_t functionStart, uint32_t marked, bool formatted, int limit) {
  if (functionStart == 0 || DisAsmHook == nullptr) return {};
  return DisAsmHook(functionStart, marked, formatted, limit, nullptr);
}

}  // namespace qx
