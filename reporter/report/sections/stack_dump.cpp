#include "stack_dump.h"

#include <cstdio>

namespace qx {

std::string StackDumpText(const StackDumpReader& read, uint32_t stackPointer,
                          uint32_t regionEnd) {
  constexpr int kLines = 20;
  std::string text;
  uint32_t address = stackPointer;
  for (int line = 0; line < kLines; ++line) {
    uint32_t available = 16;
    if (regionEnd != 0) {
      if (address >= regionEnd) break;
      if (regionEnd - address < available) available = regionEnd - address;
    }
    uint8_t bytes[16];
    // What cannot be read counts as past the end.
    while (available > 0 && !read(address, bytes, available)) --available;
    if (available == 0) break;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x  ", static_cast<unsigned>(address));
    if (!text.empty()) text += "\r\n";
    text += buffer;
    for (uint32_t i = 0; i < 16; ++i) {
      if (i == 8) text += i < available ? "- " : "  ";
      if (i < available) {
        std::snprintf(buffer, sizeof buffer, "%02x ", bytes[i]);
        text += buffer;
      } else {
        text += "   ";
      }
    }
    text += ' ';
    for (uint32_t i = 0; i < available; ++i)
      text += bytes[i] >= 0x21 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    if (available < 16) break;
    address += 16;
  }
  return text;
}

}  // namespace qx
