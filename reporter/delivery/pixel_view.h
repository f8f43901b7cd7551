// The pixel memory of a 32-bit device-independent bitmap as the delivery code sees it:
// width times height pixels of 4 bytes (blue, green, red, unused), the first row in memory
// being the bottom row of the picture. The bitmap object owns the memory; the converters
// only borrow it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx {

struct PixelView {
  int32_t width = 0;
  int32_t height = 0;
  uint8_t* bits = nullptr;

  bool Empty() const { return width <= 0 || height <= 0 || bits == nullptr; }
  size_t ByteSize() const {
    return Empty() ? 0 : static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  }
  // The row `y` counted from the top of the picture.
  uint8_t* TopRow(int32_t y) const {
    return bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) * 4;
  }
};

}  // namespace qx
