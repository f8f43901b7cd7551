// The "cpu registers" section.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

struct CpuRegisterValues {
  uint32_t eax, ebx, ecx, edx, esi, edi, eip, esp, ebp;
};

// Nine lines "eax = xxxxxxxx" in the order eax, ebx, ecx, edx, esi, edi, eip, esp, ebp.
std::string CpuRegistersText(const CpuRegisterValues& registers);

}  // namespace qx
