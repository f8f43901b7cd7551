#include "progress_areas.h"

namespace qx {

void ProgressAreas::Append(const std::string& text, uint64_t weight) {
  std::string areaText = text.empty() && !areas_.empty() ? areas_.back().text : text;
  areas_.push_back(ProgressArea{total_, weight, areaText});
  total_ += weight;
}

void ProgressAreas::Clear() {
  areas_.clear();
  current_ = 0;
  total_ = 0;
}

std::string ProgressAreas::CurrentText() const {
  return current_ >= 0 && current_ < Count() ? areas_[current_].text : std::string();
}

bool ProgressAreas::SetCurrent(int32_t index) {
  if (index == current_ || index < 0 || index > Count()) return false;
  if (index == Count()) {
    current_ = Count() - 1;
    position_ = 1000;
  } else {
    current_ = index;
    position_ = 0;
  }
  return true;
}

int32_t ProgressAreas::Overall() const {
  if (total_ == 0 || current_ < 0 || current_ >= Count()) return 0;
  const ProgressArea& area = areas_[current_];
  // A position outside 0..1000 is clamped rather than wrapped by the unsigned arithmetic.
  uint64_t position = position_ < 0 ? 0 : position_ > 1000 ? 1000 : position_;
  uint64_t overall = (area.weight * position / 1000 + area.start) * 1000 / total_;
  return static_cast<int32_t>(overall > 1000 ? 1000 : overall);
}

}  // namespace qx
