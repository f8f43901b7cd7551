#include "blob_io.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qx {

std::string BlobToString(const BlobDescriptor* blob) {
  std::string result;
  if (blob == nullptr || blob->blobHandle == nullptr || blob->totalLength <= 0 ||
      blob->readSegment == nullptr) {
    return result;
  }
  result.resize(static_cast<size_t>(blob->totalLength));
  size_t offset = 0;
  size_t remaining = result.size();
  while (remaining > 0) {
    uint16_t request = static_cast<uint16_t>(std::min(remaining, kMaxSegment));
    uint16_t actual = 0;
    blob->readSegment(blob->blobHandle, reinterpret_cast<unsigned char*>(&result[offset]),
                      request, &actual);
    // A server that claims more than was asked for would make us write past the text.
    if (actual == 0 || actual > request) break;
    offset += actual;
    remaining -= actual;
  }
  result.resize(offset);
  return result;
}

void StringToBlob(const BlobDescriptor* blob, const char* data, size_t length) {
  if (length == 0 || blob == nullptr || blob->writeSegment == nullptr) return;
  size_t offset = 0;
  while (offset < length) {
    size_t chunk = std::min(length - offset, kMaxSegment);
    blob->writeSegment(blob->blobHandle, reinterpret_cast<const unsigned char*>(data + offset),
                       static_cast<uint16_t>(chunk));
    offset += chunk;
  }
}

char* ToServerString(const std::string& text) {
  const size_t n = text.size() + 1;
  if (n > 0x7fffffffu) throw std::bad_alloc();
  char* buffer = static_cast<char*>(ib_util_malloc(static_cast<IbUtilSize>(n)));
  if (buffer == nullptr) throw std::bad_alloc();
  std::memcpy(buffer, text.c_str(), n);
  return buffer;
}

}  // namespace qx
