// In-memory blobs served through BlobDescriptor callbacks, as a server would serve them:
// reads deliver at most a configurable segment size per call, writes append segments.
// Every call is recorded so that tests can check how the module used the callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host_contract.h"

namespace qxhost {

class MemoryBlob {
 public:
  // An input blob holding data, served in segments of at most segmentSize bytes.
  static MemoryBlob Input(std::string data, uint16_t segmentSize = 65535);
  // An empty output blob.
  static MemoryBlob Output();

  MemoryBlob(const MemoryBlob&) = delete;
  MemoryBlob& operator=(const MemoryBlob&) = delete;
  MemoryBlob(MemoryBlob&& other) noexcept;
  MemoryBlob& operator=(MemoryBlob&&) = delete;

  // The descriptor to pass to a function; it points back at this object.
  BlobDescriptor* descriptor() { return &descriptor_; }

  const std::string& data() const { return data_; }
  const std::vector<uint16_t>& readRequests() const { return readRequests_; }
  const std::vector<uint16_t>& writeLengths() const { return writeLengths_; }

 private:
  MemoryBlob() = default;
  void Bind();

  static int16_t __cdecl Read(void* handle, unsigned char* buffer, uint16_t size,
                              uint16_t* actual);
  static void __cdecl Write(void* handle, const unsigned char* buffer, uint16_t length);

  std::string data_;
  size_t readPos_ = 0;
  uint16_t segmentSize_ = 65535;
  std::vector<uint16_t> readRequests_;
  std::vector<uint16_t> writeLengths_;
  BlobDescriptor descriptor_ = {};
};

}  // namespace qxhost
