// Case-insensitive ASCII comparisons for protocol keywords ("AUTH", "Location:"); bytes
// above 127 compare as they are.
#pragma once

#include <cstddef>
#include <string>

namespace qx {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether `text` holds the lower-case `prefix` at `at`, ignoring the case of `text`.
inline bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size() || AsciiLower(text[at + i]) != prefix[i]) return false;
  }
  return true;
}

inline bool ContainsNoCase(const std::string& text, const char* lowerNeedle) {
  for (size_t at = 0; at < text.size(); ++at) {
    if (StartsWithNoCase(text, at, lowerNeedle)) return true;
  }
  return false;
}

}  // namespace qx
