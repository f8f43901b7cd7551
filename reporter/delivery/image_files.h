// The file forms of a 32-bit picture: BMP, and PNG in the modes that `ScrShotDepth`
// selects (a 256-colour image, a 16-level grey image, or the smaller of both above a size
// limit).
#pragma once

#include <cstdint>
#include <string>

#include "pixel_view.h"

namespace qx {

// PNG modes: 0 colour only, 1 grey only, 2..5 colour, and grey when the colour image is
// longer than 51200, 102400, 204800 or 307200 bytes.
uint8_t PngModeForDepth(int32_t scrShotDepth);
// The colour image's size limit of a mode (0: none).
uint32_t PngModeLimit(uint8_t mode);

// The 16 grey levels of the grey image.
extern const uint8_t kGreyLevels[16];
// The level index nearest to a grey value, the lower level on a tie.
uint8_t GreyLevelIndex(uint8_t grey);
// Turns every pixel to grey, (77 red + 151 green + 28 blue) div 256, in all three channels.
void ConvertToGrey(const PixelView& picture);

// Each returns the whole file, or empty on failure.
std::string ColourPngBytes(const PixelView& picture);
std::string GreyPngBytes(const PixelView& picture);  // the picture turns grey first
// The mode's choice; turns the picture grey whenever the grey image is built.
std::string PngBytes(const PixelView& picture, uint8_t mode);
std::string BmpBytes(const PixelView& picture);

// A PNG file of palette indices: rows as given (each with its filter byte), palette as
// red, green, blue triples. Empty when compression fails.
std::string PaletteImagePng(int32_t width, int32_t height, uint8_t bitDepth,
                            const std::string& palette, const std::string& rows);

}  // namespace qx
