// Palette reduction of a 32-bit picture to at most 256 colours: a variance-minimising
// box cutter over the 33x33x33 cumulative colour moments, and the nearest-colour mapping
// with one cached answer per 5-bit colour cell.
#pragma once

#include <cstdint>
#include <vector>

#include "pixel_view.h"

namespace qx {

struct ColourPalette {
  uint8_t rgb[256][3] = {};  // red, green, blue; entries beyond `count` stay black
  int count = 0;             // boxes that hold pixels, each with its mean colour
};

// The palette of the picture. Boxes stop splitting early when the colours run out, so a
// picture of few colours gives few entries.
ColourPalette QuantiseColours(const PixelView& picture);

// Nearest palette entry by the sum of absolute channel differences, the first entry on a
// tie; the answer holds for the whole 5-bit cell of the colour asked first.
class PaletteMapper {
 public:
  explicit PaletteMapper(const ColourPalette& palette);
  uint8_t Index(uint8_t red, uint8_t green, uint8_t blue);

 private:
  const ColourPalette& palette_;
  std::vector<int16_t> cache_;  // 32768 cells, -1 = not asked yet
};

}  // namespace qx
