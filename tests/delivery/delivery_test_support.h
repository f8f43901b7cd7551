// Reading the little-endian fields of the archives and bitmaps the tests take apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

inline uint32_t Little(const std::string& s, size_t at, int size) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

// The entry names of a zip archive, from its central directory.
inline std::vector<std::string> ZipEntryNames(const std::string& zip) {
  std::vector<std::string> names;
  for (size_t at = zip.find("PK\x01\x02"); at != std::string::npos && at + 46 <= zip.size();
       at = zip.find("PK\x01\x02", at + 4))
    names.push_back(zip.substr(at + 46, Little(zip, at + 28, 2)));
  return names;
}

}  // namespace qx
