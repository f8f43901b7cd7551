// The reporter's 32 x 32 pictures: bitmap resources of 40 + 32 x 32 x 4 bytes (a bitmap
// header and blue, green, red, alpha pixels), drawn blended over the button-face colour.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qx {

// The picture resource's bytes when it has exactly the expected size, else null.
const uint8_t* Picture32Bytes(HMODULE module, const std::string& name);

// Draws the picture at (x, y); false when the module has no such picture.
bool DrawPicture32(HDC dc, int x, int y, HMODULE module, const std::string& name);

}  // namespace qx
