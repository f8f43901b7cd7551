// Byte-level readers of the debug-information sources: an in-memory stream, the packed
// integer and text encodings, and bounds-checked little-endian reads over a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

// An in-memory byte stream over decoded debug data. Reads never go past the end.
class TMiniStream {
 public:
  TMiniStream() = default;
  explicit TMiniStream(std::string_view data);

  // Sets the size; capacity grows in steps of 8192 bytes, new bytes are zero.
  void SetSize(int64_t size);
  int64_t Size() const { return size_; }
  int64_t Capacity() const { return static_cast<int64_t>(memory_.size()); }
  int64_t Position() const { return position_; }
  void Seek(int64_t position) { position_ = position; }
  int64_t Remaining() const { return position_ >= 0 && position_ < size_ ? size_ - position_ : 0; }

  // Copies at most the bytes that remain; a negative position or count copies nothing.
  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);

  bool ReadU8(uint8_t& value) { return Read(&value, 1) == 1; }
  bool ReadU32(uint32_t& value);

 private:
  std::string memory_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Packed integer: one byte; 80h means a 32-bit signed value follows, otherwise the byte is
// the value as a signed 8-bit number.
bool ReadPackedInt(TMiniStream& stream, int32_t& value);
void WritePackedInt(std::string& out, int32_t value);

// Packed text: a length byte and that many bytes. When fewer remain, the length byte is
// consumed and text keeps what it held before.
bool ReadPackedText(TMiniStream& stream, std::string& text);
void WritePackedText(std::string& out, std::string_view text);

// Bounds-checked little-endian reads at an offset of a buffer.
bool GetU16(std::string_view data, uint64_t offset, uint16_t& value);
bool GetU32(std::string_view data, uint64_t offset, uint32_t& value);
void PutU32(std::string& out, uint32_t value);

}  // namespace qx
