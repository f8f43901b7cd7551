#include "map_cache.h"

namespace qx {

TMapFileRef TMapCache::Find(const std::string& fileName, uint32_t currentStamp) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!SameText(entries_[i].map->moduleFileName, fileName)) continue;
    if (entries_[i].stamp == currentStamp) return entries_[i].map;
    entries_[i] = std::move(entries_.back());
    entries_.pop_back();
    return nullptr;
  }
  return nullptr;
}

void TMapCache::Add(uint32_t stamp, TMapFileRef map) {
  if (map) entries_.push_back({stamp, std::move(map)});
}

void TMapCache::Clear() { entries_.clear(); }

}  // namespace qx
