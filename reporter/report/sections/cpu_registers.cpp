#include "cpu_registers.h"

#include <cstdio>

namespace qx {

std::string CpuRegistersText(const CpuRegisterValues& r) {
  const std::pair<const char*, uint32_t> lines[] = {
      {"eax", r.eax}, {"ebx", r.ebx}, {"ecx", r.ecx}, {"edx", r.edx}, {"esi", r.esi},
      {"edi", r.edi}, {"eip", r.eip}, {"esp", r.esp}, {"ebp", r.ebp}};
  std::string text;
  for (const auto& [name, value] : lines) {
    char line[32];
    std::snprintf(line, sizeof line, "%s%s = %08x", text.empty() ? "" : "\r\n", name,
                  static_cast<unsigned>(value));
    text += line;
  }
  return text;
}

}  // namespace qx
