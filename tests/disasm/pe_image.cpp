#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qxtest {
namespace {

template <class T>
bool At(const std::vector<uint8_t>& data, size_t offset, T& value) {
  if (offset > data.size() || data.size() - offset < sizeof(T)) return false;
  std::memcpy(&value, data.data() + offset, sizeof(T));
  return true;
}

}  // namespace

bool PeImage::Load(const std::string& path, std::string& error) {
  path_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint16_t mz = 0, machine = 0, sectionCount = 0, optionalSize = 0, magic = 0;
  uint32_t peOffset = 0, signature = 0, imageSize = 0, headerSize = 0;
  if (!At(file, 0, mz) || mz != 0x5A4D || !At(file, 0x3C, peOffset) ||
      !At(file, peOffset, signature) || signature != 0x4550) {
    error = path + ": no PE image";
    return false;
  }
  const size_t coff = peOffset + 4;
  const size_t optional = coff + 20;
  At(file, coff, machine);
  At(file, coff + 2, sectionCount);
  At(file, coff + 16, optionalSize);
  if (!At(file, optional, magic) || magic != 0x10B || machine != 0x14C) {
    error = path + ": not a 32-bit x86 image";
    return false;
  }
  At(file, optional + 28, base_);
  At(file, optional + 56, imageSize);
  At(file, optional + 60, headerSize);
  if (imageSize == 0 || imageSize > 0x4000000) {
    error = path + ": bad image size";
    return false;
  }
  image_.assign(imageSize, 0);
  std::memcpy(image_.data(), file.data(), std::min<size_t>({headerSize, file.size(), imageSize}));
  size_t table = optional + optionalSize;
  for (unsigned i = 0; i < sectionCount; ++i) {
    size_t entry = table + i * 40;
    char name[9] = {};
    uint32_t virtualSize = 0, rva = 0, rawSize = 0, rawOffset = 0, flags = 0;
    if (entry + 40 > file.size()) break;
    std::memcpy(name, file.data() + entry, 8);
    At(file, entry + 8, virtualSize);
    At(file, entry + 12, rva);
    At(file, entry + 16, rawSize);
    At(file, entry + 20, rawOffset);
    At(file, entry + 36, flags);
    if (rva >= imageSize) continue;
    uint32_t copy = std::min(rawSize, virtualSize ? virtualSize : rawSize);
    copy = std::min<uint32_t>(copy, imageSize - rva);
    if (rawOffset < file.size()) {
      copy = std::min<uint32_t>(copy, static_cast<uint32_t>(file.size() - rawOffset));
      std::memcpy(image_.data() + rva, file.data() + rawOffset, copy);
    }
    uint32_t size = std::min<uint32_t>(virtualSize ? virtualSize : rawSize, imageSize - rva);
    sections_.push_back({name, base_ + rva, size, (flags & 0x20) != 0});
  }
  uint32_t exportRva = 0;
  At(image_, optional + 96, exportRva);
  uint32_t functionCount = 0, nameCount = 0, functions = 0, names = 0, ordinals = 0;
  if (exportRva && At(image_, exportRva + 0x14, functionCount) &&
      At(image_, exportRva + 0x18, nameCount) && At(image_, exportRva + 0x1C, functions) &&
      At(image_, exportRva + 0x20, names) && At(image_, exportRva + 0x24, ordinals)) {
    std::vector<std::string> byIndex(functionCount);
    for (uint32_t i = 0; i < nameCount; ++i) {
      uint32_t nameRva = 0;
      uint16_t index = 0;
      if (!At(image_, names + i * 4, nameRva) || !At(image_, ordinals + i * 2, index)) break;
      if (index < functionCount && nameRva < image_.size()) {
        byIndex[index] = reinterpret_cast<const char*>(image_.data() + nameRva);
      }
    }
    for (uint32_t i = 0; i < functionCount; ++i) {
      uint32_t rva = 0;
      if (!At(image_, functions + i * 4, rva) || rva == 0 || rva >= image_.size()) continue;
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
