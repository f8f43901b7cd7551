// Reader of the settings property stream (the "TPF0" stream kept as the module's
// resource "TQELEXCEPT"). Works on a byte buffer only, so it runs on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// How a property is stored; values are those of the shared property records.
enum class PropertyKind : uint8_t { Text = 0, Integer = 1, Boolean = 2 };

// One property as it was read from the stream.
struct StreamProperty {
  std::string name;
  PropertyKind kind = PropertyKind::Text;
  bool boolValue = false;
  int32_t intValue = 0;
  std::string text;
};

// Conversion of the stream's wide and UTF-8 texts into the 8-bit system code page. Each
// takes the text's code units and returns the converted text. The portable defaults keep
// code points up to 255 and turn the others into '?'.
struct TextConverter {
  std::string (*fromUtf16)(const char16_t* units, size_t count);
  std::string (*fromUtf8)(const char* bytes, size_t count);
};
const TextConverter& Latin1TextConverter();

struct StreamParseResult {
  // Properties in stream order; duplicates are kept.
  std::vector<StreamProperty> properties;
  // False when the 25 header bytes did not match: the list is then empty.
  bool headerMatched = false;
  // The value-type byte that stopped the parse, or -1 when none did.
  int invalidTypeByte = -1;
  // True when the data ended inside an entry or before the end byte.
  bool truncated = false;
};

// The 25 bytes every settings stream starts with.
extern const uint8_t kSettingsStreamHeader[25];

// Reads the property entries of a settings stream. Never fails: what was read before an
// unknown value type or the end of the data is returned.
StreamParseResult ParseSettingsStream(const uint8_t* data, size_t size,
                                      const TextConverter& converter = Latin1TextConverter());

// The text of the message shown for an unknown value type, e.g. for type 5
// "Internal error: Invalid settings resource ($5).".
std::string InvalidSettingsResourceMessage(uint8_t typeByte);

}  // namespace qx
