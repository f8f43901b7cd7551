#include "memory_blob.h"

#include <algorithm>
#include <cstring>

namespace qxhost {

MemoryBlob MemoryBlob::Input(std::string data, uint16_t segmentSize) {
  MemoryBlob blob;
  blob.data_ = std::move(data);
  blob.segmentSize_ = segmentSize == 0 ? 1 : segmentSize;
  blob.Bind();
  return blob;
}

MemoryBlob MemoryBlob::Output() {
  MemoryBlob blob;
  blob.Bind();
  return blob;
}

MemoryBlob::MemoryBlob(MemoryBlob&& other) noexcept
    : data_(std::move(other.data_)),
      readPos_(other.readPos_),
      segmentSize_(other.segmentSize_),
      readRequests_(std::move(other.readRequests_)),
      writeLengths_(std::move(other.writeLengths_)) {
  Bind();
}

void MemoryBlob::Bind() {
  descriptor_.readSegment = &MemoryBlob::Read;
  descriptor_.writeSegment = &MemoryBlob::Write;
  descriptor_.blobHandle = this;
  const size_t segments = data_.empty() ? 0 : (data_.size() + segmentSize_ - 1) / segmentSize_;
  descriptor_.segmentCount = static_cast<int32_t>(segments);
  descriptor_.largestSegment = static_cast<int32_t>(std::min<size_t>(data_.size(), segmentSize_));
  descriptor_.totalLength = static_cast<int32_t>(data_.size());
}

int16_t __cdecl MemoryBlob::Read(void* handle, unsigned char* buffer, uint16_t size,
                                 uint16_t* actual) {
  auto* self = static_cast<MemoryBlob*>(handle);
  self->readRequests_.push_back(size);
  const size_t left = self->data_.size() - self->readPos_;
  const size_t n = std::min<size_t>({left, size, self->segmentSize_});
  std::memcpy(buffer, self->data_.data() + self->readPos_, n);
  self->readPos_ += n;
  *actual = static_cast<uint16_t>(n);
  return n == 0 ? 1 : 0;  // 1 stands for "end of blob", which the module need not check
}

void __cdecl MemoryBlob::Write(void* handle, const unsigned char* buffer, uint16_t length) {
  auto* self = static_cast<MemoryBlob*>(handle);
  self->writeLengths_.push_back(length);
  self->data_.append(reinterpret_cast<const char*>(buffer), length);
  self->descriptor_.totalLength = static_cast<int32_t>(self->data_.size());
  self->descriptor_.segmentCount++;
}

}  // namespace qxhost
