// A module file read from disk and laid out as the loader would map it, with its
// resources, so that maps can be built from a file without loading it (developer command,
// tests on any platform).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "map_sources.h"

namespace qx {

// Copies the headers and each section's raw data to its RVA. Empty when not a PE32 image.
std::string LayOutImage(std::string_view file);

// Resource data by type and name in a laid-out image; a name or type written "#10" is an
// integer id. False when absent or out of bounds.
bool FindImageResource(std::string_view image, std::string_view type, std::string_view name,
                       std::string& out);

// Environment of a module file on disk: resources from the laid-out image, side files
// from the file system.
class TFileMapEnvironment : public IMapEnvironment {
 public:
  explicit TFileMapEnvironment(std::string_view image) : image_(image) {}
  bool ReadResource(bool rcData, const char* type, const char* name, std::string& out) override;
  bool ReadWholeFile(const std::string& path, std::string& out) override;
  bool FileLastWriteDay(const std::string& path, int64_t& day) override;

 private:
  std::string_view image_;
};

bool ReadFileBytes(const std::string& path, std::string& out);

}  // namespace qx
