// The one way portable code reads memory it does not own: a bounded copy that says whether
// every byte arrived. The reporter reads its own process through it (checked against the
// region query), tests and tools read files and buffers through it.
#pragma once

#include <cstdint>
#include <string_view>

namespace qx {

class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Copies count bytes starting at address. True only when every byte was read; never
  // faults.
  virtual bool Read(uint32_t address, void* destination, uint32_t count) = 0;
};

// A block of bytes held elsewhere, seen at addresses [base, base + size).
class SpanReader final : public MemoryReader {
 public:
  explicit SpanReader(std::string_view bytes, uint32_t base = 0) : bytes_(bytes), base_(base) {}
  bool Read(uint32_t address, void* destination, uint32_t count) override;

 private:
  std::string_view bytes_;
  uint32_t base_;
};

}  // namespace qx
