// The steps of a long piece of work and the overall progress through them. Weights and
// positions are whole numbers; the bar's scale runs from 0 to 1000.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct ProgressArea {
  uint64_t start;   // total weight of the areas before this one
  uint64_t weight;
  std::string text;
};

class ProgressAreas {
 public:
  // An empty text takes the text of the previous area, when there is one.
  void Append(const std::string& text, uint64_t weight);
  void Clear();

  int32_t Count() const { return static_cast<int32_t>(areas_.size()); }
  int32_t Current() const { return current_; }
  int32_t Position() const { return position_; }
  void SetPosition(int32_t position) { position_ = position; }
  uint64_t TotalWeight() const { return total_; }
  const std::vector<ProgressArea>& Areas() const { return areas_; }
  // The current area's text; empty when there are no areas.
  std::string CurrentText() const;

  // Makes `index` the current area with position 0; one past the last area makes the last
  // one current with position 1000. Returns false (and changes nothing) for the current
  // index, a negative one or one beyond that.
  bool SetCurrent(int32_t index);

  // ((weight of the current area * position / 1000) + its start) * 1000 / total weight,
  // with truncating 64-bit division; 0 without areas or with a total weight of 0.
  int32_t Overall() const;

 private:
  std::vector<ProgressArea> areas_;
  int32_t current_ = 0;
  uint64_t total_ = 0;
  int32_t position_ = 0;
};

}  // namespace qx
