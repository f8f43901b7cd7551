#include "settings_stream.h"

#include <cstring>

namespace qx {

const uint8_t kSettingsStreamHeader[25] = {
    'T', 'P', 'F', '0', 10, 'T', 'Q', 'e', 'l', 'E', 'x', 'c', 'e',
    'p', 't', 9,   'q', 'e', 'l', 'E', 'x', 'c', 'e', 'p', 't'};

namespace {

void AppendLatin1(std::string& out, uint32_t codePoint) {
  out.push_back(codePoint <= 0xFF ? static_cast<char>(codePoint) : '?');
}

std::string Latin1FromUtf16(const char16_t* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t unit = units[i];
    // A surrogate pair is one character, which lies outside 8 bits anyway.
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      ++i;
      unit = 0x10000;
    }
    AppendLatin1(out, unit);
  }
  return out;
}

std::string Latin1FromUtf8(const char* bytes, size_t count) {
  std::string out;
  out.reserve(count);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < count) {
    unsigned char lead = p[i];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                    : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > count) {
      out.push_back('?');
      ++i;
      continue;
    }
    uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = true;
    for (size_t k = 1; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) valid = false;
      codePoint = (codePoint << 6) | (p[i + k] & 0x3F);
    }
    if (!valid) {
      out.push_back('?');
      ++i;
      continue;
    }
    AppendLatin1(out, codePoint);
    i += length;
  }
  return out;
}

// Every read goes through here, so a stream cut short can never be read past its end.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Has(size_t count) const { return size_ - offset_ >= count; }
  bool ReadByte(uint8_t& value) {
    if (!Has(1)) return false;
    value = data_[offset_++];
    return true;
  }
  bool ReadLE(size_t count, uint32_t& value) {
    if (!Has(count)) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) value |= uint32_t{data_[offset_ + i]} << (8 * i);
    offset_ += count;
    return true;
  }
  const uint8_t* Take(size_t count) {
    if (!Has(count)) return nullptr;
    const uint8_t* start = data_ + offset_;
    offset_ += count;
    return start;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

enum class EntryResult { Ok, Truncated, InvalidType };

EntryResult ReadValue(ByteReader& reader, uint8_t type, const TextConverter& converter,
                      StreamProperty& property) {
  uint32_t raw = 0;
  switch (type) {
    case 2:
      if (!reader.ReadLE(1, raw)) return EntryResult::Truncated;
      property.kind = PropertyKind::Integer;
      property.intValue = static_cast<int8_t>(raw);
      return EntryResult::Ok;
    case 3:
      if (!reader.ReadLE(2, raw)) return EntryResult::Truncated;
      property.kind = PropertyKind::Integer;
      property.intValue = static_cast<int16_t>(raw);
      return EntryResult::Ok;
    case 4:
      if (!reader.ReadLE(4, raw)) return EntryResult::Truncated;
      property.kind = PropertyKind::Integer;
      property.intValue = static_cast<int32_t>(raw);
      return EntryResult::Ok;
    case 8:
    case 9:
      property.kind = PropertyKind::Boolean;
      property.boolValue = type == 9;
      return EntryResult::Ok;
    case 6:
    case 12:
    case 20: {
      if (!reader.ReadLE(type == 6 ? 1 : 4, raw)) return EntryResult::Truncated;
      const uint8_t* bytes = reader.Take(raw);
      if (bytes == nullptr) return EntryResult::Truncated;
      property.kind = PropertyKind::Text;
      const char* chars = reinterpret_cast<const char*>(bytes);
      property.text = type == 20 ? converter.fromUtf8(chars, raw) : std::string(chars, raw);
      return EntryResult::Ok;
    }
    case 18: {
      if (!reader.ReadLE(4, raw) || raw > 0x7FFFFFFF) return EntryResult::Truncated;
      const uint8_t* bytes = reader.Take(size_t{raw} * 2);
      if (bytes == nullptr) return EntryResult::Truncated;
      std::u16string units(raw, u'\0');
      for (uint32_t i = 0; i < raw; ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      property.kind = PropertyKind::Text;
      property.text = converter.fromUtf16(units.data(), units.size());
      return EntryResult::Ok;
    }
    default:
      return EntryResult::InvalidType;
  }
}

}  // namespace

const TextConverter& Latin1TextConverter() {
  static const TextConverter converter{Latin1FromUtf16, Latin1FromUtf8};
  return converter;
}

StreamParseResult ParseSettingsStream(const uint8_t* data, size_t size,
                                      const TextConverter& converter) {
  StreamParseResult result;
  if (data == nullptr || size < sizeof kSettingsStreamHeader ||
      std::memcmp(data, kSettingsStreamHeader, sizeof kSettingsStreamHeader) != 0)
    return result;
  result.headerMatched = true;
  ByteReader reader(data + sizeof kSettingsStreamHeader, size - sizeof kSettingsStreamHeader);
  for (;;) {
    uint8_t nameLength = 0;
    if (!reader.ReadByte(nameLength)) {
      result.truncated = true;
      break;
    }
    if (nameLength == 0) break;
    const uint8_t* name = reader.Take(nameLength);
    uint8_t type = 0;
    if (name == nullptr || !reader.ReadByte(type)) {
      result.truncated = true;
      break;
    }
    StreamProperty property;
    property.name.assign(reinterpret_cast<const char*>(name), nameLength);
    EntryResult entry = ReadValue(reader, type, converter, property);
    if (entry == EntryResult::Truncated) {
      result.truncated = true;
      break;
    }
    if (entry == EntryResult::InvalidType) {
      result.invalidTypeByte = type;
      break;
    }
    result.properties.push_back(std::move(property));
  }
  return result;
}

std::string InvalidSettingsResourceMessage(uint8_t typeByte) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  if (typeByte >= 16) hex.push_back(kDigits[typeByte >> 4]);
  hex.push_back(kDigits[typeByte & 15]);
  return "Internal error: Invalid settings resource ($" + hex + ").";
}

}  // namespace qx
