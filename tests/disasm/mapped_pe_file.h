// A PE file mapped the way the loader maps it (headers and sections at their RVAs from its
// preferred base), served through qx::CodeMemory. The tests, the fuzzer and the benchmark
// read Wine's i386 DLLs through it on any platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder.h"

namespace qxtest {

struct PeSection {
  std::string name;
  uint32_t address;      // absolute, in the mapped image
  uint32_t size;         // virtual size
  bool isCode;
};

struct PeExport {
  std::string name;      // empty for an export by ordinal only
  uint32_t address;
};

class PeImage {
 public:
  // Maps the file; false with a reason in error when it is no 32-bit PE image.
  bool Load(const std::string& path, std::string& error);

  uint32_t base() const { return base_; }
  uint32_t size() const { return static_cast<uint32_t>(image_.size()); }
  const std::string& path() const { return path_; }
  const std::vector<PeSection>& sections() const { return sections_; }
  const std::vector<PeExport>& exports() const { return exports_; }
  const uint8_t* bytes() const { return image_.data(); }
  bool Contains(uint32_t address, uint32_t count) const {
    return address >= base_ && address - base_ <= image_.size() &&
           count <= image_.size() - (address - base_);
  }

 private:
  std::string path_;
  uint32_t base_ = 0;
  std::vector<uint8_t> image_;
  std::vector<PeSection> sections_;
  std::vector<PeExport> exports_;
};

// A CodeMemory over mapped PE images and plain blocks of bytes. Regions must not overlap.
class ImageMemory : public qx::CodeMemory {
 public:
  // The image becomes a module; isSelf marks it as the module that holds the reporter.
  void AddImage(const PeImage* image, bool isSelf = false);
  // A block of bytes at address; with moduleName it also counts as a module image.
  void AddBlock(uint32_t address, std::vector<uint8_t> bytes, const std::string& moduleName = {},
                bool isSelf = false);

  bool Read(uint32_t address, void* destination, uint32_t count) override;
  bool ModuleAt(uint32_t address, qx::TModuleInfo& module) override;
  bool QueryRegion(uint32_t address, qx::TMemoryRegion& region) override;
  std::string ErrorText(uint32_t code) override;

 private:
  struct Region {
    uint32_t base;
    uint32_t size;
    const uint8_t* bytes;
    std::vector<uint8_t> owned;
    bool isModule;
    qx::TModuleInfo module;
  };
  const Region* Find(uint32_t address) const;
  std::vector<Region> regions_;
  const Region* last_ = nullptr;
};

}  // namespace qxtest
