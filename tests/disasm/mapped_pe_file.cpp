#include "mapped_pe_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pe_image.h"

namespace qxtest {

bool PeImage::Load(const std::string& path, std::string& error) {
  path_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  qx::SpanReader fileReader(file);
  qx::PeImage view(fileReader, 0, qx::PeLayout::kFile);
  if (!view.Open()) {
    error = path + ": no PE image";
    return false;
  }
  if (view.Machine() != qx::pe::kMachineI386) {
    error = path + ": not a 32-bit x86 image";
    return false;
  }
  base_ = view.ImageBase();
  const uint32_t imageSize = view.SizeOfImage();
  if (imageSize == 0 || imageSize > 0x4000000) {
    error = path + ": bad image size";
    return false;
  }
  image_.assign(imageSize, 0);
  std::memcpy(image_.data(), file.data(),
              std::min<size_t>({view.SizeOfHeaders(), file.size(), imageSize}));
  qx::PeSection section;
  for (uint32_t i = 0; view.Section(i, section); ++i) {
    const uint32_t rva = section.virtualAddress;
    if (rva >= imageSize) continue;
    uint32_t copy = std::min(section.rawSize, section.MappedSize());
    copy = std::min<uint32_t>(copy, imageSize - rva);
    if (section.rawPointer < file.size()) {
      copy = std::min<uint32_t>(copy, static_cast<uint32_t>(file.size() - section.rawPointer));
      std::memcpy(image_.data() + rva, file.data() + section.rawPointer, copy);
    }
    const uint32_t size = std::min<uint32_t>(section.MappedSize(), imageSize - rva);
    sections_.push_back({section.name, base_ + rva, size, section.IsCode()});
  }
  // The export tables as mapped: what the decoder's readers see.
  qx::SpanReader imageReader(
      std::string_view(reinterpret_cast<const char*>(image_.data()), image_.size()));
  qx::PeImage mapped(imageReader, 0, qx::PeLayout::kLoaded);
  qx::PeExports exports;
  if (mapped.Open() && mapped.Exports(exports)) {
    std::vector<std::string> byIndex(exports.functionCount);
    std::string name;
    uint32_t index = 0;
    for (uint32_t i = 0; i < exports.nameCount; ++i) {
      if (mapped.ExportName(exports, i, name, index) && index < exports.functionCount) {
        byIndex[index] = name;
      }
    }
    for (uint32_t i = 0; i < exports.functionCount; ++i) {
      uint32_t rva = 0;
      if (!mapped.ExportFunction(exports, i, rva) || rva == 0 || rva >= image_.size()) continue;
      exports_.push_back({byIndex[i], base_ + rva});
    }
  }
  return true;
}

void ImageMemory::AddImage(const PeImage* image, bool isSelf) {
  Region region{image->base(), image->size(), image->bytes(), {}, true, {}};
  region.module = {image->base(), image->size(), image->path(), isSelf};
  regions_.push_back(std::move(region));
  last_ = nullptr;
}

void ImageMemory::AddBlock(uint32_t address, std::vector<uint8_t> bytes,
                           const std::string& moduleName, bool isSelf) {
  Region region{address, static_cast<uint32_t>(bytes.size()), nullptr, std::move(bytes),
                !moduleName.empty(), {}};
  region.module = {address, region.size, moduleName, isSelf};
  regions_.push_back(std::move(region));
  for (Region& r : regions_) {
    if (!r.owned.empty()) r.bytes = r.owned.data();
  }
  last_ = nullptr;
}

const ImageMemory::Region* ImageMemory::Find(uint32_t address) const {
  if (last_ && address - last_->base < last_->size) return last_;
  for (const Region& region : regions_) {
    if (address - region.base < region.size) return &region;
  }
  return nullptr;
}

bool ImageMemory::Read(uint32_t address, void* destination, uint32_t count) {
  if (address == 0) return false;
  const Region* region = Find(address);
  if (!region) return false;
  last_ = region;
  uint32_t offset = address - region->base;
  if (count > region->size - offset) return false;
  std::memcpy(destination, region->bytes + offset, count);
  return true;
}

bool ImageMemory::ModuleAt(uint32_t address, qx::TModuleInfo& module) {
  const Region* region = Find(address);
  if (!region || !region->isModule) return false;
  module = region->module;
  return true;
}

bool ImageMemory::QueryRegion(uint32_t address, qx::TMemoryRegion& region) {
  const Region* found = Find(address);
  if (!found) {
    region = {address & ~0xFFFu, 0x1000, 0, false};
    return true;
  }
  region = {found->base, found->size, found->base, true};
  return true;
}

std::string ImageMemory::ErrorText(uint32_t code) {
  return code == 87 ? "The parameter is incorrect." : "Error " + std::to_string(code) + ".";
}

}  // namespace qxtest
