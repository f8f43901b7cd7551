// Reading the little-endian fields of the archives and bitmaps the tests take apart.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

inline uint32_t Little(const std::string& s, size_t at, int size) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

}  // namespace qx
