// Process-wide cache of module maps, keyed by module file name and the file's date/time
// stamp so that a module replaced on disk gets a fresh map.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map_file.h"

namespace qx {

using TMapFileRef = std::shared_ptr<const TMapFile>;

class TMapCache {
 public:
  // The map cached for fileName (case-insensitive) when its stamp equals currentStamp. A
  // stale entry is freed and its place taken by the last entry; the lookup then fails.
  TMapFileRef Find(const std::string& fileName, uint32_t currentStamp);
  void Add(uint32_t stamp, TMapFileRef map);
  void Clear();
  size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    uint32_t stamp;
    TMapFileRef map;
  };
  std::vector<Entry> entries_;
};

}  // namespace qx
