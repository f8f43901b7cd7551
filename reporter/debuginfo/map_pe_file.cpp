#include "map_pe_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "map_stream.h"
#include "pe_image.h"

namespace qx {

namespace {

constexpr uint32_t kMaxImageSize = 512u << 20;

}  // namespace

std::string LayOutImage(std::string_view file) {
  SpanReader reader(file);
  PeImage view(reader, 0, PeLayout::kFile);
  if (!view.Open() || !ReadImageFacts(file).valid || view.SizeOfImage() > kMaxImageSize) return {};
  std::string image(view.SizeOfImage(), '\0');
  std::memcpy(image.data(), file.data(),
              std::min<size_t>({view.SizeOfHeaders(), file.size(), image.size()}));
  PeSection section;
  for (uint32_t i = 0; view.Section(i, section); ++i) {
    const uint32_t rva = section.virtualAddress, rawAt = section.rawPointer;
    if (rva >= image.size() || rawAt >= file.size()) continue;
    size_t n = std::min<size_t>({section.rawSize, file.size() - rawAt, image.size() - rva});
    std::memcpy(image.data() + rva, file.data() + rawAt, n);
  }
  return image;
}

bool FindImageResource(std::string_view image, std::string_view type, std::string_view name,
                       std::string& out) {
  SpanReader reader(image);
  PeImage view(reader, 0, PeLayout::kLoaded);
  PeResource resource;
  if (!view.Open() || !view.FindResource(type, name, resource) ||
      resource.dataRva > image.size() || image.size() - resource.dataRva < resource.size)
    return false;
  out.assign(image.substr(resource.dataRva, resource.size));
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
