// The call-stack checksum that identifies a fault across reports ("callstack crc"): CRC-32
// register continuations without the usual inversions, over items that stay the same when
// the module is loaded at another address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// Continues the reflected CRC-32 register `crc` (polynomial 0xEDB88320) over `size` bytes,
// with no inversion before or after.
uint32_t CrcContinue(uint32_t crc, const void* data, size_t size);
uint32_t CrcContinue(uint32_t crc, const std::string& text);
// Over the four bytes of `value`, least significant first.
uint32_t CrcContinueValue(uint32_t crc, uint32_t value);

// Maps "A".."Z" and the bytes 0xC4, 0xD6, 0xDC up by 32; every other byte stays.
std::string CrcLowerCase(const std::string& text);

// One line of a thread's call stack as far as the checksum needs it.
struct CrcStackItem {
  uint32_t address = 0;
  uint32_t functionStart = 0;  // 0 = unknown
  std::string module;
  std::string unit;
  std::string function;
  bool hasLine = false;
};

uint32_t CallstackItemValue(const CrcStackItem& item);

struct ThreadCrc {
  uint32_t location = 0;  // value of the first item
  uint32_t stack = 0;     // continued over every further item's value
  bool hasLines = false;  // some item has a line number
};
ThreadCrc ThreadCallstackCrc(const std::vector<CrcStackItem>& items);

// "$xxxxxxxx, $xxxxxxxx, $xxxxxxxx" (31 characters).
std::string CallstackCrcText(const uint32_t values[3]);

}  // namespace qx
