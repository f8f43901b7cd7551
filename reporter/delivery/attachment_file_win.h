// An attachment file read for sending: opened shared, its size known before the first byte
// goes out so that lengths announced beforehand hold.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

class AttachmentFile {
 public:
  AttachmentFile() = default;
  ~AttachmentFile();
  AttachmentFile(const AttachmentFile&) = delete;
  AttachmentFile& operator=(const AttachmentFile&) = delete;

  // False when the file is missing or cannot be opened.
  bool Open(const std::string& path);
  uint64_t size() const { return size_; }
  // Reads exactly `count` bytes; false on a read error or a short read.
  bool Read(void* buffer, size_t count);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  uint64_t size_ = 0;
};

// The file's size, 0 when it is missing.
uint64_t AttachmentSize(const std::string& path);

}  // namespace qx
