#include "map_pe_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "map_stream.h"

namespace qx {

namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kMaxImageSize = 512u << 20;

// Finds the entry of a resource directory by name (case-insensitive, as Windows compares
// resource names) or by "#id"; returns its offset word or false.
bool FindEntry(std::string_view image, uint32_t rsrc, uint32_t dirAt, std::string_view key,
               uint32_t& target) {
  uint16_t named = 0, ids = 0;
  if (!GetU16(image, uint64_t(rsrc) + dirAt + 12, named) ||
      !GetU16(image, uint64_t(rsrc) + dirAt + 14, ids))
    return false;
  const bool byId = !key.empty() && key[0] == '#';
  const uint32_t id = byId ? static_cast<uint32_t>(std::strtoul(std::string(key.substr(1)).c_str(), nullptr, 10)) : 0;
  for (uint32_t i = 0; i < uint32_t(named) + ids; ++i) {
    uint64_t at = uint64_t(rsrc) + dirAt + 16 + 8ull * i;
    uint32_t nameWord = 0, offsetWord = 0;
    if (!GetU32(image, at, nameWord) || !GetU32(image, at + 4, offsetWord)) return false;
    bool match = false;
    if (nameWord & 0x80000000u) {
      if (byId) continue;
      uint64_t strAt = uint64_t(rsrc) + (nameWord & 0x7fffffffu);
      uint16_t length = 0;
      if (!GetU16(image, strAt, length) || length != key.size()) continue;
      match = true;
      for (uint32_t c = 0; c < length && match; ++c) {
        uint16_t ch = 0;
        if (!GetU16(image, strAt + 2 + 2ull * c, ch)) return false;
        match = std::toupper(ch < 128 ? ch : 0) == std::toupper(static_cast<unsigned char>(key[c]));
      }
    } else {
      match = byId && nameWord == id;
    }
    if (match) {
      target = offsetWord;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string LayOutImage(std::string_view file) {
  TImageFacts facts = ReadImageFacts(file);
  uint32_t peAt = 0, sizeOfImage = 0, sizeOfHeaders = 0;
  if (!facts.valid || !GetU32(file, 0x3C, peAt) || !GetU32(file, peAt + 24ull + 56, sizeOfImage) ||
      !GetU32(file, peAt + 24ull + 60, sizeOfHeaders) || sizeOfImage > kMaxImageSize)
    return {};
  std::string image(sizeOfImage, '\0');
  std::memcpy(image.data(), file.data(), std::min<size_t>({sizeOfHeaders, file.size(), image.size()}));
  for (size_t i = 0; i < facts.sectionRvas.size(); ++i) {
    uint32_t rva = facts.sectionRvas[i], rawAt = facts.sectionRawOffsets[i];
    if (rva >= image.size() || rawAt >= file.size()) continue;
    size_t n = std::min<size_t>({facts.sectionRawSizes[i], file.size() - rawAt, image.size() - rva});
    std::memcpy(image.data() + rva, file.data() + rawAt, n);
  }
  return image;
}

bool FindImageResource(std::string_view image, std::string_view type, std::string_view name,
                       std::string& out) {
  uint32_t peAt = 0, rsrc = 0, dirCount = 0;
  if (!GetU32(image, 0x3C, peAt) || !GetU32(image, peAt + 24ull + 92, dirCount) ||
      dirCount <= kResourceDirectoryIndex ||
      !GetU32(image, peAt + 24ull + 96 + 8 * kResourceDirectoryIndex, rsrc) || rsrc == 0)
    return false;
  uint32_t typeWord = 0, nameWord = 0, langDir = 0, langWord = 0;
  if (!FindEntry(image, rsrc, 0, type, typeWord) || !(typeWord & 0x80000000u)) return false;
  if (!FindEntry(image, rsrc, typeWord & 0x7fffffffu, name, nameWord) || !(nameWord & 0x80000000u))
    return false;
  langDir = nameWord & 0x7fffffffu;
  uint16_t named = 0, ids = 0;
  if (!GetU16(image, uint64_t(rsrc) + langDir + 12, named) ||
      !GetU16(image, uint64_t(rsrc) + langDir + 14, ids) || named + ids == 0 ||
      !GetU32(image, uint64_t(rsrc) + langDir + 16 + 4, langWord) || (langWord & 0x80000000u))
    return false;
  uint32_t dataRva = 0, size = 0;
  if (!GetU32(image, uint64_t(rsrc) + langWord, dataRva) ||
      !GetU32(image, uint64_t(rsrc) + langWord + 4, size) || dataRva > image.size() ||
      image.size() - dataRva < size)
    return false;
  out.assign(image.substr(dataRva, size));
  return true;
}

bool TFileMapEnvironment::ReadResource(bool rcData, const char* type, const char* name,
                                       std::string& out) {
  return FindImageResource(image_, rcData ? "#10" : type, name, out);
}

bool ReadFileBytes(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0);
  std::string data(static_cast<size_t>(size), '\0');
  if (size > 0 && !in.read(data.data(), size)) return false;
  out = std::move(data);
  return true;
}

bool TFileMapEnvironment::ReadWholeFile(const std::string& path, std::string& out) {
  return ReadFileBytes(path, out);
}

bool TFileMapEnvironment::FileLastWriteDay(const std::string& path, int64_t& day) {
  std::error_code ec;
  auto time = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  day = std::chrono::duration_cast<std::chrono::hours>(time.time_since_epoch()).count() / 24;
  return true;
}

}  // namespace qx
