#include "callstack_crc.h"

#include <zlib.h>

#include <cstdio>

namespace qx {

uint32_t CrcContinue(uint32_t crc, const void* data, size_t size) {
  // zlib inverts the register on entry and on exit; undoing both leaves the bare register.
  uLong value = crc ^ 0xFFFFFFFFu;
  const auto* bytes = static_cast<const Bytef*>(data);
  while (size > 0) {
    uInt chunk = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    value = crc32(value, bytes, chunk);
    bytes += chunk;
    size -= chunk;
  }
  return static_cast<uint32_t>(value) ^ 0xFFFFFFFFu;
}

uint32_t CrcContinue(uint32_t crc, const std::string& text) {
  return CrcContinue(crc, text.data(), text.size());
}

uint32_t CrcContinueValue(uint32_t crc, uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value),
                                  static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16),
                                  static_cast<unsigned char>(value >> 24)};
  return CrcContinue(crc, bytes, sizeof bytes);
}

std::string CrcLowerCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || byte == 0xC4 || byte == 0xD6 || byte == 0xDC)
      c = static_cast<char>(byte + 32);
  }
  return result;
}

uint32_t CallstackItemValue(const CrcStackItem& item) {
  if (item.function.empty() || item.functionStart == 0 || item.module.empty())
    return item.address;
  uint32_t value = CrcContinue(item.address - item.functionStart, CrcLowerCase(item.module));
  if (!item.unit.empty()) value = CrcContinue(value, CrcLowerCase(item.unit));
  return CrcContinue(value, CrcLowerCase(item.function));
}

ThreadCrc ThreadCallstackCrc(const std::vector<CrcStackItem>& items) {
  ThreadCrc result;
  for (size_t i = 0; i < items.size(); ++i) {
    uint32_t value = CallstackItemValue(items[i]);
    if (i == 0)
      result.location = result.stack = value;
    else
      result.stack = CrcContinueValue(result.stack, value);
    if (items[i].hasLine) result.hasLines = true;
  }
  return result;
}

std::string CallstackCrcText(const uint32_t values[3]) {
  char text[40];
  std::snprintf(text, sizeof text, "$%08x, $%08x, $%08x", static_cast<unsigned>(values[0]),
                static_cast<unsigned>(values[1]), static_cast<unsigned>(values[2]));
  return text;
}

}  // namespace qx
