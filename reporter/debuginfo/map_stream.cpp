#include "map_stream.h"

#include <cstring>

namespace qx {

namespace {
constexpr int64_t kStreamGranule = 8192;
}

TMiniStream::TMiniStream(std::string_view data) {
  SetSize(static_cast<int64_t>(data.size()));
  if (!data.empty()) std::memcpy(memory_.data(), data.data(), data.size());
}

void TMiniStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  int64_t capacity = (size + kStreamGranule - 1) / kStreamGranule * kStreamGranule;
  if (capacity > Capacity()) memory_.resize(static_cast<size_t>(capacity), '\0');
  size_ = size;
  if (position_ > size_) position_ = size_;
}

int64_t TMiniStream::Read(void* buffer, int64_t count) {
  if (position_ < 0 || count < 0) return 0;
  int64_t n = count < Remaining() ? count : Remaining();
  if (n > 0) std::memcpy(buffer, memory_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMiniStream::Write(const void* buffer, int64_t count) {
  if (position_ < 0 || count <= 0) return 0;
  if (position_ + count > size_) SetSize(position_ + count);
  std::memcpy(memory_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

bool TMiniStream::ReadU32(uint32_t& value) {
  uint8_t b[4];
  if (Read(b, 4) != 4) return false;
  value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

bool ReadPackedInt(TMiniStream& stream, int32_t& value) {
  uint8_t first = 0;
  if (!stream.ReadU8(first)) return false;
  if (first != 0x80) {
    value = static_cast<int8_t>(first);
    return true;
  }
  uint32_t raw = 0;
  if (!stream.ReadU32(raw)) return false;
  value = static_cast<int32_t>(raw);
  return true;
}

void WritePackedInt(std::string& out, int32_t value) {
  if (value >= -127 && value <= 127) {
    out += static_cast<char>(static_cast<int8_t>(value));
    return;
  }
  out += static_cast<char>(0x80);
  PutU32(out, static_cast<uint32_t>(value));
}

bool ReadPackedText(TMiniStream& stream, std::string& text) {
  uint8_t length = 0;
  if (!stream.ReadU8(length)) return false;
  if (stream.Remaining() < length) return true;
  std::string value(length, '\0');
  stream.Read(value.data(), length);
  text = std::move(value);
  return true;
}

void WritePackedText(std::string& out, std::string_view text) {
  if (text.size() > 255) text = text.substr(0, 255);
  out += static_cast<char>(text.size());
  out.append(text);
}

bool GetU16(std::string_view data, uint64_t offset, uint16_t& value) {
  if (offset > data.size() || data.size() - offset < 2) return false;
  auto p = reinterpret_cast<const unsigned char*>(data.data() + offset);
  value = static_cast<uint16_t>(p[0] | p[1] << 8);
  return true;
}

bool GetU32(std::string_view data, uint64_t offset, uint32_t& value) {
  if (offset > data.size() || data.size() - offset < 4) return false;
  auto p = reinterpret_cast<const unsigned char*>(data.data() + offset);
  value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return true;
}

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

}  // namespace qx
